#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kolvena {

// Everything on the wire and in files is little-endian and unaligned. The reader never
// reads past the bytes it was given: once a read fails, every later read fails too.
class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}

    bool U8(std::uint8_t& out);
    bool U16(std::uint16_t& out);
    bool U32(std::uint32_t& out);
    bool I32(std::int32_t& out);
    // Takes exactly count bytes, or fails without taking any.
    bool Take(std::size_t count, std::string_view& out);
    bool Skip(std::size_t count);

    bool Ok() const { return ok_; }
    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

private:
    bool Need(std::size_t count);

    std::string_view bytes_;
    std::size_t pos_ = 0;
    bool ok_ = true;
};

class ByteWriter {
public:
    explicit ByteWriter(std::string& out) : out_(out) {}

    void U8(std::uint8_t value) { out_.push_back(static_cast<char>(value)); }
    void U16(std::uint16_t value);
    void U32(std::uint32_t value);
    void I32(std::int32_t value) { U32(static_cast<std::uint32_t>(value)); }
    void Raw(std::string_view bytes) { out_.append(bytes); }
    // A fixed-width GBK text field: the text cut to the width without splitting a character,
    // NUL-filled after it.
    void Field(std::string_view text, std::size_t width);

private:
    std::string& out_;
};

// Reads a little-endian value at an offset the caller has already bounds-checked.
std::uint16_t LoadU16(const char* p);
std::uint32_t LoadU32(const char* p);
void StoreU16(char* p, std::uint16_t value);
void StoreU32(char* p, std::uint32_t value);

// The text of a fixed-width field: up to its first NUL, at most the whole field.
std::string_view FieldText(std::string_view field);

} // namespace kolvena
