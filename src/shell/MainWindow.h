#pragma once

#include <QWidget>
#include <array>

#include "shell/Pages.h"
#include "templates/ControlIds.h"
#include "ui/PaneMenu.h"

class QAbstractButton;
class ToolPage;

// The index of the page that is shown; process-wide, as the page buttons' state.
extern int CurrentPageIndex;

// The top-level window: the column of page buttons and the twelve pages, of
// which one is visible at a time. Enter and Escape on its own controls, or
// closing it, end the program; before it closes, every page's task is
// abandoned and waited for. It routes a pane's "Open In" to the page named.
class MainWindow : public QWidget, public OpenInRouter {
    Q_OBJECT
public:
    // With showSplash, the splash is up while the pages are created and for
    // one second after.
    explicit MainWindow(bool showSplash = true);
    ~MainWindow() override;  // pages go in the reverse order of their creation

    ToolPage* Page(int index) const { return pages_[size_t(index)]; }
    QAbstractButton* PageButton(int id) const;

    // Shows the page of the first checked page button; the hidden button, or
    // none checked, keeps the current page.
    void OnPageButton();

    std::vector<Entry> OpenInPages() const override;
    void ShowPage(ToolPage* page) override;

    static constexpr int kFirstButton = MainControls::kNetStatButton;
    static constexpr int kLastButton = MainControls::kHiddenButton;  // the hidden "W_TEXT"

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::array<ToolPage*, kPageCount> pages_{};
    QHash<int, QWidget*> items_;
};
