#pragma once

namespace kolvena {

// The replay's periodic timer. The window runs it on its event loop; tests and the headless
// replay tick it themselves, without waiting in real time.
class ReplayTimer {
public:
    virtual ~ReplayTimer() = default;
    // (Re)starts the timer: a tick every `milliseconds` until stopped or restarted.
    virtual void Start(int milliseconds) = 0;
    virtual void Stop() = 0;
};

// A timer that never ticks, for front ends that replay nothing.
ReplayTimer& NoReplayTimer();

} // namespace kolvena
