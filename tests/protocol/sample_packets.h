#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/packets.h"

namespace kolvena::test {

inline std::string Bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out.push_back(static_cast<char>(v));
    return out;
}

inline std::string Repeat(std::string_view piece, std::size_t times) {
    std::string out;
    for (std::size_t i = 0; i < times; ++i)
        out += piece;
    return out;
}

inline std::string Relayed(std::string packet, PacketType type) {
    Relay(packet, type);
    return packet;
}

inline std::vector<Buddy> SampleRoster(std::size_t count) {
    std::vector<Buddy> roster;
    for (std::uint32_t id = 1; id <= count; ++id) {
        Buddy buddy =
            Buddy::Make("m", "192.168.1.20", id == 1 ? BuddyRole::Leader : BuddyRole::Member);
        buddy.id = id;
        buddy.reserved = {'\x01', '\x02', '\x03', '\x04'};
        buddy.sayCount = static_cast<std::uint16_t>(id);
        roster.push_back(buddy);
    }
    return roster;
}

struct SamplePacket {
    PacketType type;
    std::string bytes;
};

// One valid packet of every type, counted fields non-empty.
inline std::vector<SamplePacket> SamplePackets() {
    const ChatLine chat{"\x02\x03", 3, 2, 1, 0x01020304, "hello"};
    const std::string messageText = std::string(BACKLOG_SKIP, '*') + "Massage: hi\r\n";
    std::vector<SamplePacket> out{
        {PacketType::Login, BuildLogin("Bob")},
        {PacketType::Welcome, *BuildWelcome("topic", 1234567, messageText, SampleRoster(2))},
        {PacketType::MemberJoined, BuildMemberJoined("Bob", "10.0.0.7")},
        {PacketType::MemberLeft, BuildMemberLeft(3)},
    };
    for (PacketType t : {PacketType::SayToHost, PacketType::Say})
        out.push_back({t, BuildChat(t, chat)});
    for (PacketType t : {PacketType::NoticeToHost, PacketType::Notice, PacketType::NoticeRefused})
        out.push_back({t, BuildNotice(t, {4, "notice text"})});
    for (PacketType t : {PacketType::RenameToHost, PacketType::Rename})
        out.push_back({t, BuildRename(t, {2, "Carol"})});
    for (PacketType t :
         {PacketType::SleepToHost, PacketType::WakeToHost, PacketType::Sleep, PacketType::Wake})
        out.push_back({t, BuildPresence(t, {5})});
    for (int t = 50; t <= 55; ++t) {
        const auto type = static_cast<PacketType>(t);
        out.push_back({type, BuildFilePacket(type, {2, 3, "report.txt", 123456})});
    }
    return out;
}

} // namespace kolvena::test
