#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "peer_process.h"
#include "record/event_log.h"
#include "record/record_test_util.h"
#include "session/gbk.h"

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

// What the peer printed that matches `keep`, without the wall clock's time suffixes.
Lines Shown(const PeerProcess& peer, const std::string& keep = ".*") {
    static const std::regex time(R"( *\(\d\d:\d\d:\d\d\))");
    const std::regex kept(keep);
    Lines out;
    for (const std::string& line : peer.Lines(""))
        if (std::string shown = std::regex_replace(line, time, ""); std::regex_match(shown, kept))
            out.push_back(shown);
    return out;
}

// The chat and notice lines from the first containing "hello all".
Lines Steps(const PeerProcess& peer) {
    Lines out = Shown(peer, "(chat|notice): .*");
    out.erase(out.begin(), std::ranges::find_if(out, [](const std::string& line) {
                  return Contains(line, "hello all");
              }));
    return out;
}

// The lines a recording replays as shown live (the leader's join lines differ by design).
const std::string RECORDED =
    "chat: <.*|chat: -->> .*(改名为|休眠了|苏醒了|离开会话).*|notice: (?!.*(关闭|退出)).*";

// A full session of a leader and three members (a fourth is kept out): every peer shows exactly
// its own view; both recordings replay as seen live, and the leader's becomes a GBK transcript.
TEST(SessionE2E, LiveSessionDeliversRoutesAndRecords) {
    const test::TempDir dir;
    const std::uint16_t port = test::FreePort();
    const auto peers =
        test::StartSession(port, {{"Ann", {"--record", dir.File("host.prs"), "--max", "3"}},
                                  {"Bob", {"--record", dir.File("bob.prs")}},
                                  {"Carol", {}},
                                  {"Dave", {}}});
    ASSERT_EQ(peers.size(), 4u);
    PeerProcess &host = *peers[0], &bob = *peers[1];
    EXPECT_TRUE(host.Printed("当前会话人数已满，会话暂时对外关闭。"));
    {
        PeerProcess eve(test::SessionArguments(false, port, "Eve"));
        EXPECT_FALSE(eve.WaitFor("Eve(您)", 1500ms)) << eve.Output();
    }
    // Who acts (none: a further line of the step before), the command, the peers that show its
    // line (awaited there) and the line, in which one's own name shows as "<你>".
    const struct {
        char who;
        const char *command, *seenBy;
        std::string line;
    } steps[] = {
        {'B', "say hello all", "ABCD", "chat: <Bob> 对大家说: hello all"},
        {'B', "to 3 for carol", "ABCD", "chat: <Bob> 对 <Carol> 说: for carol"},
        {'B', "whisper 4 secret", "BD", "chat: <Bob> 对 <Dave> 说(悄悄话): secret"},
        {'B', "whisper 1 to the leader", "AB", "chat: <Bob> 对 <Ann> 说(悄悄话): to the leader"},
        {'C', "notice meeting at noon", "ABCD", "notice: Massage: Carol: meeting at noon"},
        {'D', "rename Dan", "ABCD", "chat: -->> Dave 改名为 'Dan ' "},
        {'C', "sleep", "ABCD", "chat: -->> Carol 休眠了."},
        {'C', "wake", "ABCD", "chat: -->> Carol 苏醒了."},
        {'A', "settings max=5 listen=1", "A", "chat: -->> 会话重新对外开放。"},
        {'A', "say 大家好", "ABCD", "chat: <Ann> 对大家说: 大家好"},
        {'B', "leave", "ACD", "chat: -->> 成员 Bob 离开会话."},
        {0, nullptr, "B", "chat: -->> 您已经退出了会话 '测试会话 ' 。"},
        {0, nullptr, "B", "notice: Massage: 您已经退出会话 '测试会话 ' 。"},
        {'D', "whisper 2 after bob", "CD", "chat: <Dan> 对 <Carol> 说(悄悄话): after bob"},
        {'A', "leave", "A", "chat: -->> 会话 '测试会话 ' 关闭, 所有成员退出。"},
        {0, nullptr, "CD", "chat: -->> 组长已经关闭会话。所有人都已经退出了。"},
        {0, nullptr, "ACD", "notice: Massage: 会话 '测试会话 ' 关闭"},
    };
    const Lines names[] = {{"<Ann>"}, {"<Bob>"}, {"<Carol>"}, {"<Dave>", "<Dan>"}};
    const auto as = [&names](std::string line, std::size_t peer) {
        for (const std::string& name : names[peer])
            if (const auto at = line.find(name); at != std::string::npos)
                line.replace(at, name.size(), "<你>");
        return line;
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.line);
        if (s.who)
            peers[s.who - 'A']->Command(s.command);
        for (const std::string_view seer = s.seenBy; const char c : seer)
            ASSERT_TRUE(peers[c - 'A']->WaitFor(as(s.line, c - 'A'))) << peers[c - 'A']->Output();
    }
    for (const auto& p : peers) {
        p->CloseInput();
        EXPECT_EQ(p->WaitForExit(), 0);
    }
    for (std::size_t peer = 0; peer < std::size(peers); ++peer) {
        Lines saw;
        for (const auto& s : steps)
            if (Contains(s.seenBy, std::string_view("ABCD").substr(peer, 1)))
                saw.push_back(as(s.line, peer));
        if (peer < 2)
            saw.insert(saw.end(), BANNER.begin(), BANNER.end());
        EXPECT_EQ(Steps(*peers[peer]), saw) << "ABCD"[peer];
    }

    for (auto [file, live] : {std::pair{"host.prs", &host}, std::pair{"bob.prs", &bob}}) {
        SCOPED_TRACE(file);
        PeerProcess replay({"replay", dir.File(file)});
        EXPECT_EQ(replay.WaitForExit(), 0) << replay.Output();
        EXPECT_EQ(Shown(replay, RECORDED), Shown(*live, RECORDED));
        EXPECT_TRUE(replay.Printed("box: 播放结束 | 当前会话记录已经重放结束."));
    }

    const std::string text = dir.File("host.txt");
    PeerProcess transcript({"transcript", dir.File("host.prs"), text});
    EXPECT_EQ(transcript.WaitForExit(), 0) << transcript.Output();
    const std::string bytes = test::ReadFileBytes(text);
    const std::string banner =
        ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n//会话主题: 测试会话 \r\n");
    EXPECT_EQ(bytes.substr(0, banner.size()), banner);
    EXPECT_TRUE(Contains(bytes, ToGbk("Carol: meeting at noon")));
    for (const std::string& line : Shown(host, RECORDED))
        EXPECT_TRUE(!line.starts_with("chat: ") || Contains(bytes, ToGbk(line.substr(6)) + "\r\n"))
            << line;
    EXPECT_FALSE(Contains(bytes, "测试会话")) << "UTF-8 in the transcript";

    // Cut off inside its end mark, the copy is malformed: nothing is replayed or written.
    const std::string recording = test::ReadFileBytes(dir.File("host.prs"));
    test::WriteFileBytes(dir.File("cut.prs"), recording.substr(0, recording.size() - 3));
    for (const Lines& arguments : {Lines{"replay", dir.File("cut.prs")},
                                   Lines{"transcript", dir.File("cut.prs"), dir.File("cut.txt")}}) {
        PeerProcess cut(arguments);
        EXPECT_EQ(cut.WaitForExit(), 1);
        Lines expected = BANNER;
        expected.push_back("box: Kolvena | 文件格式错误.");
        EXPECT_EQ(Shown(cut), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("cut.txt")));
}

// A leader started with --approve no refuses every notice: only its sender hears of it.
TEST(SessionE2E, ALeaderThatRefusesNoticesTellsOnlyTheSender) {
    const std::uint16_t port = test::FreePort();
    const auto peers =
        test::StartSession(port, {{"Ann", {"--approve", "no"}}, {"Bob", {}}, {"Carol", {}}});
    ASSERT_EQ(peers.size(), 3u);
    PeerProcess &host = *peers[0], &bob = *peers[1], &carol = *peers[2];
    bob.Command("notice 广告");
    const auto asked = host.WaitForLine("box: 成员请求验证消息", std::chrono::seconds(10));
    ASSERT_TRUE(asked) << host.Output();
    EXPECT_TRUE(asked->ends_with("-> No")) << *asked;
    EXPECT_TRUE(bob.WaitFor("box: 消息未被验证通过")) << bob.Output();
    carol.Command("say 收尾");
    ASSERT_TRUE(bob.WaitFor("收尾")) << bob.Output();
    EXPECT_FALSE(carol.Printed("广告")) << carol.Output();
}

// Refused command lines and unusable files: the exit code and the start of the last line.
TEST(SessionE2E, CommandLineRefusalsAndUnusableFiles) {
    const test::TempDir dir;
    const std::string port = std::to_string(test::FreePort());
    const std::string empty = dir.File("empty.prs");
    test::WriteFileBytes(empty, RecordingHeader{}.Encode() + std::string("[END]\0", 6));
    const std::string usage = "  kolvena-peer transcript FILE.prs OUT.txt";
    const std::string failed = "chat: -->> 连接指定会话没有成功，请您重新登陆.";
    const std::string none = dir.File("none.prs");
    const Lines host = {"host",   "--name",    "Ann",    "--topic", "t",
                        "--bind", "127.0.0.1", "--port", port,      "--max"};
    const Lines join = {"join", "--port", port, "--name", "Bob", "--address"};
    const auto with = [](Lines arguments, const char* last) {
        arguments.push_back(last);
        return arguments;
    };
    const struct {
        std::vector<std::string> arguments;
        int code;
        std::string last;
    } cases[] = {
        {host, 2, usage},
        {with(host, "0"), 2, ""},
        {with(host, "101"), 2, ""},
        {with(join, "127.0.0.1"), 1, failed},
        {with(join, "10.0.0.300"), 1, failed},
        {{"replay", none}, 1, "box: Kolvena | 无法打开文件: " + none},
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
        PeerProcess peer(c.arguments);
        EXPECT_EQ(peer.WaitForExit(), c.code);
        const Lines lines = peer.Lines("");
        EXPECT_EQ(lines.empty() ? "" : lines.back().substr(0, c.last.size()), c.last)
            << peer.Output();
    }
}

} // namespace
} // namespace kolvena
