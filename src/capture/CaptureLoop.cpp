#include "capture/CaptureLoop.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "capture/CapturePrinter.h"
#include "os/CancelToken.h"
#include "os/PollWait.h"
#include "os/Waker.h"

namespace {

// How long one wait lasts before it is simply begun again; the token wakes it
// at once in any case.
constexpr int kWaitSliceMs = 60'000;

// The batches the reading thread has printed and the sink has not taken yet.
// Fd() is readable while there is something to take.
class CaptureRelay {
public:
    CaptureRelay() = default;
    CaptureRelay(const CaptureRelay&) = delete;
    CaptureRelay& operator=(const CaptureRelay&) = delete;

    int Fd() const { return ready_.Fd(); }

    // Reader: holds a batch, waiting while too much is held; false once the
    // taker has left.
    bool Put(const std::string& text, std::uint64_t drops)
    {
        std::unique_lock lock(mutex_);
        roomy_.wait(lock, [&] { return heldBytes_ < kCaptureHeldBytes || left_; });
        if (left_)
            return false;
        held_.push_back(text);
        heldBytes_ += text.size();
        drops_ = drops;
        Signal();
        return true;
    }
    void End(CaptureEnd end)
    {
        std::lock_guard lock(mutex_);
        end_ = end;
        Signal();
    }

    // Taker: the oldest held batches, up to a hand-over; the end once all
    // was taken.
    void Take(std::string& text, std::uint64_t& drops, std::optional<CaptureEnd>& end)
    {
        text.clear();
        std::lock_guard lock(mutex_);
        ready_.Clear();
        while (!held_.empty() && (text.empty() || text.size() + held_.front().size() <= kCaptureHandOverBytes)) {
            text += held_.front();
            heldBytes_ -= held_.front().size();
            held_.pop_front();
        }
        drops = drops_;
        if (held_.empty())
            end = end_;
        else
            Signal();  // more is waiting
        roomy_.notify_all();
    }
    void Leave()
    {
        std::lock_guard lock(mutex_);
        left_ = true;
        roomy_.notify_all();
    }

private:
    void Signal() { ready_.Signal(); }

    Waker ready_;
    std::mutex mutex_;
    std::condition_variable roomy_;
    std::deque<std::string> held_;
    std::size_t heldBytes_ = 0;
    std::uint64_t drops_ = 0;
    std::optional<CaptureEnd> end_;
    bool left_ = false;
};

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

CaptureEnd RunRelayedCapture(CaptureFrameSource& source, const CaptureSettings& settings,
                             const CancelToken& token, const CaptureTextSink& sink)
{
    CaptureRelay relay;
    CancelToken stop;  // the reader's own, so that the sink can end it too
    std::thread reader;
    if (relay.Fd() >= 0) {
        try {
            reader = std::thread([&] {
                relay.End(RunCaptureLoop(source, settings, stop, [&](const std::string& text, std::uint64_t drops) {
                    return relay.Put(text, drops);
                }));
            });
        } catch (const std::system_error&) {
        }
    }
    if (!reader.joinable())
        return RunCaptureLoop(source, settings, token, sink);

    CaptureEnd end = CaptureEnd::Stopped;
    std::string text;
    std::uint64_t drops = 0, handedDrops = 0;
    std::optional<CaptureEnd> ended;
    for (;;) {
        const WaitResult wait = WaitForFd(relay.Fd(), POLLIN, &token, kWaitSliceMs);
        if (wait == WaitResult::Cancelled || wait == WaitResult::Failed)
            break;
        if (wait == WaitResult::TimedOut)
            continue;
        relay.Take(text, drops, ended);
        if (token.IsCancelled() || ((!text.empty() || drops != handedDrops) && !sink(text, drops)))
            break;
        handedDrops = drops;
        if (ended) {
            end = *ended;
            break;
        }
    }
    relay.Leave();
    stop.Cancel();
    reader.join();
    return end;
}
