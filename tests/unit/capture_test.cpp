// The capture engine without a network: decoding frames, the filters, the
// pane's exact text, the local address list, and the loop over a socket pair
// standing in for the capture channel.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstring>
#include <thread>

#include "capture/CaptureLoop.h"
#include "capture/CapturePrinter.h"
#include "capture/CapturedPacket.h"
#include "capture/LocalAddresses.h"
#include "dns/HostAddress.h"
#include "platform/CancelToken.h"
#include "support/FramePairSource.h"
#include "support/Ipv4FrameBuilder.h"

namespace {

constexpr std::string_view kTwenty = "GET / HTTP/1.0\r\n\r\nxy";

struct DecodeCase {
    const char* name;
    Ipv4Frame frame;
    int cut;  // bytes removed from the end of the frame
    int headerEnd;
    int result;  // DecodeCapturedPacket: 0 skipped, else the packet's length
    int patchAt = -1;  // a byte of the IP header set to patch
    std::uint8_t patch = 0;
};

Ipv4Frame Tcp(std::string_view payload, int dataOffset = 5, int optionWords = 0)
{
    Ipv4Frame f;
    f.payload = payload;
    f.tcpDataOffset = dataOffset;
    f.ipOptionWords = optionWords;
    return f;
}

Ipv4Frame Udp(std::string_view payload)
{
    Ipv4Frame f;
    f.protocol = 17;
    f.sourcePort = 5353;
    f.destPort = 53;
    f.payload = payload;
    return f;
}

std::string Print(const Ipv4Frame& frame, CaptureSettings settings, int number = 1)
{
    const auto bytes = frame.Bytes();
    CapturedPacket packet;
    EXPECT_GT(DecodeCapturedPacket(bytes.data(), bytes.size(), packet), 0);
    std::string out;
    PrintCapturedPacket(packet, number, settings, out);
    return out;
}

}  // namespace

TEST(DecodeCapturedPacket, HeaderEndAndSkips)
{
    const DecodeCase cases[] = {
        {"tcp, data offset 5", Tcp(kTwenty), 0, 40, 60},
        {"tcp, data offset 8", Tcp(kTwenty, 8), 0, 52, 72},
        {"tcp, ip options", Tcp(kTwenty, 5, 2), 0, 48, 68},
        {"udp, 4 bytes", Udp("abcd"), 0, 28, 32},
        {"udp under ethernet padding", With(Udp("abcd"), [](auto& f) { f.padding = 14; }), 0, 28, 32},
        {"total length beyond the frame", Udp("abcd"), 0, 28, 32, 2, 0x40},
        {"total length inside the headers", Udp("abcd"), 0, 28, 0, 3, 28},
        {"pure acknowledgement", Tcp(""), 0, 40, 0},
        {"icmp", With(Udp("abcd"), [](auto& f) { f.protocol = 1; }), 0, 0, 0},
        {"non-first fragment", With(Udp("abcd"), [](auto& f) { f.fragmentOffset = 185; }), 0, 0, 0},
        {"ipv6", Udp("abcd"), 0, 0, 0, 0, 0x60},
        {"ip header length 16", Udp("abcd"), 0, 0, 0, 0, 0x44},
        {"tcp data offset 4", Tcp(kTwenty, 4), 0, 0, 0},
        {"tcp headers ending past the frame", Tcp(kTwenty, 8), 25, 52, 0},
        {"tcp cut before the data offset", Tcp(""), 7, 0, 0},
        {"udp cut before its ports", Udp(""), 7, 28, 0},
        {"nothing", Udp(""), 28, 0, 0},
    };
    for (const DecodeCase& c : cases) {
        auto bytes = c.frame.Bytes();
        bytes.resize(bytes.size() - std::size_t(c.cut));
        if (c.patchAt >= 0)
            bytes[std::size_t(c.patchAt)] = c.patch;
        // An exact-size copy, so that AddressSanitizer sees any read past it.
        std::vector<std::uint8_t> received(bytes);
        EXPECT_EQ(TransportHeaderEnd(received.data(), received.size()), c.headerEnd) << c.name;
        CapturedPacket packet;
        EXPECT_EQ(DecodeCapturedPacket(received.data(), received.size(), packet), c.result) << c.name;
        EXPECT_EQ(packet.payloadLength, c.result ? c.result - c.headerEnd : 0) << c.name;
    }
}

TEST(DecodeCapturedPacket, FieldsAndTheLargestPayload)
{
    Ipv4Frame f = Tcp(kTwenty, 8, 1);
    f.source = 0x0A000001;
    auto bytes = f.Bytes();
    CapturedPacket packet;
    std::memset(&packet, 0xEE, sizeof packet);
    ASSERT_EQ(DecodeCapturedPacket(bytes.data(), bytes.size(), packet), 76);
    EXPECT_EQ(packet.isTcp, 1u);
    EXPECT_EQ(packet.sourceAddress, htonl(0x0A000001));
    EXPECT_EQ(packet.destAddress, htonl(0x7F000001));
    EXPECT_EQ(packet.sourcePort, 1025);
    EXPECT_EQ(packet.destPort, 80);
    EXPECT_EQ(std::string_view(reinterpret_cast<char*>(packet.payload), 21), std::string(kTwenty) + '\0');

    // Only 2000 bytes are looked at; the payload is still followed by a zero byte.
    bytes = Udp(std::string(1980, 'z')).Bytes();
    ASSERT_EQ(DecodeCapturedPacket(bytes.data(), bytes.size(), packet), 2000);
    EXPECT_EQ(packet.payloadLength, 1972);
    EXPECT_EQ(packet.payload[1972], 0);
}

TEST(PassesCaptureFilter, ProtocolAndPortByDirection)
{
    struct Case {
        int protocolFilter, portDirection, portFilter;
        bool tcpPasses, udpPasses;  // TCP 1025 -> 80, UDP 5353 -> 53
    } cases[] = {
        {0, 0, 80, true, false},   {0, 1, 80, false, false}, {0, 2, 80, true, false},
        {0, 0, 1025, true, false}, {0, 1, 1025, true, false}, {0, 2, 1025, false, false},
        {0, 0, 53, false, true},   {0, 1, 5353, false, true}, {1, 0, 53, false, false},
        {2, 0, 80, false, false},  {2, 0, 53, false, true},   {1, 0, 80, true, false},
        {0, 3, 80, false, false},
    };
    const auto tcp = Tcp(kTwenty).Bytes();
    const auto udp = Udp("abcd").Bytes();
    CapturedPacket tcpPacket, udpPacket;
    ASSERT_GT(DecodeCapturedPacket(tcp.data(), tcp.size(), tcpPacket), 0);
    ASSERT_GT(DecodeCapturedPacket(udp.data(), udp.size(), udpPacket), 0);
    for (const Case& c : cases) {
        CaptureSettings s;
        s.protocolFilter = c.protocolFilter;
        s.portDirection = c.portDirection;
        s.portFilter = c.portFilter;
        EXPECT_EQ(PassesCaptureFilter(tcpPacket, s), c.tcpPasses) << c.protocolFilter << c.portDirection << c.portFilter;
        EXPECT_EQ(PassesCaptureFilter(udpPacket, s), c.udpPasses) << c.protocolFilter << c.portDirection << c.portFilter;
    }
}

TEST(PrintCapturedPacket, ExactText)
{
    const std::string blank(48, ' ');
    struct Case {
        const char* name;
        Ipv4Frame frame;
        bool info;
        int format;
        std::string text;
    } cases[] = {
        {"udp 17, dump", Udp("0123456789abcde\x7f\xe9"), false, 0,
         "PACKET No: 7\r\n000:  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 7f  0123456789abcde.\r\n"
         "010:  e9" + blank + ".\r\n"},
        {"tcp 19, text", Tcp(std::string_view("a\tb\r\nc\0d\xe9~ \x1f" "0123456", 19)), true, 1,
         "PACKET No: 7\r\nSource: 127.0.0.1:1025\r\nDest  : 127.0.0.1:80\r\nProtocol: TCP,  Data Bytes: 19\r\n"
         "a\tb\r\nc.d.~ .0123456\r\n"},
        {"tcp 20, none, no info", Tcp(kTwenty), false, 2, "PACKET No: 7\r\n"},
    };
    for (const Case& c : cases) {
        CaptureSettings s;
        s.showPacketInfo = c.info;
        s.displayFormat = c.format;
        EXPECT_EQ(Print(c.frame, s, 7), c.text) << c.name;
    }
}

TEST(ListLocalAddresses, NonLoopbackFirstAndLabelsCut)
{
    struct Entry {
        const char* name;
        int family;
        const char* address;
        unsigned flags;
    } entries[] = {
        {"lo", AF_INET, "127.0.0.1", IFF_LOOPBACK}, {"eth0", AF_PACKET, nullptr, 0},
        {"eth0", AF_INET, "10.1.2.3", 0},           {"eth0:1", AF_INET, "10.1.2.4", 0},
        {"eth0", AF_INET6, nullptr, 0},             {"lo:x", AF_INET, "127.0.1.1", IFF_LOOPBACK},
        {"wlan0", AF_INET, "192.168.5.9", 0},
    };
    std::vector<ifaddrs> list(std::size(entries));
    std::vector<sockaddr_storage> storage(std::size(entries));
    for (std::size_t i = 0; i < list.size(); ++i) {
        list[i] = {};
        list[i].ifa_next = i + 1 < list.size() ? &list[i + 1] : nullptr;
        list[i].ifa_name = const_cast<char*>(entries[i].name);
        list[i].ifa_flags = entries[i].flags;
        storage[i] = {};
        storage[i].ss_family = sa_family_t(entries[i].family);
        if (entries[i].address)
            inet_pton(AF_INET, entries[i].address, &reinterpret_cast<sockaddr_in&>(storage[i]).sin_addr);
        list[i].ifa_addr = i == 1 ? nullptr : reinterpret_cast<sockaddr*>(&storage[i]);
    }
    const auto addresses = ListLocalAddresses(list.data());
    std::vector<std::string> seen;
    for (const LocalAddress& a : addresses) {
        char text[20];
        AddressToText(a.address, text, sizeof text);
        seen.push_back(std::string(text) + "@" + a.interface);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"10.1.2.3@eth0", "10.1.2.4@eth0", "192.168.5.9@wlan0", "127.0.0.1@lo",
                                              "127.0.1.1@lo"}));
    EXPECT_EQ(InterfaceOfAddress(addresses, inet_addr("10.1.2.4")), "eth0");
    EXPECT_EQ(InterfaceOfAddress(addresses, inet_addr("10.9.9.9")), "");
    EXPECT_EQ(ListLocalAddresses(nullptr).size(), 0u);

    // This host has loopback at least, and lists it last.
    const auto real = ListLocalAddresses();
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.back().interface, "lo");
}

namespace {

// A socket pair in place of the capture channel: one frame a message.

}  // namespace

TEST(RunCaptureLoop, BatchesNumbersAndEnds)
{
    CaptureSettings s;
    s.portFilter = 80;
    s.displayFormat = 2;
    s.showPacketInfo = false;
    CancelToken token;
    std::vector<std::string> batches;
    auto take = [&](const std::string& batch) {
        batches.push_back(batch);
        return batches.size() < 2;
    };

    // A burst beyond one batch, with packets the filter drops between: the
    // second hand-over is refused, which ends the capture.
    FramePairSource burst;
    ASSERT_TRUE(burst.Send(Tcp("")) && burst.Send(Udp("abcd")));
    for (int i = 0; i < kCaptureBatchPackets + 10; ++i)
        ASSERT_TRUE(burst.Send(Tcp(kTwenty)));
    EXPECT_EQ(RunCaptureLoop(burst, s, token, take), CaptureEnd::Stopped);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_EQ(batches[0].rfind("PACKET No: 1\r\n", 0), 0u);
    EXPECT_TRUE(batches[0].ends_with("PACKET No: 256\r\n"));
    EXPECT_EQ(batches[1].rfind("PACKET No: 257\r\n", 0), 0u);

    // The end of the frames is a socket error, reported after what came before it.
    FramePairSource ending;
    ASSERT_TRUE(ending.Send(Tcp(kTwenty, 8)));
    ending.CloseSender();
    batches.clear();
    EXPECT_EQ(RunCaptureLoop(ending, s, token, take), CaptureEnd::SocketError);
    EXPECT_EQ(batches, std::vector<std::string>{std::string("PACKET No: 1\r\n") + kCaptureSocketErrorText});

    // On a quiet source the loop waits until the token wakes it.
    std::thread stop([&] { token.Cancel(); });
    EXPECT_EQ(RunCaptureLoop(burst, s, token, take), CaptureEnd::Stopped);
    stop.join();
}
