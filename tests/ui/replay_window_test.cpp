#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSlider>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>

#include "protocol/packets.h"
#include "record/recording_file.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "support/core_fakes.h"
#include "support/fakes.h"
#include "ui/command_ids.h"
#include "ui/replay_dlg.h"
#include "ui/ui_test_support.h"

#include "record/record_test_util.h"

namespace kolvena::ui {
namespace {

using namespace test;

constexpr CalendarTime START = 1000000000; // 2001-09-09 01:46:40 UTC
constexpr char CAPTION[] = "Kolvena - 会话重放控制";

const QStringList BANNER = {
    "            ================================================= ",
    "            =       欢迎加入 网络会话(Kolvena) v1.0       = ",
    "            ================================================= ",
    "",
};

std::string Field(std::string_view text, std::size_t width) {
    std::string field(text);
    field.resize(width, '\0');
    return field;
}

// A leader's recording: the session created, then `lines` chat lines "line 1".. of the
// leader, `gap` seconds apart, saved `gap` seconds after the last. Returns the path.
std::string WriteRecording(const TempDir& dir, int lines, int gap = 2, const char* topic = "闲聊") {
    FakeClock clock(START);
    ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(START);
    log.AppendEvent(EventKind::EvSessionCreated,
                    Field("Ann", NAME_SIZE) + Field("127.0.0.1", ADDRESS_SIZE));
    for (int i = 1; i <= lines; ++i) {
        clock.Advance(gap);
        ChatLine chat;
        chat.sender = 1;
        chat.stamp = 1;
        chat.text = "line " + std::to_string(i);
        log.AppendEvent(EventKind::EvChatLine, BuildChat(PacketType::Say, chat));
    }
    clock.Advance(gap);
    Session session(clock, prompter);
    session.topic = ToGbk(topic);
    session.AddBuddy(Buddy::Make("Ann", "127.0.0.1", BuddyRole::Leader));
    session.counters.chatLineTotal = static_cast<std::uint16_t>(lines);
    const std::string path = dir.File("r" + std::to_string(lines) + ".prs");
    EXPECT_TRUE(SaveRecording(log, session, path).ok);
    return path;
}

class ReplayWindowTest : public ::testing::Test, public test::TestWindow {
protected:
    QCheckBox* ShowBox() { return window.findChild<QCheckBox*>("1054"); }
    // The chat pane's lines: every line ends in a break and one more follows the last.
    QStringList ChatLines() {
        QStringList lines = TextOf(window, "1001").split('\n');
        EXPECT_EQ(lines.mid(lines.size() - 2), (QStringList{"", ""}));
        return lines.mid(0, lines.size() - 2);
    }
    // Opens the recording through the menu; the clear question is answered with OK.
    void Load(const std::string& path) {
        prompter.paths.push_back(path);
        Trigger(ID_OPEN_RECORDING);
        ASSERT_NE(window.ReplayWindow(), nullptr);
    }
    CReplayDlg& Control() { return *window.ReplayWindow(); }
    QSlider* Slider() { return Control().findChild<QSlider*>("1095"); }
    // The control window's title, play button, position and slider; the pause mark.
    QString View() {
        return QStringList{Control().windowTitle().mid(QString(CAPTION).size()),
                           TextOf(Control(), "1096"), TextOf(Control(), "1082"),
                           QString::number(Slider()->value()),
                           Action(ID_PAUSE)->isChecked() ? "paused" : ""}
            .join('|');
    }
    EventLog& Log() { return test::RecorderOf(window.Core()).log; }
    ReplayState State() { return test::RecorderOf(window.Core()).state; }
    // Checked state of the two control-window marks, which must agree.
    bool ControlMarks() {
        EXPECT_EQ(Action(ID_REPLAY_WINDOW)->isChecked(), ShowBox()->isChecked());
        return Action(ID_REPLAY_WINDOW)->isChecked();
    }

    TempDir dir;
};

// The control window, the title and the check marks follow playing, pausing, seeking with
// the slider and the end; the timer runs at the core's interval.
TEST_F(ReplayWindowTest, ControlWindowFollowsPlayPauseSeekAndEnd) {
    // 1 + 19 events, 2 s apart, saved 2 s after the last: 40 s recorded.
    Load(WriteRecording(dir, 19));
    EXPECT_TRUE(Control().isVisible());
    EXPECT_EQ(View(), " (暂停播放)|播放| <闲聊>  00:00:00-00:00:40|1|paused");
    EXPECT_EQ(window.windowTitle(), "Kolvena v1.0  主题:  ---- 在线人数: 0 (会话重放--暂停)");
    EXPECT_EQ(window.Mode(), WindowMode::ReplayLoaded);
    EXPECT_TRUE(ShowBox()->isEnabled());
    EXPECT_TRUE(ControlMarks());

    EXPECT_TRUE(Click(Control(), "1096"));
    for (int i = 0; i < 3; ++i)
        window.Core().replay().Tick();
    EXPECT_EQ(View(), " (正在播放)|暂停| <闲聊>  00:00:04-00:00:40|3|");
    EXPECT_EQ(window.windowTitle(),
              "Kolvena v1.0  主题: 闲聊 ---- 在线人数: 1 (会话重放--正在播放)");
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
    EXPECT_EQ(ChatLines(), BANNER);
}

TEST_F(ReplayWindowTest, SliderRangeAndTicksFollowTheEventCount) {
    // The control window works on a core alone, without the main window.
    test::FakeCore fake;
    // Events -> minimum, maximum, tick interval, value.
    for (const auto& [events, range] :
         {std::pair{20, "1 20 1 1"}, {31, "1 31 2 1"}, {150, "1 150 10 1"}, {0, "1 1 1 1"}}) {
        test::RecorderOf(fake.core).log.header.eventCount = static_cast<std::uint16_t>(events);
        test::RecorderOf(fake.core).log.cursor = 1;
        CReplayDlg control(fake.core);
        control.ResetReplay();
        auto* slider = control.findChild<QSlider*>("1095");
        EXPECT_EQ(QString("%1 %2 %3 %4")
                      .arg(slider->minimum())
                      .arg(slider->maximum())
                      .arg(slider->tickInterval())
                      .arg(slider->value()),
                  range);
        EXPECT_NE(slider->tickPosition(), QSlider::NoTicks);
    }

    // The position follows the cursor; a seek's own slider move is left where the user put it.
    test::RecorderOf(fake.core).log.header.eventCount = 150;
    test::RecorderOf(fake.core).log.cursor = 40;
    CReplayDlg control(fake.core);
    control.ResetReplay();
    auto* slider = control.findChild<QSlider*>("1095");
    EXPECT_EQ(slider->value(), 40);
    control.ShowPosition(41);
    EXPECT_EQ(slider->value(), 41);
    // The header's topic is shown up to its terminator.
    test::RecorderOf(fake.core).log.header.topic = std::string("ab\0cd", 5);
    control.UpdateControls();
    EXPECT_EQ(TextOf(control, "1082"), " <ab>  00:00:00-00:00:00");
}

TEST_F(ReplayWindowTest, ClosingTheControlWindowClearsItsMarks) {
    Load(WriteRecording(dir, 19));
    EXPECT_TRUE(Click(Control(), "1096"));
    for (int i = 0; i < 4; ++i)
        window.Core().replay().Tick();

    QPointer<CReplayDlg> first = window.ReplayWindow();
    first->close();
    EXPECT_EQ(window.ReplayWindow(), nullptr);
    EXPECT_FALSE(ControlMarks());
    EXPECT_FALSE(first->isVisible());
    // The replay goes on without the window.
    window.Core().replay().Tick();
    EXPECT_EQ(ChatLines().back(), "<你> 对大家说: line 4");

    // 32828 opens a new one at the current position.
    Trigger(ID_REPLAY_WINDOW);
    ASSERT_NE(window.ReplayWindow(), nullptr);
    EXPECT_NE(window.ReplayWindow(), first.data());
    EXPECT_TRUE(ControlMarks());
    EXPECT_EQ(Slider()->value(), static_cast<int>(Log().cursor));
    EXPECT_EQ(TextOf(Control(), "1096"), "暂停");

    // Checkbox 1054 closes and opens it too; Escape closes like the close box.
    ShowBox()->click();
    EXPECT_EQ(window.ReplayWindow(), nullptr);
    EXPECT_FALSE(ControlMarks());
    ShowBox()->click();
    ASSERT_NE(window.ReplayWindow(), nullptr);
    EXPECT_TRUE(ControlMarks());
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(window.ReplayWindow(), &escape);
    EXPECT_EQ(window.ReplayWindow(), nullptr);
    EXPECT_FALSE(ControlMarks());

    // The closed windows are destroyed once control returns to the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
}

// The replay items are greyed with nothing loaded; the speed items keep one mark, and the
// chosen speed reaches the timer at the next gap.
TEST_F(ReplayWindowTest, ReplayItemsGreyedUntilLoadedAndSpeedMarks) {
    // One mark per item: whether it is enabled, or (when `checked`) whether it is checked.
    const auto marks = [this](std::initializer_list<int> ids, bool checked = false) {
        QString out;
        for (int id : ids)
            out += (checked ? Action(id)->isChecked() : Action(id)->isEnabled()) ? 'x' : '-';
        return out;
    };
    const auto replayItems = {32828, 32801, 32805, 32803, 32804, 32806, 32830};
    EXPECT_EQ(marks(replayItems), "-------");
    EXPECT_EQ(marks({32799, 32820, 32826, 32798, 32818}), "xxxxx");

    Load(WriteRecording(dir, 3, 10));
    EXPECT_EQ(marks(replayItems), "xxxxxxx");
    const auto speeds = {32805, 32803, 32804, 32806};
    QStringList seen{marks(speeds, true)};
    for (int id : {ID_SPEED_SLOW, ID_SPEED_FASTEST, ID_SPEED_FASTEST}) {
        Trigger(id);
        seen << marks(speeds, true);
    }
    EXPECT_EQ(seen, (QStringList{"-x--", "x---", "---x", "---x"}));

    Trigger(ID_PAUSE);
    window.Core().replay().Tick();
    EXPECT_EQ(window.ReplayTimerOf().IntervalMs(), 1250);
    Trigger(ID_SPEED_FAST);
    window.Core().replay().Tick();
    EXPECT_EQ(window.ReplayTimerOf().IntervalMs(), 2500);
}

TEST_F(ReplayWindowTest, HistoryPropertiesShowTheLoadedHeader) {
    Load(WriteRecording(dir, 19, 2, "周末计划"));
    QStringList fields;
    Open(ID_RECORDING_PROPERTIES, [&fields](QDialog& dialog) {
        fields = test::TextsOf(dialog, {"1042", "1086", "1101", "1103", "1104", "1105"});
    });
    EXPECT_EQ(runner.shown.back(), "150");
    EXPECT_EQ(fields, (QStringList{"1042=周末计划", "1086=01:46:40 (9/9/2001)-01:47:20 (9/9/2001)",
                                   "1101=20", "1103=1", "1104=19", "1105=0"}));
}

TEST_F(ReplayWindowTest, NewSessionClosesTheControlWindowAndTheWindowOwnsIt) {
    Load(WriteRecording(dir, 5));
    QPointer<CReplayDlg> control = window.ReplayWindow();
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
    runner.steps.push_back([](QDialog& details) { EXPECT_TRUE(Click(details, "1")); });
    Trigger(ID_CREATE);
    EXPECT_EQ(State(), ReplayState::NoReplay);
    EXPECT_EQ(window.ReplayWindow(), nullptr);
    EXPECT_FALSE(control->isVisible());
    EXPECT_FALSE(ControlMarks());
    EXPECT_FALSE(ShowBox()->isEnabled());
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
    // The first event follows about a second after pressing play; two events of one second
    // follow each other after 150 ms.
    QElapsedTimer waited;
    waited.start();
    while (!Log().ended && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_TRUE(Log().ended);
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
    EXPECT_EQ(ChatLines().size(), BANNER.size() + 20000);
    EXPECT_EQ(ChatLines().back(), "<你> 对大家说: line 20000");
    // A repaint per event would take minutes.
    EXPECT_LT(elapsed, 5000);
}

} // namespace
} // namespace kolvena::ui
