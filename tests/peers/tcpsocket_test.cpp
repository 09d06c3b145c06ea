// The TCP Socket page against peers on loopback that each test starts itself;
// as root inside a network namespace whose name server is a FakeDnsServer.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
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
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "support/DnsReplyBuilder.h"
#include "support/FloodText.h"
#include "support/GuiTest.h"
#include "support/PrivateNameServer.h"
#include "tcpterm/SendTextDialog.h"
#include "tcpterm/TcpSocketPage.h"
#include "ui/OutputPane.h"

#if defined(__SANITIZE_ADDRESS__)
// Freed memory waits in AddressSanitizer's quarantine (256 MB by default)
// before it is reused, which a flood turns into resident memory of its own.
extern "C" const char* __asan_default_options()
{
    return "quarantine_size_mb=16";
}
#endif

using namespace TcpSocketControls;

namespace {

// A listener on a free port; Accept waits for the page to connect.
struct Listener : QTcpServer {
    Listener() { EXPECT_TRUE(listen(QHostAddress::LocalHost)); }
    QString Port() const { return QString::number(serverPort()); }
    std::unique_ptr<QTcpSocket> Accept()
    {
        (void)QTest::qWaitFor([&] { return hasPendingConnections(); }, 5000);
        return std::unique_ptr<QTcpSocket>(nextPendingConnection());
    }
};

std::string Receive(QTcpSocket& s, qint64 want, int timeoutMs = 5000)
{
    (void)QTest::qWaitFor([&] { return s.bytesAvailable() >= want || s.state() != QAbstractSocket::ConnectedState; },
                          timeoutMs);
    return s.readAll().toStdString();
}

constexpr int kSlowAnswerMs = 800;

// "slow.quorlix.test" is 127.0.0.1 after kSlowAnswerMs (AAAA: none); any
// other name does not exist.
std::vector<FakeDnsServer::Datagram> AnswerQuery(const std::vector<uint8_t>& query)
{
    const std::string q(query.begin(), query.end());
    const size_t nameEnd = q.find('\0', 12);  // the question: name, type, class
    if (nameEnd == std::string::npos || nameEnd + 5 > q.size())
        return {};
    const bool slow = q.compare(12, nameEnd - 12, "\4slow\7quorlix\4test") == 0;
    const bool answered = slow && q.compare(nameEnd + 1, 2, "\0\1", 2) == 0;
    DnsReplyBuilder reply;
    reply.Header(std::uint16_t(query[0] << 8 | query[1]), slow ? 0x8180 : 0x8183, 1, answered ? 1 : 0, 0, 0);
    reply.Raw(std::string_view(q).substr(12, nameEnd + 5 - 12));
    if (answered) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kSlowAnswerMs));
        reply.ARecord(0x7f000001);
    }
    return {{reply.bytes}};
}

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(AnswerQuery)));

class TcpSocketTest : public testing::Test {
protected:
    void SetUp() override { page->show(); }

    QString Status() const { return page->Item<QLabel>(kStatusLine)->text(); }
    bool WaitForStatus(const QString& text) { return QTest::qWaitFor([&] { return Status() == text; }, 5000); }
    void Press(int button, const QString& host, const QString& port)
    {
        page->Item<QLineEdit>(kHostBox)->setText(host);
        page->Item<QLineEdit>(kPortBox)->setText(port);
        Click(button);
    }
    void Click(int id) { page->Item<QPushButton>(id)->click(); }
    // Connects the page to listener and returns the peer's end.
    std::unique_ptr<QTcpSocket> Connected(Listener& listener, const QString& host = "127.0.0.1")
    {
        Press(kConnectButton, host, listener.Port());
        EXPECT_EQ(Status(), "Connecting...");
        auto peer = listener.Accept();
        EXPECT_TRUE(peer && WaitForStatus("Connected"));
        return peer;
    }
    std::string Pane() const { return PaneText(page.get()); }
    bool WaitForPane(const std::string& text) { return QTest::qWaitFor([&] { return Pane() == text; }, 5000); }

    // Presses Send..., enters text into the dialog (pressing Enter between
    // lines) and leaves it the keyboard's way: Tab to OK and Enter, or Escape.
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
            const QStringList lines = text.split(QLatin1Char('\n'));
            for (qsizetype i = 0; i < lines.size(); ++i) {
                if (i)
                    QTest::keyClick(edit, Qt::Key_Return);
                edit->insertPlainText(lines[i]);
            }
            EXPECT_EQ(edit->toPlainText(), text);
            if (ok) {
                QTest::keyClick(edit, Qt::Key_Tab);
                EXPECT_EQ(dialog->focusWidget(), dialog->findChild<QPushButton*>("1"));
            }
            QTest::keyClick(dialog->focusWidget(), ok ? Qt::Key_Return : Qt::Key_Escape);
            EXPECT_FALSE(dialog->isVisible());
            answered = true;
        });
        Click(kSendButton);
        EXPECT_TRUE(answered);
    }

    std::unique_ptr<TcpSocketPage> page = std::make_unique<TcpSocketPage>(nullptr);
    MessageRecorder messages;
};

TEST_F(TcpSocketTest, ConnectShowsWhatThePeerSendsAndSendsTypedText)
{
    Listener listener;
    auto peer = Connected(listener);
    ASSERT_TRUE(peer);

    // Unprintable bytes show as dots; CR LF passes and shows as a line break.
    peer->write(QByteArray("A\x00\x07\xff\x7f\x1f" "B\r\nC\tD", 12));
    ASSERT_TRUE(WaitForPane("A.....B\r\nC\tD"));
    EXPECT_EQ(page->Pane()->toPlainText(), "A.....B\nC\tD");

    Click(kConnectButton);  // ignored while connected
    Click(kListenButton);
    EXPECT_EQ(Status(), "Connected");

    SendText("first line\nsecond line");
    EXPECT_EQ(Receive(*peer, 23), "first line\r\nsecond line");
    SendText("never sent", false);
    SendText(QString::fromUtf8("\xc3\xa9t\xc3\xa9"));  // typed text goes as UTF-8
    EXPECT_EQ(Receive(*peer, 6, 300), "\xc3\xa9t\xc3\xa9");
    EXPECT_TRUE(messages.Texts().isEmpty());

    // Clear Output empties the pane; later data starts it afresh.
    Click(kClearButton);
    EXPECT_EQ(Pane(), "");
    peer->write("after\r\n");
    ASSERT_TRUE(WaitForPane("after\r\n"));
}

TEST_F(TcpSocketTest, PeerClosingShowsEverythingThenClosedAndConnectWorksAgain)
{
    Listener listener;
    auto peer = Connected(listener);
    ASSERT_TRUE(peer);
    peer->write("last words\r\n");
    peer->disconnectFromHost();
    ASSERT_TRUE(WaitForStatus("Closed"));
    EXPECT_EQ(Pane(), "last words\r\n");  // what came before the close is not lost
    EXPECT_FALSE(page->Socket().Valid());

    // Far more than the socket buffers hold: the rest goes as the peer reads.
    peer = Connected(listener, "localhost");  // looked up (hosts file)
    ASSERT_TRUE(peer);
    std::string big;
    for (int i = 0; big.size() < (16u << 20); ++i)
        big += "line " + std::to_string(i) + "\r\n";
    page->Socket().Send(big);
    page->Socket().Send("and the end");
    const std::string got = Receive(*peer, qint64(big.size()) + 11, 20000);
    EXPECT_EQ(got.size(), big.size() + 11);
    EXPECT_TRUE(got == big + "and the end");
    EXPECT_EQ(Status(), "Connected");

    // Close on our side: the peer sees the end, the status says Closed.
    Click(kCloseButton);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_EQ(Receive(*peer, 1), "");
    EXPECT_EQ(peer->state(), QAbstractSocket::UnconnectedState);
}

TEST_F(TcpSocketTest, ListenAcceptsOnePeerOnly)
{
    const quint16 port = Listener().serverPort();  // free a moment ago
    Press(kListenButton, "", QString::number(port));
    EXPECT_EQ(Status(), "Listening...");
    Click(kConnectButton);  // ignored while listening
    Click(kListenButton);
    EXPECT_EQ(Status(), "Listening...");

    SendText("welcome");  // goes to the peer that comes
    QTcpSocket client, second;
    client.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(WaitForStatus("Connected"));
    EXPECT_EQ(Receive(client, 7), "welcome");
    second.connectToHost(QHostAddress::LocalHost, port);  // nothing listens any more
    EXPECT_FALSE(second.waitForConnected(5000));
    EXPECT_EQ(second.error(), QAbstractSocket::ConnectionRefusedError);

    client.write("from the client\r\n");
    ASSERT_TRUE(WaitForPane("from the client\r\n"));

    // The window closing takes the connection with it.
    page->AbandonTasks();
    page->JoinTasks();
    EXPECT_FALSE(page->Socket().Valid());
    EXPECT_EQ(Receive(client, 1), "");
    EXPECT_EQ(client.state(), QAbstractSocket::UnconnectedState);
}

// Connect checks the Host box, then the port, then makes the socket, then
// connects; Listen checks the port, makes the socket, then listens. What the
// connection meets later shows in the status line.
TEST_F(TcpSocketTest, FailuresAreReportedInTheOrderOfChecks)
{
    Click(kCloseButton);  // nothing to close: the status says Closed again
    Click(kSendButton);   // nothing to send on: no dialog
    EXPECT_EQ(Status(), "Closed");

    const struct { int button; const char *host, *port, *message; } boxes[] = {
        {kConnectButton, "", "0", "Invalid Host!"},
        {kConnectButton, "127.0.0.1", "0", "Invalid Port!"},
        {kConnectButton, "127.0.0.1", "65536", "Invalid Port!"},
        {kConnectButton, "127.0.0.1", "", "Invalid Port!"},
        {kConnectButton, "127.0.0.1", "8o", "Invalid Port!"},
        {kListenButton, "", "99999999999999999999", "Invalid Port!"},
    };
    for (const auto& c : boxes) {
        SCOPED_TRACE(std::string(c.host) + ":" + c.port);
        const int box = c.message == std::string_view("Invalid Host!") ? kHostBox : kPortBox;
        page->Item<QLineEdit>(box == kHostBox ? kPortBox : kHostBox)->setFocus();
        const size_t before = messages.Messages().size();
        Press(c.button, c.host, c.port);
        ASSERT_EQ(messages.Messages().size(), before + 1);
        EXPECT_EQ(messages.Messages().back().text, c.message);
        EXPECT_EQ(page->focusWidget(), page->Item<QLineEdit>(box));
    }

    // No descriptor left for a socket.
    rlimit limits{};
    getrlimit(RLIMIT_NOFILE, &limits);
    const int lowestFree = dup(0);
    close(lowestFree);
    const rlimit none{rlim_t(lowestFree), limits.rlim_max};
    setrlimit(RLIMIT_NOFILE, &none);
    Press(kConnectButton, "127.0.0.1", "1");
    Press(kListenButton, "", "1");
    setrlimit(RLIMIT_NOFILE, &limits);
    EXPECT_EQ(messages.Texts().mid(messages.Texts().size() - 2),
              QStringList({"Unable To Create Socket!", "Unable To Create Socket!"}));
    for (const auto& m : messages.Messages())
        EXPECT_EQ(m.kind, MessageKind::Failure);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_FALSE(page->Socket().Valid());
    const size_t boxMessages = messages.Messages().size();

    // An address that cannot be reached at once; a name that is not known
    // (asked of the test's name server, so only as root).
    Press(kConnectButton, "255.255.255.255", "9");
    ASSERT_TRUE(WaitForStatus("Unable To Connect To Host!"));
    EXPECT_FALSE(page->Socket().Valid());
    if (g_network->Server()) {
        Press(kConnectButton, "no-such-host.quorlix.test", "80");
        EXPECT_EQ(Status(), "Connecting...");
        ASSERT_TRUE(WaitForStatus("Unable To Connect To Host!"));
        EXPECT_FALSE(page->Socket().Valid());
        EXPECT_GT(g_network->Server()->Queries(), 0);
    }

    Listener listener;
    Press(kListenButton, "", listener.Port());  // a port in use
    EXPECT_EQ(Status(), "Unable To Listen!");
    EXPECT_FALSE(page->Socket().Valid());

    const quint16 closedPort = Listener().serverPort();  // free a moment ago
    Press(kConnectButton, "127.0.0.1", QString::number(closedPort));  // refused
    ASSERT_TRUE(WaitForStatus("Socket Error. Connection Closed."));
    EXPECT_FALSE(page->Socket().Valid());

    auto peer = Connected(listener);
    ASSERT_TRUE(peer);
    const linger abortive{1, 0};  // closing resets the connection
    setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    peer->abort();
    ASSERT_TRUE(WaitForStatus("Socket Error. Connection Closed."));
    EXPECT_FALSE(page->Socket().Valid());

    EXPECT_EQ(messages.Messages().size(), boxMessages);  // status-line failures only
    EXPECT_EQ(Pane(), "");                               // failures never go into the pane
}

// The press returns while the name server takes its time; closed during the
// lookup, the late answer connects nothing.
TEST_F(TcpSocketTest, ClosedDuringTheLookup)
{
    if (!g_network->Server())
        GTEST_SKIP() << "needs root: the lookup is kept inside a network namespace of the test";
    Listener listener;
    Press(kConnectButton, "slow.quorlix.test", listener.Port());
    EXPECT_EQ(Status(), "Connecting...");
    Click(kConnectButton);  // ignored while connecting
    QTest::qWait(100);
    Click(kCloseButton);
    EXPECT_EQ(Status(), "Closed");
    QTest::qWait(kSlowAnswerMs + 400);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_FALSE(page->Socket().Valid());
    EXPECT_FALSE(listener.hasPendingConnections());
}

long ResidentKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

void SendAll(int fd, std::string_view bytes)
{
    for (ssize_t n; !bytes.empty() && (n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL)) > 0;)
        bytes.remove_prefix(size_t(n));
}

// 200 MB as fast as the page takes them: text lines mixed with every byte
// value, then 50 MB of one endless line of NULs ending in "END".
TEST_F(TcpSocketTest, FloodStaysResponsiveAndBounded)
{
    constexpr size_t kTotal = 200u << 20, kEndlessLine = 50u << 20, kChunk = 256u << 10;
    const std::string mixed = FloodText(kChunk), nuls(kChunk, '\0');
    Listener listener;
    auto peer = Connected(listener);
    ASSERT_TRUE(peer);
    // The peer's own thread writes to a blocking copy of its descriptor.
    const int fd = dup(int(peer->socketDescriptor()));
    peer.reset();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::thread sender([&] {
        for (size_t sent = 0; sent < kTotal; sent += kChunk)
            SendAll(fd, sent < kTotal - kEndlessLine ? mixed : nuls);
        SendAll(fd, "END");
        close(fd);
    });

    const long rssBefore = ResidentKiB();
    long rssPeak = rssBefore;
    size_t largestPane = 0;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;  // as the program runs one: QTest::qWaitFor would slow the flood
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        rssPeak = std::max(rssPeak, ResidentKiB());
        largestPane = std::max(largestPane, Pane().size());
        if (Status() == "Closed" || clock.elapsed() > 600000)
            loop.quit();
    });
    ticker.start(5);
    loop.exec();
    sender.join();

    // Past an overlong line only that line's tail stays.
    EXPECT_EQ(Status(), "Closed");
    EXPECT_LE(largestPane, TerminalSocket::kPaneBound.high);
    const std::string shown = Pane();
    EXPECT_LE(shown.size(), TerminalSocket::kPaneBound.lineHigh);
    EXPECT_GE(shown.size(), TerminalSocket::kPaneBound.lineKeep);
    EXPECT_EQ(shown, std::string(shown.size() - 3, '.') + "END");
    EXPECT_LT(rssPeak - rssBefore, 64 * 1024);
}

}  // namespace
