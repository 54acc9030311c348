#include "packets.h"

#include "session/bytes.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

constexpr std::size_t TYPE_SIZE = 1;
constexpr std::size_t U16_SIZE = 2;
// Where the counts sit, each counted from the type byte.
constexpr std::size_t CHAT_RECIPIENTS_COUNT_AT = 1;
constexpr std::size_t CHAT_TEXT_COUNT_AFTER_RECIPIENTS = 12;
constexpr std::size_t NOTICE_TEXT_COUNT_AT = 3;
constexpr std::size_t FILE_NAME_COUNT_AT = 5;
constexpr std::size_t WELCOME_BACKLOG_COUNT_AT = 1 + TOPIC_SIZE + 4;
constexpr std::size_t WELCOME_RECORD_COUNT_AFTER_BACKLOG = WELCOME_BACKLOG_COUNT_AT + U16_SIZE;

constexpr std::string_view LINE_END = "\r\n";

std::uint8_t Byte(PacketType type) {
    return static_cast<std::uint8_t>(type);
}

// Whether the packet begins with a type byte of the layout.
bool HasLayout(std::string_view packet, PacketLayout layout) {
    if (packet.empty())
        return false;
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(packet[0]));
    return type && LayoutOf(*type) == layout;
}

bool InLayout(PacketType type, PacketLayout layout) {
    return LayoutOf(type) == layout;
}

// A reader positioned after the type byte of a packet of the layout; nothing otherwise.
std::optional<ByteReader> OpenPacket(std::string_view packet, PacketLayout layout) {
    if (!HasLayout(packet, layout))
        return std::nullopt;
    ByteReader reader(packet);
    reader.Skip(TYPE_SIZE);
    return reader;
}

// A fixed-width text field: at most its width, up to its first NUL.
bool ReadField(ByteReader& reader, std::size_t width, std::string& out) {
    std::string_view field;
    if (!reader.Take(width, field))
        return false;
    out = std::string(FieldText(field));
    return true;
}

// A u16 count followed by that many bytes.
bool ReadCounted(ByteReader& reader, std::string& out) {
    std::uint16_t count = 0;
    std::string_view bytes;
    if (!reader.U16(count) || !reader.Take(count, bytes))
        return false;
    out = std::string(bytes);
    return true;
}

// The u16 count at an offset, once the bytes reach past it.
std::optional<std::size_t> CountAt(std::string_view bytes, std::size_t offset) {
    if (bytes.size() < offset + U16_SIZE)
        return std::nullopt;
    return LoadU16(bytes.data() + offset);
}

PacketExtent Complete(std::size_t length) {
    return {length, true};
}
PacketExtent NeedsUpTo(std::size_t length) {
    return {length, false};
}

// The backlog a Welcome carries: messageText without its header line, and without as many of
// its oldest whole lines as it takes to fit into budget bytes.
std::string_view FitBacklog(std::string_view messageText, std::size_t budget) {
    std::string_view backlog =
        messageText.size() > BACKLOG_SKIP ? messageText.substr(BACKLOG_SKIP) : std::string_view{};
    if (backlog.size() <= budget)
        return backlog;
    // The first line boundary at or after the excess. A CR LF is never the tail of a two-byte
    // GBK character (trail bytes are 0x40 and above), so every CR LF ends a line.
    const std::size_t excess = backlog.size() - budget;
    const std::size_t from = excess >= LINE_END.size() ? excess - LINE_END.size() : 0;
    const std::size_t lineEnd = backlog.find(LINE_END, from);
    if (lineEnd == std::string_view::npos)
        return {};
    return backlog.substr(lineEnd + LINE_END.size());
}

} // namespace

std::optional<PacketType> PacketTypeOf(std::uint8_t typeByte) {
    switch (static_cast<PacketType>(typeByte)) {
    case PacketType::Login:
    case PacketType::SayToHost:
    case PacketType::NoticeToHost:
    case PacketType::RenameToHost:
    case PacketType::SleepToHost:
    case PacketType::WakeToHost:
    case PacketType::Welcome:
    case PacketType::MemberJoined:
    case PacketType::MemberLeft:
    case PacketType::Say:
    case PacketType::Notice:
    case PacketType::NoticeRefused:
    case PacketType::Rename:
    case PacketType::Sleep:
    case PacketType::Wake:
    case PacketType::FileOffer:
    case PacketType::FileOfferToHost:
    case PacketType::FileAccepted:
    case PacketType::FileAcceptToHost:
    case PacketType::FileRefused:
    case PacketType::FileRefuseToHost:
        return static_cast<PacketType>(typeByte);
    }
    return std::nullopt;
}

PacketLayout LayoutOf(PacketType type) {
    switch (type) {
    case PacketType::Login:
        return PacketLayout::Login;
    case PacketType::Welcome:
        return PacketLayout::Welcome;
    case PacketType::MemberJoined:
        return PacketLayout::MemberJoined;
    case PacketType::MemberLeft:
        return PacketLayout::MemberLeft;
    case PacketType::SayToHost:
    case PacketType::Say:
        return PacketLayout::Chat;
    case PacketType::NoticeToHost:
    case PacketType::Notice:
    case PacketType::NoticeRefused:
        return PacketLayout::Notice;
    case PacketType::RenameToHost:
    case PacketType::Rename:
        return PacketLayout::Rename;
    case PacketType::SleepToHost:
    case PacketType::WakeToHost:
    case PacketType::Sleep:
    case PacketType::Wake:
        return PacketLayout::Presence;
    case PacketType::FileOffer:
    case PacketType::FileOfferToHost:
    case PacketType::FileAccepted:
    case PacketType::FileAcceptToHost:
    case PacketType::FileRefused:
    case PacketType::FileRefuseToHost:
        return PacketLayout::File;
    }
    return PacketLayout::Login; // not reached: every enumerator is listed above
}

bool Handles(Side side, PacketType type) {
    switch (type) {
    case PacketType::Login:
    case PacketType::SayToHost:
    case PacketType::NoticeToHost:
    case PacketType::RenameToHost:
    case PacketType::SleepToHost:
    case PacketType::WakeToHost:
    case PacketType::FileOfferToHost:
    case PacketType::FileAcceptToHost:
    case PacketType::FileRefuseToHost:
        return side == Side::Host;
    case PacketType::Welcome:
    case PacketType::MemberJoined:
    case PacketType::MemberLeft:
    case PacketType::Say:
    case PacketType::Notice:
    case PacketType::NoticeRefused:
    case PacketType::Rename:
    case PacketType::Sleep:
    case PacketType::Wake:
    case PacketType::FileOffer:
    case PacketType::FileAccepted:
    case PacketType::FileRefused:
        return side == Side::Client;
    }
    return false;
}

std::size_t MaxPacketSize(PacketType type) {
    return type == PacketType::Welcome ? MAX_WELCOME_SIZE : MAX_PACKET_SIZE;
}

std::optional<PacketExtent> MeasurePacket(std::string_view bytes) {
    if (bytes.empty())
        return std::nullopt;
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(bytes[0]));
    if (!type)
        return std::nullopt;
    switch (LayoutOf(*type)) {
    case PacketLayout::Login:
        return Complete(LOGIN_SIZE);
    case PacketLayout::MemberJoined:
        return Complete(MEMBER_JOINED_SIZE);
    case PacketLayout::MemberLeft:
        return Complete(MEMBER_LEFT_SIZE);
    case PacketLayout::Rename:
        return Complete(RENAME_SIZE);
    case PacketLayout::Presence:
        return Complete(PRESENCE_SIZE);
    case PacketLayout::Notice: {
        const auto text = CountAt(bytes, NOTICE_TEXT_COUNT_AT);
        if (!text)
            return NeedsUpTo(NOTICE_TEXT_COUNT_AT + U16_SIZE);
        return Complete(NOTICE_FIXED_SIZE + *text);
    }
    case PacketLayout::File: {
        const auto name = CountAt(bytes, FILE_NAME_COUNT_AT);
        if (!name)
            return NeedsUpTo(FILE_NAME_COUNT_AT + U16_SIZE);
        return Complete(FILE_FIXED_SIZE + *name);
    }
    case PacketLayout::Chat: {
        const auto recipients = CountAt(bytes, CHAT_RECIPIENTS_COUNT_AT);
        if (!recipients)
            return NeedsUpTo(CHAT_RECIPIENTS_COUNT_AT + U16_SIZE);
        const std::size_t textCountAt = CHAT_TEXT_COUNT_AFTER_RECIPIENTS + *recipients;
        const auto text = CountAt(bytes, textCountAt);
        if (!text)
            return NeedsUpTo(textCountAt + U16_SIZE);
        return Complete(CHAT_FIXED_SIZE + *recipients + *text);
    }
    case PacketLayout::Welcome: {
        const auto backlog = CountAt(bytes, WELCOME_BACKLOG_COUNT_AT);
        if (!backlog)
            return NeedsUpTo(WELCOME_BACKLOG_COUNT_AT + U16_SIZE);
        const std::size_t recordCountAt = WELCOME_RECORD_COUNT_AFTER_BACKLOG + *backlog;
        const auto records = CountAt(bytes, recordCountAt);
        if (!records)
            return NeedsUpTo(recordCountAt + U16_SIZE);
        return Complete(WELCOME_FIXED_SIZE + *backlog + *records * Buddy::RECORD_SIZE);
    }
    }
    return std::nullopt; // not reached: every layout is listed above
}

std::optional<std::size_t> PacketLength(std::string_view bytes) {
    const auto extent = MeasurePacket(bytes);
    if (!extent || !extent->complete)
        return std::nullopt;
    return extent->length;
}

void Relay(std::string& packet, PacketType type) {
    if (!packet.empty())
        packet[0] = static_cast<char>(Byte(type));
}

std::string BuildLogin(std::string_view name) {
    std::string out;
    out.reserve(LOGIN_SIZE);
    ByteWriter w(out);
    w.U8(Byte(PacketType::Login));
    w.Field(name, NAME_SIZE);
    return out;
}

std::optional<LoginPacket> ReadLogin(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::Login);
    LoginPacket login;
    if (!r || !ReadField(*r, NAME_SIZE, login.name))
        return std::nullopt;
    return login;
}

std::optional<std::string> BuildWelcome(std::string_view topic, std::uint32_t createdAt,
                                        std::string_view messageText,
                                        const std::vector<Buddy>& roster) {
    if (roster.size() > MAX_WELCOME_RECORDS)
        return std::nullopt;
    const std::size_t fixed = WELCOME_FIXED_SIZE + roster.size() * Buddy::RECORD_SIZE;
    const std::size_t budget = fixed < PACKET_BUFFER_SIZE ? PACKET_BUFFER_SIZE - fixed : 0;
    const std::string_view backlog = FitBacklog(messageText, budget);

    std::string out;
    out.reserve(fixed + backlog.size());
    ByteWriter w(out);
    w.U8(Byte(PacketType::Welcome));
    w.Field(topic, TOPIC_SIZE);
    w.U32(createdAt);
    w.U16(static_cast<std::uint16_t>(backlog.size()));
    w.Raw(backlog);
    w.U16(static_cast<std::uint16_t>(roster.size()));
    for (const Buddy& buddy : roster)
        w.Raw(buddy.Encode());
    out.append(WELCOME_TRAILER_SIZE, '\0');
    return out;
}

std::optional<WelcomePacket> ReadWelcome(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::Welcome);
    WelcomePacket welcome;
    std::uint16_t records = 0;
    if (!r || !ReadField(*r, TOPIC_SIZE, welcome.topic) || !r->U32(welcome.createdAt) ||
        !ReadCounted(*r, welcome.backlog) || !r->U16(records))
        return std::nullopt;
    // The records must all be there before any is kept.
    std::string_view recordBytes;
    if (!r->Take(std::size_t{records} * Buddy::RECORD_SIZE, recordBytes))
        return std::nullopt;
    welcome.roster.reserve(records);
    for (std::size_t at = 0; at < recordBytes.size(); at += Buddy::RECORD_SIZE)
        welcome.roster.push_back(*Buddy::Decode(recordBytes.substr(at, Buddy::RECORD_SIZE)));
    return welcome;
}

std::string BuildMemberJoined(std::string_view name, std::string_view address) {
    std::string out;
    out.reserve(MEMBER_JOINED_SIZE);
    ByteWriter w(out);
    w.U8(Byte(PacketType::MemberJoined));
    w.Field(name, NAME_SIZE);
    w.Field(address, ADDRESS_SIZE);
    return out;
}

std::optional<MemberJoinedPacket> ReadMemberJoined(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::MemberJoined);
    MemberJoinedPacket joined;
    if (!r || !ReadField(*r, NAME_SIZE, joined.name) ||
        !ReadField(*r, ADDRESS_SIZE, joined.address))
        return std::nullopt;
    return joined;
}

std::string BuildMemberLeft(ActiveIndex activeIndex) {
    std::string out;
    ByteWriter w(out);
    w.U8(Byte(PacketType::MemberLeft));
    w.U16(activeIndex.value);
    return out;
}

std::optional<MemberLeftPacket> ReadMemberLeft(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::MemberLeft);
    MemberLeftPacket left;
    if (!r || !r->U16(left.activeIndex.value))
        return std::nullopt;
    return left;
}

std::string BuildChat(PacketType type, const ChatLine& line) {
    if (!InLayout(type, PacketLayout::Chat))
        return {};
    const std::string_view recipients =
        std::string_view(line.recipients).substr(0, MAX_PACKET_SIZE - CHAT_FIXED_SIZE);
    const std::string_view text = GbkFit(line.text, MAX_CHAT_TEXT - recipients.size());
    std::string out;
    out.reserve(CHAT_FIXED_SIZE + recipients.size() + text.size());
    ByteWriter w(out);
    w.U8(Byte(type));
    w.U16(static_cast<std::uint16_t>(recipients.size()));
    w.Raw(recipients);
    w.U16(line.target.value);
    w.U16(line.sender.value);
    w.U8(line.whisper);
    w.U32(line.stamp);
    w.U16(static_cast<std::uint16_t>(text.size()));
    w.Raw(text);
    return out;
}

std::optional<ChatLine> ReadChat(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::Chat);
    ChatLine line;
    if (!r || !ReadCounted(*r, line.recipients) || !r->U16(line.target.value) ||
        !r->U16(line.sender.value) || !r->U8(line.whisper) || !r->U32(line.stamp) ||
        !ReadCounted(*r, line.text))
        return std::nullopt;
    return line;
}

std::string BuildNotice(PacketType type, const NoticePacket& notice) {
    if (!InLayout(type, PacketLayout::Notice))
        return {};
    const std::string_view text = GbkFit(notice.text, MAX_NOTICE_TEXT);
    std::string out;
    out.reserve(NOTICE_FIXED_SIZE + text.size());
    ByteWriter w(out);
    w.U8(Byte(type));
    w.U16(notice.sender.value);
    w.U16(static_cast<std::uint16_t>(text.size()));
    w.Raw(text);
    return out;
}

std::optional<NoticePacket> ReadNotice(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::Notice);
    NoticePacket notice;
    if (!r || !r->U16(notice.sender.value) || !ReadCounted(*r, notice.text))
        return std::nullopt;
    return notice;
}

std::string BuildRename(PacketType type, const RenamePacket& rename) {
    if (!InLayout(type, PacketLayout::Rename))
        return {};
    std::string out;
    out.reserve(RENAME_SIZE);
    ByteWriter w(out);
    w.U8(Byte(type));
    w.U16(rename.sender.value);
    w.Field(rename.name, NAME_SIZE);
    return out;
}

std::optional<RenamePacket> ReadRename(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::Rename);
    RenamePacket rename;
    if (!r || !r->U16(rename.sender.value) || !ReadField(*r, NAME_SIZE, rename.name))
        return std::nullopt;
    return rename;
}

std::string BuildPresence(PacketType type, const PresencePacket& presence) {
    if (!InLayout(type, PacketLayout::Presence))
        return {};
    std::string out;
    ByteWriter w(out);
    w.U8(Byte(type));
    w.U16(presence.sender.value);
    return out;
}

std::optional<PresencePacket> ReadPresence(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::Presence);
    PresencePacket presence;
    if (!r || !r->U16(presence.sender.value))
        return std::nullopt;
    return presence;
}

std::string BuildFilePacket(PacketType type, const FilePacket& file) {
    if (!InLayout(type, PacketLayout::File))
        return {};
    const std::string_view name = GbkFit(file.fileName, MAX_FILE_NAME);
    std::string out;
    out.reserve(FILE_FIXED_SIZE + name.size());
    ByteWriter w(out);
    w.U8(Byte(type));
    w.U16(file.offerer.value);
    w.U16(file.recipient.value);
    w.U16(static_cast<std::uint16_t>(name.size()));
    w.Raw(name);
    w.U32(file.fileSize);
    return out;
}

std::optional<FilePacket> ReadFilePacket(std::string_view packet) {
    auto r = OpenPacket(packet, PacketLayout::File);
    FilePacket file;
    if (!r || !r->U16(file.offerer.value) || !r->U16(file.recipient.value) ||
        !ReadCounted(*r, file.fileName) || !r->U32(file.fileSize))
        return std::nullopt;
    return file;
}

} // namespace kolvena
