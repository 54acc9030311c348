#pragma once

#include <QTcpServer>
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
#include "support/fakes.h"

namespace kolvena::test {

using namespace std::chrono_literals;

// Runs the event loop until done() holds or the limit passes; whether it held.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 3000ms);
// Runs the event loop for a while, as a modal box would.
void Pump(std::chrono::milliseconds duration);

// Records every listener call; can promote on Login and close the slot of a departure, as the
// core does.
class RecordingListener final : public LinkListener {
public:
    explicit RecordingListener(SessionLink& link) : link_(link) { link.SetListener(this); }

    bool OnConnectionPending() override;
    void OnHostPacket(ConnectionId connection, std::string packet) override;
    void OnMemberLeave(ConnectionId connection) override;
    void OnClientPacket(std::string packet) override;
    void OnHostGone() override;
    void OnConnectResult(bool connected) override;

    std::size_t Calls() const { return calls_; }
    // Packets from one connection, in order.
    std::vector<std::string> PacketsFrom(ConnectionId connection) const;

    bool admit = true;
    bool promoteOnLogin = true;
    bool closeOnLeave = true;
    // Set by a test while it is inside a link call that must not call back.
    bool forbidden = false;
    bool calledWhileForbidden = false;
    // Runs inside each host packet call, after it is recorded.
    std::function<void(ConnectionId, const std::string&)> duringHostPacket;

    int pendingCalls = 0;
    std::vector<std::pair<ConnectionId, std::string>> hostPackets;
    std::vector<ConnectionId> leaves;
    std::vector<std::string> clientPackets;
    int hostGone = 0;
    std::vector<bool> connectResults;

private:
    void Count();

    SessionLink& link_;
    std::size_t calls_ = 0;
};

// A plain socket playing a member, to put exactly the bytes a test wants on the wire.
class RawPeer {
public:
    bool Connect(std::uint16_t port);
    // One write, sent at once.
    void Write(std::string_view bytes);
    bool WaitClosed();
    bool Closed() const { return socket_.state() == QAbstractSocket::UnconnectedState; }
    // Everything received so far.
    std::string Received();
    QTcpSocket& Socket() { return socket_; }

private:
    QTcpSocket socket_;
    std::string received_;
};

// One end of a session: a link with its prompter and a recording listener.
struct LinkEnd {
    explicit LinkEnd(LinkOptions options)
        : link(std::make_unique<SessionLink>(prompter, std::move(options))), events(*link) {}

    std::vector<ScriptedPrompter::Box>& Boxes() { return prompter.boxes; }

    ScriptedPrompter prompter;
    std::unique_ptr<SessionLink> link;
    RecordingListener events;
};

// Options for tests: loopback only, a free port, short waits.
LinkOptions LoopbackOptions(std::uint16_t port = 0);

} // namespace kolvena::test
