#include <algorithm>
#include <functional>

#include "protocol/core_harness.h"

namespace kolvena {
namespace {

using namespace test::harness;
constexpr std::size_t BOB = 0, DAN = 2, EVE = 3; // join order; Cat (1) has left

TEST(HostHandler, LoginGetsTheWholeRosterAndTheOthersHearOfIt) {
    Core h;
    h.HostWithDeparted();
    const auto [sent, lines, boxes, events] = h.Run([&] { h.Join("Fay"); });
    EXPECT_EQ(h.net.SlotOf(h.ids.back()), MemberSlot(4));
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].first, 4u);
    EXPECT_EQ(SentList(sent.begin() + 1, sent.end()), ToAll(BuildMemberJoined("Fay", "10.0.0.5")));
    const auto welcome = ReadWelcome(sent[0].second);
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->topic, "Topic");
    Lines roster;
    for (const Buddy& b : welcome->roster)
        roster.push_back(std::string(b.Name()) + "@" + std::string(b.Address()) +
                         (b.IsPresent() ? "" : " left"));
    EXPECT_EQ(roster, (Lines{"Leader@192.168.0.7", "Bob@10.0.0.1", "Cat@10.0.0.2 left",
                             "Dan@10.0.0.3", "Eve@10.0.0.4", "Fay@10.0.0.5"}));
    EXPECT_EQ(FromGbk(welcome->backlog).rfind("Massage: 欢迎您加入会话，会话主题是 'Topic '", 0),
              0u);
    EXPECT_EQ(lines, (Lines{"-->> 新成员登陆会话, 正在检测成员资料...", "-->> Fay 加入会话"}));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(events, Rec(E::EvMemberJoined, BuildLogin("Fay")));
}

// Two connections wait for their Login; the second fills the session.
TEST(HostHandler, SlotsFollowLoginOrderAndTheDoorClosesWhenFullCountingWaitingConnections) {
    Core h;
    h.Host();
    h.s.settings.maxClients = 2;
    ASSERT_TRUE(h.f.core.OnConnectionPending());
    const ConnectionId early = h.net.Connect();
    EXPECT_TRUE(h.net.Accepting());
    ASSERT_TRUE(h.f.core.OnConnectionPending()); // the second is served...
    const ConnectionId late = h.net.Connect();
    EXPECT_FALSE(h.net.Accepting());
    EXPECT_EQ(h.Line(), "-->> 当前会话人数已满，会话暂时对外关闭。");
    EXPECT_FALSE(h.f.core.OnConnectionPending()); // ...a third is refused
    h.f.core.OnHostPacket(early, Chat(P::SayToHost, 2, 0));
    h.f.core.OnHostPacket(early, std::string("\x0A", 1)); // a Login cut short
    EXPECT_EQ(h.net.SlotOf(early), std::nullopt);
    EXPECT_TRUE(h.net.sent.empty());
    h.f.core.OnHostPacket(late, BuildLogin("Late"));
    h.f.core.OnHostPacket(early, BuildLogin("Early"));
    h.f.core.OnHostPacket(early, BuildLogin("Early again"));
    EXPECT_EQ(std::tuple(h.net.SlotOf(late), h.net.SlotOf(early)),
              std::tuple(MemberSlot(1), MemberSlot(2)));
    EXPECT_EQ(h.LinesFrom(h.s.lines.size() - 2),
              (Lines{"-->> Late 加入会话", "-->> Early 加入会话"}));
    EXPECT_EQ(std::tuple(h.s.roster.size(), h.net.SentTo(2).size()), std::tuple(3u, 1u));
    // A waiting connection going away removes nobody; the last member leaving is told to nobody.
    h.f.core.OnMemberLeave(h.net.Connect());
    EXPECT_EQ(h.s.GetBuddyCount(), 3);
    h.f.core.OnMemberLeave(late);
    h.Forget();
    h.f.core.OnMemberLeave(early);
    EXPECT_TRUE(h.net.sent.empty());
    EXPECT_EQ(h.s.GetBuddyCount(), 1);
    EXPECT_FALSE(h.f.core.OnConnectionPending());
}

// One packet from a member (none: it leaves) and all it causes.
struct Step {
    const char* what;
    std::size_t from;
    std::string packet;
    SentList sent = {};
    Lines lines = {}, boxes = {};
    Events events = {};
    std::function<void(Core&)> before = {};
};
// A chat line, relayed to the slots and recorded.
Step Said(const char* what, std::size_t from, const std::string& packet,
          std::initializer_list<std::size_t> onSlots, Lines lines = {}) {
    const std::string say = Relayed(packet, P::Say);
    return {what, from, packet, To(onSlots, say), std::move(lines), {}, Rec(E::EvChatLine, say)};
}

// One session, packet after packet: what each slot gets, what the leader sees and records.
TEST(HostHandler, ScenarioRoutesByActiveIndexAndChecksSendersByBuddyId) {
    const std::string notice = BuildNotice(P::NoticeToHost, {4, "meet"});
    const std::string offer = BuildFilePacket(P::FileOfferToHost, {2, 3, "a.txt", 5});
    const std::string toLeader = BuildFilePacket(P::FileOfferToHost, {3, 1, "pic.png", 1234});
    const std::string busy = BuildFilePacket(P::FileOfferToHost, {4, 1, "b", 1});
    const std::string rename = BuildRename(P::RenameToHost, {2, "Robert"});
    const std::string ask = "组长验证: \n成员Dan 请求发送消息: \n <meet> \n是否验证通过？";
    const auto as = [](const std::string& p, P type) { return Relayed(p, type); };
    const auto answer = [](BoxAnswer a) { return [a](Core& h) { h.p.answers = {a}; }; };
    const auto sleep = BuildPresence(P::Sleep, {5}), wake = BuildPresence(P::Wake, {5});
    const Step steps[] = {
        Said("to everyone", DAN, Chat(P::SayToHost, 4, 0, false, "hello"), {1, 2, 3},
             {"<Dan> 对大家说: hello"}),
        Said("whisper to ActiveIndex 4", BOB, Chat(P::SayToHost, 2, 4, true), {3}),
        Said("whisper to the leader", BOB, Chat(P::SayToHost, 2, 1, true), {},
             {"<Bob> 对 <你> 说(悄悄话): hi"}),
        Said("whisper to all", BOB, Chat(P::SayToHost, 2, 0, true), {1, 2, 3},
             {"<Bob> 对大家说(悄悄话): hi"}),
        Said("aloud to Dan", BOB, Chat(P::SayToHost, 2, 3), {1, 2, 3}, {"<Bob> 对 <Dan> 说: hi"}),
        Step("as Dan", BOB, Chat(P::SayToHost, 4, 0)),
        Step("past the present", BOB, Chat(P::SayToHost, 2, 5)),
        Step("cut short", BOB, Chat(P::SayToHost, 2, 0).substr(0, 10)),
        Step("notice refused", DAN, notice, {{2, as(notice, P::NoticeRefused)}}, {}, {ask},
             Rec(E::EvNotice, as(notice, P::NoticeRefused)), answer(BoxAnswer::No)),
        Step("notice approved", DAN, notice, ToAll(as(notice, P::Notice)), {}, {ask},
             Rec(E::EvNotice, as(notice, P::Notice)), answer(BoxAnswer::Yes)),
        Step("notice unverified", DAN, notice, ToAll(as(notice, P::Notice)), {}, {},
             Rec(E::EvNotice, as(notice, P::Notice)),
             [](Core& h) { h.s.settings.verifyMessages = false; }),
        Step("notice as Bob", DAN, BuildNotice(P::NoticeToHost, {2, "x"})),
        Step("rename", BOB, rename, ToAll(as(rename, P::Rename)), {"-->> Bob 改名为 'Robert ' "},
             {}, Rec(E::EvNameChanged, as(rename, P::Rename))),
        Step("sleep", EVE, BuildPresence(P::SleepToHost, {5}), ToAll(sleep), {"-->> Eve 休眠了."},
             {}, Rec(E::EvAsleep, sleep)),
        Step("wake", EVE, BuildPresence(P::WakeToHost, {5}), ToAll(wake), {"-->> Eve 苏醒了."}, {},
             Rec(E::EvAwake, wake)),
        Step("sleep as Bob", EVE, BuildPresence(P::SleepToHost, {2})),
        Step("offer to Dan", BOB, offer, {{2, as(offer, P::FileOffer)}}),
        Step("Dan accepts", DAN, as(offer, P::FileAcceptToHost), {{1, as(offer, P::FileAccepted)}}),
        Step("Eve answers for Dan", EVE, as(offer, P::FileRefuseToHost)),
        Step("Eve offers as Bob", EVE, offer),
        Step("offer to the leader", DAN, toLeader, {{2, as(toLeader, P::FileAccepted)}}, {},
             {"成员' Dan '请求向您发送文件 pic.png (1234字节), 接受文件吗? "}),
        Step("offer while busy", EVE, busy, {{3, as(busy, P::FileRefused)}}, {},
             {"目前正在进行文件传输."}),
        Step("Bob leaves", BOB, "", To({1, 2}, BuildMemberLeft(2)), {"-->> 成员 Robert 离开会话."},
             {}, Rec(E::EvMemberLeft, BuildMemberLeft(2))),
        Said("then Dan is ActiveIndex 2 on slot 1", EVE, Chat(P::SayToHost, 5, 2, true), {1}),
        Step("a second report", BOB, ""),
    };
    Core h;
    h.HostWithDeparted();
    h.s.target = 4; // Eve, renumbered when Bob leaves
    bool departed = false;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.before)
            step.before(h);
        const auto n = h.s.counters;
        EXPECT_EQ(h.Run([&] {
            if (step.packet.empty())
                h.f.core.OnMemberLeave(h.ids[step.from]);
            else
                h.f.core.OnHostPacket(h.ids[step.from], step.packet);
        }),
                  std::tie(step.sent, step.lines, step.boxes, step.events));
        // Every chat line recorded is counted, and so is every notice relayed.
        const auto count = [&](E kind, P type) {
            return std::count_if(step.events.begin(), step.events.end(), [&](const auto& e) {
                return e.kind == kind && static_cast<P>(e.data[0]) == type;
            });
        };
        EXPECT_EQ(h.s.counters.chatLineTotal - n.chatLineTotal, count(E::EvChatLine, P::Say));
        EXPECT_EQ(h.s.counters.messageTotal - n.messageTotal, count(E::EvNotice, P::Notice));
        departed = departed || step.packet.empty();
        EXPECT_EQ(h.s.target, departed ? 3 : 4);
    }
    std::vector<std::pair<int, int>> counts; // each member's says and notices
    for (const Buddy& b : h.s.roster)
        counts.emplace_back(b.sayCount, b.messageCount);
    EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{0, 0}, {4, 0}, {0, 0}, {1, 2}, {1, 0}}));
    EXPECT_NE(h.s.messageText.find("Massage: Dan: meet "), std::string::npos);
    EXPECT_EQ(std::tuple(h.p.beeps.back(), h.f.transfers.receiving.size(), h.s.transfer.busy,
                         h.s.GetBuddyCount(), h.net.closed),
              std::tuple(BeepKind::Default, 1u, true, 3, std::vector<std::size_t>{2, 1}));
}

TEST(HostHandler, MemberVanishingWhileItsNoticeAwaitsApproval) {
    Core h;
    h.HostWithDeparted();
    h.p.duringAsk = [&] { h.f.core.OnMemberLeave(h.ids[BOB]); };
    h.p.answers = {BoxAnswer::No};
    h.f.core.OnHostPacket(h.ids[BOB], BuildNotice(P::NoticeToHost, {2, "x"}));
    // The refusal goes nowhere; the departure was handled once.
    EXPECT_EQ(h.TakeSent(), To({1, 2}, BuildMemberLeft(2)));
    EXPECT_EQ(h.s.GetBuddyCount(), 3);
    EXPECT_EQ(h.net.SlotOf(h.ids[DAN]), MemberSlot(1));
}

TEST(HostHandler, AnAnswerToAnOfferTheLeaderNeverMadeStartsNothing) {
    Core h;
    h.HostWithDeparted();
    h.f.core.OnHostPacket(h.ids[BOB], BuildFilePacket(P::FileAcceptToHost, {1, 2, "secret", 9}));
    EXPECT_TRUE(h.f.transfers.sending.empty());
    h.s.transfer.path = "/tmp/a.txt";
    h.s.transfer.name = "a.txt";
    h.s.transfer.peer = 2;
    h.f.core.OnHostPacket(h.ids[BOB], BuildFilePacket(P::FileAcceptToHost, {1, 2, "a.txt", 9}));
    ASSERT_EQ(h.f.transfers.sending.size(), 1u);
    EXPECT_EQ(h.f.transfers.sending[0].second, "10.0.0.1");
}

} // namespace
} // namespace kolvena
