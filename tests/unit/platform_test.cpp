// The platform layer under the shell: cancellation, waits, text, the checked
// byte reader, socket steps on loopback and the echo-library binding.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>

#include "platform/ByteReader.h"
#include "platform/ByteText.h"
#include "platform/CancelToken.h"
#include "platform/IcmpLibrary.h"
#include "platform/PollWait.h"
#include "platform/SocketIo.h"

using namespace std::chrono_literals;

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

    // A cancel from another thread wakes the wait long before its timeout.
    const auto start = std::chrono::steady_clock::now();
    std::thread canceller([&] {
        std::this_thread::sleep_for(50ms);
        token.Cancel();
    });
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 10'000), WaitResult::Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    token.Cancel();  // idempotent
    EXPECT_TRUE(token.IsCancelled());
    EXPECT_EQ(WaitForFd(sv[0], POLLIN, &token, 10'000), WaitResult::Cancelled);

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

TEST(ByteReader, EveryReadStopsAtTheEnd)
{
    const std::uint8_t bytes[] = {0x45, 0x00, 0x01, 0x02, 0x7F, 0x00, 0x00, 0x01};
    ByteReader r(bytes, sizeof bytes);
    EXPECT_EQ(r.U8At(0), 0x45);
    EXPECT_EQ(r.U16At(6), 0x0001);
    EXPECT_EQ(r.U32At(4), 0x7F000001u);
    EXPECT_EQ(r.U8At(8), std::nullopt);
    EXPECT_EQ(r.U16At(7), std::nullopt);
    EXPECT_EQ(r.U32At(5), std::nullopt);
    EXPECT_EQ(r.U32At(SIZE_MAX - 1), std::nullopt);  // no wrap-around past the end
    EXPECT_EQ(r.Position(), 0u);                     // absolute reads do not move

    EXPECT_EQ(r.U16(), 0x4500);
    EXPECT_EQ(r.Text(2), std::string_view("\x01\x02", 2));
    EXPECT_EQ(r.Text(5), std::nullopt);
    EXPECT_EQ(r.U32(), 0x7F000001u);
    EXPECT_EQ(r.U8(), std::nullopt);
    EXPECT_EQ(r.Remaining(), 0u);
    EXPECT_FALSE(r.Seek(9));
    ByteReader empty(nullptr, 5);
    EXPECT_EQ(empty.Size(), 0u);
}

TEST(SocketIo, ConnectSendAndReceiveOnLoopback)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof at;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const auto soon = [] { return std::chrono::steady_clock::now() + 5s; };

    // Bound but not listening: refused, told by SO_ERROR.
    int fd = OpenTcpSocket();
    EXPECT_EQ(ConnectWithin(fd, at, nullptr, soon()), WaitResult::Failed);
    close(fd);

    ASSERT_EQ(listen(listener, 1), 0);
    fd = OpenTcpSocket();
    ASSERT_EQ(ConnectWithin(fd, at, nullptr, soon()), WaitResult::Ready);
    const int peer = accept(listener, nullptr, nullptr);
    const std::string big(1 << 20, 'x');  // more than the socket buffers hold: waits for room
    std::thread reader([&] {
        std::string got(big.size(), '\0');
        EXPECT_EQ(ReceiveAll(peer, got.data(), got.size(), nullptr, soon()), WaitResult::Ready);
        EXPECT_EQ(got, big);
        close(peer);
    });
    EXPECT_EQ(SendAll(fd, big, nullptr, 5000ms), WaitResult::Ready);
    reader.join();

    // The peer is gone: a failure, never SIGPIPE; a receive sees the close.
    char byte;
    EXPECT_EQ(ReceiveAll(fd, &byte, 1, nullptr, soon()), WaitResult::Failed);
    WaitResult sent = WaitResult::Ready;
    for (int i = 0; i < 100 && sent == WaitResult::Ready; ++i)
        sent = SendAll(fd, big, nullptr, 5000ms);
    EXPECT_EQ(sent, WaitResult::Failed);

    CancelToken token;
    token.Cancel();
    EXPECT_EQ(ReceiveAll(fd, &byte, 1, &token, soon()), WaitResult::Cancelled);
    close(fd);
    close(listener);
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
