#pragma once

#include <QHostAddress>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "protocol/assembler.h"
#include "protocol/transport.h"
#include "session/prompter.h"

class QObject;
class QTcpServer;
class QTcpSocket;

namespace kolvena {

// The caption of every box the socket layer shows.
inline constexpr const char* SOCKET_CAPTION = "Kolvena";

// A connection the host accepted: waiting for its Login until it is promoted to a member slot.
struct MemberConnection {
    MemberConnection(ConnectionId id, QTcpSocket* socket, std::string address)
        : id(id), socket(socket), address(std::move(address)) {}

    ConnectionId id;
    QTcpSocket* socket; // null once closed while the record still holds its slot
    PacketAssembler assembler{Side::Host};
    std::string address;      // dotted peer address, kept after the socket is closed
    bool member = false;      // holds a slot
    bool departed = false;    // its departure has been reported
    bool overflowing = false; // a disconnect for its full queue is on its way
};

// A client's connection to its host.
struct HostConnection {
    explicit HostConnection(QTcpSocket* socket) : socket(socket) {}

    QTcpSocket* socket;
    PacketAssembler assembler{Side::Client};
    bool gone = false; // the host's going has been reported
};

// The slot-numbered endpoint: slot 0 is the own socket (the host's listening socket, or a
// client's connection to its host), slots 1..n the member connections in the order they
// were promoted. Closing a slot moves the later ones down by one. It owns the sockets (as
// children of the owner, whose signal connections it cuts when it closes one) and never
// calls anybody: what happens on them is the link's business.
class NetSocket {
public:
    NetSocket(QObject& owner, Prompter& prompter) : owner_(owner), prompter_(prompter) {}
    ~NetSocket();
    NetSocket(const NetSocket&) = delete;
    NetSocket& operator=(const NetSocket&) = delete;

    // Slot 0 of a host. False after its box.
    bool Listen(const QHostAddress& address, std::uint16_t port);
    QTcpServer* Server() const { return server_; }
    // A new server object on the same listening socket, so that nothing waiting in the
    // system's queue is lost; false (the old one kept) if that cannot be done.
    bool RenewServer();
    void CloseServer();

    // Slot 0 of a client.
    HostConnection& AdoptHost(QTcpSocket* socket);
    HostConnection* Host() { return host_.get(); }
    void CloseHost();

    MemberConnection& AddWaiting(ConnectionId id, QTcpSocket* socket, std::string address);
    MemberConnection* Find(ConnectionId id);
    // The waiting connection takes the next slot, which is returned; 0 if it is gone.
    std::size_t Promote(ConnectionId id);
    std::size_t SlotOf(ConnectionId id) const;
    // Null for a slot outside 1..SlotCount.
    MemberConnection* AtSlot(std::size_t slot);
    const MemberConnection* AtSlot(std::size_t slot) const;
    std::size_t SlotCount() const { return slots_.size(); }
    std::size_t PendingCount() const { return connections_.size() - slots_.size(); }

    // Closes the socket; the record keeps its slot until Close.
    void Disconnect(MemberConnection& connection);
    // Closes and forgets the connection; the later slots move down.
    void Close(ConnectionId id);
    void CloseAll();
    // Hands every connection's queued bytes to the system now, instead of when control
    // returns to the event loop.
    void WriteOutQueued();

    // The socket layer's box; always false, so that failures can return it.
    bool ReportError(const std::string& text) const;

    // Closes a socket that nothing may hear from again.
    void Discard(QTcpSocket* socket);

private:
    QObject& owner_;
    Prompter& prompter_;
    QTcpServer* server_ = nullptr;
    std::unique_ptr<HostConnection> host_;
    std::map<ConnectionId, std::unique_ptr<MemberConnection>> connections_;
    std::vector<ConnectionId> slots_; // slot k is slots_[k - 1]
};

} // namespace kolvena
