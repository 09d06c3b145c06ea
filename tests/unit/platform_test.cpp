// The platform layer under the shell: cancellation, waits, text, the checked
// byte reader and the echo-library binding. (The socket steps are exercised by
// the whois and DNS peer tests.)
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ByteReader.h"
#include "platform/ByteText.h"
#include "platform/CancelToken.h"
#include "platform/IcmpLibrary.h"
#include "platform/PollWait.h"

TEST(PollWait, ReadyTimedOutPeerGoneAndCancelled)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    CancelToken token;
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 20), WaitResult::TimedOut);
    EXPECT_EQ(WaitForFd(sv[0], POLLOUT, nullptr, 20), WaitResult::Ready);
    EXPECT_FALSE(SleepUnlessCancelled(&token, 5));
    ASSERT_EQ(write(sv[1], "x", 1), 1);
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 1000), WaitResult::Ready);
    char c;
    ASSERT_EQ(read(sv[0], &c, 1), 1);

    // A cancel from another thread wakes a ten-minute wait.
    std::thread canceller([&] { token.Cancel(); });
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 600'000), WaitResult::Cancelled);
    canceller.join();
    token.Cancel();  // idempotent
    EXPECT_TRUE(token.IsCancelled());

    close(sv[1]);  // a hang-up is "ready": the next read tells the caller
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, nullptr, 1000), WaitResult::Ready);
    close(sv[0]);
}

TEST(ByteText, Utf8Validity)
{
    for (const char* text : {"", "plain ASCII\r\n", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"})
        EXPECT_TRUE(IsValidUtf8(text)) << text;
    for (const char* text : {"caf\xE9",          // Latin-1
                             "\xC0\xAF",         // overlong
                             "\xED\xA0\x80",     // surrogate
                             "\xF4\x90\x80\x80", // past U+10FFFF
                             "\xE2\x82", "\xC3"}) // cut short
        EXPECT_FALSE(IsValidUtf8(text)) << text;
}

TEST(ByteText, PortBoxIsDecimalAndUnprintableBytesBecomeDots)
{
    for (auto [text, port] : {std::pair{"1", 1}, {"65535", 65535}, {"080", 80}, {"0", 0}, {"65536", 65536},
                              {"", -1}, {"8o", -1}, {"-1", -1}})
        EXPECT_EQ(ReadPortNumber(text), port) << text;
    EXPECT_GT(ReadPortNumber("99999999999999999999999"), 65535);  // no wrap-around into range

    std::string bytes("A\x00\x07\xff\x7f\x1f\t\r\n~ z", 12);
    MaskUnprintable(bytes.data(), bytes.size());
    EXPECT_EQ(bytes, "A.....\t\r\n~ z");
}

TEST(ByteReader, AbsoluteReadsStopAtTheEnd)
{
    const std::uint8_t bytes[] = {0x45, 0x00, 0x01, 0x02, 0x7F, 0x00, 0x00, 0x01};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.U32At(4), 0x7F000001u);
    for (std::size_t at : {std::size_t(5), std::size_t(8), SIZE_MAX - 1})  // no wrap-around past the end
        EXPECT_EQ(r.U32At(at), std::nullopt) << at;
    EXPECT_EQ(r.U16At(7), std::nullopt);
    EXPECT_EQ(r.U16(), 0x4500);  // absolute reads did not move
    EXPECT_EQ(r.Text(2), std::string_view("\x01\x02", 2));
    EXPECT_EQ(r.Text(5), std::nullopt);
    EXPECT_EQ(r.Position(), 4u);
}

namespace {

// A stand-in echo component whose send entry point can go missing.
int g_released = 0;
bool g_missingSend = false;

IcmpHandle FakeCreate() { return 7; }
int FakeClose(IcmpHandle) { return 1; }
std::uint32_t FakeSend(IcmpHandle, std::uint32_t, const void*, std::uint16_t, const IpOptionInformation*, void*,
                       std::uint32_t, std::uint32_t) { return 1; }

void* FakeLookup(const void*, const char* name)
{
    const std::string_view entry = name;
    return entry == "IcmpCreateFile"                   ? reinterpret_cast<void*>(&FakeCreate)
           : entry == "IcmpCloseHandle"                ? reinterpret_cast<void*>(&FakeClose)
           : entry == "IcmpSendEcho" && !g_missingSend ? reinterpret_cast<void*>(&FakeSend)
                                                       : nullptr;
}

const IcmpProvider kFake{[] { return static_cast<const void*>(&g_released); }, &FakeLookup, [](const void*) { ++g_released; }};
const IcmpProvider kAbsent{[]() -> const void* { return nullptr; }, nullptr, nullptr};

}  // namespace

TEST(IcmpLibrary, BindsAllThreeEntryPointsOrNoneAndGuards)
{
    ASSERT_EQ(LoadIcmpLibrary(kFake), 1);
    EXPECT_NE(TheIcmpLibrary().handle, nullptr);
    EXPECT_EQ(GuardedIcmpCreateFile(), 7);
    EXPECT_EQ(GuardedIcmpCloseHandle(7), 1);
    EXPECT_EQ(GuardedIcmpSendEcho(7, 0, nullptr, 0, nullptr, nullptr, 0, 0), 1u);
    FreeIcmpLibrary();
    EXPECT_EQ(g_released, 1);
    EXPECT_EQ(TheIcmpLibrary().handle, nullptr);
    FreeIcmpLibrary();  // nothing to release twice
    EXPECT_EQ(g_released, 1);

    // One entry point missing: the library is released and nothing stays bound.
    g_missingSend = true;
    EXPECT_EQ(LoadIcmpLibrary(kFake), 0);
    EXPECT_EQ(g_released, 2);
    EXPECT_EQ(TheIcmpLibrary().handle, nullptr);
    EXPECT_EQ(LoadIcmpLibrary(kAbsent), 0);

    // Unbound, the guards answer failure.
    EXPECT_EQ(GuardedIcmpCreateFile(), kInvalidIcmpHandle);
    EXPECT_EQ(GuardedIcmpCloseHandle(7), 0);
    EXPECT_EQ(GuardedIcmpSendEcho(7, 0, nullptr, 0, nullptr, nullptr, 0, 0), 0u);
}
