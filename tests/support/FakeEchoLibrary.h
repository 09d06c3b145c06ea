#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <vector>

#include "platform/IcmpLibrary.h"

// An echo library bound through LoadIcmpLibrary while it lives (one at a
// time), without the entry point named `missing`: it records every echo sent
// and answers each with `answer`, by default the destination itself after
// 5 ms. Its send runs on the caller's thread, a page's worker too: read `sent`
// only after that task has ended.
class FakeEchoLibrary {
public:
    struct Echo {
        std::uint32_t destination;
        int ttl;
        std::uint32_t timeout;
        std::vector<std::uint8_t> data;
        std::uint32_t replySize;
    };
    // How many records send returns, and the first record (not written when !write).
    struct Answer {
        std::uint32_t records = 1, address = 0, status = 0, roundTrip = 0;
        bool write = true;
    };

    std::function<Answer(const Echo&)> answer = [](const Echo& e) { return Answer{1, e.destination, 0, 5}; };
    std::vector<Echo> sent;
    int opened = 0, closed = 0, released = 0;

    explicit FakeEchoLibrary(std::string_view missing = {}) : missing_(missing)
    {
        static const IcmpProvider provider{&Open, &Lookup, [](const void*) { ++current_->released; }};
        current_ = this;
        loaded_ = LoadIcmpLibrary(provider) == 1;
    }
    ~FakeEchoLibrary()
    {
        FreeIcmpLibrary();
        current_ = nullptr;
    }
    FakeEchoLibrary(const FakeEchoLibrary&) = delete;
    FakeEchoLibrary& operator=(const FakeEchoLibrary&) = delete;
    bool Loaded() const { return loaded_; }

private:
    static IcmpHandle Create() { return ++current_->opened; }
    static int Close(IcmpHandle) { return ++current_->closed, 1; }
    static std::uint32_t Send(IcmpHandle, std::uint32_t destination, const void* data, std::uint16_t size,
                              const IpOptionInformation* options, void* reply, std::uint32_t replySize,
                              std::uint32_t timeout)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        const Echo echo{destination, options->Ttl, timeout, {bytes, bytes + size}, replySize};
        current_->sent.push_back(echo);
        const Answer a = current_->answer(echo);
        if (a.write) {
            IcmpEchoReply record{};
            record.Address = a.address;
            record.Status = a.status;
            record.RoundTripTime = a.roundTrip;
            std::memcpy(reply, &record, sizeof record);
        }
        return a.records;
    }
    static const void* Open() { return &current_; }
    static void* Lookup(const void*, const char* name)
    {
        const std::string_view n = name;
        return n == current_->missing_      ? nullptr
               : n == "IcmpCreateFile"  ? reinterpret_cast<void*>(&Create)
               : n == "IcmpCloseHandle" ? reinterpret_cast<void*>(&Close)
               : n == "IcmpSendEcho"    ? reinterpret_cast<void*>(&Send)
                                        : nullptr;
    }

    static inline FakeEchoLibrary* current_ = nullptr;
    std::string_view missing_;
    bool loaded_ = false;
};
