#pragma once

namespace kolvena {

enum class WindowMode { Idle, Live, ReplayLoaded };

// The refreshes a front end makes after the core changed the session. The window repaints its
// panes from the Session; the headless peer prints what changed.
class SessionView {
public:
    virtual ~SessionView() = default;

    virtual void RefreshChat() = 0;
    virtual void RefreshMessages() = 0;
    virtual void RefreshMembers() = 0;
    virtual void RefreshTarget() = 0;
    virtual void RefreshTitle() = 0;
    // The leave and sleep buttons' texts follow the role and the sleep state.
    virtual void RefreshCommands() = 0;
    virtual void SetWindowMode(WindowMode mode) = 0;
    // The joining line gets one more "." a second while this runs (the core's JoinTick).
    virtual void SetJoinTimer(bool running) = 0;
};

} // namespace kolvena
