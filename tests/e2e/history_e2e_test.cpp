// Kept history end to end: a host and a member with --history, the host killed mid-session,
// and the peer's history and find over what they kept.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "peer_process.h"
#include "protocol/packets.h"
#include "record/event_log.h"
#include "record/history_files.h"
#include "record/record_test_util.h"

namespace kolvena {
namespace {

using namespace std::chrono_literals;
using test::PeerProcess;
using Lines = std::vector<std::string>;

// The chat texts of the recording, read with the strict reader.
Lines KeptLines(const std::string& folder) {
    const std::vector<RecordingSummary> listed = ListRecordings(folder);
    EXPECT_EQ(listed.size(), 1u) << folder;
    Lines texts;
    if (listed.empty())
        return texts;
    std::ifstream in(listed[0].path, std::ios::binary);
    RecordingHeader header;
    std::vector<SessionEvent> events;
    EXPECT_TRUE(ReadRecordingFile(in, header, events)) << listed[0].path;
    for (const SessionEvent& event : events)
        if (const auto chat =
                event.kind == EventKind::EvChatLine ? ReadChat(event.data) : std::nullopt)
            texts.push_back(chat->text);
    return texts;
}

Lines RunPeer(const std::vector<std::string>& args, const std::string& prefix) {
    PeerProcess peer(args);
    EXPECT_EQ(peer.WaitForExit(10s), 0) << peer.Output();
    return peer.Lines(prefix);
}

TEST(HistoryE2E, KeptByHostAndMemberThroughAKillOfTheHost) {
    const test::TempDir dir;
    const std::string hostDir = dir.File("host"), memberDir = dir.File("member");
    const std::uint16_t port = test::FreePort();
    PeerProcess host(test::SessionArguments(true, port, "Ann", {"--history", hostDir}));
    ASSERT_TRUE(host.WaitFor("等待客人登陆中")) << host.Output();
    PeerProcess bob(test::SessionArguments(false, port, "Bob", {"--history", memberDir}));
    ASSERT_TRUE(bob.WaitFor("Bob(您)")) << bob.Output();
    // A busy first stretch, then more than the keeper's delay, then lines the kill may lose.
    for (int i = 0; i < 40; ++i)
        bob.Write("say early-" + std::to_string(i));
    ASSERT_TRUE(host.WaitFor("early-39")) << host.Output();
    std::this_thread::sleep_for(2600ms);
    for (int i = 0; i < 5; ++i)
        bob.Write("say late-" + std::to_string(i));
    ASSERT_TRUE(host.WaitFor("late-4"));
    host.Signal(SIGKILL);
    ASSERT_TRUE(bob.WaitFor("组长已经关闭会话")) << bob.Output();
    bob.CloseInput();
    EXPECT_EQ(bob.WaitForExit(10s), 0);

    const Lines kept = KeptLines(hostDir), member = KeptLines(memberDir);
    ASSERT_GE(kept.size(), 40u);
    for (int i = 0; i < 40; ++i)
        EXPECT_EQ(kept[i], "early-" + std::to_string(i));
    ASSERT_EQ(member.size(), 45u);
    EXPECT_EQ(member.back(), "late-4");

    const Lines listedHost = RunPeer({"history", hostDir}, "recording: ");
    const Lines listedMember = RunPeer({"history", memberDir}, "recording: ");
    ASSERT_EQ(listedHost.size(), 1u);
    ASSERT_EQ(listedMember.size(), 1u);
    const std::string name = ListRecordings(memberDir)[0].path;
    const std::string file = std::filesystem::path(name).filename().string();
    EXPECT_TRUE(file.ends_with("_测试会话.prs")) << file;
    EXPECT_TRUE(listedHost[0].ends_with("\tunfinished")) << listedHost[0];
    // Bob, the leader and the user; the Welcome's notice and the two after it; the events:
    // the Welcome, 45 lines and the end.
    EXPECT_TRUE(listedMember[0].starts_with("recording: " + file + "\t测试会话\t"))
        << listedMember[0];
    EXPECT_TRUE(listedMember[0].ends_with("\t2\t45\t3\t47\tended")) << listedMember[0];

    const Lines found = RunPeer({"find", memberDir, "EARLY-3"}, "");
    ASSERT_EQ(found.size(), 12u) << test::Contains(found.back(), "find");
    EXPECT_TRUE(found[0].starts_with("match: " + file + "\t5\t")) << found[0];
    EXPECT_TRUE(found[0].ends_with("\tBob: early-3")) << found[0];
    EXPECT_EQ(found.back(), "find: 11 matches");
}

// A history folder that cannot be made: told once, the session runs, and the recording is still
// saved on leaving.
TEST(HistoryE2E, AnUnwritableFolderIsToldOnceAndTheSessionRuns) {
    const test::TempDir dir;
    test::WriteFileBytes(dir.File("file"), "not a folder");
    PeerProcess host(test::SessionArguments(
        true, test::FreePort(), "Ann",
        {"--history", dir.File("file/history"), "--record", dir.File("saved.prs")}));
    ASSERT_TRUE(host.WaitFor("无法创建文件: " + dir.File("file/history/"))) << host.Output();
    host.Write("say still here");
    ASSERT_TRUE(host.WaitFor("still here"));
    EXPECT_EQ(host.Finish(10s), "");
    EXPECT_EQ(ReadRecordingSummary(dir.File("saved.prs")).status, RecordingStatus::Ended);
    std::size_t told = 0;
    for (const std::string& line : host.Lines("box: "))
        told += test::Contains(line, "无法创建文件") ? 1 : 0;
    EXPECT_EQ(told, 1u) << host.Output();
}

} // namespace
} // namespace kolvena
