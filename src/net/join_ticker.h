#pragma once

#include <QTimer>

#include "protocol/session_core.h"

namespace kolvena {

// While a join is under way, the joining line gets one more dot a second; both front ends
// run it from their SessionView::SetJoinTimer.
class JoinTicker {
public:
    explicit JoinTicker(SessionCore& core) {
        timer_.setInterval(TICK_MS);
        QObject::connect(&timer_, &QTimer::timeout, [&core] { core.commands().JoinTick(); });
    }
    void Set(bool running) {
        if (running)
            timer_.start();
        else
            timer_.stop();
    }

private:
    static constexpr int TICK_MS = 1000;
    QTimer timer_;
};

} // namespace kolvena
