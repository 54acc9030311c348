#include "view_texts.h"

#include <algorithm>

#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {

std::vector<std::string> MemberItems(const Session& session) {
    std::vector<std::string> items;
    const std::uint16_t present = session.GetBuddyCount();
    if (present == 0)
        return items;
    items.push_back(KOLVENA_TEXT("全体"));
    const Buddy* self = session.BuddyById(session.selfId);
    for (const Buddy& b : session.roster) {
        if (!b.IsPresent())
            continue;
        std::string text(b.Name());
        // A leader never shows "(您)", also in the leader's own list.
        if (b.role == BuddyRole::Leader)
            text += KOLVENA_TEXT("(组长)");
        else if (&b == self)
            text += KOLVENA_TEXT("(您)");
        if (b.state == BuddyState::Asleep)
            text += KOLVENA_TEXT("(休眠)");
        items.push_back(std::move(text));
    }
    return items;
}

std::string TargetText(const Session& session) {
    if (!session.inSession)
        return {};
    // A target left behind by departures reads as the last member present, which is whom the
    // next line goes to.
    const ActiveIndex shown = std::min(session.target, ActiveIndex(session.GetBuddyCount()));
    if (shown.IsNobody())
        return KOLVENA_TEXT("全体");
    return std::string(session.PresentAt(shown)->Name());
}

std::string TitleText(const Session& session, ReplayState state) {
    const bool replay = state == ReplayState::Playing || state == ReplayState::Paused;
    if (!session.inSession && !replay)
        return KOLVENA_TEXT("Kolvena v1.0 未与会话连接");
    std::string title = Fill(KOLVENA_TEXT("Kolvena v1.0  主题: %s ---- 在线人数: %d "),
                             {session.topic, std::to_string(session.GetBuddyCount())});
    if (state == ReplayState::Playing)
        title += KOLVENA_TEXT("(会话重放--正在播放)");
    else if (state == ReplayState::Paused)
        title += KOLVENA_TEXT("(会话重放--暂停)");
    return title;
}

} // namespace kolvena
