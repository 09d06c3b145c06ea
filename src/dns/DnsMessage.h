#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/IpAddress.h"

class CancelToken;

// Record types this client asks for and decodes (QTYPE values).
inline constexpr std::uint16_t kDnsTypeA = 1;
inline constexpr std::uint16_t kDnsTypeNS = 2;
inline constexpr std::uint16_t kDnsTypeCNAME = 5;
inline constexpr std::uint16_t kDnsTypeSOA = 6;
inline constexpr std::uint16_t kDnsTypePTR = 12;
inline constexpr std::uint16_t kDnsTypeHINFO = 13;
inline constexpr std::uint16_t kDnsTypeMX = 15;
inline constexpr std::uint16_t kDnsTypeAAAA = 28;  // RFC 3596

inline constexpr std::size_t kDnsReplySize = 1000;  // the reply area; a larger datagram fails
inline constexpr std::uint16_t kDnsPort = 53;
inline constexpr int kDnsMaxPointerHops = 16;       // a longer chain of pointers ends the name

enum DnsSection : std::uint8_t { DnsAnswerSection = 0, DnsAuthoritySection = 1, DnsAdditionalSection = 2 };

// One parsed resource record; cleared to zeros before it is filled, so the
// fields its type does not use are zero or empty. Owner name and class are not kept.
struct DnsRecord {
    std::uint16_t type;
    std::uint8_t section;          // DnsSection
    std::uint32_t ttl;
    char name[256];                // NS, CNAME, PTR target; SOA MNAME; MX exchange; HINFO CPU
    char name2[256];               // SOA RNAME; HINFO OS
    std::uint16_t preference;      // MX
    std::uint32_t addressOrSerial; // A: the four RDATA bytes as they stand; SOA: serial
    std::uint32_t refresh, retry, expire, minimum;
    std::uint8_t address6[16];     // AAAA: the sixteen RDATA bytes as they stand
};

// One exchange, filled in by the caller and completed by RunDnsQuery. The
// caller owns the name and the record array; nothing keeps a pointer to them.
struct DnsRequest {
    IpAddress server;              // IPv4 or IPv6
    std::uint16_t id;
    std::uint16_t type;            // one of the eight types above
    const char* name;              // dotted, at most 255 characters, sent as given
    std::int32_t recursionDesired; // nonzero sets RD
    std::uint32_t timeoutMs;
    std::uint8_t responseCode;     // out: RCODE of the reply
    std::int32_t count;            // in: capacity of records; out: records the reply announces
    DnsRecord* records;            // may be null: nothing is stored
    std::int32_t stored;           // out: records decoded and stored, the first `stored` of records
    bool truncated;                // out: the reply had TC set (RunDnsQuery then asked again over TCP)
};

// The query message: 12-byte header, QNAME, QTYPE, QCLASS IN. Empty when the
// name is null, has 256 characters or more, or the type is not supported.
std::vector<std::uint8_t> BuildDnsQuery(std::uint16_t id, std::uint16_t type, const char* name,
                                        bool recursionDesired);

// Parses a reply to a query whose question (QNAME, QTYPE, QCLASS) took
// questionLength bytes: sets responseCode, truncated and count and stores the
// records. False when the reply is too short to hold a header. A record that
// runs past the reply (or whose data is too short for its type) ends the parse;
// the records before it stay stored (`stored` says how many) and count keeps
// the announced total.
bool ParseDnsReply(const std::uint8_t* reply, std::size_t length, std::size_t questionLength,
                   DnsRequest& request);

// The dotted name at offset of message, into out (outSize bytes, cut to
// outSize - 1 characters); out may be null. Returns the full length of the
// text, or -1 when message is null. Never reads outside the message: a label
// that runs past its end, a pointer outside it, a pointer loop or a chain
// longer than kDnsMaxPointerHops ends the name with what was read so far.
int DecodeDnsName(const std::uint8_t* message, std::size_t messageLength, std::uint16_t offset, char* out,
                  std::uint16_t outSize);

// Sends one query to port 53 of the server (over IPv6 for an IPv6 one) and waits for one
// reply, at most timeoutMs after the send or until token is cancelled. A
// reply with TC set is followed by the same query over TCP to the same server
// and port (RFC 7766), with a time-out of its own as long, whose answer is
// the one parsed; when that exchange fails, the result is NoReply.
// The port is for tests, which run their servers on a free one.
enum class DnsQueryResult {
    Answered,     // a reply was received and parsed
    NoRequest,
    NoSocket,
    BindFailed,
    NoQuery,      // no query could be built from the name
    SendFailed,
    NoReply,      // receive failed, time-out, cancelled, a datagram of more than 1000 bytes, or one too short
};
DnsQueryResult RunDnsQuery(DnsRequest* request, const CancelToken* token = nullptr, std::uint16_t port = kDnsPort);

// The line that reports a reply's error code, CR LF CR LF included; empty for
// 0 (no error) and 3 (no such name), whose replies speak for themselves.
std::string DnsResponseCodeLine(std::uint8_t responseCode);

// The text form of a record as the query page prints it, CR LF included;
// writes at most outSize bytes, terminator included, and returns the length
// of the whole text (as snprintf does).
int FormatDnsRecord(const DnsRecord& record, char* out, std::size_t outSize);
