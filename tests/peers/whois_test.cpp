// Whois against scripted peers: the engine on loopback, the page (real names, port 43) in a namespace.
#include <gtest/gtest.h>

#include <QTcpServer>
#include <memory>
#include <optional>
#include <regex>

#include "support/GuiTest.h"
#include "support/ScriptedPeer.h"
#include "support/TestNamespace.h"
#include "ui/OutputPane.h"
#include "whois/WhoisPage.h"
#include "whois/WhoisQuery.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kNetnsVariable = "QUORLIX_WHOIS_NETNS";

struct Recorder : WhoisOutput {
    std::string shown;  // the last answer or failure
    void ClearOutput() override {}
    void ShowAnswer(std::string_view text) override { shown = "answer:" + std::string(text); }
    void ShowFailure(WhoisStatus status) override { shown = "failure:" + std::string(WhoisStatusText(status)); }
};

// A script step's text: line ends escaped.
std::string Esc(const std::string& text)
{
    return std::regex_replace(std::regex_replace(text, std::regex("\n"), "\\n"), std::regex("\r"), "\\r");
}

std::string Referral(const std::string& value)
{
    return "NetRange: 192.0.2.0 - 192.0.2.255\n\nReferralServer: " + value + "\n";
}

int FreePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return s.serverPort();
}

}  // namespace

TEST(WhoisEngine, DomainQueries)
{
    std::string full;  // 9999 bytes in 99 lines, its CR LF shown as CR CR LF
    for (int i = 0; i < 99; ++i)
        full += std::string(99, 'x') + "\r\r\n";
    const struct {
        std::string script;
        WhoisStatus status;
        std::string shown, query = "example.test";
    } cases[] = {
        {"expect \nclose", WhoisStatus::Ok, "answer:"},
        {"expect \nrepeat 99 " + std::string(99, 'x'), WhoisStatus::Ok, "answer:" + full},
        {"expect \nrepeat 99 " + std::string(99, 'x') + "\nraw x", WhoisStatus::AnswerTooLong, "failure:Insufficient Memory!"},
        {"expect \nstall", WhoisStatus::ReceiveFailed, "failure:Socket Error!"},  // silent past the time-out
        {"expect \ntrickle 20 " + std::string(200, 'x'), WhoisStatus::ReceiveFailed, "failure:Socket Error!"},
        // With CR LF and the terminator, 253 characters fill the 256 of the query line.
        {"expect \nraw ok\\n", WhoisStatus::Ok, "answer:ok\r\n", std::string(253, 'a')},
        {"", WhoisStatus::QueryTooLong, "failure:Query Too Long For Whois Server!", std::string(254, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script.substr(0, 30));
        ScriptedPeer peer(c.script);
        Recorder out;
        const WhoisWaits waits{nullptr, 2s, c.status == WhoisStatus::ReceiveFailed ? 300ms : 2s, 600ms};
        EXPECT_EQ(QueryDomainWhois(c.query, std::string("127.0.0.1"), out, waits, peer.Port()), c.status);
        EXPECT_EQ(out.shown, c.shown);
        EXPECT_EQ(peer.Received(), c.status == WhoisStatus::QueryTooLong ? "" : c.query + "\r\n");
    }
}

// Referrals: not followed to the server itself (written differently) nor
// to an unusable one; at most eight followed.
TEST(WhoisEngine, Referrals)
{
    const WhoisWaits waits{nullptr, 2s, 2s, 2s};
    for (const std::string value : {"whois://", "whois://LOCALHOST.:%", "whois://127.0.0.1:65579"}) {
        const int port = FreePort();
        const std::string referral = Referral(value.substr(0, value.find('%')) + (value.ends_with("%") ? std::to_string(port) : ""));
        ScriptedPeer peer("expect \nraw " + Esc(referral), "127.0.0.1", port);
        Recorder out;
        const bool shown = !value.ends_with("65579");  // read as port 0; would wrap round to 43
        EXPECT_EQ(QueryAddressWhois("192.0.2.1", out, waits, {"localhost", port}), shown ? WhoisStatus::Ok : WhoisStatus::ConnectFailed);
        EXPECT_EQ(out.shown, shown ? "answer:" + WhoisAnswerText(referral) : "failure:Unable To Connect To Whois Server!");
        EXPECT_EQ(peer.Received(), "+ 192.0.2.1\r\n") << value;
    }

    // Ten servers in one process, each referring to the next: it prints their ports, then what each was asked.
    PeerProcess chain({"python3", "-c", "import socket\nss=[socket.create_server(('127.0.0.1',0)) for i in range(10)]\n"
                       "print(*[s.getsockname()[1] for s in ss],flush=True)\nfor i,s in enumerate(ss[:9]):\n"
                       " c,_=s.accept();print(i,c.recv(999),flush=True)\n"
                       " c.sendall(b'server %d\\nx\\n\\nReferralServer: 127.0.0.1:%d\\n'%(i,ss[i+1].getsockname()[1]));c.close()"});
    Recorder out;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", out, waits, {"127.0.0.1", std::stoi(chain.ReadLine())}), WhoisStatus::Ok);
    std::string asked, expected;
    for (int i = 0; i < 9; ++i)
        asked += chain.ReadLine() + "|", expected += std::to_string(i) + (i ? " b'" : " b'+ ") + "192.0.2.1\\r\\n'|";
    EXPECT_EQ(asked, expected);
    EXPECT_TRUE(out.shown.starts_with("answer:server 8")) << out.shown;
}

TEST(WhoisNetns, PageTestsRunInANamespace)
{
    if (std::getenv(kNetnsVariable))
        GTEST_SKIP() << "this is the run inside the namespace";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    const TestNamespace ns("qx-whois");
    ASSERT_TRUE(ns.Ok());
    ns.WriteEtc("hosts", "127.0.0.1 localhost whois.arin.net\n::1 whois.arin.net whois6.test\n127.0.0.2 rwhois.example.test\n127.0.0.4 whois.nic.uk\n");
    ns.WriteEtc("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");  // nothing answers
    EXPECT_TRUE(ns.ExecSelf(kNetnsVariable, "WhoisPageTest.*"));
}

namespace {

// The servers of a row: whois.arin.net and whois.nic.uk on port 43,
// rwhois.example.test on 4321; nothing listens on 127.0.0.3.
struct Peer {
    const char* address;
    int port;
    std::string script, asked;
};

class WhoisPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv(kNetnsVariable))
            GTEST_SKIP() << "runs inside the namespace of WhoisNetns.PageTestsRunInANamespace";
    }
    void Query(const std::optional<QString>& server, const QString& text)
    {
        auto* check = page.Item<QCheckBox>(WhoisControls::kChooseServer);
        if (check->isChecked() != server.has_value())
            check->click();
        page.Item<QComboBox>(WhoisControls::kServerBox)->setEditText(server.value_or(QString()));
        page.Item<QComboBox>(WhoisControls::kQueryBox)->setEditText(text);
        Button()->click();
    }
    QPushButton* Button() { return page.Item<QPushButton>(WhoisControls::kQueryButton); }

    WhoisPage page;
    MessageRecorder messages;
};

}  // namespace

// One after another: a failure keeps what the pane held.
TEST_F(WhoisPageTest, Queries)
{
    const std::string answer = "expect \nraw Answer\\n", rwhois = "rwhois://rwhois.example.test:4321";
    const struct {
        std::optional<QString> server;
        QString query;
        std::vector<Peer> peers;
        std::string pane;
        QString message;
    } cases[] = {
        {{}, "example.co.uk", {{"127.0.0.4", 43, answer, "example.co.uk\r\n"}}, "Answer\r\n", {}},  // the table's server
        {{}, "localhost", {}, "Answer\r\n", "Invalid Domain Name. Not Domain Extension Specified!"},
        {"127.0.0.1", "localhost", {{"127.0.0.1", 43, "expect \nraw Local\\n", "localhost\r\n"}}, "Local\r\n", {}},
        {"", "example.test", {}, "Local\r\n", "No Server Selected."},
        {"127.0.0.3", "example.test", {}, "Local\r\n", "Unable To Connect To Whois Server!"},
        // Address queries: the chosen server plays no part. rwhois://host:port is followed, the bare query sent there.
        {"127.0.0.3", "192.0.2.1",
         {{"127.0.0.1", 43, "expect \nraw " + Esc(Referral(rwhois)), "+ 192.0.2.1\r\n"},
          {"127.0.0.2", 4321, "expect \nraw OrgName: Example\\r\\n", "192.0.2.1\r\n"}},
         "OrgName: Example\r\r\n", {}},
        // On to whois.nic.uk (port 43), which refers back to whois.arin.net: the loop ends there.
        {{}, "192.0.2.2",
         {{"127.0.0.1", 43, "expect \nraw " + Esc(Referral(rwhois)), "+ 192.0.2.2\r\n"},
          {"127.0.0.2", 4321, "expect \nraw " + Esc(Referral("whois://whois.nic.uk")), "192.0.2.2\r\n"},
          {"127.0.0.4", 43, "expect \nraw uk" + Esc(Referral("whois://whois.arin.net")), "192.0.2.2\r\n"}},
         "uk" + WhoisAnswerText(Referral("whois://whois.arin.net")), {}},
        // IPv6: a server with only an IPv6 address; an address asked without its brackets, referred to an IPv6 literal.
        {"whois6.test", "example.test", {{"::1", 43, "expect \nraw Six\\n", "example.test\r\n"}}, "Six\r\n", {}},
        {{}, "[2001:db8::1]",
         {{"127.0.0.1", 43, "expect \nraw " + Esc(Referral("whois://[::1]:4343")), "+ 2001:db8::1\r\n"},
          {"::1", 4343, "expect \nraw Net6\\n", "2001:db8::1\r\n"}, {"::1", 43, "expect \nraw Not IPv4\\n", ""}},
         "Net6\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.toStdString() + " at " + c.server.value_or("the table's server").toStdString());
        std::vector<std::unique_ptr<ScriptedPeer>> peers;
        for (const Peer& p : c.peers)
            peers.push_back(std::make_unique<ScriptedPeer>(p.script, p.address, p.port));
        const auto before = messages.Texts().size();
        Query(c.server, c.query);
        ASSERT_TRUE(WaitForCaption(Button(), QStringLiteral("QUERY")));
        for (std::size_t i = 0; i < peers.size(); ++i)
            EXPECT_EQ(peers[i]->Received(), c.peers[i].asked) << i;
        EXPECT_EQ(PaneText(&page), c.pane);
        // The page's whois command, asked while the same servers listen, finds the same answer, the referral's
        // too (the client neither puts IPv4 first nor ends a referral loop soon: not asked in the three-server rows).
        if (c.message.isEmpty() && c.peers.size() < 3) {
            EXPECT_NE(CommandOutput(page.Pane()->CommandLine()).find(c.pane.substr(0, c.pane.find('\r'))), std::string::npos)
                << page.Pane()->CommandLine();
        }
        EXPECT_EQ(messages.Texts().mid(before), c.message.isEmpty() ? QStringList() : QStringList{c.message});
    }
}

// STOP prints nothing and closes the connection: the peer, which serves one
// at a time, takes the next query.
TEST_F(WhoisPageTest, StopPrintsNothing)
{
    ScriptedPeer peer("expect \nstall", "127.0.0.1", 43);
    for (const char* query : {"one.test", "two.test"}) {
        Query(QStringLiteral("127.0.0.1"), QLatin1String(query));
        ASSERT_TRUE(QTest::qWaitFor([&] { return peer.Received().ends_with(std::string(query) + "\r\n"); }));
        Button()->click();
        EXPECT_EQ(Button()->text(), QStringLiteral("QUERY"));
    }
    EXPECT_EQ(PaneText(&page), "");
    EXPECT_TRUE(messages.Texts().isEmpty());
}
