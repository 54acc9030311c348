#pragma once

#include <cstdint>

#include "core_parts.h"
#include "record/event_log.h"
#include "replay_timer.h"

namespace kolvena {

// A loaded replay waits this long before its first tick, and after every seek.
inline constexpr int REPLAY_START_INTERVAL_MS = 1000;

// The timer interval before the next event: a gap of d seconds plays in d * 4000 / speed ms,
// events of the same second follow each other after 1200 / speed ms.
int ReplayInterval(std::int32_t delay, std::uint16_t speed);

// Plays a loaded recording back through the session and its panes, event by event, with the
// texts a live session shows. It never sends and never records.
class ReplayEngine {
public:
    ReplayEngine(CoreParts& core, ReplayTimer& timer);

    // The recording in the log has just been opened: paused at its first event, the timer
    // running, later chat lines without time suffixes for the rest of the run.
    void Begin();
    // One tick of the replay timer: plays the event at the cursor and schedules the next, or
    // ends the replay after the last. A tick that arrives while an event's box is open is
    // ignored, so that no event is applied twice.
    void Tick();
    // Applies one event to the session and the panes, as a tick plays it.
    void DispatchEvent(const SessionEvent& event);

    // The pause command: Playing and Paused swap.
    void TogglePause();
    void SetSpeed(std::uint16_t speed);
    // Rebuilds the session from the start up to `position` events played (the slider's
    // position), keeping the playing or paused state; the last position ends the replay.
    void Seek(std::uint32_t position);
    // The control window's button: starts again from the first event after the end,
    // otherwise plays or pauses.
    void PlayButton();
    // A new session ends the replay: the timer stops.
    void Stop();

    bool TimerRunning() const { return timerRunning_; }
    // The interval the timer was last started with.
    int Interval() const { return interval_; }

private:
    // showBoxes is false while a seek rebuilds the session: the end-of-session box belongs to
    // playing, not to every step of a dragged slider. elapsed is the event's time since the
    // recording's start; the session's clock reads that time meanwhile.
    void Apply(const SessionEvent& event, bool showBoxes, std::int64_t elapsed);
    void ApplyAt(const SessionEvent& event, bool showBoxes);
    // Empties the roster, the chat area and the message window, and shows the banner again.
    void ResetDisplay();
    void StartTimer(int milliseconds);
    void StopTimer();
    void EndReplay();

    CoreParts& core_;
    ReplayTimer& timer_;
    bool timerRunning_ = false;
    int interval_ = 0;
    // Set while an event is applied; ticks arriving meanwhile are ignored.
    bool applying_ = false;
    // Grows whenever the timer is started or stopped, so that a tick can tell that a box it
    // opened let the user seek, restart or load another recording meanwhile.
    std::uint64_t generation_ = 0;
};

} // namespace kolvena
