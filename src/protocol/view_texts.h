#pragma once

#include <string>
#include <vector>

#include "record/recorder.h"
#include "session/session.h"

namespace kolvena {

// What the panes and the title show, shared by the window and the headless peer. All GBK.

// The member list: "全体", then each present member in ActiveIndex order with "(组长)" or
// "(您)" and "(休眠)". Empty when nobody is present.
std::vector<std::string> MemberItems(const Session& session);
// The target field: empty outside a session, "全体", or the chosen member's name. A target past
// the present members reads as the last one; the target itself is left as it is.
std::string TargetText(const Session& session);
// "Kolvena v1.0  主题: %s ---- 在线人数: %d " in a session or replay, with the replay state.
std::string TitleText(const Session& session, ReplayState state);

} // namespace kolvena
