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
    for (const char* id : {"1074", "1077", "1079", "1081"})
        Check(dialog, id, false);
    Check(dialog, "1011", true);
    Type(dialog, "1076", "35");
    SettingsValues expected;
    expected.hosting = true;
    expected.showTimeOnChat = true;
    expected.sound = false;
    expected.maxClients = 35;
    expected.currentClients = 3;
    EXPECT_EQ(Fields(dialog.Values()), Fields(expected));

    // Past the range is kept for the range check to refuse; what is no number reads as 0.
    const std::pair<const char*, unsigned> limits[] = {
        {"250", 250}, {"", 0}, {"1x", 0}, {"9999999999", 0}};
    for (const auto& [typed, value] : limits) {
        Type(dialog, "1076", typed);
        EXPECT_EQ(dialog.Values().maxClients, value) << typed;
    }
}

TEST(SettingsDialog, OkAsksTheValidatorCancelDoesNot) {
    std::vector<unsigned> seen;
    bool answer = false;
    const auto validator = [&](const SettingsValues& values) {
        seen.push_back(values.maxClients);
        return answer;
    };
    SettingsDialog dialog(Hosting(), validator);
    for (const char* typed : {"2", "3"}) {
        Type(dialog, "1076", typed);
        ASSERT_TRUE(Click(dialog, "1"));
        EXPECT_EQ(dialog.result() == QDialog::Accepted, answer) << typed;
        answer = true;
    }
    SettingsDialog cancelled(Hosting(), validator);
    cancelled.setResult(QDialog::Accepted);
    ASSERT_TRUE(Click(cancelled, "2"));
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(seen, (std::vector<unsigned>{2, 3}));
}

} // namespace
} // namespace kolvena::ui
