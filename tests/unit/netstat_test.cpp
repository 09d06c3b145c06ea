// The NetStat text: state names, the exact table lines, the line read back for
// the kill, and the socket tables from replayed socket-diagnostics dumps.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "hostinfo/ConnectionTable.h"
#include "support/SockDiagDump.h"

namespace {

const std::string kHeadings =
    "     Local Address          Remote Address         State           \r\n"
    "     -------------          --------------         -----           \r\n";

std::uint32_t Address(const char* text)
{
    return inet_addr(text);
}

std::uint32_t Port(int port)
{
    return htons(std::uint16_t(port));
}

TEST(TcpStateName, NamesTruncationAndNull)
{
    const char* names[] = {"UNKNOWN",    "CLOSED",  "LISTEN",   "SYN_SENT",  "SYN_RCVD", "ESTABABLISHED", "FIN_WAIT1",
                           "FIN_WAIT2", "CLOSE_WAIT", "CLOSING", "LAST_ACK", "TIME_WAIT", "UNKNOWN", "UNKNOWN"};
    for (std::uint32_t state = 0; state < std::size(names); ++state) {
        char buffer[14] = "x";
        TcpStateName(state, buffer, sizeof buffer);
        EXPECT_STREQ(buffer, names[state]) << state;
    }
    char small[6] = "xxxxx";
    TcpStateName(5, small, sizeof small);
    EXPECT_STREQ(small, "ESTAB");
    char exact[14];
    TcpStateName(5, exact, sizeof exact);
    EXPECT_STREQ(exact, "ESTABABLISHED");
    TcpStateName(5, nullptr, 10);  // nothing happens
    char none[1] = {'x'};
    TcpStateName(5, none, 0);
    EXPECT_EQ(none[0], 'x');
}

TEST(ConnectionTableText, ExactLines)
{
    const std::vector<TcpRow> tcp = {
        {2, Address("0.0.0.0"), Port(22), Address("0.0.0.0"), Port(4711)},  // LISTEN shows remote port 0
        {5, Address("127.0.0.1"), Port(80), Address("127.0.0.1"), Port(40000)},
        {12, Address("255.255.255.255"), Port(65535), Address("10.1.2.3"), Port(1)},
        {11, Address("127.0.0.1"), Port(1), Address("127.0.0.1"), Port(2)},
    };
    const std::vector<UdpRow> udp = {{Address("127.0.0.1"), Port(53)}};
    EXPECT_EQ(ConnectionTableText(&tcp, &udp),
              kHeadings +
                  "TCP  0.0.0.0:22             0.0.0.0:0              LISTEN\r\n"
                  "TCP  127.0.0.1:80           127.0.0.1:40000        ESTABABLISHED\r\n"
                  "TCP  255.255.255.255:65535  10.1.2.3:1             UNKNOWN\r\n"
                  "TCP  127.0.0.1:1            127.0.0.1:2            TIME_WAIT\r\n"
                  "UDP  127.0.0.1:53           *.*                    \r\n");
    EXPECT_EQ(ConnectionTableText(nullptr, nullptr), kHeadings + "No Data Available!\r\nNo Data Available!\r\n");
    const std::vector<TcpRow> noTcp;
    EXPECT_EQ(ConnectionTableText(&noTcp, nullptr), kHeadings + "No Data Available!\r\n");
}

TEST(ReadConnectionLine, PrintedLinesReadBack)
{
    const std::vector<TcpRow> tcp = {
        {5, Address("255.255.255.255"), Port(65535), Address("255.255.255.255"), Port(65535)},
        {5, Address("127.0.0.1"), Port(0), Address("10.0.0.1"), Port(443)},
    };
    const std::string text = ConnectionTableText(&tcp, nullptr);
    size_t start = kHeadings.size();
    for (const TcpRow& printed : tcp) {
        const size_t end = text.find("\r\n", start);
        TcpRow row;
        ASSERT_TRUE(ReadConnectionLine(std::string_view(text).substr(start, end - start), &row));
        EXPECT_EQ(row.state, 12u);
        EXPECT_EQ(row.localAddr, printed.localAddr);
        EXPECT_EQ(row.localPort, printed.localPort);
        EXPECT_EQ(row.remoteAddr, printed.remoteAddr);
        EXPECT_EQ(row.remotePort, printed.remotePort);
        start = end + 2;
    }
}

TEST(ReadConnectionLine, OtherLayoutsAreRefused)
{
    const char* lines[] = {
        "",
        "TCP ",
        "TCP  ESTAB",
        "TCP  127.0.0.1:80 ESTAB",                                   // no remote end
        "TCP  127.0.0.1:80           127.0.0.1                ESTAB",  // remote without port
        "TCP  127.0.0.1:65536        127.0.0.1:1            ESTABABLISHED",
        "TCP  127.0.0.1:8x           127.0.0.1:1            ESTABABLISHED",
        "TCP  127.0.0.1:             127.0.0.1:1            ESTABABLISHED",
        "TCP  1.2.3:80               127.0.0.1:1            ESTABABLISHED",
        "TCP  0x7f.0.0.1:80          127.0.0.1:1            ESTABABLISHED",
        "TCP  127.0.0.1:80           127.0.0.1:000001       ESTABABLISHED",
        "TCP  1111111111111111111111:80 127.0.0.1:1         ESTABABLISHED",
        "xxTCP 127.0.0.1:80           127.0.0.1:1           ESTABABLISHED",
    };
    for (const char* line : lines) {
        TcpRow row;
        EXPECT_FALSE(ReadConnectionLine(line, &row)) << line;
    }
}

TEST(SocketTable, LinuxStatesMapOntoTheTable)
{
    const std::pair<int, std::uint32_t> states[] = {
        {TCP_ESTABLISHED, 5}, {TCP_SYN_SENT, 3}, {TCP_SYN_RECV, 4},   {TCP_FIN_WAIT1, 6}, {TCP_FIN_WAIT2, 7},
        {TCP_TIME_WAIT, 11},  {TCP_CLOSE, 1},    {TCP_CLOSE_WAIT, 8}, {TCP_LAST_ACK, 10}, {TCP_LISTEN, 2},
        {TCP_CLOSING, 9},     {12, 0},           {13, 0},             {0, 0},
    };
    for (auto [kernel, table] : states)
        EXPECT_EQ(TableStateOf(kernel), table) << kernel;
}

// Both families of one dump as the page prints them: IPv4 rows, then the IPv4
// side of AF_INET6 sockets; v6-only and real IPv6 sockets are left out.
TEST(SocketTable, DualStackSocketsShowTheirIpv4Side)
{
    ReplaySource source;
    source.Add(AF_INET, IPPROTO_TCP,
               DiagDump({{AF_INET, TCP_LISTEN, "127.0.0.1", 7001, "0.0.0.0", 0},
                         {AF_INET, TCP_ESTABLISHED, "127.0.0.1", 7001, "127.0.0.1", 50000}}));
    source.Add(AF_INET6, IPPROTO_TCP,
               DiagDump({{AF_INET6, TCP_LISTEN, "::", 8080, "::", 0, 0},
                         {AF_INET6, TCP_LISTEN, "::", 8443, "::", 0, 1},
                         {AF_INET6, TCP_LISTEN, "::1", 9000, "::", 0, 1},
                         {AF_INET6, TCP_ESTABLISHED, "::ffff:127.0.0.1", 8080, "::ffff:127.0.0.2", 41000, 0},
                         {AF_INET6, TCP_ESTABLISHED, "::1", 9000, "::1", 42000, 1},
                         {AF_INET6, TCP_TIME_WAIT, "::ffff:127.0.0.1", 8080, "::ffff:127.0.0.3", 41001}}));
    source.Add(AF_INET, IPPROTO_UDP, DiagDump({{AF_INET, TCP_CLOSE, "0.0.0.0", 68, "0.0.0.0", 0}}));
    source.Add(AF_INET6, IPPROTO_UDP,
               DiagDump({{AF_INET6, TCP_CLOSE, "::", 5353, "::", 0, 0},
                         {AF_INET6, TCP_CLOSE, "::", 5354, "::", 0, 1},
                         {AF_INET6, TCP_ESTABLISHED, "::ffff:127.0.0.1", 5355, "::ffff:127.0.0.1", 53, 0}}));
    EXPECT_EQ(ConnectionTableText(source),
              kHeadings +
                  "TCP  127.0.0.1:7001         0.0.0.0:0              LISTEN\r\n"
                  "TCP  127.0.0.1:7001         127.0.0.1:50000        ESTABABLISHED\r\n"
                  "TCP  0.0.0.0:8080           0.0.0.0:0              LISTEN\r\n"
                  "TCP  127.0.0.1:8080         127.0.0.2:41000        ESTABABLISHED\r\n"
                  "TCP  127.0.0.1:8080         127.0.0.3:41001        TIME_WAIT\r\n"
                  "UDP  0.0.0.0:68             *.*                    \r\n"
                  "UDP  0.0.0.0:5353           *.*                    \r\n"
                  "UDP  127.0.0.1:5355         *.*                    \r\n");
    for (std::uint32_t states : source.statesAsked)
        EXPECT_EQ(states, 0x1FFEu);  // states 1-12: never the bound-only state 13
}

// An interrupted dump is read again, a few times at most; then what was read
// stands, or nothing when nothing was.
TEST(SocketTable, InterruptedDumpsAreRetriedBoundedly)
{
    const std::string partial = DiagDump({{AF_INET, TCP_LISTEN, "127.0.0.1", 1, "0.0.0.0", 0}}, true);
    const std::string whole = DiagDump({{AF_INET, TCP_LISTEN, "127.0.0.1", 2, "0.0.0.0", 0}});
    struct Case {
        std::vector<std::string> replies;
        bool read;
        int rows;
        std::uint32_t port;
        size_t dumps;
    } cases[] = {
        {{partial, whole}, true, 1, 2, 2},
        {{partial}, true, 1, 1, 4},
        {{DiagDump({}, true)}, false, 0, 0, 4},
    };
    for (const Case& c : cases) {
        ReplaySource source;
        source.replies[{AF_INET, IPPROTO_TCP}] = c.replies;
        std::vector<TcpRow> rows;
        EXPECT_EQ(GetTcpTable(&rows, source), c.read);
        if (!c.read)
            continue;
        ASSERT_EQ(rows.size(), size_t(c.rows));
        EXPECT_EQ(rows[0].localPort, Port(int(c.port)));
        EXPECT_EQ(source.statesAsked.size(), c.dumps + 1);  // and the AF_INET6 dump
    }
}

TEST(SocketTable, FailuresAndTheProcFallback)
{
    ReplaySource refused;
    refused.Add(AF_INET, IPPROTO_TCP, DiagDump({}, false, EPERM));
    std::vector<TcpRow> tcp;
    EXPECT_FALSE(GetTcpTable(&tcp, refused));

    ReplaySource cut;
    std::string reply = DiagDump({{AF_INET, TCP_LISTEN, "127.0.0.1", 1, "0.0.0.0", 0}});
    cut.Add(AF_INET, IPPROTO_TCP, reply.substr(0, reply.size() - 3));
    EXPECT_FALSE(GetTcpTable(&tcp, cut));

    // Without the diag modules, /proc/net as it stands on a little-endian host.
    ReplaySource missing;
    missing.errorWhenEmpty = ENOENT;
    std::vector<UdpRow> udp;
    EXPECT_FALSE(GetUdpTable(&udp, missing));
    missing.proc["tcp"] =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:1B59 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1 1\n"
        "   1: 0100007F:1B59 0100007F:C350 01 00000000:00000000 00:00000000 00000000     0        0 2 1\n";
    missing.proc["tcp6"] =
        "  sl  local_address                         remote_address                        st\n"
        "   0: 00000000000000000000000000000000:1F90 00000000000000000000000000000000:0000 0A\n"
        "   1: 0000000000000000FFFF00000100007F:1F90 0000000000000000FFFF00000200007F:A028 01\n";
    missing.proc["udp"] =
        "  sl  local_address rem_address   st\n"
        "   0: 00000000:0044 00000000:0000 07\n";
    missing.errorWhenEmpty = EPROTONOSUPPORT;
    EXPECT_EQ(ConnectionTableText(missing),
              kHeadings +
                  "TCP  127.0.0.1:7001         0.0.0.0:0              LISTEN\r\n"
                  "TCP  127.0.0.1:7001         127.0.0.1:50000        ESTABABLISHED\r\n"
                  "TCP  0.0.0.0:8080           0.0.0.0:0              LISTEN\r\n"
                  "TCP  127.0.0.1:8080         127.0.0.2:41000        ESTABABLISHED\r\n"
                  "UDP  0.0.0.0:68             *.*                    \r\n");
}

}  // namespace
