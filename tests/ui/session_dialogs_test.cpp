#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "session/gbk.h"
#include "ui/session_dialogs.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using test::Click;
using test::TextOf;
using test::Type;

QLineEdit* Edit(QWidget& dialog, const char* id) {
    auto* edit = dialog.findChild<QLineEdit*>(id);
    EXPECT_NE(edit, nullptr) << id;
    return edit;
}

QStringList GroupTitles(QWidget& dialog) {
    QStringList titles;
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>())
        titles << group->title();
    return titles;
}

void PressEscape(QWidget& dialog) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &escape);
}

// What the commands' validators would see, with a scripted answer.
struct HostDetailsCalls {
    bool answer = false;
    std::vector<std::pair<std::string, std::string>> seen;
    HostInfoDialog::Validator Validator() {
        return [this](const std::string& name, const std::string& topic) {
            seen.emplace_back(name, topic);
            return answer;
        };
    }
};

TEST(CreateSessionDialog, ShowsTheAddressAndMakesItsCode) {
    CreateSessionDialog dialog("192.168.0.1", 6636);
    EXPECT_EQ(dialog.objectName(), "130");
    EXPECT_EQ(dialog.windowTitle(), "Kolvena - 创建一个新会话 !");
    EXPECT_EQ(GroupTitles(dialog), QStringList{"会话主机地址"});
    EXPECT_EQ(TextOf(dialog, "1026"), "生成您的地址编码");
    EXPECT_EQ(TextOf(dialog, "1"), "创建新会话");
    EXPECT_EQ(TextOf(dialog, "2"), "取消");

    EXPECT_EQ(TextOf(dialog, "1024"), "192.168.0.1");
    EXPECT_TRUE(Edit(dialog, "1024")->isReadOnly());
    EXPECT_EQ(TextOf(dialog, "1022"), "6636");
    EXPECT_TRUE(Edit(dialog, "1022")->isReadOnly());
    auto* useDefault = dialog.findChild<QCheckBox*>("1034");
    ASSERT_NE(useDefault, nullptr);
    EXPECT_TRUE(useDefault->isChecked());
    EXPECT_FALSE(useDefault->isEnabled());
    EXPECT_EQ(useDefault->text(), "使用默认端口号(推荐)");

    EXPECT_EQ(TextOf(dialog, "1031"), "0");
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

TEST(HostInfoDialog, AcceptsOnlyWhatTheValidatorAccepts) {
    HostDetailsCalls calls;
    HostInfoDialog dialog("会话组长", "自由主题", calls.Validator());
    EXPECT_EQ(dialog.objectName(), "133");
    EXPECT_EQ(dialog.windowTitle(), "作为会话主机的同时。。。");
    EXPECT_EQ(GroupTitles(dialog), (QStringList{"请填写您的妮称", "请填写会话主题"}));
    EXPECT_EQ(TextOf(dialog, "1041"), "会话组长");
    EXPECT_EQ(TextOf(dialog, "1042"), "自由主题");
    EXPECT_EQ(TextOf(dialog, "1"), "确定");
    EXPECT_EQ(dialog.findChild<QAbstractButton*>("2"), nullptr);

    Type(dialog, "1041", "   ");
    ASSERT_TRUE(Click(dialog, "1"));
    Type(dialog, "1041", "小王");
    Type(dialog, "1042", "");
    ASSERT_TRUE(Click(dialog, "1"));
    ASSERT_EQ(calls.seen.size(), 2u);
    EXPECT_EQ(calls.seen[0], std::make_pair(std::string("   "), ToGbk("自由主题")));
    EXPECT_EQ(calls.seen[1], std::make_pair(ToGbk("小王"), std::string()));
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    calls.answer = true;
    Type(dialog, "1042", "周末聚会");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(calls.seen.back(), std::make_pair(ToGbk("小王"), ToGbk("周末聚会")));
    EXPECT_EQ(dialog.Name(), ToGbk("小王"));
    EXPECT_EQ(dialog.Topic(), ToGbk("周末聚会"));
}

TEST(HostInfoDialog, EscapeCancelsWithoutValidating) {
    HostDetailsCalls calls;
    calls.answer = true;
    HostInfoDialog dialog("会话组长", "自由主题", calls.Validator());
    dialog.setResult(QDialog::Accepted);
    PressEscape(dialog);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(calls.seen.empty());
}

TEST(HostInfoDialog, FieldsHoldTheirGbkBytesAndCutAtWholeCharacters) {
    HostInfoDialog dialog("", "", [](const std::string&, const std::string&) { return true; });
    // 1 + 2 * 10 = 21 bytes: the last character does not fit and goes whole.
    Type(dialog, "1041", "a一二三四五六七八九十");
    EXPECT_EQ(TextOf(dialog, "1041"), "a一二三四五六七八九");
    EXPECT_EQ(dialog.Name().size(), 19u);
    Type(dialog, "1041", "一二三四五六七八九十");
    EXPECT_EQ(dialog.Name(), ToGbk("一二三四五六七八九十"));

    const QString topic = QString("周末聚会").repeated(6); // 48 bytes
    Type(dialog, "1042", topic);
    EXPECT_EQ(TextOf(dialog, "1042"), topic.left(20));
    EXPECT_EQ(dialog.Topic().size(), 40u);

    // Start values too long for their fields are cut too.
    HostInfoDialog long_start("一二三四五六七八九十壹", "", {});
    EXPECT_EQ(long_start.Name(), ToGbk("一二三四五六七八九十"));
}

TEST(JoinSessionDialog, OpensForAJoinByCode) {
    JoinSessionDialog dialog(ToGbk("游客9:5:7"));
    EXPECT_EQ(dialog.objectName(), "132");
    EXPECT_EQ(dialog.windowTitle(), "Kolvena - 加入会话");
    EXPECT_EQ(GroupTitles(dialog), QStringList{"请填写会话主机地址"});
    EXPECT_EQ(TextOf(dialog, "1"), "加入会话");
    EXPECT_EQ(TextOf(dialog, "2"), "取消");
    EXPECT_EQ(TextOf(dialog, "1037"), "游客9:5:7");

    auto* byCode = dialog.findChild<QRadioButton*>("1029");
    auto* byAddress = dialog.findChild<QRadioButton*>("1030");
    auto* defaultPort = dialog.findChild<QCheckBox*>("1040");
    ASSERT_TRUE(byCode && byAddress && defaultPort);
    EXPECT_TRUE(byCode->isChecked());
    EXPECT_FALSE(byAddress->isChecked());
    EXPECT_TRUE(Edit(dialog, "1039")->isEnabled());
    EXPECT_EQ(TextOf(dialog, "1039"), "0");
    EXPECT_FALSE(Edit(dialog, "1032")->isEnabled());
    EXPECT_EQ(TextOf(dialog, "1032"), "");
    EXPECT_FALSE(defaultPort->isEnabled());
    EXPECT_TRUE(defaultPort->isChecked());
    EXPECT_FALSE(Edit(dialog, "1038")->isEnabled());
    EXPECT_TRUE(Edit(dialog, "1038")->isReadOnly());
    EXPECT_EQ(TextOf(dialog, "1038"), "6636");

    JoinSessionDialog unnamed("");
    EXPECT_EQ(TextOf(unnamed, "1037"), "游客");
}

TEST(JoinSessionDialog, RequestByCode) {
    JoinSessionDialog dialog(ToGbk("游客14:3:9"));
    Type(dialog, "1039", "16779059");
    Type(dialog, "1037", "小李");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    JoinRequest request = dialog.Request();
    EXPECT_EQ(request.mode, JoinMode::ByCode);
    EXPECT_EQ(request.code, 16779059u);
    EXPECT_EQ(request.name, ToGbk("小李"));
    EXPECT_EQ(request.port, 6636);

    // Only digits can be typed; a number past 32 bits reads as 0.
    Type(dialog, "1039", "12ab");
    EXPECT_EQ(TextOf(dialog, "1039"), "");
    EXPECT_EQ(dialog.Request().code, 0u);
    Type(dialog, "1039", "4294967295");
    EXPECT_EQ(dialog.Request().code, 4294967295u);
    Type(dialog, "1039", "4294967296");
    EXPECT_EQ(dialog.Request().code, 0u);

    // The name is returned as typed; trimming is the join command's.
    Type(dialog, "1037", " 小李 ");
    EXPECT_EQ(dialog.Request().name, ToGbk(" 小李 "));
}

TEST(JoinSessionDialog, RequestByAddressWithItsOwnPort) {
    JoinSessionDialog dialog(ToGbk("游客1:2:3"));
    ASSERT_TRUE(Click(dialog, "1030"));
    auto* defaultPort = dialog.findChild<QCheckBox*>("1040");
    EXPECT_FALSE(Edit(dialog, "1039")->isEnabled());
    EXPECT_TRUE(Edit(dialog, "1032")->isEnabled());
    EXPECT_TRUE(defaultPort->isEnabled());
    EXPECT_TRUE(Edit(dialog, "1038")->isEnabled());
    EXPECT_TRUE(Edit(dialog, "1038")->isReadOnly());

    Type(dialog, "1032", "  192.168.0.1  ");
    EXPECT_EQ(TextOf(dialog, "1032"), "  192.168.0.1  ");
    ASSERT_TRUE(Click(dialog, "1040"));
    EXPECT_FALSE(Edit(dialog, "1038")->isReadOnly());
    Type(dialog, "1038", "7000");
    JoinRequest request = dialog.Request();
    EXPECT_EQ(request.mode, JoinMode::ByAddress);
    EXPECT_EQ(request.address, "192.168.0.1");
    EXPECT_EQ(request.port, 7000);
    EXPECT_EQ(request.name, ToGbk("游客1:2:3"));

    // A signed 16-bit field: anything larger reads as 0.
    Type(dialog, "1038", "40000");
    EXPECT_EQ(dialog.Request().port, 0);
    Type(dialog, "1038", "-1");
    EXPECT_EQ(TextOf(dialog, "1038"), "");

    ASSERT_TRUE(Click(dialog, "1040"));
    EXPECT_EQ(TextOf(dialog, "1038"), "6636");
    EXPECT_TRUE(Edit(dialog, "1038")->isReadOnly());

    Type(dialog, "1032", "192.168.100.100.1");
    EXPECT_EQ(TextOf(dialog, "1032"), "192.168.100.100");

    ASSERT_TRUE(Click(dialog, "1029"));
    EXPECT_EQ(dialog.Request().mode, JoinMode::ByCode);
    EXPECT_FALSE(Edit(dialog, "1032")->isEnabled());
    EXPECT_FALSE(defaultPort->isEnabled());

    ASSERT_TRUE(Click(dialog, "2"));
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(RenameDialog, AsksTheValidatorAndReturnsGbk) {
    std::vector<std::string> seen;
    bool answer = false;
    RenameDialog dialog([&](const std::string& name) {
        seen.push_back(name);
        return answer;
    });
    EXPECT_EQ(dialog.objectName(), "135");
    EXPECT_EQ(dialog.windowTitle(), "Kolvena - 更换妮称");
    EXPECT_EQ(TextOf(dialog, "1065"), "");
    EXPECT_EQ(TextOf(dialog, "1"), "确定");
    EXPECT_EQ(TextOf(dialog, "2"), "取消");
    bool labelled = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labelled = labelled || label->text() == "填入你的新名字";
    EXPECT_TRUE(labelled);

    Type(dialog, "1065", "  ");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    answer = true;
    Type(dialog, "1065", "老张十一二三四五六七八九十");
    EXPECT_EQ(TextOf(dialog, "1065"), "老张十一二三四五六七");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(seen, (std::vector<std::string>{"  ", ToGbk("老张十一二三四五六七")}));
    EXPECT_EQ(dialog.Name(), ToGbk("老张十一二三四五六七"));

    RenameDialog cancelled([&](const std::string& name) {
        seen.push_back(name);
        return true;
    });
    cancelled.setResult(QDialog::Accepted);
    ASSERT_TRUE(Click(cancelled, "2"));
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(seen.size(), 2u);
}

} // namespace
} // namespace kolvena::ui
