#include "transfer_stream.h"

#include "protocol/packets.h"

#include <cstdio>

namespace kolvena {

std::uint32_t ChunkCount(std::uint64_t size) {
    const std::uint64_t chunks = (size + CHUNK_SIZE - 1) / CHUNK_SIZE;
    return chunks > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(chunks);
}

std::uint32_t ChunkSizeAt(std::uint64_t size, std::uint32_t index) {
    const std::uint32_t chunks = ChunkCount(size);
    if (index == 0 || index > chunks)
        return 0;
    if (index < chunks)
        return CHUNK_SIZE;
    return static_cast<std::uint32_t>(size - std::uint64_t{chunks - 1} * CHUNK_SIZE);
}

static_assert(MAX_OFFER_SIZE == std::uint64_t{MAX_CHUNKS} * CHUNK_SIZE);

bool FitsTransfer(std::uint64_t size) {
    return size <= MAX_OFFER_SIZE;
}

namespace {

bool IsGbkLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

bool IsGbkTrail(unsigned char c) {
    return c >= 0x40 && c <= 0xFE && c != 0x7F;
}

} // namespace

std::string SafeFileName(std::string_view offered) {
    // A separator counts only as a character of its own: '\\' (0x5C) is also a valid trail byte
    // of many two-byte characters, and cutting there would leave half a character behind.
    std::size_t start = 0;
    for (std::size_t i = 0; i < offered.size();) {
        const auto c = static_cast<unsigned char>(offered[i]);
        if (IsGbkLead(c) && i + 1 < offered.size() &&
            IsGbkTrail(static_cast<unsigned char>(offered[i + 1]))) {
            i += 2;
            continue;
        }
        ++i;
        if (c == '/' || c == '\\')
            start = i;
    }
    std::string name(offered.substr(start));
    // NUL ends a path for the system; it is below every trail byte, so it stands alone.
    for (char& c : name)
        if (c == '\0')
            c = '_';
    if (name.empty() || name == "." || name == "..")
        return "file";
    return name;
}

std::string DefaultExtension(std::string_view nameUtf8) {
    std::size_t begin = nameUtf8.size();
    for (int characters = 0; characters < 3 && begin > 0; ++characters) {
        --begin;
        // Back over continuation bytes to the start of the character.
        while (begin > 0 && (static_cast<unsigned char>(nameUtf8[begin]) & 0xC0) == 0x80)
            --begin;
    }
    return std::string(nameUtf8.substr(begin));
}

std::string ProgressText(double percent, std::uint32_t chunk) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "传输进度   %% %.0f %u", percent, chunk);
    return buffer;
}

std::string ProgressCaption(double percent) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "传输文件进度   %% %.0f", percent);
    return buffer;
}

std::string FileLine(std::string_view nameUtf8, std::uint64_t size) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "      文件大小:%llu字节",
                  static_cast<unsigned long long>(size));
    return std::string(nameUtf8) + buffer;
}

} // namespace kolvena
