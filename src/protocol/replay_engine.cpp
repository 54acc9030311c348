#include "replay_engine.h"

#include <algorithm>
#include <limits>

#include "packets.h"
#include "session/gbk.h"
#include "session/text.h"

namespace kolvena {
namespace {

// The leader's record of a created session: its name, then its own dotted address.
constexpr std::size_t CREATED_PAYLOAD_SIZE = NAME_SIZE + ADDRESS_SIZE;

// A fixed-width text field: its bytes up to the first NUL.
std::string_view FieldAt(std::string_view payload, std::size_t offset, std::size_t width) {
    if (offset >= payload.size())
        return {};
    const std::string_view field = payload.substr(offset, width);
    return field.substr(0, field.find('\0'));
}

class IdleTimer final : public ReplayTimer {
public:
    void Start(int) override {}
    void Stop() override {}
};

} // namespace

ReplayTimer& NoReplayTimer() {
    static IdleTimer timer;
    return timer;
}

int ReplayInterval(std::int32_t delay, std::uint16_t speed) {
    if (speed == 0)
        speed = SPEED_NORMAL;
    // A recorded gap is never negative; a file that claims one plays it as none.
    const std::int64_t seconds = std::max<std::int32_t>(delay, 0);
    const std::int64_t interval = seconds == 0 ? 1200 / speed : seconds * 4000 / speed;
    return static_cast<int>(std::min<std::int64_t>(interval, std::numeric_limits<int>::max()));
}

ReplayEngine::ReplayEngine(CoreParts& core, ReplayTimer& timer) : core_(core), timer_(timer) {}

void ReplayEngine::StartTimer(int milliseconds) {
    ++generation_;
    interval_ = milliseconds;
    timerRunning_ = true;
    timer_.Start(milliseconds);
}

void ReplayEngine::StopTimer() {
    ++generation_;
    timerRunning_ = false;
    timer_.Stop();
}

void ReplayEngine::Begin() {
    EventLog& log = core_.recorder.log;
    // Chat lines no longer show their time for the rest of the run.
    core_.session.replayFlag = true;
    log.cursor = 1;
    log.ended = false;
    core_.recorder.state = ReplayState::Paused;
    StartTimer(REPLAY_START_INTERVAL_MS);
    core_.view.ReplayLoaded();
    core_.view.SetWindowMode(WindowMode::ReplayLoaded);
    core_.view.RefreshTitle();
    core_.view.ReplayChanged();
}

void ReplayEngine::Tick() {
    Recorder& recorder = core_.recorder;
    EventLog& log = recorder.log;
    if (applying_ || recorder.state != ReplayState::Playing || !timerRunning_ || log.ended)
        return;
    const auto count = static_cast<std::uint32_t>(log.events.size());
    if (log.cursor > count)
        log.cursor = count;
    const std::uint64_t generation = generation_;
    applying_ = true;
    if (const SessionEvent* event = log.CurrentEvent()) {
        // The event is applied from a copy: a box inside it may let a new recording replace
        // the log.
        const SessionEvent copy = *event;
        Apply(copy, true, log.ElapsedAtCursor());
    }
    applying_ = false;
    // A box of the event may have let the user stop the replay or open another recording.
    if (generation != generation_ || recorder.state == ReplayState::NoReplay || log.ended)
        return;
    core_.view.ReplayChanged();
    if (log.cursor >= count) {
        EndReplay();
        return;
    }
    StartTimer(ReplayInterval(log.NextDelay(), recorder.speed));
    log.AdvanceCursor();
}

void ReplayEngine::EndReplay() {
    EventLog& log = core_.recorder.log;
    log.cursor = static_cast<std::uint32_t>(log.events.size());
    log.ended = true;
    StopTimer();
    applying_ = true;
    core_.prompter.Inform(Notice::ReplayEnded, "播放结束", "当前会话记录已经重放结束.",
                          BoxIcon::None);
    applying_ = false;
    core_.view.ReplayChanged();
}

void ReplayEngine::DispatchEvent(const SessionEvent& event) {
    Apply(event, true, core_.recorder.log.ElapsedAtCursor());
}

void ReplayEngine::Apply(const SessionEvent& event, bool showBoxes, std::int64_t elapsed) {
    SessionClock& clock = core_.sessionClock;
    const std::optional<CalendarTime> outer = clock.replayed;
    clock.replayed = CalendarTime{core_.recorder.log.header.startTime} + elapsed;
    ApplyAt(event, showBoxes);
    clock.replayed = outer;
}

void ReplayEngine::ApplyAt(const SessionEvent& event, bool showBoxes) {
    Session& s = core_.session;
    SessionView& view = core_.view;
    const std::string_view payload = event.data;
    switch (event.kind) {
    case EventKind::EvSessionCreated: {
        if (payload.size() < CREATED_PAYLOAD_SIZE)
            return;
        s.AddBuddy(Buddy::Make(FieldAt(payload, 0, NAME_SIZE),
                               FieldAt(payload, NAME_SIZE, ADDRESS_SIZE), BuddyRole::Leader));
        s.selfId = static_cast<std::uint16_t>(s.roster.size());
        s.createdAt = core_.sessionClock.Now();
        s.topic = core_.recorder.log.header.topic;
        s.RecordMessage(Fill(KOLVENA_TEXT("欢迎您加入会话，会话主题是 '%s ' "), {s.topic}));
        s.target = 0;
        view.RefreshMessages();
        view.RefreshMembers();
        view.RefreshTitle();
        return;
    }
    case EventKind::EvSessionJoined: {
        if (const auto welcome = ReadWelcome(payload))
            core_.show.ShowWelcome(*welcome);
        return;
    }
    case EventKind::EvChatLine: {
        const auto chat = ReadChat(payload);
        if (!chat || s.BuddyById(chat->sender) == nullptr)
            return;
        if (const auto line = core_.show.ComposeChat(*chat); line && core_.show.Sees(*chat))
            core_.show.ShowChatLine(*line);
        return;
    }
    case EventKind::EvNotice:
        // The leader's recording keeps a refused notice with its refusal's type byte: it went
        // out to nobody, and the live session showed nothing of it.
        if (payload.empty() || static_cast<std::uint8_t>(payload[0]) ==
                                   static_cast<std::uint8_t>(PacketType::NoticeRefused))
            return;
        if (const auto notice = ReadNotice(payload))
            core_.show.ShowNotice(*notice);
        return;
    case EventKind::EvMemberJoined:
        // The host recorded the Login, which carries no address; a member the announcement.
        if (const auto joined = ReadMemberJoined(payload))
            core_.show.ShowJoined(joined->name, joined->address);
        else if (const auto login = ReadLogin(payload))
            core_.show.ShowJoined(login->name, "");
        return;
    case EventKind::EvNameChanged: {
        const auto rename = ReadRename(payload);
        Buddy* member = rename ? s.BuddyById(rename->sender) : nullptr;
        if (member != nullptr)
            core_.show.ShowRename(*member, rename->name);
        return;
    }
    case EventKind::EvAsleep:
    case EventKind::EvAwake: {
        const auto presence = ReadPresence(payload);
        Buddy* member = presence ? s.BuddyById(presence->sender) : nullptr;
        if (member != nullptr)
            core_.show.ShowPresence(*member, event.kind == EventKind::EvAsleep);
        return;
    }
    case EventKind::EvMemberLeft: {
        const auto left = ReadMemberLeft(payload);
        if (left && !s.CheckBuddyIndex(left->activeIndex).IsNobody())
            core_.show.ShowDeparture(left->activeIndex);
        return;
    }
    case EventKind::EvSessionEnded:
        if (showBoxes)
            core_.prompter.Inform(Notice::SessionEnded, "", "会话记录播放结束.", BoxIcon::None);
        return;
    }
}

void ReplayEngine::ResetDisplay() {
    Session& s = core_.session;
    // Everything is counted again as the events are applied anew.
    s.counters = {};
    s.EmptyRoster();
    s.ClearPanes();
    core_.view.RefreshChat();
    core_.view.RefreshMessages();
    core_.show.ShowWelcomeBanner();
    core_.view.RefreshMembers();
    core_.view.RefreshTarget();
}

void ReplayEngine::TogglePause() {
    Recorder& recorder = core_.recorder;
    if (recorder.state == ReplayState::NoReplay)
        return;
    recorder.state =
        recorder.state == ReplayState::Paused ? ReplayState::Playing : ReplayState::Paused;
    core_.view.RefreshTitle();
    core_.view.ReplayChanged();
}

void ReplayEngine::SetSpeed(std::uint16_t speed) {
    core_.recorder.speed = speed;
    core_.view.ReplayChanged();
}

void ReplayEngine::Seek(std::uint32_t position) {
    Recorder& recorder = core_.recorder;
    EventLog& log = recorder.log;
    if (recorder.state == ReplayState::NoReplay || applying_)
        return;
    const auto count = static_cast<std::uint32_t>(log.events.size());
    position = std::min(position, count);

    const ReplayState state = recorder.state;
    recorder.state = ReplayState::Paused;
    StopTimer();
    applying_ = true;
    core_.view.HoldRefreshes(true);
    ResetDisplay();
    std::int64_t elapsed = 0;
    for (std::uint32_t i = 0; i < position; ++i) {
        elapsed += log.events[i].delay;
        Apply(log.events[i], false, elapsed);
    }
    core_.view.HoldRefreshes(false);
    applying_ = false;
    recorder.state = state;
    if (position == count) {
        // Nothing is left to play: the timer stays off until the play button starts again.
        log.cursor = position;
        log.ended = true;
        recorder.state = ReplayState::Paused;
    } else {
        StartTimer(REPLAY_START_INTERVAL_MS);
        log.cursor = position + 1;
        log.ended = false;
    }
    core_.view.RefreshTitle();
    core_.view.ReplayChanged();
}

void ReplayEngine::PlayButton() {
    Recorder& recorder = core_.recorder;
    EventLog& log = recorder.log;
    if (recorder.state == ReplayState::NoReplay)
        return;
    if (log.ended) {
        ResetDisplay();
        log.cursor = 1;
        log.ended = false;
        StartTimer(REPLAY_START_INTERVAL_MS);
        recorder.state = ReplayState::Playing;
    } else {
        recorder.state =
            recorder.state == ReplayState::Playing ? ReplayState::Paused : ReplayState::Playing;
    }
    core_.view.RefreshTitle();
    core_.view.ReplayChanged();
}

void ReplayEngine::Stop() {
    StopTimer();
}

} // namespace kolvena
