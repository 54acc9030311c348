#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/session_link.h"
#include "protocol/packets.h"
#include "support/fakes.h"
#include "support/raw_socket.h"

namespace kolvena::test {

using namespace std::chrono_literals;
using Packets = std::vector<std::string>;

// Runs the event loop until done() holds or the limit passes; whether it held.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms);
// Runs the event loop for a while, as a modal box would.
inline void Pump(std::chrono::milliseconds duration) {
    WaitFor([] { return false; }, duration);
}

// Records every listener call; promotes on Login and closes the slot of a departure, as the
// core does, unless told not to.
class RecordingListener final : public LinkListener {
public:
    explicit RecordingListener(SessionLink& link) : link_(link) { link.SetListener(this); }

    bool OnConnectionPending() override {
        ++pendingCalls;
        return admit;
    }
    void OnHostPacket(ConnectionId connection, std::string packet) override {
        hostPackets.emplace_back(connection, packet);
        if (promoteOnLogin && !packet.empty() && packet[0] == static_cast<char>(PacketType::Login))
            link_.Promote(connection);
        if (duringHostPacket)
            duringHostPacket(connection, packet);
    }
    void OnMemberLeave(ConnectionId connection) override {
        leaves.push_back(connection);
        if (const auto slot = link_.SlotOf(connection); slot && closeOnLeave)
            link_.CloseSlot(*slot);
    }
    void OnClientPacket(std::string packet) override { clientPackets.push_back(std::move(packet)); }
    void OnHostGone() override { ++hostGone; }
    void OnConnectResult(bool connected) override { connectResults.push_back(connected); }
    std::size_t Calls() const {
        return pendingCalls + hostPackets.size() + leaves.size() + clientPackets.size() + hostGone +
               connectResults.size();
    }

    // The packets from one connection (0: from all), in order.
    Packets PacketsFrom(ConnectionId connection = 0) const {
        Packets out;
        for (const auto& [id, packet] : hostPackets)
            if (connection == 0 || id == connection)
                out.push_back(packet);
        return out;
    }

    bool admit = true;
    bool promoteOnLogin = true;
    bool closeOnLeave = true;
    // Runs inside each host packet call, after it is recorded.
    std::function<void(ConnectionId, const std::string&)> duringHostPacket;

    std::size_t pendingCalls = 0;
    std::vector<std::pair<ConnectionId, std::string>> hostPackets;
    std::vector<ConnectionId> leaves;
    Packets clientPackets;
    std::size_t hostGone = 0;
    std::vector<bool> connectResults;

private:
    SessionLink& link_;
};

// Whether the peer closed the raw socket within the wait; what came before is dropped.
inline bool WaitClosed(RawSocket& socket, std::chrono::milliseconds limit = 3000ms) {
    std::string bytes;
    return WaitFor([&] { return !socket.ReceiveSome(bytes, 0ms); }, limit);
}

// Options for tests: loopback only, a free port, short waits.
inline LinkOptions LoopbackOptions(std::uint16_t port = 0) {
    LinkOptions options;
    options.port = port;
    options.bindAddress = QHostAddress::LocalHost;
    options.ownAddress = "127.0.0.1";
    return options;
}

// One end of a session: a link with its prompter and a recording listener.
struct LinkEnd {
    explicit LinkEnd(LinkOptions options = LoopbackOptions())
        : link(std::make_unique<SessionLink>(prompter, std::move(options))), events(*link) {}

    std::vector<ScriptedPrompter::Box>& Boxes() { return prompter.boxes; }

    ScriptedPrompter prompter;
    std::unique_ptr<SessionLink> link;
    RecordingListener events;
};

} // namespace kolvena::test
