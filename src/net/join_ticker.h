#pragma once

#include <QTimer>

#include "net/session_link.h"
#include "protocol/session_core.h"

namespace kolvena {

// While a join is under way, the joining line gets one more dot a second; both front ends
// run it from their SessionView::SetJoinTimer. Given the link, it ticks only while the link
// still connects: a failure's box may hold the outcome up, and the dots stop under it.
class JoinTicker {
public:
    explicit JoinTicker(SessionCore& core, const SessionLink* link = nullptr) {
        timer_.setInterval(TICK_MS);
        QObject::connect(&timer_, &QTimer::timeout, [&core, link] {
            if (link == nullptr || link->Connecting())
                core.commands().JoinTick();
        });
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
