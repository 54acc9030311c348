#include "replay_timer_qt.h"

#include <algorithm>

namespace kolvena::ui {

QtReplayTimer::QtReplayTimer() {
    // Gaps of a few hundred milliseconds would drift with a coarse timer.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (tick_)
            tick_();
    });
}

void QtReplayTimer::OnTick(std::function<void()> tick) {
    tick_ = std::move(tick);
}

void QtReplayTimer::Start(int milliseconds) {
    // A zero interval would tick on every pass of the event loop.
    timer_.start(std::max(milliseconds, 1));
}

void QtReplayTimer::Stop() {
    timer_.stop();
}

} // namespace kolvena::ui
