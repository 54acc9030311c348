#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/core_harness.h"
#include "protocol/view_texts.h"
#include "record/record_test_util.h"
#include "record/recording_file.h"

namespace kolvena {
namespace {

using namespace test::harness;
constexpr char REPLAY_ENDED[] = "当前会话记录已经重放结束.";
constexpr char SESSION_ENDED[] = "会话记录播放结束.";
constexpr char ASK[] = "载入对话记录将中断当前会话!(建议先保存当前会话记录)    \r\n要打开记录吗?";

// A creation carries the leader's name and address as a joining does.
std::string Created(const std::string& name, const std::string& address) {
    return BuildMemberJoined(name, address).substr(1);
}

std::string Chat(std::uint16_t sender, const std::string& text) {
    return test::Chat(PacketType::Say, sender, 0, false, text);
}

// A recording made with its own clock: each step is (seconds after the previous, kind, payload).
struct Recording {
    test::FakeClock clock{1000000000};
    test::ScriptedPrompter prompter;
    EventLog log{clock, prompter};

    Recording& Add(CalendarTime after, EventKind kind, const std::string& payload = {}) {
        clock.Advance(after);
        log.AppendEvent(kind, payload);
        return *this;
    }
    // Ann creates, Bob joins, both speak, Ann's notice, Bob sleeps, Cat joins, Bob leaves, the end.
    Recording& Usual() {
        log.header.version = RECORDING_VERSION;
        log.header.startTime = static_cast<std::uint32_t>(clock.Now());
        Add(0, EventKind::EvSessionCreated, Created("Ann", "10.0.0.1"));
        Add(2, EventKind::EvMemberJoined, BuildMemberJoined("Bob", "10.0.0.2"));
        Add(10, EventKind::EvChatLine, Chat(1, "hello"));
        Add(0, EventKind::EvChatLine, Chat(2, "hi"));
        Add(1, EventKind::EvNotice, BuildNotice(PacketType::Notice, {1, "news"}));
        Add(1, EventKind::EvAsleep, BuildPresence(PacketType::Sleep, {2}));
        Add(1, EventKind::EvMemberJoined, BuildMemberJoined("Cat", "10.0.0.3"));
        Add(1, EventKind::EvMemberLeft, BuildMemberLeft(2));
        return Add(1, EventKind::EvSessionEnded);
    }
    std::string Save(const test::TempDir& dir, const std::string& topic = "Topic") {
        log.header.topic = topic;
        std::ofstream out(dir.File("r.prs"), std::ios::binary);
        EXPECT_TRUE(log.WriteLog(out));
        return dir.File("r.prs");
    }
};

struct ReplayHarness : test::Core {
    ReplayEngine& replay = f.core.replay();
    test::FakeReplayTimer& timer = f.replayTimer;

    void Open(const std::string& path) {
        p.paths.push_back(path);
        cmd.OpenRecording();
    }
    // Plays until the timer stops, at most 100 ticks.
    void Play(bool toggle = true) {
        if (toggle)
            replay.TogglePause();
        for (int i = 0; i < 100 && timer.running; ++i)
            replay.Tick();
    }
};

// The playing below pins the other speeds' gaps. A hostile file's negative gap plays as a
// same-second one, and the longest gap does not overflow.
TEST(ReplayInterval, FollowsTheSpeedAndPlaysSameSecondEventsQuickly) {
    EXPECT_EQ(std::tuple(ReplayInterval(10, SPEED_FAST), ReplayInterval(0, SPEED_FAST),
                         ReplayInterval(0, SPEED_SLOW), ReplayInterval(-5, SPEED_SLOW)),
              std::tuple(2500, 75, 300, 300));
    EXPECT_GT(ReplayInterval(0x7fffffff, SPEED_SLOW), 0);
}

TEST(Replay, OneRecordingOpenedThroughTicksSeeksPausesAndSpeeds) {
    test::TempDir dir;
    Recording rec;
    ReplayHarness h;
    h.Host();
    h.Open(rec.Usual().Save(dir, ToGbk("周末")));
    // Opening leaves the session, shows the summary and waits paused.
    EXPECT_EQ(h.Boxes(), (Lines{std::string("载入会话记录|") + ASK,
                                "成功载入记录|成功载入会话记录! \r\n\r\n主题: 周末  \r\n会话时间: "
                                "01:46:40 (9/9/2001)   \r\n记录长度: 00:00:17        事件数目: 9  ",
                                "清空窗口内容?|是否要清空当前对话窗口?"}));
    EXPECT_EQ(std::tuple(h.s.inSession, h.f.transport.serving, h.recorder.state, h.s.replayFlag,
                         h.f.view.mode, h.f.view.replayLoaded),
              std::tuple(false, false, ReplayState::Paused, true, WindowMode::ReplayLoaded, 1));
    EXPECT_EQ(FromGbk(TitleText(h.s, h.recorder.state)),
              "Kolvena v1.0  主题: Topic ---- 在线人数: 0 (会话重放--暂停)");
    h.Forget();

    h.recorder.speed = SPEED_SLOW;
    const auto tick = [](ReplayHarness& h) { h.replay.Tick(); };
    const auto seek = [](std::uint32_t to) {
        return [to](ReplayHarness& h) { h.replay.Seek(to); };
    };
    const auto toggleAndTick = [](ReplayHarness& h) {
        h.replay.TogglePause();
        h.replay.Tick();
    };
    const auto fastest = [](ReplayHarness& h) { h.replay.SetSpeed(SPEED_FASTEST); };
    const auto restart = [](ReplayHarness& h) {
        h.replay.Seek(9);
        h.replay.PlayButton();
    };
    using P = ReplayState;
    constexpr int START = REPLAY_START_INTERVAL_MS;
    // What the recording shows past the banner, played to the end.
    const Lines played{"-->> 新成员 Bob 加入会话.", "<你> 对大家说: hello",
                       "<Bob> 对大家说: hi",        "-->> Bob 休眠了.",
                       "-->> 新成员 Cat 加入会话.", "-->> 成员 Bob 离开会话."};
    // Lines shown; the cursor, members present, timer interval and running, state and end.
    using State = std::tuple<std::size_t, std::uint32_t, int, int, bool, ReplayState, bool>;
    struct Step {
        const char* what;
        std::function<void(ReplayHarness&)> act;
        State state;
    };
    const Step steps[] = {
        Step("paused: a tick plays nothing", tick, {0, 1, 0, START, true, P::Paused, false}),
        Step("the creation; 2 s slowly", toggleAndTick, {0, 2, 1, 2000, true, P::Playing, false}),
        Step("a new speed waits a gap", fastest, {0, 2, 1, 2000, true, P::Playing, false}),
        Step("Bob joins; 10 s at the new speed", tick, {1, 3, 2, 1250, true, P::Playing, false}),
        Step("pausing keeps the position", toggleAndTick, {1, 3, 2, 1250, true, P::Paused, false}),
        Step("and playing goes on from it", toggleAndTick, {2, 4, 2, 37, true, P::Playing, false}),
        Step("seek rebuilds the first four", seek(4), {3, 5, 2, START, true, P::Playing, false}),
        Step("seek to the end: no end box", seek(9), {6, 9, 2, START, false, P::Paused, true}),
        Step("back to the first", seek(1), {0, 2, 1, START, true, P::Paused, false}),
        Step("after the end: restart", restart, {0, 1, 0, START, true, P::Playing, false}),
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(h);
        const auto& r = h.recorder;
        const std::size_t shown = h.s.lines.size() - 4;
        EXPECT_EQ(State(shown, r.log.cursor, h.s.GetBuddyCount(), h.timer.interval, h.timer.running,
                        r.state, r.log.ended),
                  step.state);
        EXPECT_EQ(h.LinesFrom(4),
                  Lines(played.begin(), played.begin() + std::min<std::size_t>(shown, 6)));
    }
    EXPECT_TRUE(h.p.boxes.empty()); // a seek to the end shows no end box

    // Played to the end at the normal speed: each gap after the event just played.
    h.replay.SetSpeed(SPEED_NORMAL);
    h.timer.starts.clear();
    const int ownNotices = h.s.counters.ownMessageTotal;
    h.Play(false);
    EXPECT_EQ(h.timer.starts, (std::vector<int>{1000, 5000, 150, 500, 500, 500, 500, 500}));
    EXPECT_EQ(h.LinesFrom(4), played);
    EXPECT_NE(h.s.messageText.find("Massage: Ann: news "), std::string::npos);
    EXPECT_NE(h.s.messageText.find(ToGbk("欢迎您加入会话，会话主题是 '周末 ' ")),
              std::string::npos);
    EXPECT_EQ(std::tuple(h.s.GetBuddyCount(), h.s.roster.size(), h.s.roster[0].sayCount,
                         h.s.counters.ownMessageTotal - ownNotices, h.recorder.log.ended),
              std::tuple(2, 3u, 1, 1, true));
    EXPECT_EQ(h.Boxes(false), (Lines{SESSION_ENDED, REPLAY_ENDED}));
    // Further ticks and pause toggles after the end change nothing.
    h.replay.TogglePause();
    h.replay.TogglePause();
    h.replay.Tick();
    EXPECT_EQ(std::tuple(h.s.lines.size(), h.p.boxes.size()), std::tuple(10u, 2u));

    // A seek rebuilds the counters too, which a recording saved afterwards takes its figures from.
    h.replay.Seek(3);
    h.replay.Seek(9);
    EXPECT_EQ(std::tuple(h.s.counters.chatLineTotal, h.s.counters.messageTotal), std::tuple(2, 2));

    // A new session stops the replay.
    const int changed = h.f.view.replayChanged;
    h.Host();
    EXPECT_EQ(std::tuple(h.recorder.state, h.timer.running, h.recorder.log.events.size()),
              std::tuple(ReplayState::NoReplay, false, 1u)); // only the new creation
    EXPECT_GT(h.f.view.replayChanged, changed);
}

TEST(Replay, EventsNamingUnknownMembersOrMalformedAreSkippedAndATickDuringABoxIgnored) {
    test::TempDir dir;
    Recording rec;
    rec.Add(0, EventKind::EvSessionCreated, Created("Ann", "10.0.0.1"));
    rec.Add(0, EventKind::EvChatLine, Chat(7, "ghost"));
    rec.Add(0, EventKind::EvNotice, BuildNotice(PacketType::Notice, {9, "ghost"}));
    rec.Add(0, EventKind::EvNameChanged, BuildRename(PacketType::Rename, {5, "X"}));
    rec.Add(0, EventKind::EvAsleep, BuildPresence(PacketType::Sleep, {3}));
    rec.Add(0, EventKind::EvMemberLeft, BuildMemberLeft(4));
    rec.Add(0, EventKind::EvChatLine, "\x18\x05");               // cut short
    rec.Add(0, EventKind::EvSessionJoined, std::string(3, 'x')); // not a Welcome
    rec.Add(0, static_cast<EventKind>(42), "junk");
    rec.Add(0, EventKind::EvChatLine, Chat(1, "real"));
    rec.Add(0, EventKind::EvSessionEnded).Add(0, EventKind::EvChatLine, Chat(1, "after"));
    ReplayHarness h;
    h.Open(rec.Save(dir));
    h.Forget();
    // The end-of-session box runs a nested loop in which the timer ticks again: it plays nothing.
    Lines duringBox;
    int boxes = 0;
    h.p.duringInform = [&] {
        if (boxes++ == 0) {
            h.replay.Tick();
            duringBox = h.LinesFrom(4);
        }
    };
    h.Play();
    EXPECT_EQ(duringBox, Lines{"<你> 对大家说: real"});
    EXPECT_EQ(h.LinesFrom(4), (Lines{"<你> 对大家说: real", "<你> 对大家说: after"}));
    EXPECT_EQ(h.s.messageText.find("ghost"), std::string::npos);
    EXPECT_EQ(std::tuple(h.s.GetBuddyCount(), h.recorder.log.ended), std::tuple(1, true));
    EXPECT_EQ(h.Boxes(false), (Lines{SESSION_ENDED, REPLAY_ENDED}));
}

TEST(Replay, AMalformedOrMissingFileChangesNothing) {
    test::TempDir dir;
    Recording rec;
    const std::string bytes = test::ReadFileBytes(rec.Usual().Save(dir));
    std::ofstream(dir.File("cut.prs"), std::ios::binary) << bytes.substr(0, bytes.size() - 20);
    ReplayHarness h;
    h.Host();
    const std::size_t events = h.recorder.log.events.size();
    const std::string missing = dir.File("missing.prs");
    for (const auto& [path, box] :
         {std::pair{dir.File("cut.prs"), std::string("文件格式错误.")},
          {missing, "无法打开文件: " + missing + " (文件或文件夹不存在)"},
          {dir.Path(), "无法打开文件: " + dir.Path() + " (这是一个文件夹)"}}) {
        h.Forget();
        h.Open(path);
        EXPECT_EQ(h.Boxes(false), (Lines{ASK, box})); // once, whichever part found the fault
    }
    // The live session goes on: still hosting, sending possible, the log untouched.
    EXPECT_EQ(
        std::tuple(h.s.inSession, h.recorder.state, h.recorder.log.events.size(), h.timer.running),
        std::tuple(true, ReplayState::NoReplay, events, false));
    h.cmd.Send({"still here", false, false});
    EXPECT_EQ(h.Line(), "<你> 对大家说: still here");
}

// The leader relays and records whispers between members without seeing them; its replay
// must not show them either, nor hide the whisper addressed to it.
TEST(Replay, ALiveRecordingReplaysToWhatTheLeaderSaw) {
    test::TempDir dir;
    test::Core live;
    live.Host({"Bob", "Cat"});
    live.f.core.OnHostPacket(live.ids[0], test::Chat(PacketType::SayToHost, 2, 3, true, "secret"));
    live.f.core.OnHostPacket(live.ids[1], test::Chat(PacketType::SayToHost, 3, 1, true, "to you"));
    live.f.core.OnHostPacket(live.ids[1], test::Chat(PacketType::SayToHost, 3, 0, false, "all"));
    live.cmd.Send({"first line", false, false});
    live.f.clock.Advance(3);
    live.cmd.Send({"a notice", true, false});
    live.cmd.SleepOrWake();
    live.cmd.Send({"last line", false, false});
    live.p.paths.push_back(dir.File("live.prs"));
    live.cmd.SaveRecording();
    ReplayHarness h;
    h.Open(dir.File("live.prs"));
    h.Play();
    // Past the banner the live area has two lines for the creation and each login, the replay one.
    EXPECT_EQ(h.LinesFrom(6), live.LinesFrom(10));
    EXPECT_EQ(h.LinesFrom(6).size(), 5u);
    const auto welcome = [](const std::string& text) {
        return text.substr(text.find("Massage: "), 40);
    };
    EXPECT_EQ(welcome(h.s.messageText), welcome(live.s.messageText));
    EXPECT_NE(h.s.messageText.find("Massage: Leader: a notice "), std::string::npos);
}

TEST(Transcript, SavingTellsTheUserAndClearsTheUnsavedMarkAndATextRecordIsShownAsOneLine) {
    test::TempDir dir;
    test::Core h;
    h.cmd.SaveTranscript();
    EXPECT_EQ(h.Boxes(false), Lines{"没有任何会话记录."});
    h.Host();
    h.p.paths = {dir.File("t.txt"), dir.File("no/such/t.txt"), dir.File("t.txt")};
    for (const bool saved : {true, false}) {
        h.s.unsaved = true;
        h.cmd.SaveTranscript();
        EXPECT_EQ(h.s.unsaved, !saved);
    }
    EXPECT_EQ(h.p.fileRequests.back().defaultExtension, "txt");
    // A folder that does not exist: the file and the reason, and the mark stays.
    EXPECT_EQ(h.Boxes(false),
              (Lines{"会话记录保存完毕!",
                     "无法创建文件: " + dir.File("no/such/t.txt") + " (文件或文件夹不存在)"}));
    const std::string text = test::ReadFileBytes(dir.File("t.txt"));
    EXPECT_EQ(text.rfind(ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n"), 0), 0u);
    // Opened as a text record, the file is one unstamped line, neither sent nor recorded.
    const auto [sent, lines, boxes, events] = h.Run([&] { h.cmd.OpenTextRecord(); });
    EXPECT_EQ(lines, Lines{FromGbk(text)});
    EXPECT_EQ(h.s.lines.back().stamp, 0u);
    EXPECT_TRUE(sent.empty() && boxes.empty() && events.empty());
}

} // namespace
} // namespace kolvena
