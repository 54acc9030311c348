#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "peer_process.h"
#include "record/event_log.h"
#include "record/record_test_util.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

using test::PeerProcess;
using namespace std::chrono_literals;

std::vector<EventKind> RecordedKinds(const std::string& file) {
    test::FakeClock clock;
    test::ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    std::ifstream in(file, std::ios::binary);
    EXPECT_TRUE(log.ReadLog(in)) << file;
    std::vector<EventKind> kinds;
    for (const SessionEvent& e : log.events)
        kinds.push_back(e.kind);
    return kinds;
}

std::size_t Count(const std::vector<EventKind>& kinds, EventKind kind) {
    return static_cast<std::size_t>(std::count(kinds.begin(), kinds.end(), kind));
}

// A host and three members chat, whisper, send notices, rename, sleep and wake; one leaves and
// the others are renumbered; the leader closes; both sides' recordings read back.
TEST(SessionE2E, HostAndThreeMembers) {
    const test::TempDir dir;
    const std::uint16_t port = test::FreePort();
    auto host = PeerProcess::Host(port, "Ann", {"--record", dir.File("host.prs")});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中")) << host->Output();

    auto bob = PeerProcess::Join(port, "Bob", {"--record", dir.File("bob.prs")});
    ASSERT_TRUE(bob->WaitFor("members: 全体, Ann(组长), Bob(您)")) << bob->Output();
    auto carol = PeerProcess::Join(port, "Carol");
    ASSERT_TRUE(carol->WaitFor("members: 全体, Ann(组长), Bob, Carol(您)")) << carol->Output();
    auto dave = PeerProcess::Join(port, "Dave");
    ASSERT_TRUE(dave->WaitFor("members: 全体, Ann(组长), Bob, Carol, Dave(您)")) << dave->Output();
    ASSERT_TRUE(bob->WaitFor("新成员 Dave 加入会话."));
    ASSERT_TRUE(host->WaitFor("members: 全体, Ann(组长), Bob, Carol, Dave"));

    bob->Command("say hello all");
    EXPECT_TRUE(bob->WaitFor("chat: <你> 对大家说: hello all"));
    for (auto* p : {host.get(), carol.get(), dave.get()})
        EXPECT_TRUE(p->WaitFor("chat: <Bob> 对大家说: hello all")) << p->Output();

    bob->Command("to 3 for carol");
    EXPECT_TRUE(carol->WaitFor("chat: <Bob> 对 <你> 说: for carol"));
    EXPECT_TRUE(dave->WaitFor("chat: <Bob> 对 <Carol> 说: for carol"));
    EXPECT_TRUE(host->WaitFor("chat: <Bob> 对 <Carol> 说: for carol"));

    // Whispers reach their target only; the marker after them shows the others had their turn.
    bob->Command("whisper 4 secret");
    bob->Command("whisper 1 to the leader");
    bob->Command("say marker");
    EXPECT_TRUE(dave->WaitFor("chat: <Bob> 对 <你> 说(悄悄话): secret"));
    EXPECT_TRUE(host->WaitFor("chat: <Bob> 对 <你> 说(悄悄话): to the leader"));
    for (auto* p : {host.get(), carol.get(), dave.get()})
        ASSERT_TRUE(p->WaitFor("<Bob> 对大家说: marker"));
    EXPECT_FALSE(host->Printed("secret"));
    EXPECT_FALSE(carol->Printed("secret"));
    EXPECT_FALSE(carol->Printed("to the leader"));
    EXPECT_FALSE(dave->Printed("to the leader"));

    carol->Command("notice meeting at noon");
    EXPECT_TRUE(host->WaitFor("box: 成员请求验证消息 | 组长验证: \\n成员Carol 请求发送消息: \\n "
                              "<meeting at noon> \\n是否验证通过？ -> Yes"));
    for (auto* p : {host.get(), bob.get(), carol.get(), dave.get()})
        EXPECT_TRUE(p->WaitFor("notice: Massage: Carol: meeting at noon ")) << p->Output();

    dave->Command("rename Dan");
    for (auto* p : {host.get(), bob.get(), carol.get(), dave.get()})
        EXPECT_TRUE(p->WaitFor("chat: -->> Dave 改名为 'Dan ' ")) << p->Output();
    carol->Command("sleep");
    EXPECT_TRUE(bob->WaitFor("chat: -->> Carol 休眠了."));
    EXPECT_TRUE(host->WaitFor("members: 全体, Ann(组长), Bob, Carol(休眠), Dan"));
    carol->Command("wake");
    EXPECT_TRUE(dave->WaitFor("chat: -->> Carol 苏醒了."));

    // Bob leaves: Carol and Dan move down by one, and whispers follow them.
    bob->Command("leave");
    EXPECT_EQ(bob->WaitForExit(), 0);
    for (auto* p : {host.get(), carol.get(), dave.get()})
        EXPECT_TRUE(p->WaitFor("chat: -->> 成员 Bob 离开会话.")) << p->Output();
    EXPECT_TRUE(carol->WaitFor("members: 全体, Ann(组长), Carol(您), Dan"));
    dave->Command("whisper 2 after bob");
    EXPECT_TRUE(carol->WaitFor("chat: <Dan> 对 <你> 说(悄悄话): after bob"));

    host->Command("leave");
    EXPECT_EQ(host->WaitForExit(), 0);
    for (auto* p : {carol.get(), dave.get()}) {
        EXPECT_TRUE(p->WaitFor("chat: -->> 组长已经关闭会话。所有人都已经退出了。")) << p->Output();
        p->CloseInput();
        EXPECT_EQ(p->WaitForExit(), 0);
    }

    const auto hostKinds = RecordedKinds(dir.File("host.prs"));
    ASSERT_FALSE(hostKinds.empty());
    EXPECT_EQ(hostKinds.front(), EventKind::EvSessionCreated);
    EXPECT_EQ(hostKinds.back(), EventKind::EvSessionEnded);
    EXPECT_EQ(Count(hostKinds, EventKind::EvMemberJoined), 3u);
    EXPECT_EQ(Count(hostKinds, EventKind::EvChatLine), 6u);
    EXPECT_EQ(Count(hostKinds, EventKind::EvNotice), 1u);
    EXPECT_EQ(Count(hostKinds, EventKind::EvNameChanged), 1u);
    EXPECT_EQ(Count(hostKinds, EventKind::EvAsleep), 1u);
    EXPECT_EQ(Count(hostKinds, EventKind::EvAwake), 1u);
    EXPECT_EQ(Count(hostKinds, EventKind::EvMemberLeft), 1u);

    const auto bobKinds = RecordedKinds(dir.File("bob.prs"));
    ASSERT_FALSE(bobKinds.empty());
    EXPECT_EQ(bobKinds.front(), EventKind::EvSessionJoined);
    EXPECT_EQ(bobKinds.back(), EventKind::EvSessionEnded);
    EXPECT_EQ(Count(bobKinds, EventKind::EvMemberJoined), 2u); // Carol and Dave
    EXPECT_EQ(Count(bobKinds, EventKind::EvNotice), 1u);
}

TEST(SessionE2E, RefusedNoticeReachesOnlyItsSender) {
    const std::uint16_t port = test::FreePort();
    auto host = PeerProcess::Host(port, "Ann", {"--approve", "no"});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中"));
    auto bob = PeerProcess::Join(port, "Bob");
    ASSERT_TRUE(bob->WaitFor("Bob(您)"));
    auto carol = PeerProcess::Join(port, "Carol");
    ASSERT_TRUE(carol->WaitFor("Carol(您)"));
    ASSERT_TRUE(bob->WaitFor("新成员 Carol 加入会话."));
    bob->Command("notice not this");
    EXPECT_TRUE(bob->WaitFor(
        "box: 消息未被验证通过 | 您待发送的消息: <not this> 验证没有通过，无法被发送。"));
    bob->Command("say marker");
    ASSERT_TRUE(carol->WaitFor("<Bob> 对大家说: marker"));
    EXPECT_FALSE(carol->Printed("not this"));
    EXPECT_FALSE(host->Printed("notice: Massage: Bob"));
}

TEST(SessionE2E, FullSessionClosesAndReopensThroughTheSettings) {
    const std::uint16_t port = test::FreePort();
    auto host = PeerProcess::Host(port, "Ann", {"--max", "1"});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中"));
    auto bob = PeerProcess::Join(port, "Bob");
    ASSERT_TRUE(bob->WaitFor("Bob(您)"));
    EXPECT_TRUE(host->WaitFor("当前会话人数已满，会话暂时对外关闭。"));

    auto carol = PeerProcess::Join(port, "Carol");
    EXPECT_FALSE(carol->WaitFor("Carol(您)", 1500ms)) << carol->Output();

    host->Command("settings max=5 listen=1");
    EXPECT_TRUE(host->WaitFor("chat: -->> 会话重新对外开放。")) << host->Output();
    auto dave = PeerProcess::Join(port, "Dave");
    EXPECT_TRUE(dave->WaitFor("members: 全体, Ann(组长), Bob, Dave(您)")) << dave->Output();
}

TEST(SessionE2E, AMemberLimitTheSettingsWouldRefuseIsRefusedAtStart) {
    // Otherwise every later settings command would fail on the limit it carries along.
    for (const char* max : {"0", "101"}) {
        auto host = PeerProcess::Host(test::FreePort(), "Ann", {"--max", max});
        EXPECT_EQ(host->WaitForExit(), 2) << max;
    }
    auto host = PeerProcess::Host(test::FreePort(), "Ann", {"--max", "100"});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中"));
    host->Command("settings verify=0");
    host->Command("leave");
    EXPECT_EQ(host->WaitForExit(), 0);
    EXPECT_FALSE(host->Printed("最大客户数量")) << host->Output();
}

TEST(SessionE2E, JoiningNobodyFails) {
    const std::uint16_t port = test::FreePort();
    auto lonely = PeerProcess::Join(port, "Bob");
    EXPECT_TRUE(lonely->WaitFor("box: Kolvena | 与会话主机连接没有成功，请重新连接。"));
    EXPECT_TRUE(lonely->WaitFor("chat: -->> 连接指定会话没有成功，请您重新登陆."));
    EXPECT_EQ(lonely->WaitForExit(), 1);

    auto typo = PeerProcess(
        {"join", "--address", "10.0.0.300", "--port", std::to_string(port), "--name", "Bob"});
    EXPECT_TRUE(typo.WaitFor("box: Kolvena | IPAddress is error!\\nPlease input again!"));
    EXPECT_EQ(typo.WaitForExit(), 1);
}

} // namespace
} // namespace kolvena
