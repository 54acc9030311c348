#include <algorithm>

#include "protocol/core_harness.h"

namespace kolvena {
namespace {

using namespace test::harness;
TEST(ClientHandler, NothingCountsBeforeTheWelcomeWhichBringsTopicRosterAndBacklog) {
    Core h;
    h.Connect();
    h.f.core.OnClientPacket(BuildMemberJoined("Early", "10.0.0.5"));
    h.f.core.OnClientPacket(Chat(P::Say, 1, 0));
    EXPECT_TRUE(h.s.roster.empty());
    EXPECT_TRUE(h.log.events.empty());
    const auto [sent, lines, boxes, events] =
        h.Run([&] { h.f.core.OnClientPacket(Core::WelcomePacket()); });
    EXPECT_EQ(std::tuple(h.s.selfId.value, h.s.GetSelfIndex(), h.s.topic, h.s.createdAt),
              std::tuple(4, 3, std::string("Topic"), 992872987u));
    EXPECT_EQ(h.s.messageText, std::string(MessageWindowHeader()) + "Massage: hi\r\n");
    EXPECT_EQ(h.s.counters.messageTotal, 2); // the window's line count less one
    EXPECT_EQ(lines, (Lines{"-->> 成功传回会话成员数据与会话消息!",
                            "-->> 欢迎您加入会话，现在您便可以与您的朋友进行对话了，会话愉快!"}));
    EXPECT_TRUE(sent.empty() && boxes.empty());
    EXPECT_EQ(events, (Events{{E::EvSessionJoined, 0, Core::WelcomePacket()}}));
    h.f.core.OnClientPacket(Core::WelcomePacket()); // a second one would duplicate the roster
    EXPECT_EQ(h.s.roster.size(), 4u);
}

// One packet from the host and all it causes.
struct Step {
    const char* what;
    std::string packet;
    Lines lines = {}, boxes = {};
    Events events = {};
    SentList sent = {};
};
// A packet shown as the line and recorded as it came.
Step Shown(const char* what, const std::string& packet, E kind, Lines lines = {}) {
    return {what, packet, std::move(lines), {}, {{kind, 0, packet}}};
}

// One session, packet after packet from the host: what the user sees, sends back and records.
TEST(ClientHandler, ScenarioNamesSendersByBuddyIdAndTargetsByActiveIndex) {
    const std::string offer = BuildFilePacket(P::FileOffer, {2, 3, "a.txt", 10});
    const Step steps[] = {
        Step("own line back", Chat(P::Say, 4, 0)),
        Shown("to the user", Chat(P::Say, 3, 3, false, "to you"), E::EvChatLine,
              {"<Bob> 对 <你> 说: to you"}),
        Step("sender the roster lacks", Chat(P::Say, 9, 0)),
        Shown("own notice", BuildNotice(P::Notice, {4, "mine"}), E::EvNotice),
        Step("own notice refused", BuildNotice(P::NoticeRefused, {4, "nope"}), {},
             {"您待发送的消息: <nope> 验证没有通过，无法被发送。"}),
        Shown("own rename", BuildRename(P::Rename, {4, "Caz"}), E::EvNameChanged),
        Shown("own wake", BuildPresence(P::Wake, {4}), E::EvAwake),
        Shown("rename", BuildRename(P::Rename, {3, "Robert"}), E::EvNameChanged,
              {"-->> Bob 改名为 'Robert ' "}),
        Shown("sleep", BuildPresence(P::Sleep, {3}), E::EvAsleep, {"-->> Robert 休眠了."}),
        Step("offer", offer, {}, {"成员' Robert '请求向您发送文件 a.txt (10字节), 接受文件吗? "},
             {}, {{0, Relayed(offer, P::FileAcceptToHost)}}),
        Step("offer while busy", offer, {}, {"目前正在进行文件传输."}, {},
             {{0, Relayed(offer, P::FileRefuseToHost)}}),
        Shown("joined", BuildMemberJoined("Dave", "10.0.0.4"), E::EvMemberJoined,
              {"-->> 新成员 Dave 加入会话."}),
        Shown("Bob leaves", BuildMemberLeft(2), E::EvMemberLeft, {"-->> 成员 Robert 离开会话."}),
        Shown("Dave to the user", Chat(P::Say, 5, 2), E::EvChatLine, {"<Dave> 对 <你> 说: hi"}),
        Step("left past the roster", BuildMemberLeft(7)),
        Step("left nobody", BuildMemberLeft(0)),
    };
    Core h;
    h.Client();
    bool joined = false, departed = false;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        // The user targets Dave as he joins; Bob leaving renumbers him and the user.
        joined = joined || static_cast<P>(step.packet[0]) == P::MemberJoined;
        departed = departed || static_cast<P>(step.packet[0]) == P::MemberLeft;
        if (static_cast<P>(step.packet[0]) == P::MemberJoined)
            h.s.target = 4;
        const auto n = h.s.counters;
        EXPECT_EQ(h.Run([&] { h.f.core.OnClientPacket(step.packet); }),
                  std::tie(step.sent, step.lines, step.boxes, step.events));
        // Every chat line recorded is counted, and so is the user's own notice.
        const auto count = [&](E kind) {
            return std::count_if(step.events.begin(), step.events.end(),
                                 [&](const auto& e) { return e.kind == kind; });
        };
        EXPECT_EQ(h.s.counters.chatLineTotal - n.chatLineTotal, count(E::EvChatLine));
        EXPECT_EQ(h.s.counters.ownMessageTotal - n.ownMessageTotal, count(E::EvNotice));
        EXPECT_EQ(std::tuple(h.s.target.value, h.s.GetSelfIndex()),
                  std::tuple(joined ? (departed ? 3 : 4) : 0, departed ? 2 : 3));
    }
    EXPECT_NE(h.s.messageText.find("Massage: Guest: mine "), std::string::npos);
    EXPECT_EQ(h.s.messageText.find("nope"), std::string::npos);
    EXPECT_EQ(h.s.counters.relatedSayTotal, 2);
    EXPECT_EQ(std::tuple(h.s.roster[2].sayCount, h.s.roster[3].messageCount, h.s.roster[4].id),
              std::tuple(1, 1, 5u));
    EXPECT_EQ(h.f.transfers.receiving.size(), 1u);
}

TEST(ClientHandler, HostGoneEndsTheSession) {
    Core h;
    h.Client();
    h.f.clock.Advance(5);
    h.f.core.OnHostGone();
    EXPECT_EQ(std::tuple(h.s.roster.size(), h.s.inSession, h.net.shutdowns),
              std::tuple(0u, false, 1));
    EXPECT_EQ(h.Line(), "-->> 组长已经关闭会话。所有人都已经退出了。");
    EXPECT_NE(FromGbk(h.s.messageText).find("Massage: 会话 'Topic ' 关闭"), std::string::npos);
    EXPECT_EQ(h.s.endedAt, h.f.clock.Now());
    EXPECT_EQ(h.log.events.back(), (SessionEvent{EventKind::EvSessionEnded, 5, ""}));
    h.f.core.OnClientPacket(Chat(P::Say, 3, 0)); // packets after the end count for nothing
    EXPECT_EQ(h.log.events.size(), 2u);
}

// Closed before its Welcome: a newcomer kept out is told so, with no topic-less notice.
TEST(ClientHandler, HostGoneBeforeTheWelcomeTellsTheNewcomerItWasKeptOut) {
    Core h;
    h.Connect();
    const std::string messages = h.s.messageText;
    h.f.core.OnHostGone();
    EXPECT_EQ(h.Line(), "-->> 无法加入会话：会话已关闭、已满，或拒绝了您的连接。");
    EXPECT_EQ(std::tuple(h.s.messageText, h.s.inSession), std::tuple(messages, false));
}

} // namespace
} // namespace kolvena
