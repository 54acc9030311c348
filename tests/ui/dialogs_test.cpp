#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTranslator>
#include <QTreeWidget>
#include <QUrlQuery>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "record/record_test_util.h"
#include "session/gbk.h"
#include "session/session.h"
#include "ui/extras_dialogs.h"
#include "ui/gbk_edit.h"
#include "ui/info_dialogs.h"
#include "ui/progress_dialog.h"
#include "ui/qt_prompter.h"
#include "ui/search_dialog.h"
#include "ui/session_dialogs.h"
#include "ui/settings_dialog.h"
#include "ui/toolbar_images.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

// The settings as "hosting,verify,chatTime,sound max noticeTime,listen current" marks.
QString Describe(const SettingsValues& v) {
    return QString::asprintf("%d%d%d%d %u %d%d %u", v.hosting, v.verify, v.showTimeOnChat, v.sound,
                             v.maxClients, v.showTimeOnMessages, v.listen, v.currentClients);
}

// In Describe's order: hosting, verify, not timing chat lines, sound, 20 members at most, ...
const SettingsValues HOSTING = {true, true, false, true, 20, true, true, 3};

// A dialog whose validator notes each question in `asked`; `out` reads the dialog alike.
struct Validated {
    std::unique_ptr<QDialog> dialog;
    std::function<QString()> out;
};

Validated Make(const std::string& which, QStringList& asked, bool answer) {
    const auto note = [&asked, answer](const QString& question) {
        asked << question;
        return answer;
    };
    const auto both = [](const std::string& a, const std::string& b) {
        return ToScreen(a) + "|" + ToScreen(b);
    };
    if (which == "host") {
        auto* d = new HostInfoDialog("会话组长", "自由主题", [=](auto& name, auto& topic) {
            return note(both(name, topic));
        });
        return {std::unique_ptr<QDialog>(d), [=] { return both(d->Name(), d->Topic()); }};
    }
    if (which == "rename") {
        auto* d = new RenameDialog([=](auto& name) { return note(ToScreen(name)); });
        return {std::unique_ptr<QDialog>(d), [d] { return ToScreen(d->Name()); }};
    }
    auto* d = new SettingsDialog(HOSTING, [=](auto& values) { return note(Describe(values)); });
    return {std::unique_ptr<QDialog>(d), [d] { return Describe(d->Values()); }};
}

// The fields reach the validator as GBK, cut at whole characters; which controls are greyed
// outside hosting is the window's test.
TEST(ValidatedDialogs, OkAsksTheValidatorWithTheFieldsCancelAndEscapeDoNot) {
    const QString ten = "一二三四五六七八九十", nine = ten.left(9);
    const QString topic = QString("周末聚会").repeated(6), fit = topic.left(20);
    // Dialog, validator's answer, what is typed where, button ('e': Escape), what it returns.
    using Typed = std::vector<std::pair<const char*, QString>>;
    const std::tuple<const char*, bool, Typed, char, QString> rows[] = {
        {"host", false, {{"1041", "   "}}, '1', "   |自由主题"},
        {"host", false, {{"1041", "小王"}, {"1042", ""}}, '1', "小王|"},
        {"host", true, {{"1042", "周末聚会"}}, '1', "会话组长|周末聚会"},
        // 1 + 2 * 10 = 21 bytes: the last character does not fit and goes whole; 48 bytes, 40 fit.
        {"host", true, {{"1041", "a" + ten}, {"1042", topic}}, '1', "a" + nine + "|" + fit},
        {"host", true, {{"1041", ten}}, 'e', ten + "|自由主题"},
        {"rename", false, {{"1065", "  "}}, '1', "  "},
        {"rename", true, {{"1065", "老张十一二三四五六七八九十"}}, '1', "老张十一二三四五六七"},
        {"rename", true, {{"1065", "x"}}, '2', "x"},
        // Past the range is kept for the range check to refuse; what is no number reads as 0.
        {"settings", false, {{"1076", "250"}}, '1', "1101 250 11 3"},
        {"settings", true, {{"1076", "3"}}, '1', "1101 3 11 3"},
        {"settings", true, {{"1076", "1x"}}, '2', "1101 0 11 3"},
        {"settings", true, {{"1076", "9999999999"}}, '2', "1101 0 11 3"},
    };
    for (const auto& [which, answer, typed, press, out] : rows) {
        SCOPED_TRACE(out.toStdString());
        QStringList asked;
        Validated made = Make(which, asked, answer);
        // A refused OK leaves the dialog's result as it was; Cancel and Escape must set theirs.
        const bool ok = press == '1';
        made.dialog->setResult(ok ? QDialog::Rejected : QDialog::Accepted);
        for (const auto& [id, text] : typed)
            Type(*made.dialog, id, text);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        if (press == 'e')
            QApplication::sendEvent(made.dialog.get(), &escape);
        else
            ASSERT_TRUE(Click(*made.dialog, ok ? "1" : "2"));
        EXPECT_EQ(asked, ok ? QStringList{out} : QStringList{});
        EXPECT_EQ(made.dialog->result() == QDialog::Accepted, ok && answer);
        EXPECT_EQ(made.out(), out);
    }
    // A cut is said beside the field.
    RenameDialog rename({});
    EXPECT_TRUE(rename.findChild<QLineEdit*>("1065")->toolTip().isEmpty());
    Type(rename, "1065", ten + ten);
    EXPECT_EQ(rename.findChild<QLineEdit*>("1065")->toolTip(),
              "最多 20 个字节（10 个汉字），多出的部分已去掉。");
    // Start values too long for their fields are cut too.
    EXPECT_EQ(HostInfoDialog((ten + "壹").toStdString(), "", {}).Name(), FromScreen(ten));
}

TEST(SettingsDialog, ValuesFollowTheCheckBoxes) {
    SettingsDialog dialog(HOSTING, {});
    EXPECT_EQ(Describe(dialog.Values()), "1101 20 11 3");
    EXPECT_TRUE(dialog.Values().search);
    for (const char* id : {"1074", "1077", "1079", "1081", "1083"})
        dialog.findChild<QCheckBox*>(id)->setChecked(false);
    dialog.findChild<QCheckBox*>("1011")->setChecked(true);
    EXPECT_EQ(Describe(dialog.Values()), "1010 20 00 3");
    EXPECT_FALSE(dialog.Values().search);
}

// Rows appear and change as answers come; only an open session can be chosen, the others say
// why; every search asks the ports given and the addresses typed.
TEST(SearchDialog, ListsAnswersAsTheyComeAndChoosesOnlyOpenSessions) {
    FakeSearch search;
    auto dialog = std::make_unique<SearchDialog>(search, std::vector<std::uint16_t>{6636, 7000});
    auto* list = dialog->findChild<QTreeWidget*>("1100");
    const auto rows = [list] {
        QStringList out;
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            QStringList cells;
            for (int column = 0; column < list->columnCount(); ++column)
                cells << list->topLevelItem(row)->text(column);
            out << cells.join('|');
        }
        return out;
    };
    // Selects the row, or none, and gives whether joining is offered and the status line.
    const auto select = [&](int row) {
        list->setCurrentItem(row < 0 ? nullptr : list->topLevelItem(row));
        if (row < 0)
            list->clearSelection();
        return EnabledOf(*dialog, {"1"}).join("") + "|" + TextOf(*dialog, "1103");
    };
    QStringList header;
    for (int column = 0; column < list->columnCount(); ++column)
        header << list->headerItem()->text(column);
    EXPECT_EQ(header.join('|'), "主题|组长|人数|状态|地址编码|主机地址");
    ASSERT_EQ(search.asked.size(), 1u);
    EXPECT_EQ(search.asked[0].ports, (std::vector<std::uint16_t>{6636, 7000}));
    EXPECT_EQ(select(-1), "|正在搜索局域网中的会话...");

    search.Answer({"127.0.0.1", 6636, 16735986, 3, 10, SearchState::Open, false, "闲聊", "Ann"});
    search.Answer({"198.18.0.2", 7000, 1, 10, 10, SearchState::Full, true, "满了", "Bea"});
    search.Answer({"198.18.0.3", 6636, 2, 1, 5, SearchState::Closed, false, "关门", "Cy"});
    search.Answer({"127.0.0.1", 6636, 16735986, 4, 10, SearchState::Open, false, "闲聊", "Ann"});
    EXPECT_EQ(rows(), (QStringList{"闲聊|Ann|4/10|可加入|16735986|127.0.0.1",
                                   "满了|Bea|10/10|已满|1|198.18.0.2:7000",
                                   "关门|Cy|1/5|已关闭|2|198.18.0.3"}));
    EXPECT_EQ(select(1), "|该会话已满（10/10），暂时不能加入。");
    emit list->itemActivated(list->topLevelItem(1), 0);
    EXPECT_EQ(select(2), "|该会话已关闭，组长暂不接受新成员加入。");
    search.Finish();
    EXPECT_EQ(select(0), "1|找到 3 个会话。");
    EXPECT_FALSE(dialog->Chosen());

    Type(*dialog, "1101", "198.18.0.9， bad;198.18.0.10:7001 198.18.0.11:0");
    search.opens = false;
    ASSERT_TRUE(Click(*dialog, "1102"));
    EXPECT_EQ(rows(), QStringList{});
    EXPECT_EQ(search.asked.back().addresses,
              (std::vector<std::string>{"198.18.0.9", "198.18.0.10"}));
    EXPECT_EQ(search.asked.back().ports, (std::vector<std::uint16_t>{6636, 7000, 7001}));
    EXPECT_EQ(select(-1), "|无法搜索：不能打开网络端口。 无效的地址: bad 198.18.0.11:0");
    search.Finish();
    EXPECT_EQ(select(-1), "|没有找到会话。其他网段的主机可以在上面填写地址直接查询。");

    search.opens = true;
    ASSERT_TRUE(Click(*dialog, "1102"));
    search.Answer({"198.18.0.4", 7000, 9, 0, 1, SearchState::Open, true, "", "Dee"});
    dialog->setResult(QDialog::Rejected);
    emit list->itemActivated(list->topLevelItem(0), 0);
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    ASSERT_TRUE(dialog->Chosen());
    EXPECT_EQ(std::tuple(dialog->Chosen()->address, dialog->Chosen()->port),
              std::tuple("198.18.0.4", 7000));
    dialog.reset();
    EXPECT_FALSE(search.running);
}

TEST(CreateSessionDialog, ShowsTheAddressAndMakesItsCode) {
    CreateSessionDialog dialog("192.168.0.1", 6636);
    EXPECT_EQ(TextsOf(dialog, {"1024", "1022", "1031"}), "192.168.0.1|6636|0");
    dialog.setResult(-1);
    ASSERT_TRUE(Click(dialog, "1026"));
    EXPECT_EQ(TextOf(dialog, "1031"), "16779059");
    EXPECT_EQ(dialog.result(), -1);
    ASSERT_TRUE(Click(dialog, "2"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// A join request as one value: mode, code, address, port and name.
auto Fields(const JoinRequest& r) {
    return std::tuple(r.mode, r.code, r.address, r.port, r.name);
}

TEST(JoinSessionDialog, RequestFollowsTheFieldsAndTheMode) {
    EXPECT_EQ(TextOf(*std::make_unique<JoinSessionDialog>(""), "1037"), "游客");
    JoinSessionDialog dialog(ToGbk("游客14:3:9"));
    const auto enabled = [&dialog] { return EnabledOf(dialog, {"1039", "1032", "1040", "1038"}); };
    // The port field's text, and whether it is fixed.
    const auto port = [&dialog] {
        return TextOf(dialog, "1038") +
               (dialog.findChild<QLineEdit*>("1038")->isReadOnly() ? " fixed" : "");
    };
    EXPECT_EQ(TextsOf(dialog, {"1037", "1039"}), "游客14:3:9|0");
    EXPECT_EQ(port(), "6636 fixed");
    EXPECT_EQ(enabled(), QStringList{"1039"});
    // Only digits can be typed; a number past 32 bits reads as 0.
    for (const auto& [typed, shown, code] : {std::tuple{"12ab", "", 0u},
                                             {"4294967295", "4294967295", 4294967295u},
                                             {"4294967296", "4294967296", 0u}}) {
        Type(dialog, "1039", typed);
        EXPECT_EQ(TextOf(dialog, "1039"), shown);
        EXPECT_EQ(dialog.Request().code, code) << typed;
    }
    // The name is returned as typed; trimming is the join command's.
    Type(dialog, "1039", "16779059");
    Type(dialog, "1037", " 小李 ");
    EXPECT_EQ(Fields(dialog.Request()),
              std::tuple(JoinMode::ByCode, 16779059u, "", 6636, ToGbk(" 小李 ")));

    ASSERT_TRUE(Click(dialog, "1030"));
    EXPECT_EQ(enabled(), (QStringList{"1032", "1040", "1038"}));
    Type(dialog, "1032", "  192.168.0.1  ");
    ASSERT_TRUE(Click(dialog, "1040"));
    Type(dialog, "1038", "7000");
    EXPECT_EQ(Fields(dialog.Request()),
              std::tuple(JoinMode::ByAddress, 16779059u, "192.168.0.1", 7000, ToGbk(" 小李 ")));
    // A signed 16-bit field: anything larger reads as 0.
    Type(dialog, "1038", "40000");
    EXPECT_EQ(dialog.Request().port, 0);
    Type(dialog, "1038", "-1");
    EXPECT_EQ(port(), "");
    ASSERT_TRUE(Click(dialog, "1040"));
    EXPECT_EQ(port(), "6636 fixed");
    Type(dialog, "1032", "192.168.100.100.1");
    EXPECT_EQ(TextOf(dialog, "1032"), "192.168.100.100");

    ASSERT_TRUE(Click(dialog, "1029"));
    EXPECT_EQ(dialog.Request().mode, JoinMode::ByCode);
    EXPECT_EQ(enabled(), QStringList{"1039"});
    dialog.setResult(-1);
    ASSERT_TRUE(Click(dialog, "2"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

const auto STATUS_IDS = {"1041", "1066", "1042", "1058", "1062", "1063",
                         "1069", "1070", "1071", "1072", "1073", "1060"};

TEST(StatusDialog, ShowsTheSessionAsASnapshot) {
    FakeClock clock;
    ScriptedPrompter prompter;
    Session session{clock, prompter};
    session.inSession = true;
    session.createdAt = clock.Now();
    EXPECT_EQ(TextsOf(*std::make_unique<StatusDialog>(session, 7), STATUS_IDS),
              "|||01:46:40 09/09/2001|0|0|0|0|0|0|0|编码: 7");

    session.topic = ToGbk("周末聚会");
    session.AddBuddy(Buddy::Make(ToGbk("张三"), "192.168.1.5", BuddyRole::Leader));
    session.selfId = 1;
    session.RecordMessage(ToGbk("欢迎您加入会话"));
    for (const char* name : {"李四", "王五"}) {
        clock.Advance(60);
        session.AddBuddy(Buddy::Make(ToGbk(name), "192.168.1.9", BuddyRole::Member));
    }
    session.MarkBuddyLeft(1);
    auto& counters = session.counters;
    std::tie(counters.ownMessageTotal, counters.relatedSayTotal, counters.ownSayTotal,
             counters.chatLineTotal) = std::tuple(4, 2, 3, 5);
    StatusDialog dialog(session, 3232235781u);
    EXPECT_EQ(TextsOf(dialog, STATUS_IDS),
              "张三|张三|周末聚会|01:46:40 09/09/2001|2|3|1|5|3|2|4|编码: 3232235781");
    session.counters.chatLineTotal = 9;
    EXPECT_EQ(TextOf(dialog, "1070"), "5");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // The own name is found by BuddyID, departed members included; one still arriving: none.
    for (const auto& [self, name] : {std::pair{3, "王五"}, {5, ""}}) {
        session.selfId = static_cast<std::uint16_t>(self);
        EXPECT_EQ(TextOf(*std::make_unique<StatusDialog>(session, 0), "1066"), name);
    }
}

TEST(MemberInfoDialog, ShowsStayUpToNow) {
    Buddy member = Buddy::Make(ToGbk("李四"), "192.168.1.9", BuddyRole::Member);
    member.id = 2;
    member.joinTime = 1000000060;
    member.sayCount = 12;
    member.messageCount = 3;
    MemberInfoDialog dialog(member, member.joinTime + 3600 + 2 * 60 + 5);
    EXPECT_EQ(TextsOf(dialog, {"1005", "1085", "1086", "1087", "1088", "1089"}),
              "李四|2|01:47:40|01:02:05|12|3");

    // A host's clock ahead of ours gives no garbled span; whole days are not shown.
    for (const auto& [now, stay] :
         {std::pair{1000000000, "00:00:00"}, {1000000060 + 2 * 86400 + 61, "00:01:01"}})
        EXPECT_EQ(TextOf(*std::make_unique<MemberInfoDialog>(member, now), "1087"), stay);
    // A name that is not valid GBK still shows, never crashes.
    member.SetName("\xff\xfe");
    EXPECT_NE(TextOf(*std::make_unique<MemberInfoDialog>(member, 0), "1005"), "");
}

TEST(RecommendDialog, CopiesTheTextAndMailsItToAWellFormedAddress) {
    ScriptedPrompter prompter;
    std::vector<QUrl> opened;
    RecommendDialog dialog(prompter, [&opened](const QUrl& url) { opened.push_back(url); });
    const auto press = [&dialog](const char* address, const char* button) {
        dialog.setResult(QDialog::Rejected);
        Type(dialog, "mailAddress", address);
        EXPECT_TRUE(Click(dialog, button));
        return dialog.result() == QDialog::Accepted;
    };
    for (const char* bad : {"not an address", "friend", "a@b?cc=evil@x", "a@@b"})
        EXPECT_FALSE(press(bad, "1")) << bad;
    ASSERT_EQ(prompter.boxes.size(), 4u);
    EXPECT_EQ(prompter.boxes.front().icon, BoxIcon::Warning);
    EXPECT_FALSE(press("friend@example.com", "2"));
    EXPECT_TRUE(prompter.clipboard.empty());
    const QString text = TextOf(dialog, "recommendText");
    EXPECT_FALSE(text.trimmed().isEmpty());
    EXPECT_TRUE(press("   ", "1"));
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), text);
    EXPECT_TRUE(opened.empty());

    prompter.clipboard.clear();
    EXPECT_TRUE(press("  friend@example.com ", "1"));
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), text);
    EXPECT_EQ(prompter.boxes.size(), 4u);
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme() + ":" + opened[0].path(), "mailto:friend@example.com");
    const QUrlQuery query(opened[0]);
    EXPECT_FALSE(query.queryItemValue("subject", QUrl::FullyDecoded).isEmpty());
    QString body = query.queryItemValue("body", QUrl::FullyDecoded);
    EXPECT_TRUE(body.contains("\r\n"));
    EXPECT_EQ(body.replace("\r\n", "\n"), text);
    // Link delimiters in the text survive the mail link.
    dialog.findChild<QPlainTextEdit*>()->setPlainText("a&body=b?c#d 100% + 中文");
    EXPECT_TRUE(press("x@y.cn", "1"));
    EXPECT_EQ(QUrlQuery(opened.back()).allQueryItemValues("body", QUrl::FullyDecoded),
              QStringList{"a&body=b?c#d 100% + 中文"});
}

class ProgressDialogTest : public ::testing::Test {
protected:
    ProgressDialogTest() : dialog(new TransferProgressDialog(prompter)) {
        QObject::connect(dialog, &TransferProgressDialog::giveUpConfirmed, [this] { ++giveUps; });
    }
    ~ProgressDialogTest() override { delete dialog.data(); }

    // The caption, the two lines and the bar's range and value.
    QString View() {
        const auto& bar = *dialog->findChild<QProgressBar*>("1090");
        return dialog->windowTitle() + "|" + TextsOf(*dialog, {"1092", "1093"}) +
               QString::asprintf("|%d..%d %d", bar.minimum(), bar.maximum(), bar.value());
    }

    ScriptedPrompter prompter;
    int giveUps = 0;
    QPointer<TransferProgressDialog> dialog;
};

TEST_F(ProgressDialogTest, StepsShowBarTextAndCaption) {
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    const QString text = "报告.txt      文件大小:25000字节", file = text + " (24.4 KB)";
    dialog->Prepare(text.toStdString(), 3, 25000);
    EXPECT_EQ(View(), "传输文件 - 进度% 0||" + file + "|0..3 0");
    // Rounded to the nearest percent; the file line stays as prepared.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    dialog->Step(1, 3, 100.0 / 3);
    EXPECT_EQ(View(), "传输文件进度   % 33|传输进度   % 33 1|" + file + "|0..3 1");
    // 10,240 bytes in about 20 ms: some hundred KB a second, the rest in well under a second.
    EXPECT_TRUE(QRegularExpression("^[0-9.]+ (KB|MB)/s, 剩余 00:00:0[0-9]$")
                    .match(TextOf(*dialog, "1094"))
                    .hasMatch())
        << TextOf(*dialog, "1094").toStdString();
    dialog->Step(2, 3, 200.0 / 3);
    EXPECT_EQ(View(), "传输文件进度   % 67|传输进度   % 67 2|" + file + "|0..3 2");
}

// The button, the close box and Escape ask; the window stays until the transfer has stopped.
TEST_F(ProgressDialogTest, GivingUpAsksFirstAndCallsBackOnlyOnYes) {
    // Questions asked, give-ups confirmed, whether abort is requested, whether still shown.
    const auto after = [this](BoxAnswer answer, const std::function<void()>& act) {
        prompter.answers = {answer};
        act();
        return QString::asprintf("%zu %d %d %d", prompter.boxes.size(), giveUps,
                                 dialog->AbortRequested(), dialog->isVisible());
    };
    const auto giveUp = [this] { EXPECT_TRUE(Click(*dialog, "1091")); };
    const auto closeBox = [this] { EXPECT_FALSE(dialog->close()); };
    const auto escape = [this] { dialog->reject(); };
    EXPECT_EQ(after(BoxAnswer::No, giveUp), "1 0 0 1");
    EXPECT_EQ(after(BoxAnswer::No, closeBox), "2 0 0 1");
    EXPECT_EQ(after(BoxAnswer::No, escape), "3 0 0 1");
    EXPECT_EQ(after(BoxAnswer::Yes, giveUp), "4 1 1 1");
    EXPECT_EQ(after(BoxAnswer::Yes, closeBox), "5 2 1 1");
    for (const auto& box : prompter.boxes)
        EXPECT_EQ(box.caption, "终止文件传输");
}

// The transfer ends in the question's own event loop: the late Yes gives up nothing.
TEST_F(ProgressDialogTest, TransferEndingWhileTheQuestionIsOpen) {
    prompter.duringAsk = [this] {
        dialog->Dismiss();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(dialog.isNull());
    };
    prompter.answers = {BoxAnswer::Yes};
    ASSERT_TRUE(Click(*dialog, "1091"));
    EXPECT_EQ(giveUps, 0);
    EXPECT_FALSE(dialog->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(dialog.isNull());
}

// The help appears at every start; its box says so and cannot be changed.
TEST(HelpDialog, SaysItAppearsAtEveryStart) {
    HelpDialog help;
    const auto* box = help.findChild<QCheckBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text() + (box->isChecked() ? " on" : "") + (box->isEnabled() ? "" : " fixed"),
              "每次启动时显示 on fixed");
}

// The program's filters ("Description|pattern|...||") as Qt file-dialog filters.
TEST(QtFileFilter, ReadsDescriptionAndPatternPairs) {
    const std::pair<const char*, const char*> cases[] = {
        {"Text (*.txt)|*.txt|All (*.*) | *.* ||", "Text (*.txt);;All (*.*)"},
        {"会话记录 (*.prs)|*.prs||", "会话记录 (*.prs)"},
        {"", ""},
        {"Text (*.txt)|*.txt", "Text (*.txt)"},
        {"  Text (*.txt)  |  *.txt  |", "Text (*.txt)"},
        {"Pictures|*.png *.jpg||", "Pictures (*.png *.jpg)"},
        {"|*.txt|All (*.*)|*.*||", "All (*.*)"},
        {"Text (*.txt)| |All (*.*)|*.*", "All (*.*)"},
        {"Text (*.txt)|*.txt|dangling", "Text (*.txt)"},
    };
    for (const auto& [filter, expected] : cases)
        EXPECT_EQ(QtFileFilter(filter), QString(expected)) << filter;
}

// The images are drawn at the screen's density (also past the largest size a set of pixmaps
// would hold), not scaled from fixed sizes, and are greyed when disabled.
TEST(DrawnIcons, SharpAtEveryScaleAndGreyedWhenDisabled) {
    for (const QIcon& icon : {ToolbarIcon(32771), ApplicationIcon()}) {
        for (const double scale : {1.0, 1.25, 1.5, 2.0, 4.0}) {
            const QPixmap pixmap = icon.pixmap(QSize(24, 24), scale);
            EXPECT_EQ(pixmap.size(), QSize(24, 24) * scale) << scale;
            EXPECT_EQ(pixmap.deviceIndependentSize(), QSizeF(24, 24)) << scale;
        }
    }
    const QIcon icon = ToolbarIcon(32771);
    EXPECT_NE(icon.pixmap(24, QIcon::Normal).toImage(), icon.pixmap(24, QIcon::Disabled).toImage());
    EXPECT_TRUE(ToolbarIcon(1).isNull());
}

// Qt's own buttons speak Chinese; the file dialogs open in the documents folder, or the home
// folder where there is none, and then where each kind of dialog was last used.
TEST(QtDesktop, ChineseStandardButtonsAndTheFoldersFileDialogsOpenIn) {
    QTranslator* translator = InstallQtTranslations(*QCoreApplication::instance());
    ASSERT_NE(translator, nullptr) << "qtbase_zh_CN.qm is not installed";
    {
        QMessageBox box(QMessageBox::Question, "", "", QMessageBox::Yes | QMessageBox::No);
        EXPECT_EQ(box.button(QMessageBox::Yes)->text() + box.button(QMessageBox::No)->text(),
                  "是(&Y)否(&N)");
    }
    QCoreApplication::removeTranslator(translator);
    delete translator;

    TempDir home, elsewhere;
    const QByteArray savedHome = qgetenv("HOME"), savedConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", home.Path().c_str());
    qputenv("XDG_CONFIG_HOME", home.File("config").c_str());
    const QString at = QString::fromStdString(home.Path());
    FileFolders folders;
    const FileDialogRequest recording{"prs", "闲聊.prs", ""}, text{"txt", "", ""};
    EXPECT_EQ(folders.StartPath(recording, true), at + "/闲聊.prs");
    ASSERT_TRUE(QDir(at).mkdir("Documents"));
    EXPECT_EQ(folders.StartPath(recording, true), at + "/Documents/闲聊.prs");
    folders.Used(recording, true, QString::fromStdString(elsewhere.File("old.prs")));
    EXPECT_EQ(folders.StartPath(recording, true),
              QString::fromStdString(elsewhere.File("闲聊.prs")));
    EXPECT_EQ(folders.StartPath(recording, false), at + "/Documents/闲聊.prs");
    EXPECT_EQ(folders.StartPath(text, true), at + "/Documents");
    folders.Used(text, true, at + "/gone/a.txt");
    EXPECT_EQ(folders.StartPath(text, true), at + "/Documents");
    qputenv("HOME", savedHome);
    savedConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", savedConfig);
}

} // namespace
} // namespace kolvena::ui
