#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "record/event_log.h"
#include "record/recorder.h"
#include "record/recording_file.h"
#include "record_test_util.h"
#include "session/bytes.h"
#include "session/session.h"
#include "support/fakes.h"
#include <tuple>

namespace kolvena {
namespace test { // alloc_probe.cpp
void ArmAllocationProbe(bool on);
std::size_t LargestAllocation();
} // namespace test
namespace {

using namespace std::string_literals;

constexpr CalendarTime START = 1000000000; // 0x3B9ACA00
constexpr std::int32_t I32_MAX = std::numeric_limits<std::int32_t>::max();

// The leader's 36-byte creation payload: name field, then address field.
const std::string CREATED = "alice"s + std::string(15, '\0') + "192.168.0.7" + std::string(5, '\0');
// A 17-byte chat line to everyone from BuddyID 1 with the text "hi!".
const std::string CHAT = "\x18\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x03\x00hi!"s;

class EventLogTest : public ::testing::Test {
protected:
    std::string Written() {
        std::ostringstream out;
        EXPECT_TRUE(log.WriteLog(out));
        return out.str();
    }

    test::FakeClock clock{START};
    test::ScriptedPrompter prompter;
    EventLog log{clock, prompter};
};

TEST_F(EventLogTest, EmptyLogWritesHeaderAndEndMarkOnlyAndFailuresAreReported) {
    EXPECT_EQ(Written(), std::string(60, '\0') + "\x00\xCA\x9A\x3B[END]\0"s);
    log.AppendEvent(EventKind::EvSessionCreated, CREATED);
    std::ostringstream broken;
    broken.setstate(std::ios::badbit);
    EXPECT_FALSE(log.WriteLog(broken));
    EXPECT_FALSE(SaveRecording(log, Session(clock, prompter), "/dev/full").ok);
}

TEST_F(EventLogTest, LeaderSessionSavedThreeSecondsAfterOneChatLine) {
    Session session(clock, prompter);
    session.topic = "abc";
    session.AddBuddy(Buddy::Make("alice", "192.168.0.7", BuddyRole::Leader));
    session.counters.chatLineTotal = 1;
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(clock.Now());
    ASSERT_TRUE(log.AppendEvent(EventKind::EvSessionCreated, CREATED));
    clock.Advance(3);
    ASSERT_TRUE(log.AppendEvent(EventKind::EvChatLine, CHAT));

    test::TempDir dir;
    ASSERT_TRUE(SaveRecording(log, session, dir.File("abc.prs")).ok);
    const std::string expected =
        "\x05\x00\x02\x00" // version, eventCount
        "abc"s +
        std::string(37, '\0') +
        "\x01\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00" // members, chat lines, notices
        "\x00\xCA\x9A\x3B\x03\xCA\x9A\x3B"                 // startTime, savedTime
        "\x65\x00\x00\x00\x00\x24\x00\x00\x00"s +          // 101, delay 0, length 36
        CREATED +
        "\x67\x03\x00\x00\x00\x11\x00\x00\x00"s + // 103, delay 3, length 17
        CHAT + "[END]\0"s;
    EXPECT_EQ(test::ReadFileBytes(dir.File("abc.prs")), expected);
}

TEST_F(EventLogTest, DelaysAreWholeSecondGapsFromTheSessionStart) {
    struct Step {
        CalendarTime advance; // before appending
        EventKind kind;
        std::int32_t delay;
    };
    const std::vector<Step> steps = {
        {5, EventKind::EvSessionCreated, 0},
        {0, EventKind::EvMemberJoined, 0},
        {0, EventKind::EvChatLine, 0},
        {7, EventKind::EvChatLine, 7},
        {1, EventKind::EvNotice, 1},
        {60, EventKind::EvSessionEnded, 60},
        // Joining another session without clearing the log still starts a new clock.
        {100, EventKind::EvSessionJoined, 0},
        {2, EventKind::EvChatLine, 2},
    };
    std::vector<std::int32_t> expected, delays;
    for (const Step& step : steps) {
        clock.Advance(step.advance);
        ASSERT_TRUE(log.AppendEvent(step.kind));
        expected.push_back(step.delay);
        delays.push_back(log.events.back().delay);
    }
    EXPECT_EQ(delays, expected);
    EXPECT_EQ(log.endTime, START + 73);
    // Clearing for a new session keeps both times; its creation starts again at zero.
    clock.Advance(1000);
    log.ClearLog();
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(log.baseTime, START + 173);
    EXPECT_EQ(log.endTime, START + 73);
    log.AppendEvent(EventKind::EvSessionCreated, CREATED);
    EXPECT_EQ(log.events[0].delay, 0);
}

TEST_F(EventLogTest, RoundTripKeepsEveryEventAndTheHeader) {
    log.header = {
        RECORDING_VERSION, 0, "\xBB\xE1 topic", 3, 2, 1, static_cast<std::uint32_t>(START), 0};
    log.AppendEvent(EventKind::EvSessionCreated, CREATED);
    clock.Advance(2);
    log.AppendEvent(EventKind::EvChatLine, CHAT);
    clock.Advance(9);
    log.AppendEvent(EventKind::EvSessionEnded);
    std::istringstream in(Written());

    EventLog loaded(clock, prompter);
    loaded.cursor = 3;
    loaded.ended = true;
    ASSERT_TRUE(loaded.ReadLog(in));
    EXPECT_EQ(loaded.events, log.events);
    EXPECT_EQ(loaded.header, log.header);
    EXPECT_EQ(loaded.baseTime, START);
    EXPECT_EQ(loaded.endTime, START + 11);
    EXPECT_EQ(loaded.cursor, 1u);
    EXPECT_FALSE(loaded.ended);
    EXPECT_EQ(loaded.RecordedLength(), 11);
}

TEST_F(EventLogTest, CapStopsRecordingAndTellsTheUserOnce) {
    for (std::size_t i = 0; i < MAX_EVENTS; ++i)
        ASSERT_TRUE(log.AppendEvent(EventKind::EvChatLine, "x"));
    EXPECT_TRUE(prompter.boxes.empty());
    EXPECT_FALSE(log.AppendEvent(EventKind::EvChatLine, "y"));
    EXPECT_FALSE(log.AppendEvent(EventKind::EvSessionEnded));
    EXPECT_EQ(log.events.size(), MAX_EVENTS);
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_EQ(prompter.boxes[0].text, "会话录象已达到 65535 个事件的上限，此后的事件将不再录入。");

    // The full log still makes a valid file.
    std::istringstream in(Written());
    EventLog loaded(clock, prompter);
    ASSERT_TRUE(loaded.ReadLog(in));
    EXPECT_EQ(loaded.events.size(), MAX_EVENTS);

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

TEST_F(EventLogTest, ReplayAccessorsAreSafeAtEveryPosition) {
    log.AppendEvent(EventKind::EvSessionCreated, CREATED);
    clock.Advance(4);
    log.AppendEvent(EventKind::EvChatLine, CHAT);
    clock.Advance(6);
    log.AppendEvent(EventKind::EvChatLine, CHAT); // delays 0, 4, 6
    struct Case {
        std::uint32_t cursor;
        std::int32_t current; // delay of CurrentEvent, -1 when there is none
        std::int32_t next;
        std::uint32_t advanced;
        std::int32_t elapsed;
    };
    const std::uint32_t huge = std::numeric_limits<std::uint32_t>::max();
    for (const Case c :
         {Case{0, -1, 0, 1, 0}, Case{1, 0, 4, 2, 0}, Case{2, 4, 6, 3, 4}, Case{3, 6, 0, 4, 10},
          Case{4, -1, 0, 4, 10}, Case{huge, -1, 0, huge, 10}}) {
        SCOPED_TRACE(c.cursor);
        log.cursor = c.cursor;
        const SessionEvent* current = log.CurrentEvent();
        EXPECT_EQ(current ? current->delay : -1, c.current);
        EXPECT_EQ(log.NextDelay(), c.next);
        log.AdvanceCursor();
        EXPECT_EQ(log.cursor, c.advanced);
        log.cursor = c.cursor;
        EXPECT_EQ(log.ElapsedAtCursor(), c.elapsed);
    }
    // Hostile values stay in range.
    log.events.assign(3, SessionEvent{EventKind::EvChatLine, I32_MAX, ""});
    log.cursor = 3;
    EXPECT_EQ(log.ElapsedAtCursor(), I32_MAX);
    log.header.startTime = 500;
    log.header.savedTime = 100;
    EXPECT_EQ(log.RecordedLength(), 0);
    log.header.startTime = 0;
    log.header.savedTime = 0xFFFFFFFF;
    EXPECT_EQ(log.RecordedLength(), I32_MAX);
}

TEST(RecordingHeaderTest, TopicFieldRoundTrips) {
    struct Case {
        std::string field; // the 40 bytes in the file
        std::string topic;
        std::string reencoded;
    };
    const std::string full(40, 'T');
    const std::string cutLead = std::string(39, 'a') + "\xB0";
    for (const Case& c :
         {Case{"abc"s + std::string(37, '\0'), "abc", "abc"s + std::string(37, '\0')},
          Case{full, full, full}, // no terminator
          Case{"ab\0"s + std::string(37, 'J'), "ab", "ab"s + std::string(38, '\0')},
          Case{cutLead, cutLead, cutLead}}) {
        const std::string bytes = "\x05\x00\x01\x00"s + c.field + std::string(20, '\x7F');
        RecordingHeader header;
        ASSERT_TRUE(header.Decode(bytes));
        EXPECT_EQ(header.topic, c.topic);
        EXPECT_EQ(header.savedTime, 0x7F7F7F7Fu);
        EXPECT_EQ(header.Encode(), "\x05\x00\x01\x00"s + c.reencoded + std::string(20, '\x7F'));
    }
    RecordingHeader header;
    EXPECT_FALSE(header.Decode(std::string(63, '\x01')));
}

TEST(RecorderTest, SuspendAndResumeOnlyTouchALoadedReplay) {
    test::FakeClock clock;
    test::ScriptedPrompter prompter;
    for (const ReplayState before :
         {ReplayState::NoReplay, ReplayState::Playing, ReplayState::Paused}) {
        Recorder recorder(clock, prompter);
        recorder.state = before;
        recorder.Suspend();
        EXPECT_EQ(recorder.state,
                  before == ReplayState::NoReplay ? ReplayState::NoReplay : ReplayState::Paused);
        recorder.Resume();
        EXPECT_EQ(recorder.state, before);
    }
}

const std::string END_MARK = "[END]\0"s;

std::string Header(std::uint16_t eventCount) {
    return RecordingHeader{RECORDING_VERSION, eventCount, "file", 0, 0, 0, START, START + 60}
        .Encode();
}

std::string Record(std::uint8_t kind, std::int32_t delay, std::uint32_t length,
                   const std::string& data) {
    std::string out;
    ByteWriter writer(out);
    writer.U8(kind);
    writer.I32(delay);
    writer.U32(length);
    writer.Raw(data);
    return out;
}

const std::string RECORDS = Record(101, 0, 3, "abc") + Record(103, 5, 2, "hi");
const std::string VALID = Header(2) + RECORDS + END_MARK;

// The log holds a live session's recording; a refused file must leave all of it in place.
class ReadLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        log.AppendEvent(EventKind::EvSessionCreated, "live");
        clock.Advance(8);
        log.AppendEvent(EventKind::EvChatLine, "line");
        log.header.version = RECORDING_VERSION;
        log.cursor = 2;
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
        EXPECT_EQ(
            std::tuple(log.events, log.header.version, log.cursor, log.baseTime, log.lastElapsed),
            std::tuple(before, RECORDING_VERSION, 2u, START, 8));
    }

    test::FakeClock clock{START};
    test::ScriptedPrompter prompter;
    EventLog log{clock, prompter};
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
        EXPECT_EQ(std::tuple(log.events, log.header.topic, log.cursor, log.endTime),
                  std::tuple(events, "file", 1u, START + 60));
    }
    EXPECT_TRUE(prompter.boxes.empty());
}

TEST_F(ReadLogTest, RefusesMalformedFilesAndTheValidFileCutAnywhere) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"lower-case end mark", Header(2) + RECORDS + "[end]\0"s},
        {"end mark without its NUL", Header(0) + "[END]"},
        {"end mark with another last byte", Header(0) + "[END]X"},
        {"more events counted than present", Header(3) + RECORDS + END_MARK},
        {"fewer events counted than present", Header(1) + RECORDS + END_MARK},
        {"record longer than the file", Header(1) + Record(101, 0, 40, "abc") + END_MARK},
        {"record length of 4 GiB", Header(1) + Record(101, 0, 0xFFFFFFFF, "abc") + END_MARK},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        ExpectRefused(bytes);
    }
    for (std::size_t length = 0; length < VALID.size(); ++length) {
        SCOPED_TRACE(length);
        ExpectRefused(VALID.substr(0, length));
    }
}

TEST_F(ReadLogTest, ClaimedLengthIsNeverAllocated) {
    test::ArmAllocationProbe(true);
    ExpectRefused(Header(1) + Record(102, 0, 0xFFFFFFFF, std::string(100, 'w')));
    const std::size_t largest = test::LargestAllocation();
    test::ArmAllocationProbe(false);
    EXPECT_LT(largest, 1024u * 1024u);
}

TEST_F(ReadLogTest, LoadRecordingReportsEachFailureOnce) {
    test::TempDir dir;
    test::WriteFileBytes(dir.File("bad.prs"), Header(0) + "[end]\0"s);
    test::WriteFileBytes(dir.File("good.prs"), VALID);
    struct Case {
        std::string path;
        bool ok;
        bool errorText; // otherwise ReadLog has shown its box
    };
    for (const Case& c :
         {Case{dir.File("missing.prs"), false, true}, Case{dir.Path(), false, true},
          Case{dir.File("bad.prs"), false, false}, Case{dir.File("good.prs"), true, false}}) {
        SCOPED_TRACE(c.path);
        prompter.boxes.clear();
        const FileResult result = LoadRecording(log, c.path);
        EXPECT_EQ(result.ok, c.ok);
        EXPECT_EQ(!result.ok && !result.shown, c.errorText);
        EXPECT_EQ(prompter.boxes.size(), c.ok || c.errorText ? 0u : 1u);
        if (!c.ok) {
            EXPECT_EQ(log.events, before);
        }
    }
}

} // namespace
} // namespace kolvena
