// The TCP Socket page against peers on loopback that each test starts itself.
// Run as root, the whole program moves into a network namespace of its own
// whose name server (the address /etc/resolv.conf names) is a small DNS
// server of the test, so names can be looked up, fail or answer late without
// a packet leaving the namespace.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/OutputPane.h"
#include "support/GuiTest.h"
#include "tcpterm/SendTextDialog.h"
#include "tcpterm/TcpSocketPage.h"

#if defined(__SANITIZE_ADDRESS__)
// Freed memory waits in AddressSanitizer's quarantine (256 MB by default)
// before it is reused, which a flood turns into resident memory of its own.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}
#endif

namespace {

using namespace std::chrono_literals;

constexpr int kConnect = 1025, kListen = 1027, kClose = 1026, kHost = 1029, kPort = 1022, kSend = 1028,
              kClear = 1020, kStatus = 1031;

// ---- plain sockets for the peers ------------------------------------------

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(Fd&& o) noexcept : fd(std::exchange(o.fd, -1)) {}
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

sockaddr_in Loopback(uint16_t port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sa.sin_port = htons(port);
    return sa;
}

uint16_t LocalPort(int fd)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    return ntohs(sa.sin_port);
}

Fd ListenLoopback()
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa = Loopback(0);
    if (bind(s.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0 || listen(s.fd, 8) < 0)
        ADD_FAILURE() << "loopback listener: " << strerror(errno);
    return s;
}

// A port on which nothing listens (it was free a moment ago).
uint16_t FreePort()
{
    Fd s = ListenLoopback();
    return LocalPort(s.fd);
}

// Waits for a peer with the event loop running, so the page can connect meanwhile.
Fd AcceptPeer(int listener)
{
    pollfd p{listener, POLLIN, 0};
    if (!QTest::qWaitFor([&] { return poll(&p, 1, 0) == 1; }, 5000))
        return Fd();
    return Fd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

int ConnectLoopback(uint16_t port)
{
    Fd s(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in sa = Loopback(port);
    if (connect(s.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
        return -errno;
    return std::exchange(s.fd, -1);
}

void SendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        bytes.remove_prefix(size_t(n));
    }
}

// Reads what has arrived, with the event loop running, until want bytes are
// in or the peer closed.
std::string ReceiveWhileRunning(int fd, size_t want, int timeoutMs = 5000)
{
    std::string got;
    (void)QTest::qWaitFor(
        [&] {
            char buf[4096];
            ssize_t n;
            while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0)
                got.append(buf, size_t(n));
            return got.size() >= want || n == 0;
        },
        timeoutMs);
    return got;
}

// ---- a private network with a name server of the test's own -----------------

// The name server of /etc/resolv.conf, where the resolver will ask.
std::string ResolverAddress()
{
    std::ifstream conf("/etc/resolv.conf");
    std::string word;
    while (conf >> word) {
        if (word == "nameserver") {
            std::string address;
            conf >> address;
            in_addr a{};
            if (inet_pton(AF_INET, address.c_str(), &a) == 1)
                return address;
        }
    }
    return "127.0.0.53";
}

// Answers A queries for names under .quorlix.test: "slow." ones with 127.0.0.1
// after delayMs, every other one at once with "no such name". AAAA queries
// get an empty answer.
class NameServer {
public:
    std::atomic<int> delayMs{1000};
    std::atomic<int> queries{0};

    bool Start(const std::string& address)
    {
        fd_ = Fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(53);
        inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
        if (bind(fd_.fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
            return false;
        thread_ = std::thread([this] { Serve(); });
        return true;
    }
    ~NameServer()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        std::string reply;
        sockaddr_in to;
    };

    static std::string Reply(const std::string& query, bool* slow)
    {
        // Header (12 bytes), then one question: name labels, type, class.
        size_t i = 12;
        std::string name;
        while (i < query.size() && query[i]) {
            const size_t len = uint8_t(query[i]);
            name += query.substr(i + 1, len) + ".";
            i += len + 1;
        }
        const size_t questionEnd = i + 5;
        if (questionEnd > query.size())
            return {};
        const uint16_t type = uint16_t(uint8_t(query[i + 1]) << 8 | uint8_t(query[i + 2]));
        *slow = name.rfind("slow.", 0) == 0;
        const bool known = *slow && name.size() > 13 && name.ends_with(".quorlix.test.");
        std::string reply = query.substr(0, questionEnd);
        reply[2] = char(0x81);                 // response, recursion desired
        reply[3] = char(known ? 0x80 : 0x83);  // recursion available; no such name
        reply[6] = reply[7] = reply[8] = reply[9] = reply[10] = reply[11] = 0;
        if (known && type == 1) {
            reply[7] = 1;
            const char answer[] = {'\xc0', '\x0c', 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 127, 0, 0, 1};
            reply.append(answer, sizeof answer);
        }
        return reply;
    }

    void Serve()
    {
        std::vector<Pending> pending;
        while (!stop_) {
            pollfd p{fd_.fd, POLLIN, 0};
            if (poll(&p, 1, 5) == 1) {
                char buf[512];
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t n = recvfrom(fd_.fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (n > 12) {
                    ++queries;
                    bool slow = false;
                    std::string reply = Reply(std::string(buf, size_t(n)), &slow);
                    const auto delay = std::chrono::milliseconds(slow ? delayMs.load() : 0);
                    pending.push_back({std::chrono::steady_clock::now() + delay, reply, from});
                }
            }
            const auto now = std::chrono::steady_clock::now();
            std::erase_if(pending, [&](const Pending& r) {
                if (r.due > now)
                    return false;
                sendto(fd_.fd, r.reply.data(), r.reply.size(), 0, reinterpret_cast<const sockaddr*>(&r.to), sizeof r.to);
                return true;
            });
        }
    }

    Fd fd_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

NameServer* g_nameServer = nullptr;

class PrivateNetwork : public testing::Environment {
public:
    void SetUp() override
    {
        if (geteuid() != 0)
            return;
        if (unshare(CLONE_NEWNET) != 0) {
            std::fprintf(stderr, "unshare(CLONE_NEWNET): %s\n", strerror(errno));
            return;
        }
        const std::string server = ResolverAddress();
        std::string commands = "ip link set lo up";
        if (server.rfind("127.", 0) != 0)
            commands += " && ip addr add " + server + "/32 dev lo";
        if (std::system(commands.c_str()) != 0)
            return;
        auto ns = std::make_unique<NameServer>();
        if (ns->Start(server))
            g_nameServer = ns.release();
    }
    void TearDown() override { delete g_nameServer; }
};

[[maybe_unused]] testing::Environment* const g_privateNetwork =
    testing::AddGlobalTestEnvironment(new PrivateNetwork);

// ---- the page ---------------------------------------------------------------

class TcpSocketTest : public testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<TcpSocketPage>(nullptr);
        page->show();
    }

    QString Status() const { return page->Item<QLabel>(kStatus)->text(); }
    bool WaitForStatus(const QString& text, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return Status() == text; }, ms);
    }
    void Fill(const QString& host, const QString& port)
    {
        page->Item<QLineEdit>(kHost)->setText(host);
        page->Item<QLineEdit>(kPort)->setText(port);
    }
    void Click(int id) { page->Item<QPushButton>(id)->click(); }
    // Connects the page to listener and returns the peer's end.
    Fd Connected(int listener, const QString& host = "127.0.0.1")
    {
        Fill(host, QString::number(LocalPort(listener)));
        Click(kConnect);
        Fd peer = AcceptPeer(listener);
        EXPECT_TRUE(WaitForStatus("Connected"));
        return peer;
    }
    std::string Pane() const { return PaneText(page.get()); }
    bool WaitForPane(const std::string& text, int ms = 5000)
    {
        return QTest::qWaitFor([&] { return Pane() == text; }, ms);
    }

    // Presses Send... and answers the modal dialog with text (or cancels).
    void SendText(const QString& text, bool ok = true)
    {
        bool answered = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<SendTextDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "Send Text:");
            auto* edit = dialog->findChild<QPlainTextEdit*>("1000");
            ASSERT_NE(edit, nullptr);
            EXPECT_TRUE(edit->toPlainText().isEmpty());  // empty every time
            // Typed as keys where it can be (Enter makes a new line), else pasted.
            bool ascii = true;
            for (QChar c : text)
                ascii = ascii && c.unicode() < 0x80;
            if (ascii) {
                const QStringList lines = text.split(QLatin1Char('\n'));
                for (qsizetype i = 0; i < lines.size(); ++i) {
                    if (i)
                        QTest::keyClick(edit, Qt::Key_Return);
                    QTest::keyClicks(edit, lines[i]);
                }
            } else {
                edit->insertPlainText(text);
            }
            if (ascii && ok) {  // the keyboard's way: Tab to OK, Enter
                QTest::keyClick(edit, Qt::Key_Tab);
                EXPECT_EQ(dialog->focusWidget(), dialog->findChild<QPushButton*>("1"));
                QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
            } else if (ascii) {
                QTest::keyClick(edit, Qt::Key_Escape);
            } else {
                dialog->findChild<QPushButton*>(ok ? "1" : "2")->click();
            }
            EXPECT_FALSE(dialog->isVisible());
            answered = true;
        });
        Click(kSend);
        EXPECT_TRUE(answered);
    }

    std::unique_ptr<TcpSocketPage> page;
    MessageRecorder messages;
};

TEST_F(TcpSocketTest, ConnectShowsWhatThePeerSendsAndSendsTypedText)
{
    Fd listener = ListenLoopback();
    Fill("127.0.0.1", QString::number(LocalPort(listener.fd)));
    Click(kConnect);
    EXPECT_EQ(Status(), "Connecting...");
    ASSERT_TRUE(WaitForStatus("Connected"));
    Fd peer = AcceptPeer(listener.fd);
    ASSERT_GE(peer.fd, 0);

    // Unprintable bytes show as dots; CR LF passes and shows as a line break.
    SendAll(peer.fd, std::string("A\x00\x07\xff" "B\r\nC\tD", 10));
    ASSERT_TRUE(WaitForPane("A...B\r\nC\tD"));
    EXPECT_EQ(page->Pane()->toPlainText(), "A...B\nC\tD");

    // Connect and Listen are ignored while connected.
    Click(kConnect);
    Click(kListen);
    EXPECT_EQ(Status(), "Connected");

    SendText("first line\nsecond line");
    EXPECT_EQ(ReceiveWhileRunning(peer.fd, 23), "first line\r\nsecond line");
    SendText("never sent", false);
    SendText(QString::fromUtf8("\xc3\xa9t\xc3\xa9"));  // typed text goes as UTF-8
    EXPECT_EQ(ReceiveWhileRunning(peer.fd, 6, 300), "\xc3\xa9t\xc3\xa9");
    EXPECT_TRUE(messages.Texts().isEmpty());

    // Clear Output empties the pane; later data starts it afresh.
    Click(kClear);
    EXPECT_EQ(Pane(), "");
    SendAll(peer.fd, "after\r\n");
    ASSERT_TRUE(WaitForPane("after\r\n"));
}

TEST_F(TcpSocketTest, PeerClosingShowsEverythingThenClosedAndConnectWorksAgain)
{
    Fd listener = ListenLoopback();
    Fd peer = Connected(listener.fd);
    SendAll(peer.fd, "last words\r\n");
    peer = Fd();
    ASSERT_TRUE(WaitForStatus("Closed"));
    EXPECT_EQ(Pane(), "last words\r\n");  // what came before the close is not lost
    EXPECT_FALSE(page->Socket().Valid());

    Fd again = Connected(listener.fd);
    SendText("hello");
    EXPECT_EQ(ReceiveWhileRunning(again.fd, 5), "hello");

    // Close on our side: the peer sees the end, the status says Closed.
    Click(kClose);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_EQ(ReceiveWhileRunning(again.fd, 1), "");
}

TEST_F(TcpSocketTest, LargeSendGoesWholeWhileThePeerTakesItsTime)
{
    Fd listener = ListenLoopback();
    Fd peer = Connected(listener.fd);

    // Far more than the socket buffers hold: the rest goes as the peer reads.
    std::string big;
    for (int i = 0; big.size() < (16u << 20); ++i)
        big += "line " + std::to_string(i) + "\r\n";
    page->Socket().Send(big);
    page->Socket().Send("and the end");
    const std::string got = ReceiveWhileRunning(peer.fd, big.size() + 11, 20000);
    EXPECT_EQ(got.size(), big.size() + 11);
    EXPECT_TRUE(got == big + "and the end");
    EXPECT_EQ(Status(), "Connected");

    // The window closing takes the connection with it.
    page->AbandonTasks();
    page->JoinTasks();
    EXPECT_FALSE(page->Socket().Valid());
    EXPECT_EQ(ReceiveWhileRunning(peer.fd, 1), "");
}

TEST_F(TcpSocketTest, ListenAcceptsOnePeerOnly)
{
    const uint16_t port = FreePort();
    Fill("", QString::number(port));
    Click(kListen);
    EXPECT_EQ(Status(), "Listening...");
    Click(kConnect);  // ignored while listening
    Click(kListen);
    EXPECT_EQ(Status(), "Listening...");

    // Text given while listening goes to the peer that comes.
    SendText("welcome");
    Fd client(ConnectLoopback(port));
    ASSERT_GE(client.fd, 0);
    ASSERT_TRUE(WaitForStatus("Connected"));
    EXPECT_EQ(ReceiveWhileRunning(client.fd, 7), "welcome");
    EXPECT_EQ(ConnectLoopback(port), -ECONNREFUSED);  // nothing listens any more

    SendAll(client.fd, "from the client\r\n");
    ASSERT_TRUE(WaitForPane("from the client\r\n"));
    SendText("to the client");
    EXPECT_EQ(ReceiveWhileRunning(client.fd, 13), "to the client");
}

TEST_F(TcpSocketTest, EscapeLeavesPageAndConnectionAsTheyWere)
{
    Fd listener = ListenLoopback();
    Fd peer = Connected(listener.fd, "localhost");  // looked up (hosts file)
    SendAll(peer.fd, "kept\r\n");
    ASSERT_TRUE(WaitForPane("kept\r\n"));

    QTest::keyClick(page.get(), Qt::Key_Escape);
    QTest::keyClick(page->Pane(), Qt::Key_Escape);
    QTest::keyClick(page->Item<QLineEdit>(kHost), Qt::Key_Escape);
    QTest::qWait(50);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(Status(), "Connected");
    EXPECT_EQ(Pane(), "kept\r\n");
    SendAll(peer.fd, "still here");
    EXPECT_TRUE(WaitForPane("kept\r\nstill here"));
}

TEST_F(TcpSocketTest, BadInputIsCheckedHostFirstThenPort)
{
    EXPECT_EQ(Status(), "Closed");
    Click(kClose);  // nothing to close: the status says Closed again
    Click(kSend);   // nothing to send on: no dialog
    EXPECT_EQ(Status(), "Closed");

    Fill("", "");
    Click(kConnect);
    Fill("", "0");
    Click(kConnect);
    EXPECT_EQ(messages.Texts(), QStringList({"Invalid Host!", "Invalid Host!"}));
    EXPECT_EQ(page->focusWidget(), page->Item<QLineEdit>(kHost));

    for (const char* port : {"0", "65536", "", "99999999999999999999"}) {
        Fill("127.0.0.1", port);
        Click(kConnect);
        EXPECT_EQ(messages.Messages().back().text, "Invalid Port!") << port;
        EXPECT_EQ(page->focusWidget(), page->Item<QLineEdit>(kPort));
        page->Item<QLineEdit>(kHost)->setFocus();
        Click(kListen);
        EXPECT_EQ(messages.Messages().back().text, "Invalid Port!") << port;
        EXPECT_EQ(page->focusWidget(), page->Item<QLineEdit>(kPort));
    }

    // No descriptor left for a socket.
    rlimit limits{};
    getrlimit(RLIMIT_NOFILE, &limits);
    const int lowestFree = dup(0);
    close(lowestFree);
    rlimit none = limits;
    none.rlim_cur = rlim_t(lowestFree);
    setrlimit(RLIMIT_NOFILE, &none);
    Fill("127.0.0.1", "1");
    Click(kConnect);
    Fill("", "1");
    Click(kListen);
    setrlimit(RLIMIT_NOFILE, &limits);
    EXPECT_EQ(messages.Texts().mid(messages.Texts().size() - 2),
              QStringList({"Unable To Create Socket!", "Unable To Create Socket!"}));

    for (const auto& m : messages.Messages())
        EXPECT_EQ(m.kind, MessageKind::Failure);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_FALSE(page->Socket().Valid());
}

TEST_F(TcpSocketTest, FailuresOfTheConnectionShowInTheStatusLine)
{
    // Refused: an error report of the connection.
    Fill("127.0.0.1", QString::number(FreePort()));
    Click(kConnect);
    ASSERT_TRUE(WaitForStatus("Socket Error. Connection Closed."));
    EXPECT_FALSE(page->Socket().Valid());

    // A reset by the peer: the same.
    Fd listener = ListenLoopback();
    {
        Fd peer = Connected(listener.fd);
        const linger abortive{1, 0};
        setsockopt(peer.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    }
    ASSERT_TRUE(WaitForStatus("Socket Error. Connection Closed."));

    // A port another socket listens on.
    Fill("", QString::number(LocalPort(listener.fd)));
    Click(kListen);
    EXPECT_EQ(Status(), "Unable To Listen!");
    EXPECT_FALSE(page->Socket().Valid());

    // An address that cannot be reached at once.
    Fill("255.255.255.255", "9");
    Click(kConnect);
    ASSERT_TRUE(WaitForStatus("Unable To Connect To Host!"));
    EXPECT_FALSE(page->Socket().Valid());

    EXPECT_TRUE(messages.Texts().isEmpty());
    EXPECT_EQ(Pane(), "");  // failures never go into the pane
}

TEST_F(TcpSocketTest, NamesAreLookedUpBesideTheWindow)
{
    if (!g_nameServer)
        GTEST_SKIP() << "needs root: the lookup is kept inside a network namespace of the test";
    Fill("no-such-host.quorlix.test", "80");
    Click(kConnect);
    EXPECT_EQ(Status(), "Connecting...");
    ASSERT_TRUE(WaitForStatus("Unable To Connect To Host!"));
    EXPECT_FALSE(page->Socket().Valid());
    EXPECT_GT(g_nameServer->queries.load(), 0);

    g_nameServer->delayMs = 800;
    Fd listener = ListenLoopback();
    const QString port = QString::number(LocalPort(listener.fd));

    // While the name server takes its time the event loop keeps running.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(10);
    Fill("slow.one.quorlix.test", port);
    Click(kConnect);
    EXPECT_EQ(Status(), "Connecting...");
    EXPECT_EQ(ticks, 0);
    QTest::qWait(300);
    EXPECT_EQ(Status(), "Connecting...");
    EXPECT_GT(ticks, 5);
    Click(kConnect);  // ignored while connecting
    ASSERT_TRUE(WaitForStatus("Connected", 5000));
    Fd peer = AcceptPeer(listener.fd);
    EXPECT_GE(peer.fd, 0);
    Click(kClose);

    // Closed during the lookup: the late answer connects nothing.
    Fill("slow.two.quorlix.test", port);
    Click(kConnect);
    QTest::qWait(100);
    Click(kClose);
    EXPECT_EQ(Status(), "Closed");
    QTest::qWait(1200);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_FALSE(page->Socket().Valid());
    pollfd p{listener.fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
}

// ---- a flood ------------------------------------------------------------------

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

struct FloodFigures {
    qint64 ms = 0;
    qint64 longestStallMs = 0;
    long rssGrowthKiB = 0;
};

// The peer sends `total` bytes made of `pattern` as fast as the page takes
// them, then closes; meanwhile a timer every 5 ms records the longest gap
// between two of its ticks and the resident memory.
FloodFigures Flood(TcpSocketPage* page, const std::string& pattern, size_t total,
                   std::string* tail)
{
    Fd listener = ListenLoopback();
    page->Item<QLineEdit>(kHost)->setText("127.0.0.1");
    page->Item<QLineEdit>(kPort)->setText(QString::number(LocalPort(listener.fd)));
    page->Item<QPushButton>(kConnect)->click();
    Fd peer = AcceptPeer(listener.fd);
    if (peer.fd < 0)
        return {};

    std::string chunk;
    while (chunk.size() < 256 * 1024)
        chunk += pattern;
    chunk.resize(256 * 1024);
    *tail = chunk.substr(chunk.size() - (total % chunk.size() ? total % chunk.size() : chunk.size()));
    std::thread sender([&, fd = std::exchange(peer.fd, -1)] {
        for (size_t sent = 0; sent < total; sent += chunk.size())
            SendAll(fd, std::string_view(chunk).substr(0, std::min(chunk.size(), total - sent)));
        close(fd);
    });

    FloodFigures f;
    const long rssBefore = ResidentKiB();
    long rssPeak = rssBefore;
    QElapsedTimer clock, gap;
    clock.start();
    gap.start();
    // A plain event loop, as the program runs one (QTest::qWaitFor sleeps
    // between its rounds, which would both slow the flood and hide stalls).
    QEventLoop loop;
    QTimer ticker;
    bool closed = false;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        f.longestStallMs = std::max(f.longestStallMs, gap.restart());
        rssPeak = std::max(rssPeak, ResidentKiB());
        closed = page->Item<QLabel>(kStatus)->text() == "Closed";
        if (closed || clock.elapsed() > 600000)
            loop.quit();
    });
    ticker.start(5);
    loop.exec();
    f.ms = clock.elapsed();
    ticker.stop();
    sender.join();
    EXPECT_TRUE(closed);
    f.rssGrowthKiB = rssPeak - rssBefore;
    return f;
}

void Report(const char* what, const FloodFigures& f, size_t total)
{
    std::printf("[ flood    ] %s: %zu MB in %lld ms, longest event-loop stall %lld ms, resident memory grew %ld KiB\n",
                what, total >> 20, (long long)f.ms, (long long)f.longestStallMs, f.rssGrowthKiB);
    std::fflush(stdout);
}

TEST_F(TcpSocketTest, FloodStaysResponsiveAndBounded)
{
    // Text lines mixed with every byte value.
    std::string pattern = "The TCP Socket page shows what the peer sends, 0123456789.\r\n";
    for (int b = 0; b < 256; ++b)
        pattern += char(b);
    constexpr size_t kTotal = 200u << 20;
    std::string tail;
    const FloodFigures f = Flood(page.get(), pattern, kTotal, &tail);
    Report("lines and binary", f, kTotal);
    RecordProperty("longest_stall_ms", int(f.longestStallMs));
    RecordProperty("rss_growth_kib", int(f.rssGrowthKiB));

    // The pane holds the newest text, up to the last byte, and no more than its bound.
    const std::string& shown = PaneText(page.get());
    EXPECT_LE(shown.size(), TerminalSocket::kPaneBound.high);
    EXPECT_GE(shown.size(), TerminalSocket::kPaneBound.keep / 2);
    std::string masked = tail.substr(tail.size() - 1000);
    MaskUnprintable(masked.data(), masked.size());
    EXPECT_TRUE(shown.ends_with(masked));
    EXPECT_LT(f.rssGrowthKiB, 64 * 1024);
}

TEST_F(TcpSocketTest, FloodWithoutLineBreaksStaysResponsiveAndBounded)
{
    constexpr size_t kTotal = 50u << 20;
    std::string tail;
    const FloodFigures f = Flood(page.get(), std::string(1, '\0'), kTotal, &tail);
    Report("one endless line", f, kTotal);
    const std::string& shown = PaneText(page.get());
    EXPECT_LE(shown.size(), TerminalSocket::kPaneBound.lineHigh);
    EXPECT_EQ(shown, std::string(shown.size(), '.'));
    EXPECT_LT(f.rssGrowthKiB, 64 * 1024);
}

}  // namespace
