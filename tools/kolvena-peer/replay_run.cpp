#include "replay_run.h"

#include "peer_output.h"
#include "protocol/offline.h"
#include "protocol/session_core.h"

namespace kolvena::peer {
namespace {

// Ticks come from the loop below, not from a clock: the timer only remembers whether it runs.
class ImmediateTimer final : public ReplayTimer {
public:
    void Start(int) override { running = true; }
    void Stop() override { running = false; }
    bool running = false;
};

// Ticks beyond one per event: the first tick after opening, and the one that finds the end.
constexpr std::size_t EXTRA_TICKS = 3;

} // namespace

int RunReplay(const PeerOptions& options) {
    SystemClock clock;
    PeerOutput output(options);
    ImmediateTimer timer;
    OfflineTransport transport;
    OfflineTransfers transfers;
    SessionCore core(clock, output, transport, output, transfers, timer);
    output.Attach(core);
    core.Start();

    output.SetNextPath(options.recording);
    core.commands().OpenRecording();
    // A file that cannot be read or is malformed leaves nothing loaded; its box has been shown.
    if (core.recorder().state == ReplayState::NoReplay)
        return 1;

    core.replay().TogglePause();
    const EventLog& log = core.recorder().log;
    const std::size_t ticks = log.events.size() + EXTRA_TICKS;
    for (std::size_t i = 0; i < ticks && timer.running && !log.ended; ++i)
        core.replay().Tick();

    // The window's transcript command, with the file name given.
    if (options.role == Role::Transcript) {
        output.SetNextPath(options.transcript);
        if (!core.commands().SaveTranscript())
            return 1;
    }
    return 0;
}

} // namespace kolvena::peer
