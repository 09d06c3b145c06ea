// RunDnsQuery against a scripted server on loopback that sends well-formed,
// malformed and hostile replies.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "dns/DnsMessage.h"
#include "platform/CancelToken.h"
#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Datagrams = std::vector<FakeDnsServer::Datagram>;

// A reply header with the query's identifier (or id) and its question copied.
DnsReplyBuilder ReplyTo(const Bytes& query, std::uint16_t an, std::uint16_t ns = 0, std::uint16_t ar = 0,
                        int id = -1)
{
    DnsReplyBuilder b;
    b.Header(id < 0 ? std::uint16_t(query[0] << 8 | query[1]) : std::uint16_t(id), 0x8580, 1, an, ns, ar);
    b.bytes.insert(b.bytes.end(), query.begin() + 12, query.end());
    return b;
}

struct Exchange {
    int result = 0;
    DnsRequest request{};
    std::vector<DnsRecord> records = std::vector<DnsRecord>(50);
};

Exchange Ask(const FakeDnsServer& server, const char* name = "host1.example.test", std::uint16_t type = 1,
             std::uint32_t timeoutMs = 3000, const CancelToken* token = nullptr)
{
    Exchange e;
    e.request.serverAddress = server.Address();
    e.request.id = 1234;
    e.request.type = type;
    e.request.name = name;
    e.request.recursionDesired = 1;
    e.request.timeoutMs = timeoutMs;
    e.request.count = 50;
    e.request.records = e.records.data();
    e.result = RunDnsQuery(&e.request, token, server.Port());
    return e;
}

}  // namespace

TEST(RunDnsQuery, SendsTheQueryAndParsesTheReply)
{
    Bytes seen;
    FakeDnsServer server("127.0.0.1", 0, [&](const Bytes& q) {
        seen = q;
        return Datagrams{{ReplyTo(q, 1).ARecord(0x7F00000A).bytes}};
    });
    Exchange e = Ask(server);
    ASSERT_EQ(e.result, 0);
    EXPECT_EQ(seen, BuildDnsQuery(1234, 1, "host1.example.test", true));
    EXPECT_EQ(e.request.count, 1);
    EXPECT_EQ(e.records[0].addressOrSerial, htonl(0x7F00000A));
}

TEST(RunDnsQuery, TakesAnyIdentifierButOnlyTheServersAddressAndPort)
{
    FakeDnsServer server("127.0.0.1", 0, [](const Bytes& q) {
        return Datagrams{
            {{}, false},                                        // an empty datagram is passed over
            {ReplyTo(q, 1).ARecord(1).bytes, true},             // another port: dropped by the kernel
            {ReplyTo(q, 1, 0, 0, 4321).ARecord(2).bytes, false}, // a wrong identifier is taken
        };
    });
    Exchange e = Ask(server);
    ASSERT_EQ(e.result, 0);
    EXPECT_EQ(e.records[0].addressOrSerial, htonl(2));
}

TEST(RunDnsQuery, MalformedRepliesKeepWhatWasDecoded)
{
    // A CNAME whose data points at itself, then a good A record.
    FakeDnsServer loop("127.0.0.1", 0, [](const Bytes& q) {
        DnsReplyBuilder b = ReplyTo(q, 2);
        const auto at = std::uint16_t(b.Size() + 12);  // its data, after owner and fixed part
        b.Pointer(12).Fixed(5, 1, 4).U8(1).Raw("x").Pointer(at);
        b.ARecord(7);
        return Datagrams{{b.bytes}};
    });
    Exchange e = Ask(loop);
    ASSERT_EQ(e.result, 0);
    EXPECT_EQ(std::string(e.records[0].name).substr(0, 4), "x.x.");
    EXPECT_EQ(e.records[1].addressOrSerial, htonl(7));

    // Counts that lie, and a last record cut short.
    FakeDnsServer liar("127.0.0.1", 0, [](const Bytes& q) {
        DnsReplyBuilder b = ReplyTo(q, 3, 2, 1);
        b.ARecord(1).ARecord(2).Pointer(12).Fixed(1, 1, 4).U16(3);
        return Datagrams{{b.bytes}};
    });
    e = Ask(liar);
    ASSERT_EQ(e.result, 0);
    EXPECT_EQ(e.request.count, 6);
    EXPECT_EQ(e.records[1].addressOrSerial, htonl(2));
    EXPECT_EQ(e.records[2].type, 0);

    // Too short for a header.
    FakeDnsServer stub("127.0.0.1", 0, [](const Bytes&) { return Datagrams{{Bytes{0x04, 0xD2, 0x81}}}; });
    e = Ask(stub);
    EXPECT_EQ(e.result, -6);
    EXPECT_EQ(e.request.count, 0);
}

TEST(RunDnsQuery, ReplyOfMoreThan1000BytesFails)
{
    auto sized = [](size_t size) {
        return [size](const Bytes& q) {
            DnsReplyBuilder b = ReplyTo(q, 1);
            b.Pointer(12).Fixed(16, 1, std::uint16_t(size - b.Size() - 12));
            b.bytes.resize(size, 'z');
            return Datagrams{{b.bytes}};
        };
    };
    FakeDnsServer fits("127.0.0.1", 0, sized(1000));
    Exchange e = Ask(fits);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.records[0].type, 16);
    FakeDnsServer tooBig("127.0.0.1", 0, sized(1001));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ask(tooBig).result, -6);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // not a time-out
}

TEST(RunDnsQuery, SixtyRecordsIntoFifty)
{
    FakeDnsServer server("127.0.0.1", 0, [](const Bytes& q) {
        DnsReplyBuilder b = ReplyTo(q, 60);
        for (std::uint32_t i = 0; i < 60; ++i)
            b.ARecord(i);
        return Datagrams{{b.bytes}};
    });
    Exchange e = Ask(server);
    ASSERT_EQ(e.result, 0);
    EXPECT_EQ(e.request.count, 60);
    EXPECT_EQ(e.records[49].addressOrSerial, htonl(49));
}

TEST(RunDnsQuery, ResultCodes)
{
    FakeDnsServer silent("127.0.0.1", 0, nullptr);
    EXPECT_EQ(RunDnsQuery(nullptr), -1);

    Exchange e = Ask(silent, "host1.example.test", 16);
    EXPECT_EQ(e.result, -4);
    EXPECT_EQ(e.request.count, 0);
    EXPECT_EQ(Ask(silent, std::string(256, 'a').c_str()).result, -4);
    EXPECT_EQ(silent.Queries(), 0);  // nothing was sent

    DnsRequest nowhere{};
    nowhere.type = 1;
    nowhere.name = "a.test";
    nowhere.count = 5;
    EXPECT_EQ(RunDnsQuery(&nowhere, nullptr, silent.Port()), -5);  // address 0
    EXPECT_EQ(nowhere.count, 0);

    e = Ask(silent, "host1.example.test", 1, 300);
    EXPECT_EQ(e.result, -6);
    EXPECT_EQ(silent.Queries(), 1);
}

TEST(RunDnsQuery, CancelEndsTheWaitAtOnce)
{
    FakeDnsServer silent("127.0.0.1", 0, nullptr);
    CancelToken token;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        token.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    Exchange e = Ask(silent, "host1.example.test", 1, 60000, &token);
    const auto took = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_EQ(e.result, -6);
    EXPECT_LT(took, std::chrono::seconds(5));
}
