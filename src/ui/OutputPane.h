#pragma once

#include <QPlainTextEdit>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class QTextDocument;

// A page's multi-line text pane. Text arrives as the engines write it, 8-bit
// with CR LF line ends; the pane shows CR LF (and CR CR LF) as one line break
// and decodes the bytes as UTF-8 where they are valid, one character a byte
// otherwise. The bytes appended since the last Clear() are kept as written,
// so callers and tests can read exactly what the page produced.
class OutputPane : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit OutputPane(QWidget* parent = nullptr);

    // Adds text at the very end, whatever the selection or caret, and scrolls
    // it into view. Nothing is added or trimmed. Beyond the text limit, what
    // does not fit is not inserted, and TextLimitReached is sent, once.
    void Append(std::string_view bytes);
    // Empties the pane and repaints it at once.
    void Clear();
    // A text made ready for ReplaceText on any thread, so that the
    // user-interface thread does the least: where it differs little from the
    // text the pane shows, the lines that changed; otherwise the whole
    // document that shows it. Building the blocks of a long table is the
    // costly part, and a refreshed table mostly keeps its rows.
    struct PreparedText {
        PreparedText();
        PreparedText(PreparedText&&) noexcept;
        PreparedText& operator=(PreparedText&&) noexcept;
        ~PreparedText();

        struct LineEdit {
            qsizetype line = 0;     // the first line replaced, as shown now
            qsizetype removed = 0;  // how many lines go
            QString text;           // what comes in their place, line breaks included
        };
        std::string bytes;
        QString display;                          // DisplayText(bytes)
        std::unique_ptr<QTextDocument> document;  // belongs to no thread until it is shown
        std::vector<LineEdit> edits;              // when there is no document
        quint64 over = 0;                         // the version of the text the edits apply to
    };
    // What the pane shows, copied for a text to be prepared over it.
    struct ShownText {
        std::string bytes;
        quint64 version = 0;
    };
    ShownText Shown() const { return {raw_, isReadOnly() ? version_ : 0}; }
    static PreparedText PrepareText(std::string bytes, const ShownText* shown = nullptr);

    // Puts bytes in place of the whole text in one step, so the pane never
    // shows empty in between. The caret goes back to its line by the line's
    // text, never by its offset, as lines above it may come and go: to the
    // first line that begins with the same keyChars characters as the line
    // where the selection started (the whole line when keyChars is negative),
    // at the same column as far as the line reaches; without such a line, to
    // the end of the text. The scroll position stays.
    void ReplaceText(std::string_view bytes, qsizetype keyChars = -1);
    void ReplaceText(PreparedText text, qsizetype keyChars = -1);

    const std::string& RawText() const { return raw_; }
    // The shell command that reproduces the pane's text, as the page that
    // made the text sets it when its task starts; empty where there is none.
    void SetCommandLine(std::string line) { commandLine_ = std::move(line); }
    const std::string& CommandLine() const { return commandLine_; }
    // The limit in bytes of appended text; 0 means none.
    void SetTextLimit(size_t limit) { limit_ = limit; }
    size_t TextLimit() const { return limit_; }

    // The displayed form of engine text (exposed for the pages that set text directly).
    static QString DisplayText(std::string_view bytes);

signals:
    // An append reached the text limit. Queued, never sent from inside the
    // append, so a task's write never waits on what the page does about it;
    // sent again only after the text was cleared or replaced.
    void TextLimitReached();

protected:
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;  // the pane's menu, in PaneMenu.cpp

private:
    void SetTabStops();

    std::string_view Fit(std::string_view bytes);

    void ShowEdits(const PreparedText& text);

    std::string raw_;
    quint64 version_ = 1;  // counts the changes of the text; 0 is never shown
    std::string commandLine_;
    size_t limit_ = 0;
    bool limitReported_ = false;
};

// The pane's fixed-pitch copy of the page font: "Courier New" where it exists,
// otherwise the system's fixed-pitch face. pixelHeight 0 keeps the font's size.
QFont OutputFont(const QFont& base, int pixelHeight = 0);
