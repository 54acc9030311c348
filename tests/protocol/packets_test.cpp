#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <set>
#include <tuple>

#include "protocol/packets.h"
#include "protocol/sample_packets.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

using test::Bytes;
using test::Relayed;
using test::Repeat;
using test::SamplePackets;
using test::SampleRoster;

template <auto Read> bool Takes(std::string_view packet) {
    return Read(packet).has_value();
}
// The readers in the order of PacketLayout.
constexpr bool (*READERS[])(std::string_view) = {
    Takes<ReadLogin>,      Takes<ReadWelcome>,  Takes<ReadMemberJoined>,
    Takes<ReadMemberLeft>, Takes<ReadChat>,     Takes<ReadNotice>,
    Takes<ReadRename>,     Takes<ReadPresence>, Takes<ReadFilePacket>};
bool Reads(std::string_view packet, PacketLayout layout) {
    return READERS[static_cast<int>(layout)](packet);
}

TEST(PacketTypes, TheTwentyOneTypesTheirLayoutsAndWhoTakesThem) {
    using L = PacketLayout;
    const std::set<int> atHost{10, 11, 12, 14, 15, 16, 51, 53, 55};
    const std::map<int, PacketLayout> layouts = {
        {10, L::Login},      {11, L::Chat},     {12, L::Notice},   {14, L::Rename},
        {15, L::Presence},   {16, L::Presence}, {21, L::Welcome},  {22, L::MemberJoined},
        {23, L::MemberLeft}, {24, L::Chat},     {25, L::Notice},   {26, L::Notice},
        {27, L::Rename},     {28, L::Presence}, {29, L::Presence}, {50, L::File},
        {51, L::File},       {52, L::File},     {53, L::File},     {54, L::File},
        {55, L::File}};
    for (int byte = 0; byte < 256; ++byte) {
        SCOPED_TRACE(byte);
        const auto type = PacketTypeOf(static_cast<std::uint8_t>(byte));
        ASSERT_EQ(type.has_value(), layouts.count(byte) == 1);
        if (type) {
            EXPECT_EQ(LayoutOf(*type), layouts.at(byte));
            EXPECT_EQ(Handles(Side::Host, *type), atHost.count(byte) == 1);
            EXPECT_EQ(Handles(Side::Client, *type), atHost.count(byte) == 0);
            EXPECT_EQ(MaxPacketSize(*type), byte == 21 ? MAX_WELCOME_SIZE : MAX_PACKET_SIZE);
        }
    }
}

TEST(Layouts, ByteExactExamples) {
    using P = PacketType;
    const std::string bob = "Bob" + std::string(17, '\0');
    const ChatLine abc{"", 0, 2, 0, 0, "abc"};
    const ChatLine full{"\x04\x05", 0x0203, 0x0405, 1, 0x0A0B0C0D, std::string("a\0b", 3)};
    const std::string offer = Bytes({51, 2, 0, 3, 0, 5, 0, 'a', '.', 't', 'x', 't', 4, 3, 2, 1});
    const std::pair<std::string, std::string> rows[] = {
        {BuildChat(P::Say, abc), Bytes({24, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 3, 0, 'a', 'b', 'c'})},
        {BuildChat(P::Say, full),
         Bytes({24, 2, 0, 4, 5, 3, 2, 5, 4, 1, 0x0D, 0x0C, 0x0B, 0x0A, 3, 0, 'a', 0, 'b'})},
        {BuildLogin("Bob"), "\x0A" + bob},
        {BuildMemberJoined("Bob", "10.0.0.7"), "\x16" + bob + "10.0.0.7" + std::string(8, '\0')},
        {BuildMemberLeft(0x0102), Bytes({23, 2, 1})},
        {BuildRename(P::RenameToHost, {0x0301, "Bob"}), Bytes({14, 1, 3}) + bob},
        {BuildPresence(P::SleepToHost, {7}), Bytes({15, 7, 0})},
        {BuildPresence(P::Wake, {0x0100}), Bytes({29, 0, 1})},
        {BuildNotice(P::NoticeToHost, {3, "hi"}), Bytes({12, 3, 0, 2, 0, 'h', 'i'})},
        {BuildFilePacket(P::FileOfferToHost, {2, 3, "a.txt", 0x01020304}), offer},
        // A relay rewrites the type byte alone; an answer is the offer's bytes.
        {Relayed(BuildChat(P::SayToHost, abc), P::Say), BuildChat(P::Say, abc)},
        {Relayed(offer, P::FileRefused), Bytes({54}) + offer.substr(1)},
        {Relayed("", P::Say), ""},
        // A type outside the builder's layout builds nothing.
        {BuildChat(P::Notice, ChatLine{}), ""},
        {BuildNotice(P::Say, {1, "x"}), ""},
        {BuildRename(P::Sleep, {1, "x"}), ""},
        {BuildPresence(P::Rename, {1}), ""},
        {BuildFilePacket(P::Login, {1, 2, "f", 3}), ""},
    };
    for (const auto& [built, expected] : rows) {
        EXPECT_EQ(built, expected);
        EXPECT_EQ(PacketLength(built).value_or(0), expected.size());
    }
}

TEST(Layouts, EveryTypeReadsBackAndOtherLayoutsRefuseIt) {
    for (const auto& sample : SamplePackets()) {
        SCOPED_TRACE(static_cast<int>(sample.type));
        EXPECT_EQ(static_cast<std::uint8_t>(sample.bytes[0]), static_cast<int>(sample.type));
        EXPECT_EQ(PacketLength(sample.bytes), sample.bytes.size());
        for (int layout = 0; layout <= static_cast<int>(PacketLayout::File); ++layout)
            EXPECT_EQ(Reads(sample.bytes, static_cast<PacketLayout>(layout)),
                      static_cast<PacketLayout>(layout) == LayoutOf(sample.type));
    }
    // Names read back below, and Presence by the assembler test's many packets.
    EXPECT_EQ(ReadMemberLeft(BuildMemberLeft(65535)), MemberLeftPacket{65535});
    // The builder is pinned above: building what was read gives the same bytes back.
    const std::string chat = BuildChat(PacketType::Say, {"\x07", 4, 5, 1, 6, "t"});
    EXPECT_EQ(BuildChat(PacketType::Say, ReadChat(chat).value()), chat);
}

// Every cut of a sample and counts that run past the bytes: refused, and no length that ends
// within them.
TEST(Readers, TruncationsAndCountsPastTheBytesAreRefusedAndBytesAfterThePacketIgnored) {
    const std::string welcomeHead = "\x15" + std::string(TOPIC_SIZE + 4, 'T');
    const std::string record = SampleRoster(1)[0].Encode();
    std::vector<std::pair<std::string, PacketLayout>> refused = {
        {Bytes({11, 0xFF, 0xFF, 1, 2, 3}), PacketLayout::Chat},
        {Bytes({24, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 3, 0, 'a', 'b'}), PacketLayout::Chat},
        {Bytes({25, 1, 0, 0x10, 0, 'a'}), PacketLayout::Notice},
        {Bytes({50, 1, 0, 2, 0, 0xFF, 0x7F, 'a', 0, 0, 0, 0}), PacketLayout::File},
        {Bytes({50, 1, 0, 2, 0, 1, 0, 'a', 0, 0, 0}), PacketLayout::File}, // size cut short
        {welcomeHead + Bytes({0xFF, 0xFF, 'x', 0, 0}), PacketLayout::Welcome},
        {welcomeHead + Bytes({0, 0, 0xFF, 0xFF}) + record, PacketLayout::Welcome},
        {welcomeHead + Bytes({0, 0, 2, 0}) + record + record.substr(0, 59), PacketLayout::Welcome},
    };
    for (const auto& sample : SamplePackets()) {
        const PacketLayout layout = LayoutOf(sample.type);
        EXPECT_TRUE(Reads(sample.bytes + "trailing", layout)) << static_cast<int>(sample.type);
        // The Welcome's trailing bytes may be missing; nothing before them may.
        const std::size_t needed =
            sample.bytes.size() - (sample.type == PacketType::Welcome ? WELCOME_TRAILER_SIZE : 0);
        for (std::size_t size = 0; size < needed; ++size)
            refused.emplace_back(sample.bytes.substr(0, size), layout); // exact size, for ASan
    }
    for (const auto& [packet, layout] : refused) {
        SCOPED_TRACE(testing::PrintToString(packet));
        EXPECT_FALSE(Reads(packet, layout));
        EXPECT_GT(PacketLength(packet).value_or(SIZE_MAX), packet.size());
    }
}

TEST(Builders, NamesAndTextsAreCutToTheirFieldsOrThePacketWithoutSplittingACharacter) {
    const std::string zhong = ToGbk("中");
    const std::string twenty = "ABCDEFGHIJKLMNOPQRST";
    const std::pair<std::string, std::string> rows[] = {
        {twenty, twenty},                                     // no NUL; "XYZ" after it is not read
        {std::string(19, 'a') + zhong, std::string(19, 'a')}, // straddles byte 20: cut before
    };
    for (const auto& [given, kept] : rows) {
        EXPECT_EQ(BuildLogin(given), "\x0A" + kept + std::string(20 - kept.size(), '\0'));
        EXPECT_EQ(ReadLogin(BuildLogin(given) + "XYZ"), LoginPacket{kept});
        EXPECT_EQ(ReadRename(BuildRename(PacketType::Rename, {2, given}) + "XYZ"),
                  (RenamePacket{2, kept}));
        EXPECT_EQ(ReadMemberJoined(BuildMemberJoined(given, "255.255.255.255") + "XYZ"),
                  (MemberJoinedPacket{kept, "255.255.255.255"}));
    }
    std::string login = BuildLogin("Bob");
    login[10] = 'Z'; // bytes after the NUL carry nothing
    EXPECT_EQ(ReadLogin(login)->name, "Bob");
    // Overlong texts are cut to fit the packet, without splitting a character either.
    const std::string longText = "a" + Repeat(zhong, 3000);
    const std::string notice = BuildNotice(PacketType::NoticeToHost, {1, longText});
    EXPECT_EQ(notice.size(), MAX_PACKET_SIZE); // "a" and 2045 characters fill 4091 bytes
    EXPECT_EQ(ReadNotice(notice)->text, longText.substr(0, MAX_NOTICE_TEXT));
    // One recipient leaves 4081 bytes: 2040 characters, the next would be split.
    const std::string chat =
        BuildChat(PacketType::SayToHost, {"\x01", 0, 1, 0, 0, longText.substr(1)});
    EXPECT_EQ(ReadChat(chat)->text, Repeat(zhong, 2040));
    const std::string file =
        BuildFilePacket(PacketType::FileOfferToHost, {2, 3, Repeat("f", 70000), 1});
    EXPECT_EQ(file.size(), MAX_PACKET_SIZE);
}

TEST(Welcome, TwoRecordsByteExactAndTheTrailerMayBeMissing) {
    const std::string topic = ToGbk("周末聚会");
    const std::string backlog = ToGbk("Massage: 欢迎您加入会话   (01:46:40)\r\n");
    const std::vector<Buddy> roster{Buddy::Make(ToGbk("组长甲"), "192.168.1.2", BuddyRole::Leader),
                                    Buddy::Make("Bob", "192.168.1.9", BuddyRole::Member)};
    ASSERT_EQ(MessageWindowHeader().size(), BACKLOG_SKIP);
    const auto packet =
        BuildWelcome(topic, 1000000000, std::string(MessageWindowHeader()) + backlog, roster);
    ASSERT_TRUE(packet);
    ASSERT_LT(backlog.size(), 256u);
    const std::string expected = "\x15" + topic + std::string(TOPIC_SIZE - topic.size(), '\0') +
                                 Bytes({0x00, 0xCA, 0x9A, 0x3B, int(backlog.size()), 0}) + backlog +
                                 Bytes({2, 0});
    const std::string records = roster[0].Encode() + roster[1].Encode();
    EXPECT_EQ(*packet, expected + records + std::string(WELCOME_TRAILER_SIZE, '\0'));

    const std::string bare = packet->substr(0, packet->size() - WELCOME_TRAILER_SIZE);
    for (const std::string& bytes :
         {*packet, bare, bare + std::string(WELCOME_TRAILER_SIZE, 'x')}) {
        const auto read = ReadWelcome(bytes);
        ASSERT_TRUE(read);
        EXPECT_EQ(std::tie(read->topic, read->createdAt, read->backlog),
                  std::make_tuple(topic, 1000000000u, backlog));
        ASSERT_EQ(read->roster.size(), 2u);
        EXPECT_EQ(read->roster[0].Encode() + read->roster[1].Encode(), records);
    }
}

TEST(Welcome, TheOldestWholeLinesGoFirstAndARosterPastTheLimitBuildsNothing) {
    std::string backlog; // 100 numbered lines of 50 bytes
    for (int i = 1000; i < 1100; ++i)
        backlog += "line " + std::to_string(i) + std::string(39, '.') + "\r\n";
    const auto packet =
        BuildWelcome("t", 1, std::string(BACKLOG_SKIP, '*') + backlog, SampleRoster(10));
    ASSERT_TRUE(packet);
    EXPECT_LE(packet->size(), PACKET_BUFFER_SIZE);
    const auto read = ReadWelcome(*packet);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->roster.size(), 10u);
    // Room: 4096 - 85 - 600 = 3411 bytes: the newest 68 lines.
    EXPECT_EQ(read->backlog, backlog.substr(32 * 50));

    // A line without its end, a header-only text, a roster that fills the buffer: no backlog.
    const std::string endless = std::string(BACKLOG_SKIP, '*') + std::string(5000, 'x');
    EXPECT_EQ(ReadWelcome(*BuildWelcome("t", 0, endless, SampleRoster(2)))->backlog, "");
    EXPECT_EQ(ReadWelcome(*BuildWelcome("t", 0, std::string(30, '*'), {}))->backlog, "");
    const auto hundred =
        BuildWelcome("t", 0, std::string(BACKLOG_SKIP, '*') + "x\r\n", SampleRoster(100));
    EXPECT_EQ(hundred->size(), WELCOME_FIXED_SIZE + 6000);
    EXPECT_EQ(ReadWelcome(*hundred)->roster.size(), 100u);

    // The assembler test takes the largest roster there is room for.
    EXPECT_FALSE(
        BuildWelcome("t", 0, "", std::vector(MAX_WELCOME_RECORDS + 1, SampleRoster(1)[0])));
}

} // namespace
} // namespace kolvena
