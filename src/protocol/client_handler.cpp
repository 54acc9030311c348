#include "client_handler.h"

#include "session_core.h"

namespace kolvena {

void ClientHandler::OnPacket(std::string) {}
void ClientHandler::OnHostGone() {}

} // namespace kolvena
