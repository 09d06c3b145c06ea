// The Ping and Traceroute pages' own conduct on a fake echo library: their
// controls, the host history, the bounded host text and an empty host.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <memory>

#include "app/OutputPane.h"
#include "icmp/PingPage.h"
#include "icmp/TracePage.h"
#include "platform/IcmpLibrary.h"
#include "support/GuiTest.h"

namespace {

int g_echoes = 0;

IcmpHandle FakeCreate()
{
    return 1;
}

int FakeClose(IcmpHandle)
{
    return 1;
}

// Every echo is answered by the destination after 5 ms.
std::uint32_t FakeSend(IcmpHandle, std::uint32_t destination, const void*, std::uint16_t, const IpOptionInformation*,
                       void* reply, std::uint32_t, std::uint32_t)
{
    ++g_echoes;
    IcmpEchoReply record{};
    record.Address = destination;
    record.RoundTripTime = 5;
    std::memcpy(reply, &record, sizeof record);
    return 1;
}

const void* FakeOpen()
{
    static const char library = 0;
    return &library;
}

void* FakeLookup(const void*, const char* name)
{
    if (!std::strcmp(name, "IcmpCreateFile"))
        return reinterpret_cast<void*>(&FakeCreate);
    if (!std::strcmp(name, "IcmpCloseHandle"))
        return reinterpret_cast<void*>(&FakeClose);
    return reinterpret_cast<void*>(&FakeSend);
}

const IcmpProvider kFake{&FakeOpen, &FakeLookup, nullptr};

}  // namespace

class IcmpPagesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(LoadIcmpLibrary(kFake) == 1); }
    void cleanupTestCase() { FreeIcmpLibrary(); }

    void controls_data()
    {
        QTest::addColumn<bool>("trace");
        QTest::newRow("ping") << false;
        QTest::newRow("trace") << true;
    }
    void controls()
    {
        QFETCH(bool, trace);
        std::unique_ptr<ToolPage> page(trace ? static_cast<ToolPage*>(new TracePage) : new PingPage);
        auto* host = page->Item<QComboBox>(1011);
        auto* query = page->Item<QPushButton>(1004);
        QVERIFY(host && host->isEditable());
        QVERIFY(query && query->text() == QStringLiteral("QUERY"));
        QCOMPARE(page->DefaultButton(), query);
        QVERIFY(page->Pane() && page->Pane()->isReadOnly());
        QCOMPARE(page->Pane()->accessibleName(),
                 trace ? QStringLiteral("TraceRoute output") : QStringLiteral("Ping output"));
        QCOMPARE(host->accessibleName(), QStringLiteral("Hostname Or IP Address"));
        // The pane is at the bottom of the stacking order, under the group boxes' captions.
        QCOMPARE(page->children().indexOf(page->Pane()), 0);
    }

    void emptyHostLeavesThePaneAlone()
    {
        PingPage page;
        page.AppendOutput("earlier");
        g_echoes = 0;
        page.Item<QPushButton>(1004)->click();
        QVERIFY(WaitForCaption(page.Item<QPushButton>(1004), QStringLiteral("QUERY")));
        QCOMPARE(PaneText(&page), std::string("earlier"));
        QCOMPARE(page.Item<QComboBox>(1011)->count(), 0);
        QCOMPARE(g_echoes, 0);
    }

    void historyIgnoresCaseAndNewHostsGoFirst()
    {
        TracePage page;
        auto* host = page.Item<QComboBox>(1011);
        auto run = [&](const QString& text) {
            host->setEditText(text);
            page.Item<QPushButton>(1004)->click();
            return WaitForCaption(page.Item<QPushButton>(1004), QStringLiteral("QUERY"));
        };
        // Texts that begin with a digit are never looked up, so nothing leaves the host.
        QVERIFY(run(QStringLiteral("127.0.0.1")));
        QVERIFY(run(QStringLiteral("1Host.Example")));
        QVERIFY(run(QStringLiteral("1host.example")));
        QCOMPARE(host->count(), 2);
        QCOMPARE(host->itemText(0), QStringLiteral("1Host.Example"));
        QCOMPARE(host->itemText(1), QStringLiteral("127.0.0.1"));
    }

    void traceOfAHostThatAnswersAtOnce()
    {
        TracePage page;
        page.Item<QComboBox>(1011)->setEditText(QStringLiteral("127.0.0.1"));
        page.Item<QPushButton>(1004)->click();
        QVERIFY(WaitForCaption(page.Item<QPushButton>(1004), QStringLiteral("QUERY")));
        QCOMPARE(PaneText(&page), std::string("\tResolving Address For 127.0.0.1...\r\n\t[127.0.0.1]\r\n\r\n"
                                              "Begining Trace...\r\n\r\nTTL  Host             Ms     Status\r\n"
                                              "-----------------------------------\r\n"
                                              "1    127.0.0.1        5      SUCCESS\r\n\r\nTrace Complete"));
    }

    void hostTextIsCutTo299Characters()
    {
        PingPage page;
        const QString longText = QStringLiteral("1") + QString(400, QLatin1Char('x'));
        page.Item<QComboBox>(1011)->setEditText(longText);
        page.Item<QPushButton>(1004)->click();
        QVERIFY(WaitForCaption(page.Item<QPushButton>(1004), QStringLiteral("QUERY")));
        const std::string cut = longText.left(299).toStdString();
        QCOMPARE(PaneText(&page), "\tResolving Address For " + cut +
                                      "...\r\n\t[255.255.255.255]\r\n\r\n\tPinging Host: [255.255.255.255]...\r\n"
                                      "\t5 Milliseconds");
        QCOMPARE(page.Item<QComboBox>(1011)->itemText(0).toStdString(), cut);
    }
};

QTEST_MAIN(IcmpPagesTest)
#include "icmp_pages_test.moc"
