#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "record/event_log.h"
#include "record/recording_file.h"
#include "record/transcript.h"
#include "record_test_util.h"
#include "session/gbk.h"
#include "session/session.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

using namespace std::string_literals;

constexpr CalendarTime CREATED = 992872987; // 2001-06-18 14:03:07 UTC
constexpr CalendarTime SAVED = 992873400;   // 14:10:00

// A leader's session on 18 June 2001 with the topic abc: three members (one of them gone), one
// notice at 14:05:00 and two chat lines.
class TranscriptTest : public ::testing::Test {
protected:
    void SetUp() override {
        session.topic = "abc";
        session.createdAt = CREATED;
        session.inSession = true;
        for (const char* name : {"alice", "bob", "carol"})
            session.AddBuddy(Buddy::Make(name, "10.0.0.1", BuddyRole::Member));
        session.MarkBuddyLeft(1);
        session.messageText = std::string(MessageWindowHeader());
        clock.now = CREATED + 113;
        session.RecordMessage("hello");
        session.AddLine(ToGbk("<你> 对大家说: 你好"), 1);
        session.AddLine(ToGbk("-->> 新成员 bob 加入会话."), 0);
        clock.now = SAVED;
    }

    test::FakeClock clock{CREATED};
    test::ScriptedPrompter prompter;
    Session session{clock, prompter};
};

TEST_F(TranscriptTest, ExactBytesWhileInSession) {
    const std::string transcript = BuildTranscript(session, SAVED);
    EXPECT_EQ(transcript, ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n"
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
    EXPECT_EQ(DefaultFileName(session), "abc(6-18-2001)");
    EXPECT_TRUE(HasSessionRecord(session));
    session.messageText = std::string(MessageWindowHeader());
    EXPECT_FALSE(HasSessionRecord(session));
    // The default name keeps GBK and avoids slashes; the dialog gets it as UTF-8.
    session.topic = ToGbk("周会/计划");
    EXPECT_EQ(DefaultFileName(session), ToGbk("周会_计划(6-18-2001)"));
    EXPECT_EQ(RecordingSaveRequest(session).initialName, "周会_计划(6-18-2001)");
}

TEST_F(TranscriptTest, EndTimeIsNowInSessionAndEndedAtAfterIt) {
    struct Case {
        bool inSession;
        CalendarTime endedAt;
        std::string end;
    };
    for (const Case& c : {Case{true, 0, "14:10:00 (6/18/2001)"},
                          Case{false, CREATED + 3600, "15:03:07 (6/18/2001)"},
                          Case{false, CREATED + 86400, "14:03:07 (6/19/2001)"}}) {
        session.inSession = c.inSession;
        session.endedAt = c.endedAt;
        EXPECT_NE(BuildTranscript(session, SAVED).find(" - " + c.end + "\r\n"), std::string::npos)
            << c.end;
    }
}

TEST_F(TranscriptTest, LongPaneTextsAreWrittenWhole) {
    const std::string notice = std::string(70000, 'n') + "N";
    const std::string chat = std::string(66000, 'c') + "C";
    session.messageText += notice;
    session.AddLine(chat, 0);
    test::TempDir dir;
    const std::string path = dir.File("abc(6-18-2001).txt");
    ASSERT_TRUE(WriteTranscript(session, SAVED, path).ok);
    const std::string bytes = test::ReadFileBytes(path);
    EXPECT_EQ(bytes, BuildTranscript(session, SAVED));
    EXPECT_NE(bytes.find(notice + ToGbk("\r\n\r\n// 公聊区 \r\n\r\n")), std::string::npos);
    EXPECT_NE(bytes.find(chat + "\r\n\r\n"), std::string::npos);
}

TEST(TextRecordTest, ReadsTheBytesUpToTheFirstNul) {
    test::TempDir dir;
    const std::string big = std::string(200 * 1024, 'b') + "E";
    struct Case {
        std::string bytes;
        std::string text;
    };
    for (const Case& c :
         {Case{"", ""}, Case{"one\r\ntwo\r\n", "one\r\ntwo\r\n"}, Case{"abc\0def"s, "abc"},
          Case{"\0abc"s, ""}, Case{"\xC4\xE3\xBA\xC3", "\xC4\xE3\xBA\xC3"}, Case{big, big}}) {
        test::WriteFileBytes(dir.File("record.txt"), c.bytes);
        std::string text = "stale";
        ASSERT_TRUE(ReadTextRecord(dir.File("record.txt"), text).ok);
        EXPECT_EQ(text, c.text);
    }
}

// Both failing writes and failing reads name the file, and a failed read keeps the text.
TEST_F(TranscriptTest, FileFailuresAreReportedWithThePath) {
    test::TempDir dir;
    for (const std::string& path : {dir.File("no-such-dir/x.txt"), dir.Path(), "/dev/full"s}) {
        const FileResult result = WriteTranscript(session, SAVED, path);
        EXPECT_FALSE(result.ok) << path;
        EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
    }
    for (const std::string& path : {dir.File("missing.txt"), dir.Path()}) {
        std::string text = "kept";
        const FileResult result = ReadTextRecord(path, text);
        EXPECT_FALSE(result.ok) << path;
        EXPECT_NE(result.error.find(path), std::string::npos);
        EXPECT_EQ(text, "kept");
    }
}

TEST(SaveRecordingTest, FillsTheHeaderFromTheSession) {
    test::FakeClock clock{CREATED};
    test::ScriptedPrompter prompter;
    Session session(clock, prompter);
    // 39 ASCII bytes and then a two-byte character: the character does not fit in 40.
    session.topic = std::string(39, 't') + ToGbk("会") + "tail";
    session.AddBuddy(Buddy::Make("a", "10.0.0.1", BuddyRole::Leader));
    session.AddBuddy(Buddy::Make("b", "10.0.0.2", BuddyRole::Member));
    session.MarkBuddyLeft(1);
    session.counters.chatLineTotal = 7;
    session.counters.messageTotal = 4;
    EventLog log(clock, prompter);
    log.AppendEvent(EventKind::EvSessionCreated, "x");

    test::TempDir dir;
    const FileResult uncreatable = SaveRecording(log, session, dir.File("none/x.prs"));
    EXPECT_FALSE(uncreatable.ok);
    EXPECT_FALSE(uncreatable.error.empty());
    EXPECT_EQ(log.header, RecordingHeader{}); // untouched when the file cannot be made

    ASSERT_TRUE(SaveRecording(log, session, dir.File("x.prs")).ok);
    EventLog loaded(clock, prompter);
    ASSERT_TRUE(LoadRecording(loaded, dir.File("x.prs")).ok);
    const RecordingHeader expected{0, 1, std::string(39, 't'), 2, 7, 4, 0, CREATED};
    EXPECT_EQ(loaded.header, expected);
    EXPECT_EQ(loaded.events, log.events);
}

} // namespace
} // namespace kolvena
