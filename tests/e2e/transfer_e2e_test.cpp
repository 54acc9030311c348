#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <set>

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

// The files in a folder: a partial or stray file shows.
std::set<fs::path> Files(const fs::path& dir) {
    return {fs::directory_iterator(dir), fs::directory_iterator()};
}

// The lines with the prefix that the peer printed after its first `mark` lines.
Lines After(const PeerProcess& peer, std::size_t mark, const std::string& prefix) {
    Lines out = peer.Lines("");
    out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(mark));
    std::erase_if(out, [&prefix](const std::string& line) { return !line.starts_with(prefix); });
    return out;
}

// One session for every test, with one transfer port: Ann (the leader), Bob and Carol save files
// each in their own folder; Dave refuses them with "--accept-files no", Eve by having no such flag.
class TransferE2E : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root = std::make_unique<test::TempDir>();
        const std::string transferPort = std::to_string(test::FreePort());
        std::vector<test::Who> who;
        for (const char* name : NAMES) {
            fs::create_directories(Dir(name));
            who.push_back({name, {"--transfer-port", transferPort, "--accept-files", Dir(name)}});
        }
        who[3].second.back() = "no";
        who[4].second.resize(2);
        peers = test::StartSession(test::FreePort(), who);
        ASSERT_EQ(peers.size(), std::size(NAMES));
    }

    static fs::path Dir(const std::string& name) { return root->File(name); }
    static PeerProcess& P(const std::string& name) {
        return *peers.at(std::ranges::find(NAMES, name) - std::begin(NAMES));
    }
    // Bytes that differ from one offset to the next, so a chunk stored at the wrong place shows.
    static fs::path Source(const std::string& name, std::size_t size) {
        std::string bytes(size, '\0');
        std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(size);
        for (char& c : bytes)
            c = static_cast<char>((x ^= x << 13, x ^= x >> 17, x ^= x << 5));
        test::WriteFileBytes(root->File(name), bytes);
        return root->File(name);
    }
    static bool Done(PeerProcess& peer, const fs::path& file,
                     std::chrono::milliseconds limit = 10s) {
        return peer.WaitFor("transfer: done " + file.string(), limit);
    }

    static constexpr const char* NAMES[] = {"Ann", "Bob", "Carol", "Dave", "Eve"};
    // Destroyed at exit in the reverse order: the peers end before their folders go.
    static inline std::unique_ptr<test::TempDir> root;
    static inline std::vector<std::unique_ptr<PeerProcess>> peers;
};

// Every size around the chunk boundaries arrives intact, to and from the leader and through it.
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
            EXPECT_EQ(test::ReadFileBytes(Dir(r.to) / name), test::ReadFileBytes(source));
        }
    EXPECT_EQ(P("Carol").Lines("box: 是否接受文件 | 成员' Bob '请求向您发送文件 ").size(),
              std::size(sizes));
    EXPECT_TRUE(P("Carol").Printed("box: Kolvena | 文件传输完毕! 请选择保存路径."));
    EXPECT_TRUE(P("Bob").Printed("progress: Ann-Bob-25000      文件大小:25000字节"));
    EXPECT_TRUE(P("Bob").Printed("progress: 3/3 100%"));
    EXPECT_TRUE(P("Ann").Printed("box: Kolvena | 文件传输完毕!"));
}

// Refusals reach the offerer, as do the offer command's own; nothing arrives.
TEST_F(TransferE2E, RefusalsReachTheOfferer) {
    const fs::path source = Source("refused.bin", 100);
    const struct {
        const char *from, *index, *to;
    } cases[] = {{"Ann", "4", "Dave"}, {"Bob", "5", "Eve"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        P(c.from).Command("offer " + std::string(c.index) + " " + source.string());
        EXPECT_TRUE(P(c.to).WaitFor(std::string("box: 是否接受文件 | 成员' ") + c.from +
                                    " '请求向您发送文件 refused.bin (100字节), 接受文件吗?  -> No"))
            << P(c.to).Output();
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

// A busy recipient refuses a second offer without asking; the first goes on. Stopping the first
// offerer meanwhile makes the overlap independent of the machine's speed.
TEST_F(TransferE2E, OfferWhileBusyIsRefusedAndTheRunningTransferCompletes) {
    const fs::path big = Source("big.bin", 30u << 20);
    const fs::path small = Source("small.bin", 5000);
    const std::size_t mark = P("Carol").Lines("").size();
    P("Bob").Command("offer 3 " + big.string());
    ASSERT_TRUE(P("Carol").WaitFor("请求向您发送文件 big.bin")) << P("Carol").Output();
    P("Bob").Signal(SIGSTOP);
    P("Ann").Command("offer 3 " + small.string());
    EXPECT_TRUE(P("Carol").WaitFor("box: Kolvena v1.0 | 目前正在进行文件传输."));
    EXPECT_TRUE(P("Ann").WaitFor("transfer: " + Refused("Carol"))) << P("Ann").Output();
    P("Bob").Signal(SIGCONT);

    ASSERT_TRUE(Done(P("Carol"), Dir("Carol") / "big.bin", 15s)) << P("Carol").Output();
    EXPECT_TRUE(Done(P("Bob"), big)) << P("Bob").Output();
    EXPECT_TRUE(test::ReadFileBytes(Dir("Carol") / "big.bin") == test::ReadFileBytes(big));
    EXPECT_FALSE(fs::exists(Dir("Carol") / "small.bin"));
    EXPECT_EQ(After(P("Carol"), mark, "box: 是否接受文件").size(), 1u);
    EXPECT_LT(After(P("Carol"), mark, "progress: ").size(), 200u); // not one per chunk

    // Once idle, the recipient takes offers again.
    P("Ann").Command("offer 3 " + small.string());
    EXPECT_TRUE(Done(P("Carol"), Dir("Carol") / "small.bin")) << P("Carol").Output();
}

// Either side gives up mid-stream (the other held stopped, so it always lands mid-transfer);
// nothing is saved.
TEST_F(TransferE2E, GivingUpEndsBothSidesAndSavesNothing) {
    const fs::path big = Source("given-up.bin", 30u << 20);
    const auto before = Files(Dir("Carol"));
    const struct {
        const char *quitter, *other, *told, *quitterEnd;
    } cases[] = {{"Carol", "Bob", "对方已经中断了传输.", "transfer: given up"},
                 {"Bob", "Carol", "对方已经终止传输.", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.quitter);
        const std::size_t mark = P("Carol").Lines("").size();
        P("Bob").Command("offer 3 " + big.string());
        ASSERT_TRUE(P(c.quitter).WaitFor("progress: 1/3072 ")) << P(c.quitter).Output();
        P(c.other).Signal(SIGSTOP);
        P(c.quitter).Command("giveup");
        EXPECT_TRUE(P(c.quitter).WaitFor("box: 终止文件传输 | 您确认要终止传输文件? -> Yes"));
        P(c.other).Signal(SIGCONT);
        EXPECT_TRUE(P(c.other).WaitFor(std::string("box: Kolvena | ") + c.told))
            << P(c.other).Output();
        EXPECT_TRUE(P(c.other).WaitFor(std::string("transfer: ") + c.told));
        EXPECT_TRUE(!c.quitterEnd || P(c.quitter).WaitFor(c.quitterEnd)) << P(c.quitter).Output();
        EXPECT_EQ(After(P("Carol"), mark, "transfer: done"), Lines{});
        EXPECT_EQ(After(P("Carol"), mark, "progress: 3072/3072"), Lines{});
        EXPECT_EQ(Files(Dir("Carol")), before);
    }
    P("Carol").Command("giveup");
    EXPECT_TRUE(P("Carol").WaitFor("error: no transfer running"));
}

} // namespace
} // namespace kolvena
