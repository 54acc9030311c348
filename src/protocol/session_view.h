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

    // A recording has been opened for replay: the window opens its replay control window if
    // none is open and sets it to the new recording.
    virtual void ReplayLoaded() {}
    // The replay's state, speed, position or end changed, or the replay ended for a new
    // session: check marks, the control window's texts and slider follow (the window closes
    // the control window when nothing is loaded any more).
    virtual void ReplayChanged() {}
    // While held, refreshes may be deferred and made once on release: a seek applies
    // thousands of events and repaints once.
    virtual void HoldRefreshes(bool /*hold*/) {}
    // The leader muted or let speak a member, or refused or let in an address: what the
    // management table shows besides the roster changed. Changes of the roster and its
    // counters come with RefreshMembers, RefreshChat and RefreshMessages.
    virtual void RefreshManagement() {}
};

} // namespace kolvena
