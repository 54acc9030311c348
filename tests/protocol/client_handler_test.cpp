#include <gtest/gtest.h>

#include "protocol/packets.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "support/core_fakes.h"

namespace kolvena {
namespace {

using test::FakeCore;

std::vector<Buddy> Roster(std::initializer_list<const char*> names) {
    std::vector<Buddy> roster;
    for (const char* name : names) {
        Buddy b =
            Buddy::Make(name, "10.0.0.1", roster.empty() ? BuddyRole::Leader : BuddyRole::Member);
        b.id = static_cast<std::uint32_t>(roster.size() + 1);
        roster.push_back(b);
    }
    return roster;
}

// A member that has connected and logged in; "Carol" is the last of the host's roster.
class ClientHandlerTest : public ::testing::Test {
protected:
    void SetUp() override { test::SessionOf(f.core).inSession = true; }

    void Welcome() {
        const auto packet =
            BuildWelcome("abc", 992872987, std::string(MessageWindowHeader()) + "Massage: hi\r\n",
                         Roster({"Ann", "Bob", "Carol"}));
        f.core.OnClientPacket(*packet);
    }

    static std::string Say(std::uint16_t sender, std::uint16_t target, std::string text = "hi") {
        ChatLine line;
        line.sender = sender;
        line.target = target;
        line.text = std::move(text);
        return BuildChat(PacketType::Say, line);
    }

    std::string LastLine() const { return FromGbk(test::SessionOf(f.core).lines.back().text); }
    const std::vector<SessionEvent>& Events() const { return test::RecorderOf(f.core).log.events; }

    FakeCore f;
};

TEST_F(ClientHandlerTest, NothingCountsBeforeTheWelcomeWhichBringsTopicRosterAndBacklog) {
    f.core.OnClientPacket(BuildMemberJoined("Early", "10.0.0.5"));
    f.core.OnClientPacket(Say(1, 0));
    EXPECT_TRUE(test::SessionOf(f.core).roster.empty());
    EXPECT_TRUE(Events().empty());
    Welcome();
    const Session& s = test::SessionOf(f.core);
    EXPECT_EQ(s.selfId, 3);
    EXPECT_EQ(s.GetSelfIndex(), 3);
    EXPECT_EQ(s.topic, "abc");
    EXPECT_EQ(s.createdAt, 992872987);
    EXPECT_EQ(s.roster[1].Name(), "Bob");
    EXPECT_EQ(s.messageText, std::string(MessageWindowHeader()) + "Massage: hi\r\n");
    EXPECT_EQ(s.counters.messageTotal, 2); // the window's line count less one
    EXPECT_EQ(LastLine(), "-->> 欢迎您加入会话，现在您便可以与您的朋友进行对话了，会话愉快!");
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].kind, EventKind::EvSessionJoined);
    EXPECT_EQ(Events()[0].delay, 0);
    // A second Welcome would duplicate the roster.
    Welcome();
    EXPECT_EQ(s.roster.size(), 3u);
}

TEST_F(ClientHandlerTest, OwnLineComingBackChangesNothing) {
    Welcome();
    const std::size_t lines = test::SessionOf(f.core).lines.size();
    f.core.OnClientPacket(Say(3, 0));
    EXPECT_EQ(test::SessionOf(f.core).lines.size(), lines);
    EXPECT_EQ(test::SessionOf(f.core).counters.chatLineTotal, 0);
    EXPECT_EQ(Events().size(), 1u);

    f.core.OnClientPacket(Say(2, 3, "to you"));
    EXPECT_EQ(LastLine(), "<Bob> 对 <你> 说: to you");
    EXPECT_EQ(test::SessionOf(f.core).roster[1].sayCount, 1);
    EXPECT_EQ(test::SessionOf(f.core).counters.relatedSayTotal, 1);
    EXPECT_EQ(f.prompter.beeps.back(), BeepKind::Default);
    EXPECT_EQ(Events().back().kind, EventKind::EvChatLine);
    // A line from a sender the roster lacks is ignored.
    f.core.OnClientPacket(Say(9, 0));
    EXPECT_EQ(Events().size(), 2u);
}

TEST_F(ClientHandlerTest, NoticesOwnApprovedAndRefused) {
    Welcome();
    f.core.OnClientPacket(BuildNotice(PacketType::Notice, {3, "mine"}));
    EXPECT_NE(test::SessionOf(f.core).messageText.find("Massage: Carol: mine "), std::string::npos);
    EXPECT_EQ(test::SessionOf(f.core).counters.ownMessageTotal, 1);
    EXPECT_EQ(test::SessionOf(f.core).roster[2].messageCount, 1);

    const std::string before = test::SessionOf(f.core).messageText;
    f.core.OnClientPacket(BuildNotice(PacketType::NoticeRefused, {3, "nope"}));
    EXPECT_EQ(test::SessionOf(f.core).messageText, before);
    ASSERT_EQ(f.prompter.boxes.size(), 1u);
    EXPECT_EQ(f.prompter.boxes[0].caption, "消息未被验证通过");
    EXPECT_EQ(f.prompter.boxes[0].text, "您待发送的消息: <nope> 验证没有通过，无法被发送。");
    EXPECT_EQ(Events().size(), 2u); // the refusal is not recorded
}

TEST_F(ClientHandlerTest, OwnRenameSleepAndWakeAreRecordedButNotShownTwice) {
    Welcome();
    const std::size_t lines = test::SessionOf(f.core).lines.size();
    f.core.OnClientPacket(BuildRename(PacketType::Rename, {3, "Caz"}));
    f.core.OnClientPacket(BuildPresence(PacketType::Sleep, {3}));
    f.core.OnClientPacket(BuildPresence(PacketType::Wake, {3}));
    EXPECT_EQ(test::SessionOf(f.core).lines.size(), lines);
    EXPECT_EQ(Events().size(), 4u);

    f.core.OnClientPacket(BuildRename(PacketType::Rename, {2, "Robert"}));
    EXPECT_EQ(LastLine(), "-->> Bob 改名为 'Robert ' ");
    EXPECT_EQ(test::SessionOf(f.core).roster[1].Name(), "Robert");
    f.core.OnClientPacket(BuildPresence(PacketType::Sleep, {2}));
    EXPECT_EQ(test::SessionOf(f.core).roster[1].state, BuddyState::Asleep);
    EXPECT_EQ(LastLine(), "-->> Robert 休眠了.");
}

TEST_F(ClientHandlerTest, MembersComeAndGoAndTheTargetFollows) {
    Welcome();
    f.core.OnClientPacket(BuildMemberJoined("Dave", "10.0.0.4"));
    EXPECT_EQ(test::SessionOf(f.core).roster.back().id, 4u);
    EXPECT_EQ(LastLine(), "-->> 新成员 Dave 加入会话.");
    test::SessionOf(f.core).target = 4;
    f.core.OnClientPacket(BuildMemberLeft(2));
    EXPECT_EQ(LastLine(), "-->> 成员 Bob 离开会话.");
    EXPECT_EQ(test::SessionOf(f.core).target, 3); // still Dave
    EXPECT_EQ(test::SessionOf(f.core).GetSelfIndex(), 2);
    // A later line from Dave still names him: senders are BuddyIDs.
    f.core.OnClientPacket(Say(4, 2));
    EXPECT_EQ(LastLine(), "<Dave> 对 <你> 说: hi");
    // An index the roster lacks is ignored and not recorded.
    const std::size_t events = Events().size();
    f.core.OnClientPacket(BuildMemberLeft(7));
    f.core.OnClientPacket(BuildMemberLeft(0));
    EXPECT_EQ(Events().size(), events);
    EXPECT_TRUE(f.prompter.boxes.empty());
}

TEST_F(ClientHandlerTest, FileOfferAnsweredThroughTheHost) {
    Welcome();
    const std::string offer = BuildFilePacket(PacketType::FileOffer, {2, 3, "a.txt", 10});
    f.core.OnClientPacket(offer);
    std::string accept = offer;
    Relay(accept, PacketType::FileAcceptToHost);
    EXPECT_EQ(f.transport.SentTo(0), std::vector<std::string>{accept});
    EXPECT_EQ(f.transfers.receiving.size(), 1u);
    EXPECT_EQ(f.prompter.boxes.at(0).text,
              "成员' Bob '请求向您发送文件 a.txt (10字节), 接受文件吗? ");
    // Busy: the next offer is refused without a question; the user is told why.
    f.core.OnClientPacket(offer);
    EXPECT_EQ(f.transport.SentTo(0).back()[0], static_cast<char>(PacketType::FileRefuseToHost));
    ASSERT_EQ(f.prompter.boxes.size(), 2u);
    EXPECT_EQ(f.prompter.boxes[1].text, "目前正在进行文件传输.");
    EXPECT_EQ(f.transfers.receiving.size(), 1u);
    EXPECT_EQ(Events().size(), 1u); // file packets are not recorded
}

TEST_F(ClientHandlerTest, HostGoneEndsTheSession) {
    Welcome();
    f.transport.active = true;
    f.clock.Advance(5);
    f.core.OnHostGone();
    const Session& s = test::SessionOf(f.core);
    EXPECT_TRUE(s.roster.empty());
    EXPECT_FALSE(s.inSession);
    EXPECT_EQ(f.transport.shutdowns, 1);
    EXPECT_EQ(LastLine(), "-->> 组长已经关闭会话。所有人都已经退出了。");
    EXPECT_NE(FromGbk(s.messageText).find("Massage: 会话 'abc ' 关闭"), std::string::npos);
    EXPECT_EQ(s.endedAt, f.clock.Now());
    EXPECT_EQ(Events().back().kind, EventKind::EvSessionEnded);
    EXPECT_EQ(Events().back().delay, 5);
    // Packets after the end count for nothing.
    f.core.OnClientPacket(Say(2, 0));
    EXPECT_EQ(Events().size(), 2u);
}

} // namespace
} // namespace kolvena
