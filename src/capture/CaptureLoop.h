#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "capture/CapturedPacket.h"

class CancelToken;

// Where the capture loop reads frames, IP header first: fd turns readable
// when one waits; readFrame takes one into buffer without blocking and gives
// its length, 0 when none waits, -1 on an error or the end of the capture.
struct CaptureFrameSource {
    int fd;
    std::function<int(std::uint8_t* buffer, std::size_t size)> readFrame;
};

// Takes each batch of printed packets, whole packets only, in order; returns
// false to end the capture (it was stopped, or its pane is full).
using CaptureTextSink = std::function<bool(const std::string& text)>;

enum class CaptureEnd { Stopped, SocketError };

// At most this many packets go into one batch, so a steady flood still
// reaches the pane in pieces.
constexpr int kCaptureBatchPackets = 256;

// Reads, decodes, filters and prints packets until token is cancelled, the
// sink refuses a batch, or a read fails; then kCaptureSocketErrorText is the
// last text delivered. Packets are numbered from 1.
CaptureEnd RunCaptureLoop(const CaptureFrameSource& source, const CaptureSettings& settings,
                          const CancelToken& token, const CaptureTextSink& sink);
