// quorlix-netcap: the one privileged piece of Quorlix. Installed root:quorlix,
// mode 0750, with the file capabilities cap_net_raw,cap_net_admin, it serves
// one run for the program, over the Unix SOCK_SEQPACKET socket pair that is
// its standard input (see NetcapRequest.h for the messages):
//
//   echo     it sends each echo asked for from its own raw ICMP or ICMPv6
//            socket, one every 10 ms at most, and answers with the echo's record;
//   capture  it relays the frames of one interface that pass the locked
//            kernel filter, and its drop count while it grows and at the end;
//   kill     it destroys one established TCP connection, looked up exactly.
//
// It never hands a socket out, never sends anything but ICMP echo requests,
// keeps only the capability the request needs and drops even that before
// answering. Everything else is refused.

#include <linux/capability.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "icmp/EchoProbe.h"
#include "os/PollWait.h"
#include "os/SocketIo.h"
#include "privilege/CaptureChannel.h"
#include "privilege/NetcapRequest.h"
#include "privilege/SockDiag.h"

namespace {

constexpr int kChannel = 0;
// A run that gets no request in this time ends itself.
constexpr unsigned kRequestWaitSeconds = 5;
constexpr int kFramesPerRound = 64;
// The shortest time between two echoes of a session, whatever their time-outs:
// a member of the group gets a ping, not a flood.
constexpr auto kEchoInterval = std::chrono::milliseconds(10);

// The channel must be a socket pair of the user who started us: the real uid.
bool IsCallersChannel(int fd)
{
    int domain = 0, type = 0;
    socklen_t len = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) != 0)
        return false;
    len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return false;
    ucred peer{};
    len = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0)
        return false;
    return domain == AF_UNIX && type == SOCK_SEQPACKET && peer.uid == getuid();
}

// Keeps capability alone in the permitted and effective sets (none when
// negative); nothing inheritable, nothing ambient, and no way back.
bool KeepOnlyCapability(int capability)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (capability >= 0) {
        data[capability / 32].permitted = 1u << (capability % 32);
        data[capability / 32].effective = 1u << (capability % 32);
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    return syscall(SYS_capset, &header, data) == 0;
}

bool Send(const void* data, std::size_t size)
{
    return send(kChannel, data, size, MSG_NOSIGNAL) == ssize_t(size);
}

bool Answer(int error)
{
    if (!KeepOnlyCapability(-1))
        return false;
    const std::string text = FormatNetcapReply(error);
    return Send(text.data(), text.size());
}

int ServeEcho()
{
    Fd raw = OpenSocket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    const int error = raw.Valid() ? 0 : errno;
    // Both sockets before the capability goes; a host without IPv6 fails only IPv6 echoes.
    Fd raw6 = raw.Valid() ? OpenSocket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6) : Fd();
    if (!Answer(error) || !raw.Valid())
        return 1;
    alarm(0);
    EchoProbe probe(std::move(raw), std::move(raw6));
    std::uint8_t message[sizeof(NetcapEchoAsk) + kNetcapMaxEchoData + 1];
    std::vector<std::uint8_t> data;
    std::chrono::steady_clock::time_point nextEcho{};
    for (;;) {
        msghdr msg{};
        iovec iov{message, sizeof message};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        ssize_t n = recvmsg(kChannel, &msg, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0)
            return 0;  // the program closed its end
        auto ask = n > 0 && !(msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC))
                       ? ParseNetcapEchoAsk(message, std::size_t(n), data)
                       : std::nullopt;
        if (!ask)
            return 1;
        std::this_thread::sleep_until(nextEcho);
        const auto now = std::chrono::steady_clock::now();
        nextEcho = now + kEchoInterval;
        const auto deadline = now + std::chrono::milliseconds(ask->timeoutMs);
        const EchoAnswer echo = probe.Send({NetcapEchoAskDestination(*ask), ask->ttl, data, deadline}, nullptr);
        NetcapEchoAnswer answer;
        answer.serial = ask->serial;
        answer.replied = echo.roundTripMs >= 0 ? 1 : 0;
        SetNetcapEchoAnswerAddress(answer, echo.from);
        answer.status = std::uint32_t(echo.status);
        answer.roundTripMs = std::uint32_t(std::max(echo.roundTripMs, 0));
        answer.ttl = echo.ttl;
        const auto out = FormatNetcapEchoAnswer(answer, nullptr, 0);
        if (!Send(out.data(), out.size()))
            return 1;
    }
}

int ServeCapture(const NetcapRequest& request)
{
    int error = 0;
    const CaptureFilterSettings settings{request.protocolFilter, request.portDirection, request.portFilter,
                                         request.ipVersion};
    const Fd packets = OpenPacketCapture(request.interfaceName, settings, error);
    const int fd = packets.Get();
    if (!Answer(error) || fd < 0)
        return 1;
    alarm(0);
    const bool loopback = IsLoopbackInterface(request.interfaceName);
    std::uint8_t frame[kNetcapFrameHead + kCaptureFrameMax];
    PacketFrameInfo info;
    // The drop count goes to the program while the capture runs, at most once
    // a report interval, so that the page can show it as it grows.
    using Clock = std::chrono::steady_clock;
    const auto interval = std::chrono::milliseconds(kNetcapDropReportMs);
    std::uint32_t drops = 0, reported = 0;
    auto nextReport = Clock::now() + interval;
    auto sendDrops = [&](std::uint8_t kind) {
        std::uint8_t message[1 + sizeof drops] = {kind};
        std::memcpy(message + 1, &drops, sizeof drops);
        return Send(message, sizeof message);
    };
    for (;;) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nextReport - Clock::now());
        pollfd watch[2] = {{kChannel, POLLIN, 0}, {fd, POLLIN, 0}};
        if (WaitForAny(watch, 2, int(std::max<std::int64_t>(wait.count(), 0))) < 0)
            return 1;
        if (watch[0].revents)
            break;  // "stop", the program's end closed, or anything else: the session ends
        if (watch[1].revents & (POLLERR | POLLNVAL))
            return 1;
        // A bounded batch, so that a busy interface cannot keep "stop" unread.
        for (int i = 0; i < kFramesPerRound && watch[1].revents; ++i) {
            const long n = ReadPacketFrame(fd, loopback, frame + kNetcapFrameHead, kCaptureFrameMax, info);
            FormatNetcapFrameHead(frame, info);
            if (n < 0 || (n > 0 && !Send(frame, std::size_t(n) + kNetcapFrameHead)))
                return 1;
            if (n == 0)
                break;
        }
        if (Clock::now() >= nextReport) {
            drops += PacketDrops(fd);
            if (drops != reported && !sendDrops(kNetcapDrops))
                return 1;
            reported = drops;
            nextReport = Clock::now() + interval;
        }
    }
    drops += PacketDrops(fd);
    sendDrops(kNetcapEnd);
    return 0;
}

}  // namespace

int main()
{
    // An ignored or blocked SIGALRM outlives exec: the caller must not be able
    // to switch off the alarm that ends a run nobody asks anything of.
    signal(SIGALRM, SIG_DFL);
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    sigprocmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    alarm(kRequestWaitSeconds);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    if (!IsCallersChannel(kChannel))
        return 2;

    char text[kNetcapMaxMessage + 1];
    iovec iov{text, sizeof text};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n = recvmsg(kChannel, &msg, 0);
    if (n <= 0)
        return 2;
    auto request = (msg.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) ? std::nullopt
                                                              : ParseNetcapRequest(std::string_view(text, size_t(n)));
    if (!request) {
        Answer(EINVAL);
        return 1;
    }
    const int needed = request->kind == NetcapKind::KillTcp ? CAP_NET_ADMIN : CAP_NET_RAW;
    if (!KeepOnlyCapability(needed) && !KeepOnlyCapability(-1))
        return 1;
    switch (request->kind) {
    case NetcapKind::Echo:
        return ServeEcho();
    case NetcapKind::Capture:
        return ServeCapture(*request);
    case NetcapKind::KillTcp: {
        const int error = DestroyTcpConnection(
            {request->localAddress, request->localPort, request->remoteAddress, request->remotePort});
        return Answer(error) && error == 0 ? 0 : 1;
    }
    }
    return 1;
}
