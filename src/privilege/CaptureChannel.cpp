#include "privilege/CaptureChannel.h"

#include <net/if.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/PollWait.h"

namespace {

// How long Close waits for the helper's drop count.
constexpr int kEndReportMs = 2000;

}  // namespace

Fd OpenPacketCapture(const std::string& interfaceName, const CaptureFilterSettings& settings, int& error)
{
    const unsigned index = IsValidInterfaceName(interfaceName) ? if_nametoindex(interfaceName.c_str()) : 0;
    if (index == 0) {
        error = ENODEV;
        return Fd();
    }
    return OpenPacketSocket(index, BuildCaptureFilter(settings, IsLoopbackInterface(interfaceName)), error);
}

CaptureChannel::~CaptureChannel()
{
    Close();
}

bool CaptureChannel::Open(const std::string& interfaceName, const CaptureFilterSettings& settings,
                          const CancelToken* token)
{
    Close();
    failure_ = PrivilegeFailure::None;
    error_ = 0;
    drops_ = 0;
    ended_ = false;
    loopback_ = IsLoopbackInterface(interfaceName);
    if (DoesItself(PrivilegedOperation::Capture)) {
        socket_ = OpenPacketCapture(interfaceName, settings, error_);
        return socket_.Valid();
    }
    NetcapRequest request;
    request.kind = NetcapKind::Capture;
    request.interfaceName = interfaceName;
    request.protocolFilter = settings.protocolFilter;
    request.portDirection = settings.portDirection;
    request.portFilter = settings.portFilter;
    request.ipVersion = settings.ipVersion;
    if (!ParseNetcapRequest(FormatNetcapRequest(request))) {  // settings the helper would refuse
        error_ = IsValidInterfaceName(interfaceName) ? EINVAL : ENODEV;
        return false;
    }
    session_ = OpenNetcapSession(request, token);
    failure_ = session_.failure;
    error_ = session_.error;
    return session_.fd.Valid();
}

int CaptureChannel::Fd() const
{
    return socket_.Valid() ? socket_.Get() : session_.fd.Get();
}

long CaptureChannel::ReadFrame(std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info)
{
    if (socket_.Valid())
        return ReadPacketFrame(socket_.Get(), loopback_, buffer, std::min<std::size_t>(size, kCaptureFrameMax), info);
    if (!session_.fd.Valid() || ended_ || !buffer)
        return -1;
    // The frame goes straight into buffer, the rest of a message into head.
    std::uint8_t head[kNetcapFrameHead];
    const iovec parts[2] = {{head, sizeof head}, {buffer, std::min<std::size_t>(size, kCaptureFrameMax)}};
    for (;;) {
        long n = ReceiveNetcapMessage(session_.fd.Get(), parts, 2);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return 0;
        if (n > 0 && head[0] == kNetcapFrame) {
            const auto frameInfo = ParseNetcapFrameHead(head, std::size_t(n));
            if (!frameInfo)
                break;  // no frame the helper sends
            info = *frameInfo;
            return n - long(kNetcapFrameHead);
        }
        const bool count = n == 1 + long(sizeof drops_) && (head[0] == kNetcapDrops || head[0] == kNetcapEnd);
        if (count)
            std::memcpy(&drops_, head + 1, sizeof drops_);
        if (!count || head[0] == kNetcapEnd)
            break;
    }
    ended_ = true;  // the end, or anything that is no frame: the helper is done
    return -1;
}

std::uint32_t CaptureChannel::Drops()
{
    if (socket_.Valid())
        drops_ += PacketDrops(socket_.Get());
    return drops_;
}

void CaptureChannel::Close()
{
    if (socket_.Valid()) {
        Drops();
        socket_.Reset();
    }
    if (session_.fd.Valid()) {
        if (!ended_ && send(session_.fd.Get(), kNetcapStop.data(), kNetcapStop.size(), MSG_NOSIGNAL) > 0) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEndReportMs);
            std::uint8_t frame[kCaptureFrameMax];
            PacketFrameInfo info;
            while (!ended_ && WaitForFd(session_.fd.Get(), POLLIN, nullptr, deadline) == WaitResult::Ready)
                ReadFrame(frame, sizeof frame, info);
        }
        CloseNetcapSession(session_);
    }
    ended_ = true;
}
