#pragma once

#include <QString>
#include <functional>
#include <vector>

class OutputPane;
class QKeyEvent;
class QPoint;
class QWidget;
class ToolPage;

// The window that holds the pages: which pages a pane's "Open In" offers, in
// the menu's order and with their captions, and how one is brought up.
class OpenInRouter {
public:
    struct Entry {
        QString caption;
        ToolPage* page;
    };
    virtual std::vector<Entry> OpenInPages() const = 0;
    // Shows page as a click on its page button does.
    virtual void ShowPage(ToolPage* page) = 0;

protected:
    ~OpenInRouter() = default;
};

// Pops up the pane's context menu at a point of its viewport, or at the caret
// without one: the pane's standard entries, "Open In" with the router's pages
// (the window above the pane that is one), and "Save As...". The entries of
// "Open In" are enabled when the text under the point, or the selection, names
// a host and the page is not busy.
void ShowPaneMenu(OutputPane* pane, const QPoint* at);

// The keys that open a context menu from the keyboard: the menu key, Shift+F10.
bool IsMenuKey(const QKeyEvent& event);

// Asks where "Save As..." writes; empty when the user cancels. Tests set their
// own; a null chooser restores the save dialog.
using SaveFileChooser = std::function<QString(QWidget* parent)>;
void SetSaveFileChooser(SaveFileChooser chooser);

// Writes "# " and the pane's command line and CR LF when it has one, then the
// pane's text as the page wrote it (what the user sees, on a pane the user
// edits). Nothing is replaced unless all of it was written; a failure shows a
// message naming the file and the reason, and gives false.
bool SavePaneText(OutputPane* pane, const QString& fileName);
