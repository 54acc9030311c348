#include <functional>

#include "protocol/core_harness.h"

namespace kolvena {
namespace {

using test::Chat;
using test::Core;
using test::Relayed;
using test::SentList;
using E = EventKind;
using P = PacketType;

constexpr std::size_t BOB = 0, DAN = 2, EVE = 3; // join order; Cat (1) has left

SentList ToAll(const std::string& packet) {
    return {{1, packet}, {2, packet}, {3, packet}};
}

TEST(HostHandler, LoginGetsTheWholeRosterAndTheOthersHearOfIt) {
    Core h;
    h.HostWithDeparted();
    const std::size_t events = h.log.events.size();
    const ConnectionId fay = h.Join("Fay");
    EXPECT_EQ(h.net.SlotOf(fay), MemberSlot(4));
    const SentList sent = h.TakeSent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].first, 4u);
    EXPECT_EQ(SentList(sent.begin() + 1, sent.end()), ToAll(BuildMemberJoined("Fay", "10.0.0.5")));
    const auto welcome = ReadWelcome(sent[0].second);
    ASSERT_TRUE(welcome);
    EXPECT_EQ(welcome->topic, "Topic");
    std::vector<std::string> roster;
    for (const Buddy& b : welcome->roster)
        roster.push_back(std::string(b.Name()) + "@" + std::string(b.Address()) +
                         (b.IsPresent() ? "" : " left"));
    EXPECT_EQ(roster,
              (std::vector<std::string>{"Leader@192.168.0.7", "Bob@10.0.0.1", "Cat@10.0.0.2 left",
                                        "Dan@10.0.0.3", "Eve@10.0.0.4", "Fay@10.0.0.5"}));
    EXPECT_EQ(FromGbk(welcome->backlog).rfind("Massage: 欢迎您加入会话，会话主题是 'Topic '", 0),
              0u);
    EXPECT_EQ(h.Line(), "-->> Fay 加入会话");
    EXPECT_EQ(h.EventsFrom(events),
              (std::vector<SessionEvent>{{E::EvMemberJoined, 0, BuildLogin("Fay")}}));
}

TEST(HostHandler, SlotsFollowLoginOrderAndAWaitingConnectionCountsOnlyItsFirstLogin) {
    Core h;
    h.Host();
    ASSERT_TRUE(h.f.core.OnConnectionPending());
    const ConnectionId early = h.net.Connect();
    ASSERT_TRUE(h.f.core.OnConnectionPending());
    const ConnectionId late = h.net.Connect();
    h.f.core.OnHostPacket(early, Chat(P::SayToHost, 2, 0));
    h.f.core.OnHostPacket(early, std::string("\x0A", 1)); // a Login cut short
    EXPECT_EQ(h.net.SlotOf(early), std::nullopt);
    EXPECT_TRUE(h.net.sent.empty());
    h.f.core.OnHostPacket(late, BuildLogin("Late"));
    h.f.core.OnHostPacket(early, BuildLogin("Early"));
    h.f.core.OnHostPacket(early, BuildLogin("Early again"));
    EXPECT_EQ(h.net.SlotOf(late), MemberSlot(1));
    EXPECT_EQ(h.net.SlotOf(early), MemberSlot(2));
    EXPECT_EQ(h.LinesFrom(h.s.lines.size() - 2),
              (std::vector<std::string>{"-->> Late 加入会话", "-->> Early 加入会话"}));
    EXPECT_EQ(h.s.roster.size(), 3u);
    EXPECT_EQ(h.net.SentTo(2).size(), 1u);
    // A waiting connection that goes away removes nobody.
    ASSERT_TRUE(h.f.core.OnConnectionPending());
    h.f.core.OnMemberLeave(h.net.Connect());
    EXPECT_EQ(h.s.GetBuddyCount(), 3);
}

TEST(HostHandler, TheDoorClosesWhenFullCountingWaitingConnections) {
    Core h;
    h.Host();
    h.s.settings.maxClients = 2;
    h.Join("Bob");
    EXPECT_TRUE(h.net.Accepting());
    ASSERT_TRUE(h.f.core.OnConnectionPending()); // the second is served...
    h.net.Connect();
    EXPECT_FALSE(h.net.Accepting());
    EXPECT_EQ(h.Line(), "-->> 当前会话人数已满，会话暂时对外关闭。");
    EXPECT_FALSE(h.f.core.OnConnectionPending()); // ...a third is refused
    h.f.core.OnMemberLeave(h.ids[0]);             // a departure does not reopen the session
    EXPECT_FALSE(h.f.core.OnConnectionPending());
}

// One session, packet after packet: what each slot gets, what the leader sees and records.
TEST(HostHandler, ScenarioRoutesByActiveIndexAndChecksSendersByBuddyId) {
    const std::string notice = BuildNotice(P::NoticeToHost, {4, "meet"});
    const std::string offer = BuildFilePacket(P::FileOfferToHost, {2, 3, "a.txt", 5});
    const std::string toLeader = BuildFilePacket(P::FileOfferToHost, {3, 1, "pic.png", 1234});
    const std::string rename = BuildRename(P::RenameToHost, {2, "Robert"});
    struct Step {
        const char* what;
        std::function<void(Core&)> before;
        std::size_t from;
        std::string packet; // empty: the member leaves
        SentList sent;
        std::vector<std::string> lines, boxes;
        std::vector<SessionEvent> events;
        int chats = 0, notices = 0;
        std::uint16_t target = 4; // the leader's target, Eve, renumbered by departures
    };
    const auto say = [](const std::string& p) { return Relayed(p, P::Say); };
    const std::string dan = Chat(P::SayToHost, 4, 0, false, "hello");
    const std::string toEve = Chat(P::SayToHost, 2, 4, true),
                      toDan = Chat(P::SayToHost, 2, 3, true);
    const std::string toMe = Chat(P::SayToHost, 2, 1, true), toAll = Chat(P::SayToHost, 2, 0, true);
    const std::string aloud = Chat(P::SayToHost, 2, 3);
    const auto answer = [](const std::string& p, P type) { return Relayed(p, type); };
    const Step steps[] = {
        Step("to everyone", {}, DAN, dan, ToAll(say(dan)), {"<Dan> 对大家说: hello"}, {},
             {{E::EvChatLine, 0, say(dan)}}, 1),
        Step("whisper to ActiveIndex 4", {}, BOB, toEve, {{3, say(toEve)}}, {}, {},
             {{E::EvChatLine, 0, say(toEve)}}, 1),
        Step("whisper to ActiveIndex 3", {}, BOB, toDan, {{2, say(toDan)}}, {}, {},
             {{E::EvChatLine, 0, say(toDan)}}, 1),
        Step("whisper to the leader", {}, BOB, toMe, {}, {"<Bob> 对 <你> 说(悄悄话): hi"}, {},
             {{E::EvChatLine, 0, say(toMe)}}, 1),
        Step("whisper to all", {}, BOB, toAll, ToAll(say(toAll)), {"<Bob> 对大家说(悄悄话): hi"},
             {}, {{E::EvChatLine, 0, say(toAll)}}, 1),
        Step("aloud to Dan", {}, BOB, aloud, ToAll(say(aloud)), {"<Bob> 对 <Dan> 说: hi"}, {},
             {{E::EvChatLine, 0, say(aloud)}}, 1),
        Step("as Dan", {}, BOB, Chat(P::SayToHost, 4, 0), {}, {}, {}, {}),
        Step("as Cat who left", {}, BOB, Chat(P::SayToHost, 3, 0), {}, {}, {}, {}),
        Step("past the present", {}, BOB, Chat(P::SayToHost, 2, 5), {}, {}, {}, {}),
        Step("cut short", {}, BOB, Chat(P::SayToHost, 2, 0).substr(0, 10), {}, {}, {}, {}),
        Step("notice refused", [](Core& h) { h.p.answers = {BoxAnswer::No}; }, DAN, notice,
             {{2, answer(notice, P::NoticeRefused)}}, {},
             {"组长验证: \n成员Dan 请求发送消息: \n <meet> \n是否验证通过？"},
             {{E::EvNotice, 0, answer(notice, P::NoticeRefused)}}),
        Step(
            "notice approved", [](Core& h) { h.p.answers = {BoxAnswer::Yes}; }, DAN, notice,
            ToAll(answer(notice, P::Notice)), {},
            {"组长验证: \n成员Dan 请求发送消息: \n <meet> \n是否验证通过？"},
            {{E::EvNotice, 0, answer(notice, P::Notice)}}, 0, 1),
        Step(
            "notice unverified", [](Core& h) { h.s.settings.verifyMessages = false; }, DAN, notice,
            ToAll(answer(notice, P::Notice)), {}, {}, {{E::EvNotice, 0, answer(notice, P::Notice)}},
            0, 1),
        Step("notice as Bob", {}, DAN, BuildNotice(P::NoticeToHost, {2, "x"}), {}, {}, {}, {}),
        Step("rename", {}, BOB, rename, ToAll(answer(rename, P::Rename)),
             {"-->> Bob 改名为 'Robert ' "}, {},
             {{E::EvNameChanged, 0, answer(rename, P::Rename)}}),
        Step("sleep", {}, EVE, BuildPresence(P::SleepToHost, {5}),
             ToAll(BuildPresence(P::Sleep, {5})), {"-->> Eve 休眠了."}, {},
             {{E::EvAsleep, 0, BuildPresence(P::Sleep, {5})}}),
        Step("wake", {}, EVE, BuildPresence(P::WakeToHost, {5}), ToAll(BuildPresence(P::Wake, {5})),
             {"-->> Eve 苏醒了."}, {}, {{E::EvAwake, 0, BuildPresence(P::Wake, {5})}}),
        Step("sleep as Bob", {}, EVE, BuildPresence(P::SleepToHost, {2}), {}, {}, {}, {}),
        Step("offer to Dan", {}, BOB, offer, {{2, answer(offer, P::FileOffer)}}, {}, {}, {}),
        Step("Dan accepts", {}, DAN, answer(offer, P::FileAcceptToHost),
             {{1, answer(offer, P::FileAccepted)}}, {}, {}, {}),
        Step("Eve answers for Dan", {}, EVE, answer(offer, P::FileRefuseToHost), {}, {}, {}, {}),
        Step("Eve offers as Bob", {}, EVE, offer, {}, {}, {}, {}),
        Step("offer to the leader", {}, DAN, toLeader, {{2, answer(toLeader, P::FileAccepted)}}, {},
             {"成员' Dan '请求向您发送文件 pic.png (1234字节), 接受文件吗? "}, {}),
        Step("offer while busy", {}, EVE, BuildFilePacket(P::FileOfferToHost, {4, 1, "b", 1}),
             {{3, BuildFilePacket(P::FileRefused, {4, 1, "b", 1})}}, {}, {"目前正在进行文件传输."},
             {}),
        Step("Bob leaves", {}, BOB, "", {{1, BuildMemberLeft(2)}, {2, BuildMemberLeft(2)}},
             {"-->> 成员 Robert 离开会话."}, {}, {{E::EvMemberLeft, 0, BuildMemberLeft(2)}}, 0, 0,
             3),
        Step("then Dan is ActiveIndex 2 on slot 1", {}, EVE, Chat(P::SayToHost, 5, 2, true),
             {{1, say(Chat(P::SayToHost, 5, 2, true))}}, {}, {},
             {{E::EvChatLine, 0, say(Chat(P::SayToHost, 5, 2, true))}}, 1, 0, 3),
        Step("a second report", {}, BOB, "", {}, {}, {}, {}, 0, 0, 3),
    };
    Core h;
    h.HostWithDeparted();
    h.s.target = 4;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.before)
            step.before(h);
        const std::size_t lines = h.s.lines.size(), events = h.log.events.size();
        const int chats = h.s.counters.chatLineTotal, notices = h.s.counters.messageTotal;
        h.p.boxes.clear();
        if (step.packet.empty())
            h.f.core.OnMemberLeave(h.ids[step.from]);
        else
            h.f.core.OnHostPacket(h.ids[step.from], step.packet);
        EXPECT_EQ(h.TakeSent(), step.sent);
        EXPECT_EQ(h.LinesFrom(lines), step.lines);
        EXPECT_EQ(h.BoxTexts(), step.boxes);
        EXPECT_EQ(h.EventsFrom(events), step.events);
        EXPECT_EQ(h.s.counters.chatLineTotal - chats, step.chats);
        EXPECT_EQ(h.s.counters.messageTotal - notices, step.notices);
        EXPECT_EQ(h.s.target, step.target);
    }
    std::vector<int> says, messages;
    for (const Buddy& b : h.s.roster) {
        says.push_back(b.sayCount);
        messages.push_back(b.messageCount);
    }
    EXPECT_EQ(says, (std::vector<int>{0, 5, 0, 1, 1}));
    EXPECT_EQ(messages, (std::vector<int>{0, 0, 0, 2, 0}));
    EXPECT_NE(h.s.messageText.find("Massage: Dan: meet "), std::string::npos);
    EXPECT_EQ(h.p.beeps.back(), BeepKind::Default);
    EXPECT_EQ(h.f.transfers.receiving.size(), 1u);
    EXPECT_TRUE(h.s.transfer.busy);
    EXPECT_EQ(h.net.closed, (std::vector<std::size_t>{2, 1}));
    EXPECT_EQ(h.s.GetBuddyCount(), 3);
}

TEST(HostHandler, MemberVanishingWhileItsNoticeAwaitsApproval) {
    Core h;
    h.HostWithDeparted();
    h.p.duringAsk = [&] { h.f.core.OnMemberLeave(h.ids[BOB]); };
    h.p.answers = {BoxAnswer::No};
    h.f.core.OnHostPacket(h.ids[BOB], BuildNotice(P::NoticeToHost, {2, "x"}));
    // The refusal goes nowhere; the departure was handled once.
    EXPECT_EQ(h.TakeSent(), (SentList{{1, BuildMemberLeft(2)}, {2, BuildMemberLeft(2)}}));
    EXPECT_EQ(h.s.GetBuddyCount(), 3);
    EXPECT_EQ(h.net.SlotOf(h.ids[DAN]), MemberSlot(1));
}

TEST(HostHandler, TheLastMemberLeavingSendsNothing) {
    Core h;
    h.Host({"Bob"});
    h.f.core.OnMemberLeave(h.ids[0]);
    EXPECT_TRUE(h.net.sent.empty());
    EXPECT_EQ(h.s.GetBuddyCount(), 1);
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
