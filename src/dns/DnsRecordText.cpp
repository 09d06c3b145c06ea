// The text form of each record type, as the query page prints it.
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "dns/DnsMessage.h"
#include "net/HostAddress.h"
#include "net/IpAddress.h"

int FormatDnsRecord(const DnsRecord& record, char* out, std::size_t outSize)
{
    if (!out)
        outSize = 0;
    // The name fields hold at most 255 characters; %.255s keeps a record that
    // a caller filled without a terminator from running on.
    switch (record.type) {
    case kDnsTypeA: {
        char address[500] = "";
        AddressToText(record.addressOrSerial, address, sizeof address);
        return std::snprintf(out, outSize, "A: address: %s\r\n", address);
    }
    case kDnsTypeAAAA: {
        in6_addr address;
        std::memcpy(&address, record.address6, sizeof address);
        return std::snprintf(out, outSize, "AAAA: address: %s\r\n", IpText(IpAddress::V6(address)).c_str());
    }
    case kDnsTypeNS:
        return std::snprintf(out, outSize, "NS: nsname: %.255s\r\n", record.name);
    case kDnsTypeCNAME:
        return std::snprintf(out, outSize, "CNAME: cname: %.255s\r\n", record.name);
    case kDnsTypeSOA:
        // The five numbers print as signed 32-bit values: a serial of 4294967295 shows as -1.
        return std::snprintf(out, outSize,
                             "SOA:\tmname: %.255s,\r\n\tpname: %.255s,\r\n\tserial: %d,\r\n\trefresh: %d,\r\n"
                             "\tretry: %d,\r\n\texpire: %d,\r\n\tminimum: %d\r\n",
                             record.name, record.name2, static_cast<int>(record.addressOrSerial),
                             static_cast<int>(record.refresh), static_cast<int>(record.retry),
                             static_cast<int>(record.expire), static_cast<int>(record.minimum));
    case kDnsTypePTR:
        return std::snprintf(out, outSize, "PTR: ptrname: %.255s\r\n", record.name);
    case kDnsTypeHINFO:
        return std::snprintf(out, outSize, "HINFO: cpu: %.255s, os: %.255s\r\n", record.name, record.name2);
    case kDnsTypeMX:
        return std::snprintf(out, outSize, "MX: Preference: %d, Exchange: %.255s\r\n", int(record.preference),
                             record.name);
    default:
        return std::snprintf(out, outSize, "Unknowns Record Type\r\n");
    }
}

std::string DnsResponseCodeLine(std::uint8_t responseCode)
{
    // RFC 1035 section 4.1.1 and RFC 2136 section 2.2.
    static const char* const kNames[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP", "REFUSED",
                                         "YXDOMAIN", "YXRRSET", "NXRRSET", "NOTAUTH", "NOTZONE"};
    if (responseCode == 0 || responseCode == 3)
        return {};
    std::string line = "Server Returned Error Code " + std::to_string(responseCode);
    if (responseCode < std::size(kNames))
        line += std::string(" (") + kNames[responseCode] + ")";
    return line + "!\r\n\r\n";
}
