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
#include "net/LineDiff.h"

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

namespace {

// The displayed form of engine text. CR CR LF and CR LF are one break and a
// lone CR is none (the text control drew nothing for it): every CR goes,
// wherever appends split the text. A CR byte is never part of a UTF-8
// sequence, so it can go before decoding.
QString DecodeForDisplay(std::string_view bytes, bool* utf8 = nullptr)
{
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes)
        if (c != '\r')
            text.push_back(c);
    const bool valid = IsValidUtf8(text);
    if (utf8)
        *utf8 = valid;
    return valid ? QString::fromUtf8(text.data(), qsizetype(text.size()))
                 : QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// Where each line of a displayed text begins, and past its end.
std::vector<qsizetype> DisplayLineStarts(const QString& text)
{
    std::vector<qsizetype> starts{0};
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1))
        starts.push_back(at + 1);
    if (starts.back() != text.size())
        starts.push_back(text.size());
    return starts;
}

std::unique_ptr<QTextDocument> DocumentFor(const QString& text)
{
    // No layout yet: the blocks are laid out only once the pane shows them.
    auto document = std::make_unique<QTextDocument>();
    document->setUndoRedoEnabled(false);
    QTextCursor cursor(document.get());
    cursor.beginEditBlock();  // one change for the whole text, not one a line
    cursor.insertText(text);
    cursor.endEditBlock();
    return document;
}

// The first line of text that begins with key, and is key exactly when whole;
// -1 without one.
qsizetype FindLineStart(const QString& text, const QString& key, bool whole)
{
    const QString lineKey = QChar(u'\n') + key;
    for (qsizetype at = 0; at <= text.size();) {
        if (QStringView(text).mid(at).startsWith(key)) {
            const qsizetype end = text.indexOf(u'\n', at);
            if (!whole || (end < 0 ? text.size() : end) - at == key.size())
                return at;
        }
        const qsizetype next = text.indexOf(lineKey, at);
        if (next < 0)
            return -1;
        at = next + 1;
    }
    return -1;
}

}  // namespace

QString OutputPane::DisplayText(std::string_view bytes)
{
    return DecodeForDisplay(bytes);
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
    ++version_;
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
    ++version_;
    limitReported_ = false;
    clear();
    viewport()->repaint();
}

OutputPane::PreparedText::PreparedText() = default;
OutputPane::PreparedText::PreparedText(PreparedText&&) noexcept = default;
OutputPane::PreparedText& OutputPane::PreparedText::operator=(PreparedText&&) noexcept = default;
OutputPane::PreparedText::~PreparedText() = default;

OutputPane::PreparedText OutputPane::PrepareText(std::string bytes, const ShownText* shown)
{
    PreparedText text;
    bool utf8 = false, shownUtf8 = false;
    text.display = DecodeForDisplay(bytes, &utf8);
    if (shown && shown->version)
        DecodeForDisplay(shown->bytes, &shownUtf8);
    // Lines the two texts share show the same only when both decode alike.
    if (shown && shown->version && shownUtf8 == utf8) {
        const std::vector<LineChange> changes = DiffLines(shown->bytes, bytes);
        const std::vector<qsizetype> starts = DisplayLineStarts(text.display);
        size_t changed = 0;
        for (const LineChange& c : changes)
            changed += c.removed + c.added;
        // Inserting a line costs the pane's thread several times what taking
        // over a whole document costs it a line.
        if (changed * 8 <= starts.size()) {
            for (const LineChange& c : changes) {
                const qsizetype from = starts[c.after];
                text.edits.push_back({qsizetype(c.before), qsizetype(c.removed),
                                      text.display.mid(from, starts[c.after + c.added] - from)});
            }
            text.over = shown->version;
            text.bytes = std::move(bytes);
            return text;
        }
    }
    text.document = DocumentFor(text.display);
    // Without a thread the document can be taken over by the pane's, or
    // deleted by whichever thread drops it.
    text.document->moveToThread(nullptr);
    text.bytes = std::move(bytes);
    return text;
}

void OutputPane::ReplaceText(std::string_view bytes, qsizetype keyChars)
{
    const ShownText shown = Shown();
    ReplaceText(PrepareText(std::string(bytes), &shown), keyChars);
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
    else if (!text.document && text.over != version_)  // the pane changed since
        text.document = DocumentFor(text.display);
    raw_ = std::move(text.bytes);
    ++version_;

    if (text.document) {
        // The new document takes the old one's font, tab stops and margins
        // before it has a layout, so that it is laid out once, by setDocument.
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
            QAccessibleTextUpdateEvent event(this, 0, QString(), text.display);
            QAccessible::updateAccessibility(&event);
        }
    } else {
        ShowEdits(text);  // the text control tells screen readers of each change
    }

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    const qsizetype at = FindLineStart(text.display, key, keyChars < 0 || key.size() < keyChars);
    if (at >= 0) {
        const qsizetype end = text.display.indexOf(u'\n', at);
        cursor.setPosition(int(at + std::min<qsizetype>(offset, (end < 0 ? text.display.size() : end) - at)));
    }
    setTextCursor(cursor);
    verticalScrollBar()->setValue(scroll);
    horizontalScrollBar()->setValue(column);
}

void OutputPane::ShowEdits(const PreparedText& text)
{
    QTextDocument* doc = document();
    const auto lineStart = [doc](qsizetype line) {
        const QTextBlock block = doc->findBlockByNumber(int(line));
        return block.isValid() ? block.position() : doc->characterCount() - 1;
    };
    QTextCursor cursor(doc);
    cursor.beginEditBlock();
    // From the last change back, so the lines above each change are still
    // numbered as when the edits were made.
    for (auto e = text.edits.rbegin(); e != text.edits.rend(); ++e) {
        cursor.setPosition(lineStart(e->line));
        cursor.setPosition(lineStart(e->line + e->removed), QTextCursor::KeepAnchor);
        cursor.insertText(e->text);
    }
    cursor.endEditBlock();
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
