// RunDnsQuery against a scripted server on loopback: what only a socket shows
// (stray datagrams, sizes, waits). Record parsing is the unit test's, the
// page's output the NSD peer test's.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "dns/DnsMessage.h"
#include "os/CancelToken.h"
#include "support/DnsReplyBuilder.h"
#include "support/FakeDnsServer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Datagrams = std::vector<FakeDnsServer::Datagram>;
using enum DnsQueryResult;

struct Exchange {
    DnsQueryResult result{};
    DnsRequest request{};
    std::vector<DnsRecord> records = std::vector<DnsRecord>(50);
};

Exchange Ask(const FakeDnsServer& server, const char* name = "host1.example.test", std::uint16_t type = 1,
             std::uint32_t timeoutMs = 3000, const CancelToken* token = nullptr)
{
    Exchange e;
    e.request = {server.Address(), 1234, type, name, 1, timeoutMs, 0, 50, e.records.data()};
    e.result = RunDnsQuery(&e.request, token, server.Port());
    return e;
}

// A reply of size bytes: one TXT record filled up with its data.
Datagrams Sized(const Bytes& q, std::size_t size)
{
    DnsReplyBuilder b = DnsReplyBuilder::ReplyTo(q, 1);
    b.Pointer(12).Fixed(16, 1, std::uint16_t(size - b.Size() - 12));
    b.bytes.resize(size, 'z');
    return {{b.bytes}};
}

}  // namespace

TEST(RunDnsQuery, RepliesWellFormedOrNot)
{
    const Bytes q = BuildDnsQuery(1234, 1, "host1.example.test", true);
    const struct {
        const char* what;
        Datagrams replies;
        DnsQueryResult result;
        int count;
        std::vector<std::uint16_t> storedTypes;
        std::uint32_t lastValue = 0;  // addressOrSerial of the last stored record, host order
    } cases[] = {
        {"an empty datagram, one from another port (the kernel drops it), a wrong identifier",
         {{{}, false}, {DnsReplyBuilder::ReplyTo(q, 1).ARecord(1).bytes, true},
          {DnsReplyBuilder::ReplyTo(q, 1, 0, 0, 4321).ARecord(2).bytes, false}}, Answered, 1, {1}, 2},
        {"too short for a header", {{Bytes{0x04, 0xD2, 0x81}}}, NoReply, 0, {}},
        {"1000 bytes", Sized(q, 1000), Answered, 1, {16}},
        {"1001 bytes", Sized(q, 1001), NoReply, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeDnsServer server("127.0.0.1", 0, [&](const Bytes& query) {
            EXPECT_EQ(query, q);
            return c.replies;
        });
        const auto start = std::chrono::steady_clock::now();
        const Exchange e = Ask(server);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // not a time-out
        EXPECT_EQ(e.result, c.result);
        EXPECT_EQ(e.request.count, c.count);
        std::vector<std::uint16_t> stored;
        for (const DnsRecord& r : e.records)
            if (r.type != 0)
                stored.push_back(r.type);
        EXPECT_EQ(stored, c.storedTypes);
        if (!stored.empty()) {
            EXPECT_EQ(e.records[stored.size() - 1].addressOrSerial, htonl(c.lastValue));
        }
    }
}

TEST(RunDnsQuery, RefusedRequestsAndNoReply)
{
    FakeDnsServer silent("127.0.0.1", 0, nullptr);
    EXPECT_EQ(RunDnsQuery(nullptr), NoRequest);
    EXPECT_EQ(Ask(silent, "host1.example.test", 16).result, NoQuery);
    EXPECT_EQ(Ask(silent, std::string(256, 'a').c_str()).result, NoQuery);
    EXPECT_EQ(silent.Queries(), 0);  // nothing was sent

    DnsRequest nowhere{0, 1, 1, "a.test", 1, 3000, 0, 5, nullptr};  // address 0
    EXPECT_EQ(RunDnsQuery(&nowhere, nullptr, silent.Port()), SendFailed);
    EXPECT_EQ(nowhere.count, 0);

    EXPECT_EQ(Ask(silent, "host1.example.test", 1, 300).result, NoReply);
    EXPECT_EQ(silent.Queries(), 1);

    // A cancel ends a wait of a minute at once.
    CancelToken token;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        token.Cancel();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Ask(silent, "host1.example.test", 1, 60000, &token).result, NoReply);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    canceller.join();
}
