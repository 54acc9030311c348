#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <gtest/gtest.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "session/gbk.h"
#include "ui/session_dialogs.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

// A join request as one value: mode, code, address, port and name.
auto Fields(const JoinRequest& r) {
    return std::tuple(r.mode, r.code, r.address, r.port, r.name);
}

TEST(CreateSessionDialog, ShowsTheAddressAndMakesItsCode) {
    CreateSessionDialog dialog("192.168.0.1", 6636);
    EXPECT_EQ(TextOf(dialog, "1024"), "192.168.0.1");
    EXPECT_EQ(TextOf(dialog, "1022"), "6636");
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

TEST(HostInfoDialog, AcceptsOnlyWhatTheValidatorAcceptsAndEscapeCancels) {
    bool answer = false;
    std::vector<std::pair<std::string, std::string>> seen;
    const auto validator = [&](const std::string& name, const std::string& topic) {
        seen.emplace_back(name, topic);
        return answer;
    };
    HostInfoDialog dialog("会话组长", "自由主题", validator);
    Type(dialog, "1041", "   ");
    ASSERT_TRUE(Click(dialog, "1"));
    Type(dialog, "1041", "小王");
    Type(dialog, "1042", "");
    ASSERT_TRUE(Click(dialog, "1"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(std::string("   "), ToGbk("自由主题")));
    EXPECT_EQ(seen[1], std::make_pair(ToGbk("小王"), std::string()));
    EXPECT_NE(dialog.result(), QDialog::Accepted);

    answer = true;
    Type(dialog, "1042", "周末聚会");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(seen.back(), std::make_pair(ToGbk("小王"), ToGbk("周末聚会")));
    EXPECT_EQ(dialog.Name(), ToGbk("小王"));
    EXPECT_EQ(dialog.Topic(), ToGbk("周末聚会"));

    // Escape cancels without asking the validator.
    HostInfoDialog escaped("会话组长", "自由主题", validator);
    escaped.setResult(QDialog::Accepted);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&escaped, &escape);
    EXPECT_EQ(escaped.result(), QDialog::Rejected);
    EXPECT_EQ(seen.size(), 3u);
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
    HostInfoDialog longStart("一二三四五六七八九十壹", "", {});
    EXPECT_EQ(longStart.Name(), ToGbk("一二三四五六七八九十"));
}

TEST(JoinSessionDialog, RequestByCode) {
    JoinSessionDialog dialog(ToGbk("游客14:3:9"));
    EXPECT_EQ(TextOf(dialog, "1037"), "游客14:3:9");
    EXPECT_EQ(EnabledOf(dialog, {"1039", "1032", "1040", "1038"}), QStringList{"1039"});
    EXPECT_EQ(TextOf(dialog, "1039"), "0");
    EXPECT_EQ(TextOf(dialog, "1038"), "6636");
    JoinSessionDialog unnamed("");
    EXPECT_EQ(TextOf(unnamed, "1037"), "游客");

    Type(dialog, "1039", "16779059");
    Type(dialog, "1037", "小李");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(Fields(dialog.Request()),
              std::tuple(JoinMode::ByCode, 16779059u, "", 6636, ToGbk("小李")));

    // Only digits can be typed; a number past 32 bits reads as 0.
    const auto code = [&dialog](const char* typed) {
        Type(dialog, "1039", typed);
        return dialog.Request().code;
    };
    EXPECT_EQ(code("12ab"), 0u);
    EXPECT_EQ(TextOf(dialog, "1039"), "");
    EXPECT_EQ(code("4294967295"), 4294967295u);
    EXPECT_EQ(code("4294967296"), 0u);

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
    // Back to the default port.
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

TEST(RenameDialog, AsksTheValidatorAndReturnsGbk) {
    std::vector<std::string> seen;
    bool answer = false;
    const auto validator = [&](const std::string& name) {
        seen.push_back(name);
        return answer;
    };
    RenameDialog dialog(validator);
    EXPECT_EQ(TextOf(dialog, "1065"), "");
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

    RenameDialog cancelled(validator);
    cancelled.setResult(QDialog::Accepted);
    ASSERT_TRUE(Click(cancelled, "2"));
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(seen.size(), 2u);
}

} // namespace
} // namespace kolvena::ui
