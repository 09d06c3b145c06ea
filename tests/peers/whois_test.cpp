// The whois engine on loopback, and the page (which needs the real names and
// port 43) in a network namespace that WhoisNetns makes and reruns us in.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <map>
#include <memory>
#include <optional>

#include "support/GuiTest.h"
#include "support/TestNamespace.h"
#include "support/WhoisTestServer.h"
#include "whois/WhoisPage.h"
#include "whois/WhoisQuery.h"

using namespace std::chrono_literals;
using testing::ElementsAre;
using testing::ElementsAreArray;

namespace {

constexpr const char* kNetnsVariable = "QUORLIX_WHOIS_NETNS";

// What the engine showed, in order.
struct Recorder : WhoisOutput {
    std::vector<std::string> events;
    void ClearOutput() override { events.push_back("clear"); }
    void ShowAnswer(std::string_view text) override { events.push_back("answer:" + std::string(text)); }
    void ShowFailure(WhoisStatus status) override { events.push_back("failure:" + std::string(WhoisStatusText(status))); }
};

WhoisWaits QuickWaits(std::chrono::milliseconds answerTimeout = 2s)
{
    return {nullptr, 2s, answerTimeout};
}

std::string Referral(const std::string& value)
{
    return "NetRange: 192.0.2.0 - 192.0.2.255\n\nReferralServer: " + value + "\n";
}

Recorder AskAddress(const WhoisTestServer& server, WhoisStatus status)
{
    Recorder out;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", out, QuickWaits(), {"localhost", server.Port()}), status);
    return out;
}

}  // namespace

// ---- The engine on loopback ----

TEST(WhoisEngine, WhatADomainQueryShows)
{
    const struct {
        std::optional<std::string> reply;
        WhoisStatus status;
        std::string shown;
        int trickleMs = 0;
        std::string query = "example.test";
    } cases[] = {
        {"", WhoisStatus::Ok, "answer:"},  // closed before answering
        {WhoisLines(9999), WhoisStatus::Ok, "answer:" + WhoisAnswerText(WhoisLines(9999))},
        {WhoisLines(10000), WhoisStatus::AnswerTooLong, "failure:Insufficient Memory!"},
        {WhoisLines(65536), WhoisStatus::AnswerTooLong, "failure:Insufficient Memory!"},
        {std::nullopt, WhoisStatus::ReceiveFailed, "failure:Socket Error!"},  // silent past the time-out
        {WhoisLines(200), WhoisStatus::ReceiveFailed, "failure:Socket Error!", 20},  // trickling past the answer's limit
        // With CR LF and the terminator, 253 characters fill the 256 of the query line.
        {"ok\n", WhoisStatus::Ok, "answer:ok\r\n", 0, std::string(253, 'a')},
        {"ok\n", WhoisStatus::QueryTooLong, "failure:Query Too Long For Whois Server!", 0, std::string(254, 'a')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        WhoisTestServer server("127.0.0.1", 0, [&](const std::string&) { return c.reply; }, c.trickleMs);
        Recorder out;
        WhoisWaits waits = QuickWaits(c.reply ? 2s : 200ms);
        waits.answerLimit = 500ms;  // the whole answer, however it trickles
        EXPECT_EQ(QueryDomainWhois(c.query, std::string("127.0.0.1"), out, waits, server.Port()), c.status);
        EXPECT_THAT(out.events, ElementsAre(c.shown));
        EXPECT_EQ(server.TakeReceived().size(), c.status == WhoisStatus::QueryTooLong ? 0u : 1u);
    }
    Recorder address;
    EXPECT_EQ(QueryAddressWhois("1" + std::string(250, '.') + "1", address, QuickWaits(), {"127.0.0.1", 1}),
              WhoisStatus::QueryTooLong);
}

// Referrals that are not followed: the answer is shown, or the unusable port
// fails the connection. A value ending in ":" gets the server's own port.
TEST(WhoisEngine, ReferralsNotFollowed)
{
    const std::pair<std::string, bool> cases[] = {
        {"whois://", true},                  // no host
        {"whois://LOCALHOST.:", true},       // the server itself, written differently
        {"whois://127.0.0.1:65579", false},  // read as port 0; would wrap round to 43
    };
    for (const auto& [pattern, shown] : cases) {
        auto valueAt = [&](int port) { return pattern.ends_with(":") ? pattern + std::to_string(port) : pattern; };
        WhoisTestServer server("127.0.0.1", 0, [&](const std::string&) { return Referral(valueAt(server.Port())); });
        const std::string value = valueAt(server.Port());
        const Recorder out = AskAddress(server, shown ? WhoisStatus::Ok : WhoisStatus::ConnectFailed);
        EXPECT_EQ(out.events.back(), shown ? "answer:" + WhoisAnswerText(Referral(value)) : "failure:Unable To Connect To Whois Server!")
            << value;
        EXPECT_EQ(server.TakeReceived().size(), 1u) << value;
    }
}

TEST(WhoisEngine, AtMostEightReferrals)
{
    std::vector<std::unique_ptr<WhoisTestServer>> chain(10);
    for (int i = 9; i >= 0; --i) {
        const std::string next = i < 9 ? std::to_string(chain[std::size_t(i) + 1]->Port()) : "1";
        chain[std::size_t(i)] = std::make_unique<WhoisTestServer>("127.0.0.1", 0, [i, next](const std::string&) {
            return "server " + std::to_string(i) + Referral("127.0.0.1:" + next);
        });
    }
    const Recorder out = AskAddress(*chain[0], WhoisStatus::Ok);
    for (std::size_t i = 0; i < chain.size(); ++i)
        EXPECT_EQ(chain[i]->TakeReceived().size(), i < 9 ? 1u : 0u) << i;
    EXPECT_TRUE(out.events.back().starts_with("answer:server 8"));
}

// ---- The page, in a network namespace of its own ----

TEST(WhoisNetns, PageTestsRunInANamespace)
{
    if (std::getenv(kNetnsVariable))
        GTEST_SKIP() << "this is the run inside the namespace";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    const TestNamespace ns("qx-whois");
    ASSERT_TRUE(ns.Ok());
    ns.WriteEtc("hosts", "127.0.0.1 localhost whois.arin.net whois.nic.uk\n127.0.0.2 rwhois.example.test\n");
    // Names not in the hosts file fail at once: no resolver listens here.
    ns.WriteEtc("resolv.conf", "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n");
    EXPECT_TRUE(ns.ExecSelf(kNetnsVariable, "WhoisPageTest.*"));
}

namespace {

// The servers the page meets: whois.arin.net and whois.nic.uk on port 43,
// rwhois.example.test on 4321; nothing listens on 127.0.0.3.
std::optional<std::string> RegistryAnswer(const std::string& line)
{
    static const std::map<std::string, std::optional<std::string>> answers = {
        {"+ 192.0.2.1\r\n", Referral("rwhois://rwhois.example.test:4321")},
        {"+ 192.0.2.2\r\n", Referral("rwhois://rwhois.example.test:4321")},
        {"192.0.2.2\r\n", "from nic.uk" + Referral("whois://whois.arin.net")},  // as whois.nic.uk
        {"+ 192.0.2.3\r\n", "NetRange: 192.0.2.0\r\n\r\nReferralServer: rwhois://rwhois.example.test:4321\r\n"},
        {"stall.test\r\n", std::nullopt},
    };
    const auto found = answers.find(line);
    return found != answers.end() ? found->second : "Answer for " + line.substr(0, line.size() - 2) + "\n";
}

class WhoisPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (!std::getenv(kNetnsVariable))
            GTEST_SKIP() << "runs inside the namespace of WhoisNetns.PageTestsRunInANamespace";
        registry_.emplace("127.0.0.1", 43, RegistryAnswer);
        rwhois_.emplace("127.0.0.2", 4321, [](const std::string& line) {
            return line == "192.0.2.2\r\n" ? Referral("whois://whois.nic.uk") : "OrgName: Example\nrwhois answer for " + line;
        });
        ASSERT_EQ(registry_->Port(), 43);
        ASSERT_EQ(rwhois_->Port(), 4321);
    }

    // Unchecks "Choose Whois Server" for nullopt.
    void ChooseServer(const std::optional<QString>& server)
    {
        auto* check = page_.Item<QCheckBox>(WhoisControls::kChooseServer);
        if (check->isChecked() != server.has_value())
            check->click();
        page_.Item<QComboBox>(WhoisControls::kServerBox)->setEditText(server.value_or(QString()));
    }
    void Query(const QString& text)
    {
        page_.Item<QComboBox>(WhoisControls::kQueryBox)->setEditText(text);
        Button()->click();
        ASSERT_TRUE(WaitForCaption(Button(), QStringLiteral("QUERY")));
    }
    QPushButton* Button() { return page_.Item<QPushButton>(WhoisControls::kQueryButton); }

    std::optional<WhoisTestServer> registry_, rwhois_;
    WhoisPage page_;
    MessageRecorder messages_;
};

}  // namespace

// One after another: a failure keeps what the pane held.
TEST_F(WhoisPageTest, DomainQueries)
{
    const struct {
        std::optional<QString> server;
        QString query;
        std::vector<std::string> asked;
        std::string pane;
        QString message;
    } cases[] = {
        {{}, "example.co.uk", {"example.co.uk\r\n"}, "Answer for example.co.uk\r\n", {}},  // through the table
        {{}, "localhost", {}, "Answer for example.co.uk\r\n", "Invalid Domain Name. Not Domain Extension Specified!"},
        {"127.0.0.1", "localhost", {"localhost\r\n"}, "Answer for localhost\r\n", {}},  // no check for a chosen server
        {"", "example.test", {}, "Answer for localhost\r\n", "No Server Selected."},
        {"127.0.0.3", "example.test", {}, "Answer for localhost\r\n", "Unable To Connect To Whois Server!"},
        {"no-such-host.invalid", "example.test", {}, "Answer for localhost\r\n", "Unable To Connect To Whois Server!"},
        {"127.0.0.1", "example.test", {"example.test\r\n"}, "Answer for example.test\r\n", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.toStdString() + " at " + c.server.value_or("the table's server").toStdString());
        const auto before = messages_.Texts().size();
        ChooseServer(c.server);
        Query(c.query);
        EXPECT_THAT(registry_->TakeReceived(), ElementsAreArray(c.asked));
        EXPECT_EQ(PaneText(&page_), c.pane);
        EXPECT_EQ(messages_.Texts().mid(before), c.message.isEmpty() ? QStringList() : QStringList{c.message});
    }
    // Typed in other letters than the history's entry, the name is sent as typed.
    auto* box = page_.Item<QComboBox>(WhoisControls::kQueryBox);
    EXPECT_GE(box->findText(QStringLiteral("example.test"), Qt::MatchFixedString | Qt::MatchCaseSensitive), 0);
    ASSERT_TRUE(ShowExposed(&page_));
    box->setEditText(QString());
    box->setFocus();
    QTest::keyClicks(box, "EXAMPLE.test");
    Button()->click();  // QUERY moves the focus to the pane first
    ASSERT_TRUE(WaitForCaption(Button(), QStringLiteral("QUERY")));
    EXPECT_THAT(registry_->TakeReceived(), ElementsAre("EXAMPLE.test\r\n"));
    EXPECT_EQ(PaneText(&page_), "Answer for EXAMPLE.test\r\n");
}

TEST_F(WhoisPageTest, AddressQueries)
{
    const struct {
        QString query;
        std::vector<std::string> registryAsked, rwhoisAsked;
        std::string pane;
    } cases[] = {
        // rwhois://host:port is followed; only the second answer is shown.
        {"192.0.2.1", {"+ 192.0.2.1\r\n"}, {"192.0.2.1\r\n"}, "OrgName: Example\r\nrwhois answer for 192.0.2.1\r\r\n"},
        // On to whois://whois.nic.uk (port 43), which refers back to whois.arin.net: the loop ends there.
        {"192.0.2.2", {"+ 192.0.2.2\r\n", "192.0.2.2\r\n"}, {"192.0.2.2\r\n"},
         WhoisAnswerText("from nic.uk" + Referral("whois://whois.arin.net"))},
        // CR LF line ends show as CR CR LF, where the referral is no longer found.
        {"192.0.2.3", {"+ 192.0.2.3\r\n"}, {}, "NetRange: 192.0.2.0\r\r\n\r\r\nReferralServer: rwhois://rwhois.example.test:4321\r\r\n"},
    };
    ChooseServer(QStringLiteral("127.0.0.3"));  // plays no part in address queries
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query.toStdString());
        Query(c.query);
        EXPECT_THAT(registry_->TakeReceived(), ElementsAreArray(c.registryAsked));
        EXPECT_THAT(rwhois_->TakeReceived(), ElementsAreArray(c.rwhoisAsked));
        EXPECT_EQ(PaneText(&page_), c.pane);
    }
    EXPECT_TRUE(messages_.Texts().isEmpty());
}

TEST_F(WhoisPageTest, StopPrintsNothing)
{
    ChooseServer(QStringLiteral("127.0.0.1"));
    Query(QStringLiteral("before.test"));
    registry_->TakeReceived();
    page_.Item<QComboBox>(WhoisControls::kQueryBox)->setEditText(QStringLiteral("stall.test"));
    Button()->click();
    EXPECT_EQ(Button()->text(), QStringLiteral("STOP"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !registry_->TakeReceived().empty(); }));
    Button()->click();
    EXPECT_EQ(Button()->text(), QStringLiteral("QUERY"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return registry_->StallsEnded() == 1; })) << "the wait woke, the connection closed";
    EXPECT_EQ(PaneText(&page_), "Answer for before.test\r\n");
    EXPECT_TRUE(messages_.Texts().isEmpty());
}
