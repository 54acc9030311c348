#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "protocol/session_core.h"
#include "support/fakes.h"

// A fake used the way the real endpoint never allows fails the test; under the fuzzer, where
// there is no test to fail, it is a finding.
#ifdef KOLVENA_FUZZ_BUILD
#include <cstdlib>
#define KOLVENA_FAKE_MISUSE(what) std::abort()
#else
#include <gtest/gtest.h>
#define KOLVENA_FAKE_MISUSE(what) ADD_FAILURE() << what
#endif

namespace kolvena::test {

// An endpoint without sockets: it records what was sent where and lets a test add and remove
// connections. Connection ids are handed out from 1; slots follow the order of Promote. Like the
// real link, it takes nothing for a slot that has no connection: such a send fails the test.
class FakeTransport final : public Transport {
public:
    struct Sent {
        std::size_t slot; // 0 on a client
        std::string packet;
        ConnectionId connection = 0; // the slot's connection when it was sent; 0 on a client
    };

    bool Init() override {
        ++inits;
        return initOk;
    }
    bool Serve() override {
        if (!serveOk)
            return false;
        serving = active = accepting = true;
        code = MakeAddressCode(ownAddress);
        return true;
    }
    void StartConnect(JoinMode mode, AddressCode c, const std::string& address,
                      std::uint16_t port) override {
        connects.push_back({mode, c, address, port});
    }
    bool Shutdown() override {
        if (!active && !serving)
            return false;
        active = serving = false;
        members.clear();
        pending.clear();
        ++shutdowns;
        return true;
    }
    void Send(MemberSlot slot, std::string_view packet) override {
        if (slot.value < 1 || slot.value > members.size()) {
            KOLVENA_FAKE_MISUSE("send to slot " << slot.value << " of " << members.size());
            return;
        }
        sent.push_back({slot.value, std::string(packet), members[slot.value - 1]});
    }
    void SendToHost(std::string_view packet) override { sent.push_back({0, std::string(packet)}); }
    void Broadcast(std::string_view packet) override {
        for (std::size_t slot = 1; slot <= members.size(); ++slot)
            sent.push_back({slot, std::string(packet), members[slot - 1]});
    }
    void CloseSlot(MemberSlot slot) override {
        if (slot.value >= 1 && slot.value <= members.size())
            members.erase(members.begin() + static_cast<std::ptrdiff_t>(slot.value - 1));
        else
            KOLVENA_FAKE_MISUSE("close of slot " << slot.value << " of " << members.size());
        closed.push_back(slot.value);
        closedAfter.push_back(sent.size());
    }
    std::string OwnAddressText() const override { return ownAddress; }
    std::string AddressText(MemberSlot slot) const override {
        if (slot.value < 1 || slot.value > members.size()) {
            KOLVENA_FAKE_MISUSE("address of slot " << slot.value << " of " << members.size());
            return {};
        }
        return addresses.at(members[slot.value - 1]);
    }
    std::uint16_t OwnPort() const override { return SESSION_PORT; }
    std::size_t SlotCount() const override { return members.size(); }
    AddressCode Code() const override { return code; }
    bool IsServing() const override { return serving; }
    bool Accepting() const override { return accepting; }
    void SetAccepting(bool value) override { accepting = value; }
    std::size_t PendingCount() const override { return pending.size(); }
    std::optional<MemberSlot> SlotOf(ConnectionId connection) const override {
        for (std::size_t i = 0; i < members.size(); ++i)
            if (members[i] == connection)
                return MemberSlot(i + 1);
        return std::nullopt;
    }
    MemberSlot Promote(ConnectionId connection) override {
        // A member keeps its slot.
        if (const auto slot = SlotOf(connection))
            return *slot;
        std::erase(pending, connection);
        members.push_back(connection);
        return MemberSlot(members.size());
    }

    // A connection arrives; it waits for its Login. Returns its id.
    ConnectionId Connect(std::string address = "10.0.0.9") {
        const ConnectionId id = nextId++;
        pending.push_back(id);
        addresses[id] = std::move(address);
        return id;
    }
    // Packets sent on a slot, in order.
    std::vector<std::string> SentTo(std::size_t slot) const {
        std::vector<std::string> out;
        for (const Sent& s : sent)
            if (s.slot == slot)
                out.push_back(s.packet);
        return out;
    }

    std::string ownAddress = "192.168.0.7";
    bool initOk = true, serveOk = true, serving = false, active = false, accepting = false;
    AddressCode code = 0;
    int inits = 0, shutdowns = 0;
    std::vector<ConnectionId> members; // slot k is members[k - 1]
    std::vector<ConnectionId> pending;
    std::map<ConnectionId, std::string> addresses;
    std::vector<Sent> sent;
    std::vector<std::size_t> closed;
    std::vector<std::size_t> closedAfter; // how many packets had been sent at each close
    struct ConnectCall {
        JoinMode mode;
        AddressCode code;
        std::string address;
        std::uint16_t port = 0;
    };
    std::vector<ConnectCall> connects;
    ConnectionId nextId = 1;
};

// Counts the refreshes and remembers the window mode and the join timer.
class CountingView final : public SessionView {
public:
    void RefreshChat() override { ++chat; }
    void RefreshMessages() override { ++messages; }
    void RefreshMembers() override { ++members; }
    void RefreshTarget() override { ++target; }
    void RefreshTitle() override { ++title; }
    void RefreshCommands() override { ++commands; }
    void SetWindowMode(WindowMode m) override { mode = m; }
    void SetJoinTimer(bool running) override { joinTimer = running; }
    void ReplayLoaded() override { ++replayLoaded; }
    void ReplayChanged() override { ++replayChanged; }
    void HoldRefreshes(bool hold) override { holding = hold; }

    int chat = 0, messages = 0, members = 0, target = 0, title = 0, commands = 0;
    int replayLoaded = 0, replayChanged = 0;
    bool holding = false, joinTimer = false;
    WindowMode mode = WindowMode::Idle;
};

class FakeTransfers final : public TransferStarter {
public:
    bool StartReceiving(const FilePacket& offer) override {
        receiving.push_back(offer);
        return true;
    }
    bool StartSending(const FilePacket& offer, const std::string& address,
                      const std::string&) override {
        sending.push_back({offer, address});
        return true;
    }
    std::vector<FilePacket> receiving;
    std::vector<std::pair<FilePacket, std::string>> sending;
};

// A replay timer the test ticks itself: it only remembers how it was last started.
class FakeReplayTimer final : public ReplayTimer {
public:
    void Start(int milliseconds) override {
        running = true;
        interval = milliseconds;
        starts.push_back(milliseconds);
    }
    void Stop() override { running = false; }
    bool running = false;
    int interval = 0;
    std::vector<int> starts;
};

// A core wired to fakes, started as the program starts.
struct FakeCore {
    FakeCore() { core.Start(); }
    FakeClock clock{1000000000};
    ScriptedPrompter prompter;
    FakeTransport transport;
    CountingView view;
    FakeTransfers transfers;
    FakeReplayTimer replayTimer;
    SessionCore core{clock, prompter, transport, view, transfers, replayTimer};
};

} // namespace kolvena::test
