// The Dns Query page driven through its controls, without a DNS server: its
// start-up state, its messages, Resolve Name through /etc/hosts, and how the
// query and the resolution exclude each other.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "dns/DnsQueryPage.h"
#include "dns/HostAddress.h"
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
        Box(DnsQueryPage::kServerBox)->setEditText(server);
        Box(DnsQueryPage::kNameBox)->setEditText(name);
        Button(DnsQueryPage::kQueryButton)->click();
        return WaitForCaption(Button(DnsQueryPage::kQueryButton), "QUERY");
    }
    void Resolve(const QString& text)
    {
        Box(DnsQueryPage::kNameBox)->setEditText(text);
        Button(DnsQueryPage::kResolveButton)->click();
    }

private slots:
    void init() { page = std::make_unique<DnsQueryPage>(nullptr); }
    void cleanup() { page.reset(); }

    void startsWithTheDefaultServerWhichGetDefaultDnsPutsBack()
    {
        char server[50] = "";
        AddressToText(GetDefaultDnsServer(), server, sizeof server);
        QCOMPARE(Box(DnsQueryPage::kServerBox)->currentText(), QString::fromLatin1(server));

        Box(DnsQueryPage::kServerBox)->setEditText(QStringLiteral("ns.typed.test"));
        Button(DnsQueryPage::kDefaultDnsButton)->click();
        Button(DnsQueryPage::kDefaultDnsButton)->click();
        QCOMPARE(Box(DnsQueryPage::kServerBox)->currentText(), QString::fromLatin1(server));
        QCOMPARE(Items(DnsQueryPage::kServerBox), (QStringList{server, "ns.typed.test"}));
    }

    // An empty name does nothing at all; an empty server is refused after the
    // name enters the history.
    void emptyNameOrServer()
    {
        MessageRecorder messages;
        page->AppendOutput("before");
        QVERIFY(Query(QStringLiteral("127.0.0.1"), QString()));
        Resolve(QString());
        QCOMPARE(Button(DnsQueryPage::kResolveButton)->text(), QStringLiteral("Resolve Name"));
        QCOMPARE(PaneText(page.get()), std::string("before"));
        QVERIFY(messages.Messages().empty());

        QVERIFY(Query(QString(), QStringLiteral("host1.example.test")));
        QCOMPARE(messages.Texts(), QStringList{"No Dns Server Specified!"});
        QCOMPARE(messages.Messages()[0].kind, MessageKind::Failure);
        QCOMPARE(PaneText(page.get()), std::string("before"));
        QCOMPARE(Items(DnsQueryPage::kNameBox), QStringList{"host1.example.test"});
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
        Box(DnsQueryPage::kNameBox)->setEditText(QString());
        Box(DnsQueryPage::kNameBox)->setFocus();
        const std::string typed(256, 'A');
        QTest::keyClicks(Box(DnsQueryPage::kNameBox), QString::fromStdString(typed));
        Box(DnsQueryPage::kServerBox)->setFocus();
        Button(DnsQueryPage::kQueryButton)->click();
        QVERIFY(WaitForCaption(Button(DnsQueryPage::kQueryButton), "QUERY"));
        QCOMPARE(PaneText(page.get()), "[DNS QUERY: " + typed + "]\r\n\r\n");
        QCOMPARE(Items(DnsQueryPage::kNameBox), QStringList{QString::fromStdString(name)});
        QCOMPARE(page->DefaultButton(), nullptr);  // QUERY is a plain push button here
    }

    void resolvesNamesAndAddresses()
    {
        const std::pair<const char*, std::string> cases[] = {
            {"localhost", "Resolving Domain Name: localhost\r\n\r\n\t127.0.0.1"},
            {"127.0.0.1", "Resolving IP Address: 127.0.0.1\r\n\r\n\tlocalhost"}};
        for (const auto& [text, pane] : cases) {
            Resolve(QLatin1String(text));
            QCOMPARE(Button(DnsQueryPage::kResolveButton)->text(), QStringLiteral("Stop"));
            QVERIFY(WaitForCaption(Button(DnsQueryPage::kResolveButton), "Resolve Name"));
            QCOMPARE(PaneText(page.get()), "Resolving: \r\n\r\n\t" + pane);
        }
        QCOMPARE(Items(DnsQueryPage::kNameBox), (QStringList{"127.0.0.1", "localhost"}));
        // Address or name by the first and last character only.
        QVERIFY(LooksLikeAddress("1abc2"));  // all ones, as inet_addr reads it
        QVERIFY(!LooksLikeAddress("1.2.3.4a"));
    }

    void stopCancelsTheLookupAndClosingIsQuiet()
    {
        Resolve(QStringLiteral("localhost"));
        Button(DnsQueryPage::kResolveButton)->click();  // before the answer can arrive
        QCOMPARE(Button(DnsQueryPage::kResolveButton)->text(), QStringLiteral("Resolve Name"));
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
            Button(DnsQueryPage::kQueryButton)->click();
            QCOMPARE(messages.Texts(), QStringList{"Name Resolution Currently In Progress"});
            QCOMPARE(messages.Messages()[0].kind, MessageKind::Notice);
            QCOMPARE(Button(DnsQueryPage::kQueryButton)->text(), QStringLiteral("QUERY"));
            QVERIFY(WaitForCaption(Button(DnsQueryPage::kResolveButton), "Resolve Name"));
        }

        // The query task waits inside its message box; meanwhile Resolve Name is pressed.
        QString resolveCaption;
        MessageRecorder messages([&](const QString& text) {
            if (text == QLatin1String("No Dns Server Specified!")) {
                Button(DnsQueryPage::kResolveButton)->click();
                resolveCaption = Button(DnsQueryPage::kResolveButton)->text();
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
