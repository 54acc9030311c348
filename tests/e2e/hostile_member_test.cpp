#include <gtest/gtest.h>

#include <algorithm>
#include <future>
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
    out += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
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

// A packet, perhaps in pieces cut after the type and its varied count, its last `late` bytes late.
struct Probe {
    std::string bytes;
    std::size_t countEnd = 1, late = 0;
    bool pieces = false;
    Must must = Must::Keep;
};

// A counted packet whose field `field` holds `count` and carries `sent` bytes for it (the
// other count holds 1, with its byte), left off after a count that claims more than was
// written. Body bytes are 'A', no packet type, so a fragment read as a packet start is dropped.
Probe Counted(PacketLayout layout, std::uint8_t type, std::size_t field, std::uint16_t count,
              std::size_t sent, std::uint16_t sender) {
    Probe p;
    std::string& o = p.bytes;
    o.push_back(static_cast<char>(type));
    auto counted = [&](std::size_t which, std::size_t unit) {
        PutU16(o, which == field ? count : 1);
        if (which == field)
            p.countEnd = o.size();
        o.append((which == field ? sent : 1) * unit, unit == 1 ? 'A' : '\0');
        return which != field || count <= sent;
    };
    if (layout == PacketLayout::Chat && counted(0, 1)) {
        PutU16(o, 0);      // target: everyone
        PutU16(o, sender); // then not a whisper, and the stamp
        o.append(5, '\0');
        counted(1, 1);
    } else if (layout == PacketLayout::Notice) {
        PutU16(o, sender);
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
    return p;
}

// A type's probes for one connection: complete packets (counts 0, 1 and 8, or the fixed size;
// also with the last byte late), whole and in pieces; for a few discarded types a rename echo;
// then counts of 0xFFFF, past every cap, which the host must close on if it takes the type.
// Layouts and sizes come from the protocol's tables, which the packet tests pin for every byte.
std::vector<Probe> Probes(std::uint8_t type, std::uint16_t id) {
    const auto known = PacketTypeOf(type);
    const auto layout = known ? LayoutOf(*known) : PacketLayout::Login;
    const auto fixedSize = PacketLength(std::string(1, static_cast<char>(type)));
    const bool twoCounts = layout == PacketLayout::Chat || layout == PacketLayout::Welcome;
    const std::size_t counts = !known || fixedSize ? 0 : twoCounts ? 2 : 1;
    const bool hostTakes = known && Handles(Side::Host, *known);
    // Only the types the host takes check their sender; elsewhere 'A' keeps fragments inert.
    const std::uint16_t sender = hostTakes ? id : 0x4141;
    std::vector<Probe> kept, out;
    if (counts == 0) {
        Probe whole;
        whole.bytes.push_back(static_cast<char>(type));
        if (!known)
            kept.push_back(whole);
        PutU16(whole.bytes, sender);
        whole.bytes.resize(fixedSize.value_or(8), 'A'); // any other type is 8 bytes
        whole.countEnd = 3;
        kept.push_back(whole);
        whole.late = 1;
        kept.push_back(whole);
    }
    for (std::size_t field = 0; field < counts; ++field)
        for (std::uint16_t count : {0, 1, 8}) {
            kept.push_back(Counted(layout, type, field, count, count, sender));
            if (count > 0) {
                kept.push_back(kept.back());
                kept.back().late = 1;
            }
        }
    for (const bool pieces : {false, true})
        for (Probe p : kept) {
            p.pieces = pieces;
            out.push_back(p);
        }
    if (type == 0 || type == 13 || type == 21 || type == 24 || type == 255)
        out.emplace_back().must = Must::Echo;
    for (std::size_t field = 0; field < counts; ++field)
        for (const bool pieces : {false, true}) {
            out.push_back(Counted(layout, type, field, 0xFFFF, 16, sender));
            out.back().pieces = pieces;
            out.back().must = hostTakes ? Must::Close : Must::Any;
        }
    return out;
}

// The pieces go out as separate segments with a pause between, so the host reads them apart.
bool Send(RawMember& m, const Probe& p) {
    const std::string_view bytes(p.bytes);
    const std::size_t early = bytes.size() - p.late;
    const std::size_t cuts[] = {p.pieces ? std::min<std::size_t>(1, early) : 0,
                                p.pieces ? std::min(p.countEnd, early) : 0, early, bytes.size()};
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
            else if (!Send(m, p) && p.must == Must::Keep) {
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
    const auto peers =
        test::StartSession(port, {{"Ann", {"--max", "100"}}, {"Bob", {}}, {"Carol", {}}});
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
        std::vector<std::string> all;
        for (int i = 0; i < rounds; ++i)
            all.push_back(prefix + std::to_string(i));
        EXPECT_EQ(peer->Lines(prefix), all) << prefix;
    }

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
    for (auto* p : {&bob, &carol}) {
        EXPECT_TRUE(p->WaitFor("组长已经关闭会话。所有人都已经退出了。"));
        p->CloseInput();
        EXPECT_EQ(p->WaitForExit(10s), 0);
    }
}

} // namespace
} // namespace kolvena
