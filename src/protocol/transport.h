#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "search_datagrams.h"
#include "session/address_code.h"
#include "session/member_numbers.h"

namespace kolvena {

// A connection the host has accepted, named for as long as it lives; slots shift when an
// earlier member leaves, this never does.
using ConnectionId = std::uint64_t;

// The host listens here and clients connect here; the address code carries no port.
inline constexpr std::uint16_t SESSION_PORT = 6636;

enum class JoinMode : std::uint8_t { ByAddress = 0, ByCode = 1 };

// A member's connection on the host, numbered from 1 in the order of the members present: slot
// k carries the member with ActiveIndex k + 1, since the leader (1) has no connection. Slots
// move down with the ActiveIndexes when an earlier member leaves.
struct MemberSlot {
    constexpr explicit MemberSlot(std::size_t number) : value(number) {}
    friend constexpr auto operator<=>(MemberSlot, MemberSlot) = default;
    std::size_t value;
};

// The one conversion between the two: nothing for nobody and for the leader.
constexpr std::optional<MemberSlot> SlotFor(ActiveIndex index) {
    if (index.value <= LEADER_INDEX.value)
        return std::nullopt;
    return MemberSlot(index.value - 1u);
}
constexpr ActiveIndex IndexOf(MemberSlot slot) {
    return static_cast<std::uint16_t>(slot.value + 1);
}

// The session endpoint as the core sees it: on the host its listening socket and one
// connection per member slot, on a client its connection to the host. Failures show their own
// message through the prompter.
class Transport {
public:
    virtual ~Transport() = default;

    // A fresh own socket; false after its message.
    virtual bool Init() = 0;
    // Listens on the session port, opens the door (accepting) and takes the session's code
    // from the own address.
    virtual bool Serve() = 0;
    // Starts connecting in the background; the outcome arrives as LinkListener::OnConnectResult
    // on the same thread. The code is used by code, the address text by address; port 0 is
    // the link's own session port.
    virtual void StartConnect(JoinMode mode, AddressCode code, const std::string& address,
                              std::uint16_t port) = 0;
    // Closes everything (host) or the host connection (client) and is idle again; false if it
    // was not serving or connected.
    virtual bool Shutdown() = 0;

    // Host: queues the packet on the member's connection; never blocks.
    virtual void Send(MemberSlot slot, std::string_view packet) = 0;
    // Client: to the host.
    virtual void SendToHost(std::string_view packet) = 0;
    // Host only: to every member slot in order.
    virtual void Broadcast(std::string_view packet) = 0;
    virtual void CloseSlot(MemberSlot slot) = 0;
    // The dotted address this machine is reached at.
    virtual std::string OwnAddressText() const = 0;
    // The member connection's peer address.
    virtual std::string AddressText(MemberSlot slot) const = 0;
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
    // The member slot of a connection; nothing while it waits for its Login, or once it is gone.
    virtual std::optional<MemberSlot> SlotOf(ConnectionId connection) const = 0;
    // The waiting connection becomes the next member slot, which is returned.
    virtual MemberSlot Promote(ConnectionId connection) = 0;
};

// What the endpoint reports, on the thread of the window (or of the headless peer). Every
// call counts as a socket notification.
class LinkListener {
public:
    virtual ~LinkListener() = default;

    // Host: a connection is pending. True to accept it (it waits for its Login), false to drop.
    virtual bool OnConnectionPending() = 0;
    // Host: a connection from the dotted address was accepted, before anything else is done
    // with it. True when the address is refused: the link closes it at once, and it counts
    // neither as a member nor toward the full test.
    virtual bool RefuseConnection(const std::string& /*address*/) { return false; }
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

    // Host: a well-formed search query arrived. The answer as the session stands at this
    // moment, or nothing (not hosting, searching turned off); it changes nothing, and a
    // listener without a session answers nothing.
    virtual std::optional<SearchAnswer> AnswerSearch(std::uint32_t /*queryId*/) const {
        return std::nullopt;
    }
};

} // namespace kolvena
