#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/types.h>

#include "peer_process.h"
#include "record/record_test_util.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using test::PeerProcess;
using namespace std::chrono_literals;

constexpr char kRefusedByBob[] = "成员 'Bob' 拒绝接受你的发送文件, 无法传输文件.";
constexpr char kRefusedByCarol[] = "成员 'Carol' 拒绝接受你的发送文件, 无法传输文件.";

// Bytes that differ from one offset to the next, so a chunk stored at the wrong place shows.
void WriteFile(const fs::path& path, std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(size);
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
}

std::string ReadAll(const fs::path& path) {
    return test::ReadFileBytes(path.string());
}

// A leader and two members on 127.0.0.1, all on one free transfer port; each of them that
// accepts files saves them in its own folder.
struct Session {
    Session(const std::string& bobFiles, const std::string& carolFiles) {
        for (const fs::path& d : {annDir, bobDir, carolDir, sourceDir})
            fs::create_directories(d);
        const std::uint16_t port = test::FreePort();
        const std::string transferPort = std::to_string(test::FreePort());
        auto files = [&](const std::string& choice, const fs::path& dir) {
            std::vector<std::string> args = {"--transfer-port", transferPort};
            if (!choice.empty())
                args.insert(args.end(),
                            {"--accept-files", choice == "dir" ? dir.string() : choice});
            return args;
        };
        ann = PeerProcess::Host(port, "Ann", files("dir", annDir));
        EXPECT_TRUE(ann->WaitFor("等待客人登陆中")) << ann->Output();
        bob = PeerProcess::Join(port, "Bob", files(bobFiles, bobDir));
        EXPECT_TRUE(bob->WaitFor("members: 全体, Ann(组长), Bob(您)")) << bob->Output();
        carol = PeerProcess::Join(port, "Carol", files(carolFiles, carolDir));
        EXPECT_TRUE(carol->WaitFor("members: 全体, Ann(组长), Bob, Carol(您)")) << carol->Output();
        EXPECT_TRUE(bob->WaitFor("新成员 Carol 加入会话.")) << bob->Output();
    }

    fs::path Source(const std::string& name, std::size_t size) const {
        WriteFile(sourceDir / name, size);
        return sourceDir / name;
    }

    test::TempDir root;
    fs::path annDir = root.File("ann"), bobDir = root.File("bob"), carolDir = root.File("carol"),
             sourceDir = root.File("source");
    std::unique_ptr<PeerProcess> ann, bob, carol;
};

// Every size around the chunk boundaries arrives byte for byte, whichever way it goes:
// leader to member, member to leader, and member to member through the leader.
TEST(TransferE2E, FilesArriveIntactInEveryDirection) {
    Session s("dir", "dir");
    struct Route {
        const char* tag;
        PeerProcess* from;
        const char* to; // the recipient's ActiveIndex
        PeerProcess* recipient;
        fs::path dir;
    };
    const Route routes[] = {{"ann-bob", s.ann.get(), "2", s.bob.get(), s.bobDir},
                            {"bob-ann", s.bob.get(), "1", s.ann.get(), s.annDir},
                            {"bob-carol", s.bob.get(), "3", s.carol.get(), s.carolDir}};
    for (const std::size_t size : {0u, 1u, 10240u, 20480u, 25000u}) {
        for (const Route& route : routes) {
            SCOPED_TRACE(std::string(route.tag) + " " + std::to_string(size));
            const std::string name = std::string(route.tag) + "-" + std::to_string(size) + ".bin";
            const fs::path source = s.Source(name, size);
            route.from->Command("offer " + std::string(route.to) + " " + source.string());
            ASSERT_TRUE(route.recipient->WaitFor("transfer: done " + (route.dir / name).string()))
                << route.recipient->Output();
            ASSERT_TRUE(route.from->WaitFor("transfer: done " + source.string()))
                << route.from->Output();
            EXPECT_EQ(ReadAll(route.dir / name), ReadAll(source));
        }
    }
    // The recipient was asked each time, and saw the completion box.
    EXPECT_EQ(s.carol->Lines("box: 是否接受文件 | 成员' Bob '请求向您发送文件 ").size(), 5u);
    EXPECT_TRUE(s.carol->Printed("box: Kolvena | 文件传输完毕! 请选择保存路径."));
    EXPECT_TRUE(s.bob->Printed("progress: ann-bob-25000.bin      文件大小:25000字节"));
    EXPECT_TRUE(s.bob->Printed("progress: 3/3 100%"));
    EXPECT_TRUE(s.ann->Printed("box: Kolvena | 文件传输完毕!"));
}

// "--accept-files no" and no flag at all both refuse: the offerer is told, nothing arrives,
// and the offer command's own refusals end the offer at once.
TEST(TransferE2E, RefusalsReachTheOfferer) {
    Session s("no", "");
    const fs::path source = s.Source("refused.bin", 100);
    s.ann->Command("offer 2 " + source.string());
    EXPECT_TRUE(s.bob->WaitFor("box: 是否接受文件 | 成员' Ann '请求向您发送文件 refused.bin "
                               "(100字节), 接受文件吗?  -> No"))
        << s.bob->Output();
    EXPECT_TRUE(s.ann->WaitFor(std::string("box: 无法传输文件 | ") + kRefusedByBob))
        << s.ann->Output();
    EXPECT_TRUE(s.ann->WaitFor(std::string("transfer: ") + kRefusedByBob));

    s.bob->Command("offer 3 " + source.string());
    EXPECT_TRUE(s.carol->WaitFor("-> No")) << s.carol->Output();
    EXPECT_TRUE(s.bob->WaitFor(std::string("transfer: ") + kRefusedByCarol)) << s.bob->Output();

    s.ann->Command("offer 0 " + source.string());
    EXPECT_TRUE(s.ann->WaitFor("box: 无法传输文件 | 传输文件目标不正确.")) << s.ann->Output();
    EXPECT_TRUE(s.ann->WaitFor("transfer: 传输文件目标不正确."));
    s.ann->Command("offer 1 " + source.string());
    EXPECT_TRUE(s.ann->WaitFor("transfer: 传输文件目标不正确."));
    s.ann->Command("offer 9 " + source.string());
    EXPECT_TRUE(s.ann->WaitFor("error: no member 9"));

    EXPECT_TRUE(fs::is_empty(s.bobDir));
    EXPECT_TRUE(fs::is_empty(s.carolDir));
    EXPECT_FALSE(s.bob->Printed("transfer: done"));
}

// A recipient that is busy refuses a second offer at once without asking, and the first
// transfer goes on undisturbed. The first offerer is held stopped while the second offer is
// made, so the overlap does not depend on the machine's speed.
TEST(TransferE2E, OfferWhileBusyIsRefusedAndTheRunningTransferCompletes) {
    Session s("dir", "dir");
    const pid_t bobPid = s.bob->Pid();
    const fs::path big = s.Source("big.bin", 30u << 20);
    const fs::path small = s.Source("small.bin", 5000);

    s.bob->Command("offer 3 " + big.string());
    ASSERT_TRUE(s.carol->WaitFor("请求向您发送文件 big.bin")) << s.carol->Output();
    ::kill(bobPid, SIGSTOP);
    s.ann->Command("offer 3 " + small.string());
    EXPECT_TRUE(s.carol->WaitFor("box: Kolvena v1.0 | 目前正在进行文件传输.")) << s.carol->Output();
    EXPECT_TRUE(s.ann->WaitFor(std::string("transfer: ") + kRefusedByCarol)) << s.ann->Output();
    ::kill(bobPid, SIGCONT);

    ASSERT_TRUE(s.carol->WaitFor("transfer: done " + (s.carolDir / "big.bin").string(), 15s))
        << s.carol->Output();
    EXPECT_TRUE(s.bob->WaitFor("transfer: done " + big.string())) << s.bob->Output();
    EXPECT_TRUE(ReadAll(s.carolDir / "big.bin") == ReadAll(big));
    EXPECT_FALSE(fs::exists(s.carolDir / "small.bin"));
    EXPECT_EQ(s.carol->Lines("box: 是否接受文件").size(), 1u);
    // Progress is shown, but not once per chunk.
    EXPECT_LT(s.carol->Lines("progress: ").size(), 200u);

    // Once idle, the recipient takes offers again.
    s.ann->Command("offer 3 " + small.string());
    EXPECT_TRUE(s.carol->WaitFor("transfer: done " + (s.carolDir / "small.bin").string()))
        << s.carol->Output();
}

// Either side can give up mid-stream: the recipient answers the next chunk with its refusal,
// the offerer sends its abort byte instead of the next chunk; nothing is saved either way.
// The other side is held stopped meanwhile, so the give-up always lands mid-transfer.
TEST(TransferE2E, GivingUpEndsBothSidesAndSavesNothing) {
    Session s("dir", "dir");
    const pid_t bobPid = s.bob->Pid();
    const pid_t carolPid = s.carol->Pid();
    const fs::path big = s.Source("big.bin", 30u << 20);

    s.bob->Command("offer 3 " + big.string());
    ASSERT_TRUE(s.carol->WaitFor("progress: 1/3072 ")) << s.carol->Output();
    ::kill(bobPid, SIGSTOP);
    s.carol->Command("giveup");
    EXPECT_TRUE(s.carol->WaitFor("box: 终止文件传输 | 您确认要终止传输文件? -> Yes"));
    ::kill(bobPid, SIGCONT);
    EXPECT_TRUE(s.bob->WaitFor("box: Kolvena | 对方已经中断了传输.")) << s.bob->Output();
    EXPECT_TRUE(s.bob->WaitFor("transfer: 对方已经中断了传输."));
    EXPECT_TRUE(s.carol->WaitFor("transfer: given up")) << s.carol->Output();
    EXPECT_FALSE(s.carol->Printed("progress: 3072/3072"));
    EXPECT_TRUE(fs::is_empty(s.carolDir));

    s.bob->Command("offer 3 " + big.string());
    ASSERT_TRUE(s.bob->WaitFor("progress: 1/3072 ")) << s.bob->Output();
    ::kill(carolPid, SIGSTOP);
    s.bob->Command("giveup");
    EXPECT_TRUE(s.bob->WaitFor("您确认要终止传输文件? -> Yes"));
    ::kill(carolPid, SIGCONT);
    EXPECT_TRUE(s.carol->WaitFor("box: Kolvena | 对方已经终止传输.")) << s.carol->Output();
    EXPECT_TRUE(s.carol->WaitFor("transfer: 对方已经终止传输."));
    EXPECT_FALSE(s.carol->Printed("transfer: done"));
    EXPECT_TRUE(fs::is_empty(s.carolDir));

    s.carol->Command("giveup");
    EXPECT_TRUE(s.carol->WaitFor("error: no transfer running"));
}

} // namespace
} // namespace kolvena
