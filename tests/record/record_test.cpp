#include <gtest/gtest.h>

#include <limits>
#include <sstream>
#include <tuple>

#include "record/event_log.h"
#include "record/recorder.h"
#include "record/recording_file.h"
#include "record/transcript.h"
#include "record_test_util.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "session/session.h"
#include "support/fakes.h"

namespace kolvena {
namespace test { // alloc_probe.cpp
void ArmAllocationProbe(bool on);
std::size_t LargestAllocation();
} // namespace test
namespace {

using namespace std::string_literals;

constexpr CalendarTime START = 1000000000; // 0x3B9ACA00
constexpr std::int32_t I32_MAX = std::numeric_limits<std::int32_t>::max();

// The leader's 36-byte creation payload and a 17-byte chat line to everyone from BuddyID 1.
const std::string CREATED = "alice"s + std::string(15, '\0') + "192.168.0.7" + std::string(5, '\0');
const std::string CHAT = "\x18\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x03\x00hi!"s;

class RecordTest : public ::testing::Test {
protected:
    std::string Written() {
        std::ostringstream out;
        EXPECT_TRUE(log.WriteLog(out));
        return out.str();
    }

    test::FakeClock clock{START};
    test::ScriptedPrompter prompter;
    EventLog log{clock, prompter};
    Session session{clock, prompter};
    test::TempDir dir;
};

TEST_F(RecordTest, SavedFileHoldsTheSessionsHeaderAndEachEventAndFailuresAreReported) {
    EXPECT_EQ(Written(), std::string(60, '\0') + "\x00\xCA\x9A\x3B[END]\0"s); // an empty log
    // 39 bytes and a two-byte character: the character does not fit in the 40-byte field.
    session.topic = std::string(39, 't') + ToGbk("会") + "tail";
    session.AddBuddy(Buddy::Make("alice", "192.168.0.7", BuddyRole::Leader));
    session.AddBuddy(Buddy::Make("bob", "192.168.0.8", BuddyRole::Member));
    session.MarkBuddyLeft(1);  // still counted
    session.counters = {7, 4}; // chat lines, notices
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(clock.Now());
    ASSERT_TRUE(log.AppendEvent(EventKind::EvSessionCreated, CREATED));
    clock.Advance(3);
    ASSERT_TRUE(log.AppendEvent(EventKind::EvChatLine, CHAT));
    const RecordingHeader before = log.header;
    EXPECT_FALSE(SaveRecording(log, session, dir.File("none/x.prs")).ok);
    EXPECT_EQ(log.header, before); // untouched when the file cannot be made
    ASSERT_TRUE(SaveRecording(log, session, dir.File("x.prs")).ok);
    EXPECT_EQ(test::ReadFileBytes(dir.File("x.prs")),
              "\x05\x00\x02\x00"s + std::string(39, 't') + '\0' +    // version, eventCount, topic
                  "\x02\x00\x00\x00\x07\x00\x00\x00\x04\x00\x00\x00" // members, lines, notices
                  "\x00\xCA\x9A\x3B\x03\xCA\x9A\x3B"                 // startTime, savedTime
                  "\x65\x00\x00\x00\x00\x24\x00\x00\x00"s +          // 101, delay 0, length 36
                  CREATED +
                  "\x67\x03\x00\x00\x00\x11\x00\x00\x00"s + // 103, delay 3, length 17
                  CHAT + "[END]\0"s);
    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    EXPECT_FALSE(log.WriteLog(broken));
    EXPECT_FALSE(SaveRecording(log, session, "/dev/full").ok);
}

TEST_F(RecordTest, DelaysAreWholeSecondGapsFromTheSessionStart) {
    using K = EventKind;
    // Seconds waited before appending, the kind and its delay. Joining another session without
    // clearing the log still starts a new clock.
    const std::tuple<CalendarTime, EventKind, std::int32_t> steps[] = {
        {5, K::EvSessionCreated, 0},  {0, K::EvMemberJoined, 0}, {0, K::EvChatLine, 0},
        {7, K::EvChatLine, 7},        {1, K::EvNotice, 1},       {60, K::EvSessionEnded, 60},
        {100, K::EvSessionJoined, 0}, {2, K::EvChatLine, 2}};
    for (const auto& [wait, kind, delay] : steps) {
        clock.Advance(wait);
        ASSERT_TRUE(log.AppendEvent(kind));
        EXPECT_EQ(log.events.back().delay, delay) << log.events.size();
    }
    EXPECT_EQ(log.endTime, START + 73);
    // Clearing for a new session keeps both times.
    clock.Advance(1000);
    log.ClearLog();
    EXPECT_EQ(std::tuple(log.events.size(), log.baseTime, log.endTime),
              std::tuple(0u, START + 173, START + 73));
}

TEST_F(RecordTest, CapStopsRecordingAndTellsTheUserOnce) {
    for (std::size_t i = 0; i < MAX_EVENTS; ++i)
        ASSERT_TRUE(log.AppendEvent(EventKind::EvChatLine, "x"));
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_FALSE(log.AppendEvent(EventKind::EvChatLine, "y") ||
                 log.AppendEvent(EventKind::EvSessionEnded));
    EXPECT_EQ(log.events.size(), MAX_EVENTS);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "会话录象已达到 65535 个事件的上限，此后的事件将不再录入。");
    std::istringstream full(Written());
    EXPECT_TRUE(EventLog(clock, prompter).ReadLog(full)); // the full log makes a valid file
    // A new session warns again when it fills up.
    log.ClearLog();
    log.events.resize(MAX_EVENTS);
    EXPECT_FALSE(log.AppendEvent(EventKind::EvChatLine));
    EXPECT_EQ(prompter.boxes.size(), 2u);
    // Events pushed past the cap around AppendEvent are not written.
    log.events.resize(MAX_EVENTS + 2);
    EXPECT_EQ(Written().size(), 64 + 9 * MAX_EVENTS + 6);
    EXPECT_EQ(log.header.eventCount, MAX_EVENTS);
}

TEST_F(RecordTest, ReplayAccessorsAreSafeAtEveryPosition) {
    for (const std::int32_t delay : {0, 4, 6})
        log.events.push_back({EventKind::EvChatLine, delay, ""});
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();
    // The cursor; CurrentEvent's delay (-1: none), NextDelay, ElapsedAtCursor; AdvanceCursor's.
    const std::tuple<std::uint32_t, int, int, int, std::uint32_t> rows[] = {
        {0, -1, 0, 0, 1}, {1, 0, 4, 0, 2},   {2, 4, 6, 4, 3},
        {3, 6, 0, 10, 4}, {4, -1, 0, 10, 4}, {huge, -1, 0, 10, huge}};
    for (const auto& [cursor, current, next, elapsed, advanced] : rows) {
        SCOPED_TRACE(cursor);
        log.cursor = cursor;
        const SessionEvent* event = log.CurrentEvent();
        EXPECT_EQ(std::tuple(event ? event->delay : -1, log.NextDelay(), log.ElapsedAtCursor()),
                  std::tuple(current, next, elapsed));
        log.AdvanceCursor();
        EXPECT_EQ(log.cursor, advanced);
    }
    // Hostile values stay in range; an ordinary header gives saved minus start.
    log.events.assign(3, SessionEvent{EventKind::EvChatLine, I32_MAX, ""});
    log.cursor = 3;
    EXPECT_EQ(log.ElapsedAtCursor(), I32_MAX);
    for (const auto& [start, saved, length] :
         {std::tuple{500u, 100u, 0}, {0u, 0xFFFFFFFFu, I32_MAX}, {START, START + 60, 60}}) {
        log.header.startTime = start;
        log.header.savedTime = saved;
        EXPECT_EQ(log.RecordedLength(), length);
    }
}

TEST_F(RecordTest, RecorderSuspendsAndResumesOnlyALoadedReplay) {
    Recorder recorder(clock, prompter);
    for (const ReplayState before :
         {ReplayState::NoReplay, ReplayState::Playing, ReplayState::Paused}) {
        recorder.state = before;
        recorder.Suspend();
        EXPECT_EQ(recorder.state, before == ReplayState::NoReplay ? before : ReplayState::Paused);
        recorder.Resume();
        EXPECT_EQ(recorder.state, before);
    }
}

TEST(RecordingHeaderTest, DecodeKeepsEveryFieldAndTheTopicUpToItsNul) {
    // Distinct counts and times, so that two fields read in each other's place show.
    const std::string tail = "\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00\x04\x05\x06\x07"
                             "\x7F\x7F\x7F\x7F"s;
    const std::string cutLead = std::string(39, 'a') + "\xB0";
    // The 40-byte field in the file and the topic read from it; the second has no terminator.
    const std::pair<std::string, std::string> rows[] = {{"abc"s + std::string(37, '\0'), "abc"},
                                                        {"ab\0"s + std::string(37, 'J'), "ab"},
                                                        {cutLead, cutLead}};
    for (const auto& [field, topic] : rows) {
        RecordingHeader header;
        ASSERT_TRUE(header.Decode("\x05\x00\x01\x00"s + field + tail));
        EXPECT_EQ(std::tuple(header.topic, header.memberCount, header.savedTime),
                  std::tuple(topic, 1u, 0x7F7F7F7Fu));
        EXPECT_EQ(header.Encode(),
                  "\x05\x00\x01\x00"s + topic + std::string(40 - topic.size(), '\0') + tail);
    }
    EXPECT_FALSE(RecordingHeader().Decode(std::string(63, '\x01')));
}

const std::string END_MARK = "[END]\0"s;

std::string Header(std::uint16_t eventCount) {
    return RecordingHeader{RECORDING_VERSION, eventCount, "file", 3, 2, 1, START - 100, START + 60}
        .Encode();
}

std::string Record(std::uint8_t kind, std::int32_t delay, std::uint32_t length,
                   const std::string& data) {
    std::string head(9, static_cast<char>(kind));
    StoreU32(&head[1], static_cast<std::uint32_t>(delay));
    StoreU32(&head[5], length);
    return head + data;
}

const std::string RECORDS = Record(101, 0, 3, "abc") + Record(103, 5, 2, "hi");
const std::string VALID = Header(2) + RECORDS + END_MARK;

// The log holds a live session's recording; a refused file must leave all of it in place.
class ReadLogTest : public RecordTest {
protected:
    void SetUp() override {
        log.AppendEvent(EventKind::EvSessionCreated, "live");
        clock.Advance(8);
        log.AppendEvent(EventKind::EvChatLine, "line");
        log.header.version = RECORDING_VERSION;
        log.cursor = 2;
        log.ended = true;
        before = log.events;
    }

    void ExpectRefused(const std::string& bytes) {
        prompter.boxes.clear();
        std::istringstream in(bytes);
        EXPECT_FALSE(log.ReadLog(in));
        ASSERT_EQ(prompter.boxes.size(), 1u);
        EXPECT_EQ(
            std::tuple(prompter.boxes[0].caption, prompter.boxes[0].text, prompter.boxes[0].icon),
            std::tuple("", "文件格式错误.", BoxIcon::None));
        EXPECT_EQ(std::tuple(log.events, log.header.version, log.cursor, log.ended, log.baseTime,
                             log.lastElapsed),
                  std::tuple(before, RECORDING_VERSION, 2u, true, START, 8));
    }

    std::vector<SessionEvent> before;
};

TEST_F(ReadLogTest, AcceptsValidFilesAndReplacesTheLog) {
    // More data than one read piece, with a distinct byte at each end.
    const std::string large = "A" + std::string(300 * 1024, 'm') + "Z";
    const std::pair<std::string, std::vector<SessionEvent>> rows[] = {
        {VALID, {{EventKind::EvSessionCreated, 0, "abc"}, {EventKind::EvChatLine, 5, "hi"}}},
        // Unknown kinds and bytes after the end mark are no format error.
        {Header(1) + Record(0xEE, -3, 1, "z") + END_MARK + "trailing",
         {{static_cast<EventKind>(0xEE), -3, "z"}}},
        {Header(1) + Record(102, 0, static_cast<std::uint32_t>(large.size()), large) + END_MARK,
         {{EventKind::EvSessionJoined, 0, large}}},
    };
    for (const auto& [bytes, events] : rows) {
        std::istringstream in(bytes);
        ASSERT_TRUE(log.ReadLog(in));
        EXPECT_EQ(std::tuple(log.events, log.header.Encode(), log.cursor, log.ended, log.baseTime,
                             log.endTime),
                  std::tuple(events, bytes.substr(0, 64), 1u, false, START - 100, START + 60));
    }
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(ReadLogTest, RefusesMalformedFilesAndTheValidFileCutAnywhere) {
    const std::pair<const char*, std::string> cases[] = {
        {"lower-case end mark", Header(2) + RECORDS + "[end]\0"s},
        {"end mark with another last byte", Header(0) + "[END]X"},
        {"more events counted than present", Header(3) + RECORDS + END_MARK},
        {"fewer events counted than present", Header(1) + RECORDS + END_MARK},
        {"record longer than the file", Header(1) + Record(101, 0, 40, "abc") + END_MARK},
        {"record length of 4 GiB", Header(1) + Record(101, 0, 0xFFFFFFFF, "abc") + END_MARK},
    };
    // A length the file merely claims is never allocated.
    test::ArmAllocationProbe(true);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ExpectRefused(bytes);
    }
    const std::size_t largest = test::LargestAllocation();
    test::ArmAllocationProbe(false);
    EXPECT_LT(largest, 1024u * 1024u);
    for (std::size_t length = 0; length < VALID.size(); ++length) {
        SCOPED_TRACE(length);
        ExpectRefused(VALID.substr(0, length));
    }
}

constexpr CalendarTime CREATED_AT = 992872987; // 2001-06-18 14:03:07 UTC
constexpr CalendarTime SAVED = 992873400;      // 14:10:00

// A session of 18 June 2001, topic abc: three members (one gone), a notice, two chat lines.
class TranscriptTest : public RecordTest {
protected:
    void SetUp() override {
        session.topic = "abc";
        session.createdAt = CREATED_AT;
        session.inSession = true;
        for (const char* name : {"alice", "bob", "carol"})
            session.AddBuddy(Buddy::Make(name, "10.0.0.1", BuddyRole::Member));
        session.MarkBuddyLeft(1);
        session.messageText = std::string(MessageWindowHeader());
        clock.now = CREATED_AT + 113;
        session.RecordMessage("hello");
        session.AddLine(ToGbk("<你> 对大家说: 你好"), 1);
        session.AddLine(ToGbk("-->> 新成员 bob 加入会话."), 0);
        clock.now = SAVED;
    }
};

TEST_F(TranscriptTest, ExactBytesWhileInSessionAndTheEndTimeAfterIt) {
    EXPECT_EQ(BuildTranscript(session, SAVED),
              ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n"
                    "//会话主题: abc \r\n"
                    "//会话时间: 14:03:07 (6/18/2001) - 14:10:00 (6/18/2001)\r\n"
                    "//历史人数: 3 \r\n"
                    "\r\n\r\n// 消  息 \r\n\r\n"
                    "                  *********** 会话消息窗口 ***********\r\n"
                    "Massage: hello  (14:05:00)\r\n"
                    "\r\n\r\n// 公聊区 \r\n\r\n"
                    "<你> 对大家说: 你好\r\n"
                    "-->> 新成员 bob 加入会话.\r\n"
                    "\r\n"));
    session.inSession = false;
    session.endedAt = CREATED_AT + 86400 + 3600;
    EXPECT_NE(BuildTranscript(session, 0).find(" - 15:03:07 (6/19/2001)\r\n"), std::string::npos);
    // The default name keeps GBK and avoids slashes; the dialog gets it as UTF-8.
    session.topic = ToGbk("周会/计划");
    EXPECT_EQ(DefaultFileName(session), ToGbk("周会_计划(6-18-2001)"));
    EXPECT_EQ(RecordingSaveRequest(session).initialName, "周会_计划(6-18-2001)");
}

TEST_F(TranscriptTest, FileHoldsLongPaneTextsWholeAndAFailureNamesTheFile) {
    const std::string notice = std::string(70000, 'n') + "N";
    const std::string chat = std::string(66000, 'c') + "C";
    session.messageText += notice;
    session.AddLine(chat, 0);
    ASSERT_TRUE(WriteTranscript(session, SAVED, dir.File("t.txt")).ok);
    const std::string bytes = test::ReadFileBytes(dir.File("t.txt"));
    EXPECT_EQ(bytes, BuildTranscript(session, SAVED));
    EXPECT_NE(bytes.find(notice + ToGbk("\r\n\r\n// 公聊区 \r\n\r\n")), std::string::npos);
    EXPECT_NE(bytes.find(chat + "\r\n\r\n"), std::string::npos);
    for (const std::string& path : {dir.File("no-such-dir/x.txt"), dir.Path(), "/dev/full"s}) {
        const FileResult result = WriteTranscript(session, SAVED, path);
        EXPECT_FALSE(result.ok) << path;
        EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
    }
}

TEST_F(RecordTest, TextRecordIsTheFileUpToItsFirstNulAndAFailedReadKeepsTheText) {
    const std::string big = std::string(200 * 1024, 'b') + "E";
    const std::pair<std::string, std::string> rows[] = {
        {"", ""}, {"one\r\ntwo\r\n", "one\r\ntwo\r\n"}, {"abc\0def"s, "abc"}, {big, big}};
    for (const auto& [bytes, text] : rows) {
        test::WriteFileBytes(dir.File("record.txt"), bytes);
        std::string read = "stale";
        ASSERT_TRUE(ReadTextRecord(dir.File("record.txt"), read).ok);
        EXPECT_EQ(read, text);
    }
    for (const std::string& path : {dir.File("missing.txt"), dir.Path()}) {
        std::string text = "kept";
        const FileResult result = ReadTextRecord(path, text);
        EXPECT_EQ(std::tuple(result.ok, result.error.find(path) != std::string::npos, text),
                  std::tuple(false, true, "kept"))
            << path;
    }
}

} // namespace
} // namespace kolvena
