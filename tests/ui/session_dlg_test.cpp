#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <string>

#include "session/address_code.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "ui/command_ids.h"
#include "ui/gbk_edit.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

// FakeClock's start, 2001-09-09 01:46:40 UTC, as the window shows it.
constexpr char START_CLOCK[] = "01:46:40";
const QStringList BANNER = {
    "            ================================================= ",
    "            =       欢迎加入 网络会话(Kolvena) v1.0       = ",
    "            ================================================= ",
    "",
};
const QString MESSAGES_HEADER = "                  *********** 会话消息窗口 ***********\n";
const QString IDLE_TITLE = "Kolvena v1.0 未与会话连接";
const QString HOST_TITLE = "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 ";

class SessionDlgTest : public ::testing::Test, public TestWindow {
protected:
    template <typename Widget> Widget* Control(const char* id) {
        auto* widget = window.findChild<Widget*>(id);
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    QPlainTextEdit* Chat() { return Control<QPlainTextEdit>("1001"); }
    QString MessageText() { return TextOf(window, "1000"); }
    QTreeWidget* Members() { return Control<QTreeWidget>("1003"); }
    QCheckBox* Box(const char* id) { return Control<QCheckBox>(id); }
    // The chat lines as shown; the rendering ends every line with a line break and adds one
    // more, so the last two entries are always empty.
    QStringList ChatLines() {
        QStringList lines = Chat()->toPlainText().split('\n');
        EXPECT_GE(lines.size(), 2);
        for (int k = 0; k < 2 && !lines.isEmpty(); ++k) {
            EXPECT_EQ(lines.back(), "");
            lines.removeLast();
        }
        return lines;
    }
    QString LastChatLine() { return ChatLines().value(ChatLines().size() - 1); }
    QStringList MessageLines() { return MessageText().split('\n'); }
    // The message window ends with a line break: its last line is the one before.
    QString LastMessage() { return MessageLines().value(MessageLines().size() - 2); }
    // What the window shows of the session: title, member rows, leave and sleep buttons.
    QStringList View() {
        return {window.windowTitle(), Rows().join(','), TextOf(window, "32774"),
                TextOf(window, "32773")};
    }
    Said BoxAt(std::size_t index = SIZE_MAX) { return test::BoxAt(prompter, index); }
    QString Input() { return TextOf(window, "1008"); }
    // The chat area shows exactly the session's lines as rendered.
    void ExpectChatMatchesSession() {
        EXPECT_EQ(Chat()->toPlainText(), PaneText(test::SessionOf(window.Core()).RenderLines()));
    }
};

TEST_F(SessionDlgTest, StartsIdleWithBannerAndHelpAndEscapeClosesNothing) {
    EXPECT_EQ(runner.shown, std::vector<QString>{"141"});
    EXPECT_TRUE(helpShownAtEveryStart);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(View(), (QStringList{IDLE_TITLE, "", "退出会话", "离开一会"}));
    EXPECT_EQ(TextOf(window, "1005"), "");
    EXPECT_EQ(ChatLines(), BANNER);
    EXPECT_EQ(MessageText(), MESSAGES_HEADER);
    ExpectChatMatchesSession();
    EXPECT_EQ(window.Mode(), WindowMode::Idle);

    QStringList checked;
    for (const char* id : {"1053", "1011", "1012", "1054"})
        checked << (Box(id)->isChecked() ? id : "");
    EXPECT_EQ(checked, (QStringList{"1053", "", "", ""}));
    EXPECT_FALSE(Box("1054")->isEnabled());
    QStringList enabled;
    for (int id : {32775, 32776, 32802, 32828, 32801, 32805, 32803, 32804, 32806, 32830,
                   32771, 32772, 32774, 32773, 32794, 32780, 32778, 32816, 32781, 57665}) {
        if (Action(id) != nullptr && Action(id)->isEnabled())
            enabled << QString::number(id);
    }
    EXPECT_EQ(enabled, (QStringList{"32771", "32772", "32774", "32773", "32794", "32780", "32778",
                                    "32816", "32781", "57665"}));

    auto* input = Control<QLineEdit>("1008");
    input->setText("abc");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(input, &escape);
    QApplication::sendEvent(&window, &escape);
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(input->text(), "abc");
    EXPECT_TRUE(prompter.boxes.empty());
}

// Cancelled creates change nothing and free the port again; a chat area holding more than the
// banner is offered for clearing first.
TEST_F(SessionDlgTest, CreatingMakesThisProgramTheHost) {
    Open(32771, [](QDialog& create) { EXPECT_TRUE(Click(create, "2")); });
    // The host details dialog has no cancel button: closing it cancels.
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
    Open(32771, [](QDialog& details) { details.reject(); });
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(View(), (QStringList{IDLE_TITLE, "", "退出会话", "离开一会"}));
    EXPECT_FALSE(window.Link().IsServing());

    Send("hello");
    ASSERT_EQ(ChatLines().size(), 5);
    prompter.answers = {BoxAnswer::Ok};
    runner.steps.push_back([](QDialog& create) {
        EXPECT_EQ(TextsOf(create, {"1024", "1022"}), (QStringList{"1024=127.0.0.1", "1022=6636"}));
        EXPECT_TRUE(Click(create, "1"));
    });
    Open(32771, [](QDialog& details) {
        EXPECT_EQ(TextsOf(details, {"1041", "1042"}),
                  (QStringList{"1041=会话组长", "1042=自由主题"}));
        Type(details, "1041", "Ann");
        Type(details, "1042", "闲聊");
        EXPECT_TRUE(Click(details, "1"));
    });
    EXPECT_EQ(runner.shown, (std::vector<QString>{"141", "130", "130", "133", "130", "133"}));

    const AddressCode code = MakeAddressCode("127.0.0.1");
    EXPECT_EQ(window.Link().Code(), code);

    EXPECT_EQ(View(), (QStringList{HOST_TITLE, "全体,Ann(组长)", "关闭会话", "离开一会"}));
    EXPECT_EQ(Members()->topLevelItem(1)->text(2), START_CLOCK);
    EXPECT_EQ(TextOf(window, "1005"), "全体");
    EXPECT_EQ(window.Mode(), WindowMode::Live);
    EXPECT_FALSE(Box("1054")->isEnabled());
    const QString port = QString::number(window.Link().Options().port);
    const QStringList created = {"-->> 新建会话地址编码: " + QString::number(code) +
                                     "，主机地址: 127.0.0.1，监听端口: " + port,
                                 "-->> 创建新的会话，等待客人登陆中..."};
    EXPECT_EQ(ChatLines(), BANNER + created);
}

TEST_F(SessionDlgTest, SendRefusesBlankInputNeedsASessionAndAsksForNotices) {
    Send("   ");
    EXPECT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(Input(), "");
    EXPECT_EQ(ChatLines(), BANNER);

    Send("  hello ");
    EXPECT_EQ(LastChatLine(), "-->> 您还未进入会话。");
    EXPECT_EQ(Input(), "hello");
    EXPECT_EQ(prompter.boxes.size(), 1u);
    ExpectChatMatchesSession();

    // Enter in the input line sends as well.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(Control<QLineEdit>("1008"), &enter);
    EXPECT_EQ(ChatLines().size(), 6);
    EXPECT_EQ(LastChatLine(), "-->> 您还未进入会话。");

    // While a recording is loaded, sending does nothing and the input stays as typed.
    test::RecorderOf(window.Core()).state = ReplayState::Paused;
    Control<QLineEdit>("1008")->setText("  x ");
    QApplication::sendEvent(Control<QLineEdit>("1008"), &enter);
    EXPECT_TRUE(Click(window, "32778"));
    EXPECT_EQ(Input(), "  x ");
    EXPECT_EQ(ChatLines().size(), 6);
    EXPECT_EQ(prompter.boxes.size(), 1u);
    test::RecorderOf(window.Core()).state = ReplayState::NoReplay;

    Create();
    const std::size_t boxes = prompter.boxes.size();
    const QString before = MessageText();
    Box("1012")->setChecked(true);
    prompter.answers = {BoxAnswer::No};
    Send("开会了");
    ASSERT_EQ(prompter.boxes.size(), boxes + 1);
    EXPECT_EQ(MessageText(), before);
    EXPECT_TRUE(Box("1012")->isChecked());
    EXPECT_EQ(Input(), "开会了");

    Send("开会了");
    EXPECT_EQ(LastMessage(), QString("Massage: Ann: 开会了   (") + START_CLOCK + ")");
    EXPECT_FALSE(Box("1012")->isChecked());
    EXPECT_EQ(Input(), "");
    EXPECT_EQ(test::SessionOf(window.Core()).counters.ownMessageTotal, 1);

    // A chat line shows at once; the whisper box stays as it was.
    Box("1011")->setChecked(true);
    Send("大家好");
    EXPECT_EQ(LastChatLine(), "<你> 对大家说(悄悄话): 大家好");
    EXPECT_EQ(Input(), "");
    EXPECT_TRUE(Box("1011")->isChecked());
    ExpectChatMatchesSession();

    // Clearing keeps the members and the title.
    Trigger(ID_CLEAR);
    EXPECT_EQ(BoxAt().first, "清空窗口内容?");
    EXPECT_EQ(ChatLines(), BANNER);
    EXPECT_EQ(MessageText(), MESSAGES_HEADER);
    EXPECT_EQ(View(), (QStringList{HOST_TITLE, "全体,Ann(组长)", "关闭会话", "离开一会"}));
}

TEST_F(SessionDlgTest, ClosingAsksToSaveThenToClearAndExitPromptHasThreeWordings) {
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.ExitPrompt());
    EXPECT_EQ(BoxAt(), Said("退出Kolvena?", "您确认要退出网络会话(Kolvena)吗?"));
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    prompter.answers = {BoxAnswer::No};
    Trigger(ID_EXIT);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(prompter.boxes.size(), 3u);
    EXPECT_EQ(BoxAt().first, "退出Kolvena?");

    Create();
    // Cancel keeps the session.
    prompter.answers = {BoxAnswer::Cancel};
    Trigger(ID_LEAVE);
    EXPECT_EQ(TextOf(window, "32774"), "关闭会话");
    EXPECT_TRUE(window.Link().IsServing());

    prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
    Trigger(ID_LEAVE);
    EXPECT_EQ(LastChatLine(), "-->> 会话 '闲聊 ' 关闭, 所有成员退出。");
    EXPECT_EQ(View(), (QStringList{IDLE_TITLE, "", "退出会话", "离开一会"}));
    EXPECT_EQ(window.Mode(), WindowMode::Idle);
    EXPECT_FALSE(window.Link().IsServing());

    // Once more, clearing this time: only the banner is left.
    Create();
    prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Ok};
    Trigger(ID_LEAVE);
    EXPECT_EQ(ChatLines(), BANNER);
    EXPECT_EQ(MessageText(), MESSAGES_HEADER);

    // In a session the exit prompt says so, or warns of an unsaved record.
    Create();
    test::SessionOf(window.Core()).unsaved = true;
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.ExitPrompt());
    EXPECT_EQ(BoxAt().second, "您确认要退出网络会话(Kolvena)吗? (未保存会话记录!)");
    test::SessionOf(window.Core()).unsaved = false;
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.ExitPrompt());
    EXPECT_EQ(BoxAt().second, "您确认要退出网络会话(Kolvena)吗? 目前你正在参与会话.");
    prompter.answers = {BoxAnswer::Yes};
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.Link().IsServing());
}

TEST_F(SessionDlgTest, SleepAndRenameFollowTheButtonAndTheList) {
    Trigger(ID_SLEEP);
    EXPECT_TRUE(prompter.boxes.empty());
    Trigger(ID_RENAME);
    EXPECT_EQ(runner.shown.size(), 1u);
    EXPECT_EQ(ChatLines(), BANNER);

    Create();
    prompter.answers = {BoxAnswer::Cancel};
    Trigger(ID_SLEEP);
    EXPECT_EQ(TextOf(window, "32773"), "离开一会");
    Trigger(ID_SLEEP);
    EXPECT_EQ(View(), (QStringList{HOST_TITLE, "全体,Ann(组长)(休眠)", "关闭会话", "回到会话"}));
    EXPECT_EQ(LastChatLine(), "-->> Ann 休眠了.");
    Trigger(ID_SLEEP);
    EXPECT_EQ(View(), (QStringList{HOST_TITLE, "全体,Ann(组长)", "关闭会话", "离开一会"}));
    EXPECT_EQ(LastChatLine(), "-->> Ann 苏醒了.");

    // A blank name is refused with the dialog kept open.
    bool stayedOpen = false;
    Open(32781, [&](QDialog& rename) {
        Type(rename, "1065", "   ");
        EXPECT_TRUE(Click(rename, "1"));
        stayedOpen = rename.result() != QDialog::Accepted;
        Type(rename, "1065", " Bea ");
        EXPECT_TRUE(Click(rename, "1"));
    });
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(LastChatLine(), "-->> Ann 改名为 'Bea ' ");
    EXPECT_EQ(View(), (QStringList{HOST_TITLE, "全体,Bea(组长)", "关闭会话", "离开一会"}));
    // Cancel renames nobody.
    Open(32781, [](QDialog& rename) {
        Type(rename, "1065", "Cy");
        EXPECT_TRUE(Click(rename, "2"));
    });
    EXPECT_EQ(Rows(), (QStringList{"全体", "Bea(组长)"}));
}

TEST_F(SessionDlgTest, SettingsGreyHostControlsOutsideHostingAndValidateWhileHosting) {
    const auto all = {"1074", "1081", "1076", "1080", "1011", "1077", "1079"};
    QStringList enabled;
    QStringList start;
    const auto open = [&](QDialog& settings) {
        enabled = EnabledOf(settings, all);
        start = TextsOf(settings, {"1076"});
        for (const char* id : {"1074", "1081"})
            start << QString(id) + (settings.findChild<QCheckBox*>(id)->isChecked() ? "+" : "-");
    };
    Open(32794, [&](QDialog& settings) {
        open(settings);
        settings.findChild<QCheckBox*>("1077")->setChecked(false);
        EXPECT_TRUE(Click(settings, "2"));
    });
    EXPECT_EQ(enabled, (QStringList{"1011", "1077", "1079"}));
    EXPECT_EQ(start.mid(0, 3), (QStringList{"1076=20", "1074+", "1081-"}));
    // Cancel changed nothing.
    EXPECT_TRUE(test::SessionOf(window.Core()).settings.soundOn);
    EXPECT_EQ(ChatLines(), BANNER);

    Create();
    bool refused = true;
    std::size_t refusals = 0;
    Open(32794, [&](QDialog& settings) {
        open(settings);
        const std::size_t before = prompter.boxes.size();
        for (const char* outOfRange : {"0", "101"}) {
            Type(settings, "1076", outOfRange);
            EXPECT_TRUE(Click(settings, "1"));
            refused = refused && settings.result() != QDialog::Accepted;
        }
        refusals = prompter.boxes.size() - before;
        Type(settings, "1076", "5");
        settings.findChild<QCheckBox*>("1081")->setChecked(false);
        EXPECT_TRUE(Click(settings, "1"));
    });
    EXPECT_EQ(enabled.size(), 7);
    EXPECT_EQ(start.mid(0, 3), (QStringList{"1076=20", "1074+", "1081+"}));
    EXPECT_TRUE(refused);
    EXPECT_EQ(refusals, 2u);
    EXPECT_EQ(test::SessionOf(window.Core()).settings.maxClients, 5);
    EXPECT_FALSE(window.Link().Accepting());
    EXPECT_EQ(LastChatLine(), "-->> 会话暂时对外关闭。");

    Open(32794, [&](QDialog& settings) {
        open(settings);
        settings.findChild<QCheckBox*>("1081")->setChecked(true);
        EXPECT_TRUE(Click(settings, "1"));
    });
    EXPECT_EQ(start.mid(0, 3), (QStringList{"1076=5", "1074+", "1081-"}));
    EXPECT_TRUE(window.Link().Accepting());
    EXPECT_EQ(LastChatLine(), "-->> 会话重新对外开放。");
    ExpectChatMatchesSession();
}

TEST_F(SessionDlgTest, StatusWindowOnlyInASessionWithItsFigures) {
    Trigger(ID_STATUS);
    EXPECT_EQ(BoxAt().first, "查看会话状态");
    EXPECT_EQ(runner.shown.size(), 1u);

    Create();
    QStringList fields;
    const auto status = [&] {
        Open(32780, [&fields](QDialog& status) {
            fields = TextsOf(status, {"1042", "1060", "1066", "1069", "1070", "1071", "1073"});
        });
    };
    status();
    const QString code = QString::number(MakeAddressCode("127.0.0.1"));
    EXPECT_EQ(fields, (QStringList{"1042=闲聊", "1060=编码: " + code, "1066=Ann", "1069=1",
                                   "1070=0", "1071=0", "1073=0"}));
    Send("hi");
    Box("1012")->setChecked(true);
    Send("note");
    status();
    EXPECT_EQ(fields.mid(3), (QStringList{"1069=2", "1070=1", "1071=1", "1073=1"}));
}

TEST_F(SessionDlgTest, AutoScrollOffKeepsThePositionOnJumpsToTheEnd) {
    Session& s = test::SessionOf(window.Core());
    const auto addLines = [&](int count) {
        for (int k = 0; k < count; ++k) {
            test::CoreAccess::Parts(window.Core())
                .show.Say(ToGbk("-->> line " + std::to_string(s.lines.size())));
            window.RefreshChat();
        }
    };
    addLines(120);
    QScrollBar* bar = Chat()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), bar->maximum());

    Box("1053")->click();
    EXPECT_FALSE(Box("1053")->isChecked());
    // Off: the pane stays at its end until the user scrolls.
    addLines(1);
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(7); // the user scrolls up
    addLines(3);
    EXPECT_EQ(bar->value(), 7);
    EXPECT_EQ(LastChatLine(), "-->> line 127");
    // A full re-render (the time suffix) keeps the position too.
    s.settings.showTimeOnChat = true;
    window.RefreshChat();
    EXPECT_EQ(bar->value(), 7);
    ExpectChatMatchesSession();

    Box("1053")->click();
    EXPECT_TRUE(Box("1053")->isChecked());
    EXPECT_EQ(bar->value(), bar->maximum());
    addLines(1);
    EXPECT_EQ(bar->value(), bar->maximum());
}

// Lines come from the wire with whatever bytes a member typed; appending a line must show
// what rendering the whole area shows.
TEST_F(SessionDlgTest, AppendedLinesShowAsTheFullRendering) {
    for (const std::string& text : {std::string("-->> lead byte at end \x81"),
                                    std::string("-->> two\r\nlines"), std::string("-->> \xff\xfe"),
                                    std::string("-->> cr at end\r"), std::string("-->> last")}) {
        test::CoreAccess::Parts(window.Core()).show.Say(text);
        window.RefreshChat();
        ExpectChatMatchesSession();
        if (HasFailure())
            break;
    }
    EXPECT_EQ(LastChatLine(), "-->> last");
}

TEST_F(SessionDlgTest, TargetFollowsTheListAndRightClickMenusOnlyMembers) {
    Create();
    QTreeWidget* list = Members();
    QStringList targets;
    for (int row : {1, 0, 5}) {
        window.SelectTarget(row);
        targets << TextOf(window, "1005");
    }
    EXPECT_EQ(targets, (QStringList{"Ann", "全体", "全体"}));
    emit list->itemClicked(list->topLevelItem(1), 0);
    EXPECT_EQ(test::SessionOf(window.Core()).target, 1);

    const auto rightClick = [&](const QPoint& at) {
        emit list->customContextMenuRequested(at);
        return QString::number(test::SessionOf(window.Core()).target.value) + " " +
               TextOf(window, "1005") + (window.MemberMenu()->isVisible() ? " menu" : "");
    };
    const auto row = [list](int k) { return list->visualItemRect(list->topLevelItem(k)).center(); };
    ASSERT_NE(window.MemberMenu(), nullptr);
    EXPECT_EQ(rightClick(row(0)), "0 全体");
    EXPECT_EQ(rightClick(row(1)), "1 Ann menu");
    window.MemberMenu()->hide();
    // Below the last member: no item, the target stays.
    EXPECT_EQ(rightClick(QPoint(5, list->viewport()->height() - 2)), "1 Ann");

    // The member information window of the chosen member.
    clock.Advance(3600 + 2 * 60 + 5);
    QStringList fields;
    Open(32823, [&fields](QDialog& info) {
        fields = TextsOf(info, {"1005", "1085", "1086", "1087", "1088", "1089"});
    });
    EXPECT_EQ(fields, (QStringList{"1005=Ann", "1085=1", QString("1086=") + START_CLOCK,
                                   "1087=01:02:05", "1088=0", "1089=0"}));
}

TEST_F(SessionDlgTest, TimeSuffixSwitchRerendersEarlierLines) {
    Create();
    const QStringList plain = ChatLines();
    clock.Advance(65);
    Send("later");
    const QString later = LastChatLine();
    const auto setTimes = [this](bool onChat, bool onMessages) {
        Open(32794, [onChat, onMessages](QDialog& settings) {
            settings.findChild<QCheckBox*>("1011")->setChecked(onChat);
            settings.findChild<QCheckBox*>("1079")->setChecked(onMessages);
            EXPECT_TRUE(Click(settings, "1"));
        });
    };

    setTimes(true, false);
    QStringList timed = plain;
    // The banner never shows a time; the creation lines show when they were written.
    for (int k = BANNER.size(); k < timed.size(); ++k)
        timed[k] += QString("  (") + START_CLOCK + ")";
    timed << later + "  (01:47:45)";
    EXPECT_EQ(ChatLines(), timed);
    ExpectChatMatchesSession();

    // Notices recorded from now on have no time; earlier ones keep theirs.
    const QString welcome = MessageLines().value(1);
    Box("1012")->setChecked(true);
    Send("memo");
    EXPECT_EQ(LastMessage(), "Massage: Ann: memo ");
    EXPECT_EQ(MessageLines().value(1), welcome);

    setTimes(false, true);
    EXPECT_EQ(ChatLines(), plain + QStringList{later});
    ExpectChatMatchesSession();
}

} // namespace
} // namespace kolvena::ui
