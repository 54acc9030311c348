#pragma once

// What the replay and transcript targets share: a core that talks to nobody, and playing its
// replay to the end within a bound.
#include <cstddef>
#include <cstdlib>

#include "protocol/offline.h"
#include "support/core_fakes.h"

namespace kolvena::fuzz {

// Ticks beyond one per event: the first after opening and the one that finds the end; the rest
// is slack, so that a replay that fails to end is caught rather than looped on.
inline constexpr std::size_t EXTRA_TICKS = 8;

inline void Check(bool condition) {
    if (!condition)
        std::abort();
}

struct OfflineCore {
    OfflineCore() { core.Start(); }
    test::FakeClock clock{1000000000};
    test::ScriptedPrompter prompter;
    OfflineTransport transport;
    test::CountingView view;
    OfflineTransfers transfers;
    test::FakeReplayTimer timer;
    SessionCore core{clock, prompter, transport, view, transfers, timer};
};

// Ticks while the timer runs, a second apart; the replay must have ended by the bound, and a
// tick after the end must change nothing.
inline void PlayToEnd(OfflineCore& o) {
    const EventLog& log = o.core.recorder().log;
    const std::size_t ticks = log.events.size() + EXTRA_TICKS;
    for (std::size_t i = 0; i < ticks && o.timer.running && !log.ended; ++i) {
        o.clock.Advance(1);
        o.core.replay().Tick();
    }
    Check(log.ended);
    const std::uint32_t cursor = log.cursor;
    o.core.replay().Tick();
    Check(log.ended && log.cursor == cursor);
}

} // namespace kolvena::fuzz
