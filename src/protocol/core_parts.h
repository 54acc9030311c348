#pragma once

#include <string>

#include "member_control.h"
#include "record/recorder.h"
#include "session/session.h"
#include "session_effects.h"
#include "session_view.h"
#include "transfer_starter.h"
#include "transport.h"

namespace kolvena {

// What the handlers, the commands and the replay of one core share: the front end's endpoint,
// prompter, view and transfers, and the session with its recording. Only the core's own parts
// see it; the front ends go through SessionCore.
struct CoreParts {
    CoreParts(const Clock& clock, Prompter& prompter, Transport& transport, SessionView& view,
              TransferStarter& transfers)
        : clock(clock), prompter(prompter), transport(transport), view(view), transfers(transfers),
          session(clock, prompter), recorder(clock, prompter), show(session, view, prompter) {}
    CoreParts(const CoreParts&) = delete;
    CoreParts& operator=(const CoreParts&) = delete;

    const Clock& clock;
    Prompter& prompter;
    Transport& transport;
    SessionView& view;
    TransferStarter& transfers;

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
