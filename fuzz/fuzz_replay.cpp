// Loads the input as a recording and plays it through a core that talks to nobody: to its end,
// then with a seek to a position the input picks and back to the start, and to its end again.
// Nothing may crash, a replay must end within its events, and it must never record.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "protocol/offline.h"
#include "support/core_fakes.h"

namespace kolvena {
namespace {

// Ticks beyond one per event: the first after opening and the one that finds the end; the rest
// is slack, so that a replay that fails to end is caught rather than looped on.
constexpr std::size_t EXTRA_TICKS = 8;
constexpr std::uint16_t SPEEDS[] = {SPEED_SLOW, SPEED_NORMAL, SPEED_FAST, SPEED_FASTEST};

void Check(bool condition) {
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

// Ticks while the timer runs; the replay must have ended by the bound.
void PlayToEnd(OfflineCore& o) {
    EventLog& log = o.core.recorder.log;
    const std::size_t ticks = log.events.size() + EXTRA_TICKS;
    for (std::size_t i = 0; i < ticks && o.timer.running && !log.ended; ++i)
        o.core.replay.Tick();
    Check(log.ended);
    // A seek to the end leaves the timer running; its ticks must change nothing.
    const std::uint32_t cursor = log.cursor;
    o.core.replay.Tick();
    Check(log.ended && log.cursor == cursor);
}

} // namespace
} // namespace kolvena

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kolvena;
    OfflineCore o;
    EventLog& log = o.core.recorder.log;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    if (!log.ReadLog(in))
        return 0;
    const std::size_t events = log.events.size();

    // The last bytes, which a recording's events rarely constrain, pick the speed and the seek.
    const std::uint8_t last = size >= 1 ? data[size - 1] : 0;
    const std::uint8_t before = size >= 2 ? data[size - 2] : 0;
    o.core.replay.SetSpeed(SPEEDS[last % std::size(SPEEDS)]);
    const auto position = static_cast<std::uint32_t>(((before << 8) | last) % (events + 2));

    o.core.replay.Begin();
    o.core.replay.TogglePause();
    PlayToEnd(o);
    Check(log.events.size() == events);

    // Played again from the start, the slider dragged to the position and back.
    o.core.replay.PlayButton();
    o.core.replay.Seek(position);
    Check(log.cursor <= events + 1);
    o.core.replay.Seek(0);
    if (o.core.recorder.state == ReplayState::Paused)
        o.core.replay.TogglePause();
    PlayToEnd(o);
    Check(log.events.size() == events);
    o.core.replay.Stop();
    return 0;
}
