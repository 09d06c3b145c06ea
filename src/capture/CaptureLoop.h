#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "capture/CapturedPacket.h"
#include "os/PacketSocket.h"

class CancelToken;
class PcapngWriter;

// Where the capture loop reads frames, IP header first: one interface, opened
// directly or relayed by the privilege helper. Closed when destroyed.
class CaptureFrameSource {
public:
    virtual ~CaptureFrameSource() = default;
    // Turns readable when a frame waits.
    virtual int Fd() const = 0;
    // Takes one frame into buffer without blocking: its length, with its
    // receive time and length before the cut in info; 0 when none waits, -1
    // on an error or the end of the capture.
    virtual int ReadFrame(std::uint8_t* buffer, std::size_t size, PacketFrameInfo& info) = 0;
    // Frames the kernel dropped so far for want of room.
    virtual std::uint64_t Drops() = 0;
};

// Takes each batch of printed packets, whole packets only, in order, with the
// source's drop count so far (an empty batch when only the count grew);
// returns false to end the capture (it was stopped, or its pane is full).
using CaptureTextSink = std::function<bool(const std::string& text, std::uint64_t drops)>;

enum class CaptureEnd { Stopped, SocketError, FileError };

// At most this many packets go into one batch, so a steady flood still
// reaches the pane in pieces.
constexpr int kCaptureBatchPackets = 256;
// At most this many frames are read before a batch is handed over, so that a
// flood the filter rejects never holds off the token.
constexpr int kCaptureBatchFrames = 1024;

// Reads, decodes, filters and prints packets until token is cancelled, the
// sink refuses a batch, or a read fails; then kCaptureSocketErrorText is the
// last text delivered. Packets are numbered from 1. With a file, each packet
// that is numbered goes to it as it is read, and the capture ends too when
// the file fails (FileError); at a stop the packets still queued go to it
// unprinted; the file is finished, with the counts of frames received and
// dropped, before the loop returns.
CaptureEnd RunCaptureLoop(CaptureFrameSource& source, const CaptureSettings& settings,
                          const CancelToken& token, const CaptureTextSink& sink, PcapngWriter* file = nullptr);
