#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <sys/types.h>

#include "peer_process.h"
#include "record/record_test_util.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using test::PeerProcess;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

std::string Refused(const std::string& who) {
    return "成员 '" + who + "' 拒绝接受你的发送文件, 无法传输文件.";
}

// The names in a folder, sorted: a partial or stray file shows.
Lines Names(const fs::path& dir) {
    Lines out;
    for (const auto& entry : fs::directory_iterator(dir))
        out.push_back(entry.path().filename().string());
    std::ranges::sort(out);
    return out;
}

// The lines with the prefix that the peer printed after its first `mark` lines.
Lines After(const PeerProcess& peer, std::size_t mark, const std::string& prefix) {
    Lines out;
    const Lines all = peer.Lines("");
    for (std::size_t i = mark; i < all.size(); ++i)
        if (all[i].rfind(prefix, 0) == 0)
            out.push_back(all[i]);
    return out;
}

// One session for every test, on 127.0.0.1 and one free transfer port: the leader Ann and
// members Bob and Carol save files each in their own folder; Dave refuses them with
// "--accept-files no", Eve by having no such flag.
class TransferE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = std::make_unique<test::TempDir>();
        const std::uint16_t port = test::FreePort();
        const std::string transferPort = std::to_string(test::FreePort());
        const std::pair<const char*, const char*> who[] = {
            {"Ann", "dir"}, {"Bob", "dir"}, {"Carol", "dir"}, {"Dave", "no"}, {"Eve", nullptr}};
        std::string members = "members: 全体";
        for (const auto& [name, files] : who) {
            fs::create_directories(Dir(name));
            std::vector<std::string> args = {"--transfer-port", transferPort};
            if (files)
                args.insert(args.end(), {"--accept-files",
                                         files == std::string("dir") ? Dir(name).string() : files});
            members += std::string(", ") + name + (peers.empty() ? "(组长)" : "");
            auto& peer = peers[name];
            peer = peers.size() == 1 ? PeerProcess::Host(port, name, args)
                                     : PeerProcess::Join(port, name, args);
            ASSERT_TRUE(peer->WaitFor(peers.size() == 1 ? "等待客人登陆中" : members + "(您)"))
                << peer->Output();
        }
        for (const char* name : {"Ann", "Bob", "Carol", "Dave"})
            ASSERT_TRUE(P(name).WaitFor("Eve 加入会话")) << P(name).Output();
        fs::create_directories(Dir("source"));
    }
    static void TearDownTestSuite() {
        peers.clear();
        root.reset();
    }

    static fs::path Dir(const std::string& name) { return root->File(name); }
    static PeerProcess& P(const std::string& name) { return *peers.at(name); }
    // Bytes that differ from one offset to the next, so a chunk stored at the wrong place shows.
    static fs::path Source(const std::string& name, std::size_t size) {
        std::string bytes(size, '\0');
        std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(size);
        for (char& c : bytes) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = static_cast<char>(x);
        }
        test::WriteFileBytes((Dir("source") / name).string(), bytes);
        return Dir("source") / name;
    }
    static bool Done(PeerProcess& peer, const fs::path& file,
                     std::chrono::milliseconds limit = 10s) {
        return peer.WaitFor("transfer: done " + file.string(), limit);
    }

    static inline std::unique_ptr<test::TempDir> root;
    static inline std::map<std::string, std::unique_ptr<PeerProcess>> peers;
};

// Every size around the chunk boundaries arrives byte for byte, whichever way it goes:
// leader to member, member to leader, and member to member through the leader.
TEST_F(TransferE2E, FilesArriveIntactInEveryDirection) {
    const struct {
        const char *from, *to, *index; // the recipient's ActiveIndex
    } routes[] = {{"Ann", "Bob", "2"}, {"Bob", "Ann", "1"}, {"Bob", "Carol", "3"}};
    const std::size_t sizes[] = {0, 1, 10239, 10240, 10241, 20480, 25000};
    for (const std::size_t size : sizes)
        for (const auto& r : routes) {
            const std::string name = std::string(r.from) + "-" + r.to + "-" + std::to_string(size);
            SCOPED_TRACE(name);
            const fs::path source = Source(name, size);
            P(r.from).Command("offer " + std::string(r.index) + " " + source.string());
            ASSERT_TRUE(Done(P(r.to), Dir(r.to) / name)) << P(r.to).Output();
            ASSERT_TRUE(Done(P(r.from), source)) << P(r.from).Output();
            EXPECT_EQ(test::ReadFileBytes((Dir(r.to) / name).string()),
                      test::ReadFileBytes(source.string()));
        }
    // The recipient was asked each time, and saw the completion box.
    EXPECT_EQ(P("Carol").Lines("box: 是否接受文件 | 成员' Bob '请求向您发送文件 ").size(),
              std::size(sizes));
    EXPECT_TRUE(P("Carol").Printed("box: Kolvena | 文件传输完毕! 请选择保存路径."));
    EXPECT_TRUE(P("Bob").Printed("progress: Ann-Bob-25000      文件大小:25000字节"));
    EXPECT_TRUE(P("Bob").Printed("progress: 3/3 100%"));
    EXPECT_TRUE(P("Ann").Printed("box: Kolvena | 文件传输完毕!"));
}

// Refusing members tell the offerer, from the leader and through it; the offer command's own
// refusals end the offer at once; nothing arrives.
TEST_F(TransferE2E, RefusalsReachTheOfferer) {
    const fs::path source = Source("refused.bin", 100);
    const struct {
        const char *from, *index, *to, *shown;
    } cases[] = {
        {"Ann", "4", "Dave",
         "box: 是否接受文件 | 成员' Ann '请求向您发送文件 refused.bin (100字节), 接受文件吗?  -> "
         "No"},
        {"Bob", "5", "Eve", "-> No"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        P(c.from).Command("offer " + std::string(c.index) + " " + source.string());
        EXPECT_TRUE(P(c.to).WaitFor(c.shown)) << P(c.to).Output();
        EXPECT_TRUE(P(c.from).WaitFor("box: 无法传输文件 | " + Refused(c.to)));
        EXPECT_TRUE(P(c.from).WaitFor("transfer: " + Refused(c.to))) << P(c.from).Output();
    }
    const std::size_t mark = P("Ann").Lines("").size();
    for (const char* index : {"0", "1", "9"})
        P("Ann").Command("offer " + std::string(index) + " " + source.string());
    ASSERT_TRUE(P("Ann").WaitFor("error: no member 9")) << P("Ann").Output();
    EXPECT_EQ(After(P("Ann"), mark, "box: 无法传输文件"),
              Lines(2, "box: 无法传输文件 | 传输文件目标不正确."));
    EXPECT_EQ(After(P("Ann"), mark, "transfer: "), Lines(2, "transfer: 传输文件目标不正确."));
    for (const char* name : {"Dave", "Eve"}) {
        EXPECT_TRUE(fs::is_empty(Dir(name))) << name;
        EXPECT_FALSE(P(name).Printed("transfer: done")) << name;
    }
}

// A recipient that is busy refuses a second offer at once without asking, and the first
// transfer goes on undisturbed. The first offerer is held stopped while the second offer is
// made, so the overlap does not depend on the machine's speed.
TEST_F(TransferE2E, OfferWhileBusyIsRefusedAndTheRunningTransferCompletes) {
    const fs::path big = Source("big.bin", 30u << 20);
    const fs::path small = Source("small.bin", 5000);
    const std::size_t mark = P("Carol").Lines("").size();
    P("Bob").Command("offer 3 " + big.string());
    ASSERT_TRUE(P("Carol").WaitFor("请求向您发送文件 big.bin")) << P("Carol").Output();
    ::kill(P("Bob").Pid(), SIGSTOP);
    P("Ann").Command("offer 3 " + small.string());
    EXPECT_TRUE(P("Carol").WaitFor("box: Kolvena v1.0 | 目前正在进行文件传输."));
    EXPECT_TRUE(P("Ann").WaitFor("transfer: " + Refused("Carol"))) << P("Ann").Output();
    ::kill(P("Bob").Pid(), SIGCONT);

    ASSERT_TRUE(Done(P("Carol"), Dir("Carol") / "big.bin", 15s)) << P("Carol").Output();
    EXPECT_TRUE(Done(P("Bob"), big)) << P("Bob").Output();
    EXPECT_TRUE(test::ReadFileBytes((Dir("Carol") / "big.bin").string()) ==
                test::ReadFileBytes(big.string()));
    EXPECT_FALSE(fs::exists(Dir("Carol") / "small.bin"));
    EXPECT_EQ(After(P("Carol"), mark, "box: 是否接受文件").size(), 1u);
    // Progress is shown, but not once per chunk.
    EXPECT_LT(After(P("Carol"), mark, "progress: ").size(), 200u);

    // Once idle, the recipient takes offers again.
    P("Ann").Command("offer 3 " + small.string());
    EXPECT_TRUE(Done(P("Carol"), Dir("Carol") / "small.bin")) << P("Carol").Output();
}

// Either side can give up mid-stream: the recipient answers the next chunk with its refusal,
// the offerer sends its abort byte instead of the next chunk; nothing is saved either way.
// The other side is held stopped meanwhile, so the give-up always lands mid-transfer.
TEST_F(TransferE2E, GivingUpEndsBothSidesAndSavesNothing) {
    const fs::path big = Source("given-up.bin", 30u << 20);
    const Lines before = Names(Dir("Carol"));
    const struct {
        const char *quitter, *other, *told, *quitterEnd;
    } cases[] = {{"Carol", "Bob", "对方已经中断了传输.", "transfer: given up"},
                 {"Bob", "Carol", "对方已经终止传输.", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quitter);
        const std::size_t mark = P("Carol").Lines("").size();
        P("Bob").Command("offer 3 " + big.string());
        ASSERT_TRUE(P(c.quitter).WaitFor("progress: 1/3072 ")) << P(c.quitter).Output();
        ::kill(P(c.other).Pid(), SIGSTOP);
        P(c.quitter).Command("giveup");
        EXPECT_TRUE(P(c.quitter).WaitFor("box: 终止文件传输 | 您确认要终止传输文件? -> Yes"));
        ::kill(P(c.other).Pid(), SIGCONT);
        EXPECT_TRUE(P(c.other).WaitFor(std::string("box: Kolvena | ") + c.told))
            << P(c.other).Output();
        EXPECT_TRUE(P(c.other).WaitFor(std::string("transfer: ") + c.told));
        if (c.quitterEnd) {
            EXPECT_TRUE(P(c.quitter).WaitFor(c.quitterEnd)) << P(c.quitter).Output();
        }
        EXPECT_EQ(After(P("Carol"), mark, "transfer: done"), Lines{});
        EXPECT_EQ(After(P("Carol"), mark, "progress: 3072/3072"), Lines{});
        EXPECT_EQ(Names(Dir("Carol")), before);
    }
    P("Carol").Command("giveup");
    EXPECT_TRUE(P("Carol").WaitFor("error: no transfer running"));
}

} // namespace
} // namespace kolvena
