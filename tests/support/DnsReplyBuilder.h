#pragma once

// Builds DNS messages byte by byte for tests, fuzz seeds and benchmarks.
#include <cstdint>
#include <string_view>
#include <vector>

class DnsReplyBuilder {
public:
    std::vector<std::uint8_t> bytes;

    DnsReplyBuilder& U8(std::uint8_t v) { return bytes.push_back(v), *this; }
    DnsReplyBuilder& U16(std::uint16_t v) { return U8(std::uint8_t(v >> 8)).U8(std::uint8_t(v)); }
    DnsReplyBuilder& U32(std::uint32_t v) { return U16(std::uint16_t(v >> 16)).U16(std::uint16_t(v)); }
    DnsReplyBuilder& Raw(std::string_view s) { return bytes.insert(bytes.end(), s.begin(), s.end()), *this; }
    // Labels of a dotted name, without the ending zero byte.
    DnsReplyBuilder& Labels(std::string_view name)
    {
        for (std::size_t dot; !name.empty(); name = dot == name.npos ? std::string_view{} : name.substr(dot + 1))
            dot = name.find('.'), U8(std::uint8_t(name.substr(0, dot).size())).Raw(name.substr(0, dot));
        return *this;
    }
    DnsReplyBuilder& Name(std::string_view name) { return Labels(name).U8(0); }
    DnsReplyBuilder& Pointer(std::uint16_t offset) { return U16(std::uint16_t(0xC000 | offset)); }
    DnsReplyBuilder& Header(std::uint16_t id, std::uint16_t flags, std::uint16_t qd, std::uint16_t an, std::uint16_t ns, std::uint16_t ar)
    {
        return U16(id).U16(flags).U16(qd).U16(an).U16(ns).U16(ar);
    }
    DnsReplyBuilder& Question(std::string_view name, std::uint16_t type) { return Name(name).U16(type).U16(1); }
    // TYPE, CLASS IN, TTL, RDLENGTH: what follows the owner name.
    DnsReplyBuilder& Fixed(std::uint16_t type, std::uint32_t ttl, std::uint16_t rdLength) { return U16(type).U16(1).U32(ttl).U16(rdLength); }
    // An A record owned by the name at offset 12 (the question's).
    DnsReplyBuilder& ARecord(std::uint32_t a) { return Pointer(12).Fixed(1, 300, 4).U32(a); }
    std::size_t Size() const { return bytes.size(); }

    // A reply header with the query's identifier and its question copied.
    static DnsReplyBuilder ReplyTo(const std::vector<std::uint8_t>& query, std::uint16_t an, std::uint16_t ns = 0, std::uint16_t ar = 0)
    {
        DnsReplyBuilder b;
        b.Header(std::uint16_t(query[0] << 8 | query[1]), 0x8580, 1, an, ns, ar).Raw({reinterpret_cast<const char*>(query.data()) + 12, query.size() - 12});
        return b;
    }
};
