#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <optional>
#include <random>
#include <thread>

#include "peer_process.h"
#include "protocol/packets.h"
#include "session/buddy.h"
#include "support/raw_socket.h"

namespace kolvena {
namespace {

using test::PeerProcess;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

void PutU16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8));
}

std::string Named(PacketType type, std::string prefix, const std::string& name, std::size_t size) {
    prefix.insert(prefix.begin(), static_cast<char>(type));
    prefix += name;
    prefix.resize(size, '\0');
    return prefix;
}

// A member that puts exactly the bytes it wants on the wire: a plain socket with timeouts (a
// host that stops reading shows as a failed send, not a hung test), so it runs beside the
// event-driven peers without an event loop of its own.
struct RawMember {
    bool Connect(std::uint16_t port, const std::string& name) {
        socket = test::RawSocket::Connect(port);
        received.clear();
        closed = !socket.Open();
        return !closed && socket.Send(Named(PacketType::Login, "", name, LOGIN_SIZE));
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
    // Our BuddyID: the last member of the Welcome that answers our Login.
    std::optional<std::uint16_t> AwaitWelcome() {
        std::optional<WelcomePacket> w;
        if (Await([&] { return (w = ReadWelcome(received)) && !w->roster.empty(); }, 3s))
            return static_cast<std::uint16_t>(w->roster.back().id);
        return std::nullopt;
    }

    test::RawSocket socket;
    std::string received;
    bool closed = true;
};

// What the host must do with the connection after a probe: keep serving it, close it, or
// anything; Echo is no packet but a rename that must come back after a pause.
enum class Must { Keep, Close, Any, Echo };

// One hostile packet: its bytes, whether it goes in pieces cut after the type and after its
// varied count, and how many of its last bytes follow only after a pause.
struct Probe {
    std::string bytes;
    std::size_t countEnd = 1, late = 0;
    bool pieces = false;
    Must must = Must::Keep;
};

enum class Shape { Chat, Notice, File, Welcome, Fixed, Unknown };

struct TypeInfo {
    Shape shape;
    std::size_t fixedSize;
    bool hostTakes; // from a member
    std::size_t CountFields() const {
        return shape == Shape::Fixed || shape == Shape::Unknown  ? 0
               : shape == Shape::Chat || shape == Shape::Welcome ? 2
                                                                 : 1;
    }
};

// Every type the program knows; any other is 8 bytes to both sides.
// clang-format off
constexpr std::pair<std::uint8_t, TypeInfo> TYPES[] = {
    {10, {Shape::Fixed, LOGIN_SIZE, true}},        {11, {Shape::Chat, 0, true}},
    {12, {Shape::Notice, 0, true}},                {14, {Shape::Fixed, RENAME_SIZE, true}},
    {15, {Shape::Fixed, PRESENCE_SIZE, true}},     {16, {Shape::Fixed, PRESENCE_SIZE, true}},
    {21, {Shape::Welcome, 0, false}},              {22, {Shape::Fixed, MEMBER_JOINED_SIZE, false}},
    {23, {Shape::Fixed, MEMBER_LEFT_SIZE, false}}, {24, {Shape::Chat, 0, false}},
    {25, {Shape::Notice, 0, false}},               {26, {Shape::Notice, 0, false}},
    {27, {Shape::Fixed, RENAME_SIZE, false}},      {28, {Shape::Fixed, PRESENCE_SIZE, false}},
    {29, {Shape::Fixed, PRESENCE_SIZE, false}},    {50, {Shape::File, 0, false}},
    {51, {Shape::File, 0, true}},                  {52, {Shape::File, 0, false}},
    {53, {Shape::File, 0, true}},                  {54, {Shape::File, 0, false}},
    {55, {Shape::File, 0, true}}};
// clang-format on

TypeInfo InfoOf(std::uint8_t type) {
    for (const auto& [known, info] : TYPES)
        if (known == type)
            return info;
    return {Shape::Unknown, 8, false};
}

// A counted packet whose field `field` holds `count` and carries `sent` bytes for it (the
// other count holds 1, with its byte). Body bytes are 'A', which is no packet type, so a
// fragment the host reads as a new packet start is dropped, not acted on.
Probe Counted(std::uint8_t type, std::size_t field, std::uint16_t count, std::size_t sent,
              std::uint16_t sender) {
    Probe p;
    std::string& o = p.bytes;
    o.push_back(static_cast<char>(type));
    // One count and its bytes; false when it claims more than was written, so the rest of
    // the packet is left off.
    auto counted = [&](std::size_t which, std::size_t unit) {
        PutU16(o, which == field ? count : 1);
        if (which == field)
            p.countEnd = o.size();
        o.append((which == field ? sent : 1) * unit, unit == 1 ? 'A' : '\0');
        return which != field || count <= sent;
    };
    switch (InfoOf(type).shape) {
    case Shape::Chat:
        if (counted(0, 1)) {
            PutU16(o, 0);      // target: everyone
            PutU16(o, sender); // then not a whisper, and the stamp
            o.append(5, '\0');
            counted(1, 1);
        }
        break;
    case Shape::Notice:
        PutU16(o, sender);
        counted(0, 1);
        break;
    case Shape::File:
        o.append(4, '\0'); // offerer, recipient: nobody
        if (counted(0, 1))
            o.append(4, '\0');
        break;
    default: // Welcome
        o.append(TOPIC_SIZE + 4, '\0');
        if (counted(0, 1) && counted(1, Buddy::RECORD_SIZE))
            o.append(WELCOME_TRAILER_SIZE, '\0');
    }
    return p;
}

// Every probe of a type, in the order sent on one connection: the packets that keep the stream
// in step (complete, with counts 0, 1 and 8 or at the fixed size, and each short by a byte
// that follows after a pause), whole and then in pieces; for a few types the host does not
// take, a rename echo; then counts of 0xFFFF, past every cap, whole and in pieces, which the
// host must close on for the types it takes.
std::vector<Probe> Probes(std::uint8_t type, std::uint16_t sender) {
    const TypeInfo info = InfoOf(type);
    std::vector<Probe> kept;
    if (info.CountFields() == 0) {
        Probe whole;
        whole.bytes.push_back(static_cast<char>(type));
        if (info.shape == Shape::Unknown)
            kept.push_back(whole);
        PutU16(whole.bytes, sender);
        whole.bytes.resize(info.fixedSize, 'A');
        whole.countEnd = 3;
        kept.push_back(whole);
        whole.late = 1;
        kept.push_back(whole);
    }
    for (std::size_t field = 0; field < info.CountFields(); ++field)
        for (std::uint16_t count : {0, 1, 8}) {
            kept.push_back(Counted(type, field, count, count, sender));
            if (count > 0) {
                kept.push_back(kept.back());
                kept.back().late = 1;
            }
        }
    std::vector<Probe> out = kept;
    for (Probe& p : kept) {
        p.pieces = true;
        out.push_back(p);
    }
    if (!info.hostTakes && (type == 0 || type == 13 || type == 21 || type == 24 || type == 255)) {
        out.emplace_back();
        out.back().must = Must::Echo;
    }
    for (std::size_t field = 0; field < info.CountFields(); ++field)
        for (bool pieces : {false, true}) {
            out.push_back(Counted(type, field, 0xFFFF, 16, sender));
            out.back().pieces = pieces;
            out.back().must = info.hostTakes ? Must::Close : Must::Any;
        }
    return out;
}

// The pieces go out as separate segments with a pause between, so the host reads them apart.
bool Send(RawMember& m, const Probe& p) {
    const std::string_view bytes(p.bytes);
    const std::size_t early = bytes.size() - p.late;
    std::vector<std::size_t> cuts;
    if (p.pieces)
        cuts = {std::min<std::size_t>(1, early), std::min(p.countEnd, early)};
    cuts.insert(cuts.end(), {early, bytes.size()});
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        if (cut <= from)
            continue;
        if (from > 0)
            std::this_thread::sleep_for(from >= early ? 2ms : 1ms);
        if (!m.socket.Send(bytes.substr(from, cut - from)))
            return false;
        from = cut;
    }
    return true;
}

struct HostileReport {
    std::vector<std::string> failures;
    std::size_t closedByHost = 0, garbageBytes = 0;
    std::vector<RawMember> kept; // logged in and left open to the end
};

// A third connection throws every malformed packet it can at the host, floods it with logins
// and buries it in random bytes.
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
        // Only the types the host takes check their sender; for the rest the field is 'A',
        // so a fragment of them read as a packet start is no type.
        const auto type = static_cast<std::uint8_t>(t);
        int attempt = 0;
        for (const Probe& p : Probes(type, InfoOf(type).hostTakes ? *id : 0x4141)) {
            if (m.closed && !(id = member(m, name)))
                break;
            const std::string what = "type " + name + " probe " + std::to_string(attempt++);
            if (p.must == Must::Echo) {
                bool echoed = false;
                for (int i = 0; i < 5 && !echoed; ++i) {
                    std::this_thread::sleep_for(30ms);
                    const std::string newName = "R" + std::to_string(t) + "_" + std::to_string(i);
                    std::string sender;
                    PutU16(sender, *id);
                    m.socket.Send(Named(PacketType::RenameToHost, sender, newName, RENAME_SIZE));
                    echoed = m.AwaitReceived(newName, 400ms);
                }
                if (!echoed)
                    fail("no rename echo after discarded " + what);
            } else if (!Send(m, p) && p.must == Must::Keep) {
                fail("host closed on well-formed " + what);
                m.closed = true;
            } else if (p.must == Must::Close) {
                if (m.Await([&] { return m.closed; }, 2s))
                    ++r.closedByHost;
                else
                    fail(what + " with a count of 0xFFFF did not close");
                m.closed = true;
            }
        }
    }

    RawMember flood;
    if (member(flood, "Flood")) {
        std::string logins;
        for (int i = 0; i < 2000; ++i)
            logins += Named(PacketType::Login, "", "X" + std::to_string(i), LOGIN_SIZE);
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
        if (noise.socket.Send(chunk)) {
            r.garbageBytes += chunk.size();
            // Kept drained, so the host never has to queue for us.
            noise.socket.ReceiveSome(noise.received, 0ms);
            noise.received.clear();
        } else {
            ++r.closedByHost;
            noise.closed = true;
        }
    }
    if (r.garbageBytes < (10u << 20))
        fail("garbage cut short at " + std::to_string(r.garbageBytes) + " bytes");
    return r;
}

// The numbers of one speaker's numbered chat lines as a peer printed them, in order.
std::vector<int> Numbers(const PeerProcess& peer, const std::string& prefix) {
    std::vector<int> out;
    for (const std::string& line : peer.Lines(prefix))
        out.push_back(std::stoi(line.substr(prefix.size())));
    return out;
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
    auto host = PeerProcess::Host(port, "Ann", {"--max", "100"});
    ASSERT_TRUE(host->WaitFor("等待客人登陆中")) << host->Output();
    auto bob = PeerProcess::Join(port, "Bob");
    ASSERT_TRUE(bob->WaitFor("members: 全体, Ann(组长), Bob(您)")) << bob->Output();
    auto carol = PeerProcess::Join(port, "Carol");
    ASSERT_TRUE(carol->WaitFor("members: 全体, Ann(组长), Bob, Carol(您)")) << carol->Output();
    ASSERT_TRUE(host->WaitFor("members: 全体, Ann(组长), Bob, Carol"));

    HostileReport report;
    std::atomic<bool> done{false};
    std::thread attacker([&] {
        report = Attack(port, Clock::now() + 11s);
        done = true;
    });
    // The good members chat all the while; each round must get through the host.
    int rounds = 0;
    bool stalled = false;
    for (; rounds < 3000 && (!done || rounds < 5) && !stalled; ++rounds) {
        const std::string n = std::to_string(rounds);
        bob->Command("say b" + n);
        carol->Command("say c" + n);
        stalled = !host->WaitFor("<Carol> 对大家说: c" + n, 5s);
        // They print a line for every hostile join and leave: read on, or their pipes fill.
        bob->Collect();
        carol->Collect();
        std::this_thread::sleep_for(10ms);
    }
    attacker.join();
    EXPECT_FALSE(stalled) << "host stopped relaying at round " << rounds;
    for (const std::string& failure : report.failures)
        ADD_FAILURE() << failure;
    EXPECT_GE(report.garbageBytes, 10u << 20);
    EXPECT_GT(report.closedByHost, 0u);

    // Everything each good member said reached the other and the host, in order.
    bob->Command("say zfinal");
    EXPECT_TRUE(host->WaitFor("<Bob> 对大家说: zfinal", 5s)) << host->Output();
    EXPECT_TRUE(carol->WaitFor("<Bob> 对大家说: zfinal", 5s));
    EXPECT_TRUE(bob->WaitFor("<Carol> 对大家说: c" + std::to_string(rounds - 1), 5s));
    std::vector<int> all(static_cast<std::size_t>(rounds));
    std::iota(all.begin(), all.end(), 0);
    using Heard = std::pair<PeerProcess*, const char*>;
    for (const auto& [peer, prefix] : {Heard{host.get(), "chat: <Bob> 对大家说: b"},
                                       Heard{carol.get(), "chat: <Bob> 对大家说: b"},
                                       Heard{host.get(), "chat: <Carol> 对大家说: c"},
                                       Heard{bob.get(), "chat: <Carol> 对大家说: c"},
                                       Heard{bob.get(), "chat: <你> 对大家说: b"}})
        EXPECT_EQ(Numbers(*peer, prefix), all) << prefix;

    // The logins still connected are members once each, and the host still serves them; once
    // they go too, only the good members are left.
    ASSERT_EQ(report.kept.size(), 3u);
    EXPECT_TRUE(report.kept.back().AwaitReceived("zfinal", 5s));
    const std::string kept = "members: 全体, Ann(组长), Bob, Carol, Flood, F00, F49";
    EXPECT_EQ(LastMembers(*host, kept), kept);
    report.kept.clear();
    for (const auto& [peer, left] : {Heard{host.get(), "members: 全体, Ann(组长), Bob, Carol"},
                                     Heard{bob.get(), "members: 全体, Ann(组长), Bob(您), Carol"}})
        EXPECT_EQ(LastMembers(*peer, left), left);

    host->Command("leave");
    EXPECT_EQ(host->WaitForExit(), 0) << "the host died or hung";
    for (auto* p : {bob.get(), carol.get()}) {
        EXPECT_TRUE(p->WaitFor("组长已经关闭会话。所有人都已经退出了。"));
        p->CloseInput();
        EXPECT_EQ(p->WaitForExit(), 0);
    }
}

} // namespace
} // namespace kolvena
