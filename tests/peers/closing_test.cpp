// Closing pages while their tasks wait on something that will not answer soon.
// Run as root, the whole program moves into a network namespace of its own
// whose name server (the address /etc/resolv.conf names) is a FakeDnsServer
// that never answers: a name given to the system resolver keeps it waiting
// for seconds, and nothing leaves the namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sched.h>
#include <unistd.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "dns/DnsQueryPage.h"
#include "icmp/EchoToolPage.h"
#include "support/PrivateNameServer.h"
#include "support/GuiTest.h"

namespace {

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(nullptr)));

// The resolver gives a silent server five seconds before its first retry.
constexpr int kPromptCloseMs = 2500;

struct Case {
    const char* name;
    std::function<ToolPage*()> make;
    int box;  // where the name goes
};

}  // namespace

// A page whose task waits for the system resolver lets go at once when the
// window closes (its tasks abandoned, then joined), instead of holding the
// close until the resolver gives up.
TEST(ClosingPages, ATaskWaitingForTheResolverEndsAtOnce)
{
    if (!g_network->Server())
        GTEST_SKIP() << "needs root: a network namespace with a silent name server";
    const Case cases[] = {
        {"Ping", [] { return new PingPage(nullptr); }, EchoToolPage::kHostBox},
        {"Traceroute", [] { return new TracePage(nullptr); }, EchoToolPage::kHostBox},
        {"DNS query", [] { return new DnsQueryPage(nullptr); }, DnsQueryPage::kServerBox},
    };
    MessageRecorder messages;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ToolPage> page(c.make());
        page->Item<QComboBox>(c.box)->setEditText(QStringLiteral("mute.quorlix.test"));
        if (auto* name = page->Item<QComboBox>(DnsQueryPage::kNameBox); c.box == DnsQueryPage::kServerBox)
            name->setEditText(QStringLiteral("example.test"));
        const int asked = g_network->Server()->Queries();
        page->Item<QPushButton>(1004)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return g_network->Server()->Queries() > asked; }, 5000));

        QElapsedTimer closing;
        closing.start();
        page->AbandonTasks();
        page->JoinTasks();
        EXPECT_LT(closing.elapsed(), kPromptCloseMs);
    }
}
