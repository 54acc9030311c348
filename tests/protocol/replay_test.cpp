#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/core_harness.h"
#include "protocol/view_texts.h"
#include "record/record_test_util.h"
#include "record/recording_file.h"

namespace kolvena {
namespace {

constexpr char REPLAY_ENDED[] = "当前会话记录已经重放结束.";
constexpr char SESSION_ENDED[] = "会话记录播放结束.";

std::string Created(const std::string& name, const std::string& address) {
    std::string payload(NAME_SIZE + ADDRESS_SIZE, '\0');
    payload.replace(0, name.size(), name);
    payload.replace(NAME_SIZE, address.size(), address);
    return payload;
}

std::string Chat(std::uint16_t sender, const std::string& text, std::uint16_t target = 0) {
    ChatLine line;
    line.sender = sender;
    line.target = target;
    line.stamp = 1;
    line.text = text;
    return BuildChat(PacketType::Say, line);
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
    // The usual session: Ann creates, Bob joins, both speak, Ann sends a notice, Bob sleeps,
    // Cat joins and Bob leaves, then the session ends.
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
        Add(1, EventKind::EvSessionEnded);
        return *this;
    }
    std::string Save(const test::TempDir& dir, const std::string& topic = "Topic") {
        log.header.topic = topic;
        const std::string path = dir.File("r.prs");
        std::ofstream out(path, std::ios::binary);
        EXPECT_TRUE(log.WriteLog(out));
        return path;
    }
};

struct ReplayHarness : test::Core {
    ReplayEngine& replay = f.core.replay();
    test::FakeReplayTimer& timer = f.replayTimer;

    void Open(const std::string& path) {
        p.paths.push_back(path);
        cmd.OpenRecording();
    }
    void HostLive() {
        ASSERT_TRUE(cmd.CreateBegin());
        ASSERT_TRUE(cmd.CreateFinish("Host", "Live"));
        p.boxes.clear();
    }
    // Ticks while the timer runs, at most `limit` times; the intervals it was started with.
    std::vector<int> Play(int limit = 100) {
        replay.TogglePause();
        timer.starts.clear();
        for (int i = 0; i < limit && timer.running; ++i)
            replay.Tick();
        return timer.starts;
    }
    int Count(const std::string& text) const {
        const auto texts = BoxTexts();
        return static_cast<int>(std::count(texts.begin(), texts.end(), text));
    }
};

TEST(ReplayInterval, FollowsTheSpeedAndPlaysSameSecondEventsQuickly) {
    // Speed, a 10-second gap, a same-second gap, a hostile file's negative gap.
    const std::tuple<int, int, int, int> rows[] = {{SPEED_SLOW, 10000, 300, 300},
                                                   {SPEED_NORMAL, 5000, 150, 150},
                                                   {SPEED_FAST, 2500, 75, 75},
                                                   {SPEED_FASTEST, 1250, 37, 37}};
    for (const auto& [speed, ten, same, negative] : rows) {
        EXPECT_EQ(ReplayInterval(10, speed), ten);
        EXPECT_EQ(ReplayInterval(0, speed), same);
        EXPECT_EQ(ReplayInterval(-5, speed), negative);
    }
    EXPECT_GT(ReplayInterval(0x7fffffff, SPEED_SLOW), 0);
}

TEST(Replay, OpeningLeavesTheSessionShowsTheSummaryAndWaitsPaused) {
    test::TempDir dir;
    Recording rec;
    const std::string path = rec.Usual().Save(dir, ToGbk("周末"));
    ReplayHarness h;
    h.HostLive();

    h.Open(path);
    ASSERT_GE(h.p.boxes.size(), 3u);
    EXPECT_EQ(h.p.boxes[0].caption, "载入会话记录");
    EXPECT_EQ(h.p.boxes[1].caption, "成功载入记录");
    EXPECT_EQ(h.p.boxes[1].text, "成功载入会话记录! \r\n\r\n主题: 周末  \r\n会话时间: 01:46:40 "
                                 "(9/9/2001)   \r\n记录长度: 00:00:17        事件数目: 9  ");
    EXPECT_EQ(h.p.boxes[2].text, "是否要清空当前对话窗口?");
    EXPECT_FALSE(h.s.inSession);
    EXPECT_EQ(h.f.transport.serving, false);
    EXPECT_EQ(h.recorder.state, ReplayState::Paused);
    EXPECT_TRUE(h.s.replayFlag);
    EXPECT_EQ(h.f.view.mode, WindowMode::ReplayLoaded);
    EXPECT_EQ(h.f.view.replayLoaded, 1);
    EXPECT_TRUE(h.timer.running);
    EXPECT_EQ(h.timer.interval, REPLAY_START_INTERVAL_MS);

    // Paused: ticks play nothing.
    const std::size_t lines = h.s.lines.size();
    h.replay.Tick();
    EXPECT_EQ(h.s.lines.size(), lines);
    EXPECT_EQ(FromGbk(TitleText(h.s, h.recorder.state)),
              "Kolvena v1.0  主题: Live ---- 在线人数: 0 (会话重放--暂停)");
}

TEST(Replay, PlaysEveryEventWithTheLiveTextsAndEndsOnce) {
    test::TempDir dir;
    Recording rec;
    const std::string path = rec.Usual().Save(dir);
    ReplayHarness h;
    h.Open(path);
    h.p.boxes.clear();

    const std::vector<int> intervals = h.Play();
    // Each gap after the event just played, at the normal speed: 2 s, 10 s, same second, ...
    EXPECT_EQ(intervals, (std::vector<int>{1000, 5000, 150, 500, 500, 500, 500, 500}));
    EXPECT_FALSE(h.timer.running);
    EXPECT_TRUE(h.recorder.log.ended);
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);
    EXPECT_EQ(h.Count(SESSION_ENDED), 1);
    EXPECT_EQ(h.Count(REPLAY_ENDED), 1);

    EXPECT_EQ(h.LinesFrom(h.s.lines.size() - 6),
              (std::vector<std::string>{"-->> 新成员 Bob 加入会话.", "<你> 对大家说: hello",
                                        "<Bob> 对大家说: hi", "-->> Bob 休眠了.",
                                        "-->> 新成员 Cat 加入会话.", "-->> 成员 Bob 离开会话."}));
    EXPECT_NE(h.s.messageText.find("Massage: Ann: news "), std::string::npos);
    EXPECT_NE(h.s.messageText.find(ToGbk("欢迎您加入会话，会话主题是 'Topic ' ")),
              std::string::npos);
    EXPECT_EQ(h.s.GetBuddyCount(), 2);
    EXPECT_EQ(h.s.roster.size(), 3u);
    EXPECT_EQ(h.s.counters.ownMessageTotal, 1);
    EXPECT_EQ(h.s.roster[0].sayCount, 1u);

    // Further ticks and pause toggles after the end change nothing but the state.
    const std::size_t count = h.s.lines.size();
    h.replay.TogglePause();
    h.replay.TogglePause();
    h.replay.Tick();
    EXPECT_EQ(h.s.lines.size(), count);
    EXPECT_EQ(h.Count(REPLAY_ENDED), 1);
}

TEST(Replay, PauseKeepsThePositionAndASpeedChangeWaitsForTheNextGap) {
    test::TempDir dir;
    Recording rec;
    rec.Add(0, EventKind::EvSessionCreated, Created("Ann", "10.0.0.1"));
    rec.Add(10, EventKind::EvChatLine, Chat(1, "one"));
    rec.Add(10, EventKind::EvChatLine, Chat(1, "two"));
    rec.Add(10, EventKind::EvChatLine, Chat(1, "three"));
    ReplayHarness h;
    h.Open(rec.Save(dir));
    h.recorder.speed = SPEED_SLOW;
    h.replay.TogglePause();

    h.replay.Tick(); // the creation; a 10 s gap at the slow speed follows
    EXPECT_EQ(h.timer.interval, 10000);
    h.replay.SetSpeed(SPEED_FASTEST);
    EXPECT_EQ(h.timer.interval, 10000); // the running gap keeps its length
    h.replay.Tick();                    // "one"; the next gap uses the new speed
    EXPECT_EQ(h.timer.interval, 1250);
    EXPECT_EQ(h.Line(), "<你> 对大家说: one");

    h.replay.TogglePause();
    h.replay.Tick();
    h.replay.Tick();
    EXPECT_EQ(h.Line(), "<你> 对大家说: one");
    h.replay.TogglePause();
    h.replay.Tick();
    EXPECT_EQ(h.Line(), "<你> 对大家说: two");
}

TEST(Replay, SeekRebuildsUpToThePositionAndTheEndWaitsForRestart) {
    test::TempDir dir;
    Recording rec;
    ReplayHarness h;
    h.Open(rec.Usual().Save(dir));
    h.replay.TogglePause(); // playing
    h.p.boxes.clear();

    h.replay.Seek(4); // created, Bob joined, two lines
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);
    EXPECT_EQ(h.recorder.log.cursor, 5u);
    EXPECT_FALSE(h.recorder.log.ended);
    EXPECT_EQ(h.timer.interval, REPLAY_START_INTERVAL_MS);
    EXPECT_FALSE(h.f.view.holding);
    EXPECT_EQ(h.s.GetBuddyCount(), 2);
    EXPECT_EQ(h.Line(), "<Bob> 对大家说: hi");
    EXPECT_EQ(h.s.lines.size(), 4u + 3u); // banner, then the join and the two lines
    h.replay.Tick();
    EXPECT_NE(h.s.messageText.find("Ann: news"), std::string::npos);

    // To the end: paused and ended, without the end-of-session box of a played event.
    h.replay.Seek(9);
    EXPECT_TRUE(h.recorder.log.ended);
    EXPECT_EQ(h.recorder.state, ReplayState::Paused);
    EXPECT_FALSE(h.timer.running); // nothing left to tick for
    EXPECT_EQ(h.Count(SESSION_ENDED), 0);
    EXPECT_EQ(h.s.GetBuddyCount(), 2);

    // Back to the first event.
    h.replay.Seek(1);
    EXPECT_EQ(h.s.GetBuddyCount(), 1);
    EXPECT_EQ(h.recorder.log.cursor, 2u);

    // The button after the end starts again from the first event, playing.
    h.replay.Seek(9);
    h.replay.PlayButton();
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);
    EXPECT_TRUE(h.timer.running);
    EXPECT_FALSE(h.recorder.log.ended);
    EXPECT_EQ(h.recorder.log.cursor, 1u);
    EXPECT_EQ(h.s.GetBuddyCount(), 0);
    h.replay.Tick();
    EXPECT_EQ(h.s.GetBuddyCount(), 1);
}

TEST(Replay, ATickDuringAnEventsBoxIsIgnored) {
    test::TempDir dir;
    Recording rec;
    rec.Add(0, EventKind::EvSessionCreated, Created("Ann", "10.0.0.1"));
    rec.Add(0, EventKind::EvSessionEnded);
    rec.Add(0, EventKind::EvChatLine, Chat(1, "after"));
    ReplayHarness h;
    h.Open(rec.Save(dir));
    h.replay.TogglePause();
    h.replay.Tick();
    // The end-of-session box runs a nested loop in which the timer ticks again.
    int nested = 0;
    h.p.duringInform = [&] {
        if (nested++ == 0)
            h.replay.Tick();
    };
    h.replay.Tick();
    h.p.duringInform = nullptr;
    EXPECT_EQ(h.Count(SESSION_ENDED), 1);
    EXPECT_EQ(nested, 1);
    EXPECT_NE(h.Line(), "<你> 对大家说: after");
    h.replay.Tick();
    EXPECT_EQ(h.Line(), "<你> 对大家说: after");
    EXPECT_EQ(h.recorder.log.ended, true);
}

TEST(Replay, EventsNamingUnknownMembersOrMalformedAreSkipped) {
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
    ReplayHarness h;
    h.Open(rec.Save(dir));
    h.p.boxes.clear();
    h.Play();
    EXPECT_EQ(h.Line(), "<你> 对大家说: real");
    EXPECT_EQ(h.s.GetBuddyCount(), 1);
    EXPECT_EQ(h.p.boxes.size(), 1u); // only the end of the recording
}

TEST(Replay, AMalformedOrMissingFileChangesNothing) {
    test::TempDir dir;
    Recording rec;
    const std::string good = rec.Usual().Save(dir);
    std::string bytes = test::ReadFileBytes(good);
    const std::string truncated = dir.File("cut.prs");
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() - 20);

    ReplayHarness h;
    h.HostLive();
    const std::size_t events = h.recorder.log.events.size();

    h.Open(truncated);
    EXPECT_EQ(h.p.boxes.back().text, "文件格式错误.");
    h.Open(dir.File("missing.prs"));
    EXPECT_EQ(h.p.boxes.back().text,
              "无法打开文件: " + dir.File("missing.prs") + " (文件或文件夹不存在)");
    h.Open(dir.Path());
    EXPECT_NE(h.p.boxes.back().text.find("这是一个文件夹"), std::string::npos);

    // The live session goes on: still hosting, sending possible, the log untouched.
    EXPECT_TRUE(h.s.inSession);
    EXPECT_EQ(h.recorder.state, ReplayState::NoReplay);
    EXPECT_EQ(h.recorder.log.events.size(), events);
    EXPECT_FALSE(h.timer.running);
    h.cmd.Send({"still here", false, false});
    EXPECT_EQ(h.Line(), "<你> 对大家说: still here");
}

TEST(Replay, ANewSessionStopsTheReplay) {
    test::TempDir dir;
    Recording rec;
    ReplayHarness h;
    h.Open(rec.Usual().Save(dir));
    const int changed = h.f.view.replayChanged;
    h.HostLive();
    EXPECT_EQ(h.recorder.state, ReplayState::NoReplay);
    EXPECT_FALSE(h.timer.running);
    EXPECT_GT(h.f.view.replayChanged, changed);
    EXPECT_TRUE(h.recorder.log.events.size() == 1); // only the new creation
}

TEST(Replay, ALiveRecordingReplaysToTheSameChatAreaAndMessages) {
    test::TempDir dir;
    test::Core live;
    Commands& cmd = live.cmd;
    ASSERT_TRUE(cmd.CreateBegin());
    ASSERT_TRUE(cmd.CreateFinish("Ann", "Topic"));
    cmd.Send({"first line", false, false});
    live.f.clock.Advance(3);
    cmd.Send({"a notice", true, false});
    cmd.SleepOrWake();
    cmd.Send({"last line", false, false});
    live.p.paths.push_back(dir.File("live.prs"));
    cmd.SaveRecording();

    ReplayHarness h;
    h.Open(dir.File("live.prs"));
    h.Play();
    // The replay starts from the banner; the live area had the same banner, then the lines.
    // The live area has the creation's two own lines after the banner; the replay has not.
    std::vector<std::string> liveLines = live.LinesFrom(0);
    liveLines.erase(liveLines.begin() + 4, liveLines.begin() + 6);
    EXPECT_EQ(h.LinesFrom(0), liveLines);
    const auto notices = [](const std::string& text) {
        return text.substr(text.find("Massage: "));
    };
    EXPECT_EQ(notices(h.s.messageText).substr(0, 40), notices(live.s.messageText).substr(0, 40));
}

// The leader relays and records whispers between members without seeing them; its replay
// must not show them either, nor hide the whisper addressed to it.
TEST(Replay, TheLeadersRecordingShowsOnlyTheWhispersTheLeaderSaw) {
    test::TempDir dir;
    test::Core live;
    live.Host({"Bob", "Cat"});
    live.f.core.OnHostPacket(live.ids[0], test::Chat(PacketType::SayToHost, 2, 3, true, "secret"));
    live.f.core.OnHostPacket(live.ids[1], test::Chat(PacketType::SayToHost, 3, 1, true, "to you"));
    live.f.core.OnHostPacket(live.ids[1], test::Chat(PacketType::SayToHost, 3, 0, false, "all"));
    live.p.paths.push_back(dir.File("live.prs"));
    live.cmd.SaveRecording();

    ReplayHarness h;
    h.Open(dir.File("live.prs"));
    h.Play();
    const auto chat = [](std::vector<std::string> lines) {
        std::erase_if(lines, [](const std::string& l) { return l.rfind('<', 0) != 0; });
        return lines;
    };
    EXPECT_EQ(chat(h.LinesFrom(0)), chat(live.LinesFrom(0)));
    EXPECT_EQ(chat(h.LinesFrom(0)).size(), 2u);
}

TEST(Transcript, SavingTellsTheUserAndClearsTheUnsavedMark) {
    test::TempDir dir;
    test::FakeCore f;
    Commands& cmd = f.core.commands();
    cmd.SaveTranscript();
    EXPECT_EQ(f.prompter.boxes.back().text, "没有任何会话记录.");
    ASSERT_TRUE(cmd.CreateBegin());
    ASSERT_TRUE(cmd.CreateFinish("Ann", "abc"));
    test::SessionOf(f.core).unsaved = true;
    f.prompter.paths.push_back(dir.File("t.txt"));
    cmd.SaveTranscript();
    EXPECT_EQ(f.prompter.boxes.back().text, "会话记录保存完毕!");
    EXPECT_FALSE(test::SessionOf(f.core).unsaved);
    EXPECT_EQ(f.prompter.fileRequests.back().defaultExtension, "txt");
    EXPECT_EQ(test::ReadFileBytes(dir.File("t.txt"))
                  .rfind(ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n"), 0),
              0u);

    // A folder that does not exist: the file and the reason, and the mark stays.
    test::SessionOf(f.core).unsaved = true;
    f.prompter.paths.push_back(dir.File("no/such/t.txt"));
    cmd.SaveTranscript();
    EXPECT_EQ(f.prompter.boxes.back().text,
              "无法创建文件: " + dir.File("no/such/t.txt") + " (文件或文件夹不存在)");
    EXPECT_TRUE(test::SessionOf(f.core).unsaved);
}

TEST(Transcript, ATextRecordIsShownAsOneLineUpToItsFirstNul) {
    test::TempDir dir;
    test::FakeCore f;
    std::ofstream(dir.File("a.txt"), std::ios::binary) << std::string("one\r\ntwo\0three", 14);
    std::ofstream(dir.File("empty.txt"), std::ios::binary);
    const std::size_t before = test::SessionOf(f.core).lines.size();
    f.prompter.paths = {dir.File("a.txt"), dir.File("empty.txt")};
    f.core.commands().OpenTextRecord();
    f.core.commands().OpenTextRecord();
    ASSERT_EQ(test::SessionOf(f.core).lines.size(), before + 2);
    EXPECT_EQ(test::SessionOf(f.core).lines[before + 1].text, "");
    EXPECT_EQ(test::SessionOf(f.core).lines[before].text, "one\r\ntwo");
    EXPECT_EQ(test::SessionOf(f.core).lines[before].stamp, 0u);
    EXPECT_TRUE(f.transport.sent.empty());
}

} // namespace
} // namespace kolvena
