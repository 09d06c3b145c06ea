#include "hostinfo/NetInfoReports.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace {

constexpr unsigned kPortServicesEnd = 10000;  // ports 0 to 9999 are listed

void AppendFormat(std::string& out, const char* format, auto... args)
{
    char line[512];
    const int n = std::snprintf(line, sizeof line, format, args...);
    if (n < 0)
        return;
    if (std::size_t(n) < sizeof line) {
        out.append(line, std::size_t(n));
        return;
    }
    std::string longer(std::size_t(n) + 1, '\0');
    std::snprintf(longer.data(), longer.size(), format, args...);
    out.append(longer.data(), std::size_t(n));
}

// The first address of a list and the further ones under it, three tabs in.
void AppendAddressList(std::string& out, const char* label, const std::vector<std::string>& addresses,
                       const char* none)
{
    AppendFormat(out, "%s%s\r\n", label, addresses.empty() ? none : addresses.front().c_str());
    for (std::size_t i = 1; i < addresses.size(); ++i)
        AppendFormat(out, "\t\t\t%s\r\n", addresses[i].c_str());
}

const char* YesNo(bool yes)
{
    return yes ? "Yes" : "No";
}

}  // namespace

const char* AdapterTypeName(unsigned type)
{
    switch (type) {
    case kAdapterTypeEthernet: return "Ethernet";
    case kAdapterTypeTokenRing: return "Token Ring";
    case kAdapterTypeFddi: return "FDDI";
    case kAdapterTypePpp: return "PPP";
    case kAdapterTypeLoopback: return "LoopBack";
    case kAdapterTypeSlip: return "SLIP";
    default: return "Unknown";
    }
}

const char* OperStatusName(unsigned status)
{
    switch (status) {
    case 0: return "Disabled";
    case 1:
    case 2: return "Disconnected";
    case 3: return "Connecting";
    case 4:
    case 5: return "Connected";
    default: return "Unknown";
    }
}

std::string GroupThousands(std::uint32_t n)
{
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::string LeaseDateText(std::int64_t seconds)
{
    // English tables, not strftime: the user's locale must not change the report.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm utc{};
    const std::time_t t = std::time_t(seconds);
    if (seconds < 0 || !gmtime_r(&t, &utc) || utc.tm_year + 1900 > 9999)
        return LeaseDateText(0);
    char text[32];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", kDays[utc.tm_wday], kMonths[utc.tm_mon],
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_year + 1900);
    return text;
}

NetInfoReport IpConfigurationReport(const std::optional<NetworkParams>& params)
{
    NetInfoReport report{"[IP Statistics]\r\n\r\n", false,
                         "hostname; sysctl net.ipv4.ip_forward; grep -E '^(domain|search|nameserver)' /etc/resolv.conf"};
    std::string& out = report.text;
    if (!params) {
        out += "\tUnable To Get Parameters!\r\n\r\n";
        return report;
    }
    AppendFormat(out, "Host Name:\t\t%s\r\n", params->hostName.c_str());
    AppendFormat(out, "Domain Name:\t\t%s\r\n", params->domainName.c_str());
    out += "Node Type:\t\tUknown\r\n";  // Linux has no NetBIOS node type
    AppendFormat(out, "IP Routing Enabled:\t%s\r\n", YesNo(params->ipForwarding));
    AppendAddressList(out, "DNS Servers:\t\t", params->dnsServers, "");
    report.complete = true;
    return report;
}

NetInfoReport AdapterInformationReport(const std::optional<std::vector<AdapterRecord>>& adapters,
                                       const std::function<InterfaceFigures(unsigned)>& readFigures)
{
    NetInfoReport report{"[Adapter Information]\r\n\r\n", false, "ip -s addr"};
    std::string& out = report.text;
    if (!adapters) {
        out += "\tUnable To Get Adapters Info!\r\n\r\n";
        return report;
    }
    for (const AdapterRecord& a : *adapters) {
        AppendFormat(out, "Adapter Index:\t\t%u\r\n", a.index);
        AppendFormat(out, "Adapter Name:\t\t%s\r\n", a.name.c_str());
        AppendFormat(out, "Description:\t\t%s\r\n", a.description.c_str());
        AppendFormat(out, "MAC Address:\t\t%.2x-%.2x-%.2x-%.2x-%.2x-%.2x\r\n", a.address[0], a.address[1],
                     a.address[2], a.address[3], a.address[4], a.address[5]);
        AppendFormat(out, "Type:\t\t\t%s\r\n", AdapterTypeName(a.type));
        AppendAddressList(out, "IP Addresses:\t\t", a.ipAddresses, "0.0.0.0");
        if (!a.ipv6Addresses.empty())
            AppendAddressList(out, "IPv6 Addresses:\t\t", a.ipv6Addresses, "");
        AppendFormat(out, "Default Gateway:\t%s\r\n", a.gateway.c_str());
        AppendFormat(out, "Dhcp Enabled:\t\t%s\r\n", YesNo(a.dhcpEnabled));
        AppendFormat(out, "Dhcp Server:\t\t%s\r\n", a.dhcpServer.c_str());
        // Linux has no WINS.
        out += "WINS Proxy Enabled:\tNo\r\nPrimary WINS Server:\t0.0.0.0\r\nSecondary WINS Server:\t0.0.0.0\r\n";
        AppendFormat(out, "Lease Obtained:\t\t%s\r\n", LeaseDateText(a.leaseObtained).c_str());
        AppendFormat(out, "Lease Expires:\t\t%s\r\n", LeaseDateText(a.leaseExpires).c_str());
        const InterfaceFigures figures = readFigures(a.index);
        AppendFormat(out, "Status:\t\t\t%s\r\n", OperStatusName(figures.operStatus));
        AppendFormat(out, "Speed:\t\t\t%s BytesPerSecond\r\n", GroupThousands(figures.speed).c_str());
        AppendFormat(out, "MTU:\t\t\t%u\r\n", figures.mtu);
        AppendFormat(out, "Packets Received:\t%s\r\n", GroupThousands(figures.inPackets).c_str());
        AppendFormat(out, "Packets Sent:\t\t%s\r\n", GroupThousands(figures.outPackets).c_str());
        out += "\r\n";
    }
    report.complete = true;
    return report;
}

NetInfoReport PortServicesReport(const std::vector<ServiceEntry>& services)
{
    NetInfoReport report{"[PORT SERVICES]\r\n\r\nPort\tService\t\tProtocol\r\n", false, "getent services"};
    for (const ServiceEntry& s : services)
        if (s.port < kPortServicesEnd)
            AppendFormat(report.text, "%u\t%-20s%s\r\n", unsigned(s.port), s.name.c_str(), s.protocol.c_str());
    report.complete = true;
    return report;
}

NetInfoReport IpConfigurationReport()
{
    return IpConfigurationReport(ReadNetworkParams());
}

NetInfoReport AdapterInformationReport()
{
    return AdapterInformationReport(ListAdapters(), ReadInterfaceFigures);
}

NetInfoReport PortServicesReport()
{
    return PortServicesReport(ReadServicesFile());
}
