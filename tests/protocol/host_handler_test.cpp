#include <gtest/gtest.h>

#include "protocol/packets.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "support/core_fakes.h"

namespace kolvena {
namespace {

using test::FakeCore;

// A leader "Ann" hosting the topic "abc", with members joined in order of the given names.
class HostHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Session& s = test::SessionOf(f.core);
        f.transport.Serve();
        s.isHost = s.inSession = true;
        s.topic = "abc";
        s.createdAt = f.clock.Now();
        s.AddBuddy(Buddy::Make("Ann", "192.168.0.7", BuddyRole::Leader));
        s.selfId = 1;
        s.RecordMessage("welcome abc");
    }

    // A connection that is admitted and logs in; returns its id.
    ConnectionId Join(const std::string& name) {
        EXPECT_TRUE(f.core.OnConnectionPending());
        const ConnectionId id = f.transport.Connect("10.0.0." + std::to_string(f.transport.nextId));
        f.core.OnHostPacket(id, BuildLogin(name));
        return id;
    }

    void JoinThree() {
        bob = Join("Bob");
        carol = Join("Carol");
        dave = Join("Dave");
        f.transport.sent.clear();
        test::RecorderOf(f.core).log.ClearLog();
    }

    static std::string Chat(std::uint16_t sender, std::uint16_t target, bool whisper,
                            std::string text = "hi") {
        ChatLine line;
        line.sender = sender;
        line.target = target;
        line.whisper = whisper ? 1 : 0;
        line.text = std::move(text);
        return BuildChat(PacketType::SayToHost, line);
    }

    static std::string Relayed(std::string packet, PacketType type) {
        Relay(packet, type);
        return packet;
    }

    std::string LastLine() const { return FromGbk(test::SessionOf(f.core).lines.back().text); }
    const std::vector<SessionEvent>& Events() const { return test::RecorderOf(f.core).log.events; }

    FakeCore f;
    ConnectionId bob = 0, carol = 0, dave = 0;
};

TEST_F(HostHandlerTest, LoginGetsTheWholeRosterAndTheOthersHearOfIt) {
    const ConnectionId first = Join("Bob");
    ASSERT_EQ(f.transport.SlotOf(first), MemberSlot(1));
    const auto welcome = ReadWelcome(f.transport.SentTo(1).at(0));
    ASSERT_TRUE(welcome.has_value());
    EXPECT_EQ(welcome->topic, "abc");
    ASSERT_EQ(welcome->roster.size(), 2u);
    EXPECT_EQ(welcome->roster[0].role, BuddyRole::Leader);
    EXPECT_EQ(welcome->roster[1].Name(), "Bob");
    EXPECT_EQ(welcome->roster[1].Address(), "10.0.0.1");
    EXPECT_EQ(welcome->backlog.rfind("Massage: welcome abc", 0), 0u);
    EXPECT_EQ(LastLine(), "-->> Bob 加入会话");

    f.transport.sent.clear();
    const ConnectionId second = Join("Carol");
    EXPECT_EQ(f.transport.SlotOf(second), MemberSlot(2));
    EXPECT_EQ(ReadWelcome(f.transport.SentTo(2).at(0))->roster.size(), 3u);
    const auto joined = ReadMemberJoined(f.transport.SentTo(1).at(0));
    ASSERT_TRUE(joined.has_value());
    EXPECT_EQ(joined->name, "Carol");
    ASSERT_EQ(Events().size(), 2u);
    EXPECT_EQ(Events()[1].kind, EventKind::EvMemberJoined);
    EXPECT_EQ(Events()[1].data, BuildLogin("Carol"));
}

TEST_F(HostHandlerTest, SlotsFollowLoginOrderNotAcceptOrder) {
    ASSERT_TRUE(f.core.OnConnectionPending());
    const ConnectionId early = f.transport.Connect();
    ASSERT_TRUE(f.core.OnConnectionPending());
    const ConnectionId late = f.transport.Connect();
    f.core.OnHostPacket(late, BuildLogin("Late"));
    f.core.OnHostPacket(early, BuildLogin("Early"));
    EXPECT_EQ(f.transport.SlotOf(late), MemberSlot(1));
    EXPECT_EQ(f.transport.SlotOf(early), MemberSlot(2));
    EXPECT_EQ(test::SessionOf(f.core).GetBuddy(2)->Name(), "Late");
    EXPECT_EQ(test::SessionOf(f.core).GetBuddy(3)->Name(), "Early");
}

TEST_F(HostHandlerTest, WaitingConnectionsCountOnlyTheirLoginAndOnlyOnce) {
    ASSERT_TRUE(f.core.OnConnectionPending());
    const ConnectionId id = f.transport.Connect();
    f.core.OnHostPacket(id, Chat(2, 0, false));
    f.core.OnHostPacket(id, std::string("\x0A", 1)); // a Login cut short
    EXPECT_EQ(f.transport.SlotOf(id), std::nullopt);
    EXPECT_TRUE(f.transport.sent.empty());
    f.core.OnHostPacket(id, BuildLogin("Bob"));
    f.core.OnHostPacket(id, BuildLogin("Bob again"));
    EXPECT_EQ(test::SessionOf(f.core).roster.size(), 2u);
    EXPECT_EQ(f.transport.SentTo(1).size(), 1u);
    // A waiting connection that goes away removes nobody.
    ASSERT_TRUE(f.core.OnConnectionPending());
    const ConnectionId quitter = f.transport.Connect();
    f.core.OnMemberLeave(quitter);
    EXPECT_EQ(test::SessionOf(f.core).GetBuddyCount(), 2);
}

TEST_F(HostHandlerTest, TheDoorClosesWhenFullCountingWaitingConnections) {
    test::SessionOf(f.core).settings.maxClients = 2;
    Join("Bob");
    EXPECT_TRUE(f.transport.Accepting());
    ASSERT_TRUE(f.core.OnConnectionPending()); // the second is served...
    f.transport.Connect();
    EXPECT_FALSE(f.transport.Accepting());
    EXPECT_EQ(LastLine(), "-->> 当前会话人数已满，会话暂时对外关闭。");
    EXPECT_FALSE(f.core.OnConnectionPending()); // ...a third is refused
    // A departure does not reopen the session.
    f.core.OnMemberLeave(f.transport.members[0]);
    EXPECT_FALSE(f.core.OnConnectionPending());
}

TEST_F(HostHandlerTest, ChatIsRoutedByItsTargetShownCountedAndRecorded) {
    JoinThree();
    struct Row {
        ConnectionId from;
        std::string packet;
        std::vector<std::size_t> slots;
        std::string line; // shown on the host, or empty
        bool recorded;
    };
    const Row rows[] = {
        {carol, Chat(3, 0, false, "hello"), {1, 2, 3}, "<Carol> 对大家说: hello", true},
        {bob, Chat(2, 4, true), {3}, "", true}, // to Dave, ActiveIndex 4, slot 3
        {bob, Chat(2, 1, true), {}, "<Bob> 对 <你> 说(悄悄话): hi", true},
        {bob, Chat(2, 0, true), {1, 2, 3}, "<Bob> 对大家说(悄悄话): hi", true},
        // Speaking as someone else, to a member who does not exist, cut short: dropped.
        {bob, Chat(3, 0, false), {}, "", false},
        {bob, Chat(2, 9, false), {}, "", false},
        {bob, Chat(2, 0, false).substr(0, 10), {}, "", false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::PrintToString(r.packet));
        f.transport.sent.clear();
        const std::size_t lines = test::SessionOf(f.core).lines.size();
        const std::size_t events = Events().size();
        const int counted = test::SessionOf(f.core).counters.chatLineTotal;
        f.core.OnHostPacket(r.from, r.packet);
        const std::string relayed = Relayed(r.packet, PacketType::Say);
        std::vector<std::size_t> slots;
        for (const auto& sent : f.transport.sent) {
            slots.push_back(sent.slot);
            EXPECT_EQ(sent.packet, relayed);
        }
        EXPECT_EQ(slots, r.slots);
        EXPECT_EQ(test::SessionOf(f.core).lines.size(), lines + (r.line.empty() ? 0 : 1));
        if (!r.line.empty()) {
            EXPECT_EQ(LastLine(), r.line);
        }
        EXPECT_EQ(test::SessionOf(f.core).counters.chatLineTotal, counted + (r.recorded ? 1 : 0));
        ASSERT_EQ(Events().size(), events + (r.recorded ? 1 : 0));
        if (r.recorded) {
            EXPECT_EQ(Events().back().kind, EventKind::EvChatLine);
            EXPECT_EQ(Events().back().data, relayed);
        }
    }
    EXPECT_EQ(test::SessionOf(f.core).roster[1].sayCount, 3);
    EXPECT_EQ(test::SessionOf(f.core).roster[2].sayCount, 1);
    EXPECT_EQ(f.prompter.beeps.back(), BeepKind::Default);
    EXPECT_TRUE(f.prompter.boxes.empty());
}

TEST_F(HostHandlerTest, NoticesWaitForTheLeadersApproval) {
    JoinThree();
    const std::string notice = BuildNotice(PacketType::NoticeToHost, {3, "meet"});
    const std::string before = test::SessionOf(f.core).messageText;

    f.prompter.answers = {BoxAnswer::No};
    f.core.OnHostPacket(carol, notice);
    ASSERT_EQ(f.prompter.boxes.size(), 1u);
    EXPECT_EQ(f.prompter.boxes[0].caption, "成员请求验证消息");
    EXPECT_EQ(f.prompter.boxes[0].text,
              "组长验证: \n成员Carol 请求发送消息: \n <meet> \n是否验证通过？");
    EXPECT_EQ(f.transport.sent.size(), 1u);
    EXPECT_EQ(f.transport.SentTo(2),
              std::vector<std::string>{Relayed(notice, PacketType::NoticeRefused)});
    EXPECT_EQ(test::SessionOf(f.core).messageText, before);
    EXPECT_EQ(Events().back().data[0], 26);

    f.transport.sent.clear();
    f.prompter.answers = {BoxAnswer::Yes};
    f.core.OnHostPacket(carol, notice);
    EXPECT_EQ(f.transport.sent.size(), 3u); // the sender too
    EXPECT_EQ(f.transport.SentTo(2).at(0), Relayed(notice, PacketType::Notice));
    EXPECT_NE(test::SessionOf(f.core).messageText.find("Massage: Carol: meet "), std::string::npos);
    EXPECT_EQ(test::SessionOf(f.core).roster[2].messageCount, 1);

    test::SessionOf(f.core).settings.verifyMessages = false;
    f.core.OnHostPacket(carol, notice);
    EXPECT_EQ(f.prompter.boxes.size(), 2u); // no question
    EXPECT_EQ(test::SessionOf(f.core).roster[2].messageCount, 2);
}

TEST_F(HostHandlerTest, MemberVanishingWhileItsNoticeAwaitsApproval) {
    JoinThree();
    f.prompter.duringAsk = [&] { f.core.OnMemberLeave(bob); };
    f.prompter.answers = {BoxAnswer::No};
    f.core.OnHostPacket(bob, BuildNotice(PacketType::NoticeToHost, {2, "x"}));
    // The refusal goes nowhere; the departure was handled once.
    for (const auto& sent : f.transport.sent)
        EXPECT_NE(sent.packet[0], 26);
    EXPECT_EQ(test::SessionOf(f.core).GetBuddyCount(), 3);
    EXPECT_EQ(f.transport.SlotCount(), 2u);
    EXPECT_EQ(f.transport.SlotOf(carol), MemberSlot(1));
}

TEST_F(HostHandlerTest, DepartureRenumbersAndTellsTheOthers) {
    JoinThree();
    test::SessionOf(f.core).target = 4; // Dave
    f.core.OnMemberLeave(carol);
    EXPECT_EQ(f.transport.closed, std::vector<std::size_t>{2});
    EXPECT_EQ(LastLine(), "-->> 成员 Carol 离开会话.");
    EXPECT_EQ(test::SessionOf(f.core).target, 3); // still Dave
    EXPECT_EQ(f.transport.SlotOf(dave), MemberSlot(2));
    const std::string left = BuildMemberLeft(3);
    EXPECT_EQ(f.transport.SentTo(1), std::vector<std::string>{left});
    EXPECT_EQ(f.transport.SentTo(2), std::vector<std::string>{left});
    ASSERT_EQ(Events().size(), 1u);
    EXPECT_EQ(Events()[0].kind, EventKind::EvMemberLeft);

    // Whispers now route by the new numbering: Dave is ActiveIndex 3, slot 2.
    f.transport.sent.clear();
    f.core.OnHostPacket(bob, Chat(2, 3, true));
    EXPECT_EQ(f.transport.SentTo(2).size(), 1u);
    EXPECT_EQ(f.transport.sent.size(), 1u);

    // The last member leaving sends and records nothing.
    f.transport.sent.clear();
    f.core.OnMemberLeave(bob);
    f.core.OnMemberLeave(dave);
    f.core.OnMemberLeave(dave);             // a second report changes nothing
    EXPECT_EQ(f.transport.sent.size(), 1u); // Bob's departure, told to Dave
    EXPECT_EQ(test::SessionOf(f.core).GetBuddyCount(), 1);
    EXPECT_EQ(test::SessionOf(f.core).roster.size(), 4u);
}

TEST_F(HostHandlerTest, RenameSleepAndWakeAreBroadcastToTheSenderToo) {
    JoinThree();
    const std::string rename = BuildRename(PacketType::RenameToHost, {2, "Robert"});
    f.core.OnHostPacket(bob, rename);
    EXPECT_EQ(LastLine(), "-->> Bob 改名为 'Robert ' ");
    EXPECT_EQ(test::SessionOf(f.core).roster[1].Name(), "Robert");
    EXPECT_EQ(f.transport.SentTo(1).at(0), Relayed(rename, PacketType::Rename));

    f.core.OnHostPacket(dave, BuildPresence(PacketType::SleepToHost, {4}));
    EXPECT_EQ(test::SessionOf(f.core).roster[3].state, BuddyState::Asleep);
    EXPECT_EQ(LastLine(), "-->> Dave 休眠了.");
    f.core.OnHostPacket(dave, BuildPresence(PacketType::WakeToHost, {4}));
    EXPECT_EQ(test::SessionOf(f.core).roster[3].state, BuddyState::Awake);
    EXPECT_EQ(LastLine(), "-->> Dave 苏醒了.");
    EXPECT_EQ(f.transport.SentTo(3).size(), 3u);
    ASSERT_EQ(Events().size(), 3u);
    EXPECT_EQ(Events()[1].data, BuildPresence(PacketType::Sleep, {4}));
}

TEST_F(HostHandlerTest, FileOffersAreBrokeredBetweenMembers) {
    JoinThree();
    const std::string offer = BuildFilePacket(PacketType::FileOfferToHost, {2, 3, "a.txt", 5});
    f.core.OnHostPacket(bob, offer);
    EXPECT_EQ(f.transport.SentTo(2),
              std::vector<std::string>{Relayed(offer, PacketType::FileOffer)});
    f.core.OnHostPacket(carol, Relayed(offer, PacketType::FileAcceptToHost));
    EXPECT_EQ(f.transport.SentTo(1),
              std::vector<std::string>{Relayed(offer, PacketType::FileAccepted)});
    // Only the recipient answers, and an offer names its own sender.
    f.core.OnHostPacket(dave, Relayed(offer, PacketType::FileRefuseToHost));
    f.core.OnHostPacket(dave, offer);
    EXPECT_EQ(f.transport.sent.size(), 2u);
    EXPECT_TRUE(Events().empty());
}

TEST_F(HostHandlerTest, FileOfferToTheLeaderAsksAndStartsReceiving) {
    JoinThree();
    const std::string offer = BuildFilePacket(PacketType::FileOfferToHost, {3, 1, "pic.png", 1234});
    f.core.OnHostPacket(carol, offer);
    ASSERT_EQ(f.prompter.boxes.size(), 1u);
    EXPECT_EQ(f.prompter.boxes[0].text,
              "成员' Carol '请求向您发送文件 pic.png (1234字节), 接受文件吗? ");
    EXPECT_EQ(f.transport.SentTo(2),
              std::vector<std::string>{Relayed(offer, PacketType::FileAccepted)});
    ASSERT_EQ(f.transfers.receiving.size(), 1u);
    EXPECT_TRUE(test::SessionOf(f.core).transfer.busy);
    // A second offer while busy is refused at once, without a question; the user is told why.
    f.core.OnHostPacket(dave, BuildFilePacket(PacketType::FileOfferToHost, {4, 1, "b", 1}));
    EXPECT_EQ(f.transport.SentTo(3).at(0)[0], static_cast<char>(PacketType::FileRefused));
    ASSERT_EQ(f.prompter.boxes.size(), 2u);
    EXPECT_EQ(f.prompter.boxes[1].text, "目前正在进行文件传输.");
    EXPECT_EQ(f.transfers.receiving.size(), 1u);
}

TEST_F(HostHandlerTest, AnAnswerToAnOfferTheLeaderNeverMadeStartsNothing) {
    JoinThree();
    f.core.OnHostPacket(bob, BuildFilePacket(PacketType::FileAcceptToHost, {1, 2, "secret", 9}));
    EXPECT_TRUE(f.transfers.sending.empty());
    test::SessionOf(f.core).transfer.path = "/tmp/a.txt";
    test::SessionOf(f.core).transfer.name = "a.txt";
    test::SessionOf(f.core).transfer.peer = 2;
    f.core.OnHostPacket(bob, BuildFilePacket(PacketType::FileAcceptToHost, {1, 2, "a.txt", 9}));
    ASSERT_EQ(f.transfers.sending.size(), 1u);
    EXPECT_EQ(f.transfers.sending[0].second, "10.0.0.1");
}

} // namespace
} // namespace kolvena
