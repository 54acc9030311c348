#pragma once

#include <QTcpSocket>
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
        ++calls;
        ++pendingCalls;
        return admit;
    }
    void OnHostPacket(ConnectionId connection, std::string packet) override {
        ++calls;
        hostPackets.emplace_back(connection, packet);
        if (promoteOnLogin && !packet.empty() && packet[0] == static_cast<char>(PacketType::Login))
            link_.Promote(connection);
        if (duringHostPacket)
            duringHostPacket(connection, packet);
    }
    void OnMemberLeave(ConnectionId connection) override {
        ++calls;
        leaves.push_back(connection);
        if (const auto slot = link_.SlotOf(connection); slot && closeOnLeave)
            link_.CloseSlot(*slot);
    }
    void OnClientPacket(std::string packet) override {
        ++calls;
        clientPackets.push_back(std::move(packet));
    }
    void OnHostGone() override {
        ++calls;
        ++hostGone;
    }
    void OnConnectResult(bool connected) override {
        ++calls;
        connectResults.push_back(connected);
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

    std::size_t calls = 0;
    int pendingCalls = 0;
    std::vector<std::pair<ConnectionId, std::string>> hostPackets;
    std::vector<ConnectionId> leaves;
    Packets clientPackets;
    int hostGone = 0;
    std::vector<bool> connectResults;

private:
    SessionLink& link_;
};

// A plain socket playing a member, to put exactly the bytes a test wants on the wire.
class RawPeer {
public:
    bool Connect(std::uint16_t port) {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        WaitFor([this] {
            return socket_.state() != QAbstractSocket::HostLookupState &&
                   socket_.state() != QAbstractSocket::ConnectingState;
        });
        return socket_.state() == QAbstractSocket::ConnectedState;
    }
    void Write(std::string_view bytes) {
        socket_.write(bytes.data(), static_cast<qint64>(bytes.size()));
        socket_.flush();
    }
    bool Closed() const { return socket_.state() == QAbstractSocket::UnconnectedState; }
    bool WaitClosed() {
        return WaitFor([this] { return Closed(); });
    }
    // Everything received so far.
    std::string Received() {
        received_ += socket_.readAll().toStdString();
        return received_;
    }
    QTcpSocket& Socket() { return socket_; }

private:
    QTcpSocket socket_;
    std::string received_;
};

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
