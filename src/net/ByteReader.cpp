#include "net/ByteReader.h"

#include <cstring>

bool ByteReader::Seek(std::size_t pos)
{
    if (pos > size_)
        return false;
    pos_ = pos;
    return true;
}

bool ByteReader::Skip(std::size_t n)
{
    if (n > Remaining())
        return false;
    pos_ += n;
    return true;
}

std::optional<std::uint8_t> ByteReader::U8At(std::size_t at) const
{
    if (at >= size_)
        return std::nullopt;
    return data_[at];
}

std::optional<std::uint16_t> ByteReader::U16At(std::size_t at) const
{
    if (at > size_ || size_ - at < 2)
        return std::nullopt;
    return std::uint16_t(data_[at] << 8 | data_[at + 1]);
}

std::optional<std::uint32_t> ByteReader::U32At(std::size_t at) const
{
    if (at > size_ || size_ - at < 4)
        return std::nullopt;
    const std::uint8_t* p = data_ + at;
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::optional<std::uint8_t> ByteReader::U8()
{
    auto v = U8At(pos_);
    if (v)
        pos_ += 1;
    return v;
}

std::optional<std::uint16_t> ByteReader::U16()
{
    auto v = U16At(pos_);
    if (v)
        pos_ += 2;
    return v;
}

std::optional<std::uint32_t> ByteReader::U32()
{
    auto v = U32At(pos_);
    if (v)
        pos_ += 4;
    return v;
}

std::optional<std::string_view> ByteReader::Text(std::size_t n)
{
    if (n > Remaining())
        return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return text;
}

bool ByteReader::Copy(void* out, std::size_t n)
{
    if (n > Remaining())
        return false;
    if (n)
        std::memcpy(out, data_ + pos_, n);
    pos_ += n;
    return true;
}

std::optional<ByteReader> ByteReader::Take(std::size_t n)
{
    if (n > Remaining())
        return std::nullopt;
    ByteReader sub(data_ + pos_, n);
    pos_ += n;
    return sub;
}
