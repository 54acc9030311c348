// Loads the input as a recording and plays it through a core that talks to nobody: to its end,
// then with a seek to a position the input picks and back to the start, and to its end again.
// Nothing may crash, a replay must end within its events, and it must never record.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "offline_core.h"
#include "support/core_access.h"

namespace kolvena::fuzz {
namespace {

constexpr std::uint16_t SPEEDS[] = {SPEED_SLOW, SPEED_NORMAL, SPEED_FAST, SPEED_FASTEST};

} // namespace
} // namespace kolvena::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kolvena;
    using namespace kolvena::fuzz;
    OfflineCore o;
    EventLog& log = test::RecorderOf(o.core).log;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    if (!log.ReadLog(in))
        return 0;
    const std::size_t events = log.events.size();

    // The last bytes, which a recording's events rarely constrain, pick the speed and the seek.
    const std::uint8_t last = size >= 1 ? data[size - 1] : 0;
    const std::uint8_t before = size >= 2 ? data[size - 2] : 0;
    o.core.replay().SetSpeed(SPEEDS[last % std::size(SPEEDS)]);
    const auto position = static_cast<std::uint32_t>(((before << 8) | last) % (events + 2));

    o.core.replay().Begin();
    o.core.replay().TogglePause();
    PlayToEnd(o);
    Check(log.events.size() == events);

    // Played again from the start, the slider dragged to the position and back.
    o.core.replay().PlayButton();
    o.core.replay().Seek(position);
    Check(log.cursor <= events + 1);
    o.core.replay().Seek(0);
    if (o.core.recorder().state == ReplayState::Paused)
        o.core.replay().TogglePause();
    PlayToEnd(o);
    Check(log.events.size() == events);
    o.core.replay().Stop();
    return 0;
}
