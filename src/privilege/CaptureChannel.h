#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "net/CaptureFilter.h"
#include "os/Fd.h"
#include "os/PacketSocket.h"
#include "privilege/NetcapClient.h"

class CancelToken;

// A packet socket on one interface with the filter of settings locked on it
// (os/PacketSocket.h), as the program (when it holds CAP_NET_RAW) and the
// privilege helper open it; none, with error set, when there is no such
// interface (ENODEV) or the socket fails (EPERM: no CAP_NET_RAW).
Fd OpenPacketCapture(const std::string& interfaceName, const CaptureFilterSettings& settings, int& error);

// A capture for the program: its own packet socket when it holds CAP_NET_RAW,
// otherwise the helper's capture session, which relays the frames over a
// socket pair. The caller never holds a packet socket it did not open itself.
class CaptureChannel {
public:
    CaptureChannel() = default;
    ~CaptureChannel();
    CaptureChannel(const CaptureChannel&) = delete;
    CaptureChannel& operator=(const CaptureChannel&) = delete;

    // False when no capture could be opened; Failure() and Error() then say why
    // (failure None with an errno: the interface or the socket failed).
    bool Open(const std::string& interfaceName, const CaptureFilterSettings& settings, const CancelToken* token);
    PrivilegeFailure Failure() const { return failure_; }
    int Error() const { return error_; }

    // What to wait on (WaitForFd, POLLIN) for the next frame; -1 when closed.
    int Fd() const;
    // One frame into buffer (kCaptureFrameMax bytes make room for any): its
    // size, with its receive time and length before the cut in info; 0 when
    // nothing is waiting; -1 on error or at the session's end.
    long ReadFrame(std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info);
    // The kernel's drop count so far; through the helper, as it last reported
    // it (at most a report interval old while frames are read).
    std::uint32_t Drops();
    // Ends the capture; the helper reports its drop count first.
    void Close();

private:
    ::Fd socket_;  // own packet socket
    bool loopback_ = false;
    NetcapSession session_;
    bool ended_ = false;
    std::uint32_t drops_ = 0;
    PrivilegeFailure failure_ = PrivilegeFailure::None;
    int error_ = 0;
};
