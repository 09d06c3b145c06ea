#include "platform/IcmpLibrary.h"

namespace {

IcmpLibrary g_icmp;
const IcmpProvider* g_provider = nullptr;

}  // namespace

IcmpLibrary& TheIcmpLibrary()
{
    return g_icmp;
}

int LoadIcmpLibrary(const IcmpProvider& provider)
{
    const void* library = provider.open ? provider.open() : nullptr;
    if (!library)
        return 0;
    auto create = reinterpret_cast<IcmpCreateFileFn>(provider.lookup(library, "IcmpCreateFile"));
    auto close = reinterpret_cast<IcmpCloseHandleFn>(provider.lookup(library, "IcmpCloseHandle"));
    auto send = reinterpret_cast<IcmpSendEchoFn>(provider.lookup(library, "IcmpSendEcho"));
    if (!create || !close || !send) {
        if (provider.release)
            provider.release(library);
        g_icmp = IcmpLibrary{};
        return 0;
    }
    g_icmp = IcmpLibrary{library, create, close, send};
    g_provider = &provider;
    return 1;
}

void FreeIcmpLibrary()
{
    if (!g_icmp.handle)
        return;
    if (g_provider && g_provider->release)
        g_provider->release(g_icmp.handle);
    g_icmp = IcmpLibrary{};
    g_provider = nullptr;
}

IcmpHandle GuardedIcmpCreateFile()
{
    return g_icmp.handle ? g_icmp.IcmpCreateFile() : kInvalidIcmpHandle;
}

int GuardedIcmpCloseHandle(IcmpHandle handle)
{
    return g_icmp.handle ? g_icmp.IcmpCloseHandle(handle) : 0;
}

std::uint32_t GuardedIcmpSendEcho(IcmpHandle handle, std::uint32_t destination, const void* requestData,
                                  std::uint16_t requestSize, const IpOptionInformation* options,
                                  void* replyBuffer, std::uint32_t replySize, std::uint32_t timeoutMs)
{
    if (!g_icmp.handle)
        return 0;
    return g_icmp.IcmpSendEcho(handle, destination, requestData, requestSize, options, replyBuffer,
                               replySize, timeoutMs);
}
