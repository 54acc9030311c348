#pragma once

#include <cstdint>

#include "event_log.h"

namespace kolvena {

enum class ReplayState : std::uint16_t { NoReplay = 1000, Playing = 1001, Paused = 1002 };

// Replay speed divisors: a gap of d seconds plays in d * 4000 / speed ms.
inline constexpr std::uint16_t SPEED_SLOW = 4;
inline constexpr std::uint16_t SPEED_NORMAL = 8;
inline constexpr std::uint16_t SPEED_FAST = 16;
inline constexpr std::uint16_t SPEED_FASTEST = 32;

// The main window's recording and the state of its replay.
class Recorder {
public:
    Recorder(const Clock& clock, Prompter& prompter) : log(clock, prompter) {}

    // Holds a loaded replay while a create or join dialog is open.
    void Suspend();
    // Puts back the state Suspend held when that dialog is cancelled.
    void Resume();

    ReplayState savedState = ReplayState::NoReplay;
    EventLog log;
    ReplayState state = ReplayState::NoReplay;
    std::uint16_t speed = SPEED_NORMAL;
};

} // namespace kolvena
