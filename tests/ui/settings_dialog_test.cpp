#include <QCheckBox>
#include <gtest/gtest.h>
#include <tuple>
#include <vector>

#include "ui/settings_dialog.h"
#include "ui/ui_test_support.h"

namespace kolvena::ui {
namespace {

using namespace test;

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

auto Fields(const SettingsValues& v) {
    return std::tie(v.hosting, v.verify, v.showTimeOnChat, v.sound, v.maxClients,
                    v.showTimeOnMessages, v.listen, v.currentClients);
}

void Check(QWidget& dialog, const char* id, bool on) {
    auto* box = dialog.findChild<QCheckBox*>(id);
    ASSERT_NE(box, nullptr) << id;
    box->setChecked(on);
}

// Which controls are greyed outside hosting is the window's test (SessionDlgTest.Settings...).
TEST(SettingsDialog, ValuesFollowTheControls) {
    SettingsDialog dialog(Hosting(), {});
    EXPECT_EQ(Fields(dialog.Values()), Fields(Hosting()));
    Check(dialog, "1074", false);
    Check(dialog, "1011", true);
    Check(dialog, "1077", false);
    Check(dialog, "1079", false);
    Check(dialog, "1081", false);
    Type(dialog, "1076", "35");
    SettingsValues expected;
    expected.hosting = true;
    expected.showTimeOnChat = true;
    expected.sound = false;
    expected.maxClients = 35;
    expected.currentClients = 3;
    EXPECT_EQ(Fields(dialog.Values()), Fields(expected));

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
    const auto validator = [&](const SettingsValues& values) {
        seen.push_back(values);
        return answer;
    };
    SettingsDialog dialog(Hosting(), validator);
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

    SettingsDialog cancelled(Hosting(), validator);
    cancelled.setResult(QDialog::Accepted);
    ASSERT_TRUE(Click(cancelled, "2"));
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(seen.size(), 2u);
}

} // namespace
} // namespace kolvena::ui
