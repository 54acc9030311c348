#pragma once

#include <QTimer>
#include <functional>

#include "protocol/replay_timer.h"

namespace kolvena::ui {

// The replay's timer on the window's event loop.
class QtReplayTimer final : public ReplayTimer {
public:
    QtReplayTimer();

    // What each tick runs; set once the core that plays the replay exists.
    void OnTick(std::function<void()> tick);

    void Start(int milliseconds) override;
    void Stop() override;

    bool IsActive() const { return timer_.isActive(); }
    int IntervalMs() const { return timer_.interval(); }

private:
    QTimer timer_;
    std::function<void()> tick_;
};

} // namespace kolvena::ui
