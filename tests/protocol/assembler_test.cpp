#include <gtest/gtest.h>

#include "protocol/assembler.h"
#include "protocol/sample_packets.h"

namespace kolvena {
namespace {

using Status = PacketAssembler::Status;
using test::Bytes;

// The packets of the pieces fed in turn, at most `most` bytes held; the last status to `last`.
std::vector<std::string> FeedAll(PacketAssembler& assembler,
                                 const std::vector<std::string_view>& pieces,
                                 Status* last = nullptr, std::size_t most = SIZE_MAX) {
    std::vector<std::string> packets;
    Status status = Status::NeedMore;
    for (std::string_view piece : pieces) {
        assembler.Feed(piece);
        EXPECT_LE(assembler.Buffered(), most);
        for (auto r = assembler.Next(); (status = r.status) == Status::Packet; r = assembler.Next())
            packets.push_back(std::move(r.packet));
    }
    if (last)
        *last = status;
    return packets;
}

std::vector<std::string> SamplesFor(Side side, bool taken) {
    std::vector<std::string> out;
    for (const auto& sample : test::SamplePackets())
        if (Handles(side, sample.type) == taken)
            out.push_back(sample.bytes);
    return out;
}

std::vector<std::string_view> Pieces(std::string_view stream, std::size_t size) {
    std::vector<std::string_view> out;
    for (std::size_t at = 0; at < stream.size(); at += size)
        out.push_back(stream.substr(at, size));
    return out;
}

class BothSides : public ::testing::TestWithParam<Side> {};
INSTANTIATE_TEST_SUITE_P(Assembler, BothSides, ::testing::Values(Side::Host, Side::Client),
                         [](const auto& info) {
                             return std::string(info.param == Side::Host ? "Host" : "Client");
                         });

TEST_P(BothSides, TheStreamSplitAnywhereOrInSmallPiecesComesOutWholeAndInOrder) {
    const std::vector<std::string> packets = SamplesFor(GetParam(), true);
    std::string stream;
    for (const auto& p : packets)
        stream += p;
    const std::string_view all(stream);
    std::vector<std::vector<std::string_view>> feeds{Pieces(all, 1), Pieces(all, 7)};
    for (std::size_t cut = 0; cut <= all.size(); ++cut)
        feeds.push_back({all.substr(0, cut), all.substr(cut)});
    for (const auto& feed : feeds) {
        SCOPED_TRACE(testing::Message() << feed.size() << " pieces, the first " << feed[0].size());
        PacketAssembler assembler(GetParam());
        Status last;
        EXPECT_EQ(FeedAll(assembler, feed, &last), packets);
        EXPECT_EQ(last, Status::NeedMore);
        EXPECT_EQ(assembler.Buffered(), 0u);
    }
}

TEST_P(BothSides, UnusedTypesAndTheOtherDirectionDropEverythingBuffered) {
    const std::vector<std::string> taken = SamplesFor(GetParam(), true);
    std::vector<std::string> refused;
    for (int unused : {0, 1, 13, 17, 20, 30, 49, 56, 255})
        refused.push_back(Bytes({unused, 0, 0}));
    for (const std::string& packet : SamplesFor(GetParam(), false))
        refused.push_back(packet);
    for (const std::string& bad : refused) {
        SCOPED_TRACE(static_cast<int>(bad[0]));
        PacketAssembler assembler(GetParam());
        // Good packets before it come out; what follows it in the same read goes with it.
        Status last;
        EXPECT_EQ(FeedAll(assembler, {taken[0] + taken[1] + bad + taken[2]}, &last),
                  (std::vector<std::string>{taken[0], taken[1]}));
        EXPECT_EQ(last, Status::Discarded);
        EXPECT_EQ(assembler.Buffered(), 0u);
        EXPECT_FALSE(assembler.Failed());
        // The connection goes on: the next read starts afresh.
        EXPECT_EQ(FeedAll(assembler, {taken[2]}, &last), std::vector<std::string>{taken[2]});
        EXPECT_EQ(last, Status::NeedMore);
    }
}

TEST(Assembler, HeadersAnnouncingMoreThanTheCapAreViolationsWhateverTheSplit) {
    const std::string welcomeHead = "\x15" + std::string(TOPIC_SIZE + 4, 'T');
    const std::pair<Side, std::string> rows[] = {
        // a chat text one byte past the cap: T = 4083 with no recipients
        {Side::Host, Bytes({11, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0xF3, 0x0F})},
        {Side::Host, Bytes({11, 0xFF, 0xFF})}, // the recipients alone pass it
        {Side::Client, Bytes({24, 0x00, 0x10})},
        {Side::Host, Bytes({12, 1, 0, 0xFF, 0xFF})},
        {Side::Client, Bytes({26, 1, 0, 0xFC, 0x0F})},
        {Side::Host, Bytes({51, 1, 0, 2, 0, 0xF6, 0x0F})},
        {Side::Client, Bytes({52, 1, 0, 2, 0, 0x00, 0x80})},
        {Side::Client, welcomeHead + Bytes({0, 0, 0xFF, 0xFF})},
        {Side::Client, welcomeHead + Bytes({0xFF, 0xFF}) + std::string(0xFFFF, 'b') +
                           Bytes({static_cast<int>(MAX_WELCOME_RECORDS & 0xFF),
                                  static_cast<int>(MAX_WELCOME_RECORDS >> 8)})},
    };
    for (const auto& [side, head] : rows) {
        SCOPED_TRACE(static_cast<int>(head[0]));
        for (std::size_t size : {head.size(), std::size_t{1}}) {
            PacketAssembler assembler(side);
            Status last;
            EXPECT_TRUE(FeedAll(assembler, Pieces(head, size), &last).empty());
            EXPECT_EQ(last, Status::Violation);
            EXPECT_TRUE(assembler.Failed());
            // It stays failed: nothing more is buffered or yielded.
            EXPECT_TRUE(FeedAll(assembler, {SamplesFor(side, true)[0]}, &last).empty());
            EXPECT_EQ(last, Status::Violation);
            EXPECT_EQ(assembler.Buffered(), 0u);
        }
    }
}

TEST(Assembler, PacketsUpToTheirCapAreTakenAndBufferingStaysWithinCapAndOneRead) {
    const std::string chat = BuildChat(PacketType::Say, {"", 0, 1, 0, 0, std::string(4082, 'x')});
    ASSERT_EQ(chat.size(), MAX_PACKET_SIZE);
    std::vector<Buddy> roster(MAX_WELCOME_RECORDS, test::SampleRoster(1)[0]);
    const std::string welcome = *BuildWelcome("t", 0, "", roster); // just under 1 MiB
    const std::string stream = welcome + chat + BuildMemberLeft(2);
    PacketAssembler assembler(Side::Client);
    EXPECT_EQ(FeedAll(assembler, Pieces(stream, 1000), nullptr, MAX_WELCOME_SIZE + 1000),
              (std::vector<std::string>{welcome, chat, BuildMemberLeft(2)}));
}

TEST(Assembler, ManySmallPacketsInOneReadAllComeOutInOrder) {
    // 200,000 packets in one read: taking each must not move the rest of the buffer.
    constexpr std::size_t COUNT = 200000;
    std::string stream;
    for (std::size_t i = 0; i < COUNT; ++i)
        stream += BuildPresence(PacketType::Sleep, {static_cast<std::uint16_t>(i)});
    PacketAssembler assembler(Side::Client);
    assembler.Feed(stream);
    std::size_t count = 0;
    for (auto r = assembler.Next(); r.status == Status::Packet; r = assembler.Next(), ++count)
        ASSERT_EQ(ReadPresence(r.packet)->sender, static_cast<std::uint16_t>(count));
    EXPECT_EQ(count, COUNT);
    EXPECT_EQ(assembler.Buffered(), 0u);
}

} // namespace
} // namespace kolvena
