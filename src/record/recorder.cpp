#include "recorder.h"

namespace kolvena {

void Recorder::Suspend() {
    if (state == ReplayState::NoReplay)
        return;
    savedState = state;
    state = ReplayState::Paused;
}

void Recorder::Resume() {
    if (state != ReplayState::NoReplay)
        state = savedState;
}

} // namespace kolvena
