#include <gtest/gtest.h>
#include <tuple>

#include "session/buddy.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

// A record as the host sent it, with bytes in the reserved and alignment fields.
std::string SampleRecord() {
    std::string r = "\xDE\xAD\xBE\xEF"
                    "Bob" +
                    std::string(17, '\0') +
                    std::string("\x03\x00\x00\x00\x66\x02\x01\x7F" // id 3, asleep, member, olFlag
                                "\x10\x20\x30\x40\x01\x02\x03\x04" // joinTime, leaveTime
                                "\x05\x01\x02\x00"                 // sayCount 261, messageCount 2
                                "10.0.0.42",
                                29);
    return r + std::string(7, '\0');
}

TEST(Buddy, ReceivedRecordIsKeptByteForByte) {
    const std::string wire = SampleRecord();
    ASSERT_EQ(wire.size(), Buddy::RECORD_SIZE);
    const auto b = Buddy::Decode(wire);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(std::tuple(b->Name(), b->id, b->state, b->role, b->olFlag, b->joinTime, b->leaveTime,
                         b->sayCount, b->messageCount, b->Address()),
              std::tuple("Bob", 3u, BuddyState::Asleep, BuddyRole::Member, 1, 0x40302010u,
                         0x04030201u, 261, 2, "10.0.0.42"));
    EXPECT_EQ(b->Encode(), wire);
    EXPECT_FALSE(Buddy::Decode(wire.substr(0, 59)).has_value());
}

TEST(Buddy, UnknownStateValuesSurviveAndOnlyLeftIsAbsent) {
    for (const auto& [state, present] :
         {std::pair{102, true}, {-7, true}, {0, true}, {105, false}}) {
        std::string wire = SampleRecord();
        wire[28] = static_cast<char>(state);
        const auto b = Buddy::Decode(wire);
        ASSERT_TRUE(b.has_value());
        EXPECT_EQ(b->IsPresent(), present) << state;
        EXPECT_EQ(b->Encode(), wire) << state;
    }
}

TEST(Buddy, NamesAreCutToTwentyBytesAtACharacterBoundary) {
    const std::pair<std::string, std::string> rows[] = {
        {std::string(20, 'n'), std::string(20, 'n')}, // no terminator, the id follows
        {std::string(25, 'n'), std::string(20, 'n')},
        // Eleven two-byte characters are 22 bytes: ten fit.
        {ToGbk("一二三四五六七八九十百"), ToGbk("一二三四五六七八九十")},
        // An odd byte first leaves 19 bytes for characters: nine fit, byte 20 stays NUL.
        {"x" + ToGbk("一二三四五六七八九十"), "x" + ToGbk("一二三四五六七八九")},
    };
    for (const auto& [name, kept] : rows) {
        const std::string wire = Buddy::Make(name, "127.0.0.1", BuddyRole::Leader).Encode();
        ASSERT_EQ(wire.size(), 60u);
        EXPECT_EQ(wire.substr(4, 20), kept + std::string(20 - kept.size(), '\0'));
        EXPECT_EQ(wire[24], '\0');
        EXPECT_EQ(Buddy::Decode(wire)->Name(), kept);
    }
}

} // namespace
} // namespace kolvena
