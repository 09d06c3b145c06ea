#include "ui/OutputPane.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetricsF>
#include <QPlainTextDocumentLayout>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "net/ByteText.h"

OutputPane::OutputPane(QWidget* parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setUndoRedoEnabled(false);
    SetTabStops();
}

void OutputPane::changeEvent(QEvent* event)
{
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        SetTabStops();
}

void OutputPane::SetTabStops()
{
    // Tab stops every eight characters, as the engines' column layouts expect.
    setTabStopDistance(8 * QFontMetricsF(font()).horizontalAdvance(QLatin1Char(' ')));
}

QString OutputPane::DisplayText(std::string_view bytes)
{
    // CR CR LF and CR LF are one break and a lone CR is none (the text control
    // drew nothing for it): every CR goes, wherever appends split the text. A
    // CR byte is never part of a UTF-8 sequence, so it can go before decoding.
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes)
        if (c != '\r')
            text.push_back(c);
    return IsValidUtf8(text) ? QString::fromUtf8(text.data(), qsizetype(text.size()))
                             : QString::fromLatin1(text.data(), qsizetype(text.size()));
}

std::string_view OutputPane::Fit(std::string_view bytes)
{
    if (!limit_ || raw_.size() + bytes.size() < limit_)
        return bytes;
    bytes = bytes.substr(0, raw_.size() < limit_ ? limit_ - raw_.size() : 0);
    if (!limitReported_) {
        limitReported_ = true;
        QMetaObject::invokeMethod(this, &OutputPane::TextLimitReached, Qt::QueuedConnection);
    }
    return bytes;
}

void OutputPane::Append(std::string_view bytes)
{
    bytes = Fit(bytes);
    if (bytes.empty())
        return;
    const bool wasEmpty = document()->isEmpty();  // the user may have typed into an editable pane
    raw_.append(bytes);
    const QString text = DisplayText(bytes);
    if (text.isEmpty())
        return;
    if (wasEmpty) {
        // One big first append (a whole table) is laid out in one go.
        setPlainText(text);
        moveCursor(QTextCursor::End);
    } else {
        QTextCursor cursor(document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        setTextCursor(cursor);  // drops the user's selection, caret at the end
    }
    ensureCursorVisible();
}

void OutputPane::Clear()
{
    raw_.clear();
    limitReported_ = false;
    clear();
    viewport()->repaint();
}

OutputPane::PreparedText::PreparedText() = default;
OutputPane::PreparedText::PreparedText(PreparedText&&) noexcept = default;
OutputPane::PreparedText& OutputPane::PreparedText::operator=(PreparedText&&) noexcept = default;
OutputPane::PreparedText::~PreparedText() = default;

OutputPane::PreparedText OutputPane::PrepareText(std::string bytes)
{
    // No layout yet: the blocks are laid out only once the pane shows them.
    PreparedText text;
    text.document = std::make_unique<QTextDocument>();
    text.document->setUndoRedoEnabled(false);
    QTextCursor(text.document.get()).insertText(DisplayText(bytes));
    // Without a thread the document can be taken over by the pane's, or
    // deleted by whichever thread drops it.
    text.document->moveToThread(nullptr);
    text.bytes = std::move(bytes);
    return text;
}

void OutputPane::ReplaceText(std::string_view bytes, qsizetype keyChars)
{
    ReplaceText(PrepareText(std::string(bytes)), keyChars);
}

void OutputPane::ReplaceText(PreparedText text, qsizetype keyChars)
{
    const int start = textCursor().selectionStart();
    const QTextBlock line = document()->findBlock(start);
    const QString key = line.text().left(keyChars);
    const int offset = start - line.position();
    const int scroll = verticalScrollBar()->value();
    const int column = horizontalScrollBar()->value();
    raw_.clear();
    limitReported_ = false;
    if (Fit(text.bytes).size() < text.bytes.size())
        text = PrepareText(std::string(Fit(text.bytes)));
    raw_ = std::move(text.bytes);

    // The new document takes the old one's font, tab stops and margins before
    // it has a layout, so that it is laid out once, by setDocument.
    QTextDocument* shown = text.document.release();
    shown->moveToThread(thread());
    QTextDocument* old = document();
    shown->setDefaultFont(old->defaultFont());
    shown->setDefaultTextOption(old->defaultTextOption());
    shown->setDocumentMargin(old->documentMargin());
    shown->setDocumentLayout(new QPlainTextDocumentLayout(shown));
    shown->setParent(this);
    // The text control deletes the document it made itself; the pane, those it set.
    std::unique_ptr<QTextDocument> replaced(old->parent() == this ? old : nullptr);
    setDocument(shown);
    if (QAccessible::isActive()) {
        QAccessibleTextUpdateEvent event(this, 0, QString(), shown->toPlainText());
        QAccessible::updateAccessibility(&event);
    }

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        if (QStringView(b.text()).left(keyChars) == key) {
            cursor.setPosition(b.position() + std::min(offset, b.length() - 1));
            break;
        }
    }
    setTextCursor(cursor);
    verticalScrollBar()->setValue(scroll);
    horizontalScrollBar()->setValue(column);
}

QFont OutputFont(const QFont& base, int pixelHeight)
{
    QFont font = base;
    font.setFamily(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (pixelHeight > 0)
        font.setPixelSize(pixelHeight);
    return font;
}
