#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTcpServer>
#include <QTreeWidget>
#include <chrono>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <thread>

#include "session/address_code.h"
#include "support/fakes.h"
#include "ui/session_dlg.h"
#include "ui/ui_test_support.h"

// Readable failures for Qt's strings.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
static void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '{';
    for (const QString& text : list)
        *out << '"' << text.toStdString() << "\", ";
    *out << '}';
}

namespace kolvena::ui {
namespace {

using namespace std::chrono_literals;
using test::Click;
using test::FakeClock;
using test::ScriptedPrompter;
using test::ScriptedRunner;
using test::TextOf;
using test::Type;

// Runs the event loop until done() holds or the limit passes; whether it held.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5000ms) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limit.count())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Lets late packets arrive, so that a test can see that nothing more came.
void Pump(std::chrono::milliseconds duration) {
    WaitFor([] { return false; }, duration);
}

std::uint16_t FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

LinkOptions LoopbackLink(std::uint16_t port) {
    LinkOptions link;
    link.port = port;
    link.bindAddress = QHostAddress::LocalHost;
    link.ownAddress = "127.0.0.1";
    link.connectTimeout = 3000ms;
    return link;
}

// One user: a window with its own clock, boxes and dialogs.
struct User {
    explicit User(std::uint16_t port) : window(clock, prompter, runner, LoopbackLink(port)) {
        window.Start();
        window.show();
    }

    QStringList Rows() {
        QStringList rows;
        auto* list = window.findChild<QTreeWidget*>("1003");
        for (int k = 0; list != nullptr && k < list->topLevelItemCount(); ++k)
            rows << list->topLevelItem(k)->text(0);
        return rows;
    }
    QStringList ChatLines() { return TextOf(window, "1001").split('\n'); }
    int CountChat(const QString& line) { return static_cast<int>(ChatLines().count(line)); }
    bool ChatHas(const QString& line) { return CountChat(line) > 0; }
    void Trigger(int id) {
        auto* action = window.findChild<QAction*>(QString::number(id));
        ASSERT_NE(action, nullptr) << id;
        action->trigger();
    }
    void Send(const QString& text) {
        window.findChild<QLineEdit*>("1008")->setText(text);
        EXPECT_TRUE(Click(window, "32778"));
    }
    bool HasBox(const std::string& text) const {
        for (const auto& box : prompter.boxes) {
            if (box.text == text)
                return true;
        }
        return false;
    }

    FakeClock clock;
    ScriptedPrompter prompter;
    ScriptedRunner runner;
    CSessionDlg window;
};

// Ann hosts on loopback, Bob joins her by address; both windows live in this process.
class TwoWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("TZ", "UTC");
        tzset();
        const std::uint16_t port = FreePort();
        ann = std::make_unique<User>(port);
        bob = std::make_unique<User>(port);

        ann->runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
        ann->runner.steps.push_back([](QDialog& details) {
            Type(details, "1041", "Ann");
            Type(details, "1042", "闲聊");
            EXPECT_TRUE(Click(details, "1"));
        });
        ann->Trigger(32771);
        ASSERT_TRUE(ann->window.Link().IsServing());

        bob->runner.steps.push_back([](QDialog& join) {
            EXPECT_EQ(join.objectName(), "132");
            EXPECT_TRUE(Click(join, "1030"));
            Type(join, "1032", "127.0.0.1");
            Type(join, "1037", "Bob");
            EXPECT_TRUE(Click(join, "1"));
        });
        bob->Trigger(32772);
        ASSERT_TRUE(WaitFor([this] { return bob->Rows().size() == 3 && ann->Rows().size() == 3; }))
            << bob->Rows().join('|').toStdString();
    }
    void TearDown() override {
        // The member goes first, so that the host does not outlive its own link's users.
        bob.reset();
        ann.reset();
    }

    std::unique_ptr<User> ann;
    std::unique_ptr<User> bob;
};

TEST_F(TwoWindowsTest, JoiningByAddressShowsBothMembersOnBothSides) {
    EXPECT_TRUE(bob->HasBox("与会话主机连接成功!"));
    EXPECT_EQ(bob->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(您)"}));
    EXPECT_EQ(ann->Rows(), (QStringList{"全体", "Ann(组长)", "Bob"}));
    EXPECT_EQ(bob->window.windowTitle(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 2 ");
    EXPECT_EQ(ann->window.windowTitle(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 2 ");
    EXPECT_TRUE(bob->ChatHas("-->> 正在登陆会话主机 请稍候 ..."));
    EXPECT_TRUE(bob->ChatHas("-->> 登陆会话主机成功，正在传回会话成员名单..."));
    EXPECT_TRUE(bob->ChatHas("-->> 欢迎您加入会话，现在您便可以与您的朋友进行对话了，会话愉快!"));
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
    EXPECT_EQ(bob->window.Core().session.relatedSayTotal, 1);
}

TEST_F(TwoWindowsTest, SleepingMemberIsMarkedOnBothSides) {
    bob->Trigger(32773);
    EXPECT_EQ(bob->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(您)(休眠)"}));
    EXPECT_EQ(TextOf(bob->window, "32773"), "回到会话");
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().value(2) == "Bob(休眠)"; }))
        << ann->Rows().join('|').toStdString();
    EXPECT_EQ(ann->Rows(), (QStringList{"全体", "Ann(组长)", "Bob(休眠)"}));
    EXPECT_TRUE(ann->ChatHas("-->> Bob 休眠了."));
    Pump(100ms);
    // Bob's own sleep comes back from the host but shows once.
    EXPECT_EQ(bob->CountChat("-->> Bob 休眠了."), 1);

    bob->Trigger(32773);
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().value(2) == "Bob"; }));
    EXPECT_EQ(bob->Rows().value(2), "Bob(您)");
    EXPECT_EQ(TextOf(bob->window, "32773"), "离开一会");
}

TEST_F(TwoWindowsTest, MemberLeavesThenHostCloses) {
    bob->prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
    const std::size_t before = bob->prompter.boxes.size();
    bob->Trigger(32774);
    ASSERT_GT(bob->prompter.boxes.size(), before);
    EXPECT_EQ(bob->prompter.boxes[before].caption, "退出当前会话");
    EXPECT_EQ(bob->prompter.boxes[before].text, "您确定要退出当前会话吗？");
    EXPECT_TRUE(bob->ChatHas("-->> 您已经退出了会话 '闲聊 ' 。"));
    EXPECT_EQ(bob->Rows(), QStringList{});
    EXPECT_EQ(bob->window.windowTitle(), "Kolvena v1.0 未与会话连接");
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().size() == 2; }));
    EXPECT_TRUE(ann->ChatHas("-->> 成员 Bob 离开会话."));
    EXPECT_EQ(ann->window.windowTitle(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 ");

    // Bob comes back; then Ann closes the session under him.
    bob->runner.steps.push_back([](QDialog& join) {
        EXPECT_TRUE(Click(join, "1030"));
        Type(join, "1032", "127.0.0.1");
        Type(join, "1037", "Bob");
        EXPECT_TRUE(Click(join, "1"));
    });
    bob->Trigger(32772);
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().size() == 3; }));
    ann->prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
    ann->Trigger(32774);
    ASSERT_TRUE(WaitFor([this] { return bob->Rows().isEmpty(); }));
    EXPECT_TRUE(bob->ChatHas("-->> 组长已经关闭会话。所有人都已经退出了。"));
    EXPECT_EQ(bob->window.windowTitle(), "Kolvena v1.0 未与会话连接");
}

TEST_F(TwoWindowsTest, MemberNoticeWaitsForTheLeader) {
    const QString before = TextOf(bob->window, "1000");
    bob->window.findChild<QCheckBox*>("1012")->setChecked(true);
    bob->Send("通知");
    EXPECT_EQ(bob->prompter.boxes.back().caption, "发送消息");
    EXPECT_EQ(bob->prompter.boxes.back().text, "你要发送消息: \n<通知> ?\n(需要通过会话组长验证)");
    // Nothing shows until the leader let it through.
    EXPECT_EQ(TextOf(bob->window, "1000"), before);
    EXPECT_FALSE(bob->window.findChild<QCheckBox*>("1012")->isChecked());
    const QString shown = "Massage: Bob: 通知   (01:46:40)";
    ASSERT_TRUE(WaitFor([&] { return TextOf(bob->window, "1000").contains(shown); }));
    EXPECT_TRUE(ann->HasBox("组长验证: \n成员Bob 请求发送消息: \n <通知> \n是否验证通过？"));
    EXPECT_TRUE(TextOf(ann->window, "1000").contains(shown));
    EXPECT_EQ(bob->window.Core().session.ownMessageTotal, 1);
}

// The member pop-up menu stays open while the event loop runs; its member may leave meanwhile.
TEST_F(TwoWindowsTest, MemberInformationOfAMemberWhoLeftWhileTheMenuWasOpen) {
    auto* list = ann->window.findChild<QTreeWidget*>("1003");
    ASSERT_NE(list, nullptr);
    const QPoint onBob = list->visualItemRect(list->topLevelItem(2)).center();
    emit list->customContextMenuRequested(onBob);
    ASSERT_TRUE(ann->window.MemberMenu()->isVisible());
    EXPECT_EQ(TextOf(ann->window, "1005"), "Bob");

    bob->prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
    bob->Trigger(32774);
    ASSERT_TRUE(WaitFor([this] { return ann->Rows().size() == 2; }));
    const std::size_t boxes = ann->prompter.boxes.size();
    ann->Trigger(32823);
    ann->window.MemberMenu()->hide();
    // Nobody to show: no window and no internal error box.
    EXPECT_FALSE(ann->HasBox("获得Friend失败，数量越界!"));
    EXPECT_EQ(ann->prompter.boxes.size(), boxes);
    EXPECT_EQ(ann->runner.shown.back(), "133");
}

// A single window whose join fails: nothing listens on the port.
TEST(JoinFailure, ShowsTheFailureLineAndRefusesCommandsWhileJoining) {
    qputenv("TZ", "UTC");
    tzset();
    User bob(FreePort());
    bob.runner.steps.push_back([](QDialog& join) {
        EXPECT_TRUE(Click(join, "1030"));
        Type(join, "1032", "127.0.0.1");
        EXPECT_TRUE(Click(join, "1"));
    });
    bob.Trigger(32772);
    EXPECT_TRUE(bob.ChatHas("-->> 正在登陆会话主机 请稍候 ..."));
    EXPECT_EQ(bob.window.Mode(), WindowMode::Live);

    // While the connect is under way, neither create nor a second join starts.
    bob.Trigger(32771);
    EXPECT_EQ(bob.prompter.boxes.back().caption, "无法创建新会话");
    EXPECT_EQ(bob.prompter.boxes.back().text, "您目前正在登陆一个指定会话.");
    bob.Trigger(32772);
    EXPECT_EQ(bob.prompter.boxes.back().caption, "正在连接");
    EXPECT_EQ(bob.prompter.boxes.back().text, "正在连接会话主机，请稍候.");
    EXPECT_EQ(bob.runner.shown, (std::vector<QString>{"141", "132"}));

    ASSERT_TRUE(WaitFor([&] { return bob.ChatHas("-->> 连接指定会话没有成功，请您重新登陆."); }));
    EXPECT_TRUE(bob.HasBox("与会话主机连接没有成功，请重新连接。"));
    EXPECT_EQ(bob.window.windowTitle(), "Kolvena v1.0 未与会话连接");
    EXPECT_EQ(bob.Rows(), QStringList{});
    EXPECT_EQ(bob.window.Mode(), WindowMode::Live);

    // An address that is no address fails the same way; the user may join again at once.
    bob.runner.steps.push_back([](QDialog& join) {
        EXPECT_TRUE(Click(join, "1030"));
        Type(join, "1032", "no.such.host");
        EXPECT_TRUE(Click(join, "1"));
    });
    bob.Trigger(32772);
    ASSERT_TRUE(WaitFor([&] { return bob.HasBox("IPAddress is error!\nPlease input again!"); }));
    EXPECT_EQ(bob.CountChat("-->> 连接指定会话没有成功，请您重新登陆."), 2);
}

} // namespace
} // namespace kolvena::ui
