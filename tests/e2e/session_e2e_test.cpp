#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "peer_process.h"
#include "record/event_log.h"
#include "record/record_test_util.h"
#include "session/gbk.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

using test::PeerProcess;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

// Shown at start and again when a leaving peer clears its chat area.
const Lines BANNER = {
    "chat:             ================================================= ",
    "chat:             =       欢迎加入 网络会话(Kolvena) v1.0       = ",
    "chat:             ================================================= ", "chat: "};

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// What the peer printed, without the time suffixes of notices (the wall clock's) and with the
// listening port as P.
Lines Shown(const PeerProcess& peer, std::uint16_t port) {
    static const std::regex time(R"( *\(\d\d:\d\d:\d\d\))");
    Lines out;
    for (std::string line : peer.Lines("")) {
        if (const auto at = line.find(std::to_string(port)); port != 0 && at != std::string::npos)
            line.replace(at, std::to_string(port).size(), "P");
        out.push_back(std::regex_replace(line, time, ""));
    }
    return out;
}

// The chat and notice lines from the first containing `from`.
Lines Steps(const PeerProcess& peer, std::uint16_t port, std::string_view from = "hello all") {
    Lines out;
    for (const std::string& line : Shown(peer, port))
        if ((!out.empty() || Contains(line, from)) &&
            (line.rfind("chat: ", 0) == 0 || line.rfind("notice: ", 0) == 0))
            out.push_back(line);
    return out;
}

// The lines a recording carries the same way for every program: chat, renames, sleep and
// wake, departures and the notices. (The leader's own join lines differ by design: live it
// shows "-->> X 加入会话", a replay "-->> 新成员 X 加入会话.".)
Lines Recorded(const PeerProcess& peer) {
    Lines out;
    for (const std::string& line : Shown(peer, 0))
        if (line.rfind("chat: <", 0) == 0 ||
            (line.rfind("chat: -->> ", 0) == 0 &&
             (Contains(line, "改名为") || Contains(line, "休眠了") || Contains(line, "苏醒了") ||
              Contains(line, "离开会话"))) ||
            (line.rfind("notice: ", 0) == 0 && !Contains(line, "关闭") && !Contains(line, "退出")))
            out.push_back(line);
    return out;
}

int RunToEnd(const std::vector<std::string>& arguments, std::unique_ptr<PeerProcess>& peer) {
    peer = std::make_unique<PeerProcess>(arguments);
    return peer->WaitForExit();
}

// A leader with room for three and four members over real sockets: they chat to all, to one
// and in whispers, send a notice through the leader's approval, rename, sleep and wake; the
// fourth is kept out until the leader reopens; one leaves and the others are renumbered; the
// leader closes. Every peer printed exactly its own view; both recordings replay to what the
// peers saw live, and the leader's becomes a GBK transcript.
TEST(SessionE2E, LiveSessionDeliversRoutesAndRecords) {
    const test::TempDir dir;
    const std::uint16_t port = test::FreePort();
    auto host = PeerProcess::Host(port, "Ann", {"--record", dir.File("host.prs"), "--max", "3"});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中")) << host->Output();
    auto bob = PeerProcess::Join(port, "Bob", {"--record", dir.File("bob.prs")});
    ASSERT_TRUE(bob->WaitFor("members: 全体, Ann(组长), Bob(您)")) << bob->Output();
    auto carol = PeerProcess::Join(port, "Carol");
    ASSERT_TRUE(carol->WaitFor("members: 全体, Ann(组长), Bob, Carol(您)")) << carol->Output();
    auto dave = PeerProcess::Join(port, "Dave");
    ASSERT_TRUE(dave->WaitFor("members: 全体, Ann(组长), Bob, Carol, Dave(您)")) << dave->Output();
    ASSERT_TRUE(host->WaitFor("当前会话人数已满，会话暂时对外关闭。"));
    for (auto* p : {bob.get(), carol.get()})
        ASSERT_TRUE(p->WaitFor("新成员 Dave 加入会话."));
    const std::vector<PeerProcess*> all = {host.get(), bob.get(), carol.get(), dave.get()};
    // Each step's last line, awaited at every peer that shows it before the next step.
    const auto step = [&](PeerProcess& who, const std::string& command,
                          const std::vector<PeerProcess*>& seenBy, const std::string& last) {
        SCOPED_TRACE(command);
        who.Command(command);
        for (auto* p : seenBy)
            ASSERT_TRUE(p->WaitFor(last)) << p->Output();
    };
    {
        auto eve = PeerProcess::Join(port, "Eve");
        EXPECT_FALSE(eve->WaitFor("Eve(您)", 1500ms)) << eve->Output();
    }
    step(*bob, "say hello all", all, "对大家说: hello all");
    step(*bob, "to 3 for carol", all, "说: for carol");
    step(*bob, "whisper 4 secret", {dave.get()}, "说(悄悄话): secret");
    step(*bob, "whisper 1 to the leader", {host.get()}, "说(悄悄话): to the leader");
    step(*carol, "notice meeting at noon", all, "notice: Massage: Carol: meeting at noon");
    step(*dave, "rename Dan", all, "Dave 改名为 'Dan '");
    step(*carol, "sleep", all, "Carol 休眠了.");
    step(*carol, "wake", all, "Carol 苏醒了.");
    step(*host, "settings max=5 listen=1", {host.get()}, "会话重新对外开放。");
    step(*host, "say 大家好", all, "对大家说: 大家好");
    bob->Command("leave");
    EXPECT_EQ(bob->WaitForExit(), 0);
    for (auto* p : {host.get(), carol.get(), dave.get()})
        ASSERT_TRUE(p->WaitFor("成员 Bob 离开会话.")) << p->Output();
    step(*dave, "whisper 2 after bob", {carol.get()}, "说(悄悄话): after bob");
    host->Command("leave");
    EXPECT_EQ(host->WaitForExit(), 0);
    for (auto* p : {carol.get(), dave.get()}) {
        EXPECT_TRUE(p->WaitFor("组长已经关闭会话。所有人都已经退出了。")) << p->Output();
        p->CloseInput();
        EXPECT_EQ(p->WaitForExit(), 0);
    }

    // Every peer printed exactly its own view of the steps, from the first line said.
    Lines hostSaw = {
        "chat: <Bob> 对大家说: hello all",
        "chat: <Bob> 对 <Carol> 说: for carol",
        "chat: <Bob> 对 <你> 说(悄悄话): to the leader",
        "notice: Massage: Carol: meeting at noon",
        "chat: -->> Dave 改名为 'Dan ' ",
        "chat: -->> Carol 休眠了.",
        "chat: -->> Carol 苏醒了.",
        "chat: -->> 会话重新对外开放。",
        "chat: <你> 对大家说: 大家好",
        "chat: -->> 成员 Bob 离开会话.",
        "chat: -->> 会话 '测试会话 ' 关闭, 所有成员退出。",
        "notice: Massage: 会话 '测试会话 ' 关闭",
    };
    Lines bobSaw = {
        "chat: <你> 对大家说: hello all",
        "chat: <你> 对 <Carol> 说: for carol",
        "chat: <你> 对 <Dave> 说(悄悄话): secret",
        "chat: <你> 对 <Ann> 说(悄悄话): to the leader",
        "notice: Massage: Carol: meeting at noon",
        "chat: -->> Dave 改名为 'Dan ' ",
        "chat: -->> Carol 休眠了.",
        "chat: -->> Carol 苏醒了.",
        "chat: <Ann> 对大家说: 大家好",
        "chat: -->> 您已经退出了会话 '测试会话 ' 。",
        "notice: Massage: 您已经退出会话 '测试会话 ' 。",
    };
    const Lines carolSaw = {
        "chat: <Bob> 对大家说: hello all",
        "chat: <Bob> 对 <你> 说: for carol",
        "notice: Massage: Carol: meeting at noon",
        "chat: -->> Dave 改名为 'Dan ' ",
        "chat: -->> Carol 休眠了.",
        "chat: -->> Carol 苏醒了.",
        "chat: <Ann> 对大家说: 大家好",
        "chat: -->> 成员 Bob 离开会话.",
        "chat: <Dan> 对 <你> 说(悄悄话): after bob",
        "chat: -->> 组长已经关闭会话。所有人都已经退出了。",
        "notice: Massage: 会话 '测试会话 ' 关闭",
    };
    Lines daveSaw = carolSaw;
    daveSaw[1] = "chat: <Bob> 对 <Carol> 说: for carol";
    daveSaw.insert(daveSaw.begin() + 2, "chat: <Bob> 对 <你> 说(悄悄话): secret");
    daveSaw[9] = "chat: <你> 对 <Carol> 说(悄悄话): after bob";
    for (Lines* cleared : {&hostSaw, &bobSaw})
        cleared->insert(cleared->end(), BANNER.begin(), BANNER.end());
    EXPECT_EQ(Steps(*host, port), hostSaw);
    EXPECT_EQ(Steps(*bob, port), bobSaw);
    EXPECT_EQ(Steps(*carol, port), carolSaw);
    EXPECT_EQ(Steps(*dave, port), daveSaw);

    for (auto [file, live] : {std::pair{"host.prs", host.get()}, std::pair{"bob.prs", bob.get()}}) {
        SCOPED_TRACE(file);
        std::unique_ptr<PeerProcess> replay;
        EXPECT_EQ(RunToEnd({"replay", dir.File(file)}, replay), 0) << replay->Output();
        EXPECT_EQ(Recorded(*replay), Recorded(*live));
        EXPECT_TRUE(replay->Printed("box: 播放结束 | 当前会话记录已经重放结束."));
    }

    std::unique_ptr<PeerProcess> transcript;
    const std::string text = dir.File("host.txt");
    EXPECT_EQ(RunToEnd({"transcript", dir.File("host.prs"), text}, transcript), 0)
        << transcript->Output();
    const std::string bytes = test::ReadFileBytes(text);
    const std::string banner =
        ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n//会话主题: 测试会话 \r\n");
    EXPECT_EQ(bytes.substr(0, banner.size()), banner);
    EXPECT_TRUE(Contains(bytes, ToGbk("Carol: meeting at noon")));
    for (const std::string& line : Recorded(*host)) {
        if (line.rfind("chat: ", 0) == 0) {
            EXPECT_TRUE(Contains(bytes, ToGbk(line.substr(6)) + "\r\n")) << line;
        }
    }
    EXPECT_FALSE(Contains(bytes, "测试会话")) << "UTF-8 in the transcript";

    // Cut off inside its end mark, the copy is malformed: nothing is replayed or written.
    const std::string recording = test::ReadFileBytes(dir.File("host.prs"));
    test::WriteFileBytes(dir.File("cut.prs"), recording.substr(0, recording.size() - 3));
    for (const Lines& arguments : {Lines{"replay", dir.File("cut.prs")},
                                   Lines{"transcript", dir.File("cut.prs"), dir.File("cut.txt")}}) {
        std::unique_ptr<PeerProcess> cut;
        EXPECT_EQ(RunToEnd(arguments, cut), 1);
        Lines expected = BANNER;
        expected.push_back("box: Kolvena | 文件格式错误.");
        EXPECT_EQ(Shown(*cut, 0), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("cut.txt")));
}

// A leader started with --approve no refuses every notice: only its sender hears of it.
TEST(SessionE2E, ALeaderThatRefusesNoticesTellsOnlyTheSender) {
    const std::uint16_t port = test::FreePort();
    auto host = PeerProcess::Host(port, "Ann", {"--approve", "no"});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中")) << host->Output();
    auto bob = PeerProcess::Join(port, "Bob");
    ASSERT_TRUE(bob->WaitFor("members: 全体, Ann(组长), Bob(您)")) << bob->Output();
    auto carol = PeerProcess::Join(port, "Carol");
    ASSERT_TRUE(carol->WaitFor("members: 全体, Ann(组长), Bob, Carol(您)")) << carol->Output();
    bob->Command("notice 广告");
    const auto asked = host->WaitForLine("box: 成员请求验证消息", std::chrono::seconds(10));
    ASSERT_TRUE(asked) << host->Output();
    EXPECT_TRUE(asked->ends_with("-> No")) << *asked;
    EXPECT_TRUE(bob->WaitFor("box: 消息未被验证通过")) << bob->Output();
    carol->Command("say 收尾");
    ASSERT_TRUE(bob->WaitFor("收尾")) << bob->Output();
    EXPECT_FALSE(carol->Printed("广告")) << carol->Output();
}

// What the command line refuses, and files that cannot be used: the exit code and the start of
// the last line printed.
TEST(SessionE2E, CommandLineRefusalsAndUnusableFiles) {
    const test::TempDir dir;
    const std::string port = std::to_string(test::FreePort());
    test::FakeClock clock;
    test::ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    const std::string empty = dir.File("empty.prs");
    {
        std::ofstream out(empty, std::ios::binary);
        ASSERT_TRUE(log.WriteLog(out));
    }
    const std::string usage = "  kolvena-peer transcript FILE.prs OUT.txt";
    const Lines host = {"host",   "--name",    "Ann",    "--topic", "t",
                        "--bind", "127.0.0.1", "--port", port,      "--max"};
    const auto max = [&host](const char* value) {
        Lines out = host;
        out.push_back(value);
        return out;
    };
    const struct {
        std::vector<std::string> arguments;
        int code;
        std::string last;
    } cases[] = {
        {host, 2, usage},
        {max("0"), 2, ""},
        {max("101"), 2, ""},
        {{"join", "--address", "127.0.0.1", "--port", port, "--name", "Bob"},
         1,
         "chat: -->> 连接指定会话没有成功，请您重新登陆."},
        {{"join", "--address", "10.0.0.300", "--port", port, "--name", "Bob"},
         1,
         "chat: -->> 连接指定会话没有成功，请您重新登陆."},
        {{"replay", dir.File("none.prs")},
         1,
         "box: Kolvena | 无法打开文件: " + dir.File("none.prs")},
        {{"replay", empty}, 0, "box: 播放结束 | 当前会话记录已经重放结束."},
        // An empty session leaves nothing to write: refused as in the window.
        {{"transcript", empty, dir.File("none.txt")}, 1, "box: Kolvena | 没有任何会话记录."},
        {{"replay"}, 2, usage},
        {{"replay", "a.prs", "b.txt"}, 2, usage},
        {{"transcript", "a.prs"}, 2, usage},
        {{"transcript", "a.prs", ""}, 2, usage},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        std::unique_ptr<PeerProcess> peer;
        EXPECT_EQ(RunToEnd(c.arguments, peer), c.code);
        const Lines lines = peer->Lines("");
        EXPECT_EQ(lines.empty() ? "" : lines.back().substr(0, c.last.size()), c.last)
            << peer->Output();
    }
}

} // namespace
} // namespace kolvena
