// The NetStat text: state names, the widest line and its read-back for the kill, and the tables from
// replayed socket-diagnostics dumps or /proc/net.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "hostinfo/ConnectionTable.h"
#include "support/SockDiagDump.h"

namespace {

const std::string kHeadings =
    "     Local Address          Remote Address         State           \r\n"
    "     -------------          --------------         -----           \r\n";

// The kernel's states print by their names in the table's numbering, cut to the buffer.
TEST(TcpStateName, LinuxStatesNamesAndTruncation)
{
    const std::pair<int, const char*> states[] = {
        {TCP_CLOSE, "CLOSED"},          {TCP_LISTEN, "LISTEN"},       {TCP_SYN_SENT, "SYN_SENT"},
        {TCP_SYN_RECV, "SYN_RCVD"},     {TCP_ESTABLISHED, "ESTABABLISHED"}, {TCP_FIN_WAIT1, "FIN_WAIT1"},
        {TCP_FIN_WAIT2, "FIN_WAIT2"},   {TCP_CLOSE_WAIT, "CLOSE_WAIT"}, {TCP_CLOSING, "CLOSING"},
        {TCP_LAST_ACK, "LAST_ACK"},     {TCP_TIME_WAIT, "TIME_WAIT"}, {12, "UNKNOWN"}, {13, "UNKNOWN"}};
    char buffer[14];
    for (auto [kernel, name] : states) {
        TcpStateName(TableStateOf(kernel), buffer, sizeof buffer);
        EXPECT_STREQ(buffer, name) << kernel;
    }
    TcpStateName(12, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "UNKNOWN");
    TcpStateName(5, buffer, 6);
    EXPECT_STREQ(buffer, "ESTAB");
    TcpStateName(5, nullptr, 10);
}

// The widest line fills its columns and reads back; no other text under the caret reads back at all.
TEST(ConnectionTableText, WidestLineReadsBack)
{
    const TcpRow widest{5, inet_addr("255.255.255.255"), htons(65535), inet_addr("255.255.255.255"), htons(65535)};
    const std::vector<TcpRow> rows{widest};
    const std::string line = "TCP  255.255.255.255:65535  255.255.255.255:65535  ESTABABLISHED";
    EXPECT_EQ(ConnectionTableText(&rows, nullptr), kHeadings + line + "\r\nNo Data Available!\r\n");
    EXPECT_EQ(ConnectionTableText(nullptr, nullptr), kHeadings + "No Data Available!\r\nNo Data Available!\r\n");
    TcpRow read;
    ASSERT_TRUE(ReadConnectionLine(line, &read));
    EXPECT_EQ(std::make_tuple(read.state, read.localAddr, read.localPort, read.remoteAddr, read.remotePort),
              std::make_tuple(12u, widest.localAddr, widest.localPort, widest.remoteAddr, widest.remotePort));

    for (const char* other : {"", "TCP  ESTAB", "TCP  127.0.0.1:80 ESTAB",
                              "TCP  127.0.0.1:80           127.0.0.1              ESTAB",
                              "TCP  127.0.0.1:65536        127.0.0.1:1            ESTAB",
                              "TCP  127.0.0.1:8x           127.0.0.1:1            ESTAB",
                              "TCP  127.0.0.1:             127.0.0.1:1            ESTAB",
                              "TCP  0x7f.0.0.1:80          127.0.0.1:1            ESTAB",
                              "TCP  1111111111111111111111:80 127.0.0.1:1         ESTAB",
                              "xxTCP 127.0.0.1:80          127.0.0.1:1            ESTAB"})
        EXPECT_FALSE(ReadConnectionLine(other, &read)) << other;
}

// The IPv4 side of AF_INET6 sockets is shown, v6-only and real IPv6 ones are not: from the dumps, which ask
// for states 1-12 only, and without the diag modules from /proc/net as a little-endian host writes it.
TEST(SocketTable, DualStackSocketsShowTheirIpv4Side)
{
    ReplaySource diag;
    diag.Add(AF_INET, IPPROTO_TCP, DiagDump({{AF_INET, TCP_ESTABLISHED, "127.0.0.1", 7001, "127.0.0.1", 50000}}));
    diag.Add(AF_INET6, IPPROTO_TCP,
             DiagDump({{AF_INET6, TCP_LISTEN, "::", 8080, "::", 0, 0},
                       {AF_INET6, TCP_LISTEN, "::", 8443, "::", 0, 1},
                       {AF_INET6, TCP_LISTEN, "::1", 9000, "::", 0, 1},
                       {AF_INET6, TCP_ESTABLISHED, "::ffff:127.0.0.1", 8080, "::ffff:127.0.0.2", 41000, 0},
                       {AF_INET6, TCP_ESTABLISHED, "::1", 9000, "::1", 42000, 1}}));
    diag.Add(AF_INET6, IPPROTO_UDP,
             DiagDump({{AF_INET6, TCP_CLOSE, "::", 5353, "::", 0, 0}, {AF_INET6, TCP_CLOSE, "::", 5354, "::", 0, 1}}));
    ReplaySource proc;
    proc.errorWhenEmpty = ENOENT;
    const std::string v6Any = "00000000000000000000000000000000:";
    proc.proc["tcp"] = "  sl  local_address rem_address   st tx_queue\n"
                       "   0: 0100007F:1B59 0100007F:C350 01 00000000:00000000\n";
    proc.proc["tcp6"] = "  sl  local_address remote_address st\n   0: " + v6Any + "1F90 " + v6Any + "0000 0A\n"
                        "   1: 0000000000000000FFFF00000100007F:1F90 0000000000000000FFFF00000200007F:A028 01\n"
                        "   2: 00000000000000000000000001000000:2328 " + v6Any + "0000 0A\n";
    proc.proc["udp"] = "  sl  local_address rem_address   st\n";
    proc.proc["udp6"] = "  sl  local_address remote_address st\n   0: " + v6Any + "14E9 " + v6Any + "0000 07\n";
    for (ReplaySource* source : {&diag, &proc})
        EXPECT_EQ(ConnectionTableText(*source),
                  kHeadings +
                      "TCP  127.0.0.1:7001         127.0.0.1:50000        ESTABABLISHED\r\n"
                      "TCP  0.0.0.0:8080           0.0.0.0:0              LISTEN\r\n"
                      "TCP  127.0.0.1:8080         127.0.0.2:41000        ESTABABLISHED\r\n"
                      "UDP  0.0.0.0:5353           *.*                    \r\n");
    EXPECT_EQ(diag.statesAsked, std::vector<std::uint32_t>(4, 0x1FFE));
}

// An interrupted dump is read four times at most, then what was read stands; a refusal or a cut reply is no table.
TEST(SocketTable, RetriesAndFailures)
{
    const std::string partial = DiagDump({{AF_INET, TCP_LISTEN, "127.0.0.1", 1, "0.0.0.0", 0}}, true);
    const std::string whole = DiagDump({{AF_INET, TCP_LISTEN, "127.0.0.1", 2, "0.0.0.0", 0}});
    const struct {
        std::vector<std::string> replies;
        size_t rows, dumps;  // rows 0: no table
        int port;
    } cases[] = {
        {{partial, whole}, 1, 2, 2},
        {{partial}, 1, 4, 1},
        {{DiagDump({}, true)}, 0, 4, 0},
        {{DiagDump({}, false, EPERM)}, 0, 1, 0},
        {{whole.substr(0, whole.size() - 3)}, 0, 1, 0},
    };
    for (const auto& c : cases) {
        ReplaySource source;
        source.replies[{AF_INET, IPPROTO_TCP}] = c.replies;
        std::vector<TcpRow> rows;
        EXPECT_EQ(ReadTcpSockets(&rows, source), c.rows > 0);
        EXPECT_EQ(source.statesAsked.size(), c.dumps + (c.rows > 0));  // and the AF_INET6 dump
        if (c.rows) {
            EXPECT_EQ(rows.at(0).localPort, htons(std::uint16_t(c.port)));
        }
    }
}

}  // namespace
