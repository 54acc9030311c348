#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/core_harness.h"
#include "protocol/history_search.h"
#include "record/history_files.h"
#include "record/record_test_util.h"

namespace kolvena {
namespace {

using namespace test::harness;
using namespace std::string_literals;

class ShotTimer final : public HistoryTimer {
public:
    void Start(int) override {}
    void Stop() override {}
};

struct Player : test::Core {
    void Open(const std::string& path) {
        p.paths.push_back(path);
        cmd.OpenRecording();
    }
    // Rebuilds the session up to the last event, as the slider dragged to the end does.
    void ToEnd() { f.core.replay().Seek(static_cast<std::uint32_t>(log.events.size())); }
    // The lines holding one of the texts, in order.
    Lines With(std::initializer_list<const char*> texts) const {
        Lines out;
        for (const std::string& line : LinesFrom(0))
            for (const char* text : texts)
                if (line.find(text) != std::string::npos)
                    out.push_back(line);
        return out;
    }
};

std::vector<std::tuple<std::string, BuddyState, BuddyRole, std::uint32_t>>
Roster(const Session& s) {
    std::vector<std::tuple<std::string, BuddyState, BuddyRole, std::uint32_t>> out;
    for (const Buddy& b : s.roster)
        out.emplace_back(std::string(b.Name()), b.state, b.role, b.id);
    return out;
}

// A session past 65,535 events goes on in a second file that replays on its own to the
// session's roster and lines; the user is told once in the chat area, without a box.
TEST(History, ASecondPartReplaysOnItsOwn) {
    test::TempDir dir;
    ShotTimer timer;
    Player live;
    live.f.core.KeepHistory(dir.Path(), timer);
    live.Host({"Bob", "Cat", "Dan"});
    live.f.core.OnMemberLeave(live.ids[1]);
    live.f.core.OnHostPacket(live.ids[2], BuildPresence(P::SleepToHost, {4}));
    live.f.core.OnHostPacket(live.ids[0], BuildRename(P::RenameToHost, {2, "Bobby"}));
    live.log.events.resize(MAX_EVENTS, live.log.events.back());
    const std::size_t before = live.s.lines.size();
    live.f.core.OnHostPacket(live.ids[0], Chat(P::SayToHost, 2, 0, false, "after"));
    live.cmd.Send({"from leader", false, false});
    live.Join("Eve");
    live.f.core.OnHostPacket(live.ids[3], Chat(P::SayToHost, 5, 0, false, "eve here"));
    const auto roster = Roster(live.s);
    const std::initializer_list<const char*> said = {"after", "from leader", "eve here"};
    const Lines liveLines = live.With(said);
    const Lines told = live.With({"65535"});
    EXPECT_EQ(told.size(), 1u);
    EXPECT_TRUE(live.LinesFrom(before)[1].starts_with("-->> 会话录象已达到 65535 个事件"));
    live.p.answers = {BoxAnswer::Ok, BoxAnswer::No};
    live.cmd.Leave();
    live.f.core.history()->Drain();
    for (const std::string& box : live.Boxes(false))
        EXPECT_EQ(box.find("65535"), std::string::npos) << box;

    const std::vector<RecordingSummary> parts = ListRecordings(dir.Path());
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_TRUE(parts[0].path.ends_with("_Topic_2.prs")) << parts[0].path;
    EXPECT_EQ(std::tuple(parts[0].status, parts[1].status, parts[1].events),
              std::tuple(RecordingStatus::Ended, RecordingStatus::Ended, MAX_EVENTS));
    Player part2;
    part2.Open(parts[0].path);
    part2.ToEnd();
    EXPECT_EQ(Roster(part2.s), roster);
    EXPECT_EQ(part2.s.selfId.value, 1u);
    EXPECT_EQ(part2.With(said), liveLines);
    EXPECT_EQ(part2.With(said).size(), 3u);
}

// A member's own record need not be the roster's last: the next part's Welcome ends at it, and
// those who came after join (and leave, and sleep) again.
TEST(History, AMembersSecondPartKeepsItsPlaceInTheRoster) {
    test::TempDir dir;
    ShotTimer timer;
    Player live;
    live.f.core.KeepHistory(dir.Path(), timer);
    live.Client(); // Leader, Gone (left), Bob, Guest (the user)
    live.f.core.OnClientPacket(BuildMemberJoined("Zed", "10.0.0.5"));
    live.f.core.OnClientPacket(BuildMemberJoined("Yan", "10.0.0.6"));
    live.f.core.OnClientPacket(BuildMemberLeft(5));
    live.f.core.OnClientPacket(BuildPresence(P::Sleep, {5}));
    live.log.events.resize(MAX_EVENTS, live.log.events.back());
    live.f.core.OnClientPacket(Chat(P::Say, 5, 3, true, "zed to guest"));
    live.f.core.OnClientPacket(Chat(P::Say, 3, 0, false, "bob to all"));
    const auto roster = Roster(live.s);
    const Lines liveLines = live.With({"zed to guest", "bob to all"});
    live.p.answers = {BoxAnswer::Ok, BoxAnswer::No};
    live.cmd.Leave();
    live.f.core.history()->Drain();

    const std::vector<RecordingSummary> parts = ListRecordings(dir.Path());
    ASSERT_EQ(parts.size(), 2u);
    Player part2;
    part2.Open(parts[0].path);
    part2.ToEnd();
    EXPECT_EQ(Roster(part2.s), roster);
    EXPECT_EQ(part2.s.selfId.value, 4u);
    EXPECT_EQ(part2.With({"zed to guest", "bob to all"}), liveLines);
    EXPECT_EQ(liveLines.size(), 2u);
}

// A replayed notice carries the time it was recorded, whenever and however it is replayed; a
// notice the leader refused shows nothing. The search finds what went out, with its time.
TEST(History, ReplayedNoticesKeepTheirTimeAndTheSearchFindsWhatWentOut) {
    test::TempDir dir;
    Core live;
    live.Host({"Bob"});
    live.f.clock.Advance(100);
    live.p.answers = {BoxAnswer::No};
    live.f.core.OnHostPacket(live.ids[0], BuildNotice(P::NoticeToHost, {2, "Refused one"}));
    live.f.clock.Advance(50);
    live.p.answers = {BoxAnswer::Yes};
    live.f.core.OnHostPacket(live.ids[0], BuildNotice(P::NoticeToHost, {2, "APPROVED one"}));
    live.f.core.OnHostPacket(live.ids[0], BuildRename(P::RenameToHost, {2, ToGbk("鲍勃")}));
    live.f.clock.Advance(1);
    live.cmd.Send({ToGbk("全角 Approved 行"), false, false});
    live.p.paths.push_back(dir.File("r.prs"));
    live.cmd.SaveRecording();

    Player h;
    h.f.clock.Advance(86400 + 3600);
    h.Open(dir.File("r.prs"));
    h.ToEnd();
    EXPECT_NE(h.s.messageText.find("Massage: Bob: APPROVED one   (01:49:10)"), std::string::npos)
        << h.s.messageText;
    EXPECT_EQ(h.s.messageText.find("Refused"), std::string::npos);

    const std::vector<HistoryMatch> found = SearchRecording(dir.File("r.prs"), "approved");
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(std::tuple(found[0].event, found[0].time, found[0].line),
              std::tuple(4u, CalendarTime{1000000150}, "Bob: APPROVED one"s));
    EXPECT_EQ(std::tuple(found[1].event, found[1].time, FromGbk(found[1].line)),
              std::tuple(6u, CalendarTime{1000000151}, "Leader: 全角 Approved 行"s));
    EXPECT_TRUE(SearchRecording(dir.File("r.prs"), "refused").empty());
    EXPECT_TRUE(SearchRecording(dir.File("missing.prs"), "a").empty());
}

TEST(History, SearchComparesWholeCharactersWithoutCase) {
    const struct {
        const char* text;
        const char* needle;
        bool found;
    } rows[] = {
        {"Hello World", "WORLD", true},
        {"Hello", "hello!", false},
        {"全角ＡＢＣ", "ａｂｃ", true},
        {"ΑΒΓ абв", "αβγ АБВ", true},
        {"会议", "议", true},
        {"会议", "会议室", false},
        {"", "", true},
        {"x", "", true},
    };
    for (const auto& row : rows)
        EXPECT_EQ(ContainsIgnoringCase(ToGbk(row.text), ToGbk(row.needle)), row.found)
            << row.text << " / " << row.needle;
    // "@" (0x40) and "A" (0x41) are trail bytes of two-byte characters: they never match alone.
    EXPECT_FALSE(ContainsIgnoringCase("\x81\x40\x81\x41", "@"));
    EXPECT_FALSE(ContainsIgnoringCase("\x81\x41", "a"));
    EXPECT_TRUE(ContainsIgnoringCase("\x81\x41"
                                     "a",
                                     "A"));
    EXPECT_FALSE(ContainsIgnoringCase("\x81\x30\x81\x30", "0")); // a four-byte character
}

} // namespace
} // namespace kolvena
