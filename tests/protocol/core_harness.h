#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "protocol/packets.h"
#include "protocol/sample_packets.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "support/core_fakes.h"

namespace kolvena::test {

// Every packet the endpoint sent, as (slot, bytes); slot 0 is the host, seen from a client.
using SentList = std::vector<std::pair<std::size_t, std::string>>;
using Lines = std::vector<std::string>;
using Events = std::vector<SessionEvent>;
// Sent, new chat lines, boxes, new events.
using Effects = std::tuple<SentList, Lines, Lines, Events>;

inline std::string Chat(PacketType type, std::uint16_t sender, std::uint16_t target,
                        bool whisper = false, std::string text = "hi") {
    return BuildChat(
        type, {"", target, sender, static_cast<std::uint8_t>(whisper ? 1 : 0), 0, std::move(text)});
}

inline SentList To(std::initializer_list<std::size_t> onSlots, const std::string& packet) {
    SentList out;
    for (std::size_t slot : onSlots)
        out.emplace_back(slot, packet);
    return out;
}
// The same packet on the three slots of HostWithDeparted.
inline SentList ToAll(const std::string& packet) {
    return To({1, 2, 3}, packet);
}

inline Events Rec(EventKind kind, const std::string& packet) {
    return {{kind, 0, packet}};
}

// A core on fakes and the steps that bring it into a session.
struct Core {
    FakeCore f;
    Session& s = SessionOf(f.core);
    Commands& cmd = f.core.commands();
    Recorder& recorder = RecorderOf(f.core);
    EventLog& log = recorder.log;
    ScriptedPrompter& p = f.prompter;
    FakeTransport& net = f.transport;
    std::vector<ConnectionId> ids; // the members' connections, in the order they logged in

    // "Leader" hosts "Topic" and the named members log in, on slots 1, 2, ...
    void Host(std::initializer_list<const char*> members = {}) {
        ASSERT_TRUE(cmd.CreateBegin());
        ASSERT_TRUE(cmd.CreateFinish("Leader", "Topic"));
        for (const char* name : members)
            Join(name);
        Forget();
    }
    void Join(const std::string& name) {
        EXPECT_TRUE(f.core.OnConnectionPending());
        ids.push_back(net.Connect("10.0.0." + std::to_string(net.nextId)));
        f.core.OnHostPacket(ids.back(), BuildLogin(name));
    }
    // Bob, Cat, Dan and Eve joined (BuddyIDs 2 to 5) and Cat left: Bob, Dan and Eve are
    // ActiveIndex 2, 3 and 4 on slots 1, 2 and 3.
    void HostWithDeparted() {
        Host({"Bob", "Cat", "Dan", "Eve"});
        f.core.OnMemberLeave(ids[1]);
        Forget();
    }
    // Connected to a host, logged in as "Guest", no roster yet.
    void Connect() {
        ASSERT_TRUE(cmd.JoinBegin());
        cmd.JoinFinish({"Guest", JoinMode::ByCode, 1234, "", 6636});
        net.active = true; // the socket Init made
        cmd.OnConnectResult(true);
        Forget();
    }
    static std::string WelcomePacket() {
        std::vector<Buddy> roster;
        for (const char* name : {"Leader", "Gone", "Bob", "Guest"})
            roster.push_back(Buddy::Make(name, "10.0.0.1", BuddyRole::Member));
        for (std::uint32_t id = 1; id <= 4; ++id)
            roster[id - 1].id = id;
        roster[0].role = BuddyRole::Leader;
        roster[1].state = BuddyState::Left;
        return *BuildWelcome("Topic", 992872987,
                             std::string(MessageWindowHeader()) + "Massage: hi\r\n", roster);
    }
    // After the Welcome: Leader, Gone (left), Bob and Guest, BuddyIDs 1 to 4; Bob and the user
    // are ActiveIndex 2 and 3.
    void Client() {
        Connect();
        f.core.OnClientPacket(WelcomePacket());
        Forget();
    }
    void Forget() {
        p.boxes.clear();
        net.sent.clear();
    }

    SentList TakeSent() {
        SentList out;
        for (auto& sent : net.sent)
            out.emplace_back(sent.slot, std::move(sent.packet));
        net.sent.clear();
        return out;
    }
    std::string Line() const { return FromGbk(s.lines.back().text); }
    // The chat pane's lines from the given one on, as UTF-8.
    std::vector<std::string> LinesFrom(std::size_t first) const {
        std::vector<std::string> out;
        for (std::size_t i = first; i < s.lines.size(); ++i)
            out.push_back(FromGbk(s.lines[i].text));
        return out;
    }
    // Every box shown, as "caption|text" or as its text alone.
    std::vector<std::string> Boxes(bool captions = true) const {
        std::vector<std::string> out;
        for (const auto& box : p.boxes)
            out.push_back(captions ? box.caption + "|" + box.text : box.text);
        return out;
    }
    // What one action sent, added to the chat pane, showed in boxes and recorded.
    template <class Act> Effects Run(Act&& act, bool captions = false) {
        Forget();
        const std::size_t lines = s.lines.size(), events = log.events.size();
        act();
        return {TakeSent(),
                LinesFrom(lines),
                Boxes(captions),
                {log.events.begin() + static_cast<std::ptrdiff_t>(events), log.events.end()}};
    }
};

} // namespace kolvena::test

// The harness's names, for a test that takes them with `using namespace test::harness`.
namespace kolvena::test::harness {
using test::Chat;
using test::Core;
using test::Events;
using test::Lines;
using test::Rec;
using test::Relayed;
using test::SentList;
using test::To;
using test::ToAll;
using E = EventKind;
using P = PacketType;
} // namespace kolvena::test::harness
