#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/Fd.h"
#include "os/PacketSocket.h"

// One capture written as a pcapng file (IETF draft-ietf-opsawg-pcapng), in
// the host's byte order, which readers tell by the byte-order magic:
//
//   Section Header Block      0x0A0D0D0A, magic 0x1A2B3C4D, version 1.0,
//                             section length -1 (unknown)
//   Interface Description     link type 101 (raw IPv4 or IPv6), snap length
//                             2000, options if_name and if_tsresol 9 (ns)
//   Enhanced Packet Block     one a frame: interface 0, timestamp high and
//                             low words, captured and original lengths, the
//                             bytes padded to 4
//   Interface Statistics      at the end: isb_ifrecv, isb_ifdrop and
//                             isb_filteraccept
//
// Every block is 4 bytes of type and 4 of total length, its body, and the
// total length again. The reading thread only copies each frame's block into
// a buffer; a thread of the writer's own writes the buffers out, swapping two
// of them, so the disk never holds up the reader.
class PcapngWriter {
public:
    // Opens (or creates) the file; null, with error set to the errno, when
    // that fails. The file is emptied and gets its first two blocks on the
    // writer's thread, once after (when valid) is ready: the Closed() of the
    // last writer, which may have had the same file. onFailure is called on
    // the writer's thread, once, when a write fails, with its errno.
    using FailureFn = std::function<void(int error)>;
    static std::unique_ptr<PcapngWriter> Create(const std::string& path, const std::string& interfaceName,
                                                FailureFn onFailure, int& error,
                                                std::shared_future<void> after = {});
    ~PcapngWriter();
    PcapngWriter(const PcapngWriter&) = delete;
    PcapngWriter& operator=(const PcapngWriter&) = delete;

    // Queues one frame's block; never waits for the disk. False once a write
    // has failed, or when the disk has fallen so far behind that the queue is
    // full (Error() then says ENOBUFS); nothing more is written after that.
    bool Append(const std::uint8_t* frame, std::size_t length, const PacketFrameInfo& info);
    // Ready once Finish has closed the file.
    std::shared_future<void> Closed() const { return closed_; }
    // The errno of the first failure, 0 while none.
    int Error() const { return error_; }
    // Writes the statistics block and everything queued, then closes the
    // file: Error() afterwards. After a failure the file ends at the last
    // whole block that reached it. Called once; the destructor calls it with
    // zero counts when nobody did.
    int Finish(std::uint64_t received, std::uint64_t dropped, std::uint64_t accepted);

private:
    PcapngWriter() = default;
    void WriteLoop(std::shared_future<void> after);
    void WriteOut(const std::vector<std::uint8_t>& bytes);

    ::Fd file_;
    std::uint64_t fileEnd_ = 0;  // bytes of whole blocks in the file
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::uint8_t> filling_;  // appended to by the reader, under mutex_
    std::vector<std::uint8_t> writing_;  // the writer thread's
    bool finishing_ = false;
    bool finished_ = false;
    std::atomic<int> error_ = 0;
    FailureFn onFailure_;
    std::promise<void> closing_;
    std::shared_future<void> closed_ = closing_.get_future().share();
    std::thread thread_;
};
