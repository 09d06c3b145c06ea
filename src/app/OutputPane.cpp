#include "app/OutputPane.h"

#include <QEvent>
#include <QFontMetricsF>
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
    QString text = IsValidUtf8(bytes) ? QString::fromUtf8(bytes.data(), qsizetype(bytes.size()))
                                      : QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    // CR CR LF and CR LF are one break; a lone CR is none (the text control drew nothing for it).
    text.replace(QLatin1String("\r\r\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.remove(QLatin1Char('\r'));
    return text;
}

void OutputPane::Append(std::string_view bytes)
{
    if (limit_ && raw_.size() + bytes.size() > limit_)
        bytes = bytes.substr(0, raw_.size() < limit_ ? limit_ - raw_.size() : 0);
    if (bytes.empty())
        return;
    raw_.append(bytes);

    // A CR held back from the last append belongs in front of this text.
    std::string_view text = bytes;
    std::string joined;
    if (pendingCr_) {
        joined.reserve(bytes.size() + 1);
        joined = '\r';
        joined.append(bytes);
        text = joined;
    }
    pendingCr_ = false;
    while (!text.empty() && text.back() == '\r') {
        pendingCr_ = true;
        text.remove_suffix(1);
    }
    // The held CRs show as a break if LF follows; a run of them then counts once.
    if (text.empty())
        return;

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(DisplayText(text));
    setTextCursor(cursor);  // drops the user's selection, caret at the end
    ensureCursorVisible();
}

void OutputPane::Clear()
{
    raw_.clear();
    pendingCr_ = false;
    clear();
    viewport()->repaint();
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
