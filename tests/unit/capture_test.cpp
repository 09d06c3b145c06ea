// The capture engine without a network: decoding, the printed views, the loop over a socket pair.
#include <gtest/gtest.h>

#include <cstring>

#include "capture/CapturePrinter.h"
#include "capture/CapturedPacket.h"
#include "os/CancelToken.h"
#include "support/CaptureFrames.h"

constexpr std::string_view kTwenty = "GET / HTTP/1.0\r\n\r\nxy";

Ipv4Frame Udp(std::string_view payload)
{
    return {.protocol = 17, .sourcePort = 5353, .destPort = 53, .payload = payload};
}

TEST(DecodeCapturedPacket, HeaderEndAndSkips)
{
    const std::string largest(1980, 'z');  // 2000 bytes with its headers: all that is looked at
    // cut: bytes removed from the frame's end; result: 0 skipped, else the packet's length; patch: an IP header byte.
    const struct { const char* name; Ipv4Frame frame; int cut, headerEnd, result, patchAt = -1; std::uint8_t patch = 0; } cases[] = {
        {"udp, the largest", Udp(largest), 0, 28, 2000},
        {"total length beyond the frame", Udp("abcd"), 0, 28, 32, 2, 0x40},
        {"total length inside the headers", Udp("abcd"), 0, 28, 0, 3, 28},
        {"ip version 5", Udp("abcd"), 0, 0, 0, 0, 0x50},
        {"ip header length 16", Udp("abcd"), 0, 0, 0, 0, 0x44},
        {"tcp data offset 4", {.payload = kTwenty, .tcpDataOffset = 4}, 0, 0, 0},
        {"tcp headers ending past the frame", {.payload = kTwenty, .tcpDataOffset = 8}, 25, 52, 0},
        {"tcp cut before the data offset", {}, 7, 0, 0},
        {"udp cut before its ports", Udp(""), 7, 28, 0},
        {"udp6 payload length inside the frame", {.protocol = 17, .payload = "abcd", .ipv6 = true}, 0, 48, 50, 5, 10},
        {"tcp6 later fragment", {.payload = kTwenty, .fragmentOffset = 1, .ipv6 = true, .chain = {44}}, 0, 0, 0},
    };
    for (const auto& c : cases) {
        auto sent = c.frame.Bytes();
        if (c.patchAt >= 0)
            sent[std::size_t(c.patchAt)] = c.patch;
        const std::vector<std::uint8_t> bytes(sent.begin(), sent.end() - c.cut);  // exact size, for AddressSanitizer
        EXPECT_EQ(TransportHeaderEnd(bytes.data(), bytes.size()), c.headerEnd) << c.name;
        CapturedPacket packet;
        std::memset(&packet, 0xEE, sizeof packet);
        EXPECT_EQ(DecodeCapturedPacket(bytes.data(), bytes.size(), packet), c.result) << c.name;
        EXPECT_EQ(packet.payloadLength, c.result ? c.result - c.headerEnd : 0) << c.name;
        EXPECT_EQ(packet.payload[packet.payloadLength], 0) << c.name;
    }
}

TEST(PrintCapturedPacket, Views)
{
    const struct { CaptureView view; std::string_view payload; std::string text; } cases[] = {  // text: after the packet lines
        {CaptureView::Text, {"a\tb\r\nc\0d\xe9~ \x1f" "0123456", 19}, "a\tb\r\nc.d.~ .0123456\r\n"},
        {CaptureView::HexDump, "0123456789abcdef\xe9",
         "000:  30 31 32 33 34 35 36 37  38 39 61 62 63 64 65 66  0123456789abcdef\r\n010:  e9" + std::string(48, ' ') + ".\r\n"},
    };
    for (const auto& c : cases) {
        const auto bytes = Ipv4Frame{.payload = c.payload}.Bytes();
        CapturedPacket packet;
        ASSERT_GT(DecodeCapturedPacket(bytes.data(), bytes.size(), packet), 0);
        std::string out;
        PrintCapturedPacket(packet, 7, CaptureSettings{{}, true, c.view}, out);
        EXPECT_EQ(out, "PACKET No: 7\r\nSource: 127.0.0.1:1025\r\nDest  : 127.0.0.1:80\r\nProtocol: TCP,  Data Bytes: " +
                           std::to_string(c.payload.size()) + "\r\n" + c.text);
    }
}

// A burst beyond one batch, with packets the filter drops between, cut by a refused hand-over.
TEST(RunCaptureLoop, BatchesNumbersAndStops)
{
    CaptureSettings s;
    s.portFilter = 80, s.showPacketInfo = false, s.displayFormat = CaptureView::None;
    std::vector<std::string> batches;
    auto take = [&](const std::string& batch, std::uint64_t) { return batches.push_back(batch), batches.size() != 2; };
    FramePairSource burst;
    ASSERT_TRUE(burst.Send(Ipv4Frame{}) && burst.Send(Udp("abcd")));
    for (int i = 0; i < kCaptureBatchPackets + 10; ++i)
        ASSERT_TRUE(burst.Send({.payload = kTwenty}));
    burst.CloseSender();
    EXPECT_EQ(RunCaptureLoop(burst, s, CancelToken(), take), CaptureEnd::Stopped);
    ASSERT_EQ(batches.size(), 2u);
    EXPECT_TRUE(batches[0].starts_with("PACKET No: 1\r\n") && batches[0].ends_with("PACKET No: 256\r\n") &&
                batches[1].starts_with("PACKET No: 257\r\n"));
}
