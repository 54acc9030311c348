#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "record/event_log.h"
#include "record/recording_file.h"
#include "record_test_util.h"
#include "session/bytes.h"
#include "support/fakes.h"

namespace kolvena {
namespace test { // alloc_probe.cpp
void ArmAllocationProbe(bool on);
std::size_t LargestAllocation();
} // namespace test
namespace {

using namespace std::string_literals;

constexpr CalendarTime START = 1000000000;
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
        EXPECT_EQ(prompter.boxes[0].caption, "");
        EXPECT_EQ(prompter.boxes[0].text, "文件格式错误.");
        EXPECT_EQ(prompter.boxes[0].icon, BoxIcon::None);
        EXPECT_EQ(log.events, before);
        EXPECT_EQ(log.header.version, RECORDING_VERSION);
        EXPECT_EQ(log.cursor, 2u);
        EXPECT_EQ(log.baseTime, START);
        EXPECT_EQ(log.lastElapsed, 8);
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
        EXPECT_EQ(log.events, events);
        EXPECT_EQ(log.header.topic, "file");
        EXPECT_EQ(log.cursor, 1u);
        EXPECT_EQ(log.endTime, START + 60);
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
