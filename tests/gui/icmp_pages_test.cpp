// The Ping page's host text, on a fake echo probe: an empty one does nothing, a long one is cut to the
// bounded read.
#include <QTest>

#include "support/EchoPageTest.h"
#include "support/FakeEchoProbe.h"

class IcmpPagesTest : public QObject {
    Q_OBJECT
private slots:
    void hostText()
    {
        const QString longText = QStringLiteral("1") + QString(400, QLatin1Char('x'));
        const std::string cut = longText.left(299).toStdString();
        // typed, the pane, the history
        for (const auto& [typed, pane, history] : {std::tuple(QString(), std::string("earlier"), QStringList()),
                                                   {longText, PingHead(cut, "255.255.255.255") + "\t5 Milliseconds",
                                                    {QString::fromStdString(cut)}}}) {
            FakeEchoProbe fake;
            PingPage page;
            page.UseProbe(&fake);
            page.AppendOutput("earlier");
            QCOMPARE(Query(&page, typed), pane);
            QCOMPARE(ComboItems(page.Item<QComboBox>(EchoToolPage::kHostBox)), history);
            QCOMPARE(fake.sent.size(), typed.isEmpty() ? 0u : 1u);
        }
    }
};

QTEST_MAIN(IcmpPagesTest)
#include "icmp_pages_test.moc"
