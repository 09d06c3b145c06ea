#include "ui/PaneMenu.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QSaveFile>
#include <QTextBlock>
#include <algorithm>
#include <optional>
#include <string>

#include "net/TargetText.h"
#include "ui/MessageBox.h"
#include "ui/OutputPane.h"
#include "ui/ToolPage.h"

namespace {

SaveFileChooser& SaveChooser()
{
    static SaveFileChooser chooser;
    return chooser;
}

// Text as the target finder reads it: one character a position, so columns
// stay; what is not ASCII can be no part of a host and reads as a space.
std::string AsciiColumns(const QString& text)
{
    std::string out(size_t(text.size()), ' ');
    for (qsizetype i = 0; i < text.size(); ++i)
        if (const char16_t c = text[i].unicode(); c < 0x80)
            out[size_t(i)] = char(c);
    return out;
}

// The one place that reads the pane's text model: the line under a point of
// the viewport (or the caret's line) with the column of the character there,
// and the selection.
struct PaneSpot {
    QString line;
    qsizetype column = 0;
    QString selection;
};

PaneSpot SpotInPane(const OutputPane* pane, const QPoint* at)
{
    const QTextCursor cursor = at ? pane->cursorForPosition(*at) : pane->textCursor();
    PaneSpot spot{cursor.block().text(), cursor.positionInBlock(), pane->textCursor().selectedText()};
    // The caret goes to the nearer edge of a character: left of it, the
    // pointer is on the character before.
    if (at && spot.column > 0 && pane->cursorRect(cursor).left() > at->x())
        --spot.column;
    return spot;
}

std::optional<HostTarget> TargetInPane(const OutputPane* pane, const QPoint* at)
{
    const PaneSpot spot = SpotInPane(pane, at);
    if (!spot.selection.isEmpty())
        return HostTargetOfSelection(AsciiColumns(spot.selection));
    const std::string line = AsciiColumns(spot.line);
    std::optional<HostTarget> target = HostTargetAt(line, size_t(spot.column));
    // A caret stands between characters: just after a word counts too.
    if (!target && !at && spot.column > 0)
        target = HostTargetAt(line, size_t(spot.column - 1));
    return target;
}

OpenInRouter* RouterAbove(QWidget* widget)
{
    for (; widget; widget = widget->parentWidget())
        if (auto* router = dynamic_cast<OpenInRouter*>(widget))
            return router;
    return nullptr;
}

QString AskSaveFile(QWidget* parent)
{
    QFileDialog dialog(parent, QStringLiteral("Save As"));
    dialog.setAccessibleName(QStringLiteral("Save As"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(QStringLiteral("Text Files (*.txt)"));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

void SavePaneAs(OutputPane* pane)
{
    const QString fileName = SaveChooser() ? SaveChooser()(pane) : AskSaveFile(pane);
    if (!fileName.isEmpty())
        SavePaneText(pane, fileName);
}

}  // namespace

void OutputPane::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Keyboard) {
        ShowPaneMenu(this, nullptr);
    } else {
        const QPoint at = event->pos();
        ShowPaneMenu(this, &at);
    }
    event->accept();
}

void ShowPaneMenu(OutputPane* pane, const QPoint* at)
{
    QMenu* menu = pane->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(pane->accessibleName() + QStringLiteral(" menu"));
    menu->addSeparator();

    const std::optional<HostTarget> target = TargetInPane(pane, at);
    QMenu* openIn = menu->addMenu(QStringLiteral("Open In"));
    openIn->setAccessibleName(QStringLiteral("Open In"));
    if (OpenInRouter* router = RouterAbove(pane)) {
        for (const OpenInRouter::Entry& entry : router->OpenInPages()) {
            QAction* action = openIn->addAction(entry.caption);
            action->setEnabled(target && !entry.page->Busy());
            if (!action->isEnabled())
                continue;
            QObject::connect(action, &QAction::triggered, pane, [router, page = entry.page, host = *target] {
                if (page->Busy())  // it started a task of its own while the menu was open
                    return;
                router->ShowPage(page);
                page->OpenTarget(host);
            });
        }
    }
    QAction* save = menu->addAction(QStringLiteral("Save As..."));
    QObject::connect(save, &QAction::triggered, pane, [pane] { SavePaneAs(pane); });

    const QPoint local = at ? *at : pane->cursorRect().bottomLeft();
    menu->popup(pane->viewport()->mapToGlobal(local));
}

bool IsMenuKey(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    return (event.key() == Qt::Key_Menu && mods == Qt::NoModifier) ||
           (event.key() == Qt::Key_F10 && mods == Qt::ShiftModifier);
}

void SetSaveFileChooser(SaveFileChooser chooser)
{
    SaveChooser() = std::move(chooser);
}

bool SavePaneText(OutputPane* pane, const QString& fileName)
{
    std::string head;
    if (!pane->CommandLine().empty()) {
        head = "# " + pane->CommandLine() + "\r\n";
        // One line, whatever a box held: a line break there would end the comment.
        std::replace_if(head.begin() + 2, head.end() - 2, [](char c) { return c == '\r' || c == '\n'; }, '?');
    }
    // A pane the user types into holds what was typed, which the page never wrote.
    const std::string body = pane->isReadOnly()
                                 ? pane->RawText()
                                 : pane->toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n")).toStdString();
    // Written beside the file and renamed over it once complete: a failure
    // leaves no part of a file behind, and an existing one unchanged.
    QSaveFile file(fileName);
    const bool saved = file.open(QIODevice::WriteOnly) &&
                       file.write(head.data(), qint64(head.size())) == qint64(head.size()) &&
                       file.write(body.data(), qint64(body.size())) == qint64(body.size()) && file.commit();
    if (!saved)
        ShowMessage(pane, QStringLiteral("Unable To Save File!\n") + QDir::toNativeSeparators(fileName),
                    MessageKind::Failure, file.errorString());
    return saved;
}
