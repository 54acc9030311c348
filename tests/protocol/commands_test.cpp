#include <gtest/gtest.h>

#include <functional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "protocol/core_harness.h"
#include "record/record_test_util.h"
#include "session/address_code.h"

namespace kolvena {
namespace {

using namespace test::harness;
using test::Repeat;
using Totals = std::vector<int>;

constexpr std::size_t BANNER_LINES = 4;
constexpr CalendarTime MIDNIGHT = 999993600; // the day of the fake clock's start, UTC
constexpr char NOT_IN_SESSION[] = "-->> 您还未进入会话。";
constexpr char SAVE_BOX[] = "是否保存会话记录?|即将离开会话，您要保存当前会话记录吗？";
constexpr char CLEAR_BOX[] = "清空窗口内容?|是否要清空当前对话窗口?";
constexpr char CLOSED_LINE[] = "-->> 会话暂时对外关闭。";
constexpr char REOPENED_LINE[] = "-->> 会话重新对外开放。";

struct Harness : test::Core {
    bool& Joining() { return test::CoreAccess::Parts(f.core).joining; }
    // Chat lines, own says, related says, notices, own notices, the own record's says.
    Totals Counts() const {
        const auto& n = s.counters;
        const Buddy* self = s.BuddyById(s.selfId);
        return {n.chatLineTotal, n.ownSayTotal,     n.relatedSayTotal,
                n.messageTotal,  n.ownMessageTotal, self ? self->sayCount : -1};
    }
};

// One command and all it shows: boxes, packets (slot, bytes), new lines and events, the totals.
struct Step {
    const char* what;
    std::function<void(Harness&)> act;
    Lines boxes;
    SentList sent;
    Lines lines;
    Events events;
    Totals totals;
};

void RunSteps(Harness& h, std::span<const Step> steps) {
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        EXPECT_EQ(h.Run([&] { step.act(h); }, true),
                  std::tie(step.sent, step.lines, step.boxes, step.events));
        EXPECT_EQ(h.Counts(), step.totals);
    }
}

std::function<void(Harness&)> SleepOrWake(bool asleep) {
    return [=](Harness& h) {
        const int buttons = h.f.view.commands;
        h.cmd.SleepOrWake();
        EXPECT_EQ(h.s.asleep, asleep);
        EXPECT_EQ(h.s.BuddyById(h.s.selfId)->state,
                  asleep ? BuddyState::Asleep : BuddyState::Awake);
        EXPECT_GT(h.f.view.commands, buttons);
    };
}
void Rename(Harness& h) {
    ASSERT_TRUE(h.cmd.RenameBegin());
    EXPECT_FALSE(h.cmd.ValidateRename(" \t "));
    ASSERT_TRUE(h.cmd.ValidateRename("  Boss "));
    h.cmd.RenameFinish("  Boss ");
    EXPECT_EQ(h.s.BuddyById(h.s.selfId)->Name(), "Boss");
}
std::function<void(Harness&)> Leave(std::string farewell) {
    return [=](Harness& h) {
        h.s.asleep = true;
        h.p.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
        h.cmd.Leave();
        EXPECT_NE(FromGbk(h.s.messageText).find("Massage: " + farewell), std::string::npos);
        EXPECT_FALSE(h.s.inSession || h.s.isHost || h.s.asleep || !h.s.roster.empty());
        EXPECT_EQ(std::tuple(h.net.shutdowns, h.f.view.mode), std::tuple(1, WindowMode::Idle));
    };
}
// Sends the text, aloud or whispered, to the target; all of it is sent.
std::function<void(Harness&)> Send(std::string text, bool notice, bool whisper, int target = -1) {
    return [=](Harness& h) {
        if (target >= 0)
            h.s.target = static_cast<std::uint16_t>(target);
        EXPECT_EQ(h.cmd.Send({text, notice, whisper}).text, "");
    };
}
// The leader says "hi" to the target; a target past the members names the last one.
Step Says(const char* what, std::uint16_t target, bool whisper,
          std::initializer_list<std::size_t> onSlots, std::string line, Totals totals,
          std::uint16_t named = 0) {
    const ChatLine chat{"", named ? named : target, 1, static_cast<std::uint8_t>(whisper), 1, "hi"};
    const std::string say = BuildChat(P::Say, chat);
    return Step(what, Send("hi", false, whisper, target), {}, To(onSlots, say), {line},
                Rec(E::EvChatLine, say), totals);
}

TEST(CommandsTest, HostCommandsReachTheRightSlotsPastADepartedMember) {
    Harness h;
    h.HostWithDeparted(); // Bob, Dan and Eve are ActiveIndex 2, 3 and 4 on slots 1, 2 and 3
    const std::string sleep = BuildPresence(P::Sleep, {1}), wake = BuildPresence(P::Wake, {1});
    const std::string rename = BuildRename(P::Rename, {1, "Boss"});
    const std::string notice = BuildNotice(P::Notice, {1, "hello"});
    const auto noticed = [](Harness& h) {
        const std::size_t before = h.s.messageText.size();
        Send(" hello ", true, false)(h);
        EXPECT_EQ(FromGbk(h.s.messageText.substr(before)), "Massage: Boss: hello   (01:46:40)\r\n");
        EXPECT_EQ(h.s.roster[0].messageCount, 1);
    };
    const Step steps[] = {
        Step("sleep", SleepOrWake(true), {"暂时离开|您要暂时离开一会儿吗?"}, ToAll(sleep),
             {"-->> Leader 休眠了."}, Rec(E::EvAsleep, sleep), {0, 0, 0, 1, 0, 0}),
        Step("wake", SleepOrWake(false), {"返回会话|您要立即返回会话吗?"}, ToAll(wake),
             {"-->> Leader 苏醒了."}, Rec(E::EvAwake, wake), {0, 0, 0, 1, 0, 0}),
        Step("rename", Rename, {"|请输入您的新名字"}, ToAll(rename),
             {"-->> Leader 改名为 'Boss ' "}, Rec(E::EvNameChanged, rename), {0, 0, 0, 1, 0, 0}),
        Says("whisper to Dan", 3, true, {2}, "<你> 对 <Dan> 说(悄悄话): hi", {1, 1, 0, 1, 0, 1}),
        Says("whisper to all", 0, true, {1, 2, 3}, "<你> 对大家说(悄悄话): hi", {2, 2, 0, 1, 0, 2}),
        Says("said to Dan", 3, false, {1, 2, 3}, "<你> 对 <Dan> 说: hi", {3, 3, 0, 1, 0, 3}),
        Says("whisper to self", 1, true, {}, "<你> 对自己说(悄悄话): hi", {4, 4, 1, 1, 0, 4}),
        Says("past the last", 9, false, {1, 2, 3}, "<你> 对 <Eve> 说: hi", {5, 5, 1, 1, 0, 5}, 4),
        Step("notice", noticed, {"发送消息|你要发送消息: \n <hello> ?"}, ToAll(notice), {},
             Rec(E::EvNotice, notice), {5, 5, 1, 2, 1, 5}),
        Step("leave", Leave("会话 'Topic ' 关闭"),
             {"您准备退出吗?|您确定要关闭当前会话吗？！\n这样会使所有的成员强行退出会话！",
              SAVE_BOX, CLEAR_BOX},
             {}, {"-->> 会话 'Topic ' 关闭, 所有成员退出。"}, Rec(E::EvSessionEnded, ""),
             {0, 0, 0, 3, 1, -1}),
    };
    RunSteps(h, steps);
}

TEST(CommandsTest, MemberCommandsGoToTheHostAndOnlyChatIsRecorded) {
    Harness h;
    h.Client(); // Leader, Gone (left), Bob and Guest, BuddyIDs 1 to 4
    const std::string abc = test::Bytes({11, 0, 0, 0, 0, 4, 0, 0, 1, 0, 0, 0, 3, 0, 'a', 'b', 'c'});
    const std::string notice = "发送消息|你要发送消息: \n<hello> ?\n(需要通过会话组长验证)";
    const auto chat = [](Harness& h) {
        Send(" abc ", false, false)(h);
        EXPECT_EQ(h.s.lines.back().stamp, 1u);
    };
    const auto unshown = [](Harness& h) {
        const std::string messages = h.s.messageText;
        Send(" hello ", true, false)(h);
        EXPECT_EQ(h.s.messageText, messages);
    };
    const auto declined = [](Harness& h) {
        h.p.answers = {BoxAnswer::No};
        EXPECT_TRUE(h.cmd.Send({" hello ", true, true}).asNotice);
    };
    const Totals said{1, 1, 0, 2, 0, 1};
    const auto toHost = [](const std::string& packet) { return SentList{{0, packet}}; };
    const Step steps[] = {
        Step("chat", chat, {}, toHost(abc), {"<你> 对大家说: abc"}, Rec(E::EvChatLine, abc), said),
        Step("notice, shown when the host sends it back", unshown, {notice},
             toHost(BuildNotice(P::NoticeToHost, {4, "hello"})), {}, {}, said),
        Step("declined notice", declined, {notice}, {}, {}, {}, said),
        Step("sleep", SleepOrWake(true), {"暂时离开|您要暂时离开一会儿吗?"},
             toHost(BuildPresence(P::SleepToHost, {4})), {"-->> Guest 休眠了."}, {}, said),
        Step("wake", SleepOrWake(false), {"返回会话|您要立即返回会话吗?"},
             toHost(BuildPresence(P::WakeToHost, {4})), {"-->> Guest 苏醒了."}, {}, said),
        Step("rename", Rename, {"|请输入您的新名字"},
             toHost(BuildRename(P::RenameToHost, {4, "Boss"})), {"-->> Guest 改名为 'Boss ' "}, {},
             said),
        Step("leave", Leave("您已经退出会话 'Topic ' 。"),
             {"退出当前会话|您确定要退出当前会话吗？", SAVE_BOX, CLEAR_BOX}, {},
             {"-->> 您已经退出了会话 'Topic ' 。"}, Rec(E::EvSessionEnded, ""),
             {0, 0, 0, 3, 0, -1}),
    };
    RunSteps(h, steps);
}

TEST(CommandsTest, TheHostGoneWhileAQuestionIsOpenSendsAndEndsNothing) {
    for (const bool leave : {true, false}) {
        Harness h;
        h.Client();
        h.p.duringAsk = [&h] {
            h.s.inSession = false;
            h.s.EmptyRoster();
        };
        const auto [sent, lines, boxes, events] = h.Run([&] {
            leave ? h.cmd.Leave() : void(h.cmd.Send({"hello", true, false}));
        });
        EXPECT_EQ(std::tie(sent, lines),
                  std::tuple(SentList{}, leave ? Lines{} : Lines{NOT_IN_SESSION}));
        EXPECT_EQ(std::tuple(boxes.size(), h.net.shutdowns), std::tuple(1u, 0));
    }
}

TEST(CommandsTest, OutsideASessionOrBeforeTheRosterNothingIsSent) {
    for (const bool connected : {false, true}) {
        Harness h;
        if (connected)
            h.Connect();
        h.s.selfId = 2; // left over from an earlier session
        h.cmd.SleepOrWake();
        EXPECT_FALSE(h.cmd.RenameBegin());
        h.cmd.RenameFinish("Name");
        const SendOutcome out = h.cmd.Send({"  word ", true, false});
        EXPECT_EQ(h.Boxes(), Lines{"|您还未参与会话，请新建或加入一个会话."});
        EXPECT_EQ(std::tuple(out.text, out.asNotice, h.Line(), h.s.lastLine.text),
                  std::tuple("word", true, NOT_IN_SESSION, "word"));
        EXPECT_TRUE(h.net.sent.empty() && h.s.roster.empty());
    }
}

TEST(CommandsTest, BlankInputLeavingOutsideASessionAndCancelledOrReplayingCommandsDoNothing) {
    Harness h;
    EXPECT_TRUE(h.cmd.Send({"  \t ", false, false}).text.empty());
    h.cmd.Leave();
    EXPECT_EQ(h.Boxes(), (Lines{"发送错误|不能发送空内容", "退出出错|您还未进入会话?"}));
    EXPECT_EQ(h.p.boxes.at(1).icon, BoxIcon::Question);
    h.Host({"Bob"});
    h.p.answers = {BoxAnswer::Cancel, BoxAnswer::Cancel};
    h.cmd.Leave();
    h.cmd.SleepOrWake();
    EXPECT_EQ(std::tuple(h.p.boxes.size(), h.net.shutdowns, h.s.roster[0].state),
              std::tuple(2u, 0, BuddyState::Joined));
    EXPECT_TRUE(h.s.inSession && !h.s.asleep && h.net.sent.empty());
    h.recorder.state = ReplayState::Paused;
    SendOutcome out;
    EXPECT_EQ(h.Run([&] { out = h.cmd.Send({" typed ", true, false}); }), test::Effects{});
    EXPECT_EQ(out.text, " typed ");
}

// The longest text fills the buffer; one character more is refused whole, not cut.
TEST(CommandsTest, TextsTooLongForOnePacketAreRefusedNotCut) {
    for (const bool notice : {false, true}) {
        const std::size_t max = notice ? MAX_NOTICE_TEXT : MAX_CHAT_TEXT;
        Harness h;
        h.Host({"Bob"});
        h.cmd.Send({std::string(max, 'x'), notice, false});
        EXPECT_EQ(h.TakeSent().at(0).second.size(), PACKET_BUFFER_SIZE) << notice;
        const std::string longer(max + 1, 'x');
        EXPECT_EQ(h.cmd.Send({longer, notice, false}).text, longer);
        EXPECT_TRUE(h.net.sent.empty());
        EXPECT_NE(h.Boxes(false).back().find(std::to_string(max)), std::string::npos);
    }
}

// A create cancelled or failed leaves replay and log alone; one made cuts name and topic.
TEST(CommandsTest, CreateMakesTheLeaderAnnouncesTheCodeAndRecordsTheCreation) {
    Harness h;
    h.recorder.state = ReplayState::Playing;
    h.log.AppendEvent(E::EvChatLine, "loaded");
    ASSERT_TRUE(h.cmd.CreateBegin());
    EXPECT_EQ(h.recorder.state, ReplayState::Paused);
    h.cmd.CreateCancel();
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);
    h.net.serveOk = false;
    ASSERT_TRUE(h.cmd.CreateBegin());
    EXPECT_FALSE(h.cmd.CreateFinish("L", "T"));
    EXPECT_EQ(std::tuple(h.recorder.state, h.s.inSession, h.s.roster.size(), h.log.events.size()),
              std::tuple(ReplayState::Paused, false, 0u, 1u));
    h.net.initOk = false;
    EXPECT_FALSE(h.cmd.CreateBegin());
    EXPECT_FALSE(h.cmd.ValidateHostDetails(" \t ", "Topic") ||
                 h.cmd.ValidateHostDetails("L", "   "));
    EXPECT_TRUE(h.cmd.ValidateHostDetails(" Leader ", " Topic "));
    EXPECT_EQ(h.Boxes(), (Lines{"|请输入您的名称", "|请输入会话主题"}));

    h.net.initOk = h.net.serveOk = true;
    h.s.settings.maxClients = 7;
    test::CoreAccess::Parts(h.f.core).show.Say("x");
    h.Forget();
    ASSERT_TRUE(h.cmd.CreateBegin());
    EXPECT_EQ(h.cmd.CreateDialogValues().hostAddress, "192.168.0.7");
    ASSERT_TRUE(h.cmd.CreateFinish(ToGbk("  " + Repeat("名", 11) + " "), ToGbk(Repeat("题", 25))));

    const std::string name = ToGbk(Repeat("名", 10)), topic = Repeat("题", 20); // of 22 and 50
    const std::string code = std::to_string(MakeAddressCode("192.168.0.7"));
    ASSERT_EQ(h.s.roster.size(), 1u);
    EXPECT_EQ(std::tuple(h.s.isHost, h.s.inSession, h.s.roster[0].role, h.s.selfId.value,
                         h.s.settings.maxClients, std::string(h.s.roster[0].Name()), h.s.topic),
              std::tuple(true, true, BuddyRole::Leader, 1, 20, name, ToGbk(topic)));
    EXPECT_EQ(h.LinesFrom(BANNER_LINES),
              (Lines{"-->> 新建会话地址编码: " + code + "，主机地址: 192.168.0.7，监听端口: 6636",
                     "-->> 创建新的会话，等待客人登陆中..."}));
    EXPECT_EQ(FromGbk(h.s.messageText.substr(MessageWindowHeader().size())),
              "Massage: 欢迎您加入会话，会话主题是 '" + topic + " '   (01:46:40)\r\n");
    ASSERT_EQ(h.p.boxes.size(), 3u);
    EXPECT_EQ(h.Boxes()[0], CLEAR_BOX);
    EXPECT_NE(h.p.boxes[1].text.find("容量是20人"), std::string::npos);
    EXPECT_EQ(h.p.boxes[2].caption, "让朋友们加入您的会话! ");
    EXPECT_EQ(h.p.clipboard, "欢迎您使用Kolvena加入我的会话! 会话地址编码:" + code);
    // The old session's events are gone; the creation opens the new recording.
    EXPECT_EQ(h.log.events,
              Rec(E::EvSessionCreated, BuildMemberJoined(name, "192.168.0.7").substr(1)));
    EXPECT_EQ(
        std::tuple(h.log.header.version, h.log.header.startTime, h.f.view.mode),
        std::tuple(RECORDING_VERSION, static_cast<std::uint32_t>(h.f.clock.now), WindowMode::Live));
}

TEST(CommandsTest, CreateAndJoinAreRefusedWhileInASessionOrJoining) {
    const std::tuple<bool, bool, std::string> cases[] = {
        {true, true, "无法创建新会话|要创建新会话，先退出当前会话。"},
        {false, true, "无法创建新会话|您目前正在登陆一个指定会话."},
        {true, false, "无法加入会话|要加入一个新的会话，请先离开当前会话."},
        {false, false, "正在连接|正在连接会话主机，请稍候."},
    };
    for (const auto& [inSession, create, box] : cases) {
        Harness h;
        h.s.inSession = inSession;
        h.Joining() = !inSession;
        EXPECT_FALSE(create ? h.cmd.CreateBegin() : h.cmd.JoinBegin());
        EXPECT_EQ(h.Boxes(), Lines{box});
        EXPECT_EQ(std::tuple(h.p.boxes.at(0).icon, h.net.inits),
                  std::tuple(BoxIcon::Information, 0));
    }
}

// A join cancelled, one that cannot start and one that fails, then one that logs in.
TEST(CommandsTest, JoinsEndCleanlyWhenCancelledOrFailedAndLogInOnCompletion) {
    Harness h;
    h.f.clock.now = MIDNIGHT + 14 * 3600 + 3 * 60 + 9;
    EXPECT_EQ(FromGbk(h.cmd.ProposedJoinName()), "游客14:3:9");
    h.f.clock.now = MIDNIGHT;
    EXPECT_EQ(FromGbk(h.cmd.ProposedJoinName()), "游客0:0:0");
    h.recorder.state = ReplayState::Playing;
    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinCancel();
    EXPECT_EQ(h.recorder.state, ReplayState::Playing);
    h.net.initOk = false;
    h.cmd.JoinFinish({"Guest", JoinMode::ByCode, 1, "", 6636});
    EXPECT_FALSE(h.Joining() || !h.net.connects.empty());

    h.net.initOk = true;
    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinFinish({"Guest", JoinMode::ByCode, 4242, "", 6636});
    EXPECT_EQ(h.net.connects.at(0).code, 4242u);
    for (int i = 0; i < 3; ++i)
        h.cmd.JoinTick();
    h.net.active = true;
    h.cmd.OnConnectResult(false);
    EXPECT_EQ(
        h.LinesFrom(h.s.lines.size() - 2),
        (Lines{"-->> 正在登陆会话主机 请稍候 ......", "-->> 连接指定会话没有成功，请您重新登陆."}));
    EXPECT_EQ(h.net.shutdowns, 1);
    EXPECT_FALSE(h.Joining() || h.s.inSession || h.f.view.joinTimer || !h.net.sent.empty());
    h.cmd.OnConnectResult(true); // a stray outcome changes nothing
    EXPECT_FALSE(h.s.inSession);

    h.recorder.state = ReplayState::Paused;
    h.log.AppendEvent(E::EvChatLine, "loaded");
    ASSERT_TRUE(h.cmd.JoinBegin());
    h.cmd.JoinFinish({ToGbk("游客"), JoinMode::ByAddress, 0, " 10.1.2.3 ", 7000});
    ASSERT_EQ(h.net.connects.size(), 2u);
    EXPECT_EQ(std::tuple(h.net.connects[1].mode, h.net.connects[1].address),
              std::tuple(JoinMode::ByAddress, "10.1.2.3"));
    EXPECT_TRUE(h.Joining() && h.f.view.joinTimer && h.log.events.empty());
    EXPECT_EQ(h.recorder.state, ReplayState::NoReplay);
    h.cmd.JoinTick();
    h.cmd.JoinTick();
    EXPECT_EQ(h.Line(), "-->> 正在登陆会话主机 请稍候 .....");
    h.f.clock.Advance(5);
    h.cmd.OnConnectResult(true);
    EXPECT_TRUE(h.s.inSession && !h.Joining() && !h.f.view.joinTimer);
    EXPECT_EQ(h.TakeSent(), (SentList{{0, BuildLogin(ToGbk("游客"))}}));
    // A member's recording carries its own start, not 1970.
    EXPECT_EQ(std::tuple(h.log.header.version, h.log.header.startTime),
              std::tuple(RECORDING_VERSION, static_cast<std::uint32_t>(h.f.clock.now)));
    h.cmd.JoinTick();
    EXPECT_EQ(h.Line(), "-->> 登陆会话主机成功，正在传回会话成员名单...");
}

TEST(CommandsTest, ClearLeavesOnlyTheBannerAndKeepsRosterAndLog) {
    Harness h;
    h.Host({"Bob"});
    h.cmd.Send({"abc", false, false});
    const std::size_t events = h.log.events.size();
    h.p.answers = {BoxAnswer::Cancel};
    h.cmd.Clear();
    EXPECT_GT(h.s.lines.size(), BANNER_LINES);
    h.cmd.Clear();
    EXPECT_EQ(h.LinesFrom(0), Harness().LinesFrom(0)); // the banner alone
    EXPECT_EQ(std::tuple(h.s.messageText, h.s.roster.size(), h.log.events.size()),
              std::tuple(std::string(MessageWindowHeader()), 2u, events));
}

TEST(CommandsTest, SavingNeedsNoticesReportsAFileThatCannotBeMadeAndFromLeaveWritesTheSession) {
    Harness h;
    test::TempDir dir;
    h.cmd.SaveRecording();
    EXPECT_EQ(h.Boxes(), Lines{"|没有任何会话记录."});
    EXPECT_TRUE(h.p.fileRequests.empty());
    h.Host({"Bob"});
    h.f.clock.Advance(3);
    h.cmd.Send({"abc", false, false});
    h.p.paths = {dir.File("missing/x.prs"), dir.File("left.prs")};
    h.p.answers = {BoxAnswer::Ok, BoxAnswer::Yes, BoxAnswer::Cancel};
    h.cmd.SaveRecording();
    h.cmd.Leave();
    EXPECT_EQ(h.Boxes(false).at(0).rfind("无法创建文件: " + dir.File("missing/x.prs"), 0), 0u);
    EXPECT_EQ(h.Boxes(false).size(), 4u); // and the three questions of leaving; a save shows none
    EXPECT_EQ(h.p.fileRequests.at(1).initialName, "Topic(9-9-2001)");
    RecordingHeader header;
    ASSERT_TRUE(header.Decode(test::ReadFileBytes(dir.File("left.prs"))));
    // Created, joined, the line and the end; not the emptied roster and reset totals.
    EXPECT_EQ(std::tuple(header.eventCount, header.topic, header.memberCount, header.chatLines,
                         header.notices),
              std::tuple(4, std::string("Topic"), 2u, 1u, 2u));
}

TEST(SettingsTest, ValidationRefusesOutOfRangeAndBelowTheMembersPresent) {
    const std::string range = "|最大客户数量必须在 1 到 100 之间，请重新输入。";
    const std::tuple<bool, std::uint16_t, std::uint32_t, bool, std::string> rows[] = {
        {true, 3, 0, false, range},
        {false, 0, 101, false, range},
        {true, 3, 2, false, "|最大客户数量不能小于当前客户人数(3人)! 请重新设置."},
        {true, 3, 3, true, "会话关闭|当前会话人数已满，会话暂时对外关闭。"},
        {true, 3, 4, true, ""},
        {true, 0, 1, true, ""},
        {false, 0, 100, true, ""},
    };
    for (const auto& [hosting, current, max, accepted, box] : rows) {
        Harness h;
        SettingsValues values;
        std::tie(values.hosting, values.currentClients, values.maxClients) =
            std::tie(hosting, current, max);
        EXPECT_EQ(h.cmd.ValidateSettings(values), accepted) << max;
        EXPECT_EQ(h.Boxes(), box.empty() ? Lines{} : Lines{box}) << max;
        EXPECT_TRUE(!accepted || box.empty() || h.p.boxes.at(0).icon == BoxIcon::Information);
    }
}

// One host with three members, the dialog confirmed again and again: the maximum kept, the
// door and the line the user reads ("" for none).
TEST(SettingsTest, TheMaximumAndTheListenBoxOpenAndCloseTheDoor) {
    Harness h;
    h.Host({"Bob", "Cat", "Dan"});
    h.s.settings.maxClients = 12;
    const SettingsValues opened = h.cmd.OpenSettings();
    EXPECT_EQ(std::tuple(opened.hosting, opened.listen, opened.currentClients, opened.maxClients),
              std::tuple(true, true, 3, 12u));
    h.s.settings.maxClients = 20;
    const std::tuple<std::uint32_t, bool, int, bool, std::string> rows[] = {
        {2, true, 20, true, ""},           // refused: fewer than present
        {3, true, 3, false, CLOSED_LINE},  // full
        {3, false, 3, false, CLOSED_LINE}, // full and closed already: said again
        {5, true, 5, true, REOPENED_LINE}, // room again
        {5, false, 5, false, CLOSED_LINE}, // not full, listen unchecked
        {5, false, 5, false, ""},          // unchanged
        {5, true, 5, true, REOPENED_LINE}, // listen checked again
        {5, true, 5, true, ""},            // unchanged
    };
    for (const auto& [max, listen, kept, accepting, line] : rows) {
        SCOPED_TRACE(testing::Message() << max << " " << listen);
        const std::size_t lines = h.s.lines.size();
        SettingsValues values = h.cmd.OpenSettings();
        EXPECT_EQ(values.listen, h.net.accepting); // the dialog shows the door as it is
        std::tie(values.maxClients, values.listen) = std::tie(max, listen);
        if (h.cmd.ValidateSettings(values))
            h.cmd.ApplySettings(values);
        EXPECT_EQ(std::tuple(h.s.settings.maxClients, h.net.accepting),
                  std::tuple(kept, accepting));
        EXPECT_EQ(h.LinesFrom(lines), line.empty() ? Lines{} : Lines{line});
        EXPECT_TRUE(line.empty() || h.s.lines.back().stamp == 1u);
    }
    // Applied from a dialog that was open when the session ended, it leaves the door alone.
    SettingsValues values = h.cmd.OpenSettings();
    h.s.isHost = h.s.inSession = false;
    values.listen = false;
    h.cmd.ApplySettings(values);
    EXPECT_TRUE(h.net.accepting);
}

TEST(SettingsTest, OutsideHostingOnlyTheDisplayAndSoundOptionsChange) {
    Harness h;
    h.s.settings.maxClients = 55;
    h.net.accepting = true;
    const std::size_t lines = h.s.lines.size();
    SettingsValues values = h.cmd.OpenSettings();
    EXPECT_EQ(std::tuple(values.hosting, values.listen, values.maxClients, values.currentClients),
              std::tuple(false, false, 20u, 0));
    values.showTimeOnChat = true;
    values.showTimeOnMessages = values.verify = values.sound = values.listen = false;
    values.maxClients = 7;
    ASSERT_TRUE(h.cmd.ValidateSettings(values));
    const int chats = h.f.view.chat;
    h.cmd.ApplySettings(values);
    const auto& set = h.s.settings;
    EXPECT_EQ(std::tie(set.showTimeOnChat, set.showTimeOnMessages, set.verifyMessages, set.soundOn,
                       set.maxClients),
              std::make_tuple(true, false, false, false, 7));
    EXPECT_TRUE(h.net.accepting && h.s.lines.size() == lines && h.f.view.chat > chats);
}

} // namespace
} // namespace kolvena
