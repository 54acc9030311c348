#pragma once

#include <string>

#include "core_parts.h"
#include "member_control.h"

namespace kolvena {

class HostHandler;

// The leader's management of the session it hosts: removing a member, keeping its address out,
// silencing it. Members are named by BuddyID, which stays the same while others come and go.
// Each command refuses with a box outside hosting and for a member it cannot act on (nobody,
// the leader, one who has left), asks for confirmation with the member's name, and looks the
// member up again after the question: one who left meanwhile takes the answer nowhere. True
// when the command was carried out.
class MemberCommands {
public:
    MemberCommands(CoreParts& core, HostHandler& host) : core_(core), host_(host) {}

    // The management window's command: false (after its box) outside hosting.
    bool Begin();
    // The table's rows and the refused addresses, as the session stands now.
    std::vector<MemberRow> Rows() const;
    const std::vector<std::string>& RefusedAddresses() const { return core_.control.refused; }

    // "请出会话": the member is told by a whisper from the leader, then its connection closes
    // and its departure goes as any other.
    bool Remove(BuddyId id);
    // "请出并禁止再加入": Remove, and its address is refused for the rest of the session.
    bool RemoveAndRefuse(BuddyId id);
    // "解除禁止": the address may connect again.
    bool Unrefuse(const std::string& address);
    // "禁言" / "解除禁言": the host drops the member's chat lines and notices meanwhile; the
    // member is told once by a whisper either way.
    bool Mute(BuddyId id, bool muted);

private:
    bool Hosting();
    // The present member the leader may act on, or nothing after the refusal's box.
    const Buddy* Manageable(BuddyId id);
    bool Confirm(Question question, const char* caption, const std::string& text, BuddyId id) const;
    bool RemoveMember(BuddyId id, bool refuse);
    // A whisper from the leader to the present member, recorded and shown as sent.
    void Whisper(BuddyId id, const std::string& text);
    void Refuse(const char* text) const;

    CoreParts& core_;
    HostHandler& host_;
};

} // namespace kolvena
