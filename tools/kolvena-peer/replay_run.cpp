#include "replay_run.h"

#include "peer_output.h"
#include "protocol/session_core.h"
#include "record/transcript.h"

namespace kolvena::peer {
namespace {

// Ticks come from the loop below, not from a clock: the timer only remembers whether it runs.
class ImmediateTimer final : public ReplayTimer {
public:
    void Start(int) override { running = true; }
    void Stop() override { running = false; }
    bool running = false;
};

// A replay never talks to anybody; opening a recording shuts down an endpoint that never ran.
class NoTransport final : public Transport {
public:
    bool Init() override { return false; }
    bool Serve() override { return false; }
    void StartConnect(JoinMode, AddressCode, const std::string&) override {}
    bool Shutdown() override { return false; }
    void Send(std::size_t, std::string_view) override {}
    void Broadcast(std::string_view) override {}
    void CloseSlot(std::size_t) override {}
    std::string AddressText(std::size_t) const override { return {}; }
    std::uint16_t OwnPort() const override { return SESSION_PORT; }
    std::size_t SlotCount() const override { return 0; }
    AddressCode Code() const override { return 0; }
    bool IsServing() const override { return false; }
    bool Accepting() const override { return false; }
    void SetAccepting(bool) override {}
    std::size_t PendingCount() const override { return 0; }
    std::size_t SlotOf(ConnectionId) const override { return 0; }
    std::size_t Promote(ConnectionId) override { return 0; }
};

class NoTransfers final : public TransferStarter {
public:
    void StartReceiving(const FilePacket&) override {}
    void StartSending(const FilePacket&, const std::string&) override {}
};

// Ticks beyond one per event: the first tick after opening, and the one that finds the end.
constexpr std::size_t EXTRA_TICKS = 3;

} // namespace

int RunReplay(const PeerOptions& options) {
    SystemClock clock;
    PeerOutput output(options);
    ImmediateTimer timer;
    NoTransport transport;
    NoTransfers transfers;
    SessionCore core(clock, output, transport, output, transfers, timer);
    output.Attach(core);
    core.Start();

    output.SetNextPath(options.recording);
    core.commands.OpenRecording();
    // A file that cannot be read or is malformed leaves nothing loaded; its box has been shown.
    if (core.recorder.state == ReplayState::NoReplay)
        return 1;

    core.replay.TogglePause();
    EventLog& log = core.recorder.log;
    const std::size_t ticks = log.events.size() + EXTRA_TICKS;
    for (std::size_t i = 0; i < ticks && timer.running && !log.ended; ++i)
        core.replay.Tick();

    if (options.role == Role::Transcript) {
        const FileResult result = WriteTranscript(core.session, clock.Now(), options.transcript);
        if (!result.ok) {
            output.Inform("", result.error, BoxIcon::Warning);
            return 1;
        }
    }
    return 0;
}

} // namespace kolvena::peer
