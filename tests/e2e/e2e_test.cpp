// kolvena-peer processes end to end: sessions, recordings, transfers and a hostile member.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "peer_process.h"
#include "protocol/packets.h"
#include "record/record_test_util.h"
#include "session/buddy.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "support/raw_socket.h"

namespace kolvena {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using test::Contains;
using test::PeerProcess;
using test::SessionArguments;

// The first of `who` hosts, the others join in turn, awaited at themselves and every peer before;
// the peers that got in, up to the first that did not.
using Who = std::pair<std::string, Lines>;
std::vector<std::unique_ptr<PeerProcess>> StartSession(std::uint16_t port,
                                                       const std::vector<Who>& who) {
    std::vector<std::unique_ptr<PeerProcess>> peers;
    std::string members = "members: 全体";
    for (const auto& [name, extra] : who) {
        const bool host = peers.empty();
        members += ", " + name + (host ? "(组长)" : "");
        auto peer = std::make_unique<PeerProcess>(SessionArguments(host, port, name, extra));
        bool in = peer->WaitFor(host ? "等待客人登陆中" : members + "(您)");
        for (const auto& p : peers)
            in = in && p->WaitFor(name + " 加入会话");
        if (!in) {
            ADD_FAILURE() << name << " did not get in:\n" << peer->Output();
            break;
        }
        peers.push_back(std::move(peer));
    }
    return peers;
}

// Shown at start and again when a leaving peer clears its chat area.
const Lines BANNER = {
    "chat:             ================================================= ",
    "chat:             =       欢迎加入 网络会话(Kolvena) v1.0       = ",
    "chat:             ================================================= ", "chat: "};

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
        StartSession(port, {{"Ann", {"--record", dir.File("host.prs"), "--max", "3"}},
                            {"Bob", {"--record", dir.File("bob.prs")}},
                            {"Carol", {}},
                            {"Dave", {}}});
    ASSERT_EQ(peers.size(), 4u);
    PeerProcess &host = *peers[0], &bob = *peers[1];
    EXPECT_TRUE(host.Printed("当前会话人数已满，会话暂时对外关闭。"));
    EXPECT_FALSE(PeerProcess(SessionArguments(false, port, "Eve")).WaitFor("Eve(您)", 1500ms));
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
            peers[s.who - 'A']->Write(s.command);
        for (const std::string_view seer = s.seenBy; const char c : seer)
            ASSERT_TRUE(peers[c - 'A']->WaitFor(as(s.line, c - 'A'))) << peers[c - 'A']->Output();
    }
    for (const auto& p : peers) {
        p->CloseInput();
        EXPECT_EQ(p->WaitForExit(10s), 0);
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
        EXPECT_EQ(replay.WaitForExit(10s), 0) << replay.Output();
        EXPECT_EQ(Shown(replay, RECORDED), Shown(*live, RECORDED));
    }

    const std::string text = dir.File("host.txt");
    PeerProcess transcript({"transcript", dir.File("host.prs"), text});
    EXPECT_EQ(transcript.WaitForExit(10s), 0) << transcript.Output();
    const std::string bytes = test::ReadFileBytes(text);
    EXPECT_TRUE(bytes.starts_with(
        ToGbk("--欢迎使用 网络会话(Kolvena)--\r\n\r\n//会话主题: 测试会话 \r\n")));
    EXPECT_TRUE(Contains(bytes, ToGbk("Carol: meeting at noon")));
    for (const std::string& line : Shown(host, RECORDED))
        EXPECT_TRUE(!line.starts_with("chat: ") || Contains(bytes, ToGbk(line.substr(6)) + "\r\n"))
            << line;
}

// The leader removes, keeps out, lets in again and silences members; Carol and Dan connect
// from 127.0.0.2, so refusing 127.0.0.1 keeps out only the Bobs.
TEST(SessionE2E, LeaderRemovesRefusesAndMutesMembers) {
    const test::TempDir dir;
    const std::uint16_t port = test::FreePort();
    const Lines from2 = {"--bind", "127.0.0.2"};
    const auto peers = StartSession(
        port, {{"Ann", {"--record", dir.File("a.prs")}}, {"Bob", {}}, {"Carol", from2}});
    ASSERT_EQ(peers.size(), 3u);
    PeerProcess &ann = *peers[0], &carol = *peers[2];
    const auto join = [&](const std::string& name, const Lines& extra = {}) {
        return std::make_unique<PeerProcess>(SessionArguments(false, port, name, extra));
    };
    const std::string gone = "chat: -->> 组长已经关闭会话。所有人都已经退出了。";
    // The whisper, then the host going: on the member's own connection, in that order.
    const auto removed = [&](PeerProcess& bob, const std::string& command) {
        ann.Write(command);
        EXPECT_TRUE(bob.WaitFor("chat: <Ann> 对 <你> 说(悄悄话): 您已被组长请出会话。"));
        EXPECT_TRUE(bob.WaitFor(gone)) << bob.Output();
        EXPECT_TRUE(carol.WaitFor("chat: -->> 成员 Bob 离开会话."));
    };
    removed(*peers[1], "kick 2");
    EXPECT_TRUE(ann.WaitFor("chat: -->> 已将 Bob 请出会话"));
    auto again = join("Bob");
    ASSERT_TRUE(again->WaitFor("members: 全体, Ann(组长), Carol, Bob(您)")) << again->Output();
    removed(*again, "ban 3");
    auto refused = join("Bob");
    EXPECT_TRUE(ann.WaitFor("chat: -->> 已拒绝来自 127.0.0.1 的连接")) << ann.Output();
    EXPECT_TRUE(refused->WaitFor("chat: -->> 无法加入会话：会话已关闭、已满，或拒绝了您的连接。"));
    auto dan = join("Dan", from2);
    EXPECT_TRUE(dan->WaitFor("members: 全体, Ann(组长), Carol, Dan(您)")) << dan->Output();
    ann.Write("unban 127.0.0.1");
    auto back = join("Bob");
    EXPECT_TRUE(back->WaitFor("members: 全体, Ann(组长), Carol, Dan, Bob(您)")) << back->Output();
    EXPECT_TRUE(ann.WaitFor("-->> Dan 加入会话") && ann.WaitFor("-->> Bob 加入会话"));
    EXPECT_EQ(ann.Lines("chat: -->> 新成员登陆会话").size(), 5u); // the refused one never counted

    ann.Write("mute 2");
    EXPECT_TRUE(carol.WaitFor("chat: <Ann> 对 <你> 说(悄悄话): 您已被组长禁言。"));
    carol.Write("say quiet");
    carol.Write("rename Caro");
    EXPECT_TRUE(dan->WaitFor("chat: -->> Carol 改名为 'Caro ' ")) << dan->Output();
    ann.Write("unmute 2");
    EXPECT_TRUE(carol.WaitFor("chat: <Ann> 对 <你> 说(悄悄话): 组长已解除您的禁言。"));
    carol.Write("say loud");
    EXPECT_TRUE(dan->WaitFor("chat: <Caro> 对大家说: loud"));
    EXPECT_FALSE(dan->Printed("quiet") || ann.Printed("quiet") || back->Printed("quiet"));

    ann.Write("members-detail");
    ASSERT_TRUE(ann.WaitFor("member: Bob\t6\t")) << ann.Output();
    Lines rows;
    for (const std::string& line : ann.Lines("member: ")) {
        static const std::regex cells(R"(member: ([^\t]*)\t\d+\t([^\t]*)(\t[^\t]*){4}\t(.*))");
        std::smatch m;
        EXPECT_TRUE(std::regex_match(line, m, cells)) << line;
        rows.push_back(m[1].str() + " " + m[2].str() + " " + m[4].str());
    }
    EXPECT_EQ(rows, (Lines{"Ann 127.0.0.1 在线", "Bob 127.0.0.1 已请出", "Caro 127.0.0.2 在线",
                           "Bob 127.0.0.1 已请出", "Dan 127.0.0.2 在线", "Bob 127.0.0.1 在线"}));
    // The recording holds the whispers and departures as they went out.
    ann.CloseInput();
    EXPECT_EQ(ann.WaitForExit(10s), 0);
    PeerProcess replay({"replay", dir.File("a.prs")});
    EXPECT_EQ(replay.WaitForExit(10s), 0) << replay.Output();
    EXPECT_EQ(Shown(replay, RECORDED), Shown(ann, RECORDED));
    EXPECT_TRUE(replay.Printed("chat: <你> 对 <Bob> 说(悄悄话): 您已被组长请出会话。"));
}

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
        std::vector<Who> who;
        for (const char* name : NAMES) {
            fs::create_directories(Dir(name));
            who.push_back({name, {"--transfer-port", transferPort, "--accept-files", Dir(name)}});
        }
        who[3].second.back() = "no";
        who[4].second.resize(2);
        peers = StartSession(test::FreePort(), who);
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
            P(r.from).Write("offer " + std::string(r.index) + " " + source.string());
            ASSERT_TRUE(Done(P(r.to), Dir(r.to) / name)) << P(r.to).Output();
            ASSERT_TRUE(Done(P(r.from), source)) << P(r.from).Output();
            EXPECT_EQ(test::ReadFileBytes(Dir(r.to) / name), test::ReadFileBytes(source));
        }
    EXPECT_TRUE(P("Bob").Printed("progress: Ann-Bob-25000      文件大小:25000字节"));
    EXPECT_TRUE(P("Bob").Printed("progress: 3/3 100%"));
}

// Refusals reach the offerer, as do the offer command's own.
TEST_F(TransferE2E, RefusalsReachTheOfferer) {
    const fs::path source = Source("refused.bin", 100);
    const struct {
        const char *from, *index, *to;
    } cases[] = {{"Ann", "4", "Dave"}, {"Bob", "5", "Eve"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.to);
        P(c.from).Write("offer " + std::string(c.index) + " " + source.string());
        EXPECT_TRUE(P(c.to).WaitFor("refused.bin (100字节), 接受文件吗?  -> No"))
            << P(c.to).Output();
        EXPECT_TRUE(P(c.from).WaitFor("transfer: " + Refused(c.to))) << P(c.from).Output();
    }
    const std::size_t mark = P("Ann").Lines("").size();
    for (const char* index : {"0", "1", "9"})
        P("Ann").Write("offer " + std::string(index) + " " + source.string());
    ASSERT_TRUE(P("Ann").WaitFor("error: no member 9")) << P("Ann").Output();
    EXPECT_EQ(After(P("Ann"), mark, "transfer: "), Lines(2, "transfer: 传输文件目标不正确."));
}

// A busy recipient refuses a second offer without asking; the first goes on. Stopping the first
// offerer meanwhile makes the overlap independent of the machine's speed.
TEST_F(TransferE2E, OfferWhileBusyIsRefusedAndTheRunningTransferCompletes) {
    const fs::path big = Source("big.bin", 30u << 20);
    const fs::path small = Source("small.bin", 5000);
    const std::size_t mark = P("Carol").Lines("").size();
    P("Bob").Write("offer 3 " + big.string());
    ASSERT_TRUE(P("Carol").WaitFor("请求向您发送文件 big.bin")) << P("Carol").Output();
    P("Bob").Signal(SIGSTOP);
    P("Ann").Write("offer 3 " + small.string());
    EXPECT_TRUE(P("Carol").WaitFor("box: Kolvena v1.0 | 目前正在进行文件传输."));
    EXPECT_TRUE(P("Ann").WaitFor("transfer: " + Refused("Carol"))) << P("Ann").Output();
    P("Bob").Signal(SIGCONT);

    ASSERT_TRUE(Done(P("Carol"), Dir("Carol") / "big.bin", 15s)) << P("Carol").Output();
    EXPECT_TRUE(Done(P("Bob"), big)) << P("Bob").Output();
    EXPECT_TRUE(test::ReadFileBytes(Dir("Carol") / "big.bin") == test::ReadFileBytes(big));
    EXPECT_FALSE(fs::exists(Dir("Carol") / "small.bin"));
    EXPECT_LT(After(P("Carol"), mark, "progress: ").size(), 200u); // not one per chunk
    // Once idle, the recipient takes offers again.
    P("Ann").Write("offer 3 " + small.string());
    EXPECT_TRUE(Done(P("Carol"), Dir("Carol") / "small.bin")) << P("Carol").Output();
}

// The recipient gives up mid-stream (the offerer held stopped, so it always lands mid-transfer);
// nothing is saved. The transfer tests pin either side's give-up on the wire; this is the command.
TEST_F(TransferE2E, GivingUpEndsBothSidesAndSavesNothing) {
    const fs::path big = Source("given-up.bin", 30u << 20);
    const auto before = Files(Dir("Carol"));
    const std::size_t mark = P("Carol").Lines("").size();
    P("Bob").Write("offer 3 " + big.string());
    ASSERT_TRUE(P("Carol").WaitFor("progress: 1/3072 ")) << P("Carol").Output();
    P("Bob").Signal(SIGSTOP);
    P("Carol").Write("giveup");
    EXPECT_TRUE(P("Carol").WaitFor("box: 终止文件传输 | 您确认要终止传输文件? -> Yes"));
    P("Bob").Signal(SIGCONT);
    EXPECT_TRUE(P("Bob").WaitFor("transfer: 对方已经中断了传输.")) << P("Bob").Output();
    EXPECT_TRUE(P("Carol").WaitFor("transfer: given up")) << P("Carol").Output();
    EXPECT_EQ(After(P("Carol"), mark, "transfer: done"), Lines{});
    EXPECT_EQ(Files(Dir("Carol")), before);
    P("Carol").Write("giveup");
    EXPECT_TRUE(P("Carol").WaitFor("error: no transfer running"));
}

// A member that puts exactly the bytes it wants on the wire; its socket's timeouts make a host
// that stops reading a failed send, not a hung test.
struct RawMember {
    bool Connect(std::uint16_t port, const std::string& name) {
        socket = test::RawSocket::Connect(port);
        received.clear();
        closed = !socket.Send(BuildLogin(name));
        return !closed;
    }
    // Reads until done() holds, the host closes or the time is up; then done().
    template <class Done> bool Await(Done done, std::chrono::milliseconds limit) {
        for (const auto end = Clock::now() + limit; !done() && !closed && Clock::now() < end;)
            closed = !socket.ReceiveSome(received, 20ms);
        return done();
    }
    bool AwaitReceived(std::string_view text, std::chrono::milliseconds limit) {
        return Await([&] { return received.find(text) != std::string::npos; }, limit);
    }
    std::optional<std::uint16_t> AwaitWelcome() { // our BuddyID: the roster's last
        std::optional<WelcomePacket> w;
        if (Await([&] { return (w = ReadWelcome(received)) && !w->roster.empty(); }, 3s))
            return static_cast<std::uint16_t>(w->roster.back().id);
        return std::nullopt;
    }

    test::RawSocket socket;
    std::string received;
    bool closed = true;
};

// What the host must do after a probe; Echo is no packet but a rename that must come back.
enum class Must { Keep, Close, Any, Echo };

struct Probe {
    std::string bytes;
    Must must = Must::Keep;
};

// A counted packet whose field `field` holds `count` and carries `sent` bytes for it (the
// other count holds 1, with its byte), left off after a count that claims more than was
// written. Body bytes are 'A', no packet type, so a fragment read as a packet start is dropped.
std::string Counted(PacketLayout layout, std::uint8_t type, std::size_t field, std::uint16_t count,
                    std::size_t sent, std::uint16_t sender) {
    std::string o(1, static_cast<char>(type));
    ByteWriter w(o);
    auto counted = [&](std::size_t which, std::size_t unit) {
        w.U16(which == field ? count : 1);
        o.append((which == field ? sent : 1) * unit, unit == 1 ? 'A' : '\0');
        return which != field || count <= sent;
    };
    if (layout == PacketLayout::Chat && counted(0, 1)) {
        w.U16(0);      // target: everyone
        w.U16(sender); // then not a whisper, and the stamp
        o.append(5, '\0');
        counted(1, 1);
    } else if (layout == PacketLayout::Notice) {
        w.U16(sender);
        counted(0, 1);
    } else if (layout == PacketLayout::File) {
        o.append(4, '\0'); // offerer, recipient: nobody
        if (counted(0, 1))
            o.append(4, '\0');
    } else if (layout == PacketLayout::Welcome) {
        o.append(TOPIC_SIZE + 4, '\0');
        if (counted(0, 1) && counted(1, Buddy::RECORD_SIZE))
            o.append(WELCOME_TRAILER_SIZE, '\0');
    }
    return o;
}

// A type's probes: its packets whole (counts 0, 1 and 8, or the fixed size), for a few discarded
// types a rename echo, then counts of 0xFFFF, past every cap, closing a type the host takes. The
// layouts come from the protocol's tables, which the packet tests pin for every byte.
std::vector<Probe> Probes(std::uint8_t type, std::uint16_t id) {
    const auto known = PacketTypeOf(type);
    const auto layout = known ? LayoutOf(*known) : PacketLayout::Login;
    const auto fixedSize = PacketLength(std::string(1, static_cast<char>(type)));
    const bool twoCounts = layout == PacketLayout::Chat || layout == PacketLayout::Welcome;
    const std::size_t counts = !known || fixedSize ? 0 : twoCounts ? 2 : 1;
    const bool hostTakes = known && Handles(Side::Host, *known);
    // Only the types the host takes check their sender; elsewhere 'A' keeps fragments inert.
    const std::uint16_t sender = hostTakes ? id : 0x4141;
    std::vector<Probe> out;
    if (counts == 0) {
        std::string whole(1, static_cast<char>(type));
        if (!known)
            out.push_back({whole});
        ByteWriter(whole).U16(sender);
        whole.resize(fixedSize.value_or(8), 'A'); // any other type is 8 bytes
        out.push_back({whole});
    }
    for (std::size_t field = 0; field < counts; ++field)
        for (std::uint16_t count : {0, 1, 8})
            out.push_back({Counted(layout, type, field, count, count, sender)});
    if (type == 0 || type == 13 || type == 21 || type == 24 || type == 255)
        out.push_back({"", Must::Echo});
    for (std::size_t field = 0; field < counts; ++field)
        out.push_back({Counted(layout, type, field, 0xFFFF, 16, sender),
                       hostTakes ? Must::Close : Must::Any});
    return out;
}

struct HostileReport {
    std::vector<std::string> failures;
    std::size_t garbageBytes = 0;
    std::vector<RawMember> kept; // logged in and left open to the end
};

// Every malformed packet it can make, a flood of logins and 10 MB of random bytes.
HostileReport Attack(std::uint16_t port, Clock::time_point deadline) {
    HostileReport r;
    const auto fail = [&r](std::string what) {
        if (r.failures.size() < 20)
            r.failures.push_back(std::move(what));
    };
    const auto member = [&](RawMember& m, const std::string& name) {
        std::optional<std::uint16_t> id;
        if (!m.Connect(port, name) || !(id = m.AwaitWelcome()))
            fail("no Welcome for " + name);
        return id;
    };

    for (int t = 0; t < 256 && Clock::now() < deadline; ++t) {
        const std::string name = "T" + std::to_string(t);
        RawMember m;
        auto id = member(m, name);
        if (!id)
            continue;
        int attempt = 0;
        for (const Probe& p : Probes(static_cast<std::uint8_t>(t), *id)) {
            if (m.closed && !(id = member(m, name)))
                break;
            const std::string what = "type " + name + " probe " + std::to_string(attempt++);
            bool echoed = p.must != Must::Echo;
            for (int i = 0; i < 5 && !echoed; ++i) {
                std::this_thread::sleep_for(30ms);
                const std::string newName = "R" + std::to_string(t) + "_" + std::to_string(i);
                m.socket.Send(BuildRename(PacketType::RenameToHost, {*id, newName}));
                echoed = m.AwaitReceived(newName, 400ms);
            }
            if (!echoed)
                fail("no rename echo after discarded " + what);
            else if (!m.socket.Send(p.bytes) && p.must == Must::Keep) {
                fail("host closed on well-formed " + what);
                m.closed = true;
            } else if (p.must == Must::Close) {
                if (!m.Await([&] { return m.closed; }, 2s))
                    fail(what + " with a count of 0xFFFF did not close");
                m.closed = true;
            }
        }
    }

    RawMember flood;
    if (member(flood, "Flood")) {
        std::string logins;
        for (int i = 0; i < 2000; ++i)
            logins += BuildLogin("X" + std::to_string(i));
        if (!flood.socket.Send(logins))
            fail("host closed on repeated logins");
        r.kept.push_back(std::move(flood));
    }
    std::vector<RawMember> many(50);
    for (std::size_t i = 0; i < many.size() && Clock::now() < deadline; ++i)
        if (!many[i].Connect(port, (i < 10 ? "F0" : "F") + std::to_string(i)))
            fail("login of flood member " + std::to_string(i));
    for (const std::size_t i : {0u, 49u}) {
        if (!many[i].AwaitWelcome())
            fail("no Welcome for flood login " + std::to_string(i));
        r.kept.push_back(std::move(many[i]));
    }

    std::mt19937 random(20261207);
    std::string chunk(64 * 1024, '\0');
    RawMember noise;
    for (int reconnects = 0; r.garbageBytes < (10u << 20) && Clock::now() < deadline;) {
        if (noise.closed && (++reconnects > 500 || !member(noise, "Noise")))
            break;
        std::ranges::generate(chunk, [&] { return static_cast<char>(random() & 0xFF); });
        noise.closed = !noise.socket.Send(chunk);
        r.garbageBytes += noise.closed ? 0 : chunk.size();
        noise.socket.ReceiveSome(noise.received, 0ms); // drained: the host never queues for us
        noise.received.clear();
    }
    return r;
}

// The last member list the peer printed, once it is the expected one or after ten seconds.
std::string LastMembers(PeerProcess& peer, const std::string& expected) {
    const auto last = [&peer] {
        const auto lines = peer.Lines("members: ");
        return lines.empty() ? std::string() : lines.back();
    };
    for (int i = 0; i < 100 && last() != expected; ++i)
        peer.WaitFor("members: ", 100ms);
    return last();
}

TEST(HostileMember, HostSurvivesAndGoodMembersKeepChatting) {
    const std::uint16_t port = test::FreePort();
    // --approve no: the hostile notices go back to their senders alone.
    const auto peers = StartSession(
        port, {{"Ann", {"--max", "100", "--approve", "no"}}, {"Bob", {}}, {"Carol", {}}});
    ASSERT_EQ(peers.size(), 3u);
    PeerProcess &host = *peers[0], &bob = *peers[1], &carol = *peers[2];

    auto attack = std::async(std::launch::async, Attack, port, Clock::now() + 11s);
    const auto done = [&attack] { return attack.wait_for(0s) == std::future_status::ready; };
    // The good members chat all the while; each round must get through the host.
    int rounds = 0;
    bool stalled = false;
    for (; rounds < 3000 && (!done() || rounds < 5) && !stalled; ++rounds) {
        const std::string n = std::to_string(rounds);
        bob.Write("say b" + n);
        carol.Write("say c" + n);
        stalled = !host.WaitFor("<Carol> 对大家说: c" + n, 5s);
        // They print a line for every hostile join and leave: read on, or their pipes fill.
        bob.Collect();
        carol.Collect();
        std::this_thread::sleep_for(10ms);
    }
    HostileReport report = attack.get();
    EXPECT_FALSE(stalled) << "host stopped relaying at round " << rounds;
    for (const std::string& failure : report.failures)
        ADD_FAILURE() << failure;
    EXPECT_GE(report.garbageBytes, 10u << 20);
    // Everything each good member said reached the other and the host, in order.
    bob.Write("say zfinal");
    EXPECT_TRUE(host.WaitFor("<Bob> 对大家说: zfinal", 5s)) << host.Output();
    EXPECT_TRUE(carol.WaitFor("<Bob> 对大家说: zfinal", 5s));
    EXPECT_TRUE(bob.WaitFor("<Carol> 对大家说: c" + std::to_string(rounds - 1), 5s));
    using Heard = std::pair<PeerProcess*, std::string>;
    for (const auto& [peer, prefix] :
         {Heard{&host, "chat: <Bob> 对大家说: b"}, Heard{&carol, "chat: <Bob> 对大家说: b"},
          Heard{&host, "chat: <Carol> 对大家说: c"}, Heard{&bob, "chat: <Carol> 对大家说: c"},
          Heard{&bob, "chat: <你> 对大家说: b"}}) {
        Lines all;
        for (int i = 0; i < rounds; ++i)
            all.push_back(prefix + std::to_string(i));
        EXPECT_EQ(peer->Lines(prefix), all) << prefix;
    }
    EXPECT_TRUE(host.Printed("box: 成员请求验证消息"));
    EXPECT_FALSE(bob.Printed("notice: Massage: T12") || carol.Printed("notice: Massage: T12"));
    // The logins still open are members once each and still served; then only the good remain.
    ASSERT_EQ(report.kept.size(), 3u);
    EXPECT_TRUE(report.kept.back().AwaitReceived("zfinal", 5s));
    const std::string kept = "members: 全体, Ann(组长), Bob, Carol, Flood, F00, F49";
    EXPECT_EQ(LastMembers(host, kept), kept);
    report.kept.clear();
    for (const auto& [peer, left] : {Heard{&host, "members: 全体, Ann(组长), Bob, Carol"},
                                     Heard{&bob, "members: 全体, Ann(组长), Bob(您), Carol"}})
        EXPECT_EQ(LastMembers(*peer, left), left);

    host.Write("leave");
    EXPECT_EQ(host.WaitForExit(10s), 0) << "the host died or hung";
}

} // namespace
} // namespace kolvena
