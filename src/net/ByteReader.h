#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A cursor over received bytes: every byte read from the network goes through
// one of these. Every read is checked against the end and yields nothing
// (leaving the position unchanged) instead of reading past it; numbers are
// read big-endian, as they stand on the wire.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(data ? size : 0) {}

    std::size_t Position() const { return pos_; }
    std::size_t Size() const { return size_; }
    std::size_t Remaining() const { return size_ - pos_; }

    // Moves to an absolute position; false (and no move) beyond the end.
    bool Seek(std::size_t pos);
    // Moves n bytes on; false (and no move) when fewer remain.
    bool Skip(std::size_t n);

    std::optional<std::uint8_t> U8();
    std::optional<std::uint16_t> U16();
    std::optional<std::uint32_t> U32();
    // Reads at an absolute position without moving, for fixed-layout headers.
    std::optional<std::uint8_t> U8At(std::size_t at) const;
    std::optional<std::uint16_t> U16At(std::size_t at) const;
    std::optional<std::uint32_t> U32At(std::size_t at) const;

    // The next n bytes as they stand, moving past them.
    std::optional<std::string_view> Text(std::size_t n);
    // Copies n bytes to out; false (nothing copied) when fewer remain.
    bool Copy(void* out, std::size_t n);

    // A reader over the next n bytes, which this one then skips.
    std::optional<ByteReader> Take(std::size_t n);

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};
