#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "peer_process.h"
#include "record/event_log.h"
#include "record/record_test_util.h"
#include "session/gbk.h"
#include "support/fakes.h"

namespace kolvena {
namespace {

using test::PeerProcess;

// Runs `kolvena-peer replay FILE` or `transcript FILE OUT` to its end; its exit code in code.
std::unique_ptr<PeerProcess> Replay(const std::vector<std::string>& arguments, int& code) {
    auto peer = std::make_unique<PeerProcess>(arguments);
    code = peer->WaitForExit();
    return peer;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// The chat lines a recording carries the same way for every program: what was said, renames,
// sleep and wake, and departures. (The leader's own join lines differ by design: live it shows
// "-->> X 加入会话", a replay "-->> 新成员 X 加入会话.".)
std::vector<std::string> RecordedChat(const PeerProcess& peer) {
    std::vector<std::string> out;
    for (const std::string& line : peer.Lines("chat: "))
        if (line.rfind("chat: <", 0) == 0 || Contains(line, "改名为") || Contains(line, "休眠了") ||
            Contains(line, "苏醒了") || Contains(line, "离开会话"))
            out.push_back(line);
    return out;
}

// The chat lines from the first containing `from` to the first after it containing `to`.
std::vector<std::string> ChatBetween(const PeerProcess& peer, std::string_view from,
                                     std::string_view to) {
    std::vector<std::string> out;
    for (const std::string& line : peer.Lines("chat: ")) {
        if (out.empty() && !Contains(line, from))
            continue;
        out.push_back(line);
        if (Contains(line, to))
            break;
    }
    return out;
}

// Notice lines without their time suffix, which shows when a line was shown, not sent; the
// closing notice is not part of a recording.
std::vector<std::string> Notices(const PeerProcess& peer) {
    std::vector<std::string> out;
    for (std::string line : peer.Lines("notice: ")) {
        if (Contains(line, "关闭"))
            continue;
        line.erase(line.find_last_not_of(' ', line.rfind(" (")) + 1);
        out.push_back(line);
    }
    return out;
}

// A live session between a leader and two members, both leader and Bob recording: chat,
// notices, a rename, sleep and wake, Carol leaves, the leader closes.
struct LiveSession {
    std::unique_ptr<PeerProcess> host;
    std::unique_ptr<PeerProcess> bob;
};

void RunSession(const test::TempDir& dir, LiveSession& live) {
    const std::uint16_t port = test::FreePort();
    live.host = PeerProcess::Host(port, "Ann", {"--record", dir.File("host.prs")});
    auto& host = *live.host;
    ASSERT_TRUE(host.WaitFor("等待客人登陆中")) << host.Output();
    live.bob = PeerProcess::Join(port, "Bob", {"--record", dir.File("bob.prs")});
    auto& bob = *live.bob;
    ASSERT_TRUE(bob.WaitFor("members: 全体, Ann(组长), Bob(您)")) << bob.Output();
    auto carol = PeerProcess::Join(port, "Carol");
    ASSERT_TRUE(carol->WaitFor("Carol(您)")) << carol->Output();
    ASSERT_TRUE(bob.WaitFor("chat: -->> 新成员 Carol 加入会话."));
    ASSERT_TRUE(host.WaitFor("chat: -->> Carol 加入会话")) << host.Output();

    host.Command("say 大家好, 我是组长");
    ASSERT_TRUE(bob.WaitFor("<Ann> 对大家说: 大家好, 我是组长"));
    bob.Command("say hello from bob");
    ASSERT_TRUE(host.WaitFor("<Bob> 对大家说: hello from bob"));
    ASSERT_TRUE(bob.WaitFor("<你> 对大家说: hello from bob"));
    bob.Command("notice 明天开会");
    ASSERT_TRUE(bob.WaitFor("notice: Massage: Bob: 明天开会")) << bob.Output();
    ASSERT_TRUE(host.WaitFor("notice: Massage: Bob: 明天开会")) << host.Output();
    host.Command("notice leader's notice");
    ASSERT_TRUE(bob.WaitFor("notice: Massage: Ann: leader's notice")) << bob.Output();
    bob.Command("rename Bobby");
    ASSERT_TRUE(host.WaitFor("chat: -->> Bob 改名为 'Bobby ' "));
    ASSERT_TRUE(bob.WaitFor("chat: -->> Bob 改名为 'Bobby ' "));
    bob.Command("sleep");
    ASSERT_TRUE(host.WaitFor("chat: -->> Bobby 休眠了."));
    ASSERT_TRUE(bob.WaitFor("chat: -->> Bobby 休眠了."));
    bob.Command("wake");
    ASSERT_TRUE(host.WaitFor("chat: -->> Bobby 苏醒了."));
    ASSERT_TRUE(bob.WaitFor("chat: -->> Bobby 苏醒了."));
    carol->Command("say bye");
    ASSERT_TRUE(bob.WaitFor("<Carol> 对大家说: bye"));
    carol->Command("leave");
    EXPECT_EQ(carol->WaitForExit(), 0);
    ASSERT_TRUE(host.WaitFor("chat: -->> 成员 Carol 离开会话."));
    ASSERT_TRUE(bob.WaitFor("chat: -->> 成员 Carol 离开会话."));
    bob.Command("say last words");
    ASSERT_TRUE(host.WaitFor("<Bobby> 对大家说: last words"));
    ASSERT_TRUE(bob.WaitFor("<你> 对大家说: last words"));

    host.Command("leave");
    EXPECT_EQ(host.WaitForExit(), 0);
    ASSERT_TRUE(bob.WaitFor("chat: -->> 组长已经关闭会话。所有人都已经退出了。"));
    bob.CloseInput();
    EXPECT_EQ(bob.WaitForExit(), 0);
}

// The recordings of a live session replay, without their delays, to the same chat lines and
// notices the leader and the member saw live, and end with both end boxes; a transcript of the
// replay holds the banner and the lines in GBK; a damaged copy opens nothing.
TEST(ReplayE2E, RecordingsReplayWhatTheLivePeersShowed) {
    const test::TempDir dir;
    LiveSession live;
    RunSession(dir, live);
    if (HasFatalFailure())
        return;

    int code = -1;
    auto hostReplay = Replay({"replay", dir.File("host.prs")}, code);
    EXPECT_EQ(code, 0) << hostReplay->Output();
    EXPECT_EQ(RecordedChat(*hostReplay), RecordedChat(*live.host)) << hostReplay->Output();
    EXPECT_EQ(RecordedChat(*hostReplay).size(), 8u);
    EXPECT_EQ(Notices(*hostReplay), Notices(*live.host)) << hostReplay->Output();
    EXPECT_TRUE(hostReplay->Printed("chat: -->> 新成员 Bob 加入会话."));
    EXPECT_TRUE(hostReplay->Printed("members: 全体, Ann(组长), Bobby"));
    EXPECT_TRUE(hostReplay->Printed("box: Kolvena | 会话记录播放结束."));
    EXPECT_TRUE(hostReplay->Printed("box: 播放结束 | 当前会话记录已经重放结束."));

    // A member sees the same lines live and replayed, from the welcome to the last word.
    auto bobReplay = Replay({"replay", dir.File("bob.prs")}, code);
    EXPECT_EQ(code, 0) << bobReplay->Output();
    const auto bobLive = ChatBetween(*live.bob, "成功传回会话成员数据", "last words");
    EXPECT_EQ(bobLive.size(), 11u) << live.bob->Output();
    EXPECT_EQ(ChatBetween(*bobReplay, "成功传回会话成员数据", "last words"), bobLive)
        << bobReplay->Output();
    EXPECT_EQ(RecordedChat(*bobReplay), RecordedChat(*live.bob));
    EXPECT_EQ(Notices(*bobReplay), Notices(*live.bob)) << bobReplay->Output();
    EXPECT_TRUE(bobReplay->Printed("box: 播放结束 | 当前会话记录已经重放结束."));

    // The transcript prints the replay too, then writes the replayed session in GBK.
    const std::string text = dir.File("host.txt");
    auto transcript = Replay({"transcript", dir.File("host.prs"), text}, code);
    EXPECT_EQ(code, 0) << transcript->Output();
    EXPECT_EQ(RecordedChat(*transcript), RecordedChat(*live.host));
    const std::string bytes = test::ReadFileBytes(text);
    const std::string banner = ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n");
    EXPECT_EQ(bytes.substr(0, banner.size()), banner);
    EXPECT_TRUE(Contains(bytes, ToGbk("//会话主题: 测试会话 \r\n")));
    EXPECT_TRUE(Contains(bytes, ToGbk("Bob: 明天开会")));
    for (const std::string& line : RecordedChat(*live.host))
        EXPECT_TRUE(Contains(bytes, ToGbk(line.substr(6)) + "\r\n")) << line;
    EXPECT_FALSE(Contains(bytes, "测试会话")) << "UTF-8 in the transcript";

    // Cut off inside its end mark, the copy is malformed: the box, exit 1, nothing replayed, and
    // no transcript written.
    const std::string recording = test::ReadFileBytes(dir.File("host.prs"));
    ASSERT_GT(recording.size(), 70u);
    test::WriteFileBytes(dir.File("cut.prs"), recording.substr(0, recording.size() - 3));
    auto cutReplay = Replay({"replay", dir.File("cut.prs")}, code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(cutReplay->Printed("box: Kolvena | 文件格式错误.")) << cutReplay->Output();
    EXPECT_TRUE(RecordedChat(*cutReplay).empty()) << cutReplay->Output();
    EXPECT_FALSE(cutReplay->Printed("成功载入记录"));
    auto cutTranscript = Replay({"transcript", dir.File("cut.prs"), dir.File("cut.txt")}, code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(cutTranscript->Printed("box: Kolvena | 文件格式错误."));
    EXPECT_FALSE(std::filesystem::exists(dir.File("cut.txt")));
}

// Files that cannot be used give a box and exit 1; a wrong command line gives the usage.
TEST(ReplayE2E, UnusableFilesAndArguments) {
    const test::TempDir dir;
    int code = -1;
    auto missing = Replay({"replay", dir.File("none.prs")}, code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(missing->Printed("box: Kolvena | 无法打开文件: ")) << missing->Output();

    // An empty recording is valid: it goes straight to its end.
    test::FakeClock clock;
    test::ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    const std::string empty = dir.File("empty.prs");
    {
        std::ofstream out(empty, std::ios::binary);
        ASSERT_TRUE(log.WriteLog(out));
    }
    auto played = Replay({"replay", empty}, code);
    EXPECT_EQ(code, 0) << played->Output();
    EXPECT_TRUE(played->Printed("box: 播放结束 | 当前会话记录已经重放结束.")) << played->Output();

    // An empty session leaves nothing to write: the transcript command refuses, as in the
    // window, and nothing is written.
    auto nothing = Replay({"transcript", empty, dir.File("none.txt")}, code);
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(nothing->Printed("box: Kolvena | 没有任何会话记录.")) << nothing->Output();
    EXPECT_FALSE(std::filesystem::exists(dir.File("none.txt")));

    for (const std::vector<std::string>& arguments : {std::vector<std::string>{"replay"},
                                                      {"replay", "a.prs", "b.txt"},
                                                      {"transcript", "a.prs"},
                                                      {"transcript", "a.prs", ""}}) {
        auto wrong = Replay(arguments, code);
        EXPECT_EQ(code, 2) << arguments.size();
        EXPECT_TRUE(wrong->Printed("kolvena-peer transcript FILE.prs OUT.txt"));
    }
}

} // namespace
} // namespace kolvena
