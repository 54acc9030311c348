#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <gtest/gtest.h>
#include <vector>

#include "ui/settings_dialog.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using test::Click;
using test::TextOf;
using test::Type;

QCheckBox* Box(QWidget& dialog, const char* id) {
    auto* box = dialog.findChild<QCheckBox*>(id);
    EXPECT_NE(box, nullptr) << id;
    return box;
}

bool EnabledControl(QWidget& dialog, const char* id) {
    auto* control = dialog.findChild<QWidget*>(id);
    EXPECT_NE(control, nullptr) << id;
    return control != nullptr && control->isEnabled();
}

SettingsValues Hosting() {
    SettingsValues start;
    start.hosting = true;
    start.verify = true;
    start.showTimeOnChat = false;
    start.sound = true;
    start.maxClients = 20;
    start.showTimeOnMessages = true;
    start.listen = true;
    start.currentClients = 3;
    return start;
}

bool Same(const SettingsValues& a, const SettingsValues& b) {
    return a.hosting == b.hosting && a.verify == b.verify && a.showTimeOnChat == b.showTimeOnChat &&
           a.sound == b.sound && a.maxClients == b.maxClients &&
           a.showTimeOnMessages == b.showTimeOnMessages && a.listen == b.listen &&
           a.currentClients == b.currentClients;
}

TEST(SettingsDialog, TextsAndStartValues) {
    SettingsDialog dialog(Hosting(), {});
    EXPECT_EQ(dialog.objectName(), "140");
    EXPECT_EQ(dialog.windowTitle(), "Kolvena - 设置");
    EXPECT_EQ(TextOf(dialog, "1074"), "验证成员发送的消息(主机)");
    EXPECT_EQ(TextOf(dialog, "1011"), "对话记录后显示时间");
    EXPECT_EQ(TextOf(dialog, "1077"), "使用声音提示");
    EXPECT_EQ(TextOf(dialog, "1080"), "最大客户数量(1-100)");
    EXPECT_EQ(TextOf(dialog, "1079"), "消息记录后显示时间");
    EXPECT_EQ(TextOf(dialog, "1081"), "监听客户连接");
    EXPECT_EQ(TextOf(dialog, "1076"), "20");
    EXPECT_TRUE(Box(dialog, "1074")->isChecked());
    EXPECT_FALSE(Box(dialog, "1011")->isChecked());
    EXPECT_TRUE(Box(dialog, "1079")->isChecked());
    EXPECT_TRUE(Box(dialog, "1081")->isChecked());
    for (const char* id : {"1074", "1011", "1077", "1076", "1080", "1079", "1081"})
        EXPECT_TRUE(EnabledControl(dialog, id)) << id;
    EXPECT_TRUE(Same(dialog.Values(), Hosting()));
}

TEST(SettingsDialog, HostOnlyControlsAreGreyedOutsideHosting) {
    SettingsValues start;
    start.maxClients = 20;
    SettingsDialog dialog(start, {});
    for (const char* id : {"1074", "1081", "1076", "1080"})
        EXPECT_FALSE(EnabledControl(dialog, id)) << id;
    for (const char* id : {"1011", "1077", "1079", "1", "2"})
        EXPECT_TRUE(EnabledControl(dialog, id)) << id;
    EXPECT_EQ(TextOf(dialog, "1076"), "20");
}

TEST(SettingsDialog, ValuesFollowTheControls) {
    SettingsDialog dialog(Hosting(), {});
    Box(dialog, "1074")->setChecked(false);
    Box(dialog, "1011")->setChecked(true);
    Box(dialog, "1077")->setChecked(false);
    Box(dialog, "1079")->setChecked(false);
    Box(dialog, "1081")->setChecked(false);
    Type(dialog, "1076", "35");
    const SettingsValues values = dialog.Values();
    EXPECT_FALSE(values.verify);
    EXPECT_TRUE(values.showTimeOnChat);
    EXPECT_FALSE(values.sound);
    EXPECT_FALSE(values.showTimeOnMessages);
    EXPECT_FALSE(values.listen);
    EXPECT_EQ(values.maxClients, 35u);
    EXPECT_TRUE(values.hosting);
    EXPECT_EQ(values.currentClients, 3);

    // Past the range is kept for the range check to refuse; what is no number reads as 0.
    Type(dialog, "1076", "250");
    EXPECT_EQ(dialog.Values().maxClients, 250u);
    Type(dialog, "1076", "");
    EXPECT_EQ(dialog.Values().maxClients, 0u);
    Type(dialog, "1076", "1x");
    EXPECT_EQ(TextOf(dialog, "1076"), "");
    EXPECT_EQ(dialog.Values().maxClients, 0u);
    Type(dialog, "1076", "9999999999");
    EXPECT_EQ(dialog.Values().maxClients, 0u);
}

TEST(SettingsDialog, OkAsksTheValidatorCancelDoesNot) {
    std::vector<SettingsValues> seen;
    bool answer = false;
    SettingsDialog dialog(Hosting(), [&](const SettingsValues& values) {
        seen.push_back(values);
        return answer;
    });
    Type(dialog, "1076", "2");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].maxClients, 2u);
    EXPECT_EQ(seen[0].currentClients, 3);

    answer = true;
    Type(dialog, "1076", "3");
    ASSERT_TRUE(Click(dialog, "1"));
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].maxClients, 3u);

    SettingsDialog cancelled(Hosting(), [&](const SettingsValues& values) {
        seen.push_back(values);
        return true;
    });
    cancelled.setResult(QDialog::Accepted);
    ASSERT_TRUE(Click(cancelled, "2"));
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(seen.size(), 2u);
}

} // namespace
} // namespace kolvena::ui
