#pragma once

#include <string>

#include "core_parts.h"

namespace kolvena {

// What a client does with each packet from the host and when the host goes away. Nothing
// from the host counts before its Welcome: a member announced earlier is in the Welcome's
// roster anyway, and taking it first would corrupt the roster and the own BuddyID.
class ClientHandler {
public:
    explicit ClientHandler(CoreParts& core) : core_(core) {}

    void OnPacket(std::string packet);
    void OnHostGone();
    // A new connection waits for its Welcome again.
    void Reset() { welcomed_ = false; }
    bool Welcomed() const { return welcomed_; }

private:
    void OnWelcome(const std::string& packet);
    void OnMemberJoined(const std::string& packet);
    void OnMemberLeft(const std::string& packet);
    void OnSay(const std::string& packet);
    void OnNotice(const std::string& packet);
    void OnNoticeRefused(const std::string& packet);
    void OnRename(const std::string& packet);
    void OnPresence(const std::string& packet, bool asleep);
    void OnFileOffer(std::string packet);
    void OnFileAccepted(const std::string& packet);
    void OnFileRefused(const std::string& packet);

    CoreParts& core_;
    bool welcomed_ = false;
};

} // namespace kolvena
