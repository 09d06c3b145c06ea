// The shell: templates, dialog units, the main window's page switching and
// the conventions every page shares.
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTextDocument>
#include <thread>

#include "shell/MainWindow.h"
#include "shell/Splash.h"
#include "support/GuiTest.h"
#include "ui/DialogBuilder.h"
#include "ui/OutputPane.h"
#include "ui/ToolPage.h"

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

// What a screen reader's "Toggle" does.
bool Toggle(QWidget* w)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    if (!a || !a->actionInterface() ||
        !a->actionInterface()->actionNames().contains(QAccessibleActionInterface::toggleAction()))
        return false;
    a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    return true;
}

// The pane's text each time its viewport is painted.
struct PaintRecorder : QObject {
    explicit PaintRecorder(QPlainTextEdit* pane) : edit(pane) { pane->viewport()->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            texts << edit->toPlainText();
        return false;
    }
    QPlainTextEdit* edit;
    QStringList texts;
};

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void dialogUnitsFollowTheFont()
    {
        const DialogUnits units{6, 13};  // an 8-point dialog font
        QCOMPARE(DialogToPixels(units, 2, 2, 358, 239), QRect(3, 3, 537, 388));
        QCOMPARE(DialogToPixels(units, 0, 0, 362, 243).size(), QSize(543, 395));  // 394.875 rounds up

        QFont small = QApplication::font(), large = small;
        small.setPixelSize(10);
        large.setPixelSize(20);
        QVERIFY(DialogBaseUnits(large).cx > DialogBaseUnits(small).cx && DialogBaseUnits(small).cx > 0);
    }

    void builderFindsIdsAndAppliesStyles()
    {
        QWidget host;
        ToolPage page(TemplateFromText(kTestTemplate), &host);
        const DialogUnits units = DialogBaseUnits(page.font());
        QCOMPARE(page.size(), DialogToPixels(units, 0, 0, 362, 243).size());

        auto* hostCombo = page.Item<QComboBox>(1011);
        QVERIFY(hostCombo && hostCombo->isEditable());
        QCOMPARE(hostCombo->pos(), DialogToPixels(units, 55, 39, 0, 0).topLeft());
        QCOMPARE(hostCombo->accessibleName(), QStringLiteral("Host"));
        QVERIFY(!page.Item<QComboBox>(1015)->isEditable());
        QCOMPARE(ComboItems(page.Item<QComboBox>(1015)), (QStringList{"TCP & UDP", "TCP", "UDP"}));
        QCOMPARE(ComboItems(page.Item<QComboBox>(1060)), (QStringList{"alpha", "Mike", "zeta"}));

        QVERIFY(page.Item<QPushButton>(1004)->isDefault());
        QVERIFY(!page.Item<QPushButton>(1005)->isEnabled());
        QVERIFY(page.Item<QAbstractButton>(1059)->isChecked());
        QCOMPARE(page.Item<QLabel>(1031)->textFormat(), Qt::PlainText);  // "<b>" a user typed stays as typed

        auto* port = page.Item<QLineEdit>(1022);
        QCOMPARE(port->accessibleName(), QStringLiteral("Port"));
        port->clear();
        QTest::keyClicks(port, "8a0b");
        QCOMPARE(port->text(), QStringLiteral("80"));  // digits only

        OutputPane* pane = page.Pane();
        QVERIFY(pane && pane->isReadOnly() && pane->font().fixedPitch());
        QCOMPARE(pane->tabStopDistance(), 8 * QFontMetricsF(pane->font()).horizontalAdvance(QLatin1Char(' ')));  // 8-column tabs
        QCOMPARE(pane->accessibleName(), QStringLiteral("Probe output"));
        pane->lower();  // beneath the page's group box, it still gets the mouse
        QWidget* hit = page.childAt(pane->geometry().center());
        QVERIFY(hit == pane || pane->isAncestorOf(hit));
    }

    void mainWindowSwitchesPagesByClickAndByScreenReader()
    {
        using namespace MainControls;
        MainWindow window(false);
        QVERIFY(ShowExposed(&window));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quorlix:"));
        QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);  // announced as a window
        QCOMPARE(std::make_pair(frame->role(), frame->text(QAccessible::Name)),
                 std::make_pair(QAccessible::Window, QStringLiteral("Quorlix:")));
        QVERIFY(!window.PageButton(kHiddenButton)->isVisible());
        const int pageIds[kPageCount] = {
            NetStatControls::kTemplate,   WhoisControls::kTemplate,   DnsQueryControls::kTemplate,
            PingControls::kTemplate,      TraceControls::kTemplate,   CaptureControls::kTemplate,
            TcpSocketControls::kTemplate, NetInfoControls::kTemplate, SmtpMailControls::kTemplate,
            Base64Controls::kTemplate,    AboutControls::kTemplate,   HelpControls::kTemplate};
        for (int i = 0; i < kPageCount; ++i) {  // each page from its own template, beside the buttons
            QCOMPARE(window.Page(i)->findChild<QGroupBox*>()->title().toStdString(), LoadDialogTemplate(pageIds[i]).title);
            QVERIFY(window.rect().contains(window.Page(i)->geometry()));
            QVERIFY(window.Page(i)->x() > window.PageButton(kNetStatButton)->geometry().right());
        }
        // Every control that a user can reach carries a name.
        for (QWidget* w : window.findChildren<QWidget*>()) {
            if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLineEdit*>(w) ||
                qobject_cast<QComboBox*>(w) || qobject_cast<QPlainTextEdit*>(w))
                QVERIFY2(!AccessibleName(w).isEmpty() || w->parent()->inherits("QComboBox"),
                         qPrintable(w->objectName()));
        }

        // The one page shown, and the current index, after each button: NetStat
        // first, Ping, Ping to Help, the hidden button (the current page shows
        // again), the same page twice.
        auto shown = [&] {
            int visible = -1, count = 0;
            for (int i = 0; i < kPageCount; ++i)
                if (window.Page(i)->isVisible())
                    visible = i, ++count;
            return count == 1 && visible == CurrentPageIndex ? visible : -1;
        };
        QVERIFY(window.PageButton(kNetStatButton)->isChecked());
        QCOMPARE(shown(), 0);
        const std::pair<int, int> steps[] = {
            {kPingButton, 3}, {kHelpButton, 11}, {kHiddenButton, 11}, {kNetStatButton, 0}, {kNetStatButton, 0}};
        for (const auto& [id, page] : steps) {
            if (id == kHiddenButton)
                window.PageButton(id)->click();  // hidden: no mouse reaches it
            else
                QTest::mouseClick(window.PageButton(id), Qt::LeftButton);
            QVERIFY(window.PageButton(id)->isChecked());
            QCOMPARE(shown(), page);
        }
        // A screen reader's Toggle acts like a click: on every page button, on "Choose Whois Server".
        for (int i = kPageCount - 1; i >= 0; --i) {
            QVERIFY(Toggle(window.PageButton(kNetStatButton + i)));
            QTRY_COMPARE(shown(), i);
        }
        ToolPage* whois = window.Page(1);
        QVERIFY(Toggle(whois->Item<QCheckBox>(WhoisControls::kChooseServer)));
        QTRY_VERIFY(whois->Item<QComboBox>(WhoisControls::kServerBox)->isEnabled());
        // A status line reads its text, not only its name (TCP Socket, Smtp Mail).
        for (const auto& [i, id] :
             {std::pair{6, TcpSocketControls::kStatusLine}, std::pair{8, SmtpMailControls::kStatusLine}}) {
            auto* status = window.Page(i)->Item<QLabel>(id);
            status->setText(QStringLiteral("Connected"));
            QCOMPARE(AccessibleName(status), QStringLiteral("Connected"));
            QCOMPARE(QAccessible::queryAccessibleInterface(status)->text(QAccessible::Description),
                     QStringLiteral("Status"));
        }

        // Enter and Escape on the window's own controls end the program.
        for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
            QVERIFY(ShowExposed(&window));
            window.PageButton(kWhoisButton)->setFocus();
            QTest::keyClick(window.PageButton(kWhoisButton), Qt::Key(key));
            QVERIFY(!window.isVisible());
        }
    }

    void enterAndEscapeInsideAPageNeverCloseIt()
    {
        QWidget window;
        auto* page = new ToolPage(TemplateFromText(kTestTemplate), &window);
        QVERIFY(ShowExposed(&window));
        QSignalSpy queries(page->Item<QPushButton>(1004), &QPushButton::clicked);
        QSignalSpy others(page->Item<QPushButton>(1005), &QPushButton::clicked);

        auto* host = page->Item<QComboBox>(1011);
        host->setFocus();
        QTest::keyClick(host, Qt::Key_Escape);
        QTest::keyClick(host, Qt::Key_Return);
        QTest::keyClick(page->Item<QLineEdit>(1022), Qt::Key_Enter);
        QTest::keyClick(page->Pane(), Qt::Key_Escape);
        page->Pane()->setFocus();
        QTest::keyClick(page->Pane(), Qt::Key_Return);  // in a read-only pane Enter presses nothing
        QVERIFY(page->isVisible() && window.isVisible());
        QCOMPARE(queries.count(), 2);  // Enter pressed the default button
        QCOMPARE(others.count(), 0);
    }

    void historyIgnoresCaseAndKeepsPositions()
    {
        QComboBox combo;
        combo.setEditable(true);
        for (const char* text : {"example.org", "host1", "EXAMPLE.org"})
            ToolPage::AddToHistory(&combo, QString::fromLatin1(text));
        QCOMPARE(ComboItems(&combo), (QStringList{"host1", "example.org"}));
        ToolPage::AddToHistory(&combo, QStringLiteral("Example.Org.uk"));  // a prefix is no match
        QCOMPARE(ComboItems(&combo), (QStringList{"Example.Org.uk", "host1", "example.org"}));
    }

    // Appends go to the end as written, whatever is selected, up to the limit;
    // a whole text made ready on another thread replaces the pane's without an
    // empty repaint, the caret kept on its line.
    void paneAppendsAndReplaces()
    {
        QWidget window;
        ToolPage page(TemplateFromText(kTestTemplate), &window);
        QVERIFY(ShowExposed(&window));
        OutputPane* pane = page.Pane();
        page.AppendOutput("first line\r\nsecond");
        QTextCursor cursor = pane->textCursor();
        cursor.setPosition(6);
        cursor.setPosition(10, QTextCursor::KeepAnchor);  // "line" selected
        pane->setTextCursor(cursor);
        // CR LF and CR CR LF show as one break, even split across appends; bytes
        // show as UTF-8 where valid, else one character a byte.
        for (const char* text : {"\r\r\nb\r\nc\r", "\nd\re", "\t\xC3\xA9|", "\xE9"})
            page.AppendOutput(text);
        QCOMPARE(pane->toPlainText(), QStringLiteral("first line\nsecond\nb\nc\nde\t\u00E9|\u00E9"));
        QCOMPARE(PaneText(&page), std::string("first line\r\nsecond\r\r\nb\r\nc\r\nd\re\t\xC3\xA9|\xE9"));
        QVERIFY(!pane->textCursor().hasSelection());
        QCOMPARE(pane->textCursor().position(), pane->toPlainText().size());

        page.ClearOutput();
        QCOMPARE(pane->toPlainText(), QString());
        pane->SetTextLimit(5);
        QSignalSpy full(pane, &OutputPane::TextLimitReached);
        for (const char* text : {"abc", "defg", "h"})  // what does not fit is not inserted
            page.AppendOutput(text);
        QCOMPARE(PaneText(&page), std::string("abcde"));
        QCOMPARE(full.count(), 0);  // never from inside the append
        QCoreApplication::processEvents();
        QCOMPARE(full.count(), 1);  // once, however many appends meet the limit
        OutputPane::PreparedText cut;
        std::thread([&] { cut = OutputPane::PrepareText("xy\r\nzuvw"); }).join();
        pane->ReplaceText(std::move(cut));
        QCOMPARE(PaneText(&page), std::string("xy\r\nz"));
        QCOMPARE(pane->toPlainText(), QStringLiteral("xy\nz"));
        QCoreApplication::processEvents();
        QCOMPARE(full.count(), 2);

        pane->SetTextLimit(0);
        std::string rows;
        for (int i = 0; i < 200; ++i)
            rows += "row " + std::to_string(i) + "\r\n";
        pane->ReplaceText(rows);
        pane->setFocus();
        QTest::keyClick(pane, Qt::Key_Home, Qt::ControlModifier);  // the caret moves in a read-only pane
        QTest::keyClick(pane, Qt::Key_Down);
        QCOMPARE(pane->textCursor().blockNumber(), 1);
        PaintRecorder paints(pane);
        const qreal tabStops = pane->tabStopDistance();
        rows.replace(0, 5, "ROW 0");
        OutputPane::PreparedText text;
        std::thread([&] { text = OutputPane::PrepareText(rows); }).join();
        pane->ReplaceText(std::move(text));
        QTest::qWait(50);
        QVERIFY(!paints.texts.isEmpty());
        QVERIFY(!paints.texts.contains(QString()));
        QCOMPARE(PaneText(&page), rows);
        QCOMPARE(pane->textCursor().blockNumber(), 1);
        QCOMPARE(pane->document()->defaultFont(), pane->font());
        QCOMPARE(pane->tabStopDistance(), tabStops);
        QCOMPARE(pane->findChildren<QTextDocument*>().size(), 1);  // no document left behind
    }

    void splashIsCentred()
    {
        QWidget* splash = ShowSplash(148, true);
        QVERIFY(splash);
        QCOMPARE(splash->geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
        CloseSplash();
        QCOMPARE(ShowSplash(999, true), nullptr);  // no such picture: start-up goes on without
    }
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
