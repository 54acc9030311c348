#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QHostAddress>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpServer>
#include <QTreeWidget>
#include <ctime>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <ostream>
#include <string>

#include "session/address_code.h"
#include "session/gbk.h"
#include "support/fakes.h"
#include "ui/gbk_edit.h"
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

using test::Click;
using test::FakeClock;
using test::ScriptedPrompter;
using test::ScriptedRunner;
using test::TextOf;
using test::Type;

// FakeClock's start, 2001-09-09 01:46:40 UTC, as the window shows it.
constexpr char START_CLOCK[] = "01:46:40";

const QStringList BANNER = {
    "            ================================================= ",
    "            =       欢迎加入 网络会话(Kolvena) v1.0       = ",
    "            ================================================= ",
    "",
};
constexpr char HEADER[] = "                  *********** 会话消息窗口 ***********";
constexpr char IDLE_TITLE[] = "Kolvena v1.0 未与会话连接";

std::uint16_t FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

LinkOptions LoopbackLink() {
    LinkOptions link;
    link.port = FreePort();
    link.bindAddress = QHostAddress::LocalHost;
    link.ownAddress = "127.0.0.1";
    return link;
}

// A pane's lines as shown; the rendering ends every line with a line break and adds one more,
// so the last two entries are always empty.
QStringList PaneLines(const QPlainTextEdit& pane) {
    QStringList lines = pane.toPlainText().split('\n');
    EXPECT_GE(lines.size(), 2);
    if (lines.size() >= 2) {
        EXPECT_EQ(lines.back(), "");
        lines.removeLast();
        EXPECT_EQ(lines.back(), "");
        lines.removeLast();
    }
    return lines;
}

class SessionDlgTest : public ::testing::Test {
protected:
    SessionDlgTest() : window(clock, prompter, runner, LoopbackLink()) {}

    void SetUp() override {
        qputenv("TZ", "UTC");
        tzset();
        runner.steps.push_back([this](QDialog& help) {
            for (const QCheckBox* box : help.findChildren<QCheckBox*>()) {
                if (box->text() == "每次启动时显示")
                    helpShownAtEveryStart = box->isChecked() && !box->isEnabled();
            }
        });
        window.Start();
        window.show();
    }

    QAction* Action(int id) {
        auto* action = window.findChild<QAction*>(QString::number(id));
        EXPECT_NE(action, nullptr) << id;
        return action;
    }
    void Trigger(int id) {
        if (QAction* action = Action(id))
            action->trigger();
    }
    template <typename Widget> Widget* Control(const char* id) {
        auto* widget = window.findChild<Widget*>(id);
        EXPECT_NE(widget, nullptr) << id;
        return widget;
    }
    QPlainTextEdit* Chat() { return Control<QPlainTextEdit>("1001"); }
    QPlainTextEdit* Messages() { return Control<QPlainTextEdit>("1000"); }
    QTreeWidget* Members() { return Control<QTreeWidget>("1003"); }
    QCheckBox* Box(const char* id) { return Control<QCheckBox>(id); }
    QStringList ChatLines() { return PaneLines(*Chat()); }
    QString LastChatLine() {
        const QStringList lines = ChatLines();
        return lines.value(lines.size() - 1);
    }
    QStringList MessageLines() { return Messages()->toPlainText().split('\n'); }
    // The message window ends with a line break: its last line is the one before.
    QString LastMessage() {
        const QStringList lines = MessageLines();
        return lines.value(lines.size() - 2);
    }
    QStringList MemberRows() {
        QStringList rows;
        QTreeWidget* list = Members();
        for (int k = 0; k < list->topLevelItemCount(); ++k)
            rows << list->topLevelItem(k)->text(0);
        return rows;
    }
    const ScriptedPrompter::Box& LastBox() {
        static const ScriptedPrompter::Box none{};
        EXPECT_FALSE(prompter.boxes.empty());
        return prompter.boxes.empty() ? none : prompter.boxes.back();
    }

    // Runs create with the two dialogs confirmed.
    void Create(const QString& name = "Ann", const QString& topic = "闲聊") {
        runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
        runner.steps.push_back([name, topic](QDialog& details) {
            Type(details, "1041", name);
            Type(details, "1042", topic);
            EXPECT_TRUE(Click(details, "1"));
        });
        Trigger(32771);
    }
    void Send(const QString& text) {
        Control<QLineEdit>("1008")->setText(text);
        EXPECT_TRUE(Click(window, "32778"));
    }
    // The settings dialog, run by the step.
    void Settings(std::function<void(QDialog&)> step) {
        runner.steps.push_back(std::move(step));
        Trigger(32794);
    }
    QString Input() { return TextOf(window, "1008"); }
    // The chat area shows exactly the session's lines as rendered.
    void ExpectChatMatchesSession() {
        EXPECT_EQ(Chat()->toPlainText(), PaneText(window.Core().session.RenderLines()));
    }

    FakeClock clock;
    ScriptedPrompter prompter;
    ScriptedRunner runner;
    CSessionDlg window;
    bool helpShownAtEveryStart = false;
};

TEST_F(SessionDlgTest, StartsIdleWithHeaderBannerAndHelp) {
    EXPECT_EQ(window.windowTitle(), IDLE_TITLE);
    EXPECT_EQ(runner.shown, std::vector<QString>{"141"});
    EXPECT_TRUE(helpShownAtEveryStart);
    EXPECT_TRUE(prompter.boxes.empty());

    EXPECT_EQ(Members()->topLevelItemCount(), 0);
    const QTreeWidgetItem* heading = Members()->headerItem();
    EXPECT_EQ(heading->text(0), "名    称");
    EXPECT_EQ(heading->text(1), "ID");
    EXPECT_EQ(heading->text(2), "登陆时间");
    EXPECT_EQ(TextOf(window, "1005"), "");
    EXPECT_EQ(ChatLines(), BANNER);
    EXPECT_EQ(Messages()->toPlainText(), QString(HEADER) + "\n");
    ExpectChatMatchesSession();
    // The panes and the target field are display-only.
    EXPECT_TRUE(Chat()->isReadOnly());
    EXPECT_TRUE(Messages()->isReadOnly());
    EXPECT_TRUE(Control<QLineEdit>("1005")->isReadOnly());

    EXPECT_TRUE(Box("1053")->isChecked());
    EXPECT_FALSE(Box("1011")->isChecked());
    EXPECT_FALSE(Box("1012")->isChecked());
    EXPECT_FALSE(Box("1054")->isChecked());
    EXPECT_FALSE(Box("1054")->isEnabled());
    EXPECT_EQ(window.Mode(), WindowMode::Idle);
    for (int id : {32775, 32776, 32802})
        EXPECT_FALSE(Action(id)->isEnabled()) << id;
    for (int id : {32828, 32801, 32805, 32803, 32804, 32806, 32830})
        EXPECT_FALSE(Action(id)->isEnabled()) << id;
    for (int id : {32771, 32772, 32774, 32773, 32794, 32780, 32778, 32816, 32781, 57665})
        EXPECT_TRUE(Action(id)->isEnabled()) << id;
    EXPECT_EQ(TextOf(window, "32774"), "退出会话");
    EXPECT_EQ(TextOf(window, "32773"), "离开一会");
    EXPECT_EQ(TextOf(window, "32778"), "发送");

    // Tooltips of the toolbar's commands, and of the controls that have one.
    const std::map<int, QString> tips = {
        {32771, "新的会话"}, {32772, "加入会话"}, {32774, "退出会话"},
        {32776, "会话管理"}, {32778, "发送"},     {32780, "当前会话状态"},
        {32794, "会话设置"}, {32808, "帮助"},     {32820, "保存会话历史"}};
    for (const auto& [id, tip] : tips)
        EXPECT_EQ(Action(id)->toolTip(), tip) << id;
    EXPECT_EQ(Control<QPushButton>("32778")->toolTip(), "发送");
    EXPECT_EQ(Control<QPushButton>("32816")->toolTip(), "");
    EXPECT_EQ(Control<QPushButton>("32773")->toolTip(), "");
}

TEST_F(SessionDlgTest, CreatingMakesThisProgramTheHost) {
    runner.steps.push_back([](QDialog& create) {
        EXPECT_EQ(create.objectName(), "130");
        EXPECT_EQ(TextOf(create, "1024"), "127.0.0.1");
        EXPECT_EQ(TextOf(create, "1022"), "6636");
        EXPECT_TRUE(Click(create, "1"));
    });
    runner.steps.push_back([](QDialog& details) {
        EXPECT_EQ(details.objectName(), "133");
        EXPECT_EQ(TextOf(details, "1041"), "会话组长");
        EXPECT_EQ(TextOf(details, "1042"), "自由主题");
        Type(details, "1041", "Ann");
        Type(details, "1042", "闲聊");
        EXPECT_TRUE(Click(details, "1"));
    });
    Trigger(32771);

    const AddressCode code = MakeAddressCode("127.0.0.1");
    EXPECT_EQ(window.Link().Code(), code);
    ASSERT_EQ(prompter.boxes.size(), 2u);
    EXPECT_EQ(prompter.boxes[0].caption, "创建会话成功!");
    EXPECT_EQ(prompter.boxes[0].text,
              "恭喜您! 您的会话已经创建成功了。\n这个会话的最大客户成员容量是20人。当然，您也可以"
              "通过\"设置\"来改变这个限制。");
    EXPECT_EQ(prompter.boxes[0].icon, BoxIcon::Information);
    EXPECT_EQ(prompter.boxes[1].caption, "让朋友们加入您的会话! ");
    EXPECT_EQ(prompter.boxes[1].text,
              "下一步: \n您的会话地址已经复制到了剪切板上! \n请把您的会话地址通过粘贴(ctrl+v)告诉"
              "您的朋友，让他们能够加入您创建的会话中来!\n(强烈推荐只公布您的地址编码!!)");
    EXPECT_EQ(prompter.clipboard,
              "欢迎您使用Kolvena加入我的会话! 会话地址编码:" + std::to_string(code));

    EXPECT_EQ(window.windowTitle(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 ");
    EXPECT_EQ(MemberRows(), (QStringList{"全体", "Ann(组长)"}));
    EXPECT_EQ(Members()->topLevelItem(1)->text(1), "1");
    EXPECT_EQ(Members()->topLevelItem(1)->text(2), START_CLOCK);
    EXPECT_EQ(TextOf(window, "1005"), "全体");
    EXPECT_EQ(TextOf(window, "32774"), "关闭会话");
    EXPECT_EQ(window.Mode(), WindowMode::Live);
    EXPECT_FALSE(Box("1054")->isEnabled());

    const QString port = QString::number(window.Link().Options().port);
    const QStringList created = {"-->> 新建会话地址编码: " + QString::number(code) +
                                     "，主机地址: 127.0.0.1，监听端口: " + port,
                                 "-->> 创建新的会话，等待客人登陆中..."};
    EXPECT_EQ(ChatLines(), BANNER + created);
    EXPECT_EQ(LastMessage(),
              QString("Massage: 欢迎您加入会话，会话主题是 '闲聊 '   (") + START_CLOCK + ")");

    // A session at a time, and no join while in it.
    Trigger(32771);
    EXPECT_EQ(LastBox().caption, "无法创建新会话");
    EXPECT_EQ(LastBox().text, "要创建新会话，先退出当前会话。");
    Trigger(32772);
    EXPECT_EQ(LastBox().caption, "无法加入会话");
    EXPECT_EQ(LastBox().text, "要加入一个新的会话，请先离开当前会话.");
    EXPECT_EQ(runner.shown, (std::vector<QString>{"141", "130", "133"}));
}

TEST_F(SessionDlgTest, CancellingCreateChangesNothing) {
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "2")); });
    Trigger(32771);
    // The host details dialog has no cancel button: closing it cancels.
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
    runner.steps.push_back([](QDialog& details) { details.reject(); });
    Trigger(32771);
    EXPECT_EQ(runner.shown, (std::vector<QString>{"141", "130", "130", "133"}));
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(window.windowTitle(), IDLE_TITLE);
    EXPECT_EQ(MemberRows(), QStringList{});
    EXPECT_FALSE(window.Link().IsServing());
    // The port is free again: a later create succeeds.
    Create();
    EXPECT_TRUE(window.Link().IsServing());
}

TEST_F(SessionDlgTest, CreatingAsksToClearAChatAreaHoldingMoreThanTheBanner) {
    Send("hello");
    ASSERT_EQ(ChatLines().size(), 5);
    prompter.answers = {BoxAnswer::Ok};
    Create();
    ASSERT_GE(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].caption, "清空窗口内容?");
    EXPECT_EQ(prompter.boxes[0].text, "是否要清空当前对话窗口?");
    EXPECT_EQ(ChatLines().mid(0, 4), BANNER);
    EXPECT_EQ(ChatLines().size(), 6);
    EXPECT_EQ(prompter.boxes[1].caption, "创建会话成功!");
}

TEST_F(SessionDlgTest, SendRefusesBlankInputAndNeedsASession) {
    Send("   ");
    EXPECT_EQ(LastBox().caption, "发送错误");
    EXPECT_EQ(LastBox().text, "不能发送空内容");
    EXPECT_EQ(LastBox().icon, BoxIcon::Information);
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
    window.Core().recorder.state = ReplayState::Paused;
    Control<QLineEdit>("1008")->setText("  x ");
    QApplication::sendEvent(Control<QLineEdit>("1008"), &enter);
    EXPECT_TRUE(Click(window, "32778"));
    EXPECT_EQ(Input(), "  x ");
    EXPECT_EQ(ChatLines().size(), 6);
    EXPECT_EQ(prompter.boxes.size(), 1u);
}

TEST_F(SessionDlgTest, HostNoticeAsksThenShowsAtOnceAndClearsTheBox) {
    Create();
    const std::size_t boxes = prompter.boxes.size();
    const QString before = Messages()->toPlainText();
    Box("1012")->setChecked(true);

    prompter.answers = {BoxAnswer::No};
    Send("开会了");
    ASSERT_EQ(prompter.boxes.size(), boxes + 1);
    EXPECT_EQ(LastBox().caption, "发送消息");
    EXPECT_EQ(LastBox().text, "你要发送消息: \n <开会了> ?");
    EXPECT_EQ(LastBox().icon, BoxIcon::Question);
    EXPECT_EQ(Messages()->toPlainText(), before);
    EXPECT_TRUE(Box("1012")->isChecked());
    EXPECT_EQ(Input(), "开会了");

    Send("开会了");
    EXPECT_EQ(LastMessage(), QString("Massage: Ann: 开会了   (") + START_CLOCK + ")");
    EXPECT_FALSE(Box("1012")->isChecked());
    EXPECT_EQ(Input(), "");
    EXPECT_EQ(window.Core().session.ownMessageTotal, 1);

    // A chat line shows at once; the whisper box stays as it was.
    Box("1011")->setChecked(true);
    Send("大家好");
    EXPECT_EQ(LastChatLine(), "<你> 对大家说(悄悄话): 大家好");
    EXPECT_EQ(Input(), "");
    EXPECT_TRUE(Box("1011")->isChecked());
    ExpectChatMatchesSession();

    // Clearing keeps the members and the title.
    const QString title = window.windowTitle();
    Trigger(32816);
    EXPECT_EQ(LastBox().caption, "清空窗口内容?");
    EXPECT_EQ(ChatLines(), BANNER);
    EXPECT_EQ(Messages()->toPlainText(), QString(HEADER) + "\n");
    EXPECT_EQ(MemberRows(), (QStringList{"全体", "Ann(组长)"}));
    EXPECT_EQ(window.windowTitle(), title);
}

TEST_F(SessionDlgTest, ClosingAsksToSaveThenToClear) {
    Trigger(32774);
    EXPECT_EQ(LastBox().caption, "退出出错");
    EXPECT_EQ(LastBox().text, "您还未进入会话?");

    Create();
    const std::size_t boxes = prompter.boxes.size();
    // Cancel keeps the session.
    prompter.answers = {BoxAnswer::Cancel};
    Trigger(32774);
    EXPECT_EQ(TextOf(window, "32774"), "关闭会话");
    EXPECT_TRUE(window.Link().IsServing());

    prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
    Trigger(32774);
    ASSERT_EQ(prompter.boxes.size(), boxes + 4);
    EXPECT_EQ(prompter.boxes[boxes + 1].caption, "您准备退出吗?");
    EXPECT_EQ(prompter.boxes[boxes + 1].text,
              "您确定要关闭当前会话吗？！\n这样会使所有的成员强行退出会话！");
    EXPECT_EQ(prompter.boxes[boxes + 2].caption, "是否保存会话记录?");
    EXPECT_EQ(prompter.boxes[boxes + 2].text, "即将离开会话，您要保存当前会话记录吗？");
    EXPECT_EQ(prompter.boxes[boxes + 3].caption, "清空窗口内容?");
    EXPECT_TRUE(prompter.fileRequests.empty());

    EXPECT_EQ(LastChatLine(), "-->> 会话 '闲聊 ' 关闭, 所有成员退出。");
    EXPECT_EQ(LastMessage(), QString("Massage: 会话 '闲聊 ' 关闭  (") + START_CLOCK + ")");
    EXPECT_EQ(MemberRows(), QStringList{});
    EXPECT_EQ(window.windowTitle(), IDLE_TITLE);
    EXPECT_EQ(TextOf(window, "32774"), "退出会话");
    EXPECT_EQ(window.Mode(), WindowMode::Idle);
    EXPECT_FALSE(window.Link().IsServing());

    // Once more, clearing this time: only the banner is left.
    Create();
    prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Ok};
    Trigger(32774);
    EXPECT_EQ(ChatLines(), BANNER);
    EXPECT_EQ(Messages()->toPlainText(), QString(HEADER) + "\n");
}

TEST_F(SessionDlgTest, SleepAndWakeFollowTheButtonAndTheList) {
    Trigger(32773);
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(ChatLines(), BANNER);

    Create();
    prompter.answers = {BoxAnswer::Cancel};
    Trigger(32773);
    EXPECT_EQ(LastBox().caption, "暂时离开");
    EXPECT_EQ(LastBox().text, "您要暂时离开一会儿吗?");
    EXPECT_EQ(TextOf(window, "32773"), "离开一会");

    Trigger(32773);
    EXPECT_EQ(TextOf(window, "32773"), "回到会话");
    EXPECT_EQ(MemberRows(), (QStringList{"全体", "Ann(组长)(休眠)"}));
    EXPECT_EQ(LastChatLine(), "-->> Ann 休眠了.");

    Trigger(32773);
    EXPECT_EQ(LastBox().caption, "返回会话");
    EXPECT_EQ(LastBox().text, "您要立即返回会话吗?");
    EXPECT_EQ(TextOf(window, "32773"), "离开一会");
    EXPECT_EQ(MemberRows(), (QStringList{"全体", "Ann(组长)"}));
    EXPECT_EQ(LastChatLine(), "-->> Ann 苏醒了.");
}

TEST_F(SessionDlgTest, RenameRefusesBlanksAndKeepsTheDialogOpen) {
    Trigger(32781);
    EXPECT_EQ(LastBox().caption, "");
    EXPECT_EQ(LastBox().text, "您还未参与会话，请新建或加入一个会话.");
    EXPECT_EQ(runner.shown.size(), 1u);

    Create();
    const QString title = window.windowTitle();
    bool stayedOpen = false;
    std::string refusal;
    runner.steps.push_back([&](QDialog& rename) {
        EXPECT_EQ(rename.objectName(), "135");
        EXPECT_EQ(TextOf(rename, "1065"), "");
        Type(rename, "1065", "   ");
        EXPECT_TRUE(Click(rename, "1"));
        stayedOpen = rename.result() != QDialog::Accepted;
        refusal = prompter.boxes.back().text;
        Type(rename, "1065", " Bea ");
        EXPECT_TRUE(Click(rename, "1"));
    });
    Trigger(32781);
    EXPECT_TRUE(stayedOpen);
    EXPECT_EQ(refusal, "请输入您的新名字");
    EXPECT_EQ(LastChatLine(), "-->> Ann 改名为 'Bea ' ");
    EXPECT_EQ(MemberRows(), (QStringList{"全体", "Bea(组长)"}));
    EXPECT_EQ(window.windowTitle(), title);

    // Cancel renames nobody.
    runner.steps.push_back([](QDialog& rename) {
        Type(rename, "1065", "Cy");
        EXPECT_TRUE(Click(rename, "2"));
    });
    Trigger(32781);
    EXPECT_EQ(MemberRows(), (QStringList{"全体", "Bea(组长)"}));
}

TEST_F(SessionDlgTest, SettingsOutsideASessionGreyTheHostControls) {
    std::map<QString, bool> enabled;
    Settings([&](QDialog& settings) {
        EXPECT_EQ(settings.objectName(), "140");
        for (const char* id : {"1074", "1081", "1076", "1080", "1011", "1077", "1079"}) {
            if (auto* widget = settings.findChild<QWidget*>(id))
                enabled[id] = widget->isEnabled();
            else
                ADD_FAILURE() << id;
        }
        EXPECT_EQ(TextOf(settings, "1076"), "20");
        EXPECT_FALSE(settings.findChild<QCheckBox*>("1011")->isChecked());
        EXPECT_TRUE(settings.findChild<QCheckBox*>("1077")->isChecked());
        EXPECT_TRUE(settings.findChild<QCheckBox*>("1079")->isChecked());
        settings.findChild<QCheckBox*>("1077")->setChecked(false);
        EXPECT_TRUE(Click(settings, "2"));
    });
    EXPECT_EQ(enabled, (std::map<QString, bool>{{"1074", false},
                                                {"1081", false},
                                                {"1076", false},
                                                {"1080", false},
                                                {"1011", true},
                                                {"1077", true},
                                                {"1079", true}}));
    // Cancel changed nothing.
    EXPECT_TRUE(window.Core().session.soundOn);
    EXPECT_EQ(ChatLines(), BANNER);
}

TEST_F(SessionDlgTest, SettingsWhileHostingValidateAndOpenOrCloseTheSession) {
    Create();
    bool outOfRangeRefused = false;
    std::size_t boxesSeen = 0;
    Settings([&](QDialog& settings) {
        EXPECT_TRUE(settings.findChild<QWidget*>("1076")->isEnabled());
        EXPECT_EQ(TextOf(settings, "1076"), "20");
        EXPECT_TRUE(settings.findChild<QCheckBox*>("1081")->isChecked());
        EXPECT_TRUE(settings.findChild<QCheckBox*>("1074")->isChecked());
        const std::size_t before = prompter.boxes.size();
        Type(settings, "1076", "0");
        EXPECT_TRUE(Click(settings, "1"));
        const bool zeroRefused = settings.result() != QDialog::Accepted;
        Type(settings, "1076", "101");
        EXPECT_TRUE(Click(settings, "1"));
        outOfRangeRefused = zeroRefused && settings.result() != QDialog::Accepted;
        boxesSeen = prompter.boxes.size() - before;
        Type(settings, "1076", "5");
        settings.findChild<QCheckBox*>("1081")->setChecked(false);
        EXPECT_TRUE(Click(settings, "1"));
    });
    EXPECT_TRUE(outOfRangeRefused);
    EXPECT_EQ(boxesSeen, 2u);
    EXPECT_EQ(window.Core().session.maxClients, 5);
    EXPECT_FALSE(window.Link().Accepting());
    EXPECT_EQ(LastChatLine(), "-->> 会话暂时对外关闭。");

    Settings([](QDialog& settings) {
        EXPECT_EQ(TextOf(settings, "1076"), "5");
        EXPECT_FALSE(settings.findChild<QCheckBox*>("1081")->isChecked());
        settings.findChild<QCheckBox*>("1081")->setChecked(true);
        EXPECT_TRUE(Click(settings, "1"));
    });
    EXPECT_TRUE(window.Link().Accepting());
    EXPECT_EQ(LastChatLine(), "-->> 会话重新对外开放。");
    ExpectChatMatchesSession();
}

TEST_F(SessionDlgTest, StatusWindowOnlyInASessionWithItsFigures) {
    Trigger(32780);
    EXPECT_EQ(LastBox().caption, "查看会话状态");
    EXPECT_EQ(LastBox().text, "目前您没有参与任何会话。您可以通过创建一个新的会话或者加入一个已有的"
                              "会话来参与讨论.");
    EXPECT_EQ(LastBox().icon, BoxIcon::Information);
    EXPECT_EQ(runner.shown.size(), 1u);

    Create();
    std::map<QString, QString> fields;
    const auto readFields = [&fields](QDialog& status) {
        EXPECT_EQ(status.objectName(), "134");
        EXPECT_EQ(status.windowTitle(), "Kolvena - 当前会话状态");
        fields.clear();
        for (const char* id : {"1042", "1058", "1041", "1060", "1066", "1062", "1063", "1069",
                               "1070", "1071", "1073", "1072"}) {
            if (auto* edit = status.findChild<QLineEdit*>(id)) {
                EXPECT_TRUE(edit->isReadOnly()) << id;
                fields[id] = edit->text();
            } else {
                ADD_FAILURE() << id;
            }
        }
    };
    runner.steps.push_back(readFields);
    Trigger(32780);
    const QString code = QString::number(MakeAddressCode("127.0.0.1"));
    EXPECT_EQ(fields, (std::map<QString, QString>{{"1042", "闲聊"},
                                                  {"1058", "01:46:40 09/09/2001"},
                                                  {"1041", "Ann"},
                                                  {"1060", "编码: " + code},
                                                  {"1066", "Ann"},
                                                  {"1062", "1"},
                                                  {"1063", "1"},
                                                  {"1069", "1"},
                                                  {"1070", "0"},
                                                  {"1071", "0"},
                                                  {"1073", "0"},
                                                  {"1072", "0"}}));

    Send("hi");
    Box("1012")->setChecked(true);
    Send("note");
    runner.steps.push_back(readFields);
    Trigger(32780);
    EXPECT_EQ(fields["1069"], "2");
    EXPECT_EQ(fields["1070"], "1");
    EXPECT_EQ(fields["1071"], "1");
    EXPECT_EQ(fields["1073"], "1");
    EXPECT_EQ(fields["1072"], "0");
}

TEST_F(SessionDlgTest, ExitPromptHasThreeWordingsAndNoKeepsRunning) {
    const std::string caption = "退出Kolvena?";
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.ExitPrompt());
    EXPECT_EQ(LastBox().caption, caption);
    EXPECT_EQ(LastBox().text, "您确认要退出网络会话(Kolvena)吗?");
    EXPECT_EQ(LastBox().icon, BoxIcon::Question);

    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    prompter.answers = {BoxAnswer::No};
    Trigger(57665);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(LastBox().caption, caption);

    Create();
    window.Core().session.unsaved = true;
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.ExitPrompt());
    EXPECT_EQ(LastBox().text, "您确认要退出网络会话(Kolvena)吗? (未保存会话记录!)");
    window.Core().session.unsaved = false;
    prompter.answers = {BoxAnswer::No};
    EXPECT_FALSE(window.ExitPrompt());
    EXPECT_EQ(LastBox().text, "您确认要退出网络会话(Kolvena)吗? 目前你正在参与会话.");

    prompter.answers = {BoxAnswer::Yes};
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_FALSE(window.Link().IsServing());
}

TEST_F(SessionDlgTest, EscapeNeitherClosesNorClears) {
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

TEST_F(SessionDlgTest, AutoScrollOffKeepsThePositionOnJumpsToTheEnd) {
    Session& s = window.Core().session;
    const auto addLines = [&](int count) {
        for (int k = 0; k < count; ++k) {
            window.Core().Say(ToGbk("-->> line " + std::to_string(s.lines.size())));
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
    s.showTimeOnChat = true;
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
        window.Core().Say(text);
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
    window.SelectTarget(1);
    EXPECT_EQ(TextOf(window, "1005"), "Ann");
    window.SelectTarget(0);
    EXPECT_EQ(TextOf(window, "1005"), "全体");
    window.SelectTarget(5);
    EXPECT_EQ(TextOf(window, "1005"), "全体");
    emit list->itemClicked(list->topLevelItem(1), 0);
    EXPECT_EQ(window.Core().session.target, 1);

    const auto rightClick = [list](int row) {
        const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
        emit list->customContextMenuRequested(at);
    };
    QMenu* menu = window.MemberMenu();
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (const QAction* action : menu->actions())
        items << action->text();
    EXPECT_EQ(items, (QStringList{"发送对话(&S)", "成员信息(&I)...", "传输文件(&F)..."}));

    rightClick(0);
    EXPECT_EQ(window.Core().session.target, 0);
    EXPECT_EQ(TextOf(window, "1005"), "全体");
    EXPECT_FALSE(menu->isVisible());
    rightClick(1);
    EXPECT_EQ(window.Core().session.target, 1);
    EXPECT_EQ(TextOf(window, "1005"), "Ann");
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    // Below the last member: no item, the target stays.
    emit list->customContextMenuRequested(QPoint(5, list->viewport()->height() - 2));
    EXPECT_EQ(window.Core().session.target, 1);
    EXPECT_FALSE(menu->isVisible());

    // The member information window of the chosen member.
    clock.Advance(3600 + 2 * 60 + 5);
    std::map<QString, QString> fields;
    runner.steps.push_back([&fields](QDialog& info) {
        EXPECT_EQ(info.objectName(), "147");
        for (const char* id : {"1005", "1085", "1086", "1087", "1088", "1089"})
            fields[id] = TextOf(info, id);
    });
    Trigger(32823);
    EXPECT_EQ(fields, (std::map<QString, QString>{{"1005", "Ann"},
                                                  {"1085", "1"},
                                                  {"1086", START_CLOCK},
                                                  {"1087", "01:02:05"},
                                                  {"1088", "0"},
                                                  {"1089", "0"}}));
}

TEST_F(SessionDlgTest, TimeSuffixSwitchRerendersEarlierLines) {
    Create();
    const QStringList plain = ChatLines();
    clock.Advance(65);
    Send("later");
    const QString later = LastChatLine();
    const auto setTimes = [this](bool onChat, bool onMessages) {
        Settings([onChat, onMessages](QDialog& settings) {
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
