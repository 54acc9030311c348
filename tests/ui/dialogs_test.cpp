#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QUrlQuery>
#include <gtest/gtest.h>
#include <memory>
#include <tuple>
#include <vector>

#include "session/gbk.h"
#include "session/session.h"
#include "support/fakes.h"
#include "ui/command_ids.h"
#include "ui/extras_dialogs.h"
#include "ui/info_dialogs.h"
#include "ui/qt_prompter.h"
#include "ui/session_dialogs.h"
#include "ui/settings_dialog.h"
#include "ui/toolbar_images.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

QString Utf(const std::string& gbk) {
    return QString::fromStdString(FromGbk(gbk));
}

// The settings as "hosting,verify,chatTime,sound,max,noticeTime,listen,current" marks.
QString Describe(const SettingsValues& v) {
    return QString("%1%2%3%4 %5 %6%7 %8")
        .arg(v.hosting)
        .arg(v.verify)
        .arg(v.showTimeOnChat)
        .arg(v.sound)
        .arg(v.maxClients)
        .arg(v.showTimeOnMessages)
        .arg(v.listen)
        .arg(v.currentClients);
}

SettingsValues Hosting() {
    SettingsValues start;
    start.hosting = start.verify = start.sound = start.showTimeOnMessages = start.listen = true;
    start.maxClients = 20;
    start.currentClients = 3;
    return start;
}

// A dialog that asks a validator on OK; `asked` notes each question (GBK read back) and
// `answer` is the reply; `out` is what the dialog returns.
struct Validated {
    std::unique_ptr<QDialog> dialog;
    std::function<QString()> out;
};

Validated Make(const std::string& which, QStringList& asked, const bool& answer) {
    if (which == "host") {
        auto* d = new HostInfoDialog("会话组长", "自由主题", [&](auto& name, auto& topic) {
            asked << Utf(name) + "|" + Utf(topic);
            return answer;
        });
        return {std::unique_ptr<QDialog>(d),
                [d] { return Utf(d->Name()) + "|" + Utf(d->Topic()); }};
    }
    if (which == "rename") {
        auto* d = new RenameDialog([&](auto& name) {
            asked << Utf(name);
            return answer;
        });
        return {std::unique_ptr<QDialog>(d), [d] { return Utf(d->Name()); }};
    }
    auto* d = new SettingsDialog(Hosting(), [&](const SettingsValues& values) {
        asked << Describe(values);
        return answer;
    });
    return {std::unique_ptr<QDialog>(d), [d] { return Describe(d->Values()); }};
}

// OK asks the validator with the fields as GBK, cut at whole characters, and closes only on its
// yes; Cancel and Escape close without asking. Which controls are greyed outside hosting is the
// window's test (SessionDlgTest.Settings...).
TEST(ValidatedDialogs, OkAsksTheValidatorWithTheFieldsCancelAndEscapeDoNot) {
    const QString longTopic = QString("周末聚会").repeated(6); // 48 bytes, 40 fit
    const struct {
        const char* dialog;
        bool answer;
        std::vector<std::pair<const char*, QString>> typed;
        const char* press; // nullptr: Escape
        QString asked;     // empty: not asked
        QString out;
    } rows[] = {
        {"host", false, {{"1041", "   "}}, "1", "   |自由主题", "   |自由主题"},
        {"host", false, {{"1041", "小王"}, {"1042", ""}}, "1", "小王|", "小王|"},
        {"host", true, {{"1042", "周末聚会"}}, "1", "会话组长|周末聚会", "会话组长|周末聚会"},
        // 1 + 2 * 10 = 21 bytes: the last character does not fit and goes whole.
        {"host",
         true,
         {{"1041", "a一二三四五六七八九十"}, {"1042", longTopic}},
         "1",
         "a一二三四五六七八九|" + longTopic.left(20),
         "a一二三四五六七八九|" + longTopic.left(20)},
        {"host",
         true,
         {{"1041", "一二三四五六七八九十"}},
         nullptr,
         "",
         "一二三四五六七八九十|自由主题"},
        {"host", true, {}, nullptr, "", "会话组长|自由主题"},
        {"rename", false, {{"1065", "  "}}, "1", "  ", "  "},
        {"rename",
         true,
         {{"1065", "老张十一二三四五六七八九十"}},
         "1",
         "老张十一二三四五六七",
         "老张十一二三四五六七"},
        {"rename", true, {{"1065", "x"}}, "2", "", "x"},
        // Past the range is kept for the range check to refuse; what is no number reads as 0.
        {"settings", false, {{"1076", "250"}}, "1", "1101 250 11 3", "1101 250 11 3"},
        {"settings", true, {{"1076", "3"}}, "1", "1101 3 11 3", "1101 3 11 3"},
        {"settings", true, {{"1076", "1x"}}, "2", "", "1101 0 11 3"},
        {"settings", true, {{"1076", "9999999999"}}, "2", "", "1101 0 11 3"},
        {"settings", true, {{"1076", ""}}, "2", "", "1101 0 11 3"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.out.toStdString());
        QStringList asked;
        Validated made = Make(row.dialog, asked, row.answer);
        // A refused OK leaves the dialog's result as it was; Cancel and Escape must set theirs.
        const bool ok = row.press != nullptr && std::string(row.press) == "1";
        made.dialog->setResult(ok ? QDialog::Rejected : QDialog::Accepted);
        for (const auto& [id, text] : row.typed)
            Type(*made.dialog, id, text);
        if (row.press != nullptr) {
            ASSERT_TRUE(Click(*made.dialog, row.press));
        } else {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(made.dialog.get(), &escape);
        }
        EXPECT_EQ(asked, row.asked.isEmpty() ? QStringList{} : QStringList{row.asked});
        EXPECT_EQ(made.dialog->result() == QDialog::Accepted, ok && row.answer);
        EXPECT_EQ(made.out(), row.out);
    }
    // Start values too long for their fields are cut too.
    EXPECT_EQ(HostInfoDialog("一二三四五六七八九十壹", "", {}).Name(),
              ToGbk("一二三四五六七八九十"));
}

TEST(SettingsDialog, ValuesFollowTheCheckBoxes) {
    SettingsDialog dialog(Hosting(), {});
    EXPECT_EQ(Describe(dialog.Values()), "1101 20 11 3");
    for (const char* id : {"1074", "1077", "1079", "1081"})
        dialog.findChild<QCheckBox*>(id)->setChecked(false);
    dialog.findChild<QCheckBox*>("1011")->setChecked(true);
    EXPECT_EQ(Describe(dialog.Values()), "1010 20 00 3");
}

TEST(CreateSessionDialog, ShowsTheAddressAndMakesItsCode) {
    CreateSessionDialog dialog("192.168.0.1", 6636);
    EXPECT_EQ(TextsOf(dialog, {"1024", "1022", "1031"}),
              (QStringList{"1024=192.168.0.1", "1022=6636", "1031=0"}));
    EXPECT_EQ(dialog.Code(), 0u);
    ASSERT_TRUE(Click(dialog, "1026"));
    EXPECT_EQ(dialog.Code(), 16820416u - 41357u);
    EXPECT_EQ(TextOf(dialog, "1031"), "16779059");
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    CreateSessionDialog cancelled("127.0.0.1", 6636);
    cancelled.setResult(QDialog::Accepted);
    ASSERT_TRUE(Click(cancelled, "2"));
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

// A join request as one value: mode, code, address, port and name.
auto Fields(const JoinRequest& r) {
    return std::tuple(r.mode, r.code, r.address, r.port, r.name);
}

TEST(JoinSessionDialog, RequestByCode) {
    JoinSessionDialog dialog(ToGbk("游客14:3:9"));
    EXPECT_EQ(TextsOf(dialog, {"1037", "1039", "1038"}),
              (QStringList{"1037=游客14:3:9", "1039=0", "1038=6636"}));
    EXPECT_EQ(EnabledOf(dialog, {"1039", "1032", "1040", "1038"}), QStringList{"1039"});
    JoinSessionDialog unnamed("");
    EXPECT_EQ(TextOf(unnamed, "1037"), "游客");

    Type(dialog, "1039", "16779059");
    Type(dialog, "1037", "小李");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Fields(dialog.Request()),
              std::tuple(JoinMode::ByCode, 16779059u, "", 6636, ToGbk("小李")));

    // Only digits can be typed; a number past 32 bits reads as 0.
    for (const auto& [typed, shown, code] : {std::tuple{"12ab", "", 0u},
                                             {"4294967295", "4294967295", 4294967295u},
                                             {"4294967296", "4294967296", 0u}}) {
        Type(dialog, "1039", typed);
        EXPECT_EQ(TextOf(dialog, "1039"), shown);
        EXPECT_EQ(dialog.Request().code, code) << typed;
    }
    // The name is returned as typed; trimming is the join command's.
    Type(dialog, "1037", " 小李 ");
    EXPECT_EQ(dialog.Request().name, ToGbk(" 小李 "));
}

TEST(JoinSessionDialog, RequestByAddressWithItsOwnPort) {
    JoinSessionDialog dialog(ToGbk("游客1:2:3"));
    const auto portEditable = [&dialog] {
        return !dialog.findChild<QLineEdit*>("1038")->isReadOnly();
    };
    ASSERT_TRUE(Click(dialog, "1030"));
    EXPECT_EQ(EnabledOf(dialog, {"1039", "1032", "1040", "1038"}),
              (QStringList{"1032", "1040", "1038"}));
    EXPECT_FALSE(portEditable());

    Type(dialog, "1032", "  192.168.0.1  ");
    EXPECT_EQ(TextOf(dialog, "1032"), "  192.168.0.1  ");
    ASSERT_TRUE(Click(dialog, "1040"));
    EXPECT_TRUE(portEditable());
    Type(dialog, "1038", "7000");
    EXPECT_EQ(Fields(dialog.Request()),
              std::tuple(JoinMode::ByAddress, 0u, "192.168.0.1", 7000, ToGbk("游客1:2:3")));

    // A signed 16-bit field: anything larger reads as 0.
    Type(dialog, "1038", "40000");
    EXPECT_EQ(dialog.Request().port, 0);
    Type(dialog, "1038", "-1");
    EXPECT_EQ(TextOf(dialog, "1038"), "");
    ASSERT_TRUE(Click(dialog, "1040"));
    EXPECT_EQ(TextOf(dialog, "1038"), "6636");
    EXPECT_FALSE(portEditable());

    Type(dialog, "1032", "192.168.100.100.1");
    EXPECT_EQ(TextOf(dialog, "1032"), "192.168.100.100");

    ASSERT_TRUE(Click(dialog, "1029"));
    EXPECT_EQ(dialog.Request().mode, JoinMode::ByCode);
    EXPECT_EQ(EnabledOf(dialog, {"1039", "1032", "1040", "1038"}), QStringList{"1039"});
    ASSERT_TRUE(Click(dialog, "2"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

const auto STATUS_IDS = {"1041", "1066", "1042", "1058", "1062", "1063",
                         "1069", "1070", "1071", "1072", "1073", "1060"};

// The status window shows the session as a snapshot: present members and everyone who took
// part, the own name by BuddyID, the totals, the code.
TEST(StatusDialog, ShowsTheSessionAsASnapshot) {
    FakeClock clock;
    ScriptedPrompter prompter;
    Session session{clock, prompter};
    session.inSession = true;
    session.createdAt = clock.Now();
    StatusDialog empty(session, 7);
    EXPECT_EQ(
        TextsOf(empty, STATUS_IDS),
        (QStringList{"1041=", "1066=", "1042=", "1058=01:46:40 09/09/2001", "1062=0", "1063=0",
                     "1069=0", "1070=0", "1071=0", "1072=0", "1073=0", "1060=编码: 7"}));

    session.topic = ToGbk("周末聚会");
    session.isHost = true;
    session.AddBuddy(Buddy::Make(ToGbk("张三"), "192.168.1.5", BuddyRole::Leader));
    session.selfId = 1;
    session.createdAt = clock.Now();
    session.RecordMessage(ToGbk("欢迎您加入会话"));
    for (const char* name : {"李四", "王五"}) {
        clock.Advance(60);
        session.AddBuddy(Buddy::Make(ToGbk(name), "192.168.1.9", BuddyRole::Member));
    }
    session.MarkBuddyLeft(1);
    session.counters.ownMessageTotal = 4;
    session.counters.relatedSayTotal = 2;
    session.counters.ownSayTotal = 3;
    session.counters.chatLineTotal = 5;
    StatusDialog dialog(session, 3232235781u);
    EXPECT_EQ(TextsOf(dialog, STATUS_IDS),
              (QStringList{"1041=张三", "1066=张三", "1042=周末聚会", "1058=01:46:40 09/09/2001",
                           "1062=2", "1063=3", "1069=1", "1070=5", "1071=3", "1072=2", "1073=4",
                           "1060=编码: 3232235781"}));
    session.counters.chatLineTotal = 9;
    EXPECT_EQ(TextOf(dialog, "1070"), "5");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // The own name follows selfId as a BuddyID, departed members included; an id past the
    // roster (still arriving) names nobody.
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
              (QStringList{"1005=李四", "1085=2", "1086=01:47:40", "1087=01:02:05", "1088=12",
                           "1089=3"}));
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // A host's clock ahead of ours gives no garbled span; whole days are not shown.
    for (const auto& [now, stay] :
         {std::pair{1000000000, "00:00:00"}, {1000000060 + 2 * 86400 + 61, "00:01:01"}})
        EXPECT_EQ(TextOf(*std::make_unique<MemberInfoDialog>(member, now), "1087"), stay);
    // A name that is not valid GBK still shows, never crashes.
    member.SetName("\xff\xfe");
    EXPECT_NE(TextOf(*std::make_unique<MemberInfoDialog>(member, 0), "1005"), "");
}

class RecommendDialogTest : public ::testing::Test {
protected:
    QString Text() { return dialog.findChild<QPlainTextEdit*>()->toPlainText(); }
    void Press(const char* address, const char* button) {
        Type(dialog, "mailAddress", address);
        ASSERT_TRUE(Click(dialog, button));
    }

    ScriptedPrompter prompter;
    std::vector<QUrl> opened;
    RecommendDialog dialog{prompter, [this](const QUrl& url) { opened.push_back(url); }};
};

TEST_F(RecommendDialogTest, OkCopiesTheTextAndOpensAMailToTheFriend) {
    const QString text = Text();
    EXPECT_FALSE(text.trimmed().isEmpty());
    Press("  friend@example.com ", "1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), text);
    EXPECT_TRUE(prompter.boxes.empty());
    ASSERT_EQ(opened.size(), 1u);
    const QUrl& mail = opened.front();
    EXPECT_TRUE(mail.isValid());
    EXPECT_EQ(mail.scheme() + ":" + mail.path(), "mailto:friend@example.com");
    EXPECT_FALSE(mail.toEncoded().contains(' '));
    const QUrlQuery query(mail);
    EXPECT_FALSE(query.queryItemValue("subject", QUrl::FullyDecoded).isEmpty());
    QString body = query.queryItemValue("body", QUrl::FullyDecoded);
    EXPECT_TRUE(body.contains("\r\n"));
    EXPECT_EQ(body.replace("\r\n", "\n"), text);

    // Link delimiters in the text survive the mail link.
    dialog.findChild<QPlainTextEdit*>()->setPlainText("a&body=b?c#d 100% + 中文");
    Press("x@y.cn", "1");
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(QUrlQuery(opened.back()).allQueryItemValues("body", QUrl::FullyDecoded),
              QStringList{"a&body=b?c#d 100% + 中文"});
    EXPECT_EQ(opened.back().fragment(), QString());
}

TEST_F(RecommendDialogTest, BlankAddressCopiesOnlyCancelDoesNothingMalformedIsRefused) {
    for (const char* bad : {"not an address", "friend", "a@b?cc=evil@x", "a@@b"}) {
        Press(bad, "1");
        EXPECT_NE(dialog.result(), QDialog::Accepted) << bad;
    }
    ASSERT_EQ(prompter.boxes.size(), 4u);
    EXPECT_EQ(prompter.boxes.front().icon, BoxIcon::Warning);
    Press("friend@example.com", "2");
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(prompter.clipboard.empty());
    EXPECT_TRUE(opened.empty());

    Press("   ", "1");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(QString::fromStdString(prompter.clipboard), Text());
    EXPECT_TRUE(opened.empty());
}

// The toolbar's images are drawn in code: a blank one would leave a button without a face.
TEST(ToolbarImagesTest, EveryToolbarCommandHasADrawnImage) {
    const auto hasInk = [](const QIcon& icon) {
        const QImage image = icon.pixmap(24, 24).toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) != 0)
                    return true;
        return false;
    };
    for (const int id : {32771, 32772, 32774, 32794, 32776, 32820, 32780, 32808})
        EXPECT_TRUE(hasInk(ToolbarIcon(id))) << id;
    EXPECT_TRUE(ToolbarIcon(ui::ID_SEND).isNull());
    EXPECT_TRUE(ToolbarIcon(0).isNull());
    EXPECT_TRUE(hasInk(ApplicationIcon()));
}

// The program's filters ("Description|pattern|...||") as Qt file-dialog filters.
TEST(QtFileFilter, ReadsDescriptionAndPatternPairs) {
    const std::pair<const char*, const char*> cases[] = {
        {"Text files (*.txt)|*.txt|All files (*.*) | *.* ||",
         "Text files (*.txt);;All files (*.*)"},
        {"Kolvena会话记录 (*.prs)|*.prs|All files (*.*) | *.* ||",
         "Kolvena会话记录 (*.prs);;All files (*.*)"},
        {"All files (*.*) | *.* ||", "All files (*.*)"},
        {"", ""},
        {"||", ""},
        {"Text files (*.txt)|*.txt", "Text files (*.txt)"},
        {"  Text files (*.txt)  |  *.txt  |", "Text files (*.txt)"},
        {"Pictures|*.png *.jpg||", "Pictures (*.png *.jpg)"},
        {"|*.txt|All files (*.*)|*.*||", "All files (*.*)"},
        {"Text files (*.txt)| |All files (*.*)|*.*", "All files (*.*)"},
        {"Text files (*.txt)|*.txt|dangling", "Text files (*.txt)"},
    };
    for (const auto& [filter, expected] : cases)
        EXPECT_EQ(QtFileFilter(filter), QString(expected)) << filter;
}

} // namespace
} // namespace kolvena::ui
