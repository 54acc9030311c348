#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "protocol/core_harness.h"

namespace kolvena {
namespace {

using test::Core;
using test::Lines;

constexpr char CLOSED_LINE[] = "-->> 会话暂时对外关闭。";
constexpr char REOPENED_LINE[] = "-->> 会话重新对外开放。";

TEST(SettingsTest, ValidationRefusesOutOfRangeAndBelowTheMembersPresent) {
    const std::string range = "|最大客户数量必须在 1 到 100 之间，请重新输入。";
    const std::tuple<bool, std::uint16_t, std::uint32_t, bool, std::string> rows[] = {
        {true, 3, 0, false, range},
        {false, 0, 101, false, range},
        {true, 3, 2, false, "|最大客户数量不能小于当前客户人数(3人)! 请重新设置."},
        {true, 3, 3, true, "会话关闭|当前会话人数已满，会话暂时对外关闭。"},
        {true, 3, 4, true, ""},
        {true, 0, 1, true, ""},
        {false, 0, 100, true, ""},
    };
    for (const auto& [hosting, current, max, accepted, box] : rows) {
        Core h;
        SettingsValues values;
        std::tie(values.hosting, values.currentClients, values.maxClients) =
            std::tie(hosting, current, max);
        EXPECT_EQ(h.cmd.ValidateSettings(values), accepted) << max;
        EXPECT_EQ(h.Boxes(), box.empty() ? Lines{} : Lines{box}) << max;
        if (accepted && !box.empty()) {
            EXPECT_EQ(h.p.boxes[0].icon, BoxIcon::Information);
        }
    }
}

// One host with three members, the dialog confirmed again and again: the maximum kept, the
// door and the line the user reads ("" for none).
TEST(SettingsTest, TheMaximumAndTheListenBoxOpenAndCloseTheDoor) {
    Core h;
    h.Host({"Bob", "Cat", "Dan"});
    h.s.settings.maxClients = 12;
    const SettingsValues opened = h.cmd.OpenSettings();
    EXPECT_EQ(std::tuple(opened.hosting, opened.listen, opened.currentClients, opened.maxClients),
              std::tuple(true, true, 3, 12u));
    h.s.settings.maxClients = 20;
    const std::tuple<std::uint32_t, bool, int, bool, std::string> rows[] = {
        {2, true, 20, true, ""},           // refused: fewer than present
        {3, true, 3, false, CLOSED_LINE},  // full
        {3, false, 3, false, CLOSED_LINE}, // full and closed already: said again
        {5, true, 5, true, REOPENED_LINE}, // room again
        {5, false, 5, false, CLOSED_LINE}, // not full, listen unchecked
        {5, false, 5, false, ""},          // unchanged
        {5, true, 5, true, REOPENED_LINE}, {5, true, 5, true, ""},
    };
    for (const auto& [max, listen, kept, accepting, line] : rows) {
        SCOPED_TRACE(testing::Message() << max << " " << listen);
        const std::size_t lines = h.s.lines.size();
        SettingsValues values = h.cmd.OpenSettings();
        EXPECT_EQ(values.listen, h.net.accepting); // the dialog shows the door as it is
        std::tie(values.maxClients, values.listen) = std::tie(max, listen);
        if (h.cmd.ValidateSettings(values))
            h.cmd.ApplySettings(values);
        EXPECT_EQ(std::tuple(h.s.settings.maxClients, h.net.accepting),
                  std::tuple(kept, accepting));
        EXPECT_EQ(h.LinesFrom(lines), line.empty() ? Lines{} : Lines{line});
        if (!line.empty()) {
            EXPECT_EQ(h.s.lines.back().stamp, 1u);
        }
    }
    // Applied from a dialog that was open when the session ended, it leaves the door alone.
    SettingsValues values = h.cmd.OpenSettings();
    h.s.isHost = h.s.inSession = false;
    values.listen = false;
    h.cmd.ApplySettings(values);
    EXPECT_TRUE(h.net.accepting);
}

TEST(SettingsTest, OutsideHostingOnlyTheDisplayAndSoundOptionsChange) {
    Core h;
    h.s.settings.maxClients = 55;
    h.net.accepting = true;
    const std::size_t lines = h.s.lines.size();
    SettingsValues values = h.cmd.OpenSettings();
    EXPECT_EQ(std::tuple(values.hosting, values.listen, values.maxClients, values.currentClients),
              std::tuple(false, false, 20u, 0));
    values.showTimeOnChat = true;
    values.showTimeOnMessages = values.verify = values.sound = values.listen = false;
    values.maxClients = 7;
    ASSERT_TRUE(h.cmd.ValidateSettings(values));
    const int chats = h.f.view.chat;
    h.cmd.ApplySettings(values);
    const auto& set = h.s.settings;
    EXPECT_EQ(std::tie(set.showTimeOnChat, set.showTimeOnMessages, set.verifyMessages, set.soundOn,
                       set.maxClients),
              std::make_tuple(true, false, false, false, 7));
    EXPECT_TRUE(h.net.accepting);
    EXPECT_EQ(h.s.lines.size(), lines);
    EXPECT_GT(h.f.view.chat, chats);
}

} // namespace
} // namespace kolvena
