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
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "dns/DnsQueryPage.h"
#include "icmp/EchoToolPage.h"
#include "support/FakeDnsServer.h"
#include "support/GuiTest.h"

namespace {

// The name server of /etc/resolv.conf, where the resolver will ask.
std::string ResolverAddress()
{
    std::ifstream conf("/etc/resolv.conf");
    in_addr a{};
    for (std::string word, address; conf >> word;)
        if (word == "nameserver" && conf >> address && inet_pton(AF_INET, address.c_str(), &a) == 1)
            return address;
    return "127.0.0.53";
}

FakeDnsServer* g_silentServer = nullptr;

class PrivateNetwork : public testing::Environment {
public:
    void SetUp() override
    {
        if (geteuid() != 0 || unshare(CLONE_NEWNET) != 0)
            return;
        const std::string server = ResolverAddress();
        std::string commands = "ip link set lo up";
        if (server.rfind("127.", 0) != 0)
            commands += " && ip addr add " + server + "/32 dev lo";
        if (std::system(commands.c_str()) == 0)
            g_silentServer = new FakeDnsServer(server, 53, nullptr);
    }
    void TearDown() override { delete g_silentServer; }
};

[[maybe_unused]] testing::Environment* const g_privateNetwork =
    testing::AddGlobalTestEnvironment(new PrivateNetwork);

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
    if (!g_silentServer)
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
        const int asked = g_silentServer->Queries();
        page->Item<QPushButton>(1004)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return g_silentServer->Queries() > asked; }, 5000));

        QElapsedTimer closing;
        closing.start();
        page->AbandonTasks();
        page->JoinTasks();
        EXPECT_LT(closing.elapsed(), kPromptCloseMs);
    }
}
