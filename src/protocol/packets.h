#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "session/buddy.h"
#include "session/session.h"

namespace kolvena {

// The first byte of every packet. Members send 10..16 and the odd file types to the host; the
// host sends 21..29 and the even file types to members. 13 and every other value are unused.
enum class PacketType : std::uint8_t {
    Login = 10,
    SayToHost = 11,
    NoticeToHost = 12,
    RenameToHost = 14,
    SleepToHost = 15,
    WakeToHost = 16,
    Welcome = 21,
    MemberJoined = 22,
    MemberLeft = 23,
    Say = 24,
    Notice = 25,
    NoticeRefused = 26,
    Rename = 27,
    Sleep = 28,
    Wake = 29,
    FileOffer = 50,
    FileOfferToHost = 51,
    FileAccepted = 52,
    FileAcceptToHost = 53,
    FileRefused = 54,
    FileRefuseToHost = 55,
};

// The byte layouts that the 21 types share; a reader accepts exactly the types of its layout.
enum class PacketLayout : std::uint8_t {
    Login,
    Welcome,
    MemberJoined,
    MemberLeft,
    Chat,
    Notice,
    Rename,
    Presence,
    File,
};

// Which end of a session connection receives: the host reads what members send, a client
// reads what the host sends.
enum class Side : std::uint8_t { Host, Client };

// What one receive used to take as one packet. Every packet but the Welcome stays within it.
inline constexpr std::size_t PACKET_BUFFER_SIZE = 4096;
// The message-window header that every program puts first in its own messageText; the
// Welcome's backlog leaves it out.
inline constexpr std::size_t BACKLOG_SKIP = 56;
// The largest packet a receiver takes; a header announcing more is a protocol violation.
inline constexpr std::size_t MAX_PACKET_SIZE = PACKET_BUFFER_SIZE;
// The Welcome carries the whole roster, 60 bytes per member ever admitted, so it may grow.
inline constexpr std::size_t MAX_WELCOME_SIZE = std::size_t{1} << 20;

// Fixed sizes and the fixed parts of the counted layouts.
inline constexpr std::size_t LOGIN_SIZE = 1 + NAME_SIZE;
inline constexpr std::size_t MEMBER_JOINED_SIZE = 1 + NAME_SIZE + ADDRESS_SIZE;
inline constexpr std::size_t MEMBER_LEFT_SIZE = 3;
inline constexpr std::size_t RENAME_SIZE = 3 + NAME_SIZE;
inline constexpr std::size_t PRESENCE_SIZE = 3;
inline constexpr std::size_t CHAT_FIXED_SIZE = 14;  // plus n recipients and T text bytes
inline constexpr std::size_t NOTICE_FIXED_SIZE = 5; // plus T text bytes
inline constexpr std::size_t FILE_FIXED_SIZE = 11;  // plus F file-name bytes
inline constexpr std::size_t WELCOME_TRAILER_SIZE = 36;
inline constexpr std::size_t WELCOME_FIXED_SIZE = 49 + WELCOME_TRAILER_SIZE; // plus L and 60*N
// The most roster records a Welcome within MAX_WELCOME_SIZE can carry.
inline constexpr std::size_t MAX_WELCOME_RECORDS =
    (MAX_WELCOME_SIZE - WELCOME_FIXED_SIZE) / Buddy::RECORD_SIZE;

// The longest texts that keep their packets within MAX_PACKET_SIZE. Builders cut longer
// texts there (never inside a GBK character); the input should stop the user before.
inline constexpr std::size_t MAX_NOTICE_TEXT = MAX_PACKET_SIZE - NOTICE_FIXED_SIZE;
inline constexpr std::size_t MAX_FILE_NAME = MAX_PACKET_SIZE - FILE_FIXED_SIZE;
// The chat text limit shrinks by one byte per recipient.
inline constexpr std::size_t MAX_CHAT_TEXT = MAX_PACKET_SIZE - CHAT_FIXED_SIZE;

// --- types ---

// The type a byte names; nothing for 13 and every other unused value.
std::optional<PacketType> PacketTypeOf(std::uint8_t typeByte);
PacketLayout LayoutOf(PacketType type);
// Whether this side takes packets of the type: the host takes the member-to-host types, a
// client the host-to-member types.
bool Handles(Side side, PacketType type);
// The most bytes a packet of the type may have.
std::size_t MaxPacketSize(PacketType type);

// How far the bytes at the start of a stream tell the length of the packet they begin.
struct PacketExtent {
    // complete: the whole packet's length. Otherwise a lower bound: the bytes needed before
    // the next count of the header can be read.
    std::size_t length = 0;
    bool complete = false;
};

// Nothing when the bytes are empty or their first byte is not a packet type.
std::optional<PacketExtent> MeasurePacket(std::string_view bytes);
// The whole length of the packet the bytes begin, once its counts are all there.
std::optional<std::size_t> PacketLength(std::string_view bytes);

// The host relays a member's packet by rewriting its type byte; nothing else changes.
void Relay(std::string& packet, PacketType type);

// --- layouts ---
// Builders return the packet's bytes. The family builders return an empty string for a type
// outside their layout. Readers take a packet that begins with a type of their layout and
// holds every byte its counts announce; bytes after the layout are ignored. Text fields are
// read up to their first NUL and never past their width.

struct LoginPacket {
    std::string name; // GBK
    bool operator==(const LoginPacket&) const = default;
};
std::string BuildLogin(std::string_view name);
std::optional<LoginPacket> ReadLogin(std::string_view packet);

struct WelcomePacket {
    std::string topic; // GBK
    std::uint32_t createdAt = 0;
    std::string backlog; // GBK, the host's messageText without its header line
    std::vector<Buddy> roster;
};
// The Welcome for the member last in roster. It keeps the whole roster; when the packet would
// pass PACKET_BUFFER_SIZE the oldest whole lines of the backlog go first. Nothing when the
// roster alone would pass MAX_WELCOME_SIZE.
std::optional<std::string> BuildWelcome(std::string_view topic, std::uint32_t createdAt,
                                        std::string_view messageText,
                                        const std::vector<Buddy>& roster);
// The trailing bytes after the records carry nothing; they may be missing.
std::optional<WelcomePacket> ReadWelcome(std::string_view packet);

struct MemberJoinedPacket {
    std::string name;    // GBK
    std::string address; // dotted IPv4 text
    bool operator==(const MemberJoinedPacket&) const = default;
};
std::string BuildMemberJoined(std::string_view name, std::string_view address);
std::optional<MemberJoinedPacket> ReadMemberJoined(std::string_view packet);

struct MemberLeftPacket {
    ActiveIndex activeIndex; // counted before the departure
    bool operator==(const MemberLeftPacket&) const = default;
};
std::string BuildMemberLeft(ActiveIndex activeIndex);
std::optional<MemberLeftPacket> ReadMemberLeft(std::string_view packet);

// SayToHost and Say. Recipients are cut to what fits beside the fixed part, the text to what
// fits beside both.
std::string BuildChat(PacketType type, const ChatLine& line);
std::optional<ChatLine> ReadChat(std::string_view packet);

// NoticeToHost, Notice and NoticeRefused.
struct NoticePacket {
    BuddyId sender;
    std::string text; // GBK
    bool operator==(const NoticePacket&) const = default;
};
std::string BuildNotice(PacketType type, const NoticePacket& notice);
std::optional<NoticePacket> ReadNotice(std::string_view packet);

// RenameToHost and Rename.
struct RenamePacket {
    BuddyId sender;
    std::string name; // GBK, the new name
    bool operator==(const RenamePacket&) const = default;
};
std::string BuildRename(PacketType type, const RenamePacket& rename);
std::optional<RenamePacket> ReadRename(std::string_view packet);

// SleepToHost, WakeToHost, Sleep and Wake.
struct PresencePacket {
    BuddyId sender;
    bool operator==(const PresencePacket&) const = default;
};
std::string BuildPresence(PacketType type, const PresencePacket& presence);
std::optional<PresencePacket> ReadPresence(std::string_view packet);

// The largest file an offer may carry: what the transfer stream can count, 65,535 chunks of
// 10,240 bytes.
inline constexpr std::uint64_t MAX_OFFER_SIZE = 671078400;

// The six file packets. An answer is the offer's bytes with another type byte (Relay).
struct FilePacket {
    ActiveIndex offerer;
    ActiveIndex recipient;
    std::string fileName; // GBK, without its directory
    std::uint32_t fileSize = 0;
    bool operator==(const FilePacket&) const = default;
};
std::string BuildFilePacket(PacketType type, const FilePacket& file);
std::optional<FilePacket> ReadFilePacket(std::string_view packet);

} // namespace kolvena
