// The Dns Query page driven through its controls, without a DNS server: its
// start-up state, its messages, Resolve Name through /etc/hosts, and how the
// query and the resolution exclude each other.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "dns/DnsQueryPage.h"
#include "hostcfg/ResolvConf.h"
#include "net/HostAddress.h"
#include "support/GuiTest.h"

class DnsPageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DnsQueryPage> page;

    QPushButton* Button(int id) { return page->Item<QPushButton>(id); }
    QComboBox* Box(int id) { return page->Item<QComboBox>(id); }
    QStringList Items(int id) { return ComboItems(Box(id)); }
    // Presses QUERY with these texts and waits for the task to end.
    bool Query(const QString& server, const QString& name)
    {
        Box(DnsQueryControls::kServerBox)->setEditText(server);
        Box(DnsQueryControls::kNameBox)->setEditText(name);
        Button(DnsQueryControls::kQueryButton)->click();
        return WaitForCaption(Button(DnsQueryControls::kQueryButton), "QUERY");
    }
    void Resolve(const QString& text)
    {
        Box(DnsQueryControls::kNameBox)->setEditText(text);
        Button(DnsQueryControls::kResolveButton)->click();
    }

private slots:
    void init() { page = std::make_unique<DnsQueryPage>(nullptr); }
    void cleanup() { page.reset(); }

    void startsWithTheDefaultServerWhichGetDefaultDnsPutsBack()
    {
        char server[50] = "";
        AddressToText(GetDefaultDnsServer(), server, sizeof server);
        QCOMPARE(Box(DnsQueryControls::kServerBox)->currentText(), QString::fromLatin1(server));

        Box(DnsQueryControls::kServerBox)->setEditText(QStringLiteral("ns.typed.test"));
        Button(DnsQueryControls::kDefaultDnsButton)->click();
        Button(DnsQueryControls::kDefaultDnsButton)->click();
        QCOMPARE(Box(DnsQueryControls::kServerBox)->currentText(), QString::fromLatin1(server));
        QCOMPARE(Items(DnsQueryControls::kServerBox), (QStringList{server, "ns.typed.test"}));
    }

    // An empty name does nothing at all; an empty server is refused after the
    // name enters the history.
    void emptyNameOrServer()
    {
        MessageRecorder messages;
        page->AppendOutput("before");
        QVERIFY(Query(QStringLiteral("127.0.0.1"), QString()));
        Resolve(QString());
        QCOMPARE(Button(DnsQueryControls::kResolveButton)->text(), QStringLiteral("Resolve Name"));
        QCOMPARE(PaneText(page.get()), std::string("before"));
        QVERIFY(messages.Messages().empty());

        QVERIFY(Query(QString(), QStringLiteral("host1.example.test")));
        QCOMPARE(messages.Texts(), QStringList{"No Dns Server Specified!"});
        QCOMPARE(messages.Messages()[0].kind, MessageKind::Failure);
        QCOMPARE(PaneText(page.get()), std::string("before"));
        QCOMPARE(Items(DnsQueryControls::kNameBox), QStringList{"host1.example.test"});
    }

    void overlongNameIsASocketErrorAfterTheBanner()
    {
        MessageRecorder messages;
        const std::string name(256, 'a');
        QVERIFY(Query(QStringLiteral("127.0.0.1"), QString::fromStdString(name)));
        QCOMPARE(messages.Texts(), QStringList{"Socket Error!"});
        QCOMPARE(PaneText(page.get()), "[DNS QUERY: " + name + "]\r\n\r\n");

        // The same name typed in capitals is asked and printed as typed, not as the history has it.
        QVERIFY(ShowExposed(page.get()));
        Box(DnsQueryControls::kNameBox)->setEditText(QString());
        Box(DnsQueryControls::kNameBox)->setFocus();
        const std::string typed(256, 'A');
        QTest::keyClicks(Box(DnsQueryControls::kNameBox), QString::fromStdString(typed));
        Box(DnsQueryControls::kServerBox)->setFocus();
        Button(DnsQueryControls::kQueryButton)->click();
        QVERIFY(WaitForCaption(Button(DnsQueryControls::kQueryButton), "QUERY"));
        QCOMPARE(PaneText(page.get()), "[DNS QUERY: " + typed + "]\r\n\r\n");
        QCOMPARE(Items(DnsQueryControls::kNameBox), QStringList{QString::fromStdString(name)});
        QCOMPARE(page->DefaultButton(), nullptr);  // QUERY is a plain push button here
    }

    void resolvesNamesAndAddresses()
    {
        const std::pair<const char*, std::string> cases[] = {
            {"localhost", "Resolving Domain Name: localhost\r\n\r\n\t127.0.0.1"},
            {"127.0.0.1", "Resolving IP Address: 127.0.0.1\r\n\r\n\tlocalhost"}};
        for (const auto& [text, pane] : cases) {
            Resolve(QLatin1String(text));
            QCOMPARE(Button(DnsQueryControls::kResolveButton)->text(), QStringLiteral("Stop"));
            QVERIFY(WaitForCaption(Button(DnsQueryControls::kResolveButton), "Resolve Name"));
            QCOMPARE(PaneText(page.get()), "Resolving: \r\n\r\n\t" + pane);
        }
        QCOMPARE(Items(DnsQueryControls::kNameBox), (QStringList{"127.0.0.1", "localhost"}));
        // Address or name by the first and last character only.
        QVERIFY(LooksLikeAddress("1abc2"));  // all ones, as inet_addr reads it
        QVERIFY(!LooksLikeAddress("1.2.3.4a"));
    }

    void stopCancelsTheLookupAndClosingIsQuiet()
    {
        Resolve(QStringLiteral("localhost"));
        Button(DnsQueryControls::kResolveButton)->click();  // before the answer can arrive
        QCOMPARE(Button(DnsQueryControls::kResolveButton)->text(), QStringLiteral("Resolve Name"));
        const std::string expected = "Resolving: \r\n\r\n\tResolving Domain Name: localhost\r\n\r\n\tOperation Cancelled By User";
        QTest::qWait(300);  // the cancelled lookup reports nothing
        QCOMPARE(PaneText(page.get()), expected);

        Resolve(QStringLiteral("localhost"));
        page.reset();
        QTest::qWait(200);
    }

    void queryAndResolutionExcludeEachOther()
    {
        {
            MessageRecorder messages;
            Resolve(QStringLiteral("localhost"));
            Button(DnsQueryControls::kQueryButton)->click();
            QCOMPARE(messages.Texts(), QStringList{"Name Resolution Currently In Progress"});
            QCOMPARE(messages.Messages()[0].kind, MessageKind::Notice);
            QCOMPARE(Button(DnsQueryControls::kQueryButton)->text(), QStringLiteral("QUERY"));
            QVERIFY(WaitForCaption(Button(DnsQueryControls::kResolveButton), "Resolve Name"));
        }

        // The query task waits inside its message box; meanwhile Resolve Name is pressed.
        QString resolveCaption;
        MessageRecorder messages([&](const QString& text) {
            if (text == QLatin1String("No Dns Server Specified!")) {
                Button(DnsQueryControls::kResolveButton)->click();
                resolveCaption = Button(DnsQueryControls::kResolveButton)->text();
            }
            return true;
        });
        QVERIFY(Query(QString(), QStringLiteral("localhost")));
        QCOMPARE(messages.Texts(), (QStringList{"No Dns Server Specified!", "DNS Query Currently In Progress"}));
        QCOMPARE(resolveCaption, QStringLiteral("Resolve Name"));
    }
};

QTEST_MAIN(DnsPageTest)
#include "dns_page_test.moc"
