#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "session/address_code.h"

namespace kolvena {

// A connection the host has accepted, named for as long as it lives; slots shift when an
// earlier member leaves, this never does.
using ConnectionId = std::uint64_t;

// The host listens here and clients connect here; the address code carries no port.
inline constexpr std::uint16_t SESSION_PORT = 6636;

enum class JoinMode : std::uint8_t { ByAddress = 0, ByCode = 1 };

// The session endpoint as the core sees it. Slot 0 is the own socket (the host's listening
// socket, or a client's connection to its host); on the host, member slot k belongs to the
// member with ActiveIndex k + 1. Failures show their own message through the prompter.
class Transport {
public:
    virtual ~Transport() = default;

    // A fresh own socket; false after its message.
    virtual bool Init() = 0;
    // Listens on the session port, opens the door (accepting) and takes the session's code
    // from the own address.
    virtual bool Serve() = 0;
    // Starts connecting in the background; the outcome arrives as LinkListener::OnConnectResult
    // on the same thread. The code is used by code, the address text by address.
    virtual void StartConnect(JoinMode mode, AddressCode code, const std::string& address) = 0;
    // Closes everything (host) or the host connection (client) and is idle again; false if it
    // was not serving or connected.
    virtual bool Shutdown() = 0;

    // Queues the packet on the slot; never blocks.
    virtual void Send(std::size_t slot, std::string_view packet) = 0;
    // Host only: to every member slot in order.
    virtual void Broadcast(std::string_view packet) = 0;
    virtual void CloseSlot(std::size_t slot) = 0;
    // Slot 0: the own host's dotted address; slot k: the member connection's peer address.
    virtual std::string AddressText(std::size_t slot) const = 0;
    virtual std::uint16_t OwnPort() const = 0;
    // Member slots on the host.
    virtual std::size_t SlotCount() const = 0;
    virtual AddressCode Code() const = 0;
    virtual bool IsServing() const = 0;

    // Whether the host admits new connections ("监听客户连接").
    virtual bool Accepting() const = 0;
    virtual void SetAccepting(bool accepting) = 0;

    // Host: connections accepted and still waiting for their Login. They count toward the full
    // test but have no slot, so slot numbers always follow the roster.
    virtual std::size_t PendingCount() const = 0;
    // The member slot of a connection; 0 while it waits for its Login, or once it is gone.
    virtual std::size_t SlotOf(ConnectionId connection) const = 0;
    // The waiting connection becomes the next member slot, which is returned.
    virtual std::size_t Promote(ConnectionId connection) = 0;
};

// What the endpoint reports, on the thread of the window (or of the headless peer). Every
// call counts as a socket notification.
class LinkListener {
public:
    virtual ~LinkListener() = default;

    // Host: a connection is pending. True to accept it (it waits for its Login), false to drop.
    virtual bool OnConnectionPending() = 0;
    // Host: one complete packet from a connection, member or still waiting for its Login.
    virtual void OnHostPacket(ConnectionId connection, std::string packet) = 0;
    // Host: a member connection closed, or broke the protocol, or stopped reading. Called while
    // the connection still holds its slot; the handler closes the slot.
    virtual void OnMemberLeave(ConnectionId connection) = 0;

    // Client: one complete packet from the host.
    virtual void OnClientPacket(std::string packet) = 0;
    // Client: the host connection closed.
    virtual void OnHostGone() = 0;

    // Client: the background connect ended (its success or failure box already shown).
    virtual void OnConnectResult(bool connected) = 0;
};

} // namespace kolvena
