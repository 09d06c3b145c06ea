// The TCP Socket page against peers on loopback; as root inside a network namespace of the test.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>

#include "support/DnsReplyBuilder.h"
#include "support/GuiTest.h"
#include "support/PrivateNameServer.h"
#include "support/ScriptedPeer.h"
#include "support/TestNamespace.h"
#include "tcpterm/SendTextDialog.h"
#include "tcpterm/TcpSocketPage.h"
#include "ui/OutputPane.h"

using namespace TcpSocketControls;

namespace {

// The name server of the test's own network: both.test has 127.0.0.1 and 2001:db8::2 (asked for A and AAAA only); no other name exists.
std::vector<FakeDnsServer::Datagram> NoSuchName(const std::vector<uint8_t>& query)
{
    const auto end = std::find(query.begin() + 12, query.end(), 0) + 5;  // the question: name, type, class
    const bool both = end <= query.end() && std::string(query.begin() + 12, end - 5) == "\4both\4test";
    DnsReplyBuilder reply = DnsReplyBuilder::ReplyTo({query.begin(), std::min(end, query.end())}, both);
    if (both) return {{(end[-3] == 1 ? reply.ARecord(0x7f000001) : reply.Pointer(12).Fixed(28, 300, 16).U32(0x20010db8).U32(0).U32(0).U32(2)).bytes}};
    reply.bytes[3] = 0x83;
    return {{reply.bytes}};
}

PrivateNameServer* const g_network =
    static_cast<PrivateNameServer*>(testing::AddGlobalTestEnvironment(new PrivateNameServer(NoSuchName)));

QString FreePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    return QString::number(s.serverPort());
}

// Python's sockets as a peer that runs code once a client comes, then closes.
PeerProcess PythonPeer(const std::string& code)
{
    return PeerProcess({"python3", "-c", "import socket,struct\ns=socket.create_server(('127.0.0.1',0))\n"
                                         "print(s.getsockname()[1],flush=True)\nc,_=s.accept()\n" + code + "\nc.close()"});
}

class TcpSocketTest : public testing::Test {
protected:
    void SetUp() override { page->show(); }

    QString Status() const { return page->Item<QLabel>(kStatusLine)->text(); }
    bool WaitForStatus(const QString& text) { return WaitFor([&] { return Status() == text; }); }
    void Press(int button, const QString& host, const QString& port)
    {
        page->Item<QLineEdit>(kHostBox)->setText(host);
        page->Item<QLineEdit>(kPortBox)->setText(port);
        Click(button);
    }
    void Click(int id) { page->Item<QPushButton>(id)->click(); }
    std::string Pane() const { return PaneText(page.get()); }
    bool WaitFor(std::function<bool()> done, int ms = 10000) { return QTest::qWaitFor(done, ms); }

    // Types text into the Send... dialog (Enter between lines), then Tab to OK and Enter, or Escape.
    void SendText(const QString& text, bool ok = true)
    {
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<SendTextDialog*>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog && dialog->windowTitle() == "Send Text:");
            auto* edit = dialog->findChild<QPlainTextEdit*>("1000");
            EXPECT_TRUE(edit->toPlainText().isEmpty());
            for (const QString& line : text.split(QLatin1Char('\n')))
                edit->insertPlainText(line), QTest::keyClick(edit, Qt::Key_Return);
            QTest::keyClick(edit, Qt::Key_Backspace);
            if (ok)
                QTest::keyClick(edit, Qt::Key_Tab);
            QTest::keyClick(dialog->focusWidget(), ok ? Qt::Key_Return : Qt::Key_Escape);
        });
        Click(kSendButton);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }

    std::unique_ptr<TcpSocketPage> page = std::make_unique<TcpSocketPage>(nullptr);
    MessageRecorder messages;
};

TEST_F(TcpSocketTest, ShowsWhatThePeerSendsAndSendsTypedText)
{
    ScriptedPeer peer("raw A\\x00\\x07\\xff\\x7f\\x1fB\\r\\nC\\tD\nexpect first line\nsend after\nuntil never");
    Press(kConnectButton, "127.0.0.1", QString::number(peer.Port()));
    EXPECT_EQ(Status(), "Connecting...");
    EXPECT_EQ(page->Pane()->CommandLine(), "nc -C 127.0.0.1 " + std::to_string(peer.Port()));
    ASSERT_TRUE(WaitFor([&] { return Pane() == "A.....B\r\nC\tD"; }));  // unprintable bytes as dots
    EXPECT_EQ(page->Pane()->toPlainText(), "A.....B\nC\tD");
    Click(kConnectButton);  // ignored while connected
    Click(kListenButton);
    EXPECT_EQ(Status(), "Connected");
    Click(kClearButton);
    SendText("first line\nsecond line");
    EXPECT_TRUE(WaitFor([&] { return Pane() == "after\r\n"; }));
    SendText("never sent", false);
    SendText(QString::fromUtf8("\xc3\xa9t\xc3\xa9"));  // typed text goes as UTF-8
    Click(kCloseButton);
    EXPECT_EQ(Status(), "Closed");
    EXPECT_TRUE(WaitFor([&] { return peer.Received() == "first line\r\nsecond line\xc3\xa9t\xc3\xa9"; }));
    EXPECT_TRUE(messages.Texts().isEmpty());
}

// Far more than the socket buffers hold: the rest goes as the peer reads.
TEST_F(TcpSocketTest, LargeSend)
{
    ScriptedPeer reader("until END\nsend a\nexpect go\nraw b");
    Press(kConnectButton, "localhost", QString::number(reader.Port()));  // looked up (hosts file)
    ASSERT_TRUE(WaitForStatus("Connected"));
    std::string big;
    for (int i = 0; big.size() < (8u << 20); ++i)
        big += std::to_string(i) + std::string(1000, '-') + "\r\n";
    page->Socket().Send(big + "END\r\n");
    EXPECT_TRUE(WaitFor([&] { return reader.Received() == big + "END\r\n"; }));
    ASSERT_TRUE(WaitFor([&] { return Pane() == "a\r\n"; }));
    page->Socket().Send("go\r\n");  // "b" and the close follow at once, before "b" is due to show
    EXPECT_TRUE(WaitForStatus("Closed"));
    EXPECT_EQ(Pane(), "a\r\nb");
}

TEST_F(TcpSocketTest, ListenAcceptsOnePeerOnly)
{
    const QString port = FreePort();
    Press(kListenButton, "", port);
    Click(kConnectButton);  // ignored while listening
    Click(kListenButton);
    EXPECT_EQ(Status(), "Listening...");
    EXPECT_EQ(page->Pane()->CommandLine(), "nc -C -l " + port.toStdString());
    SendText("welcome");  // goes to the peer that comes
    QTcpSocket client, second;
    client.connectToHost(QHostAddress::LocalHost, port.toUShort());
    ASSERT_TRUE(WaitFor([&] { return client.bytesAvailable() == 7; }));
    EXPECT_EQ(client.readAll(), "welcome");
    EXPECT_EQ(Status(), "Connected");
    second.connectToHost(QHostAddress::LocalHost, port.toUShort());  // nothing listens any more
    EXPECT_FALSE(second.waitForConnected(5000));
    client.write("from the client\r\n");
    EXPECT_TRUE(WaitFor([&] { return Pane() == "from the client\r\n"; }));
    page->AbandonTasks();  // the window closing takes the connection with it
    page->JoinTasks();
    EXPECT_TRUE(WaitFor([&] { return client.state() == QAbstractSocket::UnconnectedState; }));
}

// Connect checks the Host box, then the port; Listen the port. Later failures show in the status line only.
TEST_F(TcpSocketTest, Failures)
{
    const struct { int button; const char *host, *port, *message; } boxes[] = {
        {kConnectButton, "", "0", "Invalid Host!"},
        {kConnectButton, "127.0.0.1", "65536", "Invalid Port!"},
        {kListenButton, "", "8o", "Invalid Port!"},
    };
    for (const auto& c : boxes) {
        const int box = c.message[8] == 'H' ? kHostBox : kPortBox;
        page->Item<QLineEdit>(box == kHostBox ? kPortBox : kHostBox)->setFocus();
        Press(c.button, c.host, c.port);
        EXPECT_EQ(messages.Texts().back(), c.message) << c.host << ":" << c.port;
        EXPECT_EQ(page->focusWidget(), page->Item<QLineEdit>(box)) << c.host << ":" << c.port;
    }
    ScriptedPeer inUse("");
    PeerProcess reset = PythonPeer("c.recv(1)\nc.setsockopt(socket.SOL_SOCKET,socket.SO_LINGER,struct.pack('ii',1,0))");
    const struct { int button; QString host, port, status; } later[] = {
        {kConnectButton, "255.255.255.255", "9", "Unable To Connect To Host!"},  // unreachable at once
        {kListenButton, "", QString::number(inUse.Port()), "Unable To Listen!"},
        {kConnectButton, "127.0.0.1", FreePort(), "Socket Error. Connection Closed."},  // refused
        {kConnectButton, g_network->Server() ? "no-such-host.quorlix.test" : "", "80", "Unable To Connect To Host!"},
    };
    for (const auto& c : later) {
        if (c.host.isEmpty() && c.button == kConnectButton)
            continue;  // the name server of the test needs root
        Press(c.button, c.host, c.port);
        EXPECT_TRUE(WaitForStatus(c.status)) << c.host.toStdString() << ":" << c.port.toStdString();
    }
    Press(kConnectButton, "127.0.0.1", QString::fromStdString(reset.ReadLine()));
    page->Socket().Send("x");  // goes once connected; the peer then resets the connection
    EXPECT_TRUE(WaitForStatus("Socket Error. Connection Closed."));
    EXPECT_EQ(messages.Texts().size(), 3);
    EXPECT_EQ(Pane(), "");
}

// IPv6 beside IPv4: socat at 2001:db8::2 (over an IPv6-only link to a namespace of the test) and at 127.0.0.1, tried first.
TEST_F(TcpSocketTest, Ipv6)
{
    TestNamespace other("tcp6");
    if (!g_network->Server() || !other.Ok()) GTEST_SKIP() << "needs root, for network namespaces of its own";
    const std::string there = "ip netns exec " + other.Name() + " ";
    ASSERT_EQ(std::system(("ip link add v6a type veth peer name v6b netns " + other.Name() + " && ip addr add 2001:db8::1/64 dev v6a nodad"
                           " && ip link set v6a up && " + there + "sh -c 'ip addr add 2001:db8::2/64 dev v6b nodad && ip link set v6b up'").c_str()), 0);
    const auto socat = [](const std::string& c) { return std::make_unique<PeerProcess>(std::vector<std::string>{"sh", "-c", "exec " + c}); };
    auto six = socat(there + "socat TCP6-LISTEN:7001,bind=[2001:db8::2],fork 'SYSTEM:echo six; cat'"), four = socat("socat TCP4-LISTEN:7001,bind=127.0.0.1,fork 'SYSTEM:echo four; cat'");
    ASSERT_TRUE(WaitFor([&] { return std::ranges::count(CommandOutput("ss -Hltn sport = 7001; " + there + "ss -Hltn sport = 7001"), '\n') == 2; }));
    const struct { int button; std::string host, client, peer, shown; } rows[] = {  // client: a command that connects to the page
        {kConnectButton, "2001:db8::2", "", "[2001:db8::2]:7001", "six\n"}, {kConnectButton, "both.test", "", "127.0.0.1:7001", "four\n"},
        {kConnectButton, "both.test", "", "[2001:db8::2]:7001", "six\n"}, {kListenButton, "", there + "socat TCP6:[2001:db8::1]:7002 'SYSTEM:echo from6; cat'", "[2001:db8::2]:", "from6\n"},
        {kListenButton, "", "socat TCP4:127.0.0.1:7002 'SYSTEM:echo from4; cat'", "127.0.0.1:", "from4\n"}};
    for (const auto& r : rows) {
        if (&r == &rows[2]) four.reset();
        Press(r.button, QString::fromStdString(r.host), r.client.empty() ? "7001" : "7002");
        const auto client = r.client.empty() ? nullptr : socat(r.client);
        const QLabel* status = page->Item<QLabel>(kStatusLine);  // the peer in its tool tip and, for readers, its description
        EXPECT_TRUE(WaitFor([&] { return Pane() == r.shown && status->toolTip().startsWith(r.peer.c_str()) &&
                                     status->accessibleDescription().endsWith(status->toolTip()); })) << r.peer;
        Click(kCloseButton), Click(kClearButton);
    }
}

// Lines past the pane's bound keep the newest of what was shown; then one
// endless line: only its tail stays, the last bytes before the close included.
TEST_F(TcpSocketTest, FloodKeepsThePaneBounded)
{
    PeerProcess peer = PythonPeer("for a,b in ((0,100000),(100000,122222)):\n c.sendall(b''.join(b'%06d\\x01\\r\\n' % n for n in range(a,b)))\n"
                                  " c.recv(1)\nc.sendall(b'\\0' * (4 << 20) + b'END')");
    Press(kConnectButton, "127.0.0.1", QString::fromStdString(peer.ReadLine()));
    ASSERT_TRUE(WaitFor([&] { return Pane().size() == 900000; }));
    page->Socket().Send("x");
    ASSERT_TRUE(WaitFor([&] { return Pane().ends_with("122221.\r\n"); }));
    EXPECT_GT(Pane().size(), 500000u);
    page->Socket().Send("x");
    size_t largest = 0;
    EXPECT_TRUE(WaitFor([&] { return (largest = std::max(largest, Pane().size()), Status() == "Closed"); }, 60000));
    EXPECT_LE(largest, TerminalSocket::kPaneBound.high);
    const std::string shown = Pane();
    EXPECT_LE(shown.size(), TerminalSocket::kPaneBound.lineHigh);
    EXPECT_GE(shown.size(), TerminalSocket::kPaneBound.lineKeep);
    EXPECT_EQ(shown, std::string(shown.size() - 3, '.') + "END");
}

}  // namespace
