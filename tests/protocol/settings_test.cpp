#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "protocol/core_harness.h"

namespace kolvena {
namespace {

using test::Core;
using test::FakeCore;

constexpr char CLOSED_LINE[] = "-->> 会话暂时对外关闭。";
constexpr char REOPENED_LINE[] = "-->> 会话重新对外开放。";

// The dialog opened, its maximum and listen box set, validated and applied.
bool Confirm(test::Core& h, std::uint32_t maxClients, bool listen) {
    SettingsValues values = h.cmd.OpenSettings();
    values.maxClients = maxClients;
    values.listen = listen;
    if (!h.cmd.ValidateSettings(values))
        return false;
    h.cmd.ApplySettings(values);
    return true;
}

TEST(SettingsTest, ValidationRefusesOutOfRangeAndBelowTheMembersPresent) {
    struct Case {
        bool hosting;
        std::uint16_t current;
        std::uint32_t max;
        bool accepted;
        std::string caption;
        std::string text;
    };
    const Case cases[] = {
        {true, 3, 0, false, "", "最大客户数量必须在 1 到 100 之间，请重新输入。"},
        {false, 0, 101, false, "", "最大客户数量必须在 1 到 100 之间，请重新输入。"},
        {true, 3, 2, false, "", "最大客户数量不能小于当前客户人数(3人)! 请重新设置."},
        {true, 3, 3, true, "会话关闭", "当前会话人数已满，会话暂时对外关闭。"},
        {true, 3, 4, true, "", ""},
        {true, 0, 1, true, "", ""},
        {false, 0, 100, true, "", ""},
    };
    for (const Case& c : cases) {
        FakeCore f;
        SettingsValues values;
        values.hosting = c.hosting;
        values.currentClients = c.current;
        values.maxClients = c.max;
        EXPECT_EQ(f.core.commands().ValidateSettings(values), c.accepted) << c.max;
        std::vector<std::string> boxes;
        for (const auto& box : f.prompter.boxes)
            boxes.push_back(box.caption + "|" + box.text);
        EXPECT_EQ(boxes, c.text.empty() ? std::vector<std::string>{}
                                        : std::vector<std::string>{c.caption + "|" + c.text});
    }
}

TEST(SettingsTest, AMaximumEqualToTheMembersClosesTheSession) {
    Core host;
    host.Host({"Bob", "Cat", "Dan"});
    host.s.settings.maxClients = 12;
    const SettingsValues opened = host.cmd.OpenSettings();
    EXPECT_TRUE(opened.hosting && opened.listen);
    EXPECT_EQ(opened.currentClients, 3);
    EXPECT_EQ(opened.maxClients, 12u);
    host.s.settings.maxClients = 20;
    EXPECT_FALSE(Confirm(host, 2, true));
    EXPECT_TRUE(host.net.accepting);
    EXPECT_EQ(host.s.settings.maxClients, 20);

    ASSERT_TRUE(Confirm(host, 3, true));
    ASSERT_EQ(host.p.boxes.size(), 2u);
    EXPECT_EQ(host.p.boxes[1].icon, BoxIcon::Information);
    EXPECT_FALSE(host.net.accepting);
    EXPECT_EQ(host.s.settings.maxClients, 3);
    EXPECT_EQ(host.Line(), CLOSED_LINE);
    EXPECT_EQ(host.s.lines.back().stamp, 1u);

    // Applying a full session that is closed already says so again.
    const std::size_t lines = host.s.lines.size();
    ASSERT_TRUE(Confirm(host, 3, false));
    EXPECT_EQ(host.s.lines.size(), lines + 1);
    EXPECT_EQ(host.Line(), CLOSED_LINE);

    // Raising the maximum with listen checked opens it again.
    ASSERT_TRUE(Confirm(host, 5, true));
    EXPECT_TRUE(host.net.accepting);
    EXPECT_EQ(host.Line(), REOPENED_LINE);
}

TEST(SettingsTest, TheListenBoxClosesAndReopensASessionThatIsNotFull) {
    Core host;
    host.Host({"Bob"});
    ASSERT_TRUE(Confirm(host, 20, false));
    EXPECT_FALSE(host.net.accepting);
    EXPECT_FALSE(host.cmd.OpenSettings().listen); // the dialog shows the closed door
    EXPECT_EQ(host.Line(), CLOSED_LINE);

    // Unchanged settings change nothing.
    const std::size_t lines = host.s.lines.size();
    ASSERT_TRUE(Confirm(host, 20, false));
    EXPECT_EQ(host.s.lines.size(), lines);

    ASSERT_TRUE(Confirm(host, 20, true));
    EXPECT_TRUE(host.net.accepting);
    EXPECT_EQ(host.Line(), REOPENED_LINE);
    ASSERT_TRUE(Confirm(host, 20, true));
    EXPECT_EQ(host.s.lines.size(), lines + 1);
}

TEST(SettingsTest, OutsideHostingOnlyTheDisplayAndSoundOptionsChange) {
    FakeCore f;
    test::SessionOf(f.core).settings.maxClients = 55;
    f.transport.accepting = true;
    const std::size_t lines = test::SessionOf(f.core).lines.size();
    SettingsValues values = f.core.commands().OpenSettings();
    EXPECT_FALSE(values.hosting || values.listen);
    EXPECT_EQ(values.maxClients, 20u);
    EXPECT_EQ(values.currentClients, 0);
    values.showTimeOnChat = true;
    values.showTimeOnMessages = false;
    values.verify = false;
    values.sound = false;
    values.maxClients = 7;
    values.listen = false;
    ASSERT_TRUE(f.core.commands().ValidateSettings(values));
    const int chats = f.view.chat;
    f.core.commands().ApplySettings(values);

    const Session& s = test::SessionOf(f.core);
    const auto& set = s.settings;
    EXPECT_EQ(std::tie(set.showTimeOnChat, set.showTimeOnMessages, set.verifyMessages, set.soundOn,
                       set.maxClients),
              std::make_tuple(true, false, false, false, 7));
    EXPECT_TRUE(f.transport.accepting);
    EXPECT_EQ(s.lines.size(), lines);
    EXPECT_GT(f.view.chat, chats);

    // The next session starts with 20 again.
    ASSERT_TRUE(f.core.commands().CreateBegin());
    ASSERT_TRUE(f.core.commands().CreateFinish("L", "T"));
    EXPECT_EQ(s.settings.maxClients, 20);
}

TEST(SettingsTest, ApplyingAfterTheSessionEndedLeavesTheDoorAlone) {
    Core host;
    host.Host({"Bob", "Cat"});
    const SettingsValues values = host.cmd.OpenSettings();
    // The dialog was open when the session ended.
    host.s.isHost = false;
    host.s.inSession = false;
    SettingsValues changed = values;
    changed.listen = false;
    host.cmd.ApplySettings(changed);
    EXPECT_TRUE(host.net.accepting);
}

} // namespace
} // namespace kolvena
