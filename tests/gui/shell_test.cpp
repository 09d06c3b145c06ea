// The shell: templates, dialog units, the main window's page switching and
// the conventions every page shares.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "app/DialogBuilder.h"
#include "app/MainWindow.h"
#include "app/OutputPane.h"
#include "app/Splash.h"
#include "app/ToolPage.h"
#include "support/GuiTest.h"

namespace {

const char* kTestTemplate = R"(# a page of every kind
dialog 900 "Probe:" 362 243
groupbox -1 "Probe:" 2 2 358 239
label -1 "&Host:" 20 41 30 8
combobox 1011 "" 55 39 193 64 dropdown vscroll
button 1004 "QUERY" 260 39 45 12 default
button 1005 "Other" 260 55 45 12 disabled
label -1 "Port:" 20 60 30 8
edit 1022 "80" 55 58 40 12 digits limit=5 border
combobox 1015 "" 100 58 71 44 dropdownlist "TCP & UDP" "TCP" "UDP"
combobox 1060 "" 180 58 71 44 sorted "zeta" "alpha" "Mike"
checkbox 1059 "Choose Whois Server" 20 20 90 10 checked
label 1031 "###status###" 8 226 345 8 sunken center
edit 1001 "" 2 71 358 150 pane multiline readonly vscroll border
)";

DialogTemplate TestTemplate()
{
    std::string error;
    auto dlg = ParseDialogTemplate(kTestTemplate, &error);
    if (!dlg)
        qFatal("%s", error.c_str());
    return *dlg;
}

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void dialogUnitsFollowTheFont()
    {
        // The original's 8-point dialog font has base units 6 x 13.
        const DialogUnits units{6, 13};
        QCOMPARE(DialogToPixels(units, 2, 2, 358, 239), QRect(3, 3, 537, 388));
        QCOMPARE(DialogToPixels(units, 0, 0, 362, 243).size(), QSize(543, 395));  // 394.875 rounds up
        QCOMPARE(DialogToPixels(units, 60, 0, 0, 0).x(), 90);                     // the page offset

        QFont small = QApplication::font(), large = small;
        small.setPixelSize(10);
        large.setPixelSize(20);
        const DialogUnits s = DialogBaseUnits(small), l = DialogBaseUnits(large);
        QVERIFY(s.cx > 0 && s.cy > 0);
        QVERIFY(l.cx > s.cx && l.cy > s.cy);
    }

    void templateParserRejectsWhatItCannotBuild()
    {
        const char* bad[] = {
            "label -1 \"x\" 1 2 3 4",                                   // no dialog line
            "dialog 1 \"x\" 10 10\nwidget 5 \"x\" 1 2 3 4",              // unknown kind
            "dialog 1 \"x\" 10 10\nbutton 5 \"x\" 1 2 3",                // short geometry
            "dialog 1 \"x\" 10 10\nbutton 5 \"x\" 1 2 3 4 shiny",        // unknown style
            "dialog 1 \"x\" 10 10\nbutton 5 \"x\" 1 2 3 4 limit=0",
            "dialog 1 \"x\" 10 10\nbutton 5 \"x\" 1 2 3 4 \"item\"",     // items on a button
            "dialog 1 \"x\" 10 10\nbutton 5 \"x\" 1 2 3 4\nedit 5 \"\" 1 2 3 4",  // duplicate id
            "dialog 1 \"unterminated 10 10",
        };
        for (const char* text : bad) {
            std::string error;
            QVERIFY2(!ParseDialogTemplate(text, &error), text);
            QVERIFY(error.rfind("line ", 0) == 0);
        }
        auto dlg = ParseDialogTemplate("dialog 7 \"A \\\"q\\\"\" 10 20 # c\n\n  # only a comment\n");
        QVERIFY(dlg);
        QCOMPARE(dlg->title, std::string("A \"q\""));
        QCOMPARE(dlg->h, 20);
    }

    void builderFindsIdsAndAppliesStyles()
    {
        QWidget host;
        ToolPage page(TestTemplate(), &host);
        const DialogUnits units = DialogBaseUnits(page.font());
        QCOMPARE(page.size(), DialogToPixels(units, 0, 0, 362, 243).size());

        auto* host1011 = page.Item<QComboBox>(1011);
        QVERIFY(host1011 && host1011->isEditable());
        QCOMPARE(host1011->accessibleName(), QStringLiteral("Host"));
        QCOMPARE(host1011->pos(), DialogToPixels(units, 55, 39, 0, 0).topLeft());

        QCOMPARE(page.DefaultButton(), page.Item<QPushButton>(1004));
        QVERIFY(page.Item<QPushButton>(1004)->isDefault());
        QVERIFY(!page.Item<QPushButton>(1005)->isEnabled());

        auto* port = page.Item<QLineEdit>(1022);
        QCOMPARE(port->maxLength(), 5);
        QCOMPARE(port->accessibleName(), QStringLiteral("Port"));
        port->clear();
        QTest::keyClicks(port, "8a0b");
        QCOMPARE(port->text(), QStringLiteral("80"));  // digits only

        auto* protocol = page.Item<QComboBox>(1015);
        QVERIFY(!protocol->isEditable());
        QCOMPARE(protocol->count(), 3);
        QCOMPARE(protocol->itemText(0), QStringLiteral("TCP & UDP"));
        auto* sorted = page.Item<QComboBox>(1060);
        QCOMPARE(sorted->itemText(0), QStringLiteral("alpha"));
        QCOMPARE(sorted->itemText(2), QStringLiteral("zeta"));

        QVERIFY(qobject_cast<QAbstractButton*>(page.Item<QWidget>(1059))->isChecked());
        QCOMPARE(page.Item<QLabel>(1031)->frameShadow(), QFrame::Sunken);
        QVERIFY(page.Pane() && page.Pane()->isReadOnly());
        page.Pane()->lower();  // beneath the page's group box, it still gets the mouse
        QWidget* hit = page.childAt(page.Pane()->geometry().center());
        QVERIFY(hit == page.Pane() || page.Pane()->isAncestorOf(hit));
        QCOMPARE(page.Pane()->accessibleName(), QStringLiteral("Probe output"));
        QVERIFY(page.Pane()->font().fixedPitch());
        QCOMPARE(page.Item<QWidget>(4242), nullptr);
    }

    void everyTemplateOfTheProgramBuilds()
    {
        MainWindow window(false);
        const int pageIds[kPageCount] = {129, 130, 131, 132, 133, 134, 135, 145, 137, 139, 138, 151};
        for (int i = 0; i < kPageCount; ++i) {
            const DialogTemplate& dlg = LoadDialogTemplate(pageIds[i]);
            QCOMPARE(dlg.w, 362);
            QCOMPARE(dlg.h, 243);
            auto* frame = window.Page(i)->findChild<QGroupBox*>();
            QVERIFY(frame);
            QCOMPARE(frame->title().toStdString(), dlg.title);
        }
        // Every control that a user can reach carries a name.
        for (QWidget* w : window.findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                qobject_cast<QComboBox*>(w) || qobject_cast<QPlainTextEdit*>(w))
                QVERIFY2(!w->accessibleName().isEmpty() || w->parent()->inherits("QComboBox"),
                         qPrintable(w->objectName()));
        }
    }

    void mainWindowStartsOnNetStat()
    {
        MainWindow window(false);
        QCOMPARE(window.windowTitle(), QStringLiteral("Quorlix:"));
        QCOMPARE(CurrentPageIndex, 0);
        QVERIFY(window.PageButton(1033)->isChecked());
        QVERIFY(!window.PageButton(1045)->isVisibleTo(&window));
        for (int i = 0; i < kPageCount; ++i)
            QCOMPARE(window.Page(i)->isVisibleTo(&window), i == 0);
        // Every page lies inside the window, right of the button column.
        for (int i = 0; i < kPageCount; ++i) {
            QVERIFY(window.rect().contains(window.Page(i)->geometry()));
            QVERIFY(window.Page(i)->x() > window.PageButton(1033)->geometry().right());
        }
    }

    void pageButtonsSwitchPages()
    {
        MainWindow window(false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto shown = [&] {
            int visible = -1, count = 0;
            for (int i = 0; i < kPageCount; ++i)
                if (window.Page(i)->isVisible()) {
                    visible = i;
                    ++count;
                }
            return count == 1 ? visible : -1;
        };

        QTest::mouseClick(window.PageButton(1036), Qt::LeftButton);  // Ping
        QCOMPARE(CurrentPageIndex, 3);
        QCOMPARE(shown(), 3);
        QVERIFY(!window.PageButton(1033)->isChecked());

        // The page already shown: nothing is hidden or shown again.
        window.Page(3)->installEventFilter(this);
        hideEvents_ = 0;
        QTest::mouseClick(window.PageButton(1036), Qt::LeftButton);
        QCOMPARE(hideEvents_, 0);
        QCOMPARE(shown(), 3);

        QTest::mouseClick(window.PageButton(1044), Qt::LeftButton);  // Ping to Help
        QCOMPARE(CurrentPageIndex, 11);
        QCOMPARE(shown(), 11);

        // The hidden button checked: all pages hide and the current one shows again.
        window.PageButton(1045)->click();
        QVERIFY(window.PageButton(1045)->isChecked());
        QVERIFY(!window.PageButton(1044)->isChecked());
        QCOMPARE(CurrentPageIndex, 11);
        QCOMPARE(shown(), 11);

        for (int i = 0; i < kPageCount; ++i) {
            QTest::mouseClick(window.PageButton(1033 + i), Qt::LeftButton);
            QCOMPARE(shown(), i);
        }
        window.Page(3)->removeEventFilter(this);
    }

    void enterAndEscapeOnThePageButtonsEndTheProgram()
    {
        for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
            MainWindow window(false);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            window.PageButton(1034)->setFocus();
            QTest::keyClick(window.PageButton(1034), Qt::Key(key));
            QVERIFY(!window.isVisible());
        }
    }

    void enterAndEscapeInsideAPageNeverCloseIt()
    {
        QWidget window;
        auto* page = new ToolPage(TestTemplate(), &window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy queries(page->Item<QPushButton>(1004), &QPushButton::clicked);
        QSignalSpy others(page->Item<QPushButton>(1005), &QPushButton::clicked);

        auto* host = page->Item<QComboBox>(1011);
        host->setFocus();
        QTest::keyClick(host, Qt::Key_Escape);
        QTest::keyClick(host, Qt::Key_Return);
        QTest::keyClick(page->Item<QLineEdit>(1022), Qt::Key_Enter);
        QTest::keyClick(page->Pane(), Qt::Key_Escape);
        QVERIFY(page->isVisible() && window.isVisible());
        QCOMPARE(queries.count(), 2);  // Enter pressed the default button
        QCOMPARE(others.count(), 0);
    }

    void historyIgnoresCaseAndKeepsPositions()
    {
        QComboBox combo;
        combo.setEditable(true);
        ToolPage::AddToHistory(&combo, QStringLiteral("example.org"));
        ToolPage::AddToHistory(&combo, QStringLiteral("host1"));
        ToolPage::AddToHistory(&combo, QStringLiteral("EXAMPLE.org"));
        QCOMPARE(combo.count(), 2);
        QCOMPARE(combo.itemText(0), QStringLiteral("host1"));
        QCOMPARE(combo.itemText(1), QStringLiteral("example.org"));
        ToolPage::AddToHistory(&combo, QStringLiteral("Example.Org.uk"));  // a prefix is no match
        QCOMPARE(combo.count(), 3);
        QCOMPARE(combo.itemText(0), QStringLiteral("Example.Org.uk"));
    }

    void appendGoesToTheEndWhateverIsSelected()
    {
        QWidget host;
        ToolPage page(TestTemplate(), &host);
        page.AppendOutput("first line\r\nsecond line\r\n");
        QTextCursor cursor = page.Pane()->textCursor();
        cursor.setPosition(6);
        cursor.setPosition(10, QTextCursor::KeepAnchor);  // "line" selected
        page.Pane()->setTextCursor(cursor);
        QVERIFY(page.Pane()->textCursor().hasSelection());

        page.AppendOutput("tail");
        QCOMPARE(PaneText(&page), std::string("first line\r\nsecond line\r\ntail"));
        QCOMPARE(page.Pane()->toPlainText(), QStringLiteral("first line\nsecond line\ntail"));
        QVERIFY(!page.Pane()->textCursor().hasSelection());
        QCOMPARE(page.Pane()->textCursor().position(), page.Pane()->toPlainText().size());

        page.ClearOutput();
        QCOMPARE(PaneText(&page), std::string());
        QCOMPARE(page.Pane()->toPlainText(), QString());
    }

    void paneShowsLineEndsAndBytesAsDesigned()
    {
        OutputPane pane;
        pane.Append("a\r\r\nb\r\n");
        pane.Append("c\r");   // CR LF split across two appends is still one break
        pane.Append("\nd\re");
        pane.Append("\t\xC3\xA9|");  // UTF-8
        pane.Append("\xE9");         // not UTF-8: one character a byte
        QCOMPARE(pane.toPlainText(), QStringLiteral("a\nb\nc\nde\t\u00E9|\u00E9"));
        QCOMPARE(pane.RawText(), std::string("a\r\r\nb\r\nc\r\nd\re\t\xC3\xA9|\xE9"));

        OutputPane limited;
        limited.SetTextLimit(5);
        limited.Append("abc");
        limited.Append("defg");  // what does not fit is not inserted
        limited.Append("h");
        QCOMPARE(limited.RawText(), std::string("abcde"));
    }

    void splashIsCentredAndMadeAgainAfterClosing()
    {
        QWidget* splash = ShowSplash(148, true);
        QVERIFY(splash);
        QCOMPARE(splash->size(), QSize(200, 100));
        const QRect desktop = QGuiApplication::primaryScreen()->geometry();
        QCOMPARE(splash->pos(), QPoint((desktop.x() + desktop.width()) / 2 - 100, (desktop.y() + desktop.height()) / 2 - 50));
        QCOMPARE(ShowSplash(148, false), splash);  // one at a time
        QPointer<QWidget> closed(splash);
        CloseSplash();
        QVERIFY(closed.isNull());
        QCOMPARE(ShowSplash(999, true), nullptr);  // no such picture: start-up goes on without
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Hide || event->type() == QEvent::Show)
            ++hideEvents_;
        return false;
    }

private:
    int hideEvents_ = 0;
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
