#include "whois/WhoisServerTable.h"

#include <array>
#include <cstring>

namespace {

using namespace std::string_view_literals;

// Order and keys are fixed; biz stands twice and only the first is ever reached.
constexpr std::array<std::string_view, kWhoisServerCount> kWhoisServerTable = {
    "whois.cira.ca"sv,            // 0
    "whois.registry.net.za"sv,    // 1
    "whois.nic.ac"sv,             // 2
    "whois.nic.cc"sv,             // 3
    "whois.nic.tc"sv,             // 4
    "whois.aeda.net.ae"sv,        // 5
    "whois.dns.be"sv,             // 6
    "whois.denic.de"sv,           // 7
    "whois.weare.ie"sv,           // 8
    "whois.nic.name"sv,           // 9
    "whois.iis.se"sv,             // 10
    "whois.nic.ve"sv,             // 11
    "whois.nplus.gf"sv,           // 12
    "whois.register.bg"sv,        // 13
    "whois.sgnic.sg"sv,           // 14
    "whois.nic.ch"sv,             // 15
    "whois.nic.sh"sv,             // 16
    "whois.nic.li"sv,             // 17
    "whois.nic.tj"sv,             // 18
    "whois.nic.ck"sv,             // 19
    "whois.nic.lk"sv,             // 20
    "whois.nic.uk"sv,             // 21
    "whois.nic.cl"sv,             // 22
    "whois.isoc.org.il"sv,        // 23
    "whois.nic.mil"sv,            // 24
    "whois.domain-registry.nl"sv, // 25
    "whois.nic.bm"sv,             // 26
    "whois.registry.hm"sv,        // 27
    "whois.registry.gov.mm"sv,    // 28
    "whois.nic.tm"sv,             // 29
    "whois.nic.museum"sv,         // 30
    "whois.cnnic.cn"sv,           // 31
    "whois.registry.in"sv,        // 32
    "whois.nic.info"sv,           // 33
    "whois.aero"sv,               // 34
    "whois.nic.so"sv,             // 35
    "whois.tonic.to"sv,           // 36
    "whois.jprs.jp"sv,            // 37
    "whois.nic.coop"sv,           // 38
    "whois.registro.br"sv,        // 39
    "whois.nic.fr"sv,             // 40
    "whois.nic.ir"sv,             // 41
    "whois.nic.as"sv,             // 42
    "whois.isnic.is"sv,           // 43
    "whois.nic.us"sv,             // 44
    "whois.website.ws"sv,         // 45
    "whois.nic.bt"sv,             // 46
    "whois.nic.it"sv,             // 47
    "whois.domreg.lt"sv,          // 48
    "whois.nic.st"sv,             // 49
    "whois.auda.org.au"sv,        // 50
    "whois.nic.hu"sv,             // 51
    "whois.dns.lu"sv,             // 52
    "whois.iis.nu"sv,             // 53
    "whois.dotgov.gov"sv,         // 54
    "whois.nic.tv"sv,             // 55
    "whois.nic.cx"sv,             // 56
    "whois.mx"sv,                 // 57
    "whois.nic.bz"sv,             // 58
    "whois.nic.cz"sv,             // 59
    "whois.nic.biz"sv,            // 60
    "whois.biz"sv,                // 61
    "whois.nic.kz"sv,             // 62
    "whois.irs.net.nz"sv,         // 63
    "whois.verisign-grs.com"sv,   // 64: also the default
};

constexpr std::array<std::string_view, kWhoisServerListSize - kWhoisServerCount> kFurtherServers = {
    "whois.arin.net"sv,    "whois.ripe.net"sv,       "whois.apnic.net"sv,      "whois.lacnic.net"sv,
    "whois.afrinic.net"sv, "whois.iana.org"sv,       "whois.internic.net"sv,   "whois.pir.org"sv,
    "whois.educause.edu"sv, "whois.eu"sv,            "whois.dns.pt"sv,         "whois.norid.no"sv,
    "whois.nic.io"sv,      "whois.nic.me"sv,         "whois.nic.ad.jp"sv,      "whois.kr"sv,
    "whois.twnic.net.tw"sv, "whois.tcinet.ru"sv,     "whois.arnes.si"sv,       "whois.dns.pl"sv,
};

constexpr auto kServerList = [] {
    std::array<std::string_view, kWhoisServerListSize> list{};
    std::size_t n = 0;
    for (auto name : kWhoisServerTable)
        list[n++] = name;
    for (auto name : kFurtherServers)
        list[n++] = name;
    return list;
}();

// The text from the last "." to the end; empty when there is no ".".
std::string_view Extension(std::string_view text)
{
    const auto dot = text.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : text.substr(dot);
}

}  // namespace

bool FetchWhoisServer(std::size_t position, char* area, std::size_t size)
{
    if (position >= kWhoisServerTable.size() || !area)
        return false;
    const std::string_view name = kWhoisServerTable[position];
    if (name.size() >= size)
        return false;
    std::memcpy(area, name.data(), name.size());
    area[name.size()] = '\0';
    return true;
}

bool SelectWhoisServer(std::string_view query, char* area, std::size_t size)
{
    if (!FetchWhoisServer(0, area, size))
        return false;
    const std::string_view extension = Extension(query);
    if (extension.empty())
        return false;
    for (std::size_t i = 0;; ++i) {
        if (extension == Extension(area))
            return true;
        if (!FetchWhoisServer(i + 1, area, size))
            return true;  // past the last entry: the default stays in the area
    }
}

std::span<const std::string_view> WhoisServerList()
{
    return kServerList;
}
