#include <gtest/gtest.h>

#include <tuple>

#include "session/address_code.h"
#include "session/buddy.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "session/session.h"
#include "session/text.h"
#include "session/time_text.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

using namespace std::string_literals;

class SessionTest : public ::testing::Test {
protected:
    // A leader A and members B, C, D, one second apart; the own member is the given BuddyID.
    void FourMembers(std::uint16_t self) {
        session.AddBuddy(Buddy::Make("A", "10.0.0.1", BuddyRole::Leader));
        for (const char* name : {"B", "C", "D"}) {
            clock.Advance(1);
            session.AddBuddy(Buddy::Make(name, "10.0.0.2", BuddyRole::Member));
        }
        session.selfId = self;
    }

    // The composed line as UTF-8, "<none>" when there is none; its kind must be the stamp.
    std::string Compose(std::uint16_t sender, std::uint16_t target, std::uint8_t whisper = 0,
                        std::string text = "hello", std::uint32_t stamp = 0) {
        const auto line = session.ComposeChatLine({"", target, sender, whisper, stamp, text});
        EXPECT_EQ(line ? line->packetStamp : stamp, stamp);
        return line ? FromGbk(line->text) : "<none>";
    }

    test::FakeClock clock{1000};
    test::ScriptedPrompter prompter;
    Session session{clock, prompter};
};

TEST_F(SessionTest, DepartedMembersKeepTheirBuddyIdAndShiftActiveIndexes) {
    FourMembers(4);
    session.roster[1].olFlag = 1;
    session.roster[3].olFlag = 1;
    EXPECT_EQ(session.GetSelfIndex(), 4);
    session.RemoveBuddy(3); // C leaves: D becomes ActiveIndex 3
    EXPECT_EQ(std::tuple(session.roster.size(), session.GetBuddyCount(),
                         session.GetBuddy(3)->Name(), session.GetSelfIndex(),
                         session.ActiveIndexOf(4), session.ActiveIndexOf(3)),
              std::tuple(4u, 3, "D", ActiveIndex(3), ActiveIndex(3), ActiveIndex()));
    EXPECT_EQ(std::tuple(session.roster[2].state, session.roster[2].leaveTime),
              std::tuple(BuddyState::Left, 1003u));
    EXPECT_EQ(session.AddBuddy(Buddy::Make("E", "", BuddyRole::Member)), 4);
    for (std::uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(session.roster[i].id, i + 1);
    EXPECT_EQ(session.roster.back().joinTime, 1003u);
    // The ID stream lists the marked members present, never past its length.
    EXPECT_EQ(session.CountMarkedBuddies(), 2);
    EXPECT_EQ(session.MakeBuddyIDStream(2), "\x02\x03");
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(session.MakeBuddyIDStream(1), "\x02");
    EXPECT_EQ(session.MakeBuddyIDStream(5), "\x02\x03");
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "Session::MakeBuddyIDStream()-密友OLIndex流大小出错.");
}

TEST_F(SessionTest, IndexesOutOfRangeNeverCrash) {
    EXPECT_EQ(std::tuple(session.GetBuddy(1), session.GetSelfIndex(), session.BuddyById(1)),
              std::tuple(nullptr, ActiveIndex(), nullptr));
    prompter.boxes.clear();
    // With members, an index out of range shows the box and yields the last record.
    FourMembers(1);
    EXPECT_EQ(session.GetBuddy(0)->Name(), "D");
    EXPECT_EQ(session.GetBuddy(5)->Name(), "D");
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(std::tuple(prompter.boxes[0].text, prompter.boxes[0].icon),
              std::tuple("获得Friend失败，数量越界!", BoxIcon::Stop));
    EXPECT_EQ(std::tuple(session.CheckBuddyIndex(5), session.CheckBuddyIndex(0),
                         session.CheckBuddyIndex(4)),
              std::tuple(ActiveIndex(), ActiveIndex(), ActiveIndex(4)));
    session.RemoveBuddy(9);
    session.RemoveBuddy(0);
    EXPECT_EQ(session.GetBuddyCount(), 4);
}

TEST_F(SessionTest, TimeSuffixesOnlyWhereAllowedAndNoticesAreCounted) {
    session.AddLine("banner", 0);
    clock.now = 9 * 3600 + 5 * 60 + 3; // 09:05:03 UTC
    session.AddLine("hello", 1);
    EXPECT_EQ(session.RenderLines(), "banner\r\nhello\r\n\r\n");
    session.settings.showTimeOnChat = true;
    EXPECT_EQ(session.RenderLines(), "banner\r\nhello  (09:05:03)\r\n\r\n");
    session.RecordMessage("Bob: hi ");
    session.settings.showTimeOnMessages = false;
    session.RecordMessage("x");
    EXPECT_EQ(session.messageText, "Massage: Bob: hi   (09:05:03)\r\nMassage: x\r\n");
    EXPECT_EQ(session.counters.messageTotal, 2);
    session.replayFlag = true;
    EXPECT_EQ(session.RenderLines(), "banner\r\nhello\r\n\r\n");
    session.lines.clear();
    EXPECT_EQ(session.RenderLines(), "\r\n");
}

// The handler and command tests pin each form of line, its routing and its counting.
TEST_F(SessionTest, ComposedLinesKeepTheStampAndShowTheTextUpToItsFirstNul) {
    FourMembers(1);
    EXPECT_EQ(Compose(2, 3, 1, std::string("hi\0there", 8), 0x01020304),
              "<B> 对 <C> 说(悄悄话): hi");
}

TEST(Buddy, ReceivedRecordIsKeptByteForByteWhateverItsState) {
    // As the host sent it, with bytes in the reserved and alignment fields: id 3, asleep, member,
    // olFlag 1, joinTime, leaveTime, sayCount 261, messageCount 2, the address.
    std::string wire = "\xDE\xAD\xBE\xEF"s + "Bob" + std::string(17, '\0') +
                       "\x03\x00\x00\x00\x66\x02\x01\x7F\x10\x20\x30\x40\x01\x02\x03\x04"s +
                       "\x05\x01\x02\x00"s + "10.0.0.42" + std::string(7, '\0');
    ASSERT_EQ(wire.size(), Buddy::RECORD_SIZE);
    const auto b = Buddy::Decode(wire);
    ASSERT_TRUE(b.has_value());
    EXPECT_EQ(std::tuple(b->Name(), b->id, b->state, b->role, b->olFlag, b->joinTime, b->leaveTime,
                         b->sayCount, b->messageCount, b->Address()),
              std::tuple("Bob", 3u, BuddyState::Asleep, BuddyRole::Member, 1, 0x40302010u,
                         0x04030201u, 261, 2, "10.0.0.42"));
    EXPECT_FALSE(Buddy::Decode(wire.substr(0, 59)).has_value());
    // Unknown state values survive; only Left is absent.
    for (const auto& [state, present] :
         {std::pair{102, true}, {-7, true}, {0, true}, {105, false}}) {
        wire[28] = static_cast<char>(state);
        const auto decoded = Buddy::Decode(wire);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->IsPresent(), present) << state;
        EXPECT_EQ(decoded->Encode(), wire) << state;
    }
}

TEST(Buddy, NamesAreCutToTwentyBytesAtACharacterBoundary) {
    const std::pair<std::string, std::string> rows[] = {
        {std::string(25, 'n'), std::string(20, 'n')}, // no terminator, the id follows
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

TEST(ByteReader, ReadsLittleEndianAndAFailedReadPoisonsLaterReads) {
    ByteReader r(std::string_view("\x01\x02\x03\x04\x05\x06\x07\x05\x00\x41", 10));
    std::uint8_t a = 0;
    std::uint16_t b = 0, n = 0;
    std::uint32_t c = 0;
    std::string_view taken;
    ASSERT_TRUE(r.U8(a) && r.U16(b) && r.U32(c) && r.U16(n));
    EXPECT_EQ(std::tuple(a, b, c), std::tuple(0x01, 0x0302, 0x07060504u));
    EXPECT_FALSE(r.Take(n, taken)); // claims 5, has 1
    EXPECT_EQ(r.Position(), 9u);
    EXPECT_FALSE(r.U8(a)); // the byte is there, but the reader has already failed
    EXPECT_FALSE(r.Ok());
}

TEST(Gbk, ConvertsMarksWhatItCannotAndFitsWithoutSplittingACharacter) {
    EXPECT_EQ(ToGbk("会话组长 Bob"), "\xBB\xE1\xBB\xB0\xD7\xE9\xB3\xA4 Bob");
    // What GBK lacks takes GB18030's four bytes (an emoji, a character of extension B), both
    // ways; GBK's own characters keep their two.
    const std::pair<const char*, const char*> wider[] = {
        {"a\xF0\x9F\x98\x80z", "a\x94\x39\xFC\x36z"},
        {"\xF0\xA0\x80\x80\xE7\x8E\x8B", "\x95\x32\x82\x36\xCD\xF5"}};
    for (const auto& [utf8, bytes] : wider) {
        EXPECT_EQ(ToGbk(utf8), bytes);
        EXPECT_EQ(FromGbk(bytes), utf8);
    }
    EXPECT_EQ(ToGbk("a\xC3z"), "a?z"); // broken UTF-8
    // Four bytes that look like a sequence but stand for nothing, and one cut short.
    EXPECT_EQ(FromGbk("\xFE\x39\xFE\x39"), "\uFFFD9\uFFFD9");
    EXPECT_EQ(FromGbk("\x94\x39\xFC"), "\uFFFD9\uFFFD");
    // A lead byte without its trail, a byte GBK never uses, one cut off at the end: each shown.
    EXPECT_EQ(FromGbk("a\x81 \xFFz\xB0"), "a\uFFFD \uFFFDz\uFFFD");
    const std::string text = ToGbk("组长ab王");
    const std::pair<std::size_t, std::size_t> rows[] = {{100, 8}, {7, 6}, {4, 4}, {3, 2}, {1, 0}};
    for (const auto& [most, fit] : rows)
        EXPECT_EQ(GbkFitLength(text, most), fit) << most;
    // A cut-off lead byte at the end is one byte of its own; a four-byte one is never split.
    EXPECT_EQ(GbkFitLength(std::string("ab\xC1"), 3), 3u);
    const std::string emoji = ToGbk("a\xF0\x9F\x98\x80z");
    for (const auto& [most, fit] : {std::pair<std::size_t, std::size_t>{4, 1}, {5, 5}, {6, 6}})
        EXPECT_EQ(GbkFitLength(emoji, most), fit) << most;
}

TEST(Text, FillAndTrim) {
    // Missing values and stray marks stay as written; a value is never scanned for marks.
    EXPECT_EQ(Fill("%s and %s", {"%s"}), "%s and %s");
    EXPECT_EQ(Fill("100%", {}), "100%");
    EXPECT_EQ(Fill("%x%s", {"v"}), "%xv");
    const std::pair<std::string, std::string> trims[] = {
        {"  word \t\r\n", "word"}, {" \t ", ""}, {"", ""}, {"a b", "a b"}};
    for (const auto& [text, trimmed] : trims)
        EXPECT_EQ(Trim(text), trimmed);
}

TEST(TimeText, ClockDurationAndDate) {
    constexpr CalendarTime kJune18th2001 = 992872987; // 14:03:07 UTC; the suite runs with TZ=UTC
    EXPECT_EQ(FormatClock(kJune18th2001), "14:03:07");
    EXPECT_EQ(FormatDuration(90061), "01:01:01");
    EXPECT_EQ(FormatDuration(86399), "23:59:59");
    EXPECT_EQ(FormatClockAndDate(kJune18th2001), "14:03:07 (6/18/2001)");
    EXPECT_EQ(FormatFileDate(kJune18th2001), "6-18-2001");
}

TEST(AddressCode, ValueCodeAndBackAgain) {
    // The dotted text, its value and its code (10.0.0.0's wraps around, a bad text's is none).
    const std::tuple<const char*, std::uint32_t, AddressCode> rows[] = {
        {"192.168.0.1", 16820416u, 16779059u},
        {"127.0.0.1", 16777343u, 16735986u},
        {"10.0.0.0", 10u, 4294925949u},
        {"999.1.1.1", 0xFFFFFFFFu, 4294925938u}};
    for (const auto& [dotted, value, code] : rows) {
        SCOPED_TRACE(dotted);
        EXPECT_EQ(std::tuple(Ipv4Value(dotted), MakeAddressCode(dotted), AddressFromCode(code)),
                  std::tuple(value, code, value));
        EXPECT_EQ(DottedFromValue(value), value == 0xFFFFFFFFu ? "255.255.255.255" : dotted);
    }
}

} // namespace
} // namespace kolvena
