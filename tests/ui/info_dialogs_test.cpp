#include "ui/info_dialogs.h"

#include <gtest/gtest.h>
#include <map>

#include "session/gbk.h"
#include "session/session.h"
#include "support/fakes.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

std::map<int, std::string> AsMap(const std::vector<InfoField>& fields) {
    return {fields.begin(), fields.end()};
}

class InfoDialogs : public ::testing::Test {
protected:
    // A host "张三" that created a session on the topic "周末聚会".
    void CreateAsHost() {
        session.topic = ToGbk("周末聚会");
        session.isHost = true;
        session.inSession = true;
        session.AddBuddy(Buddy::Make(ToGbk("张三"), "192.168.1.5", BuddyRole::Leader));
        session.selfId = static_cast<std::uint16_t>(session.roster.size());
        session.createdAt = clock.Now();
        session.RecordMessage(ToGbk("欢迎您加入会话"));
    }
    void Join(const char* name) {
        clock.Advance(60);
        session.AddBuddy(Buddy::Make(ToGbk(name), "192.168.1.9", BuddyRole::Member));
    }

    FakeClock clock;
    ScriptedPrompter prompter;
    Session session{clock, prompter};
};

TEST_F(InfoDialogs, StatusCountsPresentMembersAndEveryoneWhoTookPart) {
    CreateAsHost();
    Join("李四");
    Join("王五");
    session.MarkBuddyLeft(1);

    auto values = AsMap(StatusFields(session, 3232235781u));
    EXPECT_EQ(values[1062], "2");
    EXPECT_EQ(values[1063], "3");
    EXPECT_EQ(values[1042], "周末聚会");
    EXPECT_EQ(values[1041], "张三");
    EXPECT_EQ(values[1066], "张三");
    EXPECT_EQ(values[1060], "编码: 3232235781");
    EXPECT_EQ(values[1058], "01:46:40 09/09/2001");

    // The own name follows selfId as a BuddyID, departed members included in the count.
    session.selfId = 3;
    values = AsMap(StatusFields(session, 0));
    EXPECT_EQ(values[1066], "王五");
    EXPECT_EQ(values[1060], "编码: 0");
}

TEST_F(InfoDialogs, StatusWindowShowsTheTotalsAsASnapshot) {
    CreateAsHost();
    session.counters.ownMessageTotal = 4;
    session.counters.relatedSayTotal = 2;
    session.counters.ownSayTotal = 3;
    StatusDialog dialog(session, 12345);
    EXPECT_EQ(TextsOf(dialog, {"1041", "1066", "1062", "1063", "1069", "1070", "1071", "1072",
                               "1073", "1060"}),
              (QStringList{"1041=张三", "1066=张三", "1062=1", "1063=1", "1069=1", "1070=0",
                           "1071=3", "1072=2", "1073=4", "1060=编码: 12345"}));
    // Later chat does not reach an open window.
    session.counters.chatLineTotal = 9;
    EXPECT_EQ(TextOf(dialog, "1070"), "0");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
}

TEST_F(InfoDialogs, ClientWithoutRosterShowsEmptyNames) {
    session.inSession = true;
    session.selfId = 0;
    auto values = AsMap(StatusFields(session, 7));
    EXPECT_EQ(values[1041], "");
    EXPECT_EQ(values[1066], "");
    EXPECT_EQ(values[1062], "0");
    EXPECT_EQ(values[1063], "0");

    // An own id past the roster (the roster is still arriving) names nobody either.
    session.AppendBuddy(Buddy::Make(ToGbk("张三"), "10.0.0.1", BuddyRole::Leader));
    session.selfId = 4;
    StatusDialog dialog(session, 7);
    EXPECT_EQ(TextsOf(dialog, {"1041", "1066"}), (QStringList{"1041=张三", "1066="}));
}

TEST_F(InfoDialogs, MemberInformationShowsStayUpToNow) {
    CreateAsHost();
    Join("李四");
    Buddy member = session.roster[1];
    member.sayCount = 12;
    member.messageCount = 3;
    MemberInfoDialog dialog(member, member.joinTime + 3600 + 2 * 60 + 5);
    EXPECT_EQ(TextsOf(dialog, {"1005", "1085", "1086", "1087", "1088", "1089"}),
              (QStringList{"1005=李四", "1085=2", "1086=01:47:40", "1087=01:02:05", "1088=12",
                           "1089=3"}));
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    Buddy stranger = Buddy::Make("bob", "10.0.0.2", BuddyRole::Member);
    stranger.joinTime = 1000000100;
    // Stamped by a host whose clock runs ahead of ours: never a garbled span.
    EXPECT_EQ(AsMap(MemberFields(stranger, 1000000000))[1087], "00:00:00");
    // A replayed member who joined days ago: whole days are not shown.
    EXPECT_EQ(AsMap(MemberFields(stranger, 1000000100 + 2 * 86400 + 61))[1087], "00:01:01");
    // A name that is not valid GBK still shows, never crashes.
    stranger.SetName("\xff\xfe");
    EXPECT_FALSE(AsMap(MemberFields(stranger, 0))[1005].empty());
}

} // namespace
} // namespace kolvena::ui
