#include "capture/PcapngWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "net/CaptureFilter.h"

namespace {

constexpr std::uint32_t kPcapngSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kPcapngInterfaceDescription = 1;
constexpr std::uint32_t kPcapngInterfaceStatistics = 5;
constexpr std::uint32_t kPcapngEnhancedPacket = 6;
constexpr std::uint16_t kPcapngLinkTypeRaw = 101;
// The writer thread is woken once this much waits, and writes in pieces of
// about this size; it writes what waits at least this often in any case.
constexpr std::size_t kPcapngWriteChunk = 256 * 1024;
constexpr auto kPcapngWriteEvery = std::chrono::milliseconds(200);
// Queued beyond this, the disk cannot keep up with the capture.
constexpr std::size_t kPcapngMaxQueued = 64 * 1024 * 1024;

void PutPcapng(std::vector<std::uint8_t>& out, const void* data, std::size_t size, bool pad = true)
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
    if (pad)
        out.resize(out.size() + (-size & 3), 0);
}

template <typename T>
void PutPcapngValue(std::vector<std::uint8_t>& out, T value)
{
    PutPcapng(out, &value, sizeof value, false);
}

void PutPcapngOption(std::vector<std::uint8_t>& out, std::uint16_t code, const void* data, std::size_t size)
{
    PutPcapngValue(out, code);
    PutPcapngValue(out, std::uint16_t(size));
    PutPcapng(out, data, size);
}

// Opens a block at the end of out; CloseBlock fills in its length.
std::size_t OpenPcapngBlock(std::vector<std::uint8_t>& out, std::uint32_t type)
{
    const std::size_t start = out.size();
    PutPcapngValue(out, type);
    PutPcapngValue(out, std::uint32_t(0));
    return start;
}

void ClosePcapngBlock(std::vector<std::uint8_t>& out, std::size_t start, bool withOptions)
{
    if (withOptions)
        PutPcapngValue(out, std::uint32_t(0));  // opt_endofopt
    const auto total = std::uint32_t(out.size() - start + 4);
    std::memcpy(out.data() + start + 4, &total, sizeof total);
    PutPcapngValue(out, total);
}

void PutPcapngTime(std::vector<std::uint8_t>& out, std::int64_t ns)
{
    PutPcapngValue(out, std::uint32_t(std::uint64_t(ns) >> 32));
    PutPcapngValue(out, std::uint32_t(ns));
}

}  // namespace

std::unique_ptr<PcapngWriter> PcapngWriter::Create(const std::string& path, const std::string& interfaceName,
                                                   FailureFn onFailure, int& error,
                                                   std::shared_future<void> after)
{
    std::unique_ptr<PcapngWriter> writer(new PcapngWriter);
    writer->onFailure_ = std::move(onFailure);
    writer->file_.Reset(open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!writer->file_.Valid()) {
        error = errno;
        return nullptr;
    }
    std::vector<std::uint8_t>& out = writer->filling_;
    out.reserve(2 * kPcapngWriteChunk);
    writer->writing_.reserve(2 * kPcapngWriteChunk);
    std::size_t block = OpenPcapngBlock(out, kPcapngSectionHeader);
    PutPcapngValue(out, std::uint32_t(0x1A2B3C4D));
    PutPcapngValue(out, std::uint16_t(1));  // version 1.0
    PutPcapngValue(out, std::uint16_t(0));
    PutPcapngValue(out, std::int64_t(-1));
    PutPcapngOption(out, 4, "Quorlix", 7);  // shb_userappl
    ClosePcapngBlock(out, block, true);
    block = OpenPcapngBlock(out, kPcapngInterfaceDescription);
    PutPcapngValue(out, kPcapngLinkTypeRaw);
    PutPcapngValue(out, std::uint16_t(0));  // reserved
    PutPcapngValue(out, std::uint32_t(kCaptureFrameMax));
    PutPcapngOption(out, 2, interfaceName.data(), interfaceName.size());  // if_name
    const std::uint8_t nanoseconds = 9;
    PutPcapngOption(out, 9, &nanoseconds, 1);  // if_tsresol
    ClosePcapngBlock(out, block, true);
    writer->thread_ = std::thread(&PcapngWriter::WriteLoop, writer.get(), std::move(after));
    return writer;
}

PcapngWriter::~PcapngWriter()
{
    Finish(0, 0, 0);
}

bool PcapngWriter::Append(const std::uint8_t* frame, std::size_t length, const PacketFrameInfo& info)
{
    if (error_)
        return false;
    std::lock_guard lock(mutex_);
    if (filling_.size() > kPcapngMaxQueued) {
        int none = 0;
        error_.compare_exchange_strong(none, ENOBUFS);
        return false;
    }
    const std::size_t block = OpenPcapngBlock(filling_, kPcapngEnhancedPacket);
    PutPcapngValue(filling_, std::uint32_t(0));  // interface 0
    PutPcapngTime(filling_, info.receivedNs);
    PutPcapngValue(filling_, std::uint32_t(length));
    PutPcapngValue(filling_, std::max(info.originalLength, std::uint32_t(length)));
    PutPcapng(filling_, frame, length);
    ClosePcapngBlock(filling_, block, false);
    if (block < kPcapngWriteChunk && filling_.size() >= kPcapngWriteChunk)
        wake_.notify_one();
    return true;
}

int PcapngWriter::Finish(std::uint64_t received, std::uint64_t dropped, std::uint64_t accepted)
{
    {
        std::lock_guard lock(mutex_);
        if (finished_)
            return error_;
        finished_ = true;
        if (!error_) {
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            const std::size_t block = OpenPcapngBlock(filling_, kPcapngInterfaceStatistics);
            PutPcapngValue(filling_, std::uint32_t(0));
            PutPcapngTime(filling_, std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec);
            PutPcapngOption(filling_, 4, &received, sizeof received);  // isb_ifrecv
            PutPcapngOption(filling_, 5, &dropped, sizeof dropped);    // isb_ifdrop
            PutPcapngOption(filling_, 6, &accepted, sizeof accepted);  // isb_filteraccept
            ClosePcapngBlock(filling_, block, true);
        }
        finishing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
    if (file_.Valid() && close(file_.Release()) != 0 && !error_)
        error_ = errno;
    closing_.set_value();
    return error_;
}

void PcapngWriter::WriteLoop(std::shared_future<void> after)
{
    if (after.valid())
        after.wait();
    if (ftruncate(file_.Get(), 0) != 0) {
        error_ = errno;
        if (onFailure_)
            onFailure_(error_);
    }
    std::unique_lock lock(mutex_);
    while (!error_) {
        wake_.wait_for(lock, kPcapngWriteEvery, [this] { return finishing_ || filling_.size() >= kPcapngWriteChunk; });
        if (filling_.empty() && finishing_)
            break;
        writing_.swap(filling_);
        lock.unlock();
        WriteOut(writing_);
        writing_.clear();
        if (error_ && onFailure_)
            onFailure_(error_);
        lock.lock();
    }
}

void PcapngWriter::WriteOut(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(file_.Get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int failure = n < 0 ? errno : ENOSPC;
        // The file keeps the whole blocks that reached it, not a torn one.
        std::size_t whole = 0;
        for (std::uint32_t total = 0; whole + 8 <= done; whole += total) {
            std::memcpy(&total, bytes.data() + whole + 4, sizeof total);
            if (whole + total > done)
                break;
        }
        if (ftruncate(file_.Get(), off_t(fileEnd_ + whole)) != 0) {}
        fileEnd_ += whole;
        error_ = failure;
        return;
    }
    fileEnd_ += done;
}
