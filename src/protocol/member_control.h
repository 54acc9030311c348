#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "session/session.h"

namespace kolvena {

// What the leader decided about members of the session it hosts. It lasts as long as that
// session and is never stored: a new session starts with nobody muted and no address refused.
struct MemberControl {
    std::vector<BuddyId> muted;
    std::vector<BuddyId> removed;
    std::vector<std::string> refused; // dotted addresses, in the order they were refused
    // When a refused connection was last told in the chat area, per refused address; a flood
    // from one address shows one line a minute, and the map holds refused addresses only.
    std::map<std::string, CalendarTime, std::less<>> refusalShown;

    bool IsMuted(BuddyId id) const;
    bool IsRemoved(BuddyId id) const;
    bool IsRefused(std::string_view address) const;
};

enum class MemberStatus : std::uint8_t { Online, Asleep, Left, Muted, Removed };

// One row of the management table, for every roster record, departed members included.
struct MemberRow {
    BuddyId id;
    ActiveIndex index; // nobody once it has left
    bool leader = false;
    MemberStatus status = MemberStatus::Online;
    std::string name;    // GBK
    std::string address; // dotted
    CalendarTime joinTime = 0;
    std::int32_t staySeconds = 0; // until now, or until it left
    std::uint16_t says = 0;
    std::uint16_t messages = 0;
};

// The table's columns, and a row's texts in that order (UTF-8, ready for a window or a terminal).
inline constexpr std::size_t MEMBER_COLUMNS = 8;
inline constexpr std::array<const char*, MEMBER_COLUMNS> MEMBER_COLUMN_TITLES = {
    "名称", "ID", "地址", "登陆时间", "停留时间", "发言数", "消息数", "状态"};
std::array<std::string, MEMBER_COLUMNS> RowTexts(const MemberRow& row);
// "在线", "休眠", "已离开", "已禁言" or "已请出".
const char* StatusText(MemberStatus status);

// The table as the session stands now, in BuddyID order; a front end rebuilds it after each
// change of the session rather than keeping its own copy.
std::vector<MemberRow> MemberRows(const Session& session, const MemberControl& control,
                                  CalendarTime now);

// The BuddyID of the member at `index` among those present; 0 (nobody) past the list.
BuddyId PresentId(const Session& session, ActiveIndex index);

} // namespace kolvena
