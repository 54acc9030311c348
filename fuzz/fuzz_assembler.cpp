// Feeds the input to a packet assembler in reads of varying size and every packet it yields to
// its reader; packets that read are built again and compared with the bytes received.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/assembler.h"
#include "protocol/packets.h"

namespace kolvena {
namespace {

constexpr std::size_t MAX_READ = 97;
constexpr std::uint32_t LCG_MULTIPLIER = 1103515245u;
constexpr std::uint32_t LCG_INCREMENT = 12345u;
constexpr unsigned SIDE_BIT = 0x01;

void Check(bool condition) {
    if (!condition)
        std::abort();
}

// A text field whose bytes after the text are all NUL is built again byte for byte.
bool Canonical(std::string_view field) {
    const std::size_t nul = field.find('\0');
    return nul == std::string_view::npos ||
           field.find_first_not_of('\0', nul) == std::string_view::npos;
}

bool SameRoster(const WelcomePacket& a, const WelcomePacket& b) {
    if (a.roster.size() != b.roster.size())
        return false;
    for (std::size_t i = 0; i < a.roster.size(); ++i)
        if (a.roster[i].Encode() != b.roster[i].Encode())
            return false;
    return true;
}

void CheckWelcome(std::string_view packet) {
    const auto read = ReadWelcome(packet);
    Check(read.has_value());
    const std::string messageText = std::string(BACKLOG_SKIP, '*') + read->backlog;
    const auto rebuilt = BuildWelcome(read->topic, read->createdAt, messageText, read->roster);
    Check(rebuilt.has_value()); // a Welcome that passed the cap was refused before
    const auto again = ReadWelcome(*rebuilt);
    Check(again.has_value());
    Check(again->topic == read->topic && again->createdAt == read->createdAt);
    Check(SameRoster(*again, *read));
    if (packet.size() > PACKET_BUFFER_SIZE) {
        // Only whole oldest lines may have gone.
        Check(read->backlog.ends_with(again->backlog));
        Check(rebuilt->size() <= PACKET_BUFFER_SIZE || again->backlog.empty());
        return;
    }
    Check(again->backlog == read->backlog);
    const std::string_view trailer = packet.substr(packet.size() - WELCOME_TRAILER_SIZE);
    if (Canonical(packet.substr(1, TOPIC_SIZE)) &&
        trailer.find_first_not_of('\0') == std::string_view::npos)
        Check(*rebuilt == packet);
}

void CheckPacket(std::string_view packet, Side side) {
    Check(!packet.empty());
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(packet[0]));
    Check(type && Handles(side, *type));
    Check(PacketLength(packet) == packet.size());
    Check(packet.size() <= MaxPacketSize(*type));

    switch (LayoutOf(*type)) {
    case PacketLayout::Login: {
        const auto read = ReadLogin(packet);
        Check(read.has_value());
        const std::string rebuilt = BuildLogin(read->name);
        Check(ReadLogin(rebuilt) == read);
        if (Canonical(packet.substr(1, NAME_SIZE)))
            Check(rebuilt == packet);
        break;
    }
    case PacketLayout::Welcome:
        CheckWelcome(packet);
        break;
    case PacketLayout::MemberJoined: {
        const auto read = ReadMemberJoined(packet);
        Check(read.has_value());
        const std::string rebuilt = BuildMemberJoined(read->name, read->address);
        Check(ReadMemberJoined(rebuilt) == read);
        if (Canonical(packet.substr(1, NAME_SIZE)) &&
            Canonical(packet.substr(1 + NAME_SIZE, ADDRESS_SIZE)))
            Check(rebuilt == packet);
        break;
    }
    case PacketLayout::MemberLeft: {
        const auto read = ReadMemberLeft(packet);
        Check(read.has_value());
        Check(BuildMemberLeft(read->activeIndex) == packet);
        break;
    }
    case PacketLayout::Chat: {
        const auto read = ReadChat(packet);
        Check(read.has_value());
        Check(BuildChat(*type, *read) == packet);
        break;
    }
    case PacketLayout::Notice: {
        const auto read = ReadNotice(packet);
        Check(read.has_value());
        Check(BuildNotice(*type, *read) == packet);
        break;
    }
    case PacketLayout::Rename: {
        const auto read = ReadRename(packet);
        Check(read.has_value());
        const std::string rebuilt = BuildRename(*type, *read);
        Check(ReadRename(rebuilt) == read);
        if (Canonical(packet.substr(3, NAME_SIZE)))
            Check(rebuilt == packet);
        break;
    }
    case PacketLayout::Presence: {
        const auto read = ReadPresence(packet);
        Check(read.has_value());
        Check(BuildPresence(*type, *read) == packet);
        break;
    }
    case PacketLayout::File: {
        const auto read = ReadFilePacket(packet);
        Check(read.has_value());
        Check(BuildFilePacket(*type, *read) == packet);
        break;
    }
    }
}

// Every reader on raw bytes: none may read past them.
void ReadRaw(std::string_view bytes) {
    (void)MeasurePacket(bytes);
    (void)ReadLogin(bytes);
    (void)ReadWelcome(bytes);
    (void)ReadMemberJoined(bytes);
    (void)ReadMemberLeft(bytes);
    (void)ReadChat(bytes);
    (void)ReadNotice(bytes);
    (void)ReadRename(bytes);
    (void)ReadPresence(bytes);
    (void)ReadFilePacket(bytes);
}

} // namespace
} // namespace kolvena

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kolvena;
    if (size == 0)
        return 0;
    const Side side = (data[0] & SIDE_BIT) ? Side::Client : Side::Host;
    std::uint32_t seed = data[0] >> 1;
    // A copy of exactly the stream, so that a read past its end is caught.
    const std::string stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    ReadRaw(stream);

    const std::size_t cap = side == Side::Client ? MAX_WELCOME_SIZE : MAX_PACKET_SIZE;
    PacketAssembler assembler(side);
    for (std::size_t at = 0; at < stream.size();) {
        seed = seed * LCG_MULTIPLIER + LCG_INCREMENT;
        const std::size_t read =
            std::min<std::size_t>(1 + (seed >> 16) % MAX_READ, stream.size() - at);
        assembler.Feed(std::string_view(stream).substr(at, read));
        at += read;
        Check(assembler.Buffered() <= cap + read);
        for (;;) {
            auto result = assembler.Next();
            if (result.status == PacketAssembler::Status::Packet) {
                CheckPacket(result.packet, side);
                continue;
            }
            if (result.status == PacketAssembler::Status::Discarded)
                Check(assembler.Buffered() == 0);
            if (result.status == PacketAssembler::Status::Violation)
                Check(assembler.Failed() && assembler.Buffered() == 0);
            break;
        }
    }
    return 0;
}
