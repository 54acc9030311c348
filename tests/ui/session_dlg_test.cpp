#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSlider>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <tuple>

#include "protocol/packets.h"
#include "record/record_test_util.h"
#include "record/recording_file.h"
#include "session/address_code.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "support/core_fakes.h"
#include "ui/command_ids.h"
#include "ui/gbk_edit.h"
#include "ui/progress_dialog.h"
#include "ui/replay_dlg.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

class SessionDlgTest : public ::testing::Test, public TestWindow {
protected:
    QCheckBox* Box(const char* id) { return window.findChild<QCheckBox*>(id); }
    QLineEdit* Input() { return window.findChild<QLineEdit*>("1008"); }
    // The title the next paint shows.
    QString Title() {
        window.ShowNow();
        return window.windowTitle();
    }
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
    // The chat area's line at the top of its view, as painted.
    QString TopLine() {
        window.ShowNow();
        QApplication::processEvents();
        auto* pane = window.findChild<QPlainTextEdit*>("1001");
        const QTextCursor at = pane->cursorForPosition(QPoint(0, pane->fontMetrics().height() / 2));
        const QString text = pane->toPlainText();
        const auto start = text.lastIndexOf('\n', std::max(0, at.position() - 1)) + 1;
        return text.mid(start, text.indexOf('\n', start) - start);
    }
    void ShowTimes(bool on) {
        S().settings.showTimeOnChat = on;
        window.RefreshChat();
        ExpectPanesMatchSession();
    }
    // The dialogs, boxes (by caption), file dialogs, chat lines and addresses the act opened.
    QStringList Effect(const std::function<void()>& act) {
        const std::size_t dialogs = runner.shown.size(), boxes = prompter.boxes.size(),
                          files = prompter.fileRequests.size(), lines = S().lines.size();
        opened.clear();
        act();
        QStringList out;
        for (std::size_t k = dialogs; k < runner.shown.size(); ++k)
            out << "dialog " + runner.shown[k];
        for (std::size_t k = boxes; k < prompter.boxes.size(); ++k)
            out << QString::fromStdString("box " + prompter.boxes[k].caption);
        for (std::size_t k = files; k < prompter.fileRequests.size(); ++k)
            out << QString::fromStdString("file " + prompter.fileRequests[k].defaultExtension);
        for (std::size_t k = lines; k < S().lines.size(); ++k)
            out << "chat " + ToScreen(S().lines[k].text);
        for (const QUrl& url : opened)
            out << "url " + url.host();
        return out;
    }

    std::vector<QUrl> opened;
};

TEST_F(SessionDlgTest, StartsIdleWithBannerAndHelpAndEscapeClosesNothing) {
    EXPECT_EQ(runner.shown, std::vector<QString>{"141"});
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_EQ(Title(), "Kolvena v1.0 未与会话连接");
    EXPECT_EQ(Rows(), QStringList{});
    EXPECT_EQ(TextsOf(window, {"1005", "32774", "32773"}), "|退出会话|离开一会");
    EXPECT_EQ(S().lines.size(), 4u);
    ExpectPanesMatchSession();
    EXPECT_EQ(window.Mode(), WindowMode::Idle);

    QString boxes;
    for (const char* id : {"1053", "1011", "1012", "1054"})
        boxes += QString(Box(id)->isChecked() ? "x" : "-") + (Box(id)->isEnabled() ? "" : "(off)");
    EXPECT_EQ(boxes, "x---(off)");
    EXPECT_EQ(Marks({32802, 32828, 32801, 32805, 32803, 32804, 32806, 32830, 32771, 32772,
                     32775, 32776, 32774, 32773, 32794, 32780, 32778, 32816, 32781, 57665}),
              "x-------xxxxxxxxxxxx");
    // The images are drawn in code: a blank one would leave a button without a face.
    const auto hasInk = [](const QIcon& icon) {
        const QImage image = icon.pixmap(24, 24).toImage().convertToFormat(QImage::Format_Alpha8);
        QImage blank(image.size(), QImage::Format_Alpha8);
        blank.fill(0);
        return image != blank;
    };
    EXPECT_TRUE(hasInk(window.windowIcon()));
    QStringList toolbar;
    for (const QAction* action : window.findChild<QToolBar*>("128")->actions()) {
        toolbar << action->objectName();
        EXPECT_EQ(hasInk(action->icon()), !action->isSeparator()) << toolbar.size();
    }
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

// From its menu item, its button and its pop-up item, each command shows its handler's effect.
TEST_F(SessionDlgTest, EveryCommandIsWiredToItsItemButtonAndPopUp) {
    window.openUrl = [this](const QUrl& url) { opened.push_back(url); };
    // The command, its effect, and its item in the member pop-up menu (if any).
    using Row = std::tuple<int, QString, const char*>;
    const auto expectWired = [this](const Row& row) {
        const auto& [id, effect, popUp] = row;
        SCOPED_TRACE(id);
        // Questions are declined, so that the next way in finds the same state.
        const auto run = [&](const std::function<void()>& act) {
            Input()->setText("hi");
            prompter.answers = {BoxAnswer::No};
            return Effect(act);
        };
        EXPECT_EQ(run([&] { Trigger(id); }), QStringList{effect});
        if (auto* button = window.findChild<QPushButton*>(QString::number(id))) {
            EXPECT_EQ(run([&] { button->click(); }), QStringList{effect});
        }
        if (popUp != nullptr) {
            QAction* item = window.MemberMenu()->findChild<QAction*>(popUp);
            EXPECT_EQ(run([&] { item->trigger(); }), QStringList{effect});
        }
    };
    const Row idle[] = {
        {ID_CREATE, "dialog 130", nullptr},       {ID_JOIN, "dialog 132", nullptr},
        {ID_SEARCH, "dialog 160", nullptr},       {ID_STATUS, "box 查看会话状态", nullptr},
        {ID_SAVE_TEXT, "box ", nullptr},          {ID_OPEN_TEXT, "file txt", nullptr},
        {ID_OPEN_RECORDING, "file prs", nullptr}, {ID_HELP, "dialog 141", nullptr},
        {ID_ABOUT, "dialog 100", nullptr},        {ID_RECOMMEND, "dialog 142", nullptr},
        {ID_EXIT, "box 退出Kolvena?", nullptr},   {ID_HOME_PAGE, "url kolvena.example", nullptr},
    };
    for (const Row& row : idle)
        expectWired(row);
    EXPECT_FALSE(window.Link().IsServing());
    Create();
    window.SelectTarget(1);
    const Row live[] = {
        {ID_SEND, "chat <你> 对自己说: hi", "32778"}, {ID_OFFER, "box 无法传输文件", "32818"},
        {ID_MEMBER_INFO, "dialog 147", nullptr},      {ID_SLEEP, "box 暂时离开", nullptr},
        {ID_LEAVE, "box 您准备退出吗?", nullptr},     {ID_CLEAR, "box 清空窗口内容?", nullptr},
        {ID_RENAME, "dialog 135", nullptr},           {ID_SETTINGS, "dialog 140", nullptr},
        {ID_STATUS, "dialog 134", nullptr},           {ID_SAVE_RECORDING, "file prs", nullptr},
    };
    for (const Row& row : live)
        expectWired(row);
    EXPECT_TRUE(window.Link().IsServing());
}

// Grown, the panes take the extra width and height, the member list the height, and the
// buttons keep their places to the bottom-right corner. Shrunk, it fits a 1366 x 768 screen at
// 125 %; the member list shows its three columns and the leader asleep without scrolling.
TEST_F(SessionDlgTest, ResizingGivesTheRoomToThePanesAndKeepsTheButtonsInTheCorner) {
    const auto at = [this](const char* id) { return window.findChild<QWidget*>(id)->geometry(); };
    QWidget* area = window.centralWidget();
    const QSize before = area->size();
    const QRect messages = at("1000"), chat = at("1001"), members = at("1003"), send = at("32778"),
                rename = at("32781"), shown = at("1054");
    window.resize(window.size() + QSize(200, 120));
    ASSERT_TRUE(WaitFor([&] { return area->size() == before + QSize(200, 120); }));
    EXPECT_EQ(at("1000"), messages.adjusted(0, 0, 200, 30));
    EXPECT_EQ(at("1001"), chat.adjusted(0, 30, 200, 120));
    EXPECT_EQ(at("1003"), members.adjusted(200, 0, 200, 120));
    EXPECT_EQ(std::tuple(at("32778"), at("32781"), at("1054")),
              std::tuple(send.translated(200, 120), rename.translated(200, 120),
                         shown.translated(200, 120)));
    const QSize smallest = window.minimumSizeHint();
    EXPECT_TRUE(smallest.width() <= 1366 / 1.25 && smallest.height() <= (768 - 80) / 1.25)
        << smallest.width() << "x" << smallest.height();

    window.resize(window.sizeHint());
    ASSERT_TRUE(WaitFor([&] { return area->size() == before; }));
    Create();
    auto* list = window.findChild<QTreeWidget*>("1003");
    const int used = list->columnWidth(0) + list->columnWidth(1) + list->columnWidth(2);
    EXPECT_LE(used, list->viewport()->width());
    // The leader's name as proposed, marked and asleep.
    EXPECT_GE(list->columnWidth(0), list->fontMetrics().horizontalAdvance("会话组长(组长)(休眠)"));
}

// A cancelled create starts no session; a refused name keeps the dialog open.
TEST_F(SessionDlgTest, CreateJoinAndRenameDialogsStartFromAndAskTheCore) {
    Open(ID_JOIN, [this](QDialog& join) {
        Type(join, "1037", "  ");
        EXPECT_TRUE(Click(join, "1"));
        EXPECT_NE(join.result(), QDialog::Accepted);
        EXPECT_EQ(prompter.boxes.back().text, "请输入您的名称");
    });
    EXPECT_FALSE(window.Link().Connecting());
    Open(ID_CREATE, [](QDialog& create) { EXPECT_TRUE(Click(create, "2")); });
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
    Open(ID_CREATE, [](QDialog& details) { details.reject(); });
    EXPECT_FALSE(window.Link().IsServing());

    runner.steps.push_back([](QDialog& create) {
        EXPECT_EQ(TextsOf(create, {"1024", "1022"}), "127.0.0.1|6636");
        EXPECT_TRUE(Click(create, "1"));
    });
    Open(ID_CREATE, [](QDialog& details) {
        EXPECT_EQ(TextsOf(details, {"1041", "1042"}), "会话组长|自由主题");
        Type(details, "1041", " ");
        EXPECT_TRUE(Click(details, "1"));
        EXPECT_NE(details.result(), QDialog::Accepted);
        Type(details, "1041", "Ann");
        Type(details, "1042", "闲聊");
        EXPECT_TRUE(Click(details, "1"));
    });
    EXPECT_EQ(window.Link().Code(), MakeAddressCode("127.0.0.1"));
    EXPECT_EQ(Title(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 ");
    EXPECT_EQ(window.Mode(), WindowMode::Live);

    Open(ID_RENAME, [](QDialog& rename) {
        Type(rename, "1065", "   ");
        EXPECT_TRUE(Click(rename, "1"));
        EXPECT_NE(rename.result(), QDialog::Accepted);
        Type(rename, "1065", "Bea");
        EXPECT_TRUE(Click(rename, "1"));
    });
    EXPECT_EQ(Rows(), (QStringList{"全体", "Bea(组长)"}));
}

// Enter sends too; while a recording is loaded the input is left as typed.
TEST_F(SessionDlgTest, SendTakesTheInputAndTheBoxesAndPutsBackTheOutcome) {
    Create();
    // Typed, whisper, notice, answer, effect, and the input and notice box after.
    using Case = std::tuple<QString, bool, bool, BoxAnswer, QString, QString, bool>;
    const Case cases[] = {
        {"大家好", true, false, BoxAnswer::Yes, "chat <你> 对大家说(悄悄话): 大家好", "", false},
        {" memo ", false, true, BoxAnswer::No, "box 发送消息", " memo ", true},
        {"memo", false, true, BoxAnswer::Yes, "box 发送消息", "", false},
        {"   ", false, false, BoxAnswer::Yes, "box 发送错误", "", false},
    };
    for (const auto& [typed, whisper, notice, answer, effect, inputAfter, noticeAfter] : cases) {
        SCOPED_TRACE(typed.toStdString());
        Box("1011")->setChecked(whisper);
        Box("1012")->setChecked(notice);
        prompter.answers = {answer};
        EXPECT_EQ(Effect([&] { Send(typed); }), QStringList{effect});
        EXPECT_EQ(Input()->text(), inputAfter);
        EXPECT_EQ(Box("1012")->isChecked(), noticeAfter);
        EXPECT_EQ(Box("1011")->isChecked(), whisper);
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

// However the session changed: lines with any bytes from the wire, times switched, cleared.
TEST_F(SessionDlgTest, PanesListTitleAndButtonsShowTheSession) {
    Create();
    S().AddBuddy(Buddy::Make("Bob", "127.0.0.2", BuddyRole::Member));
    clock.Advance(65);
    window.RefreshMembers();
    window.RefreshTitle();
    window.SelectTarget(2);
    EXPECT_EQ(Rows(3), (QStringList{"全体||", "Ann(组长)|1|01:46:40", "Bob|2|01:46:40"}));
    EXPECT_EQ(TextOf(window, "1005"), "Bob");
    EXPECT_EQ(Title(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 2 ");

    for (const char* line : {"-->> lead byte at end \x81", "-->> two\r\nlines", "-->> \xff\xfe"})
        Say(line);
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
    EXPECT_EQ(TextsOf(window, {"32774", "32773"}), "退出会话|回到会话");
}

// Own lines, lines to me, whispers and the program's lines have each their colour, appended
// or rebuilt; the text is the session's as it stands.
TEST_F(SessionDlgTest, ChatLinesAreColouredByWhoSaidWhatToWhom) {
    Create();
    S().AddBuddy(Buddy::Make("Bob", "127.0.0.2", BuddyRole::Member));
    const BuddyId ann = S().selfId, bob = S().PresentAt(2)->Id();
    const auto chat = [this](BuddyId from, ActiveIndex to, bool whisper) {
        S().lines.push_back(*S().ComposeChatLine({"", to, from, whisper, 0, "hi"}));
    };
    const std::size_t first = S().lines.size();
    chat(ann, ActiveIndex(), false);
    chat(bob, ActiveIndex(1), false);
    chat(bob, ActiveIndex(1), true);
    chat(bob, ActiveIndex(), false);
    Say("-->> 系统");
    const auto colours = [&] {
        QStringList out;
        auto* pane = window.findChild<QPlainTextEdit*>("1001");
        const QStringList lines = TextOf(window, "1001").split('\n');
        int at = 0;
        for (std::size_t k = 0; k < first; ++k)
            at += int(lines.value(int(k)).size()) + 1;
        for (std::size_t k = first; k < first + 5 && int(k) < lines.size(); ++k) {
            // The format of a line's first character.
            QTextCursor cursor(pane->document());
            cursor.setPosition(at + 1);
            at += int(lines[int(k)].size()) + 1;
            const QTextCharFormat format = cursor.charFormat();
            out << (format.hasProperty(QTextFormat::ForegroundBrush)
                        ? format.foreground().color().name()
                        : "-");
        }
        return out;
    };
    const QStringList shown = colours();
    EXPECT_EQ(shown.size(), 5);
    EXPECT_EQ(shown.value(3), "-");
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()).size(), 5) << shown.join(' ').toStdString();
    ShowTimes(true);
    EXPECT_EQ(colours(), shown);
}

// Lines share blocks to save memory, which nobody sees: copying gives a line break after each
// line, and a triple click still takes one line, also in the middle of a block and at its end.
TEST_F(SessionDlgTest, ChatLinesCopyAndTripleClickAsLines) {
    for (int k = 0; k < 20; ++k)
        Say(k == 5 ? std::string() : "-->> line " + std::to_string(k));
    // Empty lines are lines too, also the first, when the text is rebuilt.
    S().lines.insert(S().lines.begin(), S().lines[5]);
    S().lines.front().text.clear();
    window.RefreshChat();
    ExpectPanesMatchSession();
    auto* pane = window.findChild<QPlainTextEdit*>("1001");
    ASSERT_LT(pane->document()->blockCount(), int(S().lines.size()));
    pane->selectAll();
    EXPECT_EQ(pane->textCursor().selection().toPlainText(), PaneText(S().RenderLines()));

    const auto tripleClick = [pane](const QString& line) {
        const int at = int(pane->toPlainText().indexOf(line)) + 2;
        QTextCursor cursor(pane->document());
        cursor.setPosition(at);
        const QPoint point = pane->cursorRect(cursor).center();
        for (const QEvent::Type type :
             {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
              QEvent::MouseButtonRelease, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent event(type, point, pane->viewport()->mapToGlobal(point), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(pane->viewport(), &event);
        }
        return pane->textCursor().selection().toPlainText();
    };
    for (const char* line : {"-->> line 3", "-->> line 12", "-->> line 19"}) {
        pane->verticalScrollBar()->setValue(0);
        pane->ensureCursorVisible();
        QTextCursor cursor(pane->document());
        cursor.setPosition(int(pane->toPlainText().indexOf(QString::fromUtf8(line))));
        pane->setTextCursor(cursor);
        pane->ensureCursorVisible();
        EXPECT_EQ(tripleClick(QString::fromUtf8(line)), QString::fromUtf8(line) + "\n") << line;
    }
}

// The find bar finds every match ignoring case, in lines that arrive meanwhile too; Enter and
// F3 step on, with Shift back, around the ends; Escape closes the bar, not the window.
TEST_F(SessionDlgTest, FindBarFindsStepsAndClosesOnEscape) {
    for (const char* line : {"-->> Alpha one", "-->> beta", "-->> ALPHA two", "-->> 中文 alpha"})
        Say(ToGbk(line));
    auto* chat = window.findChild<QPlainTextEdit*>("1001");
    const QRect pane = chat->geometry();
    Trigger(ID_FIND);
    QWidget* bar = window.findChild<QWidget*>("1110");
    ASSERT_TRUE(bar->isVisible());
    EXPECT_EQ(chat->geometry().bottom(), bar->geometry().top() - 1);
    const auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(window.findChild<QLineEdit*>("1111"), &event);
        return TextOf(window, "1112") + " " + chat->textCursor().selectedText();
    };
    Type(window, "1111", "alpha");
    EXPECT_EQ(TextOf(window, "1112"), "第 1/3 处");
    EXPECT_EQ(chat->extraSelections().size(), 3);
    EXPECT_EQ(press(Qt::Key_Return), "第 2/3 处 ALPHA");
    EXPECT_EQ(press(Qt::Key_F3), "第 3/3 处 alpha");
    EXPECT_EQ(press(Qt::Key_Return), "第 1/3 处 Alpha");
    EXPECT_EQ(press(Qt::Key_F3, Qt::ShiftModifier), "第 3/3 处 alpha");
    Say("-->> alpha again");
    EXPECT_EQ(TextOf(window, "1112"), "第 3/4 处");
    Type(window, "1111", "中文");
    EXPECT_EQ(TextOf(window, "1112"), "第 1/1 处");
    Type(window, "1111", "zzz");
    EXPECT_EQ(TextOf(window, "1112"), "没有找到");
    press(Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(chat->geometry(), pane);
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

// While hosting, the dialog's checks are the core's and what it applies reaches the link.
TEST_F(SessionDlgTest, SettingsGreyHostControlsOutsideHostingAndApplyWhileHosting) {
    const auto all = {"1074", "1081", "1076", "1080", "1011", "1077", "1079", "1083"};
    Open(ID_SETTINGS, [&](QDialog& settings) {
        EXPECT_EQ(EnabledOf(settings, all), (QStringList{"1011", "1077", "1079", "1083"}));
    });
    Create();
    Open(ID_SETTINGS, [&](QDialog& settings) {
        EXPECT_EQ(EnabledOf(settings, all).size(), 8);
        settings.findChild<QCheckBox*>("1083")->setChecked(false);
        Type(settings, "1076", "101");
        EXPECT_TRUE(Click(settings, "1"));
        EXPECT_NE(settings.result(), QDialog::Accepted);
        Type(settings, "1076", "5");
        settings.findChild<QCheckBox*>("1081")->setChecked(false);
        EXPECT_TRUE(Click(settings, "1"));
    });
    EXPECT_TRUE(runner.steps.empty());
    EXPECT_EQ(S().settings.maxClients, 5);
    EXPECT_FALSE(S().settings.searchAllowed);
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
    const QString top = TopLine();
    Say("-->> more");
    EXPECT_EQ(bar->value(), 7);
    EXPECT_EQ(TopLine(), top);
    // A full re-render (the time suffix) keeps the line at the top too.
    ShowTimes(true);
    EXPECT_TRUE(TopLine().startsWith(top)) << TopLine().toStdString() << " / " << top.toStdString();

    Box("1053")->click();
    EXPECT_EQ(bar->value(), bar->maximum());
    Say("-->> last");
    EXPECT_EQ(bar->value(), bar->maximum());
}

// Lines that arrive in one turn of the event loop are shown together once it runs: complete, in
// order, and scrolled as the auto-scroll box says, without a call from the test.
TEST_F(SessionDlgTest, ABurstOfLinesIsShownCompleteInOrderAndScrolledByTheRules) {
    auto* chat = window.findChild<QPlainTextEdit*>("1001");
    QScrollBar* bar = chat->verticalScrollBar();
    const auto burst = [&](int lines) {
        const QString before = chat->toPlainText();
        for (int k = 0; k < lines; ++k)
            test::CoreAccess::Parts(window.Core())
                .show.SayNow("-->> " + std::to_string(S().lines.size()));
        EXPECT_EQ(chat->toPlainText(), before); // no display work within the turn
        EXPECT_TRUE(WaitFor([&] { return chat->toPlainText() == PaneText(S().RenderLines()); }));
        return bar->value() == bar->maximum() ? -1 : bar->value();
    };
    EXPECT_EQ(burst(5000), -1); // at the end
    Box("1053")->click();
    bar->setValue(7);
    EXPECT_EQ(burst(300), 7);
    Box("1053")->click();
    EXPECT_EQ(burst(300), -1);
}

// The chat area, painted from its picture, shows what it would paint itself once the event
// loop has run: after lines arrive, after a selection and after the user scrolls.
TEST_F(SessionDlgTest, TheChatAreaShowsWhatItPaintsItself) {
    auto* chat = window.findChild<QPlainTextEdit*>("1001");
    QWidget* viewport = chat->viewport();
    QObject* painter = chat->findChild<QObject*>("chat-painter");
    ASSERT_NE(painter, nullptr);
    const auto direct = [&] {
        viewport->removeEventFilter(painter);
        const QImage image = viewport->grab().toImage();
        viewport->installEventFilter(painter);
        return image;
    };
    // The picture is made while the event loop runs.
    const auto showsItself = [&] {
        QElapsedTimer settling;
        settling.start();
        while (settling.elapsed() < 50)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        return WaitFor([&] { return viewport->grab().toImage() == direct(); });
    };
    const auto frames = [&] {
        for (int frame = 0; frame < 5; ++frame) {
            for (int k = 0; k < 40; ++k)
                test::CoreAccess::Parts(window.Core()).show.SayNow("-->> 第 " + std::to_string(k));
            window.ShowNow();
            QApplication::processEvents();
        }
    };
    frames();
    ASSERT_TRUE(showsItself());
    frames(); // now with a picture to start from
    EXPECT_TRUE(showsItself());
    const QImage atEnd = viewport->grab().toImage();
    chat->selectAll();
    EXPECT_TRUE(showsItself());
    EXPECT_NE(viewport->grab().toImage(), atEnd);
    chat->verticalScrollBar()->setValue(0);
    EXPECT_TRUE(showsItself());
    Say("-->> one more");
    EXPECT_TRUE(showsItself());
}

// Lines arriving frame after frame leave the chat area's slider at the end, and its bar is not
// repainted for them; a move the user can see repaints it.
TEST_F(SessionDlgTest, ChatScrollBarRepaintsOnlyWhenTheSliderMoves) {
    struct PaintCount : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint;
            return false;
        }
    } count;
    QScrollBar* bar = window.findChild<QPlainTextEdit*>("1001")->verticalScrollBar();
    bar->installEventFilter(&count);
    const auto frames = [&](int frames, int lines) {
        for (int f = 0; f < frames; ++f) {
            for (int k = 0; k < lines; ++k)
                test::CoreAccess::Parts(window.Core()).show.SayNow("-->> " + std::to_string(k));
            window.ShowNow();
            QApplication::processEvents();
        }
    };
    frames(1, 5000);
    ASSERT_EQ(bar->value(), bar->maximum());
    const int before = count.paints;
    frames(20, 33);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_LE(count.paints - before, 1);

    const int steady = count.paints;
    bar->setValue(0);
    EXPECT_TRUE(WaitFor([&] { return count.paints > steady; }));
    bar->setValue(bar->maximum());
    const int atTop = count.paints;
    EXPECT_TRUE(WaitFor([&] { return count.paints > atTop; }));
}

// While a join is under way, each tick of the join timer adds a dot to the joining line and the
// pane shows each; the join fails only once the event loop runs.
TEST_F(SessionDlgTest, JoiningLineGainsADotOnEachTick) {
    Join("127.0.0.1");
    QString line = "-->> 正在登陆会话主机 请稍候 ...";
    for (int tick = 0; tick < 3; ++tick) {
        EXPECT_TRUE(ChatHas(line)) << tick;
        window.Core().commands().JoinTick();
        line += '.';
    }
    EXPECT_TRUE(ChatHas(line));
}

// A recording without a next part to go on in fills up: the warning neither blocks nor takes
// the keyboard.
TEST_F(SessionDlgTest, FullRecordingWarnsWithoutAModalBox) {
    Create();
    EventLog& log = test::RecorderOf(window.Core()).log;
    while (log.AppendEvent(EventKind::EvChatLine, "x")) {
    }
    auto* box = window.findChild<QWidget*>("limit");
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(box->testAttribute(Qt::WA_ShowWithoutActivating));
    EXPECT_TRUE(std::none_of(prompter.boxes.begin(), prompter.boxes.end(),
                             [](const auto& shown) { return shown.notice == Notice::LogFull; }));
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
    Open(ID_MEMBER_INFO, [](QDialog& info) {
        EXPECT_EQ(TextsOf(info, {"1005", "1087"}), "Ann|01:02:05");
    });
    EXPECT_TRUE(runner.steps.empty());
}

TEST_F(SessionDlgTest, ProgressWindowFollowsTheTransferView) {
    window.OpenProgress("a.bin      文件大小:25000字节", 3, 25000);
    QPointer<TransferProgressDialog> first = window.TransferWindow();
    ASSERT_FALSE(first.isNull());
    EXPECT_EQ(first->parent(), &window);
    window.ShowProgress(1, 3, 100.0 / 3);
    EXPECT_EQ(TextOf(*first, "1092"), "传输进度   % 33 1");

    // A new transfer replaces the earlier window.
    window.OpenProgress("b.bin      文件大小:0字节", 0, 0);
    QPointer<TransferProgressDialog> second = window.TransferWindow();
    ASSERT_NE(second.data(), first.data());
    EXPECT_EQ(TextOf(*second, "1093"), "b.bin      文件大小:0字节");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    window.CloseProgress();
    EXPECT_EQ(window.TransferWindow(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(second.isNull());
    // Steps after the end have nowhere to go.
    window.ShowProgress(1, 1, 100.0);
    window.CloseProgress();
}

constexpr CalendarTime START = 1000000000; // 2001-09-09 01:46:40 UTC

// The session created, then chat lines "line 1".., `gap` s apart; saved `gap` s after the last.
std::string WriteRecording(const TempDir& dir, int lines, int gap = 2) {
    std::vector<std::string> texts;
    for (int i = 1; i <= lines; ++i)
        texts.push_back("line " + std::to_string(i));
    const std::string path = dir.File("r" + std::to_string(lines) + ".prs");
    EXPECT_TRUE(WriteChatRecording(path, "闲聊", START, texts, gap, gap, false));
    return path;
}

class ReplayWindowTest : public SessionDlgTest {
protected:
    // The chat pane's lines: every line ends in a break and one more follows the last.
    QStringList ChatLines() {
        QStringList lines = TextOf(window, "1001").split('\n');
        return lines.mid(0, lines.size() - 2);
    }
    // Opens the recording through the menu.
    void Load(const std::string& path) {
        prompter.paths.push_back(path);
        Trigger(ID_OPEN_RECORDING);
        ASSERT_NE(window.ReplayWindow(), nullptr);
    }
    CReplayDlg& Control() { return *window.ReplayWindow(); }
    QSlider* Slider() { return Control().findChild<QSlider*>("1095"); }
    // The control window's title state, play button, position and slider; the pause mark.
    QString View() {
        return Control().windowTitle().remove("Kolvena - 会话重放控制") + "|" +
               TextsOf(Control(), {"1096", "1082"}) + "|" + QString::number(Slider()->value()) +
               (Action(ID_PAUSE)->isChecked() ? "|paused" : "|");
    }
    EventLog& Log() { return test::RecorderOf(window.Core()).log; }
    // Whether the control window is open; its two check marks must say the same.
    bool ControlOpen() {
        const bool open = window.ReplayWindow() != nullptr;
        EXPECT_EQ(Action(ID_REPLAY_WINDOW)->isChecked(), open);
        EXPECT_EQ(Box("1054")->isChecked(), open);
        return open;
    }

    TempDir dir;
};

TEST_F(ReplayWindowTest, ControlWindowFollowsPlayPauseSeekAndEnd) {
    const QString banner = TextOf(window, "1001");
    // 1 + 19 events, 2 s apart, saved 2 s after the last: 40 s recorded.
    Load(WriteRecording(dir, 19));
    EXPECT_TRUE(Control().isVisible());
    EXPECT_TRUE(ControlOpen());
    EXPECT_EQ(View(), " (暂停播放)|播放| <闲聊>  00:00:00-00:00:40|1|paused");
    EXPECT_EQ(Title(), "Kolvena v1.0  主题:  ---- 在线人数: 0 (会话重放--暂停)");
    EXPECT_EQ(window.Mode(), WindowMode::ReplayLoaded);
    EXPECT_TRUE(Box("1054")->isEnabled());
    Open(ID_RECORDING_PROPERTIES, [](QDialog& properties) {
        EXPECT_EQ(TextsOf(properties, {"1042", "1086", "1101", "1103", "1104", "1105"}),
                  "闲聊|01:46:40 (9/9/2001)-01:47:20 (9/9/2001)|20|1|19|0");
    });
    EXPECT_EQ(runner.shown.back(), "150");

    EXPECT_TRUE(Click(Control(), "1096"));
    for (int i = 0; i < 3; ++i)
        window.Core().replay().Tick();
    EXPECT_EQ(View(), " (正在播放)|暂停| <闲聊>  00:00:04-00:00:40|3|");
    EXPECT_EQ(Title(), "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 (会话重放--正在播放)");
    EXPECT_EQ(window.ReplayTimerOf().IntervalMs(), 1000);
    Trigger(ID_PAUSE);
    EXPECT_EQ(View(), " (暂停播放)|播放| <闲聊>  00:00:06-00:00:40|4|paused");
    Trigger(ID_PAUSE);

    // The user's drag seeks and playing goes on from there; the program's own move does not.
    Slider()->setSliderPosition(5);
    EXPECT_EQ(Log().cursor, 6u);
    EXPECT_EQ(ChatLines().back(), "<你> 对大家说: line 4");
    window.Core().replay().Tick();
    EXPECT_EQ(View(), " (正在播放)|暂停| <闲聊>  00:00:10-00:00:40|6|");
    EXPECT_TRUE(window.ReplayTimerOf().IsActive());
    Slider()->setValue(10);
    EXPECT_EQ(Log().cursor, 7u);

    // To the end: paused, the restart button; it plays again from the start.
    Slider()->triggerAction(QAbstractSlider::SliderToMaximum);
    EXPECT_EQ(View(), " (播放结束)|重放| <闲聊>  00:00:40-00:00:40|20|paused");
    EXPECT_FALSE(window.ReplayTimerOf().IsActive());
    EXPECT_TRUE(Click(Control(), "1096"));
    EXPECT_EQ(View(), " (正在播放)|暂停| <闲聊>  00:00:00-00:00:40|1|");
    EXPECT_TRUE(window.ReplayTimerOf().IsActive());
    EXPECT_EQ(TextOf(window, "1001"), banner);
}

TEST_F(ReplayWindowTest, SliderRangeTicksAndPositionFollowTheLog) {
    // The control window works on a core alone, without the main window.
    test::FakeCore fake;
    EventLog& log = test::RecorderOf(fake.core).log;
    log.header.topic = std::string("ab\0cd", 5); // shown up to its terminator
    // Events and cursor -> minimum, maximum, tick interval, value.
    for (const auto& [events, cursor, range] : {std::tuple{20, 1, "1 20 1 1"},
                                                {31, 1, "1 31 2 1"},
                                                {150, 40, "1 150 10 40"},
                                                {0, 1, "1 1 1 1"}}) {
        log.header.eventCount = static_cast<std::uint16_t>(events);
        log.cursor = static_cast<std::uint32_t>(cursor);
        CReplayDlg control(fake.core);
        control.ResetReplay();
        const auto* slider = control.findChild<QSlider*>("1095");
        EXPECT_EQ(QString::asprintf("%d %d %d %d", slider->minimum(), slider->maximum(),
                                    slider->tickInterval(), slider->value()),
                  range);
        EXPECT_NE(slider->tickPosition(), QSlider::NoTicks);
        control.ShowPosition(static_cast<std::uint32_t>(events));
        EXPECT_EQ(slider->value(), std::max(events, 1));
        EXPECT_EQ(TextOf(control, "1082"), " <ab>  00:00:00-00:00:00");
    }
}

TEST_F(ReplayWindowTest, ClosingTheControlWindowClearsItsMarks) {
    Load(WriteRecording(dir, 19));
    EXPECT_TRUE(Click(Control(), "1096"));
    for (int i = 0; i < 4; ++i)
        window.Core().replay().Tick();
    QPointer<CReplayDlg> first = window.ReplayWindow();
    first->close();
    EXPECT_FALSE(ControlOpen());
    // The replay goes on without the window.
    window.Core().replay().Tick();
    EXPECT_EQ(ChatLines().back(), "<你> 对大家说: line 4");

    // The menu item opens a new one at the current position.
    Trigger(ID_REPLAY_WINDOW);
    ASSERT_TRUE(ControlOpen());
    EXPECT_NE(window.ReplayWindow(), first.data());
    EXPECT_EQ(Slider()->value(), static_cast<int>(Log().cursor));
    EXPECT_EQ(TextOf(Control(), "1096"), "暂停");

    // The check box closes and opens it too; Escape closes like the close box.
    Box("1054")->click();
    EXPECT_FALSE(ControlOpen());
    Box("1054")->click();
    ASSERT_TRUE(ControlOpen());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(window.ReplayWindow(), &escape);
    EXPECT_FALSE(ControlOpen());

    // The closed windows are destroyed once control returns to the event loop.
    EXPECT_FALSE(first.isNull());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
}

// The chosen speed reaches the timer at the next gap.
TEST_F(ReplayWindowTest, ReplayItemsGreyedUntilLoadedAndSpeedMarks) {
    const auto replayItems = {32828, 32801, 32805, 32803, 32804, 32806, 32830};
    EXPECT_EQ(Marks(replayItems), "-------");
    EXPECT_EQ(Marks({32799, 32820, 32826, 32798, 32818}), "xxxxx");
    Load(WriteRecording(dir, 3, 10));
    EXPECT_EQ(Marks(replayItems), "xxxxxxx");
    const auto speeds = {32805, 32803, 32804, 32806};
    QStringList seen{Marks(speeds, true)};
    for (int id : {ID_SPEED_SLOW, ID_SPEED_FASTEST, ID_SPEED_FASTEST}) {
        Trigger(id);
        seen << Marks(speeds, true);
    }
    EXPECT_EQ(seen, (QStringList{"-x--", "x---", "---x", "---x"}));

    Trigger(ID_PAUSE);
    window.Core().replay().Tick();
    EXPECT_EQ(window.ReplayTimerOf().IntervalMs(), 1250);
    Trigger(ID_SPEED_FAST);
    window.Core().replay().Tick();
    EXPECT_EQ(window.ReplayTimerOf().IntervalMs(), 2500);
}

TEST_F(ReplayWindowTest, NewSessionClosesTheControlWindowAndTheWindowOwnsIt) {
    Load(WriteRecording(dir, 5));
    QPointer<CReplayDlg> control = window.ReplayWindow();
    Create();
    EXPECT_EQ(test::RecorderOf(window.Core()).state, ReplayState::NoReplay);
    EXPECT_FALSE(ControlOpen());
    EXPECT_FALSE(control->isVisible());
    EXPECT_FALSE(Box("1054")->isEnabled());
    EXPECT_FALSE(window.ReplayTimerOf().IsActive());

    // A control window goes with its main window.
    auto other = std::make_unique<test::TestWindow>();
    other->prompter.paths.push_back(WriteRecording(dir, 5));
    other->Trigger(ID_OPEN_RECORDING);
    QPointer<CReplayDlg> owned = other->window.ReplayWindow();
    ASSERT_FALSE(owned.isNull());
    other.reset();
    EXPECT_TRUE(owned.isNull());
}

TEST_F(ReplayWindowTest, TheWindowTimerPlaysOnItsOwn) {
    Load(WriteRecording(dir, 1, 0));
    EXPECT_TRUE(Click(Control(), "1096"));
    // About a second to the first event, 150 ms between two a second apart.
    EXPECT_TRUE(WaitFor([this] { return Log().ended; }));
    EXPECT_EQ(ChatLines().back(), "<你> 对大家说: line 1");
    EXPECT_EQ(prompter.boxes.back().text, "当前会话记录已经重放结束.");
    EXPECT_EQ(Slider()->value(), 2);
}

TEST_F(ReplayWindowTest, SeekingThroughALongRecordingRepaintsOnce) {
    Load(WriteRecording(dir, 20000, 0));
    QElapsedTimer took;
    took.start();
    Slider()->triggerAction(QAbstractSlider::SliderToMaximum);
    const qint64 elapsed = took.elapsed();
    EXPECT_EQ(ChatLines().size(), 4 + 20000); // the banner and the lines
    EXPECT_EQ(ChatLines().back(), "<你> 对大家说: line 20000");
    // A repaint per event would take minutes.
    EXPECT_LT(elapsed, 5000);
}

} // namespace
} // namespace kolvena::ui
