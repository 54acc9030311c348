#include "member_control.h"

#include <algorithm>
#include <limits>

#include "session/gbk.h"
#include "session/time_text.h"

namespace kolvena {

bool MemberControl::IsMuted(BuddyId id) const {
    return std::ranges::find(muted, id) != muted.end();
}

bool MemberControl::IsRemoved(BuddyId id) const {
    return std::ranges::find(removed, id) != removed.end();
}

bool MemberControl::IsRefused(std::string_view address) const {
    return std::ranges::find(refused, address) != refused.end();
}

const char* StatusText(MemberStatus status) {
    switch (status) {
    case MemberStatus::Online:
        return "在线";
    case MemberStatus::Asleep:
        return "休眠";
    case MemberStatus::Left:
        return "已离开";
    case MemberStatus::Muted:
        return "已禁言";
    case MemberStatus::Removed:
        return "已请出";
    }
    return "";
}

std::array<std::string, MEMBER_COLUMNS> RowTexts(const MemberRow& row) {
    return {FromGbk(row.name),
            std::to_string(row.id.value),
            row.address,
            FormatClock(row.joinTime),
            FormatDuration(row.staySeconds),
            std::to_string(row.says),
            std::to_string(row.messages),
            StatusText(row.status)};
}

std::vector<MemberRow> MemberRows(const Session& session, const MemberControl& control,
                                  CalendarTime now) {
    std::vector<MemberRow> rows;
    rows.reserve(session.roster.size());
    std::uint16_t present = 0;
    for (const Buddy& b : session.roster) {
        MemberRow row;
        row.id = b.Id();
        row.leader = b.role == BuddyRole::Leader;
        row.name = b.Name();
        row.address = b.Address();
        row.joinTime = b.joinTime;
        row.says = b.sayCount;
        row.messages = b.messageCount;
        const CalendarTime end = b.IsPresent() ? now : static_cast<CalendarTime>(b.leaveTime);
        // A clock that went back shows no stay rather than a garbled one.
        row.staySeconds = static_cast<std::int32_t>(
            std::clamp<CalendarTime>(end - static_cast<CalendarTime>(b.joinTime), 0,
                                     std::numeric_limits<std::int32_t>::max()));
        if (b.IsPresent())
            row.index = ++present;
        if (control.IsRemoved(row.id))
            row.status = MemberStatus::Removed;
        else if (!b.IsPresent())
            row.status = MemberStatus::Left;
        else if (control.IsMuted(row.id))
            row.status = MemberStatus::Muted;
        else if (b.state == BuddyState::Asleep)
            row.status = MemberStatus::Asleep;
        rows.push_back(std::move(row));
    }
    return rows;
}

BuddyId PresentId(const Session& session, ActiveIndex index) {
    const Buddy* member = session.PresentAt(index);
    return member == nullptr ? BuddyId() : member->Id();
}

} // namespace kolvena
