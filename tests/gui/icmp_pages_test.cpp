// The Ping page's handling of its host text, on a fake echo probe: an empty
// host does nothing, a long one is cut to the bounded read.
#include <QTest>

#include "support/EchoPageTest.h"
#include "support/FakeEchoProbe.h"

class IcmpPagesTest : public QObject {
    Q_OBJECT
private slots:
    void emptyHostLeavesThePaneAlone()
    {
        FakeEchoProbe fake;
        PingPage page;
        page.UseProbe(&fake);
        page.AppendOutput("earlier");
        QCOMPARE(Query(&page, QString()), std::string("earlier"));
        QCOMPARE(page.Item<QComboBox>(EchoToolPage::kHostBox)->count(), 0);
        QVERIFY(fake.sent.empty());
    }

    void hostTextIsCutTo299Characters()
    {
        FakeEchoProbe fake;
        PingPage page;
        page.UseProbe(&fake);
        const QString longText = QStringLiteral("1") + QString(400, QLatin1Char('x'));
        const std::string cut = longText.left(299).toStdString();
        QCOMPARE(Query(&page, longText), PingHead(cut, "255.255.255.255") + "\t5 Milliseconds");
        QCOMPARE(page.Item<QComboBox>(EchoToolPage::kHostBox)->itemText(0).toStdString(), cut);
    }
};

QTEST_MAIN(IcmpPagesTest)
#include "icmp_pages_test.moc"
