#pragma once

// Builds DNS messages byte by byte for tests, fuzz seeds and benchmarks.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class DnsReplyBuilder {
public:
    std::vector<std::uint8_t> bytes;

    DnsReplyBuilder& U8(std::uint8_t v)
    {
        bytes.push_back(v);
        return *this;
    }
    DnsReplyBuilder& U16(std::uint16_t v) { return U8(std::uint8_t(v >> 8)).U8(std::uint8_t(v)); }
    DnsReplyBuilder& U32(std::uint32_t v) { return U16(std::uint16_t(v >> 16)).U16(std::uint16_t(v)); }
    DnsReplyBuilder& Raw(std::string_view s)
    {
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    // Labels of a dotted name, without the ending zero byte.
    DnsReplyBuilder& Labels(std::string_view name)
    {
        while (!name.empty()) {
            size_t dot = name.find('.');
            std::string_view label = name.substr(0, dot);
            U8(std::uint8_t(label.size())).Raw(label);
            name = dot == std::string_view::npos ? std::string_view{} : name.substr(dot + 1);
        }
        return *this;
    }
    DnsReplyBuilder& Name(std::string_view name) { return Labels(name).U8(0); }
    DnsReplyBuilder& Pointer(std::uint16_t offset) { return U16(std::uint16_t(0xC000 | offset)); }

    DnsReplyBuilder& Header(std::uint16_t id, std::uint16_t flags, std::uint16_t qd, std::uint16_t an,
                            std::uint16_t ns, std::uint16_t ar)
    {
        return U16(id).U16(flags).U16(qd).U16(an).U16(ns).U16(ar);
    }
    DnsReplyBuilder& Question(std::string_view name, std::uint16_t type) { return Name(name).U16(type).U16(1); }
    // TYPE, CLASS IN, TTL, RDLENGTH: what follows the owner name.
    DnsReplyBuilder& Fixed(std::uint16_t type, std::uint32_t ttl, std::uint16_t rdLength)
    {
        return U16(type).U16(1).U32(ttl).U16(rdLength);
    }
    // A record owned by the name at offset 12 (the question's).
    DnsReplyBuilder& ARecord(std::uint32_t a, std::uint32_t ttl = 300)
    {
        return Pointer(12).Fixed(1, ttl, 4).U32(a);
    }
    // Writes a 16-bit value over the bytes at offset (to fix up lengths).
    void SetU16(size_t offset, std::uint16_t v)
    {
        bytes[offset] = std::uint8_t(v >> 8);
        bytes[offset + 1] = std::uint8_t(v);
    }
    size_t Size() const { return bytes.size(); }
};
