// The Ping page's handling of its host text, on a fake echo library: an
// empty host does nothing, a long one is cut to the bounded read.
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <cstring>

#include "icmp/EchoToolPage.h"
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
