#include "bytes.h"

#include <algorithm>
#include <cstring>

#include "gbk.h"

namespace kolvena {

bool ByteReader::Need(std::size_t count) {
    if (!ok_ || count > Remaining()) {
        ok_ = false;
        return false;
    }
    return true;
}

bool ByteReader::U8(std::uint8_t& out) {
    if (!Need(1))
        return false;
    out = static_cast<std::uint8_t>(bytes_[pos_]);
    pos_ += 1;
    return true;
}

bool ByteReader::U16(std::uint16_t& out) {
    if (!Need(2))
        return false;
    out = LoadU16(bytes_.data() + pos_);
    pos_ += 2;
    return true;
}

bool ByteReader::U32(std::uint32_t& out) {
    if (!Need(4))
        return false;
    out = LoadU32(bytes_.data() + pos_);
    pos_ += 4;
    return true;
}

bool ByteReader::I32(std::int32_t& out) {
    std::uint32_t value = 0;
    if (!U32(value))
        return false;
    out = static_cast<std::int32_t>(value);
    return true;
}

bool ByteReader::Take(std::size_t count, std::string_view& out) {
    if (!Need(count))
        return false;
    out = bytes_.substr(pos_, count);
    pos_ += count;
    return true;
}

bool ByteReader::Skip(std::size_t count) {
    if (!Need(count))
        return false;
    pos_ += count;
    return true;
}

void ByteWriter::U16(std::uint16_t value) {
    char b[2];
    StoreU16(b, value);
    out_.append(b, 2);
}

void ByteWriter::U32(std::uint32_t value) {
    char b[4];
    StoreU32(b, value);
    out_.append(b, 4);
}

void ByteWriter::Field(std::string_view text, std::size_t width) {
    const std::size_t n = GbkFitLength(text, width);
    out_.append(text.data(), n);
    out_.append(width - n, '\0');
}

std::uint16_t LoadU16(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint16_t>(u[0] | (u[1] << 8));
}

std::uint32_t LoadU32(const char* p) {
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<std::uint32_t>(u[0]) | (static_cast<std::uint32_t>(u[1]) << 8) |
           (static_cast<std::uint32_t>(u[2]) << 16) | (static_cast<std::uint32_t>(u[3]) << 24);
}

void StoreU16(char* p, std::uint16_t value) {
    p[0] = static_cast<char>(value & 0xFF);
    p[1] = static_cast<char>(value >> 8);
}

void StoreU32(char* p, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string_view FieldText(std::string_view field) {
    const std::size_t nul = field.find('\0');
    return nul == std::string_view::npos ? field : field.substr(0, nul);
}

} // namespace kolvena
