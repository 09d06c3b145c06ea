#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/IcmpLibrary.h"

// An echo library bound through LoadIcmpLibrary while it lives (one at a
// time): it records every echo sent and answers each with `answer`, by default
// the destination itself after 5 ms. Its send runs on the caller's thread, a
// page's worker too: read `sent` only after that task has ended.
class FakeEchoLibrary {
public:
    struct Echo {
        std::uint32_t destination;
        int ttl;
        std::uint32_t timeout;
        std::vector<std::uint8_t> data;
        std::uint32_t replySize;
        bool bufferWasZero;
    };
    struct Answer {
        std::uint32_t records = 1;
        std::uint32_t address = 0;
        std::uint32_t status = 0;
        std::uint32_t roundTrip = 0;
        bool write = true;  // false: the reply buffer is left as it was
    };

    std::function<Answer(const Echo&)> answer = [](const Echo& e) { return Answer{1, e.destination, 0, 5}; };
    std::vector<Echo> sent;
    bool createFails = false;
    int opened = 0;
    int closed = 0;

    FakeEchoLibrary()
    {
        static const IcmpProvider provider{&Open, &Lookup, nullptr};
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
    static IcmpHandle Create() { return current_->createFails ? kInvalidIcmpHandle : ++current_->opened; }
    static int Close(IcmpHandle)
    {
        ++current_->closed;
        return 1;
    }
    static std::uint32_t Send(IcmpHandle, std::uint32_t destination, const void* data, std::uint16_t size,
                              const IpOptionInformation* options, void* reply, std::uint32_t replySize,
                              std::uint32_t timeout)
    {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        const auto* out = static_cast<const std::uint8_t*>(reply);
        Echo echo{destination, options->Ttl, timeout, {bytes, bytes + size}, replySize, true};
        for (std::uint32_t i = 0; i < replySize; ++i)
            echo.bufferWasZero = echo.bufferWasZero && out[i] == 0;
        current_->sent.push_back(echo);
        Answer a = current_->answer(echo);
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
        if (!std::strcmp(name, "IcmpCreateFile"))
            return reinterpret_cast<void*>(&Create);
        if (!std::strcmp(name, "IcmpCloseHandle"))
            return reinterpret_cast<void*>(&Close);
        if (!std::strcmp(name, "IcmpSendEcho"))
            return reinterpret_cast<void*>(&Send);
        return nullptr;
    }

    static inline FakeEchoLibrary* current_ = nullptr;
    bool loaded_ = false;
};
