#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "record/event_log.h"
#include "record/history_files.h"
#include "record/history_keeper.h"
#include "record/recording_file.h"
#include "record/safe_write.h"
#include "record/transcript.h"
#include "record_test_util.h"
#include "session/gbk.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Step = SafeWriteStep;

constexpr CalendarTime START = 1000000000;

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Fails one step with errno `code` while it lives.
struct FaultAt {
    FaultAt(Step step, int code) {
        SetSafeWriteFault([=](Step at) { return at == step ? code : 0; });
    }
    ~FaultAt() { SetSafeWriteFault(nullptr); }
};

class ShotTimer final : public HistoryTimer {
public:
    void Start(int milliseconds) override { armed = milliseconds; }
    void Stop() override { armed = -1; }
    int armed = -1;
};

// A failed write at any step, or on a file system that fills, leaves the old file byte for byte
// and nothing beside it, and names the file and the reason.
TEST(SafeWrite, FailureAtAnyStepKeepsTheOldFileAndItsFolderClean) {
    test::TempDir dir;
    const std::string path = dir.File("r.prs"), old = "old\0bytes"s;
    test::WriteFileBytes(path, old);
    ::chmod(path.c_str(), 0640);
    for (const Step step : {Step::Create, Step::Write, Step::Sync, Step::Rename}) {
        FaultAt fault(step, ENOSPC);
        const FileResult result = WriteFileSafely(path, "new");
        EXPECT_EQ(result.error, (step == Step::Create ? "无法创建文件: " : "写入文件失败: ") +
                                    path + " (磁盘空间不足)");
        EXPECT_EQ(test::ReadFileBytes(path), old);
        EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"r.prs"});
    }
    ASSERT_TRUE(WriteFileSafely(path, "new").ok);
    EXPECT_EQ(test::ReadFileBytes(path), "new");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640)); // the replaced file's mode
    // Through a link the file it names is replaced; a device is written in place, not replaced.
    fs::create_symlink(path, dir.File("link.prs"));
    ASSERT_TRUE(WriteFileSafely(dir.File("link.prs"), "linked").ok);
    EXPECT_TRUE(fs::is_symlink(dir.File("link.prs")));
    EXPECT_EQ(test::ReadFileBytes(path), "linked");
    EXPECT_TRUE(WriteFileSafely("/dev/null", "x").ok);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_EQ(WriteFileSafely(dir.Path(), "x").error,
              "无法创建文件: " + dir.Path() + " (这是一个文件夹)");

    // A real full file system, where the test may mount one.
    const std::string small = dir.File("small");
    fs::create_directory(small);
    ASSERT_EQ(::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k"), 0)
        << "mounting a small tmpfs needs root (as in CI)";
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        small.c_str(), [](const char* path) { ::umount(path); });
    const std::string kept = small + "/k.txt";
    ASSERT_TRUE(WriteFileSafely(kept, std::string(20000, 'k')).ok);
    EXPECT_NE(WriteFileSafely(kept, std::string(60000, 'n')).error.find("磁盘空间不足"),
              std::string::npos);
    EXPECT_EQ(test::ReadFileBytes(kept), std::string(20000, 'k'));
    EXPECT_EQ(Names(small), std::vector<std::string>{"k.txt"});
}

// Killed between writing and renaming: the old recording is intact, and the temporary file left
// behind is listed as nothing.
TEST(SafeWrite, ACrashBeforeTheRenameLeavesTheOldFileAndNoRecording) {
    test::TempDir dir;
    test::FakeClock clock{START};
    test::ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    log.header.version = RECORDING_VERSION;
    log.AppendEvent(EventKind::EvSessionCreated, std::string(36, 'a'));
    Session session(clock, prompter);
    session.messageText = "x";
    const std::string path = dir.File("r.prs");
    ASSERT_TRUE(SaveRecording(log, session, path).ok);
    const std::string old = test::ReadFileBytes(path);
    log.AppendEvent(EventKind::EvSessionEnded);
    if (const pid_t child = ::fork(); child == 0) {
        SetSafeWriteFault([](Step step) {
            if (step == Step::Rename)
                ::_exit(7);
            return 0;
        });
        SaveRecording(log, session, path);
        ::_exit(0);
    } else {
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_EQ(WEXITSTATUS(status), 7);
    }
    EXPECT_EQ(test::ReadFileBytes(path), old);
    const std::vector<std::string> names = Names(dir.Path());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[0].starts_with(".r.prs.") && names[0].ends_with(".tmp")) << names[0];
    const std::vector<RecordingSummary> listed = ListRecordings(dir.Path());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(std::tuple(listed[0].path, listed[0].status, listed[0].events),
              std::tuple(path, RecordingStatus::Unfinished, 1u));
    for (const auto& [name, taken] : {std::pair{"a.prs", true},
                                      {".a.prs", false},
                                      {".a.prs.1-2-3.tmp", false},
                                      {"a.prs.txt", false},
                                      {".prs", false},
                                      {"b.PRS", false}})
        EXPECT_EQ(IsRecordingName(name), taken) << name;
}

// A kept session, rewritten on the timer's shots: valid at every moment, at once when it ends.
class KeeperTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.topic = ToGbk("周会/计划");
        session.inSession = true;
        session.AddBuddy(Buddy::Make("ann", "10.0.0.1", BuddyRole::Leader));
        session.messageText = "m";
        log.header.version = RECORDING_VERSION;
        log.header.startTime = static_cast<std::uint32_t>(START);
    }
    std::vector<SessionEvent> OnDisk() {
        std::ifstream in(keeper.CurrentPath(), std::ios::binary);
        RecordingHeader header;
        std::vector<SessionEvent> events;
        EXPECT_TRUE(ReadRecordingFile(in, header, events)) << keeper.CurrentPath();
        return events;
    }
    // A timer shot, and its writes done.
    void Shot() {
        keeper.OnTimer();
        keeper.Drain();
    }
    void Add(EventKind kind, const std::string& data = "d") {
        clock.Advance(1);
        log.AppendEvent(kind, data);
    }

    test::TempDir dir;
    test::FakeClock clock{START};
    test::ScriptedPrompter prompter;
    Session session{clock, prompter};
    EventLog log{clock, prompter};
    ShotTimer timer;
    HistoryKeeper keeper{log, session, prompter, timer, dir.File("history")};
};

TEST_F(KeeperTest, KeepsTheSessionAsItHappensAndWhenItEnds) {
    Add(EventKind::EvSessionCreated, std::string(36, 'a'));
    EXPECT_EQ(keeper.CurrentPath(), dir.File("history/2001-09-09_01-46-40_周会_计划.prs"));
    EXPECT_EQ(timer.armed, HistoryKeeper::WRITE_DELAY_MS);
    Shot();
    EXPECT_EQ(OnDisk().size(), 1u);
    Add(EventKind::EvChatLine);
    Add(EventKind::EvChatLine);
    keeper.Drain();
    EXPECT_EQ(OnDisk().size(), 1u); // not before the shot
    Shot();
    EXPECT_EQ(OnDisk(), log.events);
    session.inSession = false;
    session.EmptyRoster();
    Add(EventKind::EvSessionEnded, "");
    keeper.Drain();
    EXPECT_EQ(OnDisk(), log.events); // without a shot
    const RecordingSummary summary = ReadRecordingSummary(keeper.CurrentPath());
    EXPECT_EQ(std::tuple(summary.status, FromGbk(summary.topic), summary.members, summary.events,
                         summary.seconds),
              std::tuple(RecordingStatus::Ended, "周会/计划"s, 1u, 4u, 4));
    EXPECT_TRUE(prompter.boxes.empty());
    // The next session gets a file of its own, even in the same second.
    log.ClearLog();
    clock.now = START;
    session.inSession = true;
    session.AddBuddy(Buddy::Make("ann", "10.0.0.1", BuddyRole::Leader));
    log.AppendEvent(EventKind::EvSessionJoined, "w");
    EXPECT_EQ(keeper.CurrentPath(), dir.File("history/2001-09-09_01-46-40_周会_计划~2.prs"));
}

// An unwritable folder, then a full disk: the session goes on, the file keeps its last good
// state, the user is told once, and keeping resumes when writing works again.
TEST_F(KeeperTest, FailuresAreToldOnceAndKeepingResumes) {
    test::WriteFileBytes(dir.File("history"), "a file where the folder should be");
    Add(EventKind::EvSessionCreated, std::string(36, 'a'));
    Shot();
    Add(EventKind::EvChatLine);
    Shot();
    ASSERT_EQ(prompter.boxes.size(), 1u);
    EXPECT_TRUE(prompter.boxes[0].text.starts_with("无法创建文件: " + keeper.CurrentPath()))
        << prompter.boxes[0].text;
    fs::remove(dir.File("history"));
    Shot();
    EXPECT_EQ(OnDisk(), log.events);
    const std::string good = test::ReadFileBytes(keeper.CurrentPath());
    {
        FaultAt full(Step::Write, ENOSPC);
        Add(EventKind::EvChatLine);
        Shot();
        Add(EventKind::EvSessionEnded, "");
        Shot();
        EXPECT_EQ(test::ReadFileBytes(keeper.CurrentPath()), good);
    }
    EXPECT_EQ(prompter.boxes.size(), 1u);                  // told once in all
    EXPECT_EQ(timer.armed, HistoryKeeper::WRITE_DELAY_MS); // still trying
    Shot();
    EXPECT_EQ(OnDisk(), log.events);
}

// Past MAX_EVENTS the log goes on with the opening the core gives; each part is its own file.
TEST_F(KeeperTest, AFullLogGoesOnInANextPart) {
    log.nextPartOpening = [](std::uint32_t part) {
        return std::vector<SessionEvent>{{EventKind::EvSessionJoined, 9, std::to_string(part)}};
    };
    Add(EventKind::EvSessionCreated, std::string(36, 'a'));
    log.events.resize(MAX_EVENTS, SessionEvent{EventKind::EvChatLine, 0, "c"});
    clock.Advance(5);
    ASSERT_TRUE(log.AppendEvent(EventKind::EvChatLine, "next"));
    EXPECT_EQ(log.events, (std::vector<SessionEvent>{{EventKind::EvSessionJoined, 0, "2"},
                                                     {EventKind::EvChatLine, 0, "next"}}));
    EXPECT_EQ(std::tuple(log.part, log.header.startTime), std::tuple(2u, START + 6));
    keeper.Drain();
    const std::string first = dir.File("history/2001-09-09_01-46-40_周会_计划.prs");
    EXPECT_EQ(ReadRecordingSummary(first).events, MAX_EVENTS);
    EXPECT_EQ(ReadRecordingSummary(first).status, RecordingStatus::Ended);
    EXPECT_TRUE(prompter.boxes.empty());
    Shot();
    EXPECT_EQ(keeper.CurrentPath(), dir.File("history/2001-09-09_01-46-40_周会_计划_2.prs"));
    EXPECT_EQ(OnDisk(), log.events);
}

// The summary reads the header and the tail only: anything not a whole recording is unreadable.
TEST(RecordingSummaryTest, StatusOfEveryKindOfFile) {
    test::TempDir dir;
    test::FakeClock clock{START};
    test::ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    log.header = {RECORDING_VERSION, 0, "t", 3, 4, 5, static_cast<std::uint32_t>(START), 0};
    log.AppendEvent(EventKind::EvSessionCreated, std::string(36, 'a'));
    clock.Advance(70);
    log.AppendEvent(EventKind::EvChatLine, "n\0\0\0\0\0\0\0\0"s); // like an end record's bytes
    std::ostringstream unfinished;
    log.WriteLog(unfinished);
    log.AppendEvent(EventKind::EvSessionEnded);
    std::ostringstream ended;
    log.WriteLog(ended);
    const std::string valid = ended.str();
    const struct {
        std::string name, bytes;
        RecordingStatus status;
    } rows[] = {
        {"ended.prs", valid, RecordingStatus::Ended},
        {"open.prs", unfinished.str(), RecordingStatus::Unfinished},
        {"cut.prs", valid.substr(0, valid.size() - 1), RecordingStatus::Unreadable},
        {"short.prs", valid.substr(0, 60), RecordingStatus::Unreadable},
        {"empty.prs", "", RecordingStatus::Unreadable},
        {"foreign.prs", std::string(200, 'x'), RecordingStatus::Unreadable},
        {"zero.prs", std::string(64, '\0') + "[END]\0"s, RecordingStatus::Unreadable},
        {"counts.prs", "\x05\x00\xFF\xFF"s + valid.substr(4), RecordingStatus::Unreadable},
    };
    for (const auto& row : rows) {
        test::WriteFileBytes(dir.File(row.name), row.bytes);
        EXPECT_EQ(ReadRecordingSummary(dir.File(row.name)).status, row.status) << row.name;
    }
    const RecordingSummary summary = ReadRecordingSummary(dir.File("ended.prs"));
    EXPECT_EQ(std::tuple(summary.topic, summary.start, summary.seconds, summary.members,
                         summary.chatLines, summary.notices, summary.events, summary.size),
              std::tuple("t"s, START, 70, 3u, 4u, 5u, 3u, valid.size()));
    // A huge file is summarised without being read: a sparse 8 GiB file with a valid tail.
    const std::string huge = dir.File("huge.prs");
    test::WriteFileBytes(huge, valid.substr(0, 64));
    fs::resize_file(huge, std::uint64_t{8} << 30);
    std::ofstream(huge, std::ios::in | std::ios::out | std::ios::ate).write("[END]\0", 6);
    EXPECT_EQ(ReadRecordingSummary(huge).status, RecordingStatus::Unreadable);
    EXPECT_EQ(ReadRecordingSummary(dir.Path()).status, RecordingStatus::Unreadable);
    EXPECT_EQ(ReadRecordingSummary(dir.File("missing.prs")).status, RecordingStatus::Unreadable);
    // Newest first; the unreadable by their modification time, which is now.
    const std::vector<RecordingSummary> listed = ListRecordings(dir.Path());
    ASSERT_EQ(listed.size(), 9u);
    EXPECT_EQ(listed.back().path, dir.File("ended.prs"));
    EXPECT_EQ(ListRecordings({dir.Path(), dir.Path() + "/.", dir.File("none")}).size(), 9u);
    EXPECT_EQ(KeptFileName(START, "a\0b/c"s, 3), "2001-09-09_01-46-40_a_b_c_3.prs");
}

} // namespace
} // namespace kolvena
