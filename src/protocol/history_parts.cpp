#include "history_parts.h"

#include "packets.h"
#include "session/gbk.h"

namespace kolvena {

std::vector<SessionEvent> SessionStateEvents(const Session& session) {
    const std::vector<Buddy>& roster = session.roster;
    const std::size_t own = session.selfId.value;
    const std::size_t self = own >= 1 && own <= roster.size() ? own : roster.size();
    std::vector<SessionEvent> events;
    const std::vector<Buddy> upToSelf(roster.begin(), roster.begin() + self);
    if (const auto welcome =
            BuildWelcome(session.topic, static_cast<std::uint32_t>(session.createdAt),
                         session.messageText, upToSelf))
        events.push_back({EventKind::EvSessionJoined, 0, *welcome});
    std::vector<bool> present;
    for (std::size_t p = 0; p < self; ++p)
        present.push_back(roster[p].IsPresent());
    for (std::size_t p = self; p < roster.size(); ++p) {
        events.push_back({EventKind::EvMemberJoined, 0,
                          BuildMemberJoined(roster[p].Name(), roster[p].Address())});
        present.push_back(true);
    }
    for (std::size_t p = self; p < roster.size(); ++p) {
        const BuddyId id = static_cast<std::uint16_t>(p + 1);
        if (!roster[p].IsPresent()) {
            std::uint16_t index = 0;
            for (std::size_t q = 0; q <= p; ++q)
                index = static_cast<std::uint16_t>(index + (present[q] ? 1 : 0));
            present[p] = false;
            events.push_back({EventKind::EvMemberLeft, 0, BuildMemberLeft(index)});
        } else if (roster[p].state == BuddyState::Asleep) {
            events.push_back(
                {EventKind::EvAsleep, 0, BuildPresence(PacketType::Sleep, PresencePacket{id})});
        }
    }
    return events;
}

NextPartOpening NextPartOpeningFor(CoreParts& core) {
    return [&core](std::uint32_t part) {
        if (part == 2) {
            core.show.Say(
                KOLVENA_TEXT("-->> 会话录象已达到 65535 个事件, 此后的事件录入会话历史的下一部分, "
                             "每一部分都可以单独播放。"));
            core.view.RefreshChat();
        }
        return SessionStateEvents(core.session);
    };
}

} // namespace kolvena
