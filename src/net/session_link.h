#pragma once

#include <QAbstractSocket>
#include <QHostAddress>
#include <QObject>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "connect_thread.h"
#include "net_socket.h"
#include "protocol/transport.h"
#include "search_responder.h"
#include "session/prompter.h"
#include "thread_mailbox.h"

namespace kolvena {

struct LinkOptions {
    std::uint16_t port = SESSION_PORT;
    QHostAddress bindAddress{QHostAddress::AnyIPv4};
    // The address announced as the own one; empty: found from the machine's interfaces.
    std::string ownAddress;
    // A connection that has not logged in by then is closed.
    std::chrono::milliseconds loginTimeout{30000};
    // A connect to a host that answers nothing fails after this.
    std::chrono::milliseconds connectTimeout{30000};
    // A member whose unsent bytes pass this is disconnected.
    std::size_t queueCap = std::size_t{1} << 20;
};

// The first non-loopback IPv4 address of the machine's interfaces, else the first IPv4
// address the host name resolves to, else "error!".
std::string DiscoverOwnAddress();

// The session endpoint of the window (or of the headless peer), on that object's thread. It
// serves as host or connects as client, cuts every connection's stream into packets and
// reports them, closes and departures to the listener. While it hosts it also answers searches
// of the local network on UDP at the session's port number and address, from what the
// listener answers. Listener calls may run a nested event
// loop (a modal box), so every connection is looked up again by its id after each call.
class SessionLink final : public QObject, public Transport {
public:
    SessionLink(Prompter& prompter, LinkOptions options = {});
    ~SessionLink() override;
    SessionLink(const SessionLink&) = delete;
    SessionLink& operator=(const SessionLink&) = delete;

    // Who hears of packets, arrivals and departures; may be null (then nothing is admitted).
    void SetListener(LinkListener* listener) { listener_ = listener; }
    const LinkOptions& Options() const { return options_; }
    // A connect runs in the background; its outcome has not arrived yet.
    bool Connecting() const { return connectThread_ != nullptr; }

    bool Init() override;
    bool Serve() override;
    void StartConnect(JoinMode mode, AddressCode code, const std::string& address,
                      std::uint16_t port) override;
    bool Shutdown() override;

    void Send(MemberSlot slot, std::string_view packet) override;
    void SendToHost(std::string_view packet) override;
    void Broadcast(std::string_view packet) override;
    void CloseSlot(MemberSlot slot) override;
    std::string OwnAddressText() const override;
    std::string AddressText(MemberSlot slot) const override;
    std::uint16_t OwnPort() const override;
    std::size_t SlotCount() const override { return net_.SlotCount(); }
    AddressCode Code() const override { return code_; }
    bool IsServing() const override { return active_ && isServer_; }
    // Connected to a host as a client.
    bool IsConnected() const { return active_ && !isServer_; }

    bool Accepting() const override { return accepting_; }
    void SetAccepting(bool accepting) override { accepting_ = accepting; }

    // What was sent goes out before the caller does slower work of its own (the window's
    // display), rather than after it.
    void WriteOutQueued() { net_.WriteOutQueued(); }

    std::size_t PendingCount() const override { return net_.PendingCount(); }
    std::optional<MemberSlot> SlotOf(ConnectionId connection) const override {
        const std::size_t slot = net_.SlotOf(connection);
        return slot == 0 ? std::nullopt : std::optional(MemberSlot(slot));
    }
    MemberSlot Promote(ConnectionId connection) override {
        return MemberSlot(net_.Promote(connection));
    }

private:
    // Host.
    void WatchServer();
    // Answers searches while hosting; a port that is taken costs only the searches, and the
    // leader hears of it once.
    void StartResponder();
    void OnNewConnection();
    void OnAcceptError(QAbstractSocket::SocketError error);
    void AdmitWaiting(QTcpSocket* socket);
    void ReadMember(ConnectionId id);
    void OnMemberClosed(ConnectionId id);
    void OnLoginTimeout(ConnectionId id);
    void OnOverflow(ConnectionId id);
    // Closes the connection; a member's going is reported once, a waiting one goes silently.
    void Depart(ConnectionId id);
    void Write(MemberConnection& connection, std::string_view packet);

    // Client.
    void FailConnect(std::uint64_t attempt, const char* message);
    void OnConnectDone(std::uint64_t attempt, AddressCode code, std::uint16_t port,
                       ConnectOutcome outcome);
    void ReadHost();
    void OnHostClosed();
    // Closes the host connection and reports it, once.
    void HostGone();

    // Every socket closed, silently; idle.
    void CloseEverything();

    Prompter& prompter_;
    LinkOptions options_;
    LinkListener* listener_ = nullptr;
    NetSocket net_;

    bool active_ = false;
    bool isServer_ = false;
    bool accepting_ = false;
    AddressCode code_ = 0;
    std::uint16_t ownPort_ = 0;  // of the last listen or connect
    bool acceptFailing_ = false; // the last accept failed and its box was shown

    // Ids are never reused, so a late call for a closed connection finds nothing.
    ConnectionId nextConnection_ = 1;
    // Changes whenever everything is closed, so that work begun before finds itself stale.
    std::uint64_t generation_ = 0;
    // The latest connect attempt; the outcome of an older one is dropped.
    std::uint64_t connectAttempt_ = 0;
    // Declared before the worker, so that it outlives the worker's join.
    std::unique_ptr<SearchResponder> responder_; // while hosting
    ThreadMailbox mailbox_;
    std::unique_ptr<CConnectThread> connectThread_;
};

} // namespace kolvena
