#include "app/OutputPane.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QScrollBar>
#include <QTextCursor>

#include "platform/ByteText.h"

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

void OutputPane::ReplaceText(std::string_view bytes)
{
    const int caret = textCursor().position();
    const int scroll = verticalScrollBar()->value();
    const int column = horizontalScrollBar()->value();
    raw_.clear();
    limitReported_ = false;
    raw_.assign(Fit(bytes));
    setPlainText(DisplayText(raw_));
    QTextCursor cursor(document());
    cursor.setPosition(std::min(caret, document()->characterCount() - 1));
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
