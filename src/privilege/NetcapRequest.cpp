#include "privilege/NetcapRequest.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Splits on single blanks; an empty field (two blanks, or a blank at either end) fails.
bool SplitFields(std::string_view line, std::vector<std::string_view>& fields)
{
    fields.clear();
    std::size_t start = 0;
    for (;;) {
        std::size_t blank = line.find(' ', start);
        std::string_view field = line.substr(start, blank == std::string_view::npos ? std::string_view::npos
                                                                                    : blank - start);
        if (field.empty())
            return false;
        fields.push_back(field);
        if (blank == std::string_view::npos)
            return true;
        start = blank + 1;
    }
}

// Decimal without sign or leading zeros, at most max. Ten digits in a 64-bit
// accumulator cannot wrap on any build.
std::optional<unsigned> ParseDecimal(std::string_view text, unsigned max)
{
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0'))
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + unsigned(c - '0');
    }
    if (value > max)
        return std::nullopt;
    return unsigned(value);
}

// Exactly four decimal parts of 0-255 separated by dots.
std::optional<std::uint32_t> ParseDotted(std::string_view text)
{
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) {
        std::size_t dot = text.find('.');
        if ((i < 3) != (dot != std::string_view::npos))
            return std::nullopt;
        auto part = ParseDecimal(text.substr(0, dot), 255);
        if (!part)
            return std::nullopt;
        bytes[i] = std::uint8_t(*part);
        text = i < 3 ? text.substr(dot + 1) : std::string_view();
    }
    std::uint32_t address;  // network byte order: the bytes as they stand in the text
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// A kill's address as the request writes it: dotted IPv4, or IPv6 as
// inet_ntop writes it with the zone as its interface index, which means the
// same in the helper whatever the interface's name.
std::string KillAddressText(const IpAddress& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(address.Family(), address.Bytes(), text, sizeof text);
    return address.Scope() ? text + ("%" + std::to_string(address.Scope())) : text;
}

// The text KillAddressText writes and nothing else: an IPv6 address only in
// that very form, a zone only on a link-local one, never an address that no
// connection can have (::, multicast).
std::optional<IpAddress> ParseKillAddress(std::string_view text)
{
    if (text.find(':') == std::string_view::npos) {
        auto address = ParseDotted(text);
        return address ? std::optional(IpAddress::V4(*address)) : std::nullopt;
    }
    const std::size_t percent = std::min(text.find('%'), text.size());
    std::optional<unsigned> zone = 0u;
    if (percent < text.size())
        zone = ParseDecimal(text.substr(percent + 1), 0xFFFFFFFFu);
    const std::string address(text.substr(0, percent));
    in6_addr bytes{};
    if (!zone || address.size() >= INET6_ADDRSTRLEN || inet_pton(AF_INET6, address.c_str(), &bytes) != 1)
        return std::nullopt;
    const IpAddress parsed = IpAddress::V6(bytes, *zone);
    if (parsed.IsNeverAHost() || (*zone != 0 && !IN6_IS_ADDR_LINKLOCAL(&bytes)) || KillAddressText(parsed) != text)
        return std::nullopt;
    return parsed;
}

}  // namespace

bool IsValidInterfaceName(std::string_view name)
{
    if (name.empty() || name.size() > 15 || name == "." || name == "..")
        return false;
    for (char c : name) {
        if (c <= ' ' || c > '~' || c == '/' || c == ':')
            return false;
    }
    return true;
}

std::optional<NetcapRequest> ParseNetcapRequest(std::string_view text)
{
    if (text.size() > kNetcapMaxMessage || text.size() < 2 || text.back() != '\n')
        return std::nullopt;
    text.remove_suffix(1);
    std::vector<std::string_view> fields;
    if (!SplitFields(text, fields))
        return std::nullopt;

    NetcapRequest request;
    if (fields[0] == "echo" && fields.size() == 1) {
        request.kind = NetcapKind::Echo;
        return request;
    }
    if (fields[0] == "capture" && (fields.size() == 5 || (fields.size() == 6 && fields[5] == "6"))) {
        auto protocol = ParseDecimal(fields[2], 2);
        auto direction = ParseDecimal(fields[3], 2);
        auto port = ParseDecimal(fields[4], 65535);
        if (!IsValidInterfaceName(fields[1]) || !protocol || !direction || !port || *port == 0)
            return std::nullopt;
        request.kind = NetcapKind::Capture;
        request.interfaceName = std::string(fields[1]);
        request.protocolFilter = CaptureProtocol(*protocol);
        request.portDirection = PortDirection(*direction);
        request.portFilter = std::uint16_t(*port);
        request.ipVersion = fields.size() == 6 ? 6 : 4;
        return request;
    }
    if (fields[0] == "kill" && fields.size() == 5) {
        auto laddr = ParseKillAddress(fields[1]);
        auto lport = ParseDecimal(fields[2], 65535);
        auto raddr = ParseKillAddress(fields[3]);
        auto rport = ParseDecimal(fields[4], 65535);
        if (!laddr || !lport || !raddr || !rport || *lport == 0 || *rport == 0 || laddr->Family() != raddr->Family())
            return std::nullopt;
        request.kind = NetcapKind::KillTcp;
        request.localAddress = *laddr;
        request.localPort = std::uint16_t(*lport);
        request.remoteAddress = *raddr;
        request.remotePort = std::uint16_t(*rport);
        return request;
    }
    return std::nullopt;
}

std::string FormatNetcapRequest(const NetcapRequest& request)
{
    switch (request.kind) {
    case NetcapKind::Echo:
        return "echo\n";
    case NetcapKind::Capture:
        return "capture " + request.interfaceName + " " + std::to_string(int(request.protocolFilter)) + " " +
               std::to_string(int(request.portDirection)) + " " + std::to_string(request.portFilter) +
               (request.ipVersion == 6 ? " 6\n" : "\n");
    case NetcapKind::KillTcp:
        return "kill " + KillAddressText(request.localAddress) + " " + std::to_string(request.localPort) + " " +
               KillAddressText(request.remoteAddress) + " " + std::to_string(request.remotePort) + "\n";
    }
    return {};
}

std::optional<int> ParseNetcapReply(std::string_view text)
{
    if (text == "ok\n")
        return 0;
    constexpr std::string_view prefix = "error ";
    if (text.size() <= prefix.size() + 1 || text.substr(0, prefix.size()) != prefix || text.back() != '\n')
        return std::nullopt;
    auto code = ParseDecimal(text.substr(prefix.size(), text.size() - prefix.size() - 1), 4095);
    if (!code || *code == 0)
        return std::nullopt;
    return int(*code);
}

std::string FormatNetcapReply(int error)
{
    return error == 0 ? std::string("ok\n") : "error " + std::to_string(error) + "\n";
}

namespace {

template <typename Head>
std::optional<Head> ParseHead(const std::uint8_t* bytes, std::size_t size, std::vector<std::uint8_t>& data)
{
    if (!bytes || size < sizeof(Head) || size - sizeof(Head) > kNetcapMaxEchoData)
        return std::nullopt;
    Head head;
    std::memcpy(&head, bytes, sizeof head);
    data.assign(bytes + sizeof head, bytes + size);
    return head;
}

std::vector<std::uint8_t> Concatenate(const void* head, std::size_t headSize, const void* data, std::size_t size)
{
    std::vector<std::uint8_t> message(headSize + size);
    std::memcpy(message.data(), head, headSize);
    if (size > 0)
        std::memcpy(message.data() + headSize, data, size);
    return message;
}

}  // namespace

namespace {

// The address of family, bytes and scope as the messages carry them: none for
// family 0 with nothing set; nullopt for another family, IPv4 with anything
// behind its 4 bytes or with a scope.
std::optional<IpAddress> CarriedAddress(std::uint32_t family, const std::uint8_t (&bytes)[16], std::uint32_t scope)
{
    const auto zeroFrom = [&](std::size_t at) {
        return std::all_of(bytes + at, std::end(bytes), [](std::uint8_t b) { return b == 0; });
    };
    if (family == AF_INET6) {
        in6_addr address;
        std::memcpy(&address, bytes, sizeof address);
        return IpAddress::V6(address, scope);
    }
    if (family == AF_INET && scope == 0 && zeroFrom(4)) {
        std::uint32_t address;
        std::memcpy(&address, bytes, sizeof address);
        return IpAddress::V4(address);
    }
    if (family == 0 && scope == 0 && zeroFrom(0))
        return IpAddress();
    return std::nullopt;
}

void CarryAddress(const IpAddress& address, std::uint32_t& family, std::uint8_t (&bytes)[16], std::uint32_t& scope)
{
    family = std::uint32_t(address.IsNone() ? 0 : address.Family());
    std::fill(std::begin(bytes), std::end(bytes), 0);
    std::memcpy(bytes, address.Bytes(), address.Size());
    scope = address.IsV6() ? address.Scope() : 0;
}

}  // namespace

IpAddress NetcapEchoAskDestination(const NetcapEchoAsk& ask)
{
    return CarriedAddress(ask.family, ask.destination, ask.scope).value_or(IpAddress());
}

IpAddress NetcapEchoAnswerAddress(const NetcapEchoAnswer& answer)
{
    return CarriedAddress(answer.family, answer.address, answer.scope).value_or(IpAddress());
}

void SetNetcapEchoAskDestination(NetcapEchoAsk& ask, const IpAddress& destination)
{
    std::uint32_t family = 0;
    CarryAddress(destination, family, ask.destination, ask.scope);
    ask.family = std::uint8_t(family);
}

void SetNetcapEchoAnswerAddress(NetcapEchoAnswer& answer, const IpAddress& address)
{
    CarryAddress(address, answer.family, answer.address, answer.scope);
}

std::optional<NetcapEchoAsk> ParseNetcapEchoAsk(const std::uint8_t* bytes, std::size_t size,
                                               std::vector<std::uint8_t>& data)
{
    auto ask = ParseHead<NetcapEchoAsk>(bytes, size, data);
    if (!ask || ask->ttl == 0 || ask->timeoutMs == 0 || ask->timeoutMs > kNetcapMaxEchoTimeoutMs ||
        std::ranges::any_of(ask->reserved, [](std::uint8_t b) { return b != 0; }))
        return std::nullopt;
    const auto destination = CarriedAddress(ask->family, ask->destination, ask->scope);
    if (!destination || destination->IsNone() || (destination->IsV6() && destination->IsNeverAHost()))
        return std::nullopt;
    return ask;
}

std::optional<NetcapEchoAnswer> ParseNetcapEchoAnswer(const std::uint8_t* bytes, std::size_t size,
                                                     std::vector<std::uint8_t>& data)
{
    auto answer = ParseHead<NetcapEchoAnswer>(bytes, size, data);
    if (!answer || answer->replied > 1 || answer->ttl > 255 || (!answer->replied && !data.empty()) ||
        !CarriedAddress(answer->family, answer->address, answer->scope))
        return std::nullopt;
    return answer;
}

std::vector<std::uint8_t> FormatNetcapEchoAsk(const NetcapEchoAsk& ask, const void* data, std::size_t size)
{
    return Concatenate(&ask, sizeof ask, data, size);
}

std::vector<std::uint8_t> FormatNetcapEchoAnswer(const NetcapEchoAnswer& answer, const void* data,
                                                 std::size_t size)
{
    return Concatenate(&answer, sizeof answer, data, size);
}

void FormatNetcapFrameHead(std::uint8_t* head, const PacketFrameInfo& info)
{
    head[0] = kNetcapFrame;
    std::memcpy(head + 1, &info.receivedNs, sizeof info.receivedNs);
    std::memcpy(head + 9, &info.originalLength, sizeof info.originalLength);
}

std::optional<PacketFrameInfo> ParseNetcapFrameHead(const std::uint8_t* head, std::size_t messageSize)
{
    if (messageSize <= kNetcapFrameHead || messageSize > kNetcapFrameHead + kCaptureFrameMax || head[0] != kNetcapFrame)
        return std::nullopt;
    PacketFrameInfo info;
    std::memcpy(&info.receivedNs, head + 1, sizeof info.receivedNs);
    std::memcpy(&info.originalLength, head + 9, sizeof info.originalLength);
    if (info.originalLength < messageSize - kNetcapFrameHead || info.originalLength > kNetcapMaxOriginalLength)
        return std::nullopt;
    return info;
}
