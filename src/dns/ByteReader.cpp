#include "dns/ByteReader.h"

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

std::optional<std::uint8_t> ByteReader::PeekU8() const
{
    if (Remaining() < 1)
        return std::nullopt;
    return data_[pos_];
}

std::optional<std::uint8_t> ByteReader::U8()
{
    if (Remaining() < 1)
        return std::nullopt;
    return data_[pos_++];
}

std::optional<std::uint16_t> ByteReader::U16()
{
    if (Remaining() < 2)
        return std::nullopt;
    std::uint16_t v = std::uint16_t(data_[pos_] << 8 | data_[pos_ + 1]);
    pos_ += 2;
    return v;
}

std::optional<std::uint32_t> ByteReader::U32()
{
    if (Remaining() < 4)
        return std::nullopt;
    const std::uint8_t* p = data_ + pos_;
    std::uint32_t v = std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
    pos_ += 4;
    return v;
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
