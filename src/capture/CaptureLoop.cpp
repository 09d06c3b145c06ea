#include "capture/CaptureLoop.h"

#include "capture/CapturePrinter.h"
#include "capture/PcapngWriter.h"
#include "os/CancelToken.h"
#include "os/PollWait.h"

namespace {

// How long one wait lasts before it is simply begun again; the token wakes it
// at once in any case.
constexpr int kWaitSliceMs = 60'000;
// At most this many frames still queued at a stop go to the file: about what
// the socket's receive buffer holds of small frames.
constexpr int kCaptureDrainFrames = 65536;

struct CaptureTally {
    std::uint64_t frames = 0;  // read from the source
    int counter = 0;           // packets numbered
    std::uint64_t saved = 0;   // packets written to the file
};

CaptureEnd ReadCapture(CaptureFrameSource& source, const CaptureSettings& settings, const CancelToken& token,
                       const CaptureTextSink& sink, PcapngWriter* file, CaptureTally& tally)
{
    std::uint8_t frame[kCaptureFrameMax];
    PacketFrameInfo info;
    CapturedPacket packet;
    std::string batch;
    std::uint64_t handedDrops = 0;
    for (;;) {
        const WaitResult wait = WaitForFd(source.Fd(), POLLIN, &token, kWaitSliceMs);
        if (wait == WaitResult::Cancelled)
            return CaptureEnd::Stopped;
        if (wait == WaitResult::TimedOut)
            continue;
        bool failed = wait == WaitResult::Failed, fileFailed = false;
        batch.clear();
        // Everything already waiting, up to a batch, goes to the sink at once;
        // the frame limit keeps a flood the filter rejects from holding off STOP.
        int printed = 0;
        for (int frames = 0; !failed && printed < kCaptureBatchPackets && frames < kCaptureBatchFrames; ++frames) {
            const int received = source.ReadFrame(frame, sizeof frame, info);
            if (received < 0)
                failed = true;
            if (received <= 0)
                break;
            ++tally.frames;
            if (DecodeCapturedPacket(frame, std::size_t(received), packet) == 0 ||
                !PassesCaptureFilter(packet, settings))
                continue;
            if (file && !file->Append(frame, std::size_t(received), info)) {
                fileFailed = true;
                break;
            }
            tally.saved += file != nullptr;
            PrintCapturedPacket(packet, ++tally.counter, settings, batch);
            ++printed;
        }
        if (failed)
            batch += kCaptureSocketErrorText;
        if (token.IsCancelled())
            return CaptureEnd::Stopped;
        // A grown drop count goes out even without packets to carry it.
        const std::uint64_t drops = source.Drops();
        if ((!batch.empty() || drops != handedDrops) && !sink(batch, drops))
            return CaptureEnd::Stopped;
        handedDrops = drops;
        if (fileFailed)
            return CaptureEnd::FileError;
        if (failed)
            return CaptureEnd::SocketError;
    }
}

}  // namespace

CaptureEnd RunCaptureLoop(CaptureFrameSource& source, const CaptureSettings& settings,
                          const CancelToken& token, const CaptureTextSink& sink, PcapngWriter* file)
{
    CaptureTally tally;
    const CaptureEnd end = ReadCapture(source, settings, token, sink, file, tally);
    if (file && end == CaptureEnd::Stopped) {
        // What the kernel took before the stop, still queued while the pane
        // held the reader back, goes to the file too, as far as it reaches.
        std::uint8_t frame[kCaptureFrameMax];
        PacketFrameInfo info;
        CapturedPacket packet;
        for (int n = 0, received; n < kCaptureDrainFrames && (received = source.ReadFrame(frame, sizeof frame, info)) > 0; ++n) {
            ++tally.frames;
            if (DecodeCapturedPacket(frame, std::size_t(received), packet) && PassesCaptureFilter(packet, settings)) {
                if (!file->Append(frame, std::size_t(received), info))
                    break;
                ++tally.saved;
            }
        }
    }
    if (file) {
        const std::uint64_t drops = source.Drops();
        file->Finish(tally.frames + drops, drops, tally.saved);
    }
    return end;
}
