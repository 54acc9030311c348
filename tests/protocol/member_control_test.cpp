// The leader's management of its members: removal, refused addresses, muting, and the table.
#include "protocol/core_harness.h"
#include "session/time_text.h"

namespace kolvena {
namespace {

using namespace test::harness;
using test::Effects;
constexpr std::size_t BOB = 0, DAN = 2; // join order; Cat (1) has left, Eve (3) is last

// The leader's whisper to ActiveIndex `to`, as it must leave the host.
std::string Whisper(std::uint16_t to, const char* text) {
    return BuildChat(P::Say, {"", to, 1, 1, 1, ToGbk(text)});
}

struct Managed : Core {
    Managed() { HostWithDeparted(); }
    MemberCommands& m = f.core.members();
    std::string Status(std::uint16_t id) { return StatusText(m.Rows().at(id - 1u).status); }
};

// Dan left after Cat, so his BuddyID (4), ActiveIndex (3) and slot (2) all differ.
TEST(MemberControl, RemovalWhispersToThatSlotAloneThenClosesItAndTheOthersRenumber) {
    Managed h;
    h.net.closed.clear();
    h.net.closedAfter.clear();
    const std::size_t lines = h.s.lines.size();
    EXPECT_TRUE(h.m.Remove(4));
    const std::string whisper = Whisper(3, "您已被组长请出会话。");
    ASSERT_FALSE(h.net.sent.empty());
    EXPECT_EQ(h.net.sent[0].connection, h.ids[DAN]);
    EXPECT_EQ(h.net.closed, std::vector<std::size_t>{2});
    EXPECT_EQ(h.net.closedAfter, std::vector<std::size_t>{1}); // the whisper went first
    EXPECT_EQ(h.TakeSent(),
              SentList({{2, whisper}, {1, BuildMemberLeft(3)}, {2, BuildMemberLeft(3)}}));
    EXPECT_EQ(h.LinesFrom(lines), (Lines{"<你> 对 <Dan> 说(悄悄话): 您已被组长请出会话。",
                                         "-->> 已将 Dan 请出会话", "-->> 成员 Dan 离开会话."}));
    EXPECT_EQ(h.Boxes(false), Lines{"您确定要将成员 Dan 请出会话吗？"});
    EXPECT_EQ(Events(h.log.events.end() - 2, h.log.events.end()),
              (Events{{E::EvChatLine, 0, whisper}, {E::EvMemberLeft, 0, BuildMemberLeft(3)}}));
    EXPECT_EQ(h.net.SlotOf(h.ids.back()), MemberSlot(2)); // Eve
    EXPECT_EQ(std::tuple(h.Status(3), h.Status(4), h.Status(5)),
              std::tuple("已离开", "已请出", "在线"));
    EXPECT_FALSE(h.m.Remove(4)); // the same member twice
    EXPECT_EQ(std::tuple(h.net.sent.size(), h.s.GetBuddyCount()), std::tuple(0u, 3));
}

// Each refused command: no question, nothing sent, recorded or changed; only its box.
TEST(MemberControl, RefusalsChangeNothing) {
    const struct {
        const char* what;
        std::function<bool(MemberCommands&)> command;
        const char* box;
    } cases[] = {
        {"twice", [](auto& m) { return m.Remove(3); }, "成员 Cat 已经离开了会话."},
        {"past the roster", [](auto& m) { return m.RemoveAndRefuse(9); }, "会话中没有这个成员."},
        {"nobody", [](auto& m) { return m.Mute(0, true); }, "会话中没有这个成员."},
        {"the leader", [](auto& m) { return m.Remove(1); }, "组长不能请出自己，也不能对自己禁言."},
        {"unmute the unmuted", [](auto& m) { return m.Mute(2, false); }, "成员 Bob 没有被禁言."},
        {"unknown address", [](auto& m) { return m.Unrefuse("10.0.0.1"); },
         "地址 10.0.0.1 不在禁止加入的名单中."},
    };
    Managed h;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(h.Run([&] { EXPECT_FALSE(c.command(h.m)); }), Effects({}, {}, {c.box}, {}));
    }
    EXPECT_EQ(h.s.GetBuddyCount(), 4);
    Core idle;
    EXPECT_FALSE(idle.f.core.members().Begin());
    EXPECT_EQ(idle.Boxes(),
              Lines{"会话管理|目前您没有主持任何会话。您可以通过创建一个新的会话来管理会话成员."});
}

// The member leaves while the box is open, or the leader says No: the answer goes nowhere.
TEST(MemberControl, AnswerAfterTheMemberLeftGoesNowhere) {
    Managed h;
    h.p.duringAsk = [&] { h.f.core.OnMemberLeave(h.ids[DAN]); };
    EXPECT_FALSE(h.m.RemoveAndRefuse(4));
    EXPECT_EQ(h.TakeSent(), To({1, 2}, BuildMemberLeft(3))); // its own departure, once
    h.p.answers = {BoxAnswer::No};
    EXPECT_FALSE(h.m.Mute(2, true));
    EXPECT_EQ(std::tuple(h.net.sent.size(), h.s.GetBuddyCount(), h.m.RefusedAddresses().size()),
              std::tuple(0u, 3, 0u));
    EXPECT_EQ(std::tuple(h.Status(4), h.Status(2)), std::tuple("已离开", "在线"));
}

// Muted, Bob's lines and notices (one already awaiting approval) reach nobody and count for
// nothing; his rename goes through. He is told once each way.
TEST(MemberControl, MuteDropsLinesAndNoticesButNotRenames) {
    Managed h;
    const std::string notice = BuildNotice(P::NoticeToHost, {2, "n"});
    h.p.duringAsk = [&] { EXPECT_TRUE(h.m.Mute(2, true)); }; // opens over the approval box
    EXPECT_EQ(h.Run([&] { h.f.core.OnHostPacket(h.ids[BOB], notice); }),
              Effects({{1, Whisper(2, "您已被组长禁言。")}},
                      {"<你> 对 <Bob> 说(悄悄话): 您已被组长禁言。", "-->> 已对 Bob 禁言"},
                      {"组长验证: \n成员Bob 请求发送消息: \n <n> \n是否验证通过？",
                       "您确定要对成员 Bob 禁言吗？"},
                      Rec(E::EvChatLine, Whisper(2, "您已被组长禁言。"))));
    EXPECT_EQ(h.Status(2), "已禁言");
    for (const std::string& dropped : {Chat(P::SayToHost, 2, 0), notice})
        EXPECT_EQ(h.Run([&] { h.f.core.OnHostPacket(h.ids[BOB], dropped); }), Effects());
    const std::string rename = BuildRename(P::RenameToHost, {2, "Rob"});
    EXPECT_EQ(std::get<0>(h.Run([&] { h.f.core.OnHostPacket(h.ids[BOB], rename); })),
              ToAll(Relayed(rename, P::Rename)));
    EXPECT_EQ(
        std::tuple(h.s.roster[1].sayCount, h.s.roster[1].messageCount, h.s.counters.chatLineTotal),
        std::tuple(0, 0, 1));        // the one line is the leader's whisper
    EXPECT_FALSE(h.m.Mute(2, true)); // once is enough
    EXPECT_TRUE(h.m.Mute(2, false));
    EXPECT_EQ(h.net.SentTo(1).back(), Whisper(2, "组长已解除您的禁言。"));
    const std::string line = Chat(P::SayToHost, 2, 0);
    EXPECT_EQ(std::get<0>(h.Run([&] { h.f.core.OnHostPacket(h.ids[BOB], line); })),
              ToAll(Relayed(line, P::Say)));
}

// A refused address is told once a minute, until it is let in again; a new session forgets it.
TEST(MemberControl, RefusedAddressIsToldOnceAMinute) {
    Managed h;
    EXPECT_TRUE(h.m.RemoveAndRefuse(2));
    EXPECT_EQ(h.Line(), "-->> 成员 Bob 离开会话.");
    EXPECT_EQ(h.m.RefusedAddresses(), Lines{"10.0.0.1"});
    const struct {
        CalendarTime advance;
        const char* address;
        bool refused;
        std::size_t lines;
    } steps[] = {{0, "10.0.0.1", true, 1},
                 {59, "10.0.0.1", true, 0},
                 {0, "10.0.0.9", false, 0},
                 {1, "10.0.0.1", true, 1}};
    for (const auto& step : steps) {
        h.f.clock.Advance(step.advance);
        const std::size_t before = h.s.lines.size();
        EXPECT_EQ(h.f.core.RefuseConnection(step.address), step.refused);
        EXPECT_EQ(h.s.lines.size() - before, step.lines);
    }
    EXPECT_EQ(h.Line(), "-->> 已拒绝来自 10.0.0.1 的连接");
    EXPECT_TRUE(h.m.Unrefuse("10.0.0.1"));
    EXPECT_FALSE(h.f.core.RefuseConnection("10.0.0.1"));
}

TEST(MemberControl, RowsNameEveryRecordWithItsFigures) {
    Managed h;
    h.f.core.OnHostPacket(h.ids[BOB], Chat(P::SayToHost, 2, 0));
    h.f.core.OnHostPacket(h.ids.back(), BuildPresence(P::SleepToHost, {5}));
    h.f.clock.Advance(30);
    const auto rows = h.m.Rows();
    ASSERT_EQ(rows.size(), 5u);
    const auto texts = RowTexts(rows[1]);
    EXPECT_EQ(
        Lines(texts.begin(), texts.end()),
        (Lines{"Bob", "2", "10.0.0.1", FormatClock(1000000000), "00:00:30", "1", "0", "在线"}));
    EXPECT_EQ(std::tuple(rows[0].leader, rows[3].index, rows[4].index,
                         std::string(StatusText(rows[4].status))),
              std::tuple(true, ActiveIndex(3), ActiveIndex(4), "休眠"));
    EXPECT_EQ(RowTexts(rows[2])[4], "00:00:00"); // Cat's stay ended when she left
}

} // namespace
} // namespace kolvena
