#include <gtest/gtest.h>

#include "session/buddy.h"
#include "session/gbk.h"
#include "session/session.h"
#include "support/fakes.h"
#include <tuple>

namespace kolvena {
namespace {

using test::FakeClock;
using test::ScriptedPrompter;

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
        if (line) {
            EXPECT_EQ(line->packetStamp, stamp);
        }
        return line ? FromGbk(line->text) : "<none>";
    }

    FakeClock clock{1000};
    ScriptedPrompter prompter;
    Session session{clock, prompter};
};

TEST_F(SessionTest, DepartedMembersKeepTheirBuddyIdAndShiftActiveIndexes) {
    FourMembers(4);
    EXPECT_EQ(session.GetSelfIndex(), 4);
    session.RemoveBuddy(3); // C leaves
    ASSERT_EQ(session.roster.size(), 4u);
    EXPECT_EQ(session.GetBuddyCount(), 3);
    EXPECT_EQ(session.GetBuddy(3)->Name(), "D");
    EXPECT_EQ(session.GetSelfIndex(), 3);
    EXPECT_TRUE(session.StreamHasSelf(std::string("\x01\x03", 2)));
    EXPECT_FALSE(session.StreamHasSelf(std::string("\x01\x04", 2)));
    EXPECT_EQ(session.roster[2].state, BuddyState::Left);
    EXPECT_EQ(session.roster[2].leaveTime, 1003u);
    for (std::uint32_t i = 0; i < 4; ++i)
        EXPECT_EQ(session.roster[i].id, i + 1);
    EXPECT_EQ(session.ActiveIndexOf(4), 3);
    EXPECT_EQ(session.ActiveIndexOf(3), 0);
    EXPECT_EQ(session.AddBuddy(Buddy::Make("E", "", BuddyRole::Member)), 4);
    EXPECT_EQ(session.roster.back().id, 5u);
    EXPECT_EQ(session.roster.back().joinTime, 1003u);
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(SessionTest, IndexesOutOfRangeNeverCrash) {
    EXPECT_EQ(session.GetBuddy(1), nullptr);
    EXPECT_EQ(session.GetSelfIndex(), 0);
    EXPECT_EQ(session.BuddyById(1), nullptr);
    EXPECT_FALSE(session.StreamHasSelf(""));
    prompter.boxes.clear();

    // With members, an index out of range shows the box and yields the last record.
    FourMembers(1);
    EXPECT_EQ(session.GetBuddy(0)->Name(), "D");
    EXPECT_EQ(session.GetBuddy(5)->Name(), "D");
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(prompter.boxes[0].text, "获得Friend失败，数量越界!");
    EXPECT_EQ(prompter.boxes[0].icon, BoxIcon::Stop);
    EXPECT_EQ(session.CheckBuddyIndex(5), 0);
    EXPECT_EQ(session.CheckBuddyIndex(0), 0);
    EXPECT_EQ(session.CheckBuddyIndex(4), 4);
    session.RemoveBuddy(9);
    session.RemoveBuddy(0);
    EXPECT_EQ(session.GetBuddyCount(), 4);
}

TEST_F(SessionTest, IdStreamListsMarkedPresentMembersAndWarnsOnAWrongLength) {
    FourMembers(1);
    session.roster[1].olFlag = 1;
    session.roster[3].olFlag = 1;
    session.RemoveBuddy(3); // C: D becomes ActiveIndex 3
    EXPECT_EQ(session.CountMarkedBuddies(), 2);
    EXPECT_EQ(session.MakeBuddyIDStream(2), std::string("\x02\x03", 2));
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(session.MakeBuddyIDStream(1), std::string("\x02", 1)); // never past the length
    EXPECT_EQ(session.MakeBuddyIDStream(5), std::string("\x02\x03", 2));
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "Session::MakeBuddyIDStream()-密友OLIndex流大小出错.");
}

TEST_F(SessionTest, RenderLinesAddsTimeSuffixesOnlyWhereAllowed) {
    session.AddLine("banner", 0);
    clock.Advance(3600 * 9 + 60 * 5 + 3 - 1000); // 09:05:03 UTC
    session.AddLine("hello", 1);
    EXPECT_EQ(session.RenderLines(), "banner\r\nhello\r\n\r\n");
    session.settings.showTimeOnChat = true;
    EXPECT_EQ(session.RenderLines(), "banner\r\nhello  (09:05:03)\r\n\r\n");
    session.replayFlag = true;
    EXPECT_EQ(session.RenderLines(), "banner\r\nhello\r\n\r\n");
    session.lines.clear();
    EXPECT_EQ(session.RenderLines(), "\r\n");
}

TEST_F(SessionTest, RecordMessageAppendsTheNoticeLineAndCountsIt) {
    clock.now = 14 * 3600 + 3 * 60 + 7;
    session.RecordMessage("Bob: hi ");
    session.settings.showTimeOnMessages = false;
    session.RecordMessage("x");
    EXPECT_EQ(session.messageText, "Massage: Bob: hi   (14:03:07)\r\nMassage: x\r\n");
    EXPECT_EQ(session.counters.messageTotal, 2);
}

TEST_F(SessionTest, ComposesLinesFromTheUsersPointOfViewAndCountsThem) {
    FourMembers(1);
    struct Row {
        std::uint16_t sender, target;
        std::uint8_t whisper;
        std::string text, line;
        std::uint32_t stamp = 0;
    };
    const Row before[] = {
        {1, 0, 0, "hello", "<你> 对大家说: hello", 0x01020304}, // the stamp becomes the kind
        {2, 1, 0, "hello", "<B> 对 <你> 说: hello"},
        {2, 3, 1, "hello", "<B> 对 <C> 说(悄悄话): hello"},
        {1, 1, 0, "hello", "<你> 对自己说: hello"},
        {3, 0, 1, "hello", "<C> 对大家说(悄悄话): hello"},
        {2, 0, 0, std::string("hi\0there", 8), "<B> 对大家说: hi"},
        // Naming a member the roster lacks: nothing, and nothing counted.
        {9, 0, 0, "hello", "<none>"},
        {2, 5, 0, "hello", "<none>"},
        {0, 0, 0, "hello", "<none>"},
    };
    for (const Row& r : before)
        EXPECT_EQ(Compose(r.sender, r.target, r.whisper, r.text, r.stamp), r.line);
    // B leaves: a sender is a BuddyID, a target an ActiveIndex among those present.
    session.RemoveBuddy(2);
    EXPECT_EQ(Compose(2, 0), "<B> 对大家说: hello");
    EXPECT_EQ(Compose(4, 2), "<D> 对 <C> 说: hello");
    EXPECT_EQ(session.counters.chatLineTotal, 8);
    EXPECT_EQ(session.counters.ownSayTotal, 2);
    EXPECT_EQ(session.counters.relatedSayTotal, 2); // to the user, and to oneself
    EXPECT_TRUE(prompter.boxes.empty());
}

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
