// Closing pages while their tasks wait for the system resolver, whose name
// server (in a network namespace of the test's own) never answers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
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
static_assert(EchoToolPage::kQueryButton == DnsQueryControls::kQueryButton);  // QUERY on all three pages

}  // namespace

// The window's close (tasks abandoned, then joined) does not wait until the
// resolver gives up.
TEST(ClosingPages, ATaskWaitingForTheResolverEndsAtOnce)
{
    if (!g_network->Server())
        GTEST_SKIP() << "needs root: a network namespace with a silent name server";
    const Case cases[] = {
        {"Ping", [] { return new PingPage(nullptr); }, EchoToolPage::kHostBox},
        {"Traceroute", [] { return new TracePage(nullptr); }, EchoToolPage::kHostBox},
        {"DNS query", [] { return new DnsQueryPage(nullptr); }, DnsQueryControls::kServerBox},
    };
    MessageRecorder messages;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<ToolPage> page(c.make());
        page->Item<QComboBox>(c.box)->setEditText(QStringLiteral("mute.quorlix.test"));
        if (auto* name = page->Item<QComboBox>(DnsQueryControls::kNameBox); c.box == DnsQueryControls::kServerBox)
            name->setEditText(QStringLiteral("example.test"));
        const int asked = g_network->Server()->Queries();
        page->Item<QPushButton>(EchoToolPage::kQueryButton)->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return g_network->Server()->Queries() > asked; }, 5000));

        QElapsedTimer closing;
        closing.start();
        page->AbandonTasks();
        page->JoinTasks();
        EXPECT_LT(closing.elapsed(), kPromptCloseMs);
    }
}
