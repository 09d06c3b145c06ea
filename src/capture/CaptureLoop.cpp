#include "capture/CaptureLoop.h"

#include "capture/CapturePrinter.h"
#include "os/CancelToken.h"
#include "os/PollWait.h"

namespace {

// How long one wait lasts before it is simply begun again; the token wakes it
// at once in any case.
constexpr int kWaitSliceMs = 60'000;

}  // namespace

CaptureEnd RunCaptureLoop(CaptureFrameSource& source, const CaptureSettings& settings,
                          const CancelToken& token, const CaptureTextSink& sink)
{
    std::uint8_t frame[kCaptureFrameMax];
    CapturedPacket packet;
    std::string batch;
    int counter = 0;
    std::uint64_t handedDrops = 0;
    for (;;) {
        const WaitResult wait = WaitForFd(source.Fd(), POLLIN, &token, kWaitSliceMs);
        if (wait == WaitResult::Cancelled)
            return CaptureEnd::Stopped;
        if (wait == WaitResult::TimedOut)
            continue;
        bool failed = wait == WaitResult::Failed;
        batch.clear();
        // Everything already waiting, up to a batch, goes to the sink at once;
        // the frame limit keeps a flood the filter rejects from holding off STOP.
        int printed = 0;
        for (int frames = 0; !failed && printed < kCaptureBatchPackets && frames < kCaptureBatchFrames; ++frames) {
            const int received = source.ReadFrame(frame, sizeof frame);
            if (received < 0)
                failed = true;
            if (received <= 0)
                break;
            if (DecodeCapturedPacket(frame, std::size_t(received), packet) == 0 ||
                !PassesCaptureFilter(packet, settings))
                continue;
            PrintCapturedPacket(packet, ++counter, settings, batch);
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
        if (failed)
            return CaptureEnd::SocketError;
    }
}
