#include "net/HostAddress.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "os/PollWait.h"
#include "os/Waker.h"

std::uint32_t LookupHostAddress(const char* text)
{
    if (!text)
        return 0;
    if (text[0] >= '0' && text[0] <= '9')
        return inet_addr(text);  // INADDR_NONE (all ones) for anything not dotted
    return ResolveHostName(text);
}

std::uint32_t ResolveHostName(const char* name)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;  // one entry per address instead of one per socket type
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return 0;
    std::uint32_t address = 0;
    for (addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET) {
            address = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(list);
    return address;
}

namespace {

// What a look-up thread shares with the task that started it; it lives until
// both are done with it.
struct PendingLookup {
    std::string name;
    Waker ready;  // signalled once address is written
    std::atomic<bool> done{false};
    std::uint32_t address = 0;
};

}  // namespace

std::uint32_t ResolveHostName(const char* name, const CancelToken* token, std::chrono::steady_clock::time_point deadline)
{
    if (!token)
        return ResolveHostName(name);
    auto lookup = std::make_shared<PendingLookup>();
    lookup->name = name;
    if (!lookup->ready.Valid())
        return ResolveHostName(name);
    try {
        std::thread([lookup] {
            lookup->address = ResolveHostName(lookup->name.c_str());
            lookup->done.store(true, std::memory_order_release);
            lookup->ready.Signal();
        }).detach();
    } catch (const std::system_error&) {
        return ResolveHostName(name);
    }
    for (;;) {
        switch (WaitForFd(lookup->ready.Fd(), POLLIN, token, deadline)) {
        case WaitResult::Ready:
            if (lookup->done.load(std::memory_order_acquire))
                return lookup->address;
            continue;
        case WaitResult::Cancelled:
        case WaitResult::TimedOut:
        case WaitResult::Failed:
            return 0;
        }
    }
}

std::uint32_t LookupHostAddress(const char* text, const CancelToken* token)
{
    if (!text || (text[0] >= '0' && text[0] <= '9'))
        return LookupHostAddress(text);
    return ResolveHostName(text, token);
}

bool LooksLikeAddress(std::string_view text)
{
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    return !text.empty() && digit(text.front()) && digit(text.back());
}

bool AddressToText(std::uint32_t address, char* out, std::size_t size)
{
    if (!out || size == 0)
        return false;
    char work[20];
    in_addr in{};
    in.s_addr = address;
    if (!inet_ntop(AF_INET, &in, work, sizeof work))
        return false;
    std::size_t n = std::strlen(work);
    if (size < n + 1)
        return false;
    std::memcpy(out, work, n + 1);
    return true;
}
