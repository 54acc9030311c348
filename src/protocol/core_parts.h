#pragma once

#include <optional>
#include <string>

#include "member_control.h"
#include "record/recorder.h"
#include "session/session.h"
#include "session_effects.h"
#include "session_view.h"
#include "transfer_starter.h"
#include "transport.h"

namespace kolvena {

// The clock the session reads: the front end's, except while the replay applies an event, when
// it is the time the event was recorded, so that replayed texts carry the recorded times.
class SessionClock final : public Clock {
public:
    explicit SessionClock(const Clock& real) : real_(real) {}
    CalendarTime Now() const override { return replayed ? *replayed : real_.Now(); }

    std::optional<CalendarTime> replayed;

private:
    const Clock& real_;
};

// What the handlers, the commands and the replay of one core share: the front end's endpoint,
// prompter, view and transfers, and the session with its recording. Only the core's own parts
// see it; the front ends go through SessionCore.
struct CoreParts {
    CoreParts(const Clock& clock, Prompter& prompter, Transport& transport, SessionView& view,
              TransferStarter& transfers)
        : clock(clock), prompter(prompter), transport(transport), view(view), transfers(transfers),
          sessionClock(clock), session(sessionClock, prompter), recorder(clock, prompter),
          show(session, view, prompter) {}
    CoreParts(const CoreParts&) = delete;
    CoreParts& operator=(const CoreParts&) = delete;

    const Clock& clock;
    Prompter& prompter;
    Transport& transport;
    SessionView& view;
    TransferStarter& transfers;

    SessionClock sessionClock;
    Session session;
    Recorder recorder;
    SessionEffects show;
    // The leader's decisions about members while it hosts; a new session starts without any.
    MemberControl control;

    // A join under way: the background connect runs, the name waits for the Login.
    bool joining = false;
    std::string pendingName; // GBK
};

} // namespace kolvena
