// Closing pages while their tasks wait for the system resolver, whose name
// server (in a network namespace of the test's own) never answers.
#include <gtest/gtest.h>


#include "dns/DnsQueryPage.h"
#include "icmp/EchoToolPage.h"
#include "support/GuiTest.h"
#include "support/PrivateNameServer.h"

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(nullptr)));

// Abandoned and joined, the task ends at once: the resolver, which asks again
// only after five seconds, is still waiting for its first answer.
TEST(ClosingPages, ATaskWaitingForTheResolverEndsAtOnce)
{
    if (!g_network->Server())
        GTEST_SKIP() << "needs root: a network namespace with a silent name server";
    MessageRecorder messages;
    for (int kind = 0; kind < 3; ++kind) {  // Ping, Traceroute: the host; DNS: the server to ask
        std::unique_ptr<ToolPage> page(kind == 0   ? new PingPage(nullptr)
                                       : kind == 1 ? static_cast<ToolPage*>(new TracePage(nullptr))
                                                   : new DnsQueryPage(nullptr));
        page->Item<QComboBox>(kind < 2 ? EchoToolPage::kHostBox : DnsQueryControls::kServerBox)
            ->setEditText("mute.quorlix.test");
        if (kind == 2)
            page->Item<QComboBox>(DnsQueryControls::kNameBox)->setEditText("example.test");
        const int asked = g_network->Server()->Queries(), lookup = kind == 2 ? 2 : 1;  // DNS: A and AAAA at once
        page->Item<QPushButton>(EchoToolPage::kQueryButton)->click();  // QUERY on all three
        ASSERT_TRUE(QTest::qWaitFor([&] { return g_network->Server()->Queries() >= asked + lookup; })) << kind;
        page->AbandonTasks();
        page->JoinTasks();
        EXPECT_EQ(g_network->Server()->Queries(), asked + lookup) << kind;
    }
}
