#include "host_handler.h"

#include "session_core.h"

namespace kolvena {

bool HostHandler::OnConnectionPending() {
    return false;
}
void HostHandler::OnPacket(ConnectionId, std::string) {}
void HostHandler::OnMemberLeave(ConnectionId) {}

} // namespace kolvena
