#include <gtest/gtest.h>

#include "session/buddy.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

std::string SampleRecord() {
    std::string r(60, '\0');
    r.replace(0, 4, "\xDE\xAD\xBE\xEF");                  // reserved: whatever the sender had there
    r.replace(4, 3, "Bob");                               // name
    r.replace(24, 4, std::string("\x03\x00\x00\x00", 4)); // id 3
    r[28] = static_cast<char>(102);                       // asleep
    r[29] = 2;                                            // member
    r[30] = 1;                                            // olFlag
    r[31] = '\x7F';                                       // alignment byte
    r.replace(32, 4, std::string("\x10\x20\x30\x40", 4));
    r.replace(36, 4, std::string("\x01\x02\x03\x04", 4));
    r.replace(40, 2, std::string("\x05\x01", 2)); // sayCount 261
    r.replace(42, 2, std::string("\x02\x00", 2)); // messageCount 2
    r.replace(44, 9, "10.0.0.42");
    return r;
}

TEST(Buddy, ReceivedRecordIsKeptByteForByte) {
    const std::string wire = SampleRecord();
    const auto b = Buddy::Decode(wire);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(b->Name(), "Bob");
    EXPECT_EQ(b->id, 3u);
    EXPECT_EQ(b->state, BuddyState::Asleep);
    EXPECT_EQ(b->role, BuddyRole::Member);
    EXPECT_EQ(b->olFlag, 1);
    EXPECT_EQ(b->joinTime, 0x40302010u);
    EXPECT_EQ(b->leaveTime, 0x04030201u);
    EXPECT_EQ(b->sayCount, 261);
    EXPECT_EQ(b->messageCount, 2);
    EXPECT_EQ(b->Address(), "10.0.0.42");
    EXPECT_TRUE(b->IsPresent());
    EXPECT_EQ(b->Encode(), wire);
}

TEST(Buddy, UnknownStateValuesSurviveAndLeftIsFinal) {
    std::string wire = SampleRecord();
    wire[28] = static_cast<char>(-7);
    auto b = Buddy::Decode(wire);
    ASSERT_TRUE(b.has_value());
    EXPECT_TRUE(b->IsPresent());
    EXPECT_EQ(b->Encode(), wire);
    wire[28] = static_cast<char>(105);
    EXPECT_FALSE(Buddy::Decode(wire)->IsPresent());
}

TEST(Buddy, ShortRecordIsRefused) {
    EXPECT_FALSE(Buddy::Decode(SampleRecord().substr(0, 59)).has_value());
}

TEST(Buddy, TwentyByteNameHasNoTerminatorAndIsReadNoFurther) {
    const std::string name(20, 'n');
    const Buddy b = Buddy::Make(name, "127.0.0.1", BuddyRole::Leader);
    const std::string wire = b.Encode();
    ASSERT_EQ(wire.size(), 60u);
    EXPECT_EQ(wire.substr(4, 20), name);
    EXPECT_EQ(wire[24], '\0'); // the id follows directly
    EXPECT_EQ(Buddy::Decode(wire)->Name(), name);
}

TEST(Buddy, LongChineseNameIsCutAtACharacterBoundary) {
    // Eleven two-byte characters are 22 bytes: ten fit.
    const Buddy b = Buddy::Make(ToGbk("一二三四五六七八九十百"), "", BuddyRole::Member);
    EXPECT_EQ(b.Name(), ToGbk("一二三四五六七八九十"));
    // An odd byte first leaves 19 bytes for characters: nine fit, byte 20 stays NUL.
    const Buddy c = Buddy::Make("x" + ToGbk("一二三四五六七八九十"), "", BuddyRole::Member);
    EXPECT_EQ(c.Name(), "x" + ToGbk("一二三四五六七八九"));
}

TEST(Buddy, NewRecordStartsClean) {
    const Buddy b = Buddy::Make("Ann", "192.168.0.1", BuddyRole::Member);
    EXPECT_EQ(b.state, BuddyState::Joined);
    EXPECT_EQ(b.id, 0u);
    EXPECT_EQ(b.olFlag, 0);
    EXPECT_EQ(b.sayCount, 0);
    EXPECT_EQ(b.Encode().substr(0, 4), std::string(4, '\0')); // no stale memory on the wire
    EXPECT_EQ(b.Address(), "192.168.0.1");
}

} // namespace
} // namespace kolvena
