#include "shell/MainWindow.h"

#include <QAbstractButton>
#include <QAccessibleWidget>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>

#include "shell/Splash.h"
#include "templates/ControlIds.h"
#include "ui/DialogBuilder.h"
#include "ui/ToolPage.h"

int CurrentPageIndex = 0;

namespace {

constexpr int kSplashBitmap = 148;
// The pages a pane's "Open In" offers, by index, in the menu's order: Ping,
// Traceroute, Whois, Dns Query, TCP Socket.
constexpr int kOpenInPages[] = {3, 4, 1, 2, 6};
// Pages sit right of the 58-unit button column, with two units between.
constexpr int kPageOffsetUnits = 60;

// A plain QWidget reaches screen readers as a filler, which announces nothing:
// the main window is a frame named by its caption, as every top-level window is.
QAccessibleInterface* MainWindowAccessible(const QString& key, QObject* object)
{
    if (key == QLatin1String("MainWindow") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    return nullptr;
}

}  // namespace

MainWindow::MainWindow(bool showSplash) : QWidget(nullptr, Qt::Window | Qt::MSWindowsFixedSizeDialogHint)
{
    const DialogTemplate& dlg = LoadDialogTemplate(MainControls::kTemplate);
    setWindowTitle(QString::fromStdString(dlg.title));
    setWindowIcon(QIcon(QStringLiteral(":/images/icon-128.png")));
    static const bool accessibleInstalled = (QAccessible::installFactory(MainWindowAccessible), true);
    Q_UNUSED(accessibleInstalled);
    BuiltDialog built = BuildDialog(dlg, this);
    items_ = built.items;

    if (showSplash)
        ShowSplash(kSplashBitmap, true);

    const DialogUnits units = DialogBaseUnits(font());
    const QPoint origin = DialogToPixels(units, kPageOffsetUnits, 0, 0, 0).topLeft();
    QSize size = built.size;
    for (int i = 0; i < kPageCount; ++i) {
        ToolPage* page = CreatePage(i, this);
        page->move(origin);
        page->raise();
        page->setVisible(i == 0);
        pages_[size_t(i)] = page;
        size = size.expandedTo(QSize(origin.x() + page->width(), page->height()));
    }
    setFixedSize(size);

    for (int id = kFirstButton; id <= kLastButton; ++id)
        connect(PageButton(id), &QAbstractButton::toggled, this, [this](bool on) {
            if (on)  // a click or an assistive Toggle alike
                OnPageButton();
        });
    PageButton(kFirstButton)->setChecked(true);
    CurrentPageIndex = 0;

    if (showSplash) {
        // One more second of splash; events keep flowing so the picture paints.
        QEventLoop wait;
        QTimer::singleShot(1000, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
        CloseSplash();
    }
}

MainWindow::~MainWindow()
{
    for (int i = kPageCount - 1; i >= 0; --i)
        delete pages_[size_t(i)];
}

QAbstractButton* MainWindow::PageButton(int id) const
{
    return qobject_cast<QAbstractButton*>(items_.value(id));
}

void MainWindow::OnPageButton()
{
    int n = kFirstButton;
    while (n <= kLastButton && !PageButton(n)->isChecked())
        ++n;
    int i = n - kFirstButton;
    if (i == CurrentPageIndex)
        return;
    for (ToolPage* page : pages_)
        page->hide();
    if (i >= kPageCount)
        i = CurrentPageIndex;
    pages_[size_t(i)]->show();
    CurrentPageIndex = i;
}

std::vector<OpenInRouter::Entry> MainWindow::OpenInPages() const
{
    std::vector<Entry> entries;
    for (int index : kOpenInPages)
        entries.push_back({PageButton(kFirstButton + index)->text(), pages_[size_t(index)]});
    return entries;
}

void MainWindow::ShowPage(ToolPage* page)
{
    const auto found = std::find(pages_.begin(), pages_.end(), page);
    if (found == pages_.end())
        return;
    // As a click: the button takes the focus, so a screen reader names the page it checks.
    QAbstractButton* button = PageButton(kFirstButton + int(found - pages_.begin()));
    button->setFocus(Qt::OtherFocusReason);
    button->click();
}

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        close();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    // Stop everything first, then wait: a task never waits for this thread,
    // and being abandoned wakes its own waits, so no wait below can deadlock.
    const auto pages = findChildren<ToolPage*>();
    for (ToolPage* page : pages)
        page->AbandonTasks();
    // A message box a task's event opened is still open, and this close runs
    // inside its loop: that task is joined only once the box is answered, so
    // the close comes back until then.
    if (std::any_of(pages.begin(), pages.end(), [](const ToolPage* page) { return page->TasksInUiCall(); })) {
        event->ignore();
        QTimer::singleShot(100, this, &QWidget::close);
        return;
    }
    for (ToolPage* page : pages)
        page->JoinTasks();
    event->accept();
}
