// DNS messages (RFC 1035, section 4): the query this client sends and the
// parse of the reply it gets back.
//
//   offset  size  field
//   0       2     ID
//   2       2     flags: QR opcode(4) AA TC RD | RA Z(3) RCODE(4)
//   4       2     QDCOUNT
//   6       2     ANCOUNT
//   8       2     NSCOUNT
//   10      2     ARCOUNT
//   12      n     question: QNAME (length-prefixed labels, zero byte), QTYPE, QCLASS
//           ...   resource records: NAME, TYPE(2) CLASS(2) TTL(4) RDLENGTH(2), RDATA
//
// A name is a run of labels (a length byte below 64, then that many bytes)
// ended by a zero byte or by a two-byte compression pointer, whose low 14
// bits are an offset from the start of the message. As this client always
// did, any byte of 64 or more where a length is expected is read as a pointer.
#include "dns/DnsMessage.h"

#include <algorithm>
#include <cstring>

#include "net/ByteReader.h"

namespace {

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kMaxNameText = 255;

bool SupportedType(std::uint16_t type)
{
    switch (type) {
    case kDnsTypeA:
    case kDnsTypeNS:
    case kDnsTypeCNAME:
    case kDnsTypeSOA:
    case kDnsTypePTR:
    case kDnsTypeHINFO:
    case kDnsTypeMX:
    case kDnsTypeAAAA:
        return true;
    default:
        return false;
    }
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v)
{
    out.push_back(std::uint8_t(v >> 8));
    out.push_back(std::uint8_t(v));
}

// Steps over a name where it stands: labels, then the zero byte or a pointer.
bool SkipName(ByteReader& r)
{
    for (;;) {
        auto b = r.U8();
        if (!b)
            return false;
        if (*b == 0)
            return true;
        if (*b >= 64)
            return r.Skip(1);
        if (!r.Skip(*b))
            return false;
    }
}

// A name inside RDATA: decoded against the whole message (pointers may lead
// anywhere in it), but it must itself start and stand within the RDATA.
bool ReadRdataName(const std::uint8_t* message, std::size_t length, std::size_t rdataStart, ByteReader& rdata,
                   char (&out)[256])
{
    const std::size_t at = rdataStart + rdata.Position();
    if (!SkipName(rdata))
        return false;
    DecodeDnsName(message, length, std::uint16_t(at), out, sizeof out);
    return true;
}

bool ReadCharacterString(ByteReader& rdata, char (&out)[256])
{
    auto n = rdata.U8();
    return n && rdata.Copy(out, *n);  // at most 255 bytes: the terminator stays
}

// Fills the type's fields from its RDATA; false when the RDATA is too short for them.
bool DecodeRdata(const std::uint8_t* message, std::size_t length, std::size_t rdataStart, ByteReader rdata,
                 DnsRecord& rec)
{
    switch (rec.type) {
    case kDnsTypeA:
        return rdata.Copy(&rec.addressOrSerial, 4);
    case kDnsTypeAAAA:
        return rdata.Copy(rec.address6, sizeof rec.address6);
    case kDnsTypeNS:
    case kDnsTypeCNAME:
    case kDnsTypePTR:
        return ReadRdataName(message, length, rdataStart, rdata, rec.name);
    case kDnsTypeSOA: {
        if (!ReadRdataName(message, length, rdataStart, rdata, rec.name) ||
            !ReadRdataName(message, length, rdataStart, rdata, rec.name2))
            return false;
        auto serial = rdata.U32(), refresh = rdata.U32(), retry = rdata.U32(), expire = rdata.U32(),
             minimum = rdata.U32();
        if (!minimum)
            return false;
        rec.addressOrSerial = *serial;
        rec.refresh = *refresh;
        rec.retry = *retry;
        rec.expire = *expire;
        rec.minimum = *minimum;
        return true;
    }
    case kDnsTypeHINFO:
        return ReadCharacterString(rdata, rec.name) && ReadCharacterString(rdata, rec.name2);
    case kDnsTypeMX: {
        auto preference = rdata.U16();
        if (!preference)
            return false;
        rec.preference = *preference;
        return ReadRdataName(message, length, rdataStart, rdata, rec.name);
    }
    default:
        return true;  // kept with its type, section and TTL only
    }
}

}  // namespace

std::vector<std::uint8_t> BuildDnsQuery(std::uint16_t id, std::uint16_t type, const char* name,
                                        bool recursionDesired)
{
    if (!name || !SupportedType(type))
        return {};
    const std::size_t length = strnlen(name, kMaxNameText + 1);
    if (length > kMaxNameText)
        return {};

    std::vector<std::uint8_t> query;
    query.reserve(length + 18);
    PutU16(query, id);
    query.push_back(recursionDesired ? 0x01 : 0x00);
    query.push_back(0x00);
    PutU16(query, 1);  // QDCOUNT
    PutU16(query, 0);
    PutU16(query, 0);
    PutU16(query, 0);

    // Empty labels (a leading, trailing or doubled dot) are left out. Labels
    // are written with their length as it is, 63 or not: the server judges.
    std::size_t start = 0;
    while (start <= length) {
        const char* dot = static_cast<const char*>(std::memchr(name + start, '.', length - start));
        const std::size_t end = dot ? std::size_t(dot - name) : length;
        if (end > start) {
            query.push_back(std::uint8_t(end - start));
            query.insert(query.end(), name + start, name + end);
        }
        start = end + 1;
    }
    query.push_back(0);
    PutU16(query, type);
    PutU16(query, 1);  // QCLASS IN
    return query;
}

int DecodeDnsName(const std::uint8_t* message, std::size_t messageLength, std::uint16_t offset, char* out,
                  std::uint16_t outSize)
{
    if (!message)
        return -1;

    char text[kMaxNameText + 1];
    std::size_t length = 0;
    int hops = 0;
    ByteReader r(message, messageLength);
    bool ok = r.Seek(offset);
    while (ok && length < kMaxNameText) {
        auto b = r.U8();
        if (!b || *b == 0)
            break;
        if (*b >= 64) {
            auto low = r.U8();
            ok = low && ++hops <= kDnsMaxPointerHops && r.Seek(std::size_t((*b << 8 | *low) & 0x3FFF));
            continue;
        }
        if (r.Remaining() < *b)
            break;
        // A name longer than the text area is cut at 255 characters.
        const std::size_t take = std::min<std::size_t>(*b, kMaxNameText - length);
        r.Copy(text + length, take);
        r.Skip(*b - take);
        length += take;
        if (length < kMaxNameText)
            text[length++] = '.';
    }
    if (length > 0 && text[length - 1] == '.')
        --length;

    if (out && outSize > 0) {
        std::memset(out, 0, outSize);
        std::memcpy(out, text, std::min<std::size_t>(length, outSize - 1u));
    }
    return int(length);
}

bool ParseDnsReply(const std::uint8_t* reply, std::size_t length, std::size_t questionLength, DnsRequest& request)
{
    const std::int32_t capacity = request.records ? std::max<std::int32_t>(request.count, 0) : 0;
    request.count = 0;
    request.stored = 0;
    // Offsets within a message are 16-bit; no DNS message is longer.
    length = std::min<std::size_t>(length, 0xFFFF);

    ByteReader r(reply, length);
    if (r.Size() < kHeaderSize)
        return false;
    r.Skip(2);  // the identifier is not compared with the query's
    const std::uint16_t flags = *r.U16();
    const std::uint16_t qdCount = *r.U16();
    const std::uint32_t anCount = *r.U16();
    const std::uint32_t nsCount = *r.U16();
    const std::uint32_t arCount = *r.U16();
    const std::uint32_t total = anCount + nsCount + arCount;
    request.responseCode = std::uint8_t(flags & 0x0F);
    request.truncated = (flags & 0x0200) != 0;
    request.count = std::int32_t(total);

    // The question is taken to be the one that was sent, and skipped by its length.
    if (qdCount != 0 && !r.Skip(questionLength))
        return true;

    // Records beyond the capacity would be parsed only to be dropped.
    const std::uint32_t wanted = std::min<std::uint32_t>(total, std::uint32_t(capacity));
    for (std::uint32_t i = 0; i < wanted; ++i) {
        DnsRecord rec{};
        rec.section = i < anCount ? DnsAnswerSection : i < anCount + nsCount ? DnsAuthoritySection
                                                                             : DnsAdditionalSection;
        if (!SkipName(r))
            break;
        auto type = r.U16();
        auto rclass = r.U16();
        auto ttl = r.U32();
        auto rdLength = r.U16();
        if (!type || !rclass || !ttl || !rdLength)
            break;
        rec.type = *type;
        rec.ttl = *ttl;
        const std::size_t rdataStart = r.Position();
        auto rdata = r.Take(*rdLength);  // the next record starts after it, whatever is decoded
        if (!rdata || !DecodeRdata(reply, length, rdataStart, *rdata, rec))
            break;
        request.records[i] = rec;
        request.stored = std::int32_t(i + 1);
    }
    return true;
}
