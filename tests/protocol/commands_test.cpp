#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/core_harness.h"
#include "record/record_test_util.h"
#include "session/address_code.h"

namespace kolvena {
namespace {

constexpr std::size_t BANNER_LINES = 4;
constexpr CalendarTime MIDNIGHT = 999993600; // the day of the fake clock's start, UTC
constexpr char NOT_IN_SESSION[] = "-->> 您还未进入会话。";

struct Harness : test::Core {
    void HostOrClient(bool host, std::initializer_list<const char*> members) {
        host ? Host(members) : Client();
    }
    void ExpectOnlyBox(const std::string& caption, const std::string& text) const {
        ASSERT_EQ(p.boxes.size(), 1u) << text;
        EXPECT_EQ(p.boxes[0].caption + "|" + p.boxes[0].text, caption + "|" + text);
    }
};

// --- create ---

TEST(CommandsTest, CreateMakesTheLeaderAnnouncesTheCodeAndRecordsTheCreation) {
    Harness h;
    h.s.settings.maxClients = 7;
    h.log.AppendEvent(EventKind::EvChatLine, "old");
    ASSERT_TRUE(h.cmd.CreateBegin());
    EXPECT_EQ(h.cmd.CreateDialogValues().hostAddress, "192.168.0.7");
    ASSERT_TRUE(h.cmd.CreateFinish("Leader", "Topic"));

    const std::string code = std::to_string(MakeAddressCode("192.168.0.7"));
    EXPECT_TRUE(h.s.isHost && h.s.inSession);
    ASSERT_EQ(h.s.roster.size(), 1u);
    EXPECT_EQ(h.s.roster[0].role, BuddyRole::Leader);
    EXPECT_EQ(h.s.selfId, 1);
    EXPECT_EQ(h.s.settings.maxClients, 20);
    EXPECT_EQ(h.LinesFrom(BANNER_LINES),
              (std::vector<std::string>{"-->> 新建会话地址编码: " + code +
                                            "，主机地址: 192.168.0.7，监听端口: 6636",
                                        "-->> 创建新的会话，等待客人登陆中..."}));
    EXPECT_EQ(FromGbk(h.s.messageText.substr(MessageWindowHeader().size())),
              "Massage: 欢迎您加入会话，会话主题是 'Topic '   (01:46:40)\r\n");

    ASSERT_EQ(h.p.boxes.size(), 2u);
    EXPECT_NE(h.p.boxes[0].text.find("容量是20人"), std::string::npos);
    EXPECT_EQ(h.p.boxes[1].caption, "让朋友们加入您的会话! ");
    EXPECT_EQ(h.p.clipboard, "欢迎您使用Kolvena加入我的会话! 会话地址编码:" + code);

    // The old session's events are gone; the creation opens the new recording.
    EXPECT_EQ(h.log.events,
              (std::vector<SessionEvent>{
                  {EventKind::EvSessionCreated, 0,
                   "Leader" + std::string(14, '\0') + "192.168.0.7" + std::string(5, '\0')}}));
    EXPECT_EQ(h.log.header.version, RECORDING_VERSION);
    EXPECT_EQ(h.log.header.startTime, static_cast<std::uint32_t>(h.f.clock.now));
    EXPECT_EQ(h.f.view.mode, WindowMode::Live);
}

TEST(CommandsTest, CreateCutsNameAndTopicToTheirFieldsWithoutSplittingACharacter) {
    Harness h;
    std::string name, topic; // 22 and 50 GBK bytes
    for (int i = 0; i < 25; ++i)
        topic += "题";
    for (int i = 0; i < 11; ++i)
        name += "名";
    ASSERT_TRUE(h.cmd.CreateBegin());
    ASSERT_TRUE(h.cmd.CreateFinish(ToGbk("  " + name + " "), ToGbk(topic)));
    const std::string cutName = ToGbk(name.substr(0, 10 * 3));
    EXPECT_EQ(h.s.roster[0].Name(), cutName);
    EXPECT_EQ(h.s.topic, ToGbk(topic.substr(0, 20 * 3)));
    EXPECT_EQ(h.log.events[0].data.substr(0, NAME_SIZE), cutName);
    EXPECT_EQ(h.log.events[0].data.size(), NAME_SIZE + ADDRESS_SIZE);
}

TEST(CommandsTest, CreateAsksBeforeClearingOnlyAChatAreaBeyondTheBanner) {
    for (const bool extraLine : {false, true}) {
        Harness h;
        if (extraLine)
            test::CoreAccess::Parts(h.f.core).show.Say("x");
        ASSERT_TRUE(h.cmd.CreateBegin());
        ASSERT_TRUE(h.cmd.CreateFinish("L", "T"));
        EXPECT_EQ(h.p.boxes[0].text == "是否要清空当前对话窗口?", extraLine);
        EXPECT_EQ(h.s.lines.size(), BANNER_LINES + 2);
    }
}

TEST(CommandsTest, CreateAndJoinAreRefusedWhileInASessionOrJoining) {
    struct Case {
        bool inSession, create;
        std::string caption, text;
    };
    const Case cases[] = {
        {true, true, "无法创建新会话", "要创建新会话，先退出当前会话。"},
        {false, true, "无法创建新会话", "您目前正在登陆一个指定会话."},
        {true, false, "无法加入会话", "要加入一个新的会话，请先离开当前会话."},
        {false, false, "正在连接", "正在连接会话主机，请稍候."},
    };
    for (const Case& c : cases) {
        Harness h;
        h.s.inSession = c.inSession;
        test::CoreAccess::Parts(h.f.core).joining = !c.inSession;
        EXPECT_FALSE(c.create ? h.cmd.CreateBegin() : h.cmd.JoinBegin());
        h.ExpectOnlyBox(c.caption, c.text);
        EXPECT_EQ(h.p.boxes[0].icon, BoxIcon::Information);
        EXPECT_EQ(h.net.inits, 0);
    }
}

TEST(CommandsTest, CancellingOrFailingACreateLeavesTheReplayAndTheLogAlone) {
    Harness h;
    h.recorder.state = ReplayState::Playing;
    h.log.AppendEvent(EventKind::EvChatLine, "loaded");
    ASSERT_TRUE(h.cmd.CreateBegin());
    EXPECT_EQ(h.recorder.state, ReplayState::Paused);
    h.cmd.CreateCancel();
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);

    h.net.serveOk = false;
    ASSERT_TRUE(h.cmd.CreateBegin());
    EXPECT_FALSE(h.cmd.CreateFinish("L", "T"));
    EXPECT_EQ(h.recorder.state, ReplayState::Paused);
    EXPECT_FALSE(h.s.inSession);
    EXPECT_TRUE(h.s.roster.empty());
    EXPECT_EQ(h.log.events.size(), 1u);

    h.net.initOk = false;
    EXPECT_FALSE(h.cmd.CreateBegin());
}

TEST(CommandsTest, HostDetailsRefuseABlankNameOrTopic) {
    struct Case {
        std::string name, topic, box;
    };
    const Case cases[] = {{" \t ", "Topic", "请输入您的名称"},
                          {"", "", "请输入您的名称"},
                          {"Leader", "   ", "请输入会话主题"},
                          {" Leader ", " Topic ", ""}};
    for (const Case& c : cases) {
        Harness h;
        EXPECT_EQ(h.cmd.ValidateHostDetails(c.name, c.topic), c.box.empty());
        EXPECT_EQ(h.BoxTexts(),
                  c.box.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.box});
    }
}

// --- join ---

TEST(CommandsTest, ProposedJoinNameIsTheTimeWithoutLeadingZeros) {
    Harness h;
    const std::pair<CalendarTime, std::string> cases[] = {
        {MIDNIGHT + 14 * 3600 + 3 * 60 + 9, "游客14:3:9"},
        {MIDNIGHT + 9 * 3600 + 5 * 60 + 7, "游客9:5:7"},
        {MIDNIGHT, "游客0:0:0"}};
    for (const auto& [time, name] : cases) {
        h.f.clock.now = time;
        EXPECT_EQ(FromGbk(h.cmd.ProposedJoinName()), name);
    }
}

TEST(CommandsTest, JoinConnectsInTheBackgroundAndLogsInOnCompletion) {
    Harness h;
    h.recorder.state = ReplayState::Paused;
    h.log.AppendEvent(EventKind::EvChatLine, "loaded");
    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinFinish({ToGbk("游客"), JoinMode::ByAddress, 0, " 10.1.2.3 ", 7000});
    ASSERT_EQ(h.net.connects.size(), 1u);
    EXPECT_EQ(h.net.connects[0].mode, JoinMode::ByAddress);
    EXPECT_EQ(h.net.connects[0].address, "10.1.2.3");
    EXPECT_TRUE(test::CoreAccess::Parts(h.f.core).joining && h.f.view.joinTimer);
    EXPECT_EQ(h.recorder.state, ReplayState::NoReplay);
    EXPECT_TRUE(h.log.events.empty());
    h.cmd.JoinTick();
    h.cmd.JoinTick();
    EXPECT_EQ(h.Line(), "-->> 正在登陆会话主机 请稍候 .....");

    h.f.clock.Advance(5);
    h.cmd.OnConnectResult(true);
    EXPECT_TRUE(h.s.inSession);
    EXPECT_FALSE(test::CoreAccess::Parts(h.f.core).joining || h.f.view.joinTimer);
    EXPECT_EQ(h.TakeSent(), (test::SentList{{0, BuildLogin(ToGbk("游客"))}}));
    EXPECT_EQ(h.Line(), "-->> 登陆会话主机成功，正在传回会话成员名单...");
    // A member's recording carries its own start, not 1970.
    EXPECT_EQ(h.log.header.version, RECORDING_VERSION);
    EXPECT_EQ(h.log.header.startTime, static_cast<std::uint32_t>(h.f.clock.now));
    h.cmd.JoinTick();
    EXPECT_EQ(h.Line(), "-->> 登陆会话主机成功，正在传回会话成员名单...");
}

TEST(CommandsTest, CancelledOrFailedJoinsEndCleanlyAndASecondJoinWorks) {
    Harness h;
    h.recorder.state = ReplayState::Playing;
    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinCancel();
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);
    h.net.initOk = false;
    h.cmd.JoinFinish({"Guest", JoinMode::ByCode, 1, "", 6636});
    EXPECT_FALSE(test::CoreAccess::Parts(h.f.core).joining);
    EXPECT_TRUE(h.net.connects.empty());

    h.net.initOk = true;
    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinFinish({"Guest", JoinMode::ByCode, 4242, "", 6636});
    EXPECT_EQ(h.net.connects[0].code, 4242u);
    for (int i = 0; i < 3; ++i)
        h.cmd.JoinTick();
    h.net.active = true;
    h.cmd.OnConnectResult(false);
    EXPECT_EQ(h.LinesFrom(h.s.lines.size() - 2),
              (std::vector<std::string>{"-->> 正在登陆会话主机 请稍候 ......",
                                        "-->> 连接指定会话没有成功，请您重新登陆."}));
    EXPECT_EQ(h.net.shutdowns, 1);
    EXPECT_FALSE(test::CoreAccess::Parts(h.f.core).joining || h.s.inSession || h.f.view.joinTimer);
    EXPECT_TRUE(h.net.sent.empty());
    h.cmd.OnConnectResult(true); // a stray outcome changes nothing
    EXPECT_FALSE(h.s.inSession);

    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinFinish({"Guest", JoinMode::ByCode, 4242, "", 6636});
    EXPECT_EQ(h.net.connects.size(), 2u);
    h.cmd.OnConnectResult(true);
    EXPECT_TRUE(h.s.inSession);
    EXPECT_EQ(h.net.sent.size(), 1u);
}

// --- leave ---

TEST(CommandsTest, LeaveAsksTwiceAndKeepsTheFarewellWhenNotCleared) {
    struct Case {
        bool host;
        std::string caption, question, notice, line;
    };
    const Case cases[] = {
        {true, "您准备退出吗?", "您确定要关闭当前会话吗？！\n这样会使所有的成员强行退出会话！",
         "会话 'Topic ' 关闭", "-->> 会话 'Topic ' 关闭, 所有成员退出。"},
        {false, "退出当前会话", "您确定要退出当前会话吗？", "您已经退出会话 'Topic ' 。",
         "-->> 您已经退出了会话 'Topic ' 。"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.HostOrClient(c.host, {"Bob"});
        h.s.counters.chatLineTotal = h.s.counters.ownSayTotal = h.s.counters.relatedSayTotal = 5;
        h.s.counters.messageTotal = 9;
        h.s.counters.ownMessageTotal = 2;
        h.s.asleep = true;
        const std::size_t events = h.log.events.size();
        h.p.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
        h.cmd.Leave();

        ASSERT_EQ(h.p.boxes.size(), 3u);
        EXPECT_EQ(h.p.boxes[0].caption + "|" + h.p.boxes[0].text, c.caption + "|" + c.question);
        EXPECT_EQ(h.p.boxes[1].caption + h.p.boxes[2].caption, "是否保存会话记录?清空窗口内容?");
        EXPECT_EQ(h.Line(), c.line);
        EXPECT_NE(FromGbk(h.s.messageText).find("Massage: " + c.notice), std::string::npos);
        EXPECT_FALSE(h.s.inSession || h.s.isHost || h.s.asleep);
        EXPECT_TRUE(h.s.roster.empty());
        EXPECT_EQ(h.net.shutdowns, 1);
        const auto& n = h.s.counters;
        EXPECT_EQ(std::vector<int>({n.chatLineTotal, n.ownSayTotal, n.relatedSayTotal,
                                    n.messageTotal, n.ownMessageTotal}),
                  (std::vector<int>{0, 0, 0, 10, 2})); // the farewell counts
        EXPECT_EQ(h.EventsFrom(events),
                  (std::vector<SessionEvent>{{EventKind::EvSessionEnded, 0, ""}}));
        EXPECT_EQ(h.f.view.mode, WindowMode::Idle);
        EXPECT_TRUE(h.net.sent.empty());
    }
}

TEST(CommandsTest, LeaveAndSleepOutsideASessionOrCancelledChangeNothing) {
    Harness h;
    h.cmd.SleepOrWake();
    EXPECT_TRUE(h.p.boxes.empty());
    h.cmd.Leave();
    h.ExpectOnlyBox("退出出错", "您还未进入会话?");
    EXPECT_EQ(h.p.boxes[0].icon, BoxIcon::Question);

    h.Host({"Bob"});
    h.p.answers = {BoxAnswer::Cancel, BoxAnswer::Cancel};
    h.cmd.Leave();
    h.cmd.SleepOrWake();
    EXPECT_TRUE(h.s.inSession);
    EXPECT_EQ(h.p.boxes.size(), 2u);
    EXPECT_EQ(h.net.shutdowns, 0);
    EXPECT_FALSE(h.s.asleep);
    EXPECT_TRUE(h.net.sent.empty());
    EXPECT_EQ(h.s.roster[0].state, BuddyState::Joined);
}

TEST(CommandsTest, HostGoneWhileTheLeaveQuestionIsOpenEndsNothingTwice) {
    Harness h;
    h.Client();
    h.p.duringAsk = [&h] {
        h.s.inSession = false;
        h.s.EmptyRoster();
    };
    const std::size_t lines = h.s.lines.size();
    h.cmd.Leave();
    EXPECT_EQ(h.p.boxes.size(), 1u);
    EXPECT_EQ(h.s.lines.size(), lines);
    EXPECT_EQ(h.net.shutdowns, 0);
}

TEST(CommandsTest, SavingFromTheLeavePromptWritesTheSessionAsItWas) {
    Harness h;
    test::TempDir dir;
    h.Host({"Bob"});
    h.f.clock.Advance(3);
    h.cmd.Send({"abc", false, false});
    h.p.paths = {dir.File("left.prs")};
    h.p.answers = {BoxAnswer::Ok, BoxAnswer::Yes, BoxAnswer::Cancel};
    h.cmd.Leave();

    ASSERT_EQ(h.p.fileRequests.size(), 1u);
    EXPECT_EQ(h.p.fileRequests[0].initialName, "Topic(9-9-2001)");
    RecordingHeader header;
    ASSERT_TRUE(header.Decode(test::ReadFileBytes(dir.File("left.prs"))));
    EXPECT_EQ(header.eventCount, 4); // created, joined, the line and the end: the copy is whole
    EXPECT_EQ(header.topic, "Topic");
    // Not the emptied roster and the reset totals of the moment after leaving.
    EXPECT_EQ(header.memberCount, 2u);
    EXPECT_EQ(header.chatLines, 1u);
    EXPECT_EQ(header.notices, 2u);
}

// --- sleep, wake, rename ---

TEST(CommandsTest, SleepAndWakeSendTheirPacketAndRefreshTheButtons) {
    struct Case {
        bool host;
        PacketType sleep, wake;
        std::vector<std::size_t> slots;
        std::uint16_t self;
        std::string name;
    };
    const Case cases[] = {
        {true, PacketType::Sleep, PacketType::Wake, {1, 2}, 1, "Leader"},
        {false, PacketType::SleepToHost, PacketType::WakeToHost, {0}, 4, "Guest"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.HostOrClient(c.host, {"Bob", "Cat"});
        const std::size_t events = h.log.events.size();
        for (const bool toSleep : {true, false}) {
            h.net.sent.clear();
            const int buttons = h.f.view.commands;
            h.cmd.SleepOrWake();
            EXPECT_EQ(h.p.boxes.back().text,
                      toSleep ? "您要暂时离开一会儿吗?" : "您要立即返回会话吗?");
            const std::string packet = BuildPresence(toSleep ? c.sleep : c.wake, {c.self});
            EXPECT_EQ(h.Slots(), c.slots);
            EXPECT_EQ(h.net.sent[0].packet, packet);
            EXPECT_EQ(h.s.asleep, toSleep);
            EXPECT_EQ(h.s.BuddyById(c.self)->state,
                      toSleep ? BuddyState::Asleep : BuddyState::Awake);
            EXPECT_EQ(h.Line(), "-->> " + c.name + (toSleep ? " 休眠了." : " 苏醒了."));
            EXPECT_GT(h.f.view.commands, buttons);
        }
        // Only the host records its own change; a member records what the host sends back.
        const std::vector<SessionEvent> recorded{
            {EventKind::EvAsleep, 0, BuildPresence(c.sleep, {c.self})},
            {EventKind::EvAwake, 0, BuildPresence(c.wake, {c.self})}};
        EXPECT_EQ(h.EventsFrom(events), c.host ? recorded : std::vector<SessionEvent>{});
    }
}

TEST(CommandsTest, BeforeTheRosterArrivesTheClientActsAsOutsideASession) {
    Harness h;
    h.Connect();
    h.s.selfId = 2; // left over from an earlier session
    h.cmd.SleepOrWake();
    EXPECT_TRUE(h.p.boxes.empty());
    EXPECT_FALSE(h.cmd.RenameBegin());
    h.ExpectOnlyBox("", "您还未参与会话，请新建或加入一个会话.");
    h.cmd.RenameFinish("Name");
    EXPECT_EQ(h.cmd.Send({" hi ", false, false}).text, "hi");
    EXPECT_EQ(h.Line(), NOT_IN_SESSION);
    EXPECT_TRUE(h.net.sent.empty());
    EXPECT_TRUE(h.s.roster.empty());
}

TEST(CommandsTest, RenameBroadcastsOnTheHostAndAsksTheHostOnAClient) {
    struct Case {
        bool host;
        PacketType type;
        std::size_t slot;
        std::uint16_t self;
        std::string oldName;
    };
    const Case cases[] = {{true, PacketType::Rename, 1, 1, "Leader"},
                          {false, PacketType::RenameToHost, 0, 4, "Guest"}};
    for (const Case& c : cases) {
        Harness h;
        h.HostOrClient(c.host, {"Bob"});
        const std::size_t events = h.log.events.size();
        ASSERT_TRUE(h.cmd.RenameBegin());
        EXPECT_FALSE(h.cmd.ValidateRename(" \t "));
        h.ExpectOnlyBox("", "请输入您的新名字");
        ASSERT_TRUE(h.cmd.ValidateRename("  Boss "));
        h.cmd.RenameFinish("  Boss ");

        const std::string packet = BuildRename(c.type, {c.self, "Boss"});
        EXPECT_EQ(h.TakeSent(), (test::SentList{{c.slot, packet}}));
        EXPECT_EQ(h.Line(), "-->> " + c.oldName + " 改名为 'Boss ' ");
        EXPECT_EQ(h.s.BuddyById(c.self)->Name(), "Boss");
        const std::vector<SessionEvent> renamed{{EventKind::EvNameChanged, 0, packet}};
        EXPECT_EQ(h.EventsFrom(events), c.host ? renamed : std::vector<SessionEvent>{});
    }
}

// --- send ---

TEST(CommandsTest, BlankInputOutsideASessionAndDuringAReplay) {
    Harness h;
    EXPECT_TRUE(h.cmd.Send({"  \t ", false, false}).text.empty());
    h.ExpectOnlyBox("发送错误", "不能发送空内容");

    const SendOutcome outside = h.cmd.Send({"  word ", true, false});
    EXPECT_EQ(outside.text, "word");
    EXPECT_TRUE(outside.asNotice);
    EXPECT_EQ(h.Line(), NOT_IN_SESSION);
    EXPECT_EQ(h.s.lastLine.text, "word");

    h.Host({"Bob"});
    h.recorder.state = ReplayState::Paused;
    const std::size_t lines = h.s.lines.size();
    EXPECT_EQ(h.cmd.Send({" typed ", true, false}).text, " typed ");
    EXPECT_EQ(h.s.lines.size(), lines);
    EXPECT_TRUE(h.p.boxes.empty());
    EXPECT_TRUE(h.net.sent.empty());
}

TEST(CommandsTest, ClientChatIsShownAtOnceAndRecordedWithItsOwnBytes) {
    Harness h;
    h.Client();
    EXPECT_TRUE(h.cmd.Send({" abc ", false, false}).text.empty());
    const std::string expected{"\x0B\x00\x00\x00\x00\x04\x00\x00\x01\x00\x00\x00\x03\x00"
                               "abc",
                               17};
    EXPECT_EQ(h.TakeSent(), (test::SentList{{0, expected}}));
    EXPECT_EQ(h.log.events.back(), (SessionEvent{EventKind::EvChatLine, 0, expected}));
    EXPECT_EQ(h.Line(), "<你> 对大家说: abc");
    EXPECT_EQ(h.s.lines.back().stamp, 1u);
    EXPECT_EQ(h.s.BuddyById(4)->sayCount, 1);
    EXPECT_EQ(h.s.counters.chatLineTotal, 1);
}

TEST(CommandsTest, HostChatGoesToTheWhisperedMemberOnlyOrToEveryone) {
    struct Case {
        std::uint16_t target;
        bool whisper;
        std::vector<std::size_t> slots;
        std::string line;
    };
    const Case cases[] = {
        {3, true, {2}, "<你> 对 <Dan> 说(悄悄话): hi"}, // ActiveIndex 3 is on slot 2
        {4, true, {3}, "<你> 对 <Eve> 说(悄悄话): hi"},
        {0, true, {1, 2, 3}, "<你> 对大家说(悄悄话): hi"},
        {3, false, {1, 2, 3}, "<你> 对 <Dan> 说: hi"},
        {1, true, {}, "<你> 对自己说(悄悄话): hi"},
        {9, false, {1, 2, 3}, "<你> 对 <Eve> 说: hi"}, // past the present members: the last
    };
    for (const Case& c : cases) {
        Harness h;
        h.HostWithDeparted();
        h.s.target = c.target;
        EXPECT_TRUE(h.cmd.Send({"hi", false, c.whisper}).text.empty());
        EXPECT_EQ(h.Slots(), c.slots) << c.line;
        for (const auto& sent : h.net.sent)
            EXPECT_EQ(sent.packet[0], static_cast<char>(PacketType::Say));
        EXPECT_EQ(h.Line(), c.line);
        EXPECT_EQ(h.log.events.back().kind, EventKind::EvChatLine);
        EXPECT_EQ(h.s.roster[0].sayCount, 1);
    }
}

TEST(CommandsTest, NoticeConfirmationAndWhereTheNoticeShows) {
    struct Case {
        bool host;
        std::string question;
        std::size_t slot;
        PacketType type;
        std::uint16_t self;
    };
    const Case cases[] = {
        {true, "你要发送消息: \n <hello> ?", 1, PacketType::Notice, 1},
        {false, "你要发送消息: \n<hello> ?\n(需要通过会话组长验证)", 0, PacketType::NoticeToHost,
         4},
    };
    for (const Case& c : cases) {
        Harness h;
        h.HostOrClient(c.host, {"Bob"});
        const std::string before = h.s.messageText;
        const std::size_t events = h.log.events.size();
        const SendOutcome out = h.cmd.Send({" hello ", true, false});
        EXPECT_TRUE(out.text.empty());
        EXPECT_FALSE(out.asNotice);
        h.ExpectOnlyBox("发送消息", c.question);
        const std::string packet = BuildNotice(c.type, {c.self, "hello"});
        EXPECT_EQ(h.TakeSent(), (test::SentList{{c.slot, packet}}));
        if (c.host) {
            EXPECT_EQ(FromGbk(h.s.messageText.substr(before.size())),
                      "Massage: Leader: hello   (01:46:40)\r\n");
            EXPECT_EQ(h.s.counters.ownMessageTotal, 1);
            EXPECT_EQ(h.s.roster[0].messageCount, 1);
            EXPECT_EQ(h.EventsFrom(events),
                      (std::vector<SessionEvent>{{EventKind::EvNotice, 0, packet}}));
        } else {
            // A member's notice shows when the host sends it back.
            EXPECT_EQ(h.s.messageText, before);
            EXPECT_EQ(h.log.events.size(), events);
        }
    }
}

TEST(CommandsTest, DeclinedOrInterruptedNoticeSendsNothing) {
    Harness h;
    h.Client();
    h.p.answers = {BoxAnswer::No};
    const SendOutcome declined = h.cmd.Send({" hello ", true, true});
    EXPECT_EQ(declined.text, " hello ");
    EXPECT_TRUE(declined.asNotice);

    h.p.duringAsk = [&h] { // the host goes away while the question is open
        h.s.inSession = false;
        h.s.EmptyRoster();
    };
    h.cmd.Send({"hello", true, false});
    EXPECT_TRUE(h.net.sent.empty());
    EXPECT_EQ(h.Line(), NOT_IN_SESSION);
}

TEST(CommandsTest, TextsTooLongForOnePacketAreRefusedNotCut) {
    const std::pair<bool, std::size_t> cases[] = {{false, MAX_CHAT_TEXT},
                                                  {false, MAX_CHAT_TEXT + 1},
                                                  {true, MAX_NOTICE_TEXT},
                                                  {true, MAX_NOTICE_TEXT + 1}};
    for (const auto& [notice, length] : cases) {
        Harness h;
        h.Host({"Bob"});
        const bool fits = length == (notice ? MAX_NOTICE_TEXT : MAX_CHAT_TEXT);
        const std::string text(length, 'x');
        const SendOutcome out = h.cmd.Send({text, notice, false});
        ASSERT_EQ(h.net.sent.size(), fits ? 1u : 0u) << length;
        if (fits) {
            EXPECT_EQ(h.net.sent[0].packet.size(), PACKET_BUFFER_SIZE);
        } else {
            EXPECT_EQ(out.text, text);
            ASSERT_EQ(h.p.boxes.size(), 1u);
            EXPECT_NE(h.p.boxes[0].text.find(std::to_string(length - 1)), std::string::npos);
        }
    }
}

// --- clear and save ---

TEST(CommandsTest, ClearLeavesOnlyTheBannerAndKeepsRosterAndLog) {
    Harness h;
    h.Host({"Bob"});
    h.cmd.Send({"abc", false, false});
    const std::size_t events = h.log.events.size();
    h.p.answers = {BoxAnswer::Cancel};
    h.cmd.Clear();
    EXPECT_GT(h.s.lines.size(), BANNER_LINES);

    h.cmd.Clear();
    ASSERT_EQ(h.s.lines.size(), BANNER_LINES);
    EXPECT_EQ(FromGbk(h.s.lines[1].text),
              "            =       欢迎加入 网络会话(Kolvena) v1.0       = ");
    EXPECT_EQ(h.s.messageText, MessageWindowHeader());
    EXPECT_EQ(h.s.roster.size(), 2u);
    EXPECT_EQ(h.log.events.size(), events);
}

TEST(CommandsTest, SaveRecordingNeedsNoticesAndReportsAFileThatCannotBeMade) {
    Harness h;
    test::TempDir dir;
    h.cmd.SaveRecording();
    h.ExpectOnlyBox("", "没有任何会话记录.");
    EXPECT_TRUE(h.p.fileRequests.empty());

    h.Host();
    h.p.paths = {dir.File("missing/x.prs"), dir.File("ok.prs")};
    h.cmd.SaveRecording();
    ASSERT_EQ(h.p.boxes.size(), 1u);
    EXPECT_NE(h.p.boxes[0].text.find("missing/x.prs"), std::string::npos);
    h.cmd.SaveRecording();
    EXPECT_EQ(h.p.boxes.size(), 1u);
    // Header, the creation event (9 + 36 bytes) and the end mark.
    EXPECT_EQ(test::ReadFileBytes(dir.File("ok.prs")).size(), 64u + 9 + 36 + 6);
}

} // namespace
} // namespace kolvena
