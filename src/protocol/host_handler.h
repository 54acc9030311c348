#pragma once

#include <string>

#include "core_parts.h"
#include "transport.h"

namespace kolvena {

// What the host does when a connection arrives, a member packet arrives or a member leaves.
// Every handler works on its own copy of the packet and looks the member up again after any
// question box, because a member may leave while the box is open.
class HostHandler {
public:
    explicit HostHandler(CoreParts& core) : core_(core) {}

    bool OnConnectionPending();
    void OnPacket(ConnectionId connection, std::string packet);
    void OnMemberLeave(ConnectionId connection);
    // The member on the slot leaves: its connection closes and the others hear of it.
    void Depart(MemberSlot slot);
    // Whether a connection from the address is refused; a refusal is told in the chat area at
    // most once a minute per address.
    bool RefuseConnection(const std::string& address);

private:
    void OnLogin(ConnectionId connection, std::string& packet);
    void OnSay(ConnectionId connection, std::string& packet);
    void OnNotice(ConnectionId connection, std::string& packet);
    void OnRename(ConnectionId connection, std::string& packet);
    void OnPresence(ConnectionId connection, std::string& packet, bool asleep);
    void OnFileOffer(ConnectionId connection, std::string& packet);
    void OnFileAnswer(ConnectionId connection, std::string& packet, bool accepted);

    CoreParts& core_;
};

} // namespace kolvena
