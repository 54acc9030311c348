#pragma once

#include <cstdint>
#include <vector>

#include "core_parts.h"
#include "record/event_log.h"

namespace kolvena {

// The events a next part of the session's recording opens with, so that the part replays on
// its own to the session's roster: a Welcome as a member's recording starts with, carrying the
// topic, the message window and the roster up to the own member (a replayed Welcome makes its
// last record the user), then the members who came after the own member as they joined, left
// and fell asleep.
std::vector<SessionEvent> SessionStateEvents(const Session& session);

// The log's NextPartOpening for a core: those events, and the first time a line in the chat
// area that says so (a box would take the keyboard in the middle of a busy session).
NextPartOpening NextPartOpeningFor(CoreParts& core);

} // namespace kolvena
