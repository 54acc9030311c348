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

TEST(ClientHandler, NothingCountsBeforeTheWelcomeWhichBringsTopicRosterAndBacklog) {
    Core h;
    h.Connect();
    h.f.core.OnClientPacket(BuildMemberJoined("Early", "10.0.0.5"));
    h.f.core.OnClientPacket(Chat(P::Say, 1, 0));
    EXPECT_TRUE(h.s.roster.empty());
    EXPECT_TRUE(h.log.events.empty());
    const std::size_t lines = h.s.lines.size();
    h.f.core.OnClientPacket(Core::WelcomePacket());
    EXPECT_EQ(h.s.selfId, 4);
    EXPECT_EQ(h.s.GetSelfIndex(), 3);
    EXPECT_EQ(h.s.topic, "Topic");
    EXPECT_EQ(h.s.createdAt, 992872987);
    EXPECT_EQ(h.s.messageText, std::string(MessageWindowHeader()) + "Massage: hi\r\n");
    EXPECT_EQ(h.s.counters.messageTotal, 2); // the window's line count less one
    EXPECT_EQ(h.LinesFrom(lines),
              (std::vector<std::string>{
                  "-->> 成功传回会话成员数据与会话消息!",
                  "-->> 欢迎您加入会话，现在您便可以与您的朋友进行对话了，会话愉快!"}));
    EXPECT_EQ(h.log.events,
              (std::vector<SessionEvent>{{E::EvSessionJoined, 0, Core::WelcomePacket()}}));
    h.f.core.OnClientPacket(Core::WelcomePacket()); // a second one would duplicate the roster
    EXPECT_EQ(h.s.roster.size(), 4u);
}

// One session, packet after packet from the host: what the user sees, sends back and records.
TEST(ClientHandler, ScenarioNamesSendersByBuddyIdAndTargetsByActiveIndex) {
    const std::string offer = BuildFilePacket(P::FileOffer, {2, 3, "a.txt", 10});
    const std::string toMe = Chat(P::Say, 3, 3, false, "to you");
    struct Step {
        const char* what;
        std::string packet;
        std::vector<std::string> lines, boxes;
        std::vector<SessionEvent> events; // empty: nothing recorded
        SentList sent = {};
        int chats = 0, own = 0; // chat lines, own notices
        std::uint16_t target = 0, selfIndex = 3;
        std::function<void(Core&)> before = {};
    };
    const auto recorded = [](E kind, const std::string& p) {
        return std::vector<SessionEvent>{{kind, 0, p}};
    };
    const std::string mine = BuildNotice(P::Notice, {4, "mine"});
    const std::string rename = BuildRename(P::Rename, {3, "Robert"});
    const std::string joined = BuildMemberJoined("Dave", "10.0.0.4");
    const std::string fromDave = Chat(P::Say, 5, 2);
    const Step steps[] = {
        Step("own line back", Chat(P::Say, 4, 0), {}, {}, {}),
        Step("to the user", toMe, {"<Bob> 对 <你> 说: to you"}, {}, recorded(E::EvChatLine, toMe),
             {}, 1),
        Step("sender the roster lacks", Chat(P::Say, 9, 0), {}, {}, {}),
        Step("own notice", mine, {}, {}, recorded(E::EvNotice, mine), {}, 0, 1),
        Step("own notice refused", BuildNotice(P::NoticeRefused, {4, "nope"}), {},
             {"您待发送的消息: <nope> 验证没有通过，无法被发送。"}, {}),
        Step("own rename", BuildRename(P::Rename, {4, "Caz"}), {}, {},
             recorded(E::EvNameChanged, BuildRename(P::Rename, {4, "Caz"}))),
        Step("own sleep", BuildPresence(P::Sleep, {4}), {}, {},
             recorded(E::EvAsleep, BuildPresence(P::Sleep, {4}))),
        Step("own wake", BuildPresence(P::Wake, {4}), {}, {},
             recorded(E::EvAwake, BuildPresence(P::Wake, {4}))),
        Step("rename", rename, {"-->> Bob 改名为 'Robert ' "}, {},
             recorded(E::EvNameChanged, rename)),
        Step("sleep", BuildPresence(P::Sleep, {3}), {"-->> Robert 休眠了."}, {},
             recorded(E::EvAsleep, BuildPresence(P::Sleep, {3}))),
        Step("offer", offer, {}, {"成员' Robert '请求向您发送文件 a.txt (10字节), 接受文件吗? "},
             {}, {{0, Relayed(offer, P::FileAcceptToHost)}}),
        Step("offer while busy", offer, {}, {"目前正在进行文件传输."}, {},
             {{0, Relayed(offer, P::FileRefuseToHost)}}),
        Step("joined", joined, {"-->> 新成员 Dave 加入会话."}, {},
             recorded(E::EvMemberJoined, joined), {}, 0, 0, 4, 3, [](Core& h) { h.s.target = 4; }),
        Step("Bob leaves", BuildMemberLeft(2), {"-->> 成员 Robert 离开会话."}, {},
             recorded(E::EvMemberLeft, BuildMemberLeft(2)), {}, 0, 0, 3, 2),
        Step("Dave to the user", fromDave, {"<Dave> 对 <你> 说: hi"}, {},
             recorded(E::EvChatLine, fromDave), {}, 1, 0, 3, 2),
        Step("left past the roster", BuildMemberLeft(7), {}, {}, {}, {}, 0, 0, 3, 2),
        Step("left nobody", BuildMemberLeft(0), {}, {}, {}, {}, 0, 0, 3, 2),
    };
    Core h;
    h.Client();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.before)
            step.before(h);
        const std::size_t lines = h.s.lines.size(), events = h.log.events.size();
        const int chats = h.s.counters.chatLineTotal, own = h.s.counters.ownMessageTotal;
        h.p.boxes.clear();
        h.f.core.OnClientPacket(step.packet);
        EXPECT_EQ(h.LinesFrom(lines), step.lines);
        EXPECT_EQ(h.BoxTexts(), step.boxes);
        EXPECT_EQ(h.EventsFrom(events), step.events);
        EXPECT_EQ(h.TakeSent(), step.sent);
        EXPECT_EQ(h.s.counters.chatLineTotal - chats, step.chats);
        EXPECT_EQ(h.s.counters.ownMessageTotal - own, step.own);
        EXPECT_EQ(h.s.target, step.target);
        EXPECT_EQ(h.s.GetSelfIndex(), step.selfIndex);
    }
    EXPECT_NE(h.s.messageText.find("Massage: Guest: mine "), std::string::npos);
    EXPECT_EQ(h.s.messageText.find("nope"), std::string::npos);
    EXPECT_EQ(h.s.counters.relatedSayTotal, 2);
    EXPECT_EQ(h.s.roster[2].sayCount, 1);
    EXPECT_EQ(h.s.roster[3].messageCount, 1);
    EXPECT_EQ(h.s.roster[4].id, 5u);
    EXPECT_EQ(h.f.transfers.receiving.size(), 1u);
}

TEST(ClientHandler, HostGoneEndsTheSession) {
    Core h;
    h.Client();
    h.f.clock.Advance(5);
    h.f.core.OnHostGone();
    EXPECT_TRUE(h.s.roster.empty());
    EXPECT_FALSE(h.s.inSession);
    EXPECT_EQ(h.net.shutdowns, 1);
    EXPECT_EQ(h.Line(), "-->> 组长已经关闭会话。所有人都已经退出了。");
    EXPECT_NE(FromGbk(h.s.messageText).find("Massage: 会话 'Topic ' 关闭"), std::string::npos);
    EXPECT_EQ(h.s.endedAt, h.f.clock.Now());
    EXPECT_EQ(h.log.events.back().kind, EventKind::EvSessionEnded);
    EXPECT_EQ(h.log.events.back().delay, 5);
    h.f.core.OnClientPacket(Chat(P::Say, 3, 0)); // packets after the end count for nothing
    EXPECT_EQ(h.log.events.size(), 2u);
}

} // namespace
} // namespace kolvena
