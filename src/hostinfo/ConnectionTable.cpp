#include "hostinfo/ConnectionTable.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

const char* const kStateNames[] = {"UNKNOWN",   "CLOSED",     "LISTEN",  "SYN_SENT", "SYN_RCVD",
                                   "ESTABABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",
                                   "LAST_ACK",  "TIME_WAIT"};

constexpr std::uint32_t kListen = 2;
constexpr std::uint32_t kDeleteState = 12;
constexpr size_t kColumn = 21;
constexpr size_t kPiece = 19;  // the longest IPv4 address or port text read back
constexpr size_t kStateColumn = 13;  // the longest state name, before the owners
static_assert(kConnectionChars == 5 + 2 * (kColumn + 2));
// The longest IPv6 end: brackets around 39 characters of address and a zone
// (an interface name, or an index of up to 10 digits), ":", the port.
constexpr size_t kLongestEnd6 = 1 + 39 + 1 + 15 + 2 + 5;
// The longest line: "TCP  ", two IPv6 ends with their blanks, the state, CR LF.
constexpr size_t kLongestLine = 5 + 2 * (kLongestEnd6 + 2) + 13 + 2;

// Writes value in decimal at out; returns the end.
char* WriteDecimal(char* out, unsigned value)
{
    char digits[10];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (n)
        *out++ = digits[--n];
    return out;
}

// Pads the column that began at start, and writes the two blanks after it.
char* EndColumn(char* start, char* out)
{
    while (out - start < std::ptrdiff_t(kColumn))
        *out++ = ' ';
    *out++ = ' ';
    *out++ = ' ';
    return out;
}

// The four bytes dotted, as AddressToText gives them.
char* WriteDotted(char* out, const std::uint8_t* bytes)
{
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *out++ = '.';
        out = WriteDecimal(out, bytes[i]);
    }
    return out;
}

// "a.b.c.d:port" padded to its column, and the two blanks after it. This runs
// for every row, so it writes the dotted text itself, byte for byte what
// AddressToText gives.
char* WriteEnd(char* out, std::uint32_t address, std::uint32_t port)
{
    char* start = out;
    out = WriteDotted(out, reinterpret_cast<const std::uint8_t*>(&address));  // network byte order
    *out++ = ':';
    out = WriteDecimal(out, ntohs(std::uint16_t(port)));
    return EndColumn(start, out);
}

// "[address]:port" padded to its column, or longer, and the two blanks.
char* WriteEnd6(char* out, const IpAddress& address, std::uint32_t port)
{
    char* start = out;
    *out++ = '[';
    if (address.Scope() == 0) {
        // RFC 5952's form, as IpText writes it, without a string per row.
        inet_ntop(AF_INET6, address.Bytes(), out, INET6_ADDRSTRLEN);
        out += std::strlen(out);
    } else {  // link-local, rare: the zone by the interface's name
        const std::string text = IpText(address);
        const size_t n = std::min(text.size(), kLongestEnd6 - 8);
        std::memcpy(out, text.data(), n);
        out += n;
    }
    *out++ = ']';
    *out++ = ':';
    out = WriteDecimal(out, ntohs(std::uint16_t(port)));
    return EndColumn(start, out);
}

bool ReadAddress(std::string_view text, std::uint32_t* address)
{
    if (text.empty() || text.size() > kPiece)
        return false;
    char buffer[kPiece + 1];
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    in_addr in{};
    if (inet_pton(AF_INET, buffer, &in) != 1)
        return false;
    *address = in.s_addr;
    return true;
}

bool ReadPort(std::string_view text, std::uint32_t* port)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value > 65535)
        return false;
    *port = htons(std::uint16_t(value));
    return true;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// One end read back from pos: "a.b.c.d:port" into address, or "[address]:port"
// into address6; next is where it ends, at a blank or the line's end.
bool ReadEnd(std::string_view line, size_t pos, size_t* next, std::uint32_t* address, IpAddress* address6,
             std::uint32_t* port)
{
    if (pos < line.size() && line[pos] == '[') {
        const size_t close = line.find("]:", pos);
        if (close == std::string_view::npos)
            return false;
        const size_t blank = std::min(line.find(' ', close), line.size());
        *next = blank;
        const std::string_view text = line.substr(pos + 1, close - pos - 1);
        const auto parsed = text.find_first_of("[]") == std::string_view::npos ? ParseIpv6Literal(text) : std::nullopt;
        if (!parsed)
            return false;
        *address6 = *parsed;
        return ReadPort(line.substr(close + 2, blank - close - 2), port);
    }
    const size_t colon = line.find(':', pos);
    if (colon == std::string_view::npos)
        return false;
    const size_t blank = std::min(line.find(' ', colon), line.size());
    *next = blank;
    return ReadAddress(line.substr(pos, colon - pos), address) &&
           ReadPort(line.substr(colon + 1, blank - colon - 1), port);
}

}  // namespace

void TcpStateName(std::uint32_t state, char* buffer, std::size_t size)
{
    if (!buffer || size == 0)
        return;
    const char* name = kStateNames[state < std::size(kStateNames) ? state : 0];
    const size_t n = std::min(std::strlen(name), size - 1);
    std::memcpy(buffer, name, n);
    buffer[n] = '\0';
}

namespace {

// Two blanks and the socket's owners, "-" for none known, and the line's end.
void AppendOwners(std::string& out, const SocketOwners& owners, std::uint32_t inode)
{
    const auto found = inode ? owners.find(inode) : owners.end();
    out += "  ";
    out += found == owners.end() ? std::string_view("-") : std::string_view(found->second);
    out += "\r\n";
}

}  // namespace

std::string ConnectionTableText(const std::vector<TcpRow>* tcp, const std::vector<UdpRow>* udp, const SocketOwners* owners)
{
    std::string out;
    out.reserve(((tcp ? tcp->size() : 0) + (udp ? udp->size() : 0)) * 72 + 200);
    out += "     Local Address          Remote Address         State           \r\n"
           "     -------------          --------------         -----           \r\n";
    if (!tcp) {
        out += "No Data Available!\r\n";
    } else {
        char line[kLongestLine];
        for (const TcpRow& row : *tcp) {
            char* end = line;
            std::memcpy(end, "TCP  ", 5);
            const std::uint32_t remotePort = row.state == kListen ? 0 : row.remotePort;
            if (row.local6.IsV6()) {
                end = WriteEnd6(end + 5, row.local6, row.localPort);
                end = WriteEnd6(end, row.remote6, remotePort);
            } else {
                end = WriteEnd(end + 5, row.localAddr, row.localPort);
                end = WriteEnd(end, row.remoteAddr, remotePort);
            }
            TcpStateName(row.state, end, 14);
            char* const state = end;
            end += std::strlen(end);
            if (owners) {
                while (end - state < std::ptrdiff_t(kStateColumn))
                    *end++ = ' ';
                out.append(line, size_t(end - line));
                AppendOwners(out, *owners, row.inode);
                continue;
            }
            *end++ = '\r';
            *end++ = '\n';
            out.append(line, size_t(end - line));
        }
    }
    if (!udp) {
        out += "No Data Available!\r\n";
    } else {
        char line[kLongestLine];
        for (const UdpRow& row : *udp) {
            std::memcpy(line, "UDP  ", 5);
            char* end = row.local6.IsV6() ? WriteEnd6(line + 5, row.local6, row.localPort)
                                          : WriteEnd(line + 5, row.localAddr, row.localPort);
            static constexpr char kRemote[] = "*.*                    \r\n";
            std::memcpy(end, kRemote, sizeof kRemote - 1);
            if (owners) {
                out.append(line, size_t(end - line) + kColumn);
                AppendOwners(out, *owners, row.inode);
                continue;
            }
            out.append(line, size_t(end - line) + sizeof kRemote - 1);
        }
    }
    return out;
}

std::string ConnectionTableText(SockDiagSource& source, bool programs)
{
    std::vector<TcpRow> tcp;
    std::vector<UdpRow> udp;
    const bool haveTcp = ReadTcpSockets(&tcp, source);
    const bool haveUdp = ReadUdpSockets(&udp, source);
    // After the dumps, so that a socket's holder is still there when looked for.
    const SocketOwners owners = programs ? ReadSocketOwners() : SocketOwners();
    return ConnectionTableText(haveTcp ? &tcp : nullptr, haveUdp ? &udp : nullptr, programs ? &owners : nullptr);
}

std::string_view WithoutOwners(std::string_view line)
{
    const size_t columns = std::min(size_t(ConnectionChars(line)), line.size());
    if (!line.starts_with("TCP  "))
        return line.substr(0, columns);
    return line.substr(0, std::min(line.find(' ', columns), line.size()));  // and the state
}

int ConnectionChars(std::string_view line)
{
    size_t at = 5;
    for (int column = 0; column < 2; ++column) {
        const size_t text = at < line.size() ? std::min(line.find(' ', at), line.size()) - at : 0;
        at += std::max(text, kColumn) + 2;
    }
    return int(std::min(at, kLongestLine));
}

// The line's layout: "TCP  " then "address:port" padded to 21 characters (or
// longer) and two blanks, the remote end the same way, then the state. The
// remote end starts at the first digit, or bracket, after the local one.
bool ReadConnectionLine(std::string_view line, TcpRow* row)
{
    if (line.size() <= 5)
        return false;
    TcpRow read;
    read.state = kDeleteState;
    size_t remote = 0, end = 0;
    if (!ReadEnd(line, 5, &remote, &read.localAddr, &read.local6, &read.localPort))
        return false;
    while (remote < line.size() && !IsDigit(line[remote]) && line[remote] != '[')
        ++remote;
    if (!ReadEnd(line, remote, &end, &read.remoteAddr, &read.remote6, &read.remotePort) ||
        read.local6.IsV6() != read.remote6.IsV6())
        return false;
    *row = read;
    return true;
}

std::string SsCommandLine(bool programs)
{
    return programs ? "ss -tuanp" : "ss -tuan";
}
