#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// A member that puts exactly the bytes it wants on the wire: a plain socket with timeouts (a
// host that stops reading shows as a failed send, not a hung test), so it runs beside the
// event-driven peers without an event loop of its own.
class RawMember {
public:
    bool Connect(std::uint16_t port) {
        Close();
        socket_ = test::RawSocket::Connect(port);
        return socket_.Open();
    }
    void Close() {
        socket_.Close();
        received_.clear();
    }
    bool Open() const { return socket_.Open(); }
    bool Send(std::string_view bytes) { return socket_.Send(bytes); }

    // The pieces go out as separate segments with a pause between, so the host reads them
    // apart.
    bool SendPieces(std::string_view bytes, std::initializer_list<std::size_t> cuts) {
        std::size_t from = 0;
        for (std::size_t cut : cuts) {
            cut = std::min(cut, bytes.size());
            if (cut <= from)
                continue;
            if (!Send(bytes.substr(from, cut - from)))
                return false;
            std::this_thread::sleep_for(1ms);
            from = cut;
        }
        return Send(bytes.substr(from));
    }

    bool Login(const std::string& name) {
        std::string packet(1, static_cast<char>(PacketType::Login));
        packet += name;
        packet.resize(LOGIN_SIZE, '\0');
        return Send(packet);
    }

    // Reads whatever has arrived within the wait; false once the host has closed.
    bool Receive(std::chrono::milliseconds wait) { return socket_.ReceiveSome(received_, wait); }

    // Our BuddyID: the last member of the Welcome that answers our Login.
    std::optional<std::uint16_t> AwaitWelcome(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end && Receive(20ms))
            if (const auto welcome = ReadWelcome(received_); welcome && !welcome->roster.empty())
                return static_cast<std::uint16_t>(welcome->roster.back().id);
        return std::nullopt;
    }

    bool AwaitClosed(std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end)
            if (!Receive(20ms))
                return true;
        return false;
    }

    bool AwaitReceived(std::string_view text, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            if (received_.find(text) != std::string::npos)
                return true;
            if (!Receive(20ms))
                return received_.find(text) != std::string::npos;
        }
        return false;
    }

private:
    test::RawSocket socket_;
    std::string received_;
};

// One hostile packet: its bytes, where its varied count ends (a cut for sending in pieces),
// and how many of its last bytes follow only after a pause, so the host must wait for them.
struct Probe {
    std::string bytes;
    std::size_t countEnd = 1;
    std::size_t missing = 0;
};

enum class Shape { Chat, Notice, File, Welcome, Fixed, Unknown };

// How the host's reader must measure each type, and whether the host takes it from a member.
struct TypeInfo {
    Shape shape;
    std::size_t fixedSize; // for Fixed and Unknown
    bool hostTakes;
    std::size_t CountFields() const {
        return shape == Shape::Chat || shape == Shape::Welcome  ? 2
               : shape == Shape::Notice || shape == Shape::File ? 1
                                                                : 0;
    }
};

// Every type the program knows; any other is Unknown to both sides.
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

constexpr std::uint16_t MAX_COUNT = 0xFFFF;
constexpr std::size_t SENT_WITH_MAX = 16;

// A counted packet whose field `field` holds `count` and carries `sent` bytes for it (the
// other count holds 1, with its byte). Body bytes are 'A', which is no packet type, so a
// fragment the host reads as a new packet start is dropped, not acted on.
Probe Counted(std::uint8_t type, Shape shape, std::size_t field, std::uint16_t count,
              std::size_t sent, std::uint16_t sender) {
    Probe p;
    std::string& o = p.bytes;
    o.push_back(static_cast<char>(type));
    // Writes one count and its bytes; false when the count claims more than was written, so
    // the rest of the packet is left off.
    auto counted = [&](std::size_t which, std::size_t unit) {
        const std::uint16_t c = which == field ? count : 1;
        const std::size_t s = which == field ? sent : 1;
        PutU16(o, c);
        if (which == field)
            p.countEnd = o.size();
        o.append(s * unit, unit == 1 ? 'A' : '\0');
        return c <= s;
    };
    switch (shape) {
    case Shape::Chat:
        if (!counted(0, 1))
            break;
        PutU16(o, 0);      // target: everyone
        PutU16(o, sender); // sender
        o.push_back('\0'); // not a whisper
        o.append(4, '\0'); // stamp
        counted(1, 1);
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
    case Shape::Welcome:
        o.append(TOPIC_SIZE + 4, '\0');
        if (counted(0, 1) && counted(1, Buddy::RECORD_SIZE))
            o.append(WELCOME_TRAILER_SIZE, '\0');
        break;
    default:
        break;
    }
    return p;
}

Probe Fixed(std::uint8_t type, std::size_t size, std::uint16_t sender) {
    Probe p;
    p.bytes.push_back(static_cast<char>(type));
    PutU16(p.bytes, sender);
    p.bytes.resize(std::max<std::size_t>(size, 3), 'A');
    p.bytes.resize(size);
    p.countEnd = std::min<std::size_t>(3, size);
    return p;
}

// Every case of a type that keeps the stream in step: complete packets with counts 0, 1 and
// 8, and each of them short by one byte, that byte following after a pause.
std::vector<Probe> KeptInStep(std::uint8_t type, std::uint16_t sender) {
    const TypeInfo info = InfoOf(type);
    const Shape shape = info.shape;
    std::vector<Probe> out;
    const std::size_t fields = info.CountFields();
    if (fields == 0) {
        if (shape == Shape::Unknown)
            out.push_back(Fixed(type, 1, sender));
        out.push_back(Fixed(type, info.fixedSize, sender));
        Probe shortOne = Fixed(type, info.fixedSize, sender);
        shortOne.missing = 1;
        out.push_back(shortOne);
        return out;
    }
    for (std::size_t field = 0; field < fields; ++field) {
        for (std::uint16_t count : {0, 1, 8}) {
            Probe p = Counted(type, shape, field, count, count, sender);
            out.push_back(p);
            if (count > 0) {
                // The count is one past the bytes sent at first.
                p.missing = 1;
                out.push_back(p);
            }
        }
    }
    return out;
}

struct HostileReport {
    std::vector<std::string> failures;
    std::size_t connections = 0;
    std::size_t closedByHost = 0;
    std::size_t garbageBytes = 0;
    // Logged in and left open to the end: the 2000-login connection and two of the 50.
    std::vector<RawMember> kept;
};

class Hostile {
public:
    Hostile(std::uint16_t port, Clock::time_point deadline) : port_(port), deadline_(deadline) {}

    HostileReport Run() {
        FuzzEveryType();
        LoginFlood();
        Garbage();
        return std::move(report_);
    }

private:
    void Fail(std::string what) {
        if (report_.failures.size() < 20)
            report_.failures.push_back(std::move(what));
    }
    bool Late() const { return Clock::now() > deadline_; }

    // A connection that has logged in; our BuddyID, if the Welcome came.
    std::optional<std::uint16_t> Member(RawMember& m, const std::string& name) {
        ++report_.connections;
        if (!m.Connect(port_) || !m.Login(name)) {
            Fail("connect/login " + name);
            return std::nullopt;
        }
        auto id = m.AwaitWelcome(3s);
        if (!id)
            Fail("no Welcome for " + name);
        return id;
    }

    bool SendProbe(RawMember& m, const Probe& p, bool pieces) {
        const std::string_view sent =
            std::string_view(p.bytes).substr(0, p.bytes.size() - p.missing);
        const bool ok = pieces ? m.SendPieces(sent, {1, p.countEnd}) : m.Send(sent);
        if (ok && p.missing > 0) {
            std::this_thread::sleep_for(2ms);
            return m.Send(std::string_view(p.bytes).substr(sent.size()));
        }
        return ok;
    }

    void FuzzEveryType() {
        for (int t = 0; t < 256 && !Late(); ++t) {
            const auto type = static_cast<std::uint8_t>(t);
            const std::string name = "T" + std::to_string(t);
            RawMember m;
            const auto id = Member(m, name);
            if (!id)
                continue;
            // Only the types the host takes check their sender; for the rest the field is
            // 'A', so a fragment of them read as a packet start is no type.
            const TypeInfo info = InfoOf(type);
            const std::uint16_t sender = info.hostTakes ? *id : 0x4141;
            bool open = true;
            for (bool pieces : {false, true})
                for (const Probe& p : KeptInStep(type, sender))
                    if (open && !SendProbe(m, p, pieces)) {
                        Fail("host closed on a well-formed packet of type " + std::to_string(t));
                        open = false;
                    }

            // A type the host does not take drops what is buffered and keeps the connection:
            // a rename sent after a pause must come back to us.
            const bool handled = info.hostTakes;
            if (!handled && (t == 0 || t == 13 || t == 21 || t == 24 || t == 255)) {
                bool echoed = false;
                for (int attempt = 0; attempt < 5 && !echoed; ++attempt) {
                    std::this_thread::sleep_for(30ms);
                    const std::string newName =
                        "R" + std::to_string(t) + "_" + std::to_string(attempt);
                    std::string rename(1, static_cast<char>(PacketType::RenameToHost));
                    PutU16(rename, *id);
                    rename += newName;
                    rename.resize(RENAME_SIZE, '\0');
                    m.Send(rename);
                    echoed = m.AwaitReceived(newName, 400ms);
                }
                if (!echoed)
                    Fail("no rename echo after discarded type " + std::to_string(t));
            }

            // Counts of 0xFFFF pass the cap of every counted type: the host must close on
            // the types it takes and drop the others. Whole, then in pieces.
            for (std::size_t field = 0; field < info.CountFields() && !Late(); ++field) {
                for (bool pieces : {false, true}) {
                    if (!m.Open() && !Member(m, name))
                        break;
                    const Probe p =
                        Counted(type, info.shape, field, MAX_COUNT, SENT_WITH_MAX, sender);
                    SendProbe(m, p, pieces);
                    if (handled) {
                        if (m.AwaitClosed(2s))
                            ++report_.closedByHost;
                        else
                            Fail("type " + std::to_string(t) + " count field " +
                                 std::to_string(field) + " = 0xFFFF did not close");
                        m.Close();
                    }
                }
            }
            m.Close();
        }
    }

    void LoginFlood() {
        RawMember flood;
        if (Member(flood, "Flood")) {
            std::string logins;
            for (int i = 0; i < 2000; ++i) {
                logins.push_back(static_cast<char>(PacketType::Login));
                std::string name = "X" + std::to_string(i);
                name.resize(NAME_SIZE, '\0');
                logins += name;
            }
            if (!flood.Send(logins))
                Fail("host closed on repeated logins");
            report_.kept.push_back(std::move(flood));
        }

        std::vector<RawMember> many(50);
        for (std::size_t i = 0; i < many.size() && !Late(); ++i) {
            ++report_.connections;
            const std::string name = (i < 10 ? "F0" : "F") + std::to_string(i);
            if (!many[i].Connect(port_) || !many[i].Login(name))
                Fail("login of " + name);
        }
        for (std::size_t i : {std::size_t{0}, many.size() - 1}) {
            if (!many[i].AwaitWelcome(3s))
                Fail("no Welcome for flood login " + std::to_string(i));
            report_.kept.push_back(std::move(many[i]));
        }
    }

    void Garbage() {
        std::mt19937 random(20261207);
        std::string chunk(64 * 1024, '\0');
        RawMember m;
        constexpr std::size_t total = 10u * 1024 * 1024;
        int reconnects = 0;
        while (report_.garbageBytes < total && !Late() && reconnects < 500) {
            if (!m.Open()) {
                ++reconnects;
                if (!Member(m, "Noise"))
                    return;
            }
            for (char& c : chunk)
                c = static_cast<char>(random() & 0xFF);
            if (m.Send(chunk)) {
                report_.garbageBytes += chunk.size();
                m.Receive(0ms); // keep our side drained so the host never has to queue for us
            } else {
                ++report_.closedByHost;
                m.Close();
            }
        }
        if (report_.garbageBytes < total)
            Fail("garbage cut short at " + std::to_string(report_.garbageBytes) + " bytes");
    }

    std::uint16_t port_;
    Clock::time_point deadline_;
    HostileReport report_;
};

// Lines a receiver printed for one speaker's numbered chat lines, as their numbers, in order.
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
        peer.WaitFor("members: ", std::chrono::milliseconds(100));
    return last();
}

// A host with two members keeps working while a third connection throws every malformed
// packet it can at it, floods it with logins and buries it in random bytes.
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
        report = Hostile(port, Clock::now() + 11s).Run();
        done = true;
    });

    // The good members chat all the while; each round must get through the host.
    int rounds = 0;
    bool stalled = false;
    for (; rounds < 3000 && (!done || rounds < 5); ++rounds) {
        const std::string n = std::to_string(rounds);
        bob->Command("say b" + n);
        carol->Command("say c" + n);
        if (!host->WaitFor("<Carol> 对大家说: c" + n, 5s)) {
            stalled = true;
            ++rounds;
            break;
        }
        // The members print a line for every hostile join and leave: keep reading their
        // output, or their pipes fill and they stop.
        bob->Collect();
        carol->Collect();
        std::this_thread::sleep_for(10ms);
    }
    attacker.join();
    EXPECT_FALSE(stalled) << "host stopped relaying at round " << rounds;
    for (const std::string& failure : report.failures)
        ADD_FAILURE() << failure;
    EXPECT_GE(report.garbageBytes, 10u * 1024 * 1024);
    EXPECT_GT(report.closedByHost, 0u);

    // Everything each good member said reached the other and the host, in order.
    bob->Command("say zfinal");
    EXPECT_TRUE(host->WaitFor("<Bob> 对大家说: zfinal", 5s)) << host->Output();
    EXPECT_TRUE(carol->WaitFor("<Bob> 对大家说: zfinal", 5s));
    EXPECT_TRUE(bob->WaitFor("<Carol> 对大家说: c" + std::to_string(rounds - 1), 5s));
    std::vector<int> all(static_cast<std::size_t>(rounds));
    std::iota(all.begin(), all.end(), 0);
    const std::pair<PeerProcess*, const char*> heard[] = {{host.get(), "chat: <Bob> 对大家说: b"},
                                                          {carol.get(), "chat: <Bob> 对大家说: b"},
                                                          {host.get(), "chat: <Carol> 对大家说: c"},
                                                          {bob.get(), "chat: <Carol> 对大家说: c"},
                                                          {bob.get(), "chat: <你> 对大家说: b"}};
    for (const auto& [peer, prefix] : heard)
        EXPECT_EQ(Numbers(*peer, prefix), all) << prefix;

    // The logins still connected are members once each, and the host still serves them; once
    // they go too, only the good members are left.
    ASSERT_EQ(report.kept.size(), 3u);
    EXPECT_TRUE(report.kept.back().AwaitReceived("zfinal", 5s));
    const std::string kept = "members: 全体, Ann(组长), Bob, Carol, Flood, F00, F49";
    EXPECT_EQ(LastMembers(*host, kept), kept);
    report.kept.clear();
    for (const auto& [peer, left] :
         {std::pair{host.get(), std::string("members: 全体, Ann(组长), Bob, Carol")},
          std::pair{bob.get(), std::string("members: 全体, Ann(组长), Bob(您), Carol")}})
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
