// The whois engine and page against a whois server of the test's own.
//
// Engine tests run on loopback with ports the kernel picks. Page tests need
// the real names and port 43: they run in a network namespace of their own
// whose hosts file maps whois.arin.net and friends onto loopback. The
// WhoisNetns test creates it and runs this program again inside it (needs root).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/OutputPane.h"
#include "platform/CancelToken.h"
#include "support/GuiTest.h"
#include "whois/WhoisPage.h"
#include "whois/WhoisQuery.h"

using namespace std::chrono_literals;
using testing::ElementsAre;

namespace {

constexpr const char* kNetnsVariable = "QUORLIX_WHOIS_NETNS";

// A whois server: reads one query line per connection, records it and
// answers as its handler says. One connection at a time.
class TestWhoisServer {
public:
    enum class Mode {
        Answer,  // send the bytes, then close
        Stall,   // send nothing and keep the connection open
        Reset,   // close at once with a reset
    };
    struct Reply {
        std::string bytes;
        Mode mode = Mode::Answer;
    };
    using Handler = std::function<Reply(const std::string& line)>;

    TestWhoisServer(const char* address, int port, Handler handler) : handler_(std::move(handler))
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, address, &at.sin_addr);
        if (bind(listener_, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(listener_, 16) != 0) {
            ADD_FAILURE() << "cannot listen on " << address << ":" << port << ": " << strerror(errno);
            return;
        }
        socklen_t length = sizeof at;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&at), &length);
        port_ = ntohs(at.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }

    ~TestWhoisServer()
    {
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(stop_, &one, sizeof one);
        if (thread_.joinable())
            thread_.join();
        close(listener_);
        close(stop_);
    }

    int Port() const { return port_; }

    std::vector<std::string> Received() const
    {
        std::lock_guard lock(mutex_);
        return received_;
    }

    // How many stalled connections the client has closed.
    int StallsEnded() const
    {
        std::lock_guard lock(mutex_);
        return stallsEnded_;
    }

    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5s) const
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] {
            lock.unlock();
            const bool met = condition();
            lock.lock();
            return met;
        });
    }

private:
    // Waits for fd or the stop signal; false on stop or time-out.
    bool Wait(int fd, short events, int timeoutMs = 5000)
    {
        pollfd fds[2] = {{fd, events, 0}, {stop_, POLLIN, 0}};
        return poll(fds, 2, timeoutMs) > 0 && !fds[1].revents && fds[0].revents;
    }

    void Serve()
    {
        while (Wait(listener_, POLLIN, -1)) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::string line;
            char c;
            while (Wait(client, POLLIN) && recv(client, &c, 1, 0) == 1) {
                line += c;
                if (c == '\n')
                    break;
            }
            const Reply reply = handler_(line);
            {
                std::lock_guard lock(mutex_);
                received_.push_back(line);
            }
            changed_.notify_all();
            switch (reply.mode) {
            case Mode::Answer:
                for (std::size_t sent = 0; sent < reply.bytes.size();) {
                    const ssize_t n = send(client, reply.bytes.data() + sent, reply.bytes.size() - sent, MSG_NOSIGNAL);
                    if (n <= 0)
                        break;
                    sent += std::size_t(n);
                }
                break;
            case Mode::Stall: {
                char buffer[64];
                while (Wait(client, POLLIN, -1))
                    if (recv(client, buffer, sizeof buffer, 0) <= 0) {
                        std::lock_guard lock(mutex_);
                        ++stallsEnded_;
                        break;
                    }
                changed_.notify_all();
                break;
            }
            case Mode::Reset: {
                const linger abort{1, 0};
                setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
                break;
            }
            }
            close(client);
        }
    }

    Handler handler_;
    int listener_ = -1;
    int stop_ = eventfd(0, EFD_CLOEXEC);
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> received_;
    int stallsEnded_ = 0;
};

using Reply = TestWhoisServer::Reply;
using Mode = TestWhoisServer::Mode;

// What the engine showed, in order.
struct Recorder : WhoisOutput {
    std::vector<std::string> events;
    void ClearOutput() override { events.push_back("clear"); }
    void ShowAnswer(std::string_view text) override { events.push_back("answer:" + std::string(text)); }
    void ShowFailure(WhoisStatus status) override { events.push_back("failure:" + std::string(WhoisStatusText(status))); }
};

WhoisWaits QuickWaits(const CancelToken* token = nullptr)
{
    WhoisWaits waits;
    waits.token = token;
    waits.connectTimeout = 2s;
    waits.answerTimeout = 2s;
    return waits;
}

std::string Referral(const std::string& value)
{
    return "NetRange: 192.0.2.0 - 192.0.2.255\n\nReferralServer: " + value + "\n";
}

// A port nothing listens on: bound, then given up.
int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at);
    socklen_t length = sizeof at;
    getsockname(fd, reinterpret_cast<sockaddr*>(&at), &length);
    close(fd);
    return ntohs(at.sin_port);
}

}  // namespace

// ---- The engine on loopback ----

TEST(WhoisEngine, AnswerSizeLimit)
{
    for (std::size_t size : {std::size_t(0), std::size_t(9999), std::size_t(10000), std::size_t(65536)}) {
        std::string answer(size, 'x');
        for (std::size_t i = 79; i < size; i += 80)
            answer[i] = '\n';
        TestWhoisServer server("127.0.0.1", 0, [&](const std::string&) { return Reply{answer}; });
        Recorder out;
        QueryDomainWhois("example.test", std::string("127.0.0.1"), out, QuickWaits(), server.Port());
        if (size < 10000)
            EXPECT_THAT(out.events, ElementsAre("answer:" + WhoisAnswerText(answer))) << size;
        else
            EXPECT_THAT(out.events, ElementsAre("failure:Insufficient Memory!")) << size;
    }
}

TEST(WhoisEngine, ReferralLoopsEnd)
{
    // A server that refers to itself, written differently.
    TestWhoisServer self("127.0.0.1", 0, [&](const std::string&) {
        return Reply{Referral("whois://LOCALHOST.:" + std::to_string(self.Port()))};
    });
    Recorder out;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", out, QuickWaits(), {"localhost", self.Port()}), WhoisStatus::Ok);
    EXPECT_EQ(self.Received().size(), 1u);
    EXPECT_EQ(out.events.back(), "answer:" + WhoisAnswerText(Referral("whois://LOCALHOST.:" + std::to_string(self.Port()))));

    // Two servers referring to each other: each is asked once.
    int portB = 0;
    TestWhoisServer a("127.0.0.1", 0, [&](const std::string&) { return Reply{Referral("127.0.0.1:" + std::to_string(portB))}; });
    TestWhoisServer b("127.0.0.1", 0, [&](const std::string&) { return Reply{"from b" + Referral("whois://127.0.0.1:" + std::to_string(a.Port()))}; });
    portB = b.Port();
    Recorder loop;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", loop, QuickWaits(), {"127.0.0.1", a.Port()}), WhoisStatus::Ok);
    EXPECT_THAT(a.Received(), ElementsAre("+ 192.0.2.1\r\n"));
    EXPECT_THAT(b.Received(), ElementsAre("192.0.2.1\r\n"));
    EXPECT_EQ(loop.events.back().rfind("answer:from b", 0), 0u);
}

TEST(WhoisEngine, AtMostEightReferrals)
{
    std::vector<std::unique_ptr<TestWhoisServer>> chain(10);
    for (int i = 9; i >= 0; --i) {
        const std::string next = i < 9 ? std::to_string(chain[std::size_t(i) + 1]->Port()) : "1";
        chain[std::size_t(i)] = std::make_unique<TestWhoisServer>("127.0.0.1", 0, [i, next](const std::string&) {
            return Reply{"server " + std::to_string(i) + Referral("whois://127.0.0.1:" + next)};
        });
    }
    Recorder out;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", out, QuickWaits(), {"127.0.0.1", chain[0]->Port()}), WhoisStatus::Ok);
    for (int i = 0; i <= 8; ++i)
        EXPECT_EQ(chain[std::size_t(i)]->Received().size(), 1u) << i;
    EXPECT_TRUE(chain[9]->Received().empty());
    EXPECT_EQ(out.events.back().rfind("answer:server 8", 0), 0u);
}

TEST(WhoisEngine, UnusableReferralsShowTheAnswer)
{
    TestWhoisServer empty("127.0.0.1", 0, [](const std::string&) { return Reply{Referral("whois://")}; });
    Recorder out;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", out, QuickWaits(), {"127.0.0.1", empty.Port()}), WhoisStatus::Ok);
    EXPECT_EQ(out.events.back(), "answer:" + WhoisAnswerText(Referral("whois://")));

    // A port that is no port cannot be connected to, as a closed one.
    for (const char* port : {"x", "0", "65579"}) {
        TestWhoisServer bad("127.0.0.1", 0, [&](const std::string&) { return Reply{Referral(std::string("whois://127.0.0.1:") + port)}; });
        Recorder badOut;
        EXPECT_EQ(QueryAddressWhois("192.0.2.1", badOut, QuickWaits(), {"127.0.0.1", bad.Port()}), WhoisStatus::ConnectFailed) << port;
        EXPECT_EQ(badOut.events.back(), "failure:Unable To Connect To Whois Server!");
    }
}

TEST(WhoisEngine, Failures)
{
    Recorder refused;
    EXPECT_EQ(QueryDomainWhois("example.test", std::string("127.0.0.1"), refused, QuickWaits(), ClosedPort()), WhoisStatus::ConnectFailed);
    EXPECT_THAT(refused.events, ElementsAre("failure:Unable To Connect To Whois Server!"));

    TestWhoisServer reset("127.0.0.1", 0, [](const std::string&) { return Reply{"", Mode::Reset}; });
    Recorder resetOut;
    EXPECT_EQ(QueryAddressWhois("192.0.2.1", resetOut, QuickWaits(), {"127.0.0.1", reset.Port()}), WhoisStatus::ReceiveFailed);
    EXPECT_THAT(resetOut.events, ElementsAre("clear", "failure:Socket Error!"));

    // A server that closes before answering anything gives an empty answer.
    TestWhoisServer early("127.0.0.1", 0, [](const std::string&) { return Reply{""}; });
    Recorder earlyOut;
    EXPECT_EQ(QueryDomainWhois("example.test", std::string("127.0.0.1"), earlyOut, QuickWaits(), early.Port()), WhoisStatus::Ok);
    EXPECT_THAT(earlyOut.events, ElementsAre("answer:"));

    TestWhoisServer stall("127.0.0.1", 0, [](const std::string&) { return Reply{"", Mode::Stall}; });
    Recorder stallOut;
    WhoisWaits waits = QuickWaits();
    waits.answerTimeout = 200ms;
    EXPECT_EQ(QueryDomainWhois("example.test", std::string("127.0.0.1"), stallOut, waits, stall.Port()), WhoisStatus::ReceiveFailed);
    EXPECT_THAT(stallOut.events, ElementsAre("failure:Socket Error!"));
}

TEST(WhoisEngine, QueryLinesThatDoNotFitAreRefused)
{
    TestWhoisServer server("127.0.0.1", 0, [](const std::string&) { return Reply{"ok\n"}; });
    const std::string longest(253, 'a');  // with CR LF and the terminator: 256
    Recorder fits, tooLong, address;
    EXPECT_EQ(QueryDomainWhois(longest, std::string("127.0.0.1"), fits, QuickWaits(), server.Port()), WhoisStatus::Ok);
    EXPECT_EQ(QueryDomainWhois(longest + "a", std::string("127.0.0.1"), tooLong, QuickWaits(), server.Port()), WhoisStatus::QueryTooLong);
    EXPECT_EQ(QueryAddressWhois("1" + std::string(250, '.') + "1", address, QuickWaits(), {"127.0.0.1", server.Port()}), WhoisStatus::QueryTooLong);
    EXPECT_THAT(server.Received(), ElementsAre(longest + "\r\n"));
    EXPECT_THAT(tooLong.events, ElementsAre("failure:Query Too Long For Whois Server!"));
}

TEST(WhoisEngine, CancelEndsAStalledQueryAtOnceAndShowsNothing)
{
    TestWhoisServer stall("127.0.0.1", 0, [](const std::string&) { return Reply{"", Mode::Stall}; });
    CancelToken token;
    Recorder out;
    std::thread canceller([&] {
        stall.WaitFor([&] { return !stall.Received().empty(); });
        token.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(QueryDomainWhois("example.test", std::string("127.0.0.1"), out, QuickWaits(&token), stall.Port()), WhoisStatus::Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    EXPECT_TRUE(out.events.empty());
    EXPECT_TRUE(stall.WaitFor([&] { return stall.StallsEnded() == 1; })) << "the connection is closed";
}

// ---- The page, in a network namespace of its own ----

namespace {

// The namespace's hosts file: the names the page asks for, on loopback.
constexpr const char* kHosts =
    "127.0.0.1 localhost whois.arin.net whois.nic.uk\n"
    "127.0.0.2 rwhois.example.test\n";

// A namespace with its loopback up and its own hosts and resolver files;
// removed again when it goes.
class TestNamespace {
public:
    TestNamespace() : name_("qx-whois-" + std::to_string(getpid())), etc_("/etc/netns/" + name_)
    {
        ok_ = std::system(("ip netns add " + name_).c_str()) == 0 &&
              std::system(("ip -n " + name_ + " link set lo up").c_str()) == 0;
        std::filesystem::create_directories(etc_);
        std::ofstream(etc_ / "hosts") << kHosts;
        // Names not in the hosts file fail at once: no resolver listens here.
        std::ofstream(etc_ / "resolv.conf") << "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n";
    }
    ~TestNamespace()
    {
        [[maybe_unused]] int status = std::system(("ip netns del " + name_ + " 2>/dev/null").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(etc_, ignored);
    }
    bool Ok() const { return ok_; }
    const std::string& Name() const { return name_; }

private:
    std::string name_;
    std::filesystem::path etc_;
    bool ok_ = false;
};

}  // namespace

TEST(WhoisNetns, PageTestsRunInANamespace)
{
    if (std::getenv(kNetnsVariable))
        GTEST_SKIP() << "this is the run inside the namespace";
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: creates a network namespace";
    TestNamespace ns;
    ASSERT_TRUE(ns.Ok()) << "ip netns add failed";
    const std::string self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string command = std::string(kNetnsVariable) + "=" + ns.Name() + " ip netns exec " + ns.Name() + " " +
                                self + " --gtest_filter=WhoisPageTest.*";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
}

namespace {

// The servers the page meets: whois.arin.net and whois.nic.uk on port 43,
// rwhois.example.test on 4321; nothing listens on 127.0.0.3.
class WhoisPageTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        registry_ = new TestWhoisServer("127.0.0.1", 43, [](const std::string& line) -> Reply {
            if (line == "+ 192.0.2.1\r\n")
                return {Referral("rwhois://rwhois.example.test:4321")};
            if (line == "+ 192.0.2.2\r\n")
                return {Referral("rwhois://rwhois.example.test:4321")};
            if (line == "192.0.2.2\r\n")  // as whois.nic.uk: back to where it began
                return {"from nic.uk" + Referral("whois://whois.arin.net")};
            if (line == "+ 192.0.2.3\r\n")
                return {"NetRange: 192.0.2.0\r\n\r\nReferralServer: rwhois://rwhois.example.test:4321\r\n"};
            if (line == "big9999\r\n" || line == "big10000\r\n")
                return {std::string(line == "big9999\r\n" ? 9999 : 10000, 'w')};
            if (line == "utf8.test\r\n")
                return {"caf\xc3\xa9\r\n"};
            if (line == "latin1.test\r\n")
                return {"caf\xe9\n"};
            if (line == "stall.test\r\n")
                return {"", Mode::Stall};
            return {"Answer for " + line.substr(0, line.size() - 2) + "\n"};
        });
        rwhois_ = new TestWhoisServer("127.0.0.2", 4321, [](const std::string& line) -> Reply {
            if (line == "192.0.2.2\r\n")
                return {Referral("whois://whois.nic.uk")};
            return {"OrgName: Example\nrwhois answer for " + line};
        });
    }
    static void TearDownTestSuite()
    {
        delete registry_;
        delete rwhois_;
    }

    void SetUp() override
    {
        if (!std::getenv(kNetnsVariable))
            GTEST_SKIP() << "runs inside the namespace of WhoisNetns.PageTestsRunInANamespace";
        page_ = std::make_unique<WhoisPage>();
        registrySeen_ = registry_->Received().size();
        rwhoisSeen_ = rwhois_->Received().size();
    }

    // Types the query, presses QUERY and waits for the task to end.
    void Query(const QString& text)
    {
        page_->Item<QComboBox>(1009)->setEditText(text);
        Button()->click();
        ASSERT_TRUE(WaitForCaption(Button(), QStringLiteral("QUERY")));
    }
    void ChooseServer(const QString& server)
    {
        auto* check = page_->Item<QCheckBox>(1059);
        if (!check->isChecked())
            check->click();
        page_->Item<QComboBox>(1060)->setEditText(server);
    }
    QPushButton* Button() const { return page_->Item<QPushButton>(1004); }
    std::vector<std::string> RegistryReceived() const { return Since(registry_->Received(), registrySeen_); }
    std::vector<std::string> RwhoisReceived() const { return Since(rwhois_->Received(), rwhoisSeen_); }
    static std::vector<std::string> Since(std::vector<std::string> all, std::size_t n)
    {
        return {all.begin() + std::ptrdiff_t(std::min(n, all.size())), all.end()};
    }

    static inline TestWhoisServer* registry_ = nullptr;
    static inline TestWhoisServer* rwhois_ = nullptr;
    std::unique_ptr<WhoisPage> page_;
    std::size_t registrySeen_ = 0, rwhoisSeen_ = 0;
    MessageRecorder messages_;
};

}  // namespace

TEST_F(WhoisPageTest, StartsWithTheServerBoxDisabledAndSorted)
{
    auto* box = page_->Item<QComboBox>(1060);
    EXPECT_FALSE(box->isEnabled());
    EXPECT_EQ(box->currentText(), QString());
    ASSERT_EQ(box->count(), 85);
    for (int i = 1; i < box->count(); ++i)
        EXPECT_LT(box->itemText(i - 1), box->itemText(i));
    page_->Item<QCheckBox>(1059)->click();
    EXPECT_TRUE(box->isEnabled());
    page_->Item<QCheckBox>(1059)->click();
    EXPECT_FALSE(box->isEnabled());
}

TEST_F(WhoisPageTest, DomainQueryThroughTheTable)
{
    Query(QStringLiteral("example.co.uk"));
    EXPECT_THAT(RegistryReceived(), ElementsAre("example.co.uk\r\n"));
    EXPECT_EQ(PaneText(page_.get()), "Answer for example.co.uk\r\n");
    EXPECT_EQ(page_->Item<QComboBox>(1009)->itemText(0), QStringLiteral("example.co.uk"));
    EXPECT_TRUE(messages_.Texts().isEmpty());

    Query(QStringLiteral("localhost"));
    EXPECT_THAT(messages_.Texts(), ElementsAre(QStringLiteral("Invalid Domain Name. Not Domain Extension Specified!")));
    EXPECT_EQ(PaneText(page_.get()), "Answer for example.co.uk\r\n") << "the pane keeps what it held";
}

TEST_F(WhoisPageTest, DomainQueryToTheChosenServer)
{
    ChooseServer(QStringLiteral("127.0.0.1"));
    Query(QStringLiteral("localhost"));
    EXPECT_THAT(RegistryReceived(), ElementsAre("localhost\r\n")) << "no top-level check for a chosen server";
    EXPECT_EQ(PaneText(page_.get()), "Answer for localhost\r\n");

    page_->Item<QComboBox>(1060)->setEditText(QString());
    Button()->click();
    EXPECT_THAT(messages_.Texts(), ElementsAre(QStringLiteral("No Server Selected.")));
    EXPECT_EQ(Button()->text(), QStringLiteral("QUERY"));

    ChooseServer(QStringLiteral("127.0.0.3"));
    Query(QStringLiteral("example.test"));
    ChooseServer(QStringLiteral("no-such-host.invalid"));
    Query(QStringLiteral("example.test"));
    EXPECT_THAT(messages_.Texts(), ElementsAre(QStringLiteral("No Server Selected."),
                                               QStringLiteral("Unable To Connect To Whois Server!"),
                                               QStringLiteral("Unable To Connect To Whois Server!")));
    EXPECT_EQ(PaneText(page_.get()), "Answer for localhost\r\n");
}

TEST_F(WhoisPageTest, AddressQueryFollowsTheReferral)
{
    ChooseServer(QStringLiteral("127.0.0.3"));  // plays no part in address queries
    Query(QStringLiteral("192.0.2.1"));
    EXPECT_THAT(RegistryReceived(), ElementsAre("+ 192.0.2.1\r\n"));
    EXPECT_THAT(RwhoisReceived(), ElementsAre("192.0.2.1\r\n"));
    EXPECT_EQ(PaneText(page_.get()), "OrgName: Example\r\nrwhois answer for 192.0.2.1\r\r\n");
    EXPECT_TRUE(messages_.Texts().isEmpty());
}

TEST_F(WhoisPageTest, WhoisSchemeWithoutPortMeansPort43AndTheLoopEnds)
{
    // arin -> rwhois:4321 -> whois://whois.nic.uk (port 43) -> whois://whois.arin.net, already asked.
    Query(QStringLiteral("192.0.2.2"));
    EXPECT_THAT(RegistryReceived(), ElementsAre("+ 192.0.2.2\r\n", "192.0.2.2\r\n"));
    EXPECT_THAT(RwhoisReceived(), ElementsAre("192.0.2.2\r\n"));
    EXPECT_EQ(PaneText(page_.get()), WhoisAnswerText("from nic.uk" + Referral("whois://whois.arin.net")));
}

TEST_F(WhoisPageTest, CrLfAnswerIsShownWithCrCrLfAndNotFollowed)
{
    Query(QStringLiteral("192.0.2.3"));
    EXPECT_TRUE(RwhoisReceived().empty());
    EXPECT_EQ(PaneText(page_.get()), "NetRange: 192.0.2.0\r\r\n\r\r\nReferralServer: rwhois://rwhois.example.test:4321\r\r\n");
}

TEST_F(WhoisPageTest, ShowsUpTo9999Bytes)
{
    ChooseServer(QStringLiteral("127.0.0.1"));
    Query(QStringLiteral("big9999"));
    EXPECT_EQ(PaneText(page_.get()), std::string(9999, 'w'));
    EXPECT_TRUE(messages_.Texts().isEmpty());
    Query(QStringLiteral("big10000"));
    EXPECT_THAT(messages_.Texts(), ElementsAre(QStringLiteral("Insufficient Memory!")));
    EXPECT_EQ(PaneText(page_.get()), std::string(9999, 'w'));
}

TEST_F(WhoisPageTest, AnswerTextIsUtf8OrOneCharacterPerByte)
{
    ChooseServer(QStringLiteral("127.0.0.1"));
    Query(QStringLiteral("utf8.test"));
    EXPECT_EQ(PaneText(page_.get()), "caf\xc3\xa9\r\r\n");
    EXPECT_EQ(page_->Pane()->toPlainText().trimmed(), QStringLiteral("caf\u00e9"));
    Query(QStringLiteral("latin1.test"));
    EXPECT_EQ(PaneText(page_.get()), "caf\xe9\r\n");
    EXPECT_EQ(page_->Pane()->toPlainText().trimmed(), QStringLiteral("caf\u00e9"));
}

TEST_F(WhoisPageTest, StopPrintsNothing)
{
    ChooseServer(QStringLiteral("127.0.0.1"));
    Query(QStringLiteral("before.test"));
    const std::string before = PaneText(page_.get());
    const int stalls = registry_->StallsEnded();

    page_->Item<QComboBox>(1009)->setEditText(QStringLiteral("stall.test"));
    Button()->click();
    EXPECT_EQ(Button()->text(), QStringLiteral("STOP"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !RegistryReceived().empty() && RegistryReceived().back() == "stall.test\r\n"; }));
    Button()->click();
    EXPECT_EQ(Button()->text(), QStringLiteral("QUERY"));
    // The task's wait wakes and its connection closes at once.
    EXPECT_TRUE(registry_->WaitFor([&] { return registry_->StallsEnded() == stalls + 1; }, 2s));
    QTest::qWait(100);
    EXPECT_EQ(PaneText(page_.get()), before);
    EXPECT_TRUE(messages_.Texts().isEmpty());
    EXPECT_EQ(Button()->text(), QStringLiteral("QUERY"));
}
