#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kolvena {

// A file travels on its own connection: the recipient listens, the offerer connects and sends
// the file in chunks, and the recipient answers each complete chunk with one byte. There is no
// header and no framing: name and size are known from the offer.
inline constexpr std::uint16_t TRANSFER_PORT = 6637;
inline constexpr std::uint32_t CHUNK_SIZE = 10240;
// The chunk count travels nowhere but is held in 16 bits by both sides.
inline constexpr std::uint32_t MAX_CHUNKS = 65535;

inline constexpr std::uint8_t ACK_CHUNK = 57; // go on
inline constexpr std::uint8_t ACK_ABORT = 58; // the recipient gave up
inline constexpr std::uint8_t ACK_DONE = 59;  // the last chunk has arrived
// Sent instead of a chunk when the offerer gives up. A last chunk of exactly one byte reads the
// same: the stream cannot tell them apart.
inline constexpr std::uint8_t SENDER_ABORT = 1;

// ceil(size / CHUNK_SIZE); 0 for an empty file.
std::uint32_t ChunkCount(std::uint64_t size);
// The size of chunk `index` (1-based) of a file of `size` bytes.
std::uint32_t ChunkSizeAt(std::uint64_t size, std::uint32_t index);
// Whether a file of this size fits the stream's chunk count.
bool FitsTransfer(std::uint64_t size);

// The offered name as a name to save under (GBK): any directory part is stripped, and a name
// that is then empty, "." or ".." becomes "file". Nothing of it can leave the chosen folder.
std::string SafeFileName(std::string_view offered);
// The save dialog's default extension: the last three characters of the name (UTF-8).
std::string DefaultExtension(std::string_view nameUtf8);

// The progress window's texts (UTF-8): "传输进度   % 33 1", "传输文件进度   % 33", and the
// file line "name      文件大小:1234字节".
std::string ProgressText(double percent, std::uint32_t chunk);
std::string ProgressCaption(double percent);
std::string FileLine(std::string_view nameUtf8, std::uint64_t size);

} // namespace kolvena
