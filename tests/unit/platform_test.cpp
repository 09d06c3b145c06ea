// The platform layer under the shell: cancellation, waits, text, host
// addresses and the echo-library binding.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "dns/HostAddress.h"
#include "platform/ByteText.h"
#include "platform/CancelToken.h"
#include "platform/IcmpLibrary.h"
#include "platform/PollWait.h"

using namespace std::chrono_literals;

TEST(CancelToken, CancelWakesAWaitOnAnotherThread)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    CancelToken token;
    EXPECT_FALSE(token.IsCancelled());

    auto start = std::chrono::steady_clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        token.Cancel();
    });
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 10'000), WaitResult::Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_TRUE(token.IsCancelled());
    token.Cancel();  // idempotent
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 10'000), WaitResult::Cancelled);
    close(sv[0]);
    close(sv[1]);
}

TEST(PollWait, ReadyTimedOutAndPeerGone)
{
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    CancelToken token;
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 20), WaitResult::TimedOut);
    EXPECT_EQ(WaitForFd(sv[0], POLLOUT, nullptr, 20), WaitResult::Ready);
    ASSERT_EQ(write(sv[1], "x", 1), 1);
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 1000), WaitResult::Ready);
    char c;
    ASSERT_EQ(read(sv[0], &c, 1), 1);
    close(sv[1]);  // a hang-up is "ready": the next read tells the caller
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 1000), WaitResult::Ready);
    close(sv[0]);
    EXPECT_FALSE(SleepUnlessCancelled(&token, 5));
}

TEST(ByteText, Utf8Validity)
{
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ASCII\r\n"));
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));              // Latin-1
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));             // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));         // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));     // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));             // cut short
    EXPECT_FALSE(IsValidUtf8(std::string_view("\xC3", 1)));
}

TEST(HostAddress, TextsBeginningWithADigitAreNeverLookedUp)
{
    EXPECT_EQ(LookupHostAddress(nullptr), 0u);
    EXPECT_EQ(LookupHostAddress("127.0.0.1"), htonl(0x7F000001));
    EXPECT_EQ(LookupHostAddress("1abc"), 0xFFFFFFFFu);
    EXPECT_EQ(LookupHostAddress("localhost"), htonl(0x7F000001));
}

TEST(HostAddress, AddressToTextFitsOrCopiesNothing)
{
    char out[16];
    ASSERT_EQ(AddressToText(0xFFFFFFFF, out, sizeof out), 1);
    EXPECT_STREQ(out, "255.255.255.255");
    ASSERT_EQ(AddressToText(0, out, sizeof out), 1);
    EXPECT_STREQ(out, "0.0.0.0");

    char small[7];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(AddressToText(htonl(0x0A000001), small, sizeof small), 0);  // "10.0.0.1" needs 9
    EXPECT_EQ(small[0], 'x');
    EXPECT_EQ(AddressToText(htonl(0x01020304), small, sizeof small), 0);  // 7 characters + terminator
    EXPECT_EQ(AddressToText(htonl(0x01020304), nullptr, 16), 0);
    EXPECT_EQ(AddressToText(htonl(0x01020304), out, 0), 0);
}

namespace {

// A stand-in echo component whose entry points can go missing.
int g_released = 0;
bool g_missingSend = false;
int g_library = 42;

IcmpHandle FakeCreate() { return 7; }
int FakeClose(IcmpHandle) { return 1; }
std::uint32_t FakeSend(IcmpHandle, std::uint32_t, const void*, std::uint16_t, const IpOptionInformation*, void*,
                       std::uint32_t, std::uint32_t)
{
    return 1;
}

const IcmpProvider kFake{
    [] { return static_cast<const void*>(&g_library); },
    [](const void*, const char* name) -> void* {
        if (!std::strcmp(name, "IcmpCreateFile")) return reinterpret_cast<void*>(&FakeCreate);
        if (!std::strcmp(name, "IcmpCloseHandle")) return reinterpret_cast<void*>(&FakeClose);
        if (!std::strcmp(name, "IcmpSendEcho") && !g_missingSend) return reinterpret_cast<void*>(&FakeSend);
        return nullptr;
    },
    [](const void*) { ++g_released; },
};

const IcmpProvider kAbsent{[]() -> const void* { return nullptr; }, nullptr, nullptr};

}  // namespace

TEST(IcmpLibrary, BindsAllThreeEntryPointsOrNone)
{
    g_released = 0;
    g_missingSend = false;
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
}

TEST(IcmpLibrary, GuardsAnswerFailureWhileUnbound)
{
    FreeIcmpLibrary();
    EXPECT_EQ(GuardedIcmpCreateFile(), kInvalidIcmpHandle);
    EXPECT_EQ(GuardedIcmpCloseHandle(7), 0);
    EXPECT_EQ(GuardedIcmpSendEcho(7, 0, nullptr, 0, nullptr, nullptr, 0, 0), 0u);
}
