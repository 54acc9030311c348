#include "ui/info_dialogs.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <map>

#include "session/gbk.h"
#include "session/session.h"
#include "support/fakes.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using test::FakeClock;
using test::ScriptedPrompter;
using test::TextOf;

class InfoDialogs : public ::testing::Test {
protected:
    void SetUp() override {
        // Creation and join times are local time; pin the zone even outside ctest.
        setenv("TZ", "UTC", 1);
        tzset();
    }

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

    static std::map<int, std::string> AsMap(const std::vector<InfoField>& fields) {
        return {fields.begin(), fields.end()};
    }

    // The text of the label the form shows beside the field with that id.
    static QString LabelOf(QDialog& dialog, const char* id) {
        auto* edit = dialog.findChild<QLineEdit*>(id);
        if (edit == nullptr)
            return "<no field>";
        for (auto* form : dialog.findChildren<QFormLayout*>())
            if (auto* label = qobject_cast<QLabel*>(form->labelForField(edit)))
                return label->text();
        return "<no label>";
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

    const std::vector<InfoField> fields = StatusFields(session, 3232235781u);
    // The order in which the window fills its fields.
    std::vector<int> ids;
    for (const auto& field : fields)
        ids.push_back(field.first);
    EXPECT_EQ(ids, (std::vector<int>{1042, 1058, 1041, 1060, 1062, 1063, 1066, 1069, 1070, 1071,
                                     1073, 1072}));

    auto values = AsMap(fields);
    EXPECT_EQ(values[1062], "2");
    EXPECT_EQ(values[1063], "3");
    EXPECT_EQ(values[1042], "周末聚会");
    EXPECT_EQ(values[1041], "张三");
    EXPECT_EQ(values[1066], "张三");
    EXPECT_EQ(values[1060], "编码: 3232235781");
    EXPECT_EQ(values[1058], "01:46:40 09/09/2001");

    // The own name follows selfId as a BuddyID, departed members included in the count.
    session.selfId = 3;
    EXPECT_EQ(AsMap(StatusFields(session, 0))[1066], "王五");
    EXPECT_EQ(AsMap(StatusFields(session, 0))[1060], "编码: 0");
}

TEST_F(InfoDialogs, StatusWindowRightAfterCreating) {
    CreateAsHost();
    session.ownMessageTotal = 4;
    session.relatedSayTotal = 2;
    session.ownSayTotal = 3;
    StatusDialog dialog(session, 12345);

    EXPECT_EQ(dialog.objectName(), "134");
    EXPECT_EQ(dialog.windowTitle(), "Kolvena - 当前会话状态");
    EXPECT_EQ(TextOf(dialog, "1070"), "0");
    EXPECT_EQ(TextOf(dialog, "1069"), "1");
    EXPECT_EQ(TextOf(dialog, "1041"), "张三");
    EXPECT_EQ(TextOf(dialog, "1066"), "张三");
    EXPECT_EQ(TextOf(dialog, "1062"), "1");
    EXPECT_EQ(TextOf(dialog, "1063"), "1");
    EXPECT_EQ(TextOf(dialog, "1071"), "3");
    EXPECT_EQ(TextOf(dialog, "1073"), "4");
    EXPECT_EQ(TextOf(dialog, "1072"), "2");
    EXPECT_EQ(TextOf(dialog, "1060"), "编码: 12345");

    const std::map<const char*, QString> labels = {
        {"1042", "会话主题"},     {"1058", "创建时间"},       {"1041", "组    长"},
        {"1060", "会话地址"},     {"1066", "您的名字"},       {"1062", "当前成员人数"},
        {"1063", "历史参与人数"}, {"1069", "消息总数"},       {"1070", "对话总数"},
        {"1071", "您的发言总数"}, {"1073", "您发的消息总数"}, {"1072", "和您相关发言数"},
    };
    for (const auto& [id, label] : labels) {
        EXPECT_EQ(LabelOf(dialog, id), label) << id;
        EXPECT_TRUE(dialog.findChild<QLineEdit*>(id)->isReadOnly()) << id;
    }
    QStringList groups;
    for (auto* box : dialog.findChildren<QGroupBox*>())
        groups << box->title();
    EXPECT_EQ(groups, (QStringList{"状态", "统计"}));

    // A snapshot: later chat does not reach an open window.
    session.chatLineTotal = 9;
    EXPECT_EQ(TextOf(dialog, "1070"), "0");

    auto* ok = dialog.findChild<QPushButton*>("1");
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "确定");
    ok->click();
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
    EXPECT_EQ(TextOf(dialog, "1041"), "张三");
    EXPECT_EQ(TextOf(dialog, "1066"), "");
}

TEST_F(InfoDialogs, MemberInformationShowsStayUpToNow) {
    CreateAsHost();
    Join("李四");
    Buddy member = session.roster[1];
    member.sayCount = 12;
    member.messageCount = 3;
    const CalendarTime now = member.joinTime + 3600 + 2 * 60 + 5;

    MemberInfoDialog dialog(member, now);
    EXPECT_EQ(dialog.objectName(), "147");
    EXPECT_EQ(dialog.windowTitle(), "Kolvena 察看成员信息");
    EXPECT_EQ(TextOf(dialog, "1005"), "李四");
    EXPECT_EQ(TextOf(dialog, "1085"), "2");
    EXPECT_EQ(TextOf(dialog, "1086"), "01:47:40");
    EXPECT_EQ(TextOf(dialog, "1087"), "01:02:05");
    EXPECT_EQ(TextOf(dialog, "1088"), "12");
    EXPECT_EQ(TextOf(dialog, "1089"), "3");

    const std::map<const char*, QString> labels = {
        {"1005", "名  称"},   {"1085", "ID"},     {"1086", "登陆时间"},
        {"1087", "停留时间"}, {"1088", "发言数"}, {"1089", "消息数"},
    };
    for (const auto& [id, label] : labels) {
        EXPECT_EQ(LabelOf(dialog, id), label) << id;
        EXPECT_TRUE(dialog.findChild<QLineEdit*>(id)->isReadOnly()) << id;
    }
    QStringList groups;
    for (auto* box : dialog.findChildren<QGroupBox*>())
        groups << box->title();
    EXPECT_EQ(groups, (QStringList{"成员资料", "会话信息"}));
    EXPECT_EQ(TextOf(dialog, "1"), "确认");
}

TEST_F(InfoDialogs, MemberStayNeverShowsAGarbledSpan) {
    Buddy member = Buddy::Make("bob", "10.0.0.2", BuddyRole::Member);
    member.joinTime = 1000000100;
    // Stamped by a host whose clock runs ahead of ours.
    EXPECT_EQ(AsMap(MemberFields(member, 1000000000))[1087], "00:00:00");
    // A replayed member who joined days ago: whole days are not shown.
    EXPECT_EQ(AsMap(MemberFields(member, 1000000100 + 2 * 86400 + 61))[1087], "00:01:01");
    // A name that is not valid GBK still shows, never crashes.
    member.SetName("\xff\xfe");
    EXPECT_FALSE(AsMap(MemberFields(member, 0))[1005].empty());
}

} // namespace
} // namespace kolvena::ui
