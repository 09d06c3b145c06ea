// The NetStat page against sockets the test makes on loopback inside a network
// namespace of its own, so the table holds only those: a listener, an
// established pair, a pair in TIME_WAIT, a UDP socket and a dual-stack [::]
// listener with an IPv4 client; compared with ss(8) for the same namespace.
// Needs root for the namespace and the kill.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/OutputPane.h"
#include "hostinfo/NetStatPage.h"
#include "netcap/NetcapClient.h"
#include "support/GuiTest.h"
#include "support/NetnsScope.h"

namespace {

using Lines = std::vector<std::string>;

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(o.fd) { o.fd = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        std::swap(fd, o.fd);
        return *this;
    }
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
};

sockaddr_in V4(const char* address, int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, address, &a.sin_addr);
    return a;
}

Fd Listen(int port, bool dualStack = false)
{
    Fd s(socket(dualStack ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int on = 1, off = 0;
    setsockopt(s.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (dualStack) {
        setsockopt(s.fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(std::uint16_t(port));
        bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a = V4("127.0.0.1", port);
        bind(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    listen(s.fd, 16);
    return s;
}

// A connected pair: the client's end and the server's accepted end.
struct Pair {
    Fd client, server;
    int clientPort = 0;
};

Pair Connect(const Fd& listener, int port)
{
    Pair p;
    p.client = Fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = V4("127.0.0.1", port);
    connect(p.client.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    p.server = Fd(accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC));
    socklen_t size = sizeof a;
    getsockname(p.client.fd, reinterpret_cast<sockaddr*>(&a), &size);
    p.clientPort = ntohs(a.sin_port);
    return p;
}

// "TCP local remote STATE" or "UDP local *.*", the columns' padding dropped.
std::string Row(const std::string& line)
{
    std::istringstream in(line);
    std::string word, row;
    while (in >> word)
        row += (row.empty() ? "" : " ") + word;
    return row;
}

Lines PaneRows(const ToolPage* page)
{
    Lines rows;
    std::istringstream in(PaneText(page));
    std::string line;
    for (int i = 0; std::getline(in, line); ++i) {
        if (i >= 2)
            rows.push_back(Row(line));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// ss(8)'s rows for the namespace, as IPv4 rows of the table: IPv4-mapped
// addresses unwrapped, the dual-stack wildcard "*" as 0.0.0.0, a port "*" as 0.
Lines SsRows(const std::string& ns)
{
    Lines rows;
    for (const char* proto : {"TCP", "UDP"}) {
        const std::string command = "ip netns exec " + ns + " ss -n -a " + (proto[0] == 'T' ? "-t" : "-u");
        FILE* out = popen(command.c_str(), "r");
        char buffer[512];
        for (bool heading = true; out && std::fgets(buffer, sizeof buffer, out); heading = false) {
            std::istringstream in(buffer);
            std::string state, rq, sq, local, peer;
            if (heading || !(in >> state >> rq >> sq >> local >> peer))
                continue;
            auto end = [](std::string e) {
                const size_t colon = e.rfind(':');
                std::string host = e.substr(0, colon), port = e.substr(colon + 1);
                if (host.front() == '[')
                    host = host.substr(1, host.size() - 2);
                if (host.rfind("::ffff:", 0) == 0)
                    host = host.substr(7);
                if (host == "*")
                    host = "0.0.0.0";
                return host + ':' + (port == "*" ? "0" : port);
            };
            local = end(local);
            peer = end(peer);
            if (local.find(':') != local.rfind(':'))
                continue;  // IPv6 proper
            const std::string name = state == "ESTAB" ? "ESTABABLISHED" : state == "TIME-WAIT" ? "TIME_WAIT" : state;
            rows.push_back(proto[0] == 'T' ? "TCP " + local + ' ' + peer + ' ' + name : "UDP " + local + " *.*");
        }
        if (out)
            pclose(out);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Puts the caret on the first line holding text (at its start); false when none does.
bool CaretOn(NetStatPage& page, const std::string& text)
{
    QPlainTextEdit* pane = page.Pane();
    for (QTextBlock b = pane->document()->begin(); b.isValid(); b = b.next()) {
        if (b.text().contains(QString::fromStdString(text))) {
            QTextCursor cursor(b);
            pane->setTextCursor(cursor);
            return true;
        }
    }
    return false;
}

int ReadError(const Fd& s)
{
    char byte;
    return recv(s.fd, &byte, 1, MSG_DONTWAIT) < 0 ? errno : 0;
}

class NetStatPeerTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "needs root: makes a network namespace and kills connections";
        ns_ = std::make_unique<NetnsScope>("qx13-" + std::to_string(getpid()));
        ASSERT_TRUE(ns_->Entered());
        SetNetcapHelperPath(QUORLIX_BINARY_DIR "/src/quorlix-netcap");

        listener_ = Listen(7001);
        established_ = Connect(listener_, 7001);
        closing_ = Listen(7002);
        {
            Pair gone = Connect(closing_, 7002);
            timeWaitPort_ = gone.clientPort;
            close(gone.client.fd);  // the active closer ends in TIME_WAIT
            gone.client.fd = -1;
        }
        udp_ = Fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in a = V4("127.0.0.1", 7003);
        bind(udp_.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        dualStack_ = Listen(7004, true);
        mapped_ = Connect(dualStack_, 7004);
        // Wait for the closed pair to settle into TIME_WAIT.
        for (int i = 0; i < 100 && SsRows(ns_->Name()).size() != 9; ++i)
            QTest::qWait(20);
        page_ = std::make_unique<NetStatPage>(nullptr);
    }
    void TearDown() override
    {
        page_.reset();
        ns_.reset();  // the namespace goes when its last socket closes
    }

    std::string Established() const
    {
        std::string local = "127.0.0.1:7001";
        local.resize(23, ' ');  // its column and two blanks
        return local + "127.0.0.1:" + std::to_string(established_.clientPort);
    }

    std::unique_ptr<NetnsScope> ns_;
    Fd listener_, closing_, udp_, dualStack_;
    Pair established_, mapped_;
    int timeWaitPort_ = 0;
    std::unique_ptr<NetStatPage> page_;
};

TEST_F(NetStatPeerTest, TableMatchesSs)
{
    const std::string client = std::to_string(established_.clientPort);
    const std::string mapped = std::to_string(mapped_.clientPort);
    const Lines expected = [&] {
        Lines rows = {"TCP 127.0.0.1:7001 0.0.0.0:0 LISTEN",
                      "TCP 127.0.0.1:7001 127.0.0.1:" + client + " ESTABABLISHED",
                      "TCP 127.0.0.1:" + client + " 127.0.0.1:7001 ESTABABLISHED",
                      "TCP 127.0.0.1:7002 0.0.0.0:0 LISTEN",
                      "TCP 127.0.0.1:" + std::to_string(timeWaitPort_) + " 127.0.0.1:7002 TIME_WAIT",
                      "TCP 0.0.0.0:7004 0.0.0.0:0 LISTEN",
                      "TCP 127.0.0.1:" + mapped + " 127.0.0.1:7004 ESTABABLISHED",
                      "TCP 127.0.0.1:7004 127.0.0.1:" + mapped + " ESTABABLISHED",
                      "UDP 127.0.0.1:7003 *.*"};
        std::sort(rows.begin(), rows.end());
        return rows;
    }();
    EXPECT_EQ(PaneRows(page_.get()), expected);
    EXPECT_EQ(SsRows(ns_->Name()), expected);

    const std::string pane = PaneText(page_.get());
    EXPECT_EQ(pane.rfind("     Local Address          Remote Address         State           \r\n"
                         "     -------------          --------------         -----           \r\n",
                         0),
              0u);
    for (const char* line : {"TCP  127.0.0.1:7001         0.0.0.0:0              LISTEN\r\n",
                             "TCP  0.0.0.0:7004           0.0.0.0:0              LISTEN\r\n",
                             "UDP  127.0.0.1:7003         *.*                    \r\n"})
        EXPECT_NE(pane.find(line), std::string::npos) << line;
}

// Lines that are no established connection, and an empty pane, give their
// warning and change nothing; so does answering No.
TEST_F(NetStatPeerTest, RefusalsLeaveTheTable)
{
    struct Case {
        const char* caretOn;  // nullptr: an empty pane
        bool answer;
        std::vector<QString> messages;
    } cases[] = {
        {"Local Address", true, {"This Is Not A Valid Connection"}},
        {"UDP ", true, {"This Is Not A Valid Connection"}},
        {"TIME_WAIT", true, {"Can Only Kill Established Connections!"}},
        {"LISTEN", true, {"Can Only Kill Established Connections!"}},
        {nullptr, true, {"Nothing Selected!"}},
        {"ESTAB", false, {"Kill Connection?"}},
    };
    for (const Case& c : cases) {
        page_->RefreshConnections();
        if (c.caretOn)
            ASSERT_TRUE(CaretOn(*page_, c.caretOn));
        else
            page_->ClearOutput();
        const std::string before = PaneText(page_.get());
        Fd extra = Listen(7009);  // would show, were the table refreshed
        MessageRecorder recorder(c.answer);
        page_->Item<QPushButton>(NetStatPage::kKillButton)->click();
        std::vector<QString> texts;
        for (const auto& m : recorder.Messages())
            texts.push_back(m.text);
        EXPECT_EQ(texts, c.messages) << (c.caretOn ? c.caretOn : "(empty)");
        EXPECT_EQ(PaneText(page_.get()), before);
        EXPECT_EQ(ReadError(established_.server), EAGAIN);
    }
}

// The kill reads its line before asking; a refresh while the question is open
// (the timer's) does not change which connection dies. The killed end sees
// ECONNABORTED, its peer a reset, and the table is refreshed.
TEST_F(NetStatPeerTest, KillsTheConnectionUnderTheCaret)
{
    ASSERT_TRUE(CaretOn(*page_, Established()));
    Pair later = Connect(listener_, 7001);
    MessageRecorder recorder([&](const QString& text) {
        if (text == QStringLiteral("Kill Connection?"))
            page_->RefreshConnections();
        return true;
    });
    page_->KillSelectedConnection();
    ASSERT_EQ(recorder.Texts(), QStringList{QStringLiteral("Kill Connection?")});
    EXPECT_EQ(ReadError(established_.server), ECONNABORTED);
    EXPECT_EQ(ReadError(established_.client), ECONNRESET);
    EXPECT_EQ(ReadError(later.server), EAGAIN);
    EXPECT_EQ(PaneText(page_.get()).find(Established()), std::string::npos);
}

// Auto refresh: 00 or nothing gives "1" and a refresh every second, which goes
// on while the page is hidden; the period is read only when the box is checked.
TEST_F(NetStatPeerTest, AutoRefresh)
{
    auto* enabled = page_->Item<QCheckBox>(NetStatPage::kEnabledBox);
    auto* seconds = page_->Item<QLineEdit>(NetStatPage::kSecondsBox);
    EXPECT_EQ(seconds->accessibleName(), QStringLiteral("Seconds"));
    EXPECT_EQ(seconds->maxLength(), 2);
    EXPECT_EQ(page_->DefaultButton(), nullptr);
    EXPECT_FALSE(enabled->isChecked());

    for (const char* typed : {"", "00", "99"}) {
        seconds->setText(QString::fromLatin1(typed));
        enabled->click();
        const bool fast = std::string(typed) != "99";
        EXPECT_EQ(seconds->text(), fast ? QStringLiteral("1") : QStringLiteral("99"));
        EXPECT_EQ(page_->AutoRefreshPeriod(), fast ? 1000 : 99000);
        seconds->setText(QStringLiteral("5"));
        EXPECT_EQ(page_->AutoRefreshPeriod(), fast ? 1000 : 99000);
        enabled->click();
        EXPECT_FALSE(page_->AutoRefreshActive());
    }

    seconds->setText(QStringLiteral("0"));
    enabled->click();
    page_->hide();
    Fd appears = Listen(7010);
    EXPECT_TRUE(QTest::qWaitFor([&] { return PaneText(page_.get()).find("127.0.0.1:7010") != std::string::npos; }, 3000));
}

}  // namespace
