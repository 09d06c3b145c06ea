#include "hostinfo/ConnectionTable.h"

#include <arpa/inet.h>

#include <cstddef>
#include <cstring>

namespace {

const char* const kStateNames[] = {"UNKNOWN",   "CLOSED",     "LISTEN",  "SYN_SENT", "SYN_RCVD",
                                   "ESTABABLISHED", "FIN_WAIT1", "FIN_WAIT2", "CLOSE_WAIT", "CLOSING",
                                   "LAST_ACK",  "TIME_WAIT"};

constexpr std::uint32_t kListen = 2;
constexpr std::uint32_t kDeleteState = 12;
constexpr size_t kColumn = 21;
constexpr size_t kPiece = 19;  // the longest address or port text read back
static_assert(kConnectionChars == 5 + 2 * (kColumn + 2));

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

// "a.b.c.d:port" padded to its column, and the two blanks after it. This runs
// for every row, so it writes the dotted text itself, byte for byte what
// AddressToText gives.
char* WriteEnd(char* out, std::uint32_t address, std::uint32_t port)
{
    char* start = out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);  // network byte order
    for (int i = 0; i < 4; ++i) {
        out = WriteDecimal(out, bytes[i]);
        *out++ = i < 3 ? '.' : ':';
    }
    out = WriteDecimal(out, ntohs(std::uint16_t(port)));
    while (out - start < std::ptrdiff_t(kColumn))
        *out++ = ' ';
    *out++ = ' ';
    *out++ = ' ';
    return out;
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

std::string ConnectionTableText(const std::vector<TcpRow>* tcp, const std::vector<UdpRow>* udp)
{
    std::string out;
    out.reserve(((tcp ? tcp->size() : 0) + (udp ? udp->size() : 0)) * 70 + 200);
    out += "     Local Address          Remote Address         State           \r\n"
           "     -------------          --------------         -----           \r\n";
    if (!tcp) {
        out += "No Data Available!\r\n";
    } else {
        char line[96];  // "TCP  ", two ends of at most 21 + 2, the state, CR LF
        for (const TcpRow& row : *tcp) {
            char* end = line;
            std::memcpy(end, "TCP  ", 5);
            end = WriteEnd(end + 5, row.localAddr, row.localPort);
            end = WriteEnd(end, row.remoteAddr, row.state == kListen ? 0 : row.remotePort);
            TcpStateName(row.state, end, 14);
            end += std::strlen(end);
            *end++ = '\r';
            *end++ = '\n';
            out.append(line, size_t(end - line));
        }
    }
    if (!udp) {
        out += "No Data Available!\r\n";
    } else {
        char line[64];
        for (const UdpRow& row : *udp) {
            std::memcpy(line, "UDP  ", 5);
            char* end = WriteEnd(line + 5, row.localAddr, row.localPort);
            static constexpr char kRemote[] = "*.*                    \r\n";
            std::memcpy(end, kRemote, sizeof kRemote - 1);
            out.append(line, size_t(end - line) + sizeof kRemote - 1);
        }
    }
    return out;
}

std::string ConnectionTableText(SockDiagSource& source)
{
    std::vector<TcpRow> tcp;
    std::vector<UdpRow> udp;
    const bool haveTcp = ReadTcpSockets(&tcp, source);
    const bool haveUdp = ReadUdpSockets(&udp, source);
    return ConnectionTableText(haveTcp ? &tcp : nullptr, haveUdp ? &udp : nullptr);
}

// The line's layout: "TCP  " then "address:port" padded to 21 characters (or
// longer) and two blanks, the remote end the same way, then the state.
bool ReadConnectionLine(std::string_view line, TcpRow* row)
{
    if (line.size() <= 5)
        return false;
    size_t pos = 5;
    const size_t localColon = line.find(':', pos);
    if (localColon == std::string_view::npos)
        return false;
    const size_t localBlank = std::min(line.find(' ', localColon), line.size());
    size_t remote = localBlank;
    while (remote < line.size() && !IsDigit(line[remote]))
        ++remote;
    const size_t remoteColon = line.find(':', remote);
    if (remoteColon == std::string_view::npos)
        return false;
    const size_t remoteBlank = std::min(line.find(' ', remoteColon), line.size());

    TcpRow read;
    read.state = kDeleteState;
    if (!ReadAddress(line.substr(pos, localColon - pos), &read.localAddr) ||
        !ReadPort(line.substr(localColon + 1, localBlank - localColon - 1), &read.localPort) ||
        !ReadAddress(line.substr(remote, remoteColon - remote), &read.remoteAddr) ||
        !ReadPort(line.substr(remoteColon + 1, remoteBlank - remoteColon - 1), &read.remotePort))
        return false;
    *row = read;
    return true;
}
