#include <QCheckBox>
#include <QMenu>
#include <QTreeWidget>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

#include "session/address_code.h"
#include "support/core_access.h"
#include "ui/command_ids.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace std::chrono_literals;
using namespace test;

const QString IDLE_TITLE = "Kolvena v1.0 未与会话连接";
const QString LIVE_TITLE = "Kolvena v1.0  主题: 闲聊 ---- 在线人数: %1 ";
const QString JOIN_FAILED = "-->> 连接指定会话没有成功，请您重新登陆.";

// Ann hosts on loopback, Bob joins her by address; both windows live in this process.
class TwoWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::uint16_t port = FreePort();
        ann = std::make_unique<TestWindow>(port);
        bob = std::make_unique<TestWindow>(port);

        ann->Create();
        ASSERT_TRUE(ann->window.Link().IsServing());
        bob->Join("127.0.0.1", "Bob");
        ASSERT_TRUE(WaitFor([this] { return bob->Rows().size() == 3 && ann->Rows().size() == 3; }))
            << bob->Rows().join('|').toStdString();
    }
    void TearDown() override {
        // The member goes first, so that the host does not outlive its own link's users.
        bob.reset();
        ann.reset();
    }

    std::unique_ptr<TestWindow> ann;
    std::unique_ptr<TestWindow> bob;
};

TEST_F(TwoWindowsTest, JoiningByAddressShowsBothMembersOnBothSides) {
    EXPECT_TRUE(bob->HasBox("与会话主机连接成功!"));
    EXPECT_EQ(bob->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(您)"}));
    EXPECT_EQ(ann->Rows(), (QStringList{"全体", "Ann(组长)", "Bob"}));
    EXPECT_EQ(bob->window.windowTitle(), LIVE_TITLE.arg(2));
    EXPECT_EQ(ann->window.windowTitle(), LIVE_TITLE.arg(2));
    // The host's notices so far reach the newcomer's message window.
    EXPECT_TRUE(TextOf(bob->window, "1000")
                    .contains("Massage: 欢迎您加入会话，会话主题是 '闲聊 '   (01:46:40)"));
    EXPECT_EQ(TextOf(bob->window, "1005"), "全体");
    EXPECT_EQ(TextOf(bob->window, "32774"), "退出会话");
    EXPECT_EQ(bob->window.Mode(), WindowMode::Live);
    EXPECT_EQ(bob->window.Link().Code(), MakeAddressCode("127.0.0.1"));
}

TEST_F(TwoWindowsTest, ChatLinesTravelBothWays) {
    bob->Send("你好");
    // The own line shows at once, before the host relays it.
    EXPECT_EQ(bob->CountChat("<你> 对大家说: 你好"), 1);
    ASSERT_TRUE(WaitFor([this] { return ann->ChatHas("<Bob> 对大家说: 你好"); }));

    ann->Send("欢迎");
    EXPECT_TRUE(ann->ChatHas("<你> 对大家说: 欢迎"));
    ASSERT_TRUE(WaitFor([this] { return bob->ChatHas("<Ann> 对大家说: 欢迎"); }));
    // The relayed echo of Bob's own line was dropped.
    EXPECT_EQ(bob->CountChat("<你> 对大家说: 你好"), 1);

    // Ann whispers to Bob, chosen in her member list.
    ann->window.SelectTarget(2);
    EXPECT_EQ(TextOf(ann->window, "1005"), "Bob");
    ann->window.findChild<QCheckBox*>("1011")->setChecked(true);
    ann->Send("悄悄");
    EXPECT_TRUE(ann->ChatHas("<你> 对 <Bob> 说(悄悄话): 悄悄"));
    ASSERT_TRUE(WaitFor([this] { return bob->ChatHas("<Ann> 对 <你> 说(悄悄话): 悄悄"); }));
    EXPECT_EQ(test::SessionOf(bob->window.Core()).counters.relatedSayTotal, 1);
}

TEST_F(TwoWindowsTest, SleepingMemberIsMarkedOnBothSides) {
    bob->Trigger(ID_SLEEP);
    EXPECT_EQ(bob->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(您)(休眠)"}));
    EXPECT_EQ(TextOf(bob->window, "32773"), "回到会话");
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().value(2) == "Bob(休眠)"; }))
        << ann->Rows().join('|').toStdString();
    EXPECT_EQ(ann->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(休眠)"}));
    EXPECT_TRUE(ann->ChatHas("-->> Bob 休眠了."));
    // Bob's own sleep comes back from the host but shows once.
    WaitFor([] { return false; }, 100ms);
    EXPECT_EQ(bob->CountChat("-->> Bob 休眠了."), 1);

    bob->Trigger(ID_SLEEP);
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().value(2) == "Bob"; }));
    EXPECT_EQ(bob->Rows().value(2), "Bob(您)");
    EXPECT_EQ(TextOf(bob->window, "32773"), "离开一会");
}

TEST_F(TwoWindowsTest, MemberLeavesThenHostCloses) {
    bob->Leave();
    EXPECT_TRUE(bob->ChatHas("-->> 您已经退出了会话 '闲聊 ' 。"));
    EXPECT_EQ(bob->Rows(), QStringList{});
    EXPECT_EQ(bob->window.windowTitle(), IDLE_TITLE);
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().size() == 2; }));
    EXPECT_TRUE(ann->ChatHas("-->> 成员 Bob 离开会话."));
    EXPECT_EQ(ann->window.windowTitle(), LIVE_TITLE.arg(1));

    // Bob comes back; then Ann closes the session under him.
    bob->Join("127.0.0.1", "Bob");
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().size() == 3; }));
    ann->Leave();
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().isEmpty(); }));
    EXPECT_TRUE(bob->ChatHas("-->> 组长已经关闭会话。所有人都已经退出了。"));
    EXPECT_EQ(bob->window.windowTitle(), IDLE_TITLE);
}

TEST_F(TwoWindowsTest, MemberNoticeWaitsForTheLeader) {
    const QString before = TextOf(bob->window, "1000");
    bob->window.findChild<QCheckBox*>("1012")->setChecked(true);
    bob->Send("通知");
    // Nothing shows until the leader let it through.
    EXPECT_EQ(TextOf(bob->window, "1000"), before);
    EXPECT_FALSE(bob->window.findChild<QCheckBox*>("1012")->isChecked());
    const QString shown = "Massage: Bob: 通知   (01:46:40)";
    ASSERT_TRUE(WaitFor([&] { return TextOf(bob->window, "1000").contains(shown); }));
    EXPECT_TRUE(TextOf(ann->window, "1000").contains(shown));
    EXPECT_EQ(test::SessionOf(bob->window.Core()).counters.ownMessageTotal, 1);
}

// The member pop-up menu stays open while the event loop runs; its member may leave meanwhile.
TEST_F(TwoWindowsTest, MemberInformationOfAMemberWhoLeftWhileTheMenuWasOpen) {
    auto* list = ann->window.findChild<QTreeWidget*>("1003");
    ASSERT_NE(list, nullptr);
    emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(2)).center());
    ASSERT_TRUE(ann->window.MemberMenu()->isVisible());
    EXPECT_EQ(TextOf(ann->window, "1005"), "Bob");

    bob->Leave();
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().size() == 2; }));
    const std::size_t boxes = ann->prompter.boxes.size();
    ann->Trigger(ID_MEMBER_INFO);
    ann->window.MemberMenu()->hide();
    // Nobody to show: no window and no internal error box.
    EXPECT_EQ(ann->prompter.boxes.size(), boxes);
    EXPECT_EQ(ann->runner.shown.back(), "133");
}

// A single window whose join fails: nothing listens on the port.
TEST(JoinFailure, ShowsTheFailureLineAndRefusesCommandsWhileJoining) {
    TestWindow bob(FreePort());
    bob.Join("127.0.0.1");
    EXPECT_TRUE(bob.ChatHas("-->> 正在登陆会话主机 请稍候 ..."));
    EXPECT_EQ(bob.window.Mode(), WindowMode::Live);

    // While the connect is under way, neither create nor a second join opens its dialog.
    bob.Trigger(ID_CREATE);
    bob.Trigger(ID_JOIN);
    EXPECT_EQ(bob.runner.shown, (std::vector<QString>{"141", "132"}));

    ASSERT_TRUE(WaitFor([&] { return bob.ChatHas(JOIN_FAILED); }));
    EXPECT_TRUE(bob.HasBox("与会话主机连接没有成功，请重新连接。"));
    EXPECT_EQ(bob.window.windowTitle(), IDLE_TITLE);
    EXPECT_EQ(bob.Rows(), QStringList{});
    EXPECT_EQ(bob.window.Mode(), WindowMode::Live);

    // An address that is no address fails the same way; the user may join again at once.
    bob.Join("no.such.host");
    ASSERT_TRUE(WaitFor([&] { return bob.HasBox("IPAddress is error!\nPlease input again!"); }));
    EXPECT_EQ(bob.CountChat(JOIN_FAILED), 2);
}

} // namespace
} // namespace kolvena::ui
