#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QToolBar>
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

const QString IDLE_TITLE = "Kolvena v1.0 未与会话连接";
const QString HOST_TITLE = "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 ";

class SessionDlgTest : public ::testing::Test, public TestWindow {
protected:
    QCheckBox* Box(const char* id) { return window.findChild<QCheckBox*>(id); }
    QLineEdit* Input() { return window.findChild<QLineEdit*>("1008"); }
    Session& S() { return test::SessionOf(window.Core()); }
    // Both panes show exactly what the session holds.
    void ExpectPanesMatchSession() {
        EXPECT_EQ(TextOf(window, "1001"), PaneText(S().RenderLines()));
        EXPECT_EQ(TextOf(window, "1000"), PaneText(S().messageText));
    }
    // A line with those bytes reaches the chat area, and the panes show the session.
    void Say(const std::string& text) {
        SCOPED_TRACE(text);
        test::CoreAccess::Parts(window.Core()).show.Say(text);
        window.RefreshChat();
        ExpectPanesMatchSession();
    }
    void ShowTimes(bool on) {
        S().settings.showTimeOnChat = on;
        window.RefreshChat();
        ExpectPanesMatchSession();
    }
    // What running the action did: the dialogs it opened, the boxes it showed, the files it
    // asked for, the chat lines it added, the addresses it opened.
    QStringList Effect(const std::function<void()>& act) {
        const std::size_t dialogs = runner.shown.size(), boxes = prompter.boxes.size(),
                          files = prompter.fileRequests.size(), lines = S().lines.size();
        opened.clear();
        act();
        QStringList out;
        for (std::size_t k = dialogs; k < runner.shown.size(); ++k)
            out << "dialog " + runner.shown[k];
        for (std::size_t k = boxes; k < prompter.boxes.size(); ++k)
            out << QString::fromStdString("box " + prompter.boxes[k].caption + "|" +
                                          prompter.boxes[k].text);
        for (std::size_t k = files; k < prompter.fileRequests.size(); ++k)
            out << QString::fromStdString("file " + prompter.fileRequests[k].defaultExtension);
        for (std::size_t k = lines; k < S().lines.size(); ++k)
            out << "chat " + ToScreen(S().lines[k].text);
        for (const QUrl& url : opened)
            out << "url " + url.toString();
        return out;
    }

    std::vector<QUrl> opened;
};

TEST_F(SessionDlgTest, StartsIdleWithBannerAndHelpAndEscapeClosesNothing) {
    EXPECT_EQ(runner.shown, std::vector<QString>{"141"});
    EXPECT_TRUE(helpShownAtEveryStart);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(window.windowTitle(), IDLE_TITLE);
    EXPECT_EQ(Rows(), QStringList{});
    EXPECT_EQ(TextsOf(window, {"1005", "32774", "32773"}),
              (QStringList{"1005=", "32774=退出会话", "32773=离开一会"}));
    EXPECT_EQ(S().lines.size(), 4u);
    ExpectPanesMatchSession();
    EXPECT_EQ(window.Mode(), WindowMode::Idle);

    QStringList checked, enabled;
    for (const char* id : {"1053", "1011", "1012", "1054"})
        checked << (Box(id)->isChecked() ? id : "");
    EXPECT_EQ(checked, (QStringList{"1053", "", "", ""}));
    EXPECT_FALSE(Box("1054")->isEnabled());
    for (int id : {32775, 32776, 32802, 32828, 32801, 32805, 32803, 32804, 32806, 32830,
                   32771, 32772, 32774, 32773, 32794, 32780, 32778, 32816, 32781, 57665})
        if (Action(id) != nullptr && Action(id)->isEnabled())
            enabled << QString::number(id);
    EXPECT_EQ(enabled, (QStringList{"32771", "32772", "32774", "32773", "32794", "32780", "32778",
                                    "32816", "32781", "57665"}));
    QStringList toolbar;
    for (const QAction* action : window.findChild<QToolBar*>("128")->actions())
        toolbar << action->objectName();
    EXPECT_EQ(toolbar, (QStringList{"32771", "32772", "32774", "", "32794", "32776", "32820", "",
                                    "32780", "", "32808"}));

    Input()->setText("abc");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(Input(), &escape);
    QApplication::sendEvent(&window, &escape);
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Input()->text(), "abc");
    EXPECT_TRUE(prompter.boxes.empty());
}

// Every command reaches its own handler from its menu item, from its button (where it has
// one) and from the member pop-up menu; the effects are the handlers' first visible steps.
TEST_F(SessionDlgTest, EveryCommandIsWiredToItsItemButtonAndPopUp) {
    window.openUrl = [this](const QUrl& url) { opened.push_back(url); };
    struct Row {
        int id;
        QStringList effect;
        const char* popUp = nullptr; // the same command in the member pop-up menu
    };
    // The item, the button (where there is one) and the pop-up item each have the effect.
    const auto expectWired = [this](const Row& row, const std::function<void()>& prepare) {
        SCOPED_TRACE(row.id);
        const auto run = [&](const std::function<void()>& act) {
            prepare();
            return Effect(act);
        };
        EXPECT_EQ(run([&] { Trigger(row.id); }), row.effect);
        if (auto* button = window.findChild<QPushButton*>(QString::number(row.id))) {
            EXPECT_EQ(run([&] { button->click(); }), row.effect);
        }
        if (row.popUp != nullptr) {
            EXPECT_EQ(run([&] { window.MemberMenu()->findChild<QAction*>(row.popUp)->trigger(); }),
                      row.effect);
        }
    };
    const Row idle[] = {
        {ID_CREATE, {"dialog 130"}},
        {ID_JOIN, {"dialog 132"}},
        {ID_STATUS,
         {"box "
          "查看会话状态|"
          "目前您没有参与任何会话。您可以通过创建一个新的会话或者加入一个已有的会话来参与讨论."}},
        {ID_SAVE_TEXT, {"box |没有任何会话记录."}},
        {ID_OPEN_TEXT, {"file txt"}},
        {ID_OPEN_RECORDING, {"file prs"}},
        {ID_HELP, {"dialog 141"}},
        {ID_ABOUT, {"dialog 100"}},
        {ID_HOME_PAGE, {"url https://kolvena.example/"}},
        {ID_RECOMMEND, {"dialog 142"}},
        {ID_EXIT, {"box 退出Kolvena?|您确认要退出网络会话(Kolvena)吗?"}},
    };
    for (const Row& row : idle)
        expectWired(row, [this] { prompter.answers = {BoxAnswer::No}; });
    EXPECT_FALSE(window.Link().IsServing());
    Create();
    window.SelectTarget(1);
    const Row live[] = {
        {ID_SEND, {"chat <你> 对自己说: hi"}, "32778"},
        {ID_MEMBER_INFO, {"dialog 147"}},
        {ID_OFFER, {"box 无法传输文件|传输文件目标不正确."}, "32818"},
        {ID_SLEEP, {"box 暂时离开|您要暂时离开一会儿吗?"}},
        {ID_LEAVE,
         {"box 您准备退出吗?|您确定要关闭当前会话吗？！\n这样会使所有的成员强行退出会话！"}},
        {ID_CLEAR, {"box 清空窗口内容?|是否要清空当前对话窗口?"}},
        {ID_RENAME, {"dialog 135"}},
        {ID_SETTINGS, {"dialog 140"}},
        {ID_STATUS, {"dialog 134"}},
        {ID_SAVE_RECORDING, {"file prs"}},
    };
    for (const Row& row : live)
        expectWired(row, [this] {
            Input()->setText("hi");
            prompter.answers = {BoxAnswer::Cancel};
        });
    EXPECT_TRUE(window.Link().IsServing());
}

// The create dialogs start from the core's values and a cancelled one gives the port back; a
// blank name in the details is refused with the dialog kept open.
TEST_F(SessionDlgTest, CreateDialogsStartFromTheCoreAndCancelFreesThePort) {
    Open(ID_CREATE, [](QDialog& create) { EXPECT_TRUE(Click(create, "2")); });
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
    Open(ID_CREATE, [](QDialog& details) { details.reject(); });
    EXPECT_FALSE(window.Link().IsServing());

    bool refused = false;
    runner.steps.push_back([](QDialog& create) {
        EXPECT_EQ(TextsOf(create, {"1024", "1022"}), (QStringList{"1024=127.0.0.1", "1022=6636"}));
        EXPECT_TRUE(Click(create, "1"));
    });
    Open(ID_CREATE, [&refused](QDialog& details) {
        EXPECT_EQ(TextsOf(details, {"1041", "1042"}),
                  (QStringList{"1041=会话组长", "1042=自由主题"}));
        Type(details, "1041", " ");
        EXPECT_TRUE(Click(details, "1"));
        refused = details.result() != QDialog::Accepted;
        Type(details, "1041", "Ann");
        Type(details, "1042", "闲聊");
        EXPECT_TRUE(Click(details, "1"));
    });
    EXPECT_TRUE(refused);
    EXPECT_EQ(window.Link().Code(), MakeAddressCode("127.0.0.1"));
    EXPECT_EQ(window.windowTitle(), HOST_TITLE);
    EXPECT_EQ(window.Mode(), WindowMode::Live);

    // The rename dialog asks the core too.
    refused = false;
    Open(ID_RENAME, [&refused](QDialog& rename) {
        Type(rename, "1065", "   ");
        EXPECT_TRUE(Click(rename, "1"));
        refused = rename.result() != QDialog::Accepted;
        Type(rename, "1065", "Bea");
        EXPECT_TRUE(Click(rename, "1"));
    });
    EXPECT_TRUE(refused);
    EXPECT_EQ(Rows(), (QStringList{"全体", "Bea(组长)"}));
}

// The send command takes the input line and the two boxes, and puts back what the core
// returns; Enter sends too; while a recording is loaded the input is left as typed.
TEST_F(SessionDlgTest, SendTakesTheInputAndTheBoxesAndPutsBackTheOutcome) {
    Create();
    const QString asked = "box 发送消息|你要发送消息: \n <memo> ?";
    struct Case {
        QString typed;
        bool whisper, notice;
        BoxAnswer answer;
        QString effect, inputAfter;
        bool noticeAfter;
    };
    const Case cases[] = {
        {"大家好", true, false, BoxAnswer::Yes, "chat <你> 对大家说(悄悄话): 大家好", "", false},
        {" memo ", false, true, BoxAnswer::No, asked, " memo ", true},
        {"memo", false, true, BoxAnswer::Yes, asked, "", false},
        {"   ", false, false, BoxAnswer::Yes, "box 发送错误|不能发送空内容", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        Box("1011")->setChecked(c.whisper);
        Box("1012")->setChecked(c.notice);
        Input()->setText(c.typed);
        prompter.answers = {c.answer};
        EXPECT_EQ(Effect([&] { Send(c.typed); }), QStringList{c.effect});
        EXPECT_EQ(Input()->text(), c.inputAfter);
        EXPECT_EQ(Box("1012")->isChecked(), c.noticeAfter);
        EXPECT_EQ(Box("1011")->isChecked(), c.whisper);
    }
    EXPECT_TRUE(TextOf(window, "1000").endsWith("Massage: Ann: memo   (01:46:40)\n"));

    Box("1011")->setChecked(false);
    Input()->setText("enter");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    EXPECT_EQ(Effect([&] { QApplication::sendEvent(Input(), &enter); }),
              QStringList{"chat <你> 对大家说: enter"});

    test::RecorderOf(window.Core()).state = ReplayState::Paused;
    Input()->setText("  x ");
    EXPECT_EQ(Effect([&] { QApplication::sendEvent(Input(), &enter); }), QStringList{});
    EXPECT_EQ(Input()->text(), "  x ");
    test::RecorderOf(window.Core()).state = ReplayState::NoReplay;
}

// The panes, the member list, the target, the title and the two buttons show what the
// session holds, however it changed: lines appended (with whatever bytes came from the wire),
// the time suffix switched, the area cleared.
TEST_F(SessionDlgTest, PanesListTitleAndButtonsShowTheSession) {
    Create();
    S().AddBuddy(Buddy::Make("Bob", "127.0.0.2", BuddyRole::Member));
    clock.Advance(65);
    window.RefreshMembers();
    window.RefreshTitle();
    window.SelectTarget(2);
    EXPECT_EQ(Rows(3), (QStringList{"全体||", "Ann(组长)|1|01:46:40", "Bob|2|01:46:40"}));
    EXPECT_EQ(TextOf(window, "1005"), "Bob");
    EXPECT_EQ(window.windowTitle(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 2 ");

    Say("-->> lead byte at end \x81");
    Say("-->> two\r\nlines");
    Say("-->> \xff\xfe");
    Say("-->> cr at end\r");
    ShowTimes(true);
    Say("-->> timed");
    ShowTimes(false);
    S().RecordMessage(ToGbk("公告"));
    window.RefreshMessages();
    ExpectPanesMatchSession();
    prompter.answers = {BoxAnswer::Ok};
    Trigger(ID_CLEAR);
    ExpectPanesMatchSession();
    Say("-->> last");

    S().asleep = true;
    S().isHost = false;
    window.RefreshCommands();
    EXPECT_EQ(TextsOf(window, {"32774", "32773"}),
              (QStringList{"32774=退出会话", "32773=回到会话"}));
}

TEST_F(SessionDlgTest, ExitPromptHasThreeWordingsAndYesClosesTheLink) {
    const auto exitQuestion = [this] {
        prompter.answers = {BoxAnswer::No};
        EXPECT_FALSE(window.close());
        return prompter.boxes.back().text;
    };
    EXPECT_EQ(exitQuestion(), "您确认要退出网络会话(Kolvena)吗?");
    Create();
    EXPECT_EQ(exitQuestion(), "您确认要退出网络会话(Kolvena)吗? (未保存会话记录!)");
    S().unsaved = false;
    EXPECT_EQ(exitQuestion(), "您确认要退出网络会话(Kolvena)吗? 目前你正在参与会话.");
    EXPECT_TRUE(window.isVisible());
    prompter.answers = {BoxAnswer::Yes};
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.Link().IsServing());
}

// The settings dialog greys the host's controls outside hosting; while hosting, its checks are
// the core's and what it applies reaches the link.
TEST_F(SessionDlgTest, SettingsGreyHostControlsOutsideHostingAndApplyWhileHosting) {
    const auto all = {"1074", "1081", "1076", "1080", "1011", "1077", "1079"};
    QStringList enabled;
    Open(ID_SETTINGS, [&](QDialog& settings) { enabled = EnabledOf(settings, all); });
    EXPECT_EQ(enabled, (QStringList{"1011", "1077", "1079"}));

    Create();
    bool refused = false;
    Open(ID_SETTINGS, [&](QDialog& settings) {
        enabled = EnabledOf(settings, all);
        Type(settings, "1076", "101");
        EXPECT_TRUE(Click(settings, "1"));
        refused = settings.result() != QDialog::Accepted;
        Type(settings, "1076", "5");
        settings.findChild<QCheckBox*>("1081")->setChecked(false);
        EXPECT_TRUE(Click(settings, "1"));
    });
    EXPECT_EQ(enabled.size(), 7);
    EXPECT_TRUE(refused);
    EXPECT_EQ(S().settings.maxClients, 5);
    EXPECT_FALSE(window.Link().Accepting());
}

TEST_F(SessionDlgTest, AutoScrollOffKeepsThePositionOnJumpsToTheEnd) {
    for (int k = 0; k < 120; ++k)
        Say("-->> line " + std::to_string(k));
    QScrollBar* bar = window.findChild<QPlainTextEdit*>("1001")->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), bar->maximum());

    Box("1053")->click();
    EXPECT_FALSE(Box("1053")->isChecked());
    Say("-->> stays at the end until the user scrolls");
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->setValue(7);
    Say("-->> more");
    EXPECT_EQ(bar->value(), 7);
    // A full re-render (the time suffix) keeps the position too.
    ShowTimes(true);
    EXPECT_EQ(bar->value(), 7);

    Box("1053")->click();
    EXPECT_EQ(bar->value(), bar->maximum());
    Say("-->> last");
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(SessionDlgTest, TargetFollowsTheListAndRightClickMenusOnlyMembers) {
    Create();
    auto* list = window.findChild<QTreeWidget*>("1003");
    emit list->itemClicked(list->topLevelItem(1), 0);
    EXPECT_EQ(S().target, 1);
    window.SelectTarget(5);
    EXPECT_EQ(S().target, 1);

    const auto rightClick = [&](const QPoint& at) {
        emit list->customContextMenuRequested(at);
        return QString::number(S().target.value) + " " + TextOf(window, "1005") +
               (window.MemberMenu()->isVisible() ? " menu" : "");
    };
    const auto row = [list](int k) { return list->visualItemRect(list->topLevelItem(k)).center(); };
    EXPECT_EQ(rightClick(row(0)), "0 全体");
    EXPECT_EQ(rightClick(row(1)), "1 Ann menu");
    window.MemberMenu()->hide();
    EXPECT_EQ(rightClick(QPoint(5, list->viewport()->height() - 2)), "1 Ann");

    // The member information window counts the stay up to the window's clock.
    clock.Advance(3600 + 2 * 60 + 5);
    QStringList fields;
    Open(ID_MEMBER_INFO, [&fields](QDialog& info) { fields = TextsOf(info, {"1005", "1087"}); });
    EXPECT_EQ(fields, (QStringList{"1005=Ann", "1087=01:02:05"}));
}

} // namespace
} // namespace kolvena::ui
