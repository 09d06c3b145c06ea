#include "hostcfg/AdapterList.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "net/Interfaces.h"

namespace {

const char* const kSysClassNet = "/sys/class/net/";

std::optional<std::string> ReadLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    if (!std::getline(file, line))
        return std::nullopt;
    return line;
}

template <class T>
std::optional<T> ReadNumber(const std::string& path, int base = 10)
{
    const auto line = ReadLine(path);
    if (!line)
        return std::nullopt;
    std::string_view text = *line;
    if (base == 16 && text.starts_with("0x"))
        text.remove_prefix(2);
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string AddressText(std::uint32_t address)
{
    in_addr in{address};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

std::string DriverName(const std::string& interface)
{
    std::error_code ec;
    const auto target = std::filesystem::read_symlink(kSysClassNet + interface + "/device/driver", ec);
    return ec || target.filename().empty() ? interface : target.filename().string();
}

}  // namespace

unsigned AdapterTypeFromArphrd(unsigned arphrd)
{
    switch (arphrd) {
    case ARPHRD_ETHER:
    case ARPHRD_IEEE802:
        return kAdapterTypeEthernet;
    case ARPHRD_LOOPBACK:
        return kAdapterTypeLoopback;
    case ARPHRD_PPP:
        return kAdapterTypePpp;
    case ARPHRD_SLIP:
    case ARPHRD_CSLIP:
    case ARPHRD_SLIP6:
    case ARPHRD_CSLIP6:
        return kAdapterTypeSlip;
    case ARPHRD_FDDI:
        return kAdapterTypeFddi;
    case ARPHRD_IEEE802_TR:
        return kAdapterTypeTokenRing;
    default:
        return kAdapterTypeOther;
    }
}

unsigned OperStatusFromLinux(std::string_view operstate, unsigned flags)
{
    if (!(flags & IFF_UP))
        return kOperStatusDisabled;
    if (operstate == "up")
        return kOperStatusConnected;
    if (operstate == "down" || operstate == "lowerlayerdown" || operstate == "notpresent")
        return kOperStatusDisconnected;
    if (operstate == "dormant" || operstate == "testing")
        return kOperStatusConnecting;
    // Loopback and most tunnels never report a state: whether they carry
    // traffic is in the running flag.
    if (operstate == "unknown")
        return (flags & IFF_RUNNING) ? kOperStatusConnected : kOperStatusDisconnected;
    return kOperStatusUnknown;
}

std::uint32_t SpeedBitsPerSecond(std::int64_t megabits)
{
    if (megabits <= 0)
        return 0;
    constexpr std::int64_t kMax = UINT32_MAX;
    return megabits > kMax / 1000000 ? UINT32_MAX : std::uint32_t(std::min(megabits * 1000000, kMax));
}

std::vector<std::pair<std::string, std::string>> DefaultGateways(std::string_view procNetRoute)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...; addresses are
    // the raw 32-bit values in hexadecimal, so on any byte order they read
    // back as network-order s_addr values.
    std::vector<std::pair<std::string, std::string>> gateways;
    std::istringstream lines{std::string(procNetRoute)};
    std::string line;
    std::getline(lines, line);  // the header
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string iface, destination, gateway, flags, refCnt, use, metric, mask;
        if (!(words >> iface >> destination >> gateway >> flags >> refCnt >> use >> metric >> mask))
            continue;
        if (destination != "00000000" || mask != "00000000" || gateway == "00000000")
            continue;
        std::uint32_t raw = 0;
        const auto [end, ec] = std::from_chars(gateway.data(), gateway.data() + gateway.size(), raw, 16);
        if (ec != std::errc() || end != gateway.data() + gateway.size())
            continue;
        if (std::none_of(gateways.begin(), gateways.end(), [&](const auto& g) { return g.first == iface; }))
            gateways.emplace_back(iface, AddressText(raw));  // the first, lowest-metric-first as the kernel lists them
    }
    return gateways;
}

std::optional<std::vector<AdapterRecord>> ListAdapters(const LeaseSources& leases)
{
    const auto interfaces = ListInterfaces();
    if (!interfaces)
        return std::nullopt;
    std::vector<AdapterRecord> adapters;
    for (const NetInterface& i : *interfaces) {
        if (i.index == 0)
            continue;  // no link entry: gone between the system's two dumps
        AdapterRecord adapter;
        adapter.index = i.index;
        adapter.name = i.name;
        adapter.description = DriverName(adapter.name);
        std::copy_n(i.hardwareAddress.begin(), std::min<std::size_t>(i.hardwareAddress.size(), 6),
                    adapter.address.begin());
        adapter.type = AdapterTypeFromArphrd(i.hardwareType);
        for (const std::uint32_t address : i.ipv4)
            adapter.ipAddresses.push_back(AddressText(address));
        for (const IpAddress& address : i.ipv6)
            adapter.ipv6Addresses.push_back(IpText(address));
        adapters.push_back(std::move(adapter));
    }

    std::ifstream routeFile("/proc/net/route");
    const std::string routes{std::istreambuf_iterator<char>(routeFile), std::istreambuf_iterator<char>()};
    for (const auto& [iface, gateway] : DefaultGateways(routes))
        for (AdapterRecord& adapter : adapters)
            if (adapter.name == iface)
                adapter.gateway = gateway;
    for (AdapterRecord& adapter : adapters) {
        if (const auto lease = FindDhcpLease(leases, adapter.name, adapter.index, adapter.ipAddresses)) {
            adapter.dhcpEnabled = true;
            adapter.dhcpServer = lease->server;
            adapter.leaseObtained = lease->obtained;
            adapter.leaseExpires = lease->expires;
        }
    }
    return adapters;
}

InterfaceFigures ReadInterfaceFigures(unsigned index)
{
    char name[IF_NAMESIZE] = {};
    if (!if_indextoname(index, name))
        return {};
    // The name must still be this interface's, in the /sys of this namespace.
    const std::string dir = kSysClassNet + std::string(name) + "/";
    const auto sysIndex = ReadNumber<unsigned>(dir + "ifindex");
    const auto mtu = ReadNumber<unsigned>(dir + "mtu");
    const auto flags = ReadNumber<unsigned>(dir + "flags", 16);
    const auto operstate = ReadLine(dir + "operstate");
    if (!sysIndex || *sysIndex != index || !mtu || !flags || !operstate)
        return {};
    InterfaceFigures figures;
    figures.mtu = *mtu;
    // sysfs flags are the administrative ones; running is the carrier's state.
    const bool running = ReadNumber<int>(dir + "carrier").value_or(0) == 1;
    figures.operStatus = OperStatusFromLinux(*operstate, running ? *flags | IFF_RUNNING : *flags);
    figures.speed = SpeedBitsPerSecond(ReadNumber<std::int64_t>(dir + "speed").value_or(0));  // EINVAL on lo, -1 on virtio
    figures.inPackets = std::uint32_t(ReadNumber<std::uint64_t>(dir + "statistics/rx_packets").value_or(0));
    figures.outPackets = std::uint32_t(ReadNumber<std::uint64_t>(dir + "statistics/tx_packets").value_or(0));
    return figures;
}
