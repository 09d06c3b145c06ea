// The window and its page framework: templates, what a screen reader is told, the pane, QUERY/STOP tasks,
// closing with tasks in flight, About and Help (URL handlers catch every opening).
#include <QAccessible>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTextBlock>
#include <atomic>

#include "os/PollWait.h"
#include "shell/AboutPage.h"
#include "shell/HelpPage.h"
#include "shell/MainWindow.h"
#include "shell/Splash.h"
#include "tcpterm/TcpSocketPage.h"
#include "support/GuiTest.h"
#include "ui/DialogBuilder.h"
#include "ui/OutputPane.h"
#include "ui/PaneMenu.h"

using namespace MainControls;

namespace {

const char* kProbe = R"(dialog 900 "Probe:" 362 243
label -1 "&Host:" 20 41 30 8
combobox 1011 "" 55 39 193 64 dropdown
button 1004 "QUERY" 260 39 45 12 default
combobox 1060 "" 180 58 71 44 sorted "zeta" "alpha" "Mike"
edit 1001 "" 2 71 358 150 pane multiline readonly vscroll border
)";

// QUERY writes its lines one every few milliseconds; a task the page starts
// itself waits a minute unless cancelled.
struct SlowPage : ToolPage {
    SlowPage(QWidget* parent, int lines) : ToolPage(TemplateFromText(kProbe), parent)
    {
        connect(Query(), &QPushButton::clicked, this, [=, this] {
            OnQueryButton({1004}, [=, this] { return [=, this](TaskContext& t) { Run(t, lines); }; });
        });
    }
    void Run(TaskContext& t, int lines)
    {
        for (int i = 0; i < lines && !SleepUnlessCancelled(&t.Token(), 5); ++i)
            t.AppendOutput("line\r\n");
        if (lines < 0)
            SleepUnlessCancelled(&t.Token(), 60000);
        ++finished;
    }
    std::shared_ptr<WorkerTask> StartOwn() { return StartTask([this](TaskContext& t) { Run(t, -1); }).lock(); }
    QPushButton* Query() const { return Item<QPushButton>(1004); }
    std::atomic<int> finished{0};
};

}  // namespace

class ShellTest : public QObject {
    Q_OBJECT
public:
    Q_INVOKABLE void Open(const QUrl& url) { opened_ << url; }

private slots:
    // Controls from a template, named for a screen reader. Enter presses the default button (QUERY, then STOP),
    // never in the read-only pane. STOP abandons: nothing of the task after "Operation Aborted".
    void templatesAndTasks()
    {
        QCOMPARE(DialogToPixels({6, 13}, 2, 2, 358, 243), QRect(3, 3, 537, 395));  // 388.375 down, 394.875 up
        QWidget window;
        auto* page = new SlowPage(&window, 100000);
        QVERIFY(ShowExposed(&window));
        QCOMPARE(AccessibleName(page->Item<QWidget>(1011)) + "|" + AccessibleName(page->Pane()), "Host|Probe output");
        for (const char* text : {"example.org", "EXAMPLE.org", "Example.Org.uk"})
            ToolPage::AddToHistory(page->Item<QComboBox>(1060), QLatin1String(text));
        QCOMPARE(ComboItems(page->Item<QComboBox>(1060)).join(" "), "Example.Org.uk example.org alpha Mike zeta");

        for (QWidget* w : {page->Item<QWidget>(1011), static_cast<QWidget*>(page->Pane()), page->Item<QWidget>(1011)})
            for (int key : {Qt::Key_Escape, Qt::Key_Return})
                w->setFocus(), QTest::keyClick(w, Qt::Key(key));
        const std::string atStop = PaneText(page);
        QVERIFY(atStop.ends_with("\tOperation Aborted"));
        QVERIFY(QTest::qWaitFor([&] { return page->finished == 1; }));
        QCOMPARE(PaneText(page), atStop);

        // The pane: appends go to the end, up to the limit; a new text replaces the pane's, the caret kept on its line.
        OutputPane* pane = page->Pane();
        page->ClearOutput();
        for (const char* text : {"\r\r\nb\r\nc\r", "\nd\re", "\t\xC3\xA9|", "\xE9"})  // CR LF split, UTF-8, Latin-1
            page->AppendOutput(text);
        QCOMPARE(pane->toPlainText(), QStringLiteral("\nb\nc\nde\t\u00E9|\u00E9"));
        pane->SetTextLimit(PaneText(page).size() + 5);
        for (const char* text : {"abc", "defg", "h"})
            page->AppendOutput(text);
        QVERIFY(PaneText(page).ends_with("|\xE9" "abcde"));

        pane->SetTextLimit(0);
        std::string rows;
        for (int i = 0; i < 40; ++i)
            rows += "line " + std::to_string(i) + "\r\n";
        pane->ReplaceText(rows);
        pane->setTextCursor(QTextCursor(pane->document()->findBlockByNumber(1)));
        // Shown as changes: a line more above the caret's, one changed below it; the caret on its whole line.
        pane->ReplaceText(rows.replace(0, 6, "line 10\r\nnew").replace(rows.find("line 30"), 4, "LINE"));
        QCOMPARE(PaneText(page), rows);
        QCOMPARE(pane->toPlainText(), OutputPane::DisplayText(rows));
        QCOMPARE(pane->textCursor().blockNumber(), 2);
        QCOMPARE(pane->findChildren<QTextDocument*>().size(), 1);  // no document left behind
    }

    void windowSwitchesPagesAndNamesItsControls()
    {
        QCOMPARE(ShowSplash(148, true)->geometry().center(), QGuiApplication::primaryScreen()->geometry().center());
        CloseSplash();
        MainWindow window(false);
        QVERIFY(ShowExposed(&window));
        auto* running = new SlowPage(window.Page(3), 100000);  // two tasks for the close to end and join
        running->Query()->click();
        running->StartOwn();
        QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(&window);  // a frame named by its caption
        QCOMPARE(frame->role(), QAccessible::Window);
        QCOMPARE(frame->text(QAccessible::Name), "Quorlix:");
        for (QWidget* w : window.findChildren<QWidget*>())  // every control a user reaches, a combo box's edit aside
            if (w->focusPolicy() != Qt::NoFocus && w->window() == &window && !w->parent()->inherits("QComboBox"))
                QVERIFY2(!AccessibleName(w).isEmpty(), qPrintable(w->objectName()));
        auto shown = [&] {  // the titles of the pages shown, "?" before one that is not the current page
            QString titles;
            for (int i = 0; i < kPageCount; ++i)
                if (window.Page(i)->isVisible())
                    titles += (i == CurrentPageIndex ? "" : "?") + window.Page(i)->accessibleName();
            return titles;
        };
        const char* titles[kPageCount] = {"NetStat:", "Whois:", "DNS:", "Ping:", "TraceRoute:",
                                          "Packet Capture:", "Tcp Socket:", "Network Info:", "SmtpMail:",
                                          "Base64:", "About Quorlix:", "Help:"};
        QCOMPARE(shown(), titles[0]);
        // A screen reader's Toggle acts as a click; the hidden button keeps the current page.
        QList<std::pair<int, int>> steps = {{kHelpButton, 11}, {kHiddenButton, 11}};
        for (int i = kPageCount - 1; i >= 0; --i)
            steps << std::pair{kNetStatButton + i, i};
        for (const auto& [id, page] : steps) {
            QAccessible::queryAccessibleInterface(window.PageButton(id))->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
            QTRY_COMPARE(shown(), titles[page]);
        }
        auto* status = window.Page(6)->Item<QLabel>(TcpSocketControls::kStatusLine);
        status->setText("Connected");  // a status line reads its text
        QCOMPARE(AccessibleName(status) + "|" + status->accessibleDescription(), "Connected|Status");
        for (int key : {Qt::Key_Return, Qt::Key_Escape}) {  // on the window's own controls, they end it
            QVERIFY(ShowExposed(&window));
            QTest::keyClick(window.PageButton(kWhoisButton), Qt::Key(key));
            QVERIFY(!window.isVisible());
            QCOMPARE(running->finished, 2);
        }
        // A close from inside a task's event (as from a message box's loop) comes back until the event returns.
        window.show();
        bool closedInside = true;
        running->StartTask([&](TaskContext& t) { t.Post([&] { closedInside = window.close(); }); });
        QTRY_VERIFY(!window.isVisible());
        QVERIFY(!closedInside);
    }

    // A pane's menu by pointer or keys: the host under it opens in the page chosen, which starts as QUERY does (Dns
    // Query: PTR of an address, A of a name; TCP Socket fills in, no more); nothing recognisable or a busy page: the
    // entry is disabled. Save As writes the command line, then the text as the page wrote it.
    void paneMenuOpensHostsAndSaves()
    {
        MessageRecorder messages;
        MainWindow window(false);
        QVERIFY(ShowExposed(&window));
        ToolPage *whois = window.Page(1), *dns = window.Page(2), *ping = window.Page(3);
        TerminalSocket& socket = static_cast<TcpSocketPage*>(window.Page(6))->Socket();
        dns->Item<QComboBox>(DnsQueryControls::kServerBox)->setEditText("127.0.0.1");  // asked on loopback only
        whois->Item<QCheckBox>(WhoisControls::kChooseServer)->setChecked(true);
        whois->Item<QComboBox>(WhoisControls::kServerBox)->setEditText("127.0.0.1");
        OutputPane* netstat = window.Page(0)->Pane();
        netstat->ReplaceText("TCP  127.0.0.1:22  [::1]:7  ESTABLISHED\r\nMX: Exchange: mail.example.test\r\n");
        // The menu with the pointer on word's last character (by key: the caret just after word): chooses an entry;
        // gives "Open In"'s ("-": disabled).
        auto menuOn = [](OutputPane* pane, const char* word, const QString& chosen = {}, int key = 0) {
            QTextCursor at = pane->document()->find(QLatin1String(word));
            at.setPosition(at.selectionEnd());
            QContextMenuEvent click(QContextMenuEvent::Mouse, pane->cursorRect(at).center() - QPoint(2, 0), {});
            if (key) {
                pane->setTextCursor(at), pane->setFocus();
                QTest::keyClick(pane, Qt::Key(key), key == Qt::Key_F10 ? Qt::ShiftModifier : Qt::NoModifier);
            } else {
                QApplication::sendEvent(pane->viewport(), &click);
            }
            QWidget* menu = QApplication::activePopupWidget();
            if (!menu)
                return QString("no menu");
            QMenu* openIn = menu->findChild<QMenu*>();
            QStringList texts;
            for (QAction* action : menu->actions() + openIn->actions()) {
                if (action->parent() == openIn && action != openIn->menuAction())
                    texts << (action->isEnabled() ? action->text() : "-");
                if (action->text() == chosen)
                    action->trigger();
            }
            menu->close();
            return texts.join(',') + "|" + AccessibleName(menu) + "/" + AccessibleName(openIn);
        };
        auto boxes = [](ToolPage* page, int id, int other) {  // two boxes and QUERY's caption
            return page->Item<QComboBox>(id)->currentText() + " " + page->Item<QComboBox>(other)->currentText() + " " +
                   page->Item<QPushButton>(1004)->text();
        };
        auto ended = [](ToolPage* page) { return WaitForCaption(page->Item<QPushButton>(1004), "QUERY"); };

        QCOMPARE(menuOn(netstat, "ESTAB"), "-,-,-,-,-|NetStat output menu/Open In");
        menuOn(netstat, "127.0.0.1:22", "Ping");
        QCOMPARE(CurrentPageIndex, 3);
        QCOMPARE(ComboItems(ping->Item<QComboBox>(PingControls::kHostBox)), QStringList{"127.0.0.1"});
        QCOMPARE(menuOn(netstat, "127.0"), "-,Traceroute,Whois,Dns Query,TCP Socket|NetStat output menu/Open In");
        QVERIFY(ended(ping));
        menuOn(ping->Pane(), "[127", "Dns Query");
        QCOMPARE(boxes(dns, DnsQueryControls::kNameBox, DnsQueryControls::kTypeBox), "1.0.0.127.in-addr.arpa PTR STOP");
        QVERIFY(ended(dns));

        menuOn(netstat, "::1", "TCP Socket");
        QCOMPARE(window.Page(6)->Item<QLineEdit>(TcpSocketControls::kHostBox)->text() + " " +
                     window.Page(6)->Item<QLineEdit>(TcpSocketControls::kPortBox)->text(), "::1 7");
        QVERIFY(CurrentPageIndex == 6 && !socket.Valid() && socket.Create(false));  // busy once it has a socket
        menuOn(netstat, "mail.example.test", "Dns Query", Qt::Key_Menu);
        QCOMPARE(boxes(dns, DnsQueryControls::kNameBox, DnsQueryControls::kTypeBox), "mail.example.test A STOP");
        QCOMPARE(menuOn(netstat, "mail").section('|', 0, 0), "Ping,Traceroute,Whois,-,-");
        QCOMPARE(menuOn(netstat, "mail", {}, Qt::Key_F10).section(',', 0, 2), "Ping,Traceroute,Whois");
        QVERIFY(ended(dns));
        menuOn(dns->Pane(), "mail", "Whois");
        QCOMPARE(boxes(whois, WhoisControls::kQueryBox, WhoisControls::kServerBox), "mail.example.test 127.0.0.1 STOP");
        QVERIFY(ended(whois));

        netstat->setTextCursor(netstat->document()->find("example.test"));  // the selection, wherever the pointer is
        QCOMPARE(menuOn(netstat, "ESTAB").section('|', 0, 0), "Ping,Traceroute,Whois,Dns Query,-");

        QTemporaryDir dir;
        for (const char* command : {"ss -tan", "", (const char*)nullptr}) {  // none: into no such folder, a message
            const QString file = dir.filePath(command ? "saved.txt" : "none/saved.txt");
            SetSaveFileChooser([=](QWidget*) { return file; });
            netstat->SetCommandLine(command ? command : "");
            menuOn(netstat, "ESTAB", "Save As...");
            QFile saved(file);
            QCOMPARE(saved.open(QIODevice::ReadOnly) ? saved.readAll() : messages.Texts().last().toUtf8(),
                     command ? (*command ? "# ss -tan\r\n" : "") + QByteArray(netstat->RawText().c_str())
                             : "Unable To Save File!\n" + file.toUtf8());
        }
        SetSaveFileChooser(nullptr);
        QVERIFY(!messages.Messages().back().detail.isEmpty());  // and the reason
    }

    // Help writes a copy of its document, written again once gone, and opens it; the mail link; the failures,
    // in their words.
    void aboutAndHelp()
    {
        for (const char* scheme : {"file", "mailto"})
            QDesktopServices::setUrlHandler(QLatin1String(scheme), this, "Open");
        MessageRecorder messages;
        HelpPage page(nullptr);
        auto* help = page.Item<QPushButton>(HelpControls::kHtmlHelpButton);
        auto* email = page.Item<QPushButton>(HelpControls::kEmailButton);
        help->click();
        QVERIFY(QFile::remove(opened_.value(0).toLocalFile()));
        help->click();
        const QString copy = opened_.value(1).toLocalFile();
        email->click();
        QCOMPARE(opened_.value(2), QUrl("mailto:quorlix@example.org"));
        // The copy: no errors, no warnings from tidy (-latin1 also warns of C1 bytes, where stray UTF-8 would show).
        QVERIFY(QFile::exists(copy));
        QCOMPARE(QProcess::execute("tidy", {"-q", "-errors", "-latin1", copy}), 0);
        for (const char* scheme : {"file", "mailto"})  // the offscreen platform opens nothing, and says so
            QDesktopServices::unsetUrlHandler(QLatin1String(scheme));
        for (QPushButton* button : {help, email}) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("openDocument|openUrl"));
            button->click();
        }
        QVERIFY(messages.Texts().value(0).startsWith("Unable To Start A Web Browser!\n"));
        QVERIFY(messages.Texts().value(0).endsWith(copy));  // where the copy is
        QVERIFY(messages.Texts().value(1).startsWith("Unable To Start An Email Program!\n"));

        // The document: every link resolves; About's texts word for word.
        QFile file(":/docs/help.html");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QString html = QString::fromLatin1(file.readAll());
        for (auto links = QRegularExpression("href=\"([^\"]*)\"").globalMatch(html); links.hasNext();) {
            const QString target = links.next().captured(1);  // an anchor of its own, once
            QVERIFY2(target.startsWith('#') && html.count(" name=\"" + target.mid(1) + '"') == 1, qPrintable(target));
        }
        // The helper's group and grant, the licence and the disclaimer, the rights notice.
        html = html.remove(QRegularExpression("<[^>]*>")).replace("&quot;", "\"").simplified();
        QStringList words = {"sudo usermod -aG quorlix $USER", "root:quorlix",
                             "sudo scripts/setup-helper.sh build/release/src/quorlix-netcap", "Copyright &copy;"};
        for (const std::string& about : {AboutLicenceText(), AboutDisclaimerText()})
            words << QString::fromStdString(about).split("\r\n");
        for (const QString& line : words)
            QVERIFY2(html.contains(line.simplified()), qPrintable(line));
        AboutPage about(nullptr);
        QVERIFY(about.Item<QLabel>(AboutControls::kInfo)->text().contains("\nVersion: 1.3 (BETA)\n"));
    }

private:
    QList<QUrl> opened_;
};

QTEST_MAIN(ShellTest)
#include "shell_test.moc"
