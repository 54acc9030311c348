// Soak benchmark: one host (a kolvena-peer process) and a churning crowd of members driven from
// this process over loopback for a long run. Members chat to everyone, to one member, to chosen
// members and in whispers, send notices, rename, sleep and wake, stop reading for a while, leave
// cleanly or abruptly (also in the middle of a packet) and are replaced by newcomers, while the
// host's approval of notices is switched now and then. At the end it checks that every line
// reached exactly whom it should, once and in order; that the host's roster names exactly the
// members still connected; that the host's memory stayed bounded; and that the recording the
// host saves holds every line of those members.
//
//   soak_bench [--members 100] [--seconds 600] [--seed N]

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "protocol/assembler.h"
#include "protocol/packets.h"
#include "record/event_log.h"

using namespace kolvena;
namespace fs = std::filesystem;

namespace {

using SteadyClock = std::chrono::steady_clock;

// The load, in events per second of the whole crowd. Each is an event of the host's recording;
// with the departures and the joins that replace them they come to about 64 a second, so a
// ten-minute run records some 40,000 of the 65,535 events a recording can count.
constexpr double LINES_TO_ALL = 50; // steady, not random
constexpr double LINES_TO_ONE = 4;
constexpr double WHISPERS = 4;
constexpr double LINES_TO_SOME = 2;
constexpr double NOTICES = 1.5;
constexpr double RENAMES = 0.5;
constexpr double PRESENCES = 1; // sleeps and wakes together
constexpr double DEPARTURES = 0.5;
// Of the whispers, the share addressed to the leader, which no member may then hear.
constexpr double TO_LEADER_SHARE = 0.1;

// A reader stops every so often, for 30 to 120 seconds; a twelfth of the crowd at most at once.
constexpr double STALL_EVERY = 10;
constexpr double STALL_SHORTEST = 30;
constexpr double STALL_LONGEST = 120;

// A host admits at most 100 members, and one that reaches its limit closes the door until the
// leader opens it again: before each newcomer the bench reopens it, as a leader would.
constexpr int SETTINGS_MAX = 100;
// How long the host has to take a settings command from its standard input before a newcomer
// knocks; a knock that still finds the door closed is refused and tried again.
constexpr double REOPEN_LEAD = 0.2;

// How long the host may take for a login, to close a half-closed connection, and to handle a
// line before departures stop waiting for it.
constexpr double JOIN_TIMEOUT = 10;
constexpr double CLOSE_TIMEOUT = 10;
constexpr double GATE_TIMEOUT = 5;
constexpr double DRAIN_LIMIT = 10;
constexpr double MEMORY_SAMPLE_EVERY = 2;
// The host keeps every chat line and event; beyond this growth its memory counts as unbounded.
constexpr double MEMORY_GROWTH_LIMIT_MI_B = 64;

constexpr std::size_t READ_CHUNK = 64 * 1024;
constexpr int READS_PER_WAKE = 8;

// --- the host process ---

// The host's process: its standard error goes to a file; it is given two seconds to quit when
// the bench ends early.
class HostProcess final : public bench::ChildProcess {
public:
    ~HostProcess() { Finish(std::chrono::milliseconds(2000)); }

    bool Start(const std::vector<std::string>& arguments, const std::string& errorPath) {
        bench::ChildOptions options;
        options.errorPath = errorPath;
        return ChildProcess::Start(KOLVENA_PEER_PATH, arguments, options);
    }
    void Command(const std::string& line) { Write(line); }

    // The resident memory in MiB, 0 when it cannot be read.
    double ResidentMiB() const {
        std::ifstream status("/proc/" + std::to_string(Pid()) + "/status");
        std::string line;
        for (int i = 0; i < 100 && std::getline(status, line); ++i)
            if (line.rfind("VmRSS:", 0) == 0)
                return std::atof(line.c_str() + 6) / 1024.0;
        return 0;
    }
};

// --- the crowd ---

enum class Phase : std::uint8_t { Joining, Active, Draining, Gone };
enum class Leave : std::uint8_t { Clean, Reset, MidPacket };
enum class LineKind : std::uint8_t { ToAll, ToOne, Whisper, ToSome, ToLeader, Notice };

struct Line {
    int sender = 0; // serial
    LineKind kind = LineKind::ToAll;
    std::vector<int> intended;  // serials: the addressee of a to-one line or whisper, or the chosen
    std::uint32_t sentLeft = 0; // departures seen in the host's order when it was sent
    double sentAt = 0;
    // Departures wait until the host has handled it: its ActiveIndexes must not move meanwhile.
    bool gated = false;
    bool handled = false; // someone received it, so the host has handled it
    bool expired = false; // nobody received it in time
    bool raced = false;   // a departure the bench could not foresee moved its addressee
    int deliveries = 0;
    std::vector<std::uint64_t> seenBy; // a bit per receiver serial

    bool Seen(int receiver) const {
        const auto word = static_cast<std::size_t>(receiver) / 64;
        return word < seenBy.size() && (seenBy[word] >> (receiver % 64) & 1u) != 0;
    }
    void MarkSeen(int receiver) {
        const auto word = static_cast<std::size_t>(receiver) / 64;
        if (word >= seenBy.size())
            seenBy.resize(word + 1, 0);
        seenBy[word] |= std::uint64_t{1} << (receiver % 64);
    }
};

struct Member {
    int serial = 0;
    int fd = -1;
    Phase phase = Phase::Joining;
    bool observer = false;
    PacketAssembler assembler{Side::Client};
    std::string outgoing;
    std::uint16_t buddyId = 0;
    std::string name;
    bool asleep = false;
    bool stalled = false;
    bool errorSeen = false; // a stalled socket reported an error: not polled until it reads
    double stallUntil = 0;
    double connectedAt = 0;
    double welcomedAt = 0;
    double closeBy = 0; // a draining connection must have been closed by the host by then
    int renames = 0;
    std::vector<int> lines; // line ids by own sequence number
    int awaited = 0;        // gated lines addressed to it that the host has not handled yet
    // The roster as this member's stream tells it: present BuddyIDs by ActiveIndex, leader first.
    std::vector<std::uint16_t> view;
    std::uint32_t rosterSize = 0;
    std::uint32_t leftCount = 0;
    std::vector<std::int64_t> lastSeq; // per sender serial: the highest sequence number seen
    std::vector<Buddy> welcomeRoster;  // the observer's, for the roster check
    bool connectedAtEnd = false;       // still a member once the load has drained

    std::uint16_t OwnIndex() const {
        const auto it = std::find(view.begin(), view.end(), buddyId);
        return it == view.end() ? 0 : static_cast<std::uint16_t>(it - view.begin() + 1);
    }
};

struct Departed {
    std::uint16_t buddyId = 0;
    bool expected = false; // the bench closed it
};

struct Counts {
    std::int64_t linesSent = 0, toAll = 0, toOne = 0, whispers = 0, toSome = 0, toLeader = 0;
    std::int64_t notices = 0, approved = 0, renames = 0, sleeps = 0, wakes = 0, toggles = 0;
    std::int64_t joins = 0, refusedJoins = 0, clean = 0, reset = 0, midPacket = 0, byHost = 0;
    std::int64_t stalls = 0, deliveries = 0, expected = 0;
    std::int64_t lost = 0, duplicated = 0, reordered = 0, misrouted = 0, expired = 0;
    // Addressed lines that a departure the bench could not foresee sent elsewhere, and the
    // deliveries that therefore count as neither made nor lost.
    std::int64_t raced = 0, excused = 0;
    std::int64_t rosterErrors = 0, protocolErrors = 0, refusedNotices = 0, unansweredCloses = 0;
};

struct Timer {
    double rate = 0;
    double next = 0;
};

struct Options {
    int members = 100;
    double seconds = 600;
    std::uint64_t seed = 1;
};

class FixedClock final : public Clock {
public:
    CalendarTime Now() const override { return 0; }
};

class QuietPrompter final : public Prompter {
public:
    void Inform(Notice, const std::string&, const std::string& text, BoxIcon) override {
        told.push_back(text);
    }
    BoxAnswer Ask(Question, const std::string&, const std::string&, BoxButtons, BoxIcon) override {
        return BoxAnswer::No;
    }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override { return {}; }
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return {}; }
    void SetClipboard(const std::string&) override {}
    void Beep(BeepKind) override {}

    std::vector<std::string> told;
};

struct RecordingFigures {
    bool saved = false;
    bool loaded = false;
    bool countMatches = false; // the header's count, the records read and the file's size agree
    std::size_t events = 0, chat = 0, notices = 0, joins = 0, departures = 0, renames = 0,
                sleeps = 0, wakes = 0;
    std::int64_t missing = 0;    // lines of connected members the recording lacks
    std::int64_t disorderly = 0; // a member's recorded lines out of order or twice
    std::int64_t foreign = 0;    // recorded lines nobody sent
};

class Soak {
public:
    explicit Soak(const Options& options)
        : options_(options), rng_(options.seed), start_(SteadyClock::now()) {
        target_ = options.members;
        maxStalled_ = std::max(1, options.members / 12);
        toggleEvery_ = std::clamp(options.seconds / 4, 5.0, 60.0);
    }

    ~Soak() {
        std::error_code ec;
        if (!workDir_.empty())
            fs::remove_all(workDir_, ec);
    }
    Soak(const Soak&) = delete;
    Soak& operator=(const Soak&) = delete;

    int Run();

private:
    double Now() const {
        return std::chrono::duration<double>(SteadyClock::now() - start_).count();
    }
    double Uniform(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(rng_);
    }
    double Exponential(double rate) { return std::exponential_distribution<double>(rate)(rng_); }
    int Below(int n) { return static_cast<int>(rng_() % static_cast<std::uint64_t>(n)); }

    // Host.
    bool StartHost();
    void ReadHostOutput();
    void SampleMemory(bool force);
    std::string ExpectedMemberList(bool withObserver) const;
    bool WaitForMemberList(const std::string& expected, double seconds);

    // Connections.
    bool StartJoin(bool observer);
    void Flush(Member& m);
    void Pump(int timeoutMs);
    void ReadFrom(Member& m);
    void OnEnd(Member& m);
    void OnPacket(Member& m, const std::string& packet);
    void OnWelcome(Member& m, const std::string& packet);
    void OnMemberLeft(Member& m, const std::string& packet);
    void OnLine(Member& r, std::uint16_t senderId, std::string_view text, bool notice,
                const ChatLine* chat);
    void ObserveLeft(std::uint32_t count, std::uint16_t buddyId);
    void HostDropped(Member& m);
    void Close(Member& m);
    void Deactivate(Member& m);
    int SerialOf(std::uint16_t buddyId) const {
        return buddyId < serialOf_.size() ? serialOf_[buddyId] : -1;
    }
    std::uint16_t IndexOf(std::uint16_t buddyId) const {
        const auto it = std::lower_bound(view_.begin(), view_.end(), buddyId);
        return it != view_.end() && *it == buddyId
                   ? static_cast<std::uint16_t>(it - view_.begin() + 1)
                   : 0;
    }

    // The load.
    void Step();
    int Pick(bool readingOnly, int except = -1);
    bool Gated() const { return !leaving_.empty() || !pendingDepartures_.empty(); }
    int SendLine(Member& s, LineKind kind, std::vector<int> intended);
    bool DoLineToOne();
    bool DoWhisper();
    bool DoLineToSome();
    bool DoNotice();
    bool DoRename();
    bool DoPresence();
    bool DoDeparture();
    bool DoStall();
    bool DoToggle();
    void ExecuteDepartures();
    void ExpireGated(double now);

    // The end.
    void Drain();
    bool CheckRoster();
    void Reopen();
    bool SaveRecording(const fs::path& path);
    RecordingFigures ReadRecording(const fs::path& path) const;
    void Report(const RecordingFigures& recording, bool rosterOk, const std::string& hostEnd,
                double took);
    void CountLost();
    bool Excused(const Line& line) const { return lastUnexpected_ >= std::int64_t{line.sentLeft}; }

    Options options_;
    std::mt19937_64 rng_;
    SteadyClock::time_point start_;
    int target_ = 0;
    double joinAfter_ = 0; // when the door was last reopened for a newcomer, plus the lead
    int maxStalled_ = 1;
    double toggleEvery_ = 60;
    double loadStart_ = 0, loadEnd_ = 0;
    bool loadRunning_ = false;

    HostProcess host_;
    std::uint16_t port_ = 0;
    bool hostAlive_ = true;
    bool verify_ = true;
    std::string lastMemberList_;
    std::vector<std::string> unexpectedBoxes_;
    bool watchBoxes_ = true;
    double memoryStart_ = 0, memoryPeak_ = 0, memoryEnd_ = 0, nextSample_ = 0;
    fs::path workDir_; // the host's standard error and its recording
    std::vector<std::string> hostErrors_;

    std::vector<std::unique_ptr<Member>> members_; // by serial
    std::vector<int> active_;                      // serials of active members, observer aside
    std::vector<int> serialOf_;                    // by BuddyID
    std::vector<std::uint16_t> view_;              // the host's present BuddyIDs as last seen
    std::vector<Departed> departures_;             // in the host's order
    std::vector<bool> departedId_;                 // by BuddyID
    std::int64_t lastUnexpected_ = -1;             // index in departures_
    std::set<std::uint16_t> leaving_;              // closed by the bench, not yet reported
    std::vector<Leave> pendingDepartures_;
    int joining_ = 0;
    int stalled_ = 0;
    int peakMembers_ = 0;
    int startMembers_ = 0;
    double lastReceived_ = 0;

    std::vector<Line> lines_;
    std::deque<int> gatedQueue_;
    int awaitedTotal_ = 0;
    double toAllSent_ = 0;
    Timer toOne_, whisper_, toSome_, notice_, rename_, presence_, departure_, stall_, toggle_;

    Counts counts_;
    std::vector<pollfd> polls_;
    std::vector<int> pollSerials_;
};

// --- host ---

bool Soak::StartHost() {
    port_ = bench::FreePort();
    const int max = options_.members;
    if (!host_.Start({"host", "--name", "bench", "--topic", "soak", "--port", std::to_string(port_),
                      "--bind", "127.0.0.1", "--own-address", "127.0.0.1", "--max",
                      std::to_string(max), "--approve", "yes"},
                     (workDir_ / "host-stderr.txt").string()))
        return false;
    view_ = {1}; // the leader
    serialOf_.assign(2, -1);
    departedId_.assign(2, false);
    return true;
}

void Soak::ReadHostOutput() {
    std::vector<std::string> lines;
    if (!host_.ReadOutput(lines))
        hostAlive_ = false;
    for (std::string& line : lines) {
        if (line.rfind("members: ", 0) == 0) {
            lastMemberList_ = line.substr(9);
        } else if (line.rfind("box: ", 0) == 0 || line.rfind("error: ", 0) == 0) {
            if (line.find("成员请求验证消息") != std::string::npos && line.ends_with("-> Yes"))
                ++counts_.approved;
            else if (line.rfind("box: 创建会话成功!", 0) == 0 ||
                     line.rfind("box: 让朋友们加入您的会话!", 0) == 0)
                continue; // what creating a session always tells
            else if (line.rfind("box: 会话关闭 | 当前会话人数已满", 0) == 0)
                continue; // the settings command while the crowd is full
            else if (watchBoxes_)
                unexpectedBoxes_.push_back(std::move(line));
        }
    }
}

void Soak::SampleMemory(bool force) {
    const double now = Now();
    if (!force && now < nextSample_)
        return;
    nextSample_ = now + MEMORY_SAMPLE_EVERY;
    const double mib = host_.ResidentMiB();
    memoryPeak_ = std::max(memoryPeak_, mib);
    memoryEnd_ = mib;
}

std::string Soak::ExpectedMemberList(bool withObserver) const {
    std::vector<const Member*> present;
    for (const auto& m : members_)
        if (m->phase == Phase::Active && (withObserver || !m->observer))
            present.push_back(m.get());
    std::sort(present.begin(), present.end(),
              [](const Member* a, const Member* b) { return a->buddyId < b->buddyId; });
    std::string list = "全体, bench(组长)";
    for (const Member* m : present) {
        list += ", " + m->name;
        if (m->asleep)
            list += "(休眠)";
    }
    return list;
}

bool Soak::WaitForMemberList(const std::string& expected, double seconds) {
    const double deadline = Now() + seconds;
    while (lastMemberList_ != expected && Now() < deadline && hostAlive_)
        Pump(10);
    return lastMemberList_ == expected;
}

// --- connections ---

bool Soak::StartJoin(bool observer) {
    int fd = bench::ConnectTo(port_);
    // At the very start the host may not listen yet.
    for (int i = 0; fd < 0 && members_.empty() && i < 500; ++i) {
        ::usleep(20000);
        fd = bench::ConnectTo(port_);
    }
    if (fd < 0) {
        ++counts_.refusedJoins;
        return false;
    }
    auto member = std::make_unique<Member>();
    Member& m = *member;
    m.serial = static_cast<int>(members_.size());
    m.fd = fd;
    m.observer = observer;
    m.name = observer ? "observer" : "m" + std::to_string(m.serial);
    m.connectedAt = Now();
    m.outgoing = BuildLogin(m.name);
    members_.push_back(std::move(member));
    ++joining_;
    Flush(m);
    return true;
}

void Soak::Flush(Member& m) {
    for (int i = 0; i < 64 && !m.outgoing.empty() && m.fd >= 0; ++i) {
        const ssize_t n = ::send(m.fd, m.outgoing.data(), m.outgoing.size(), MSG_NOSIGNAL);
        if (n <= 0)
            return;
        m.outgoing.erase(0, static_cast<std::size_t>(n));
    }
}

void Soak::Pump(int timeoutMs) {
    polls_.clear();
    pollSerials_.clear();
    for (const auto& owned : members_) {
        Member& m = *owned;
        if (m.fd < 0)
            continue;
        short events = 0;
        if (!m.stalled)
            events |= POLLIN;
        if (!m.outgoing.empty())
            events |= POLLOUT;
        if (m.stalled && m.errorSeen && events == 0)
            continue;
        polls_.push_back({m.fd, events, 0});
        pollSerials_.push_back(m.serial);
    }
    const std::size_t memberPolls = polls_.size();
    if (host_.OutputOpen())
        polls_.push_back({host_.OutputFd(), POLLIN, 0});
    if (host_.InputPending())
        polls_.push_back({host_.InputFd(), POLLOUT, 0});
    ::poll(polls_.data(), polls_.size(), timeoutMs);

    for (std::size_t i = 0; i < memberPolls; ++i) {
        const short revents = polls_[i].revents;
        if (revents == 0)
            continue;
        Member& m = *members_[static_cast<std::size_t>(pollSerials_[i])];
        if (m.fd < 0)
            continue;
        if (revents & POLLOUT)
            Flush(m);
        if (m.stalled) {
            if (revents & (POLLERR | POLLHUP))
                m.errorSeen = true;
            continue;
        }
        if (revents & (POLLIN | POLLERR | POLLHUP))
            ReadFrom(m);
    }
    if (host_.OutputOpen())
        ReadHostOutput();
    else
        hostAlive_ = false;
    host_.FlushInput();
}

void Soak::ReadFrom(Member& m) {
    static char buffer[READ_CHUNK];
    for (int i = 0; i < READS_PER_WAKE && m.fd >= 0; ++i) {
        const ssize_t n = ::recv(m.fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return;
        if (n <= 0) {
            OnEnd(m);
            return;
        }
        lastReceived_ = Now();
        m.assembler.Feed(std::string_view(buffer, static_cast<std::size_t>(n)));
        for (int k = 0; k < 1000000 && m.fd >= 0; ++k) {
            PacketAssembler::Result next = m.assembler.Next();
            if (next.status == PacketAssembler::Status::NeedMore)
                break;
            if (next.status == PacketAssembler::Status::Packet) {
                OnPacket(m, next.packet);
                continue;
            }
            ++counts_.protocolErrors;
            std::fprintf(stderr, "soak_bench: member %d: the host's stream %s\n", m.serial,
                         next.status == PacketAssembler::Status::Violation
                             ? "broke the protocol"
                             : "carried a type no member takes");
            if (next.status == PacketAssembler::Status::Violation) {
                OnEnd(m);
                return;
            }
        }
        if (static_cast<std::size_t>(n) < sizeof buffer)
            return;
    }
}

// The host closed the connection, or the bench's own half-close was answered.
void Soak::OnEnd(Member& m) {
    switch (m.phase) {
    case Phase::Joining:
        ++counts_.refusedJoins;
        --joining_;
        break;
    case Phase::Active:
        HostDropped(m);
        break;
    case Phase::Draining:
    case Phase::Gone:
        break;
    }
    Close(m);
}

void Soak::Close(Member& m) {
    if (m.fd >= 0)
        ::close(m.fd);
    m.fd = -1;
    if (m.stalled) {
        m.stalled = false;
        --stalled_;
    }
    Deactivate(m);
    m.phase = Phase::Gone;
}

void Soak::Deactivate(Member& m) {
    if (m.phase == Phase::Active)
        std::erase(active_, m.serial);
}

// The host let an active member go on its own, e.g. for a queue past its cap.
void Soak::HostDropped(Member& m) {
    if (m.phase != Phase::Active || m.observer)
        return;
    ++counts_.byHost;
    Deactivate(m);
    m.phase = Phase::Draining;
    m.closeBy = std::max(Now(), m.stallUntil) + CLOSE_TIMEOUT;
}

void Soak::OnPacket(Member& m, const std::string& packet) {
    const auto type = PacketTypeOf(static_cast<std::uint8_t>(packet[0]));
    if (!type) {
        ++counts_.protocolErrors;
        return;
    }
    if (m.phase == Phase::Joining) {
        // Nothing reaches a connection before its Welcome.
        if (*type == PacketType::Welcome)
            OnWelcome(m, packet);
        else
            ++counts_.protocolErrors;
        return;
    }
    switch (*type) {
    case PacketType::MemberJoined:
        if (ReadMemberJoined(packet)) {
            m.view.push_back(static_cast<std::uint16_t>(++m.rosterSize));
        } else {
            ++counts_.protocolErrors;
        }
        break;
    case PacketType::MemberLeft:
        OnMemberLeft(m, packet);
        break;
    case PacketType::Say:
        if (const auto chat = ReadChat(packet))
            OnLine(m, chat->sender.value, chat->text, false, &*chat);
        else
            ++counts_.protocolErrors;
        break;
    case PacketType::Notice:
        if (const auto notice = ReadNotice(packet))
            OnLine(m, notice->sender.value, notice->text, true, nullptr);
        else
            ++counts_.protocolErrors;
        break;
    case PacketType::NoticeRefused:
        ++counts_.refusedNotices;
        break;
    case PacketType::Rename:
    case PacketType::Sleep:
    case PacketType::Wake: {
        // The host relays these only for a member it has: this stream must have it too.
        std::uint16_t sender = 0;
        if (*type == PacketType::Rename) {
            if (const auto rename = ReadRename(packet))
                sender = rename->sender.value;
        } else if (const auto presence = ReadPresence(packet)) {
            sender = presence->sender.value;
        }
        if (std::find(m.view.begin(), m.view.end(), sender) == m.view.end())
            ++counts_.rosterErrors;
        break;
    }
    default:
        ++counts_.protocolErrors;
        break;
    }
}

void Soak::OnWelcome(Member& m, const std::string& packet) {
    const auto welcome = ReadWelcome(packet);
    if (!welcome || welcome->roster.empty()) {
        ++counts_.protocolErrors;
        return;
    }
    const auto& roster = welcome->roster;
    m.buddyId = static_cast<std::uint16_t>(roster.size());
    m.rosterSize = static_cast<std::uint32_t>(roster.size());
    for (std::size_t i = 0; i < roster.size(); ++i) {
        if (roster[i].id != i + 1)
            ++counts_.rosterErrors;
        if (roster[i].IsPresent())
            m.view.push_back(static_cast<std::uint16_t>(i + 1));
        else
            ++m.leftCount;
    }
    if (roster.back().Name() != m.name || !roster.back().IsPresent())
        ++counts_.rosterErrors;
    m.phase = Phase::Active;
    m.welcomedAt = Now();
    --joining_;
    if (serialOf_.size() <= m.buddyId) {
        serialOf_.resize(m.buddyId + 1u, -1);
        departedId_.resize(m.buddyId + 1u, false);
    }
    serialOf_[m.buddyId] = m.serial;
    if (!departedId_[m.buddyId])
        view_.insert(std::upper_bound(view_.begin(), view_.end(), m.buddyId), m.buddyId);
    if (m.observer) {
        m.welcomeRoster = roster;
        return;
    }
    ++counts_.joins;
    active_.push_back(m.serial);
    peakMembers_ = std::max(peakMembers_, static_cast<int>(active_.size()));
}

void Soak::OnMemberLeft(Member& m, const std::string& packet) {
    const auto left = ReadMemberLeft(packet);
    if (!left) {
        ++counts_.protocolErrors;
        return;
    }
    // Index 1 is the leader, who never leaves a session it holds.
    if (left->activeIndex.value < 2 || left->activeIndex.value > m.view.size()) {
        ++counts_.rosterErrors;
        return;
    }
    const std::uint16_t id = m.view[left->activeIndex.value - 1u];
    m.view.erase(m.view.begin() + (left->activeIndex.value - 1));
    ObserveLeft(++m.leftCount, id);
}

// The count-th departure in the host's order is the member with this BuddyID, as one stream
// tells it; every stream must tell the same.
void Soak::ObserveLeft(std::uint32_t count, std::uint16_t buddyId) {
    if (count <= departures_.size()) {
        if (departures_[count - 1].buddyId != buddyId)
            ++counts_.rosterErrors;
        return;
    }
    if (count > departures_.size() + 1)
        return; // a newcomer ahead of the streams that have not told the one before
    const bool expected = leaving_.erase(buddyId) > 0;
    departures_.push_back({buddyId, expected});
    if (!expected)
        lastUnexpected_ = static_cast<std::int64_t>(departures_.size()) - 1;
    if (departedId_.size() <= buddyId)
        departedId_.resize(buddyId + 1u, false);
    departedId_[buddyId] = true;
    if (const auto it = std::lower_bound(view_.begin(), view_.end(), buddyId);
        it != view_.end() && *it == buddyId)
        view_.erase(it);
    if (!expected)
        if (const int serial = SerialOf(buddyId); serial >= 0)
            HostDropped(*members_[static_cast<std::size_t>(serial)]);
}

void Soak::OnLine(Member& r, std::uint16_t senderId, std::string_view text, bool notice,
                  const ChatLine* chat) {
    // "<serial>#<seq>", of a line the sender really sent.
    const std::size_t hash = text.find('#');
    int serial = -1;
    std::int64_t seq = -1;
    if (hash != std::string_view::npos) {
        std::from_chars(text.data(), text.data() + hash, serial);
        std::from_chars(text.data() + hash + 1, text.data() + text.size(), seq);
    }
    if (serial < 0 || static_cast<std::size_t>(serial) >= members_.size() || seq < 0) {
        ++counts_.misrouted;
        return;
    }
    Member& s = *members_[static_cast<std::size_t>(serial)];
    if (s.buddyId != senderId || static_cast<std::size_t>(seq) >= s.lines.size()) {
        ++counts_.misrouted;
        return;
    }
    Line& line = lines_[static_cast<std::size_t>(s.lines[static_cast<std::size_t>(seq)])];
    const bool whisper = chat != nullptr && chat->whisper != 0;
    if ((line.kind == LineKind::Notice) != notice ||
        whisper != (line.kind == LineKind::Whisper || line.kind == LineKind::ToLeader)) {
        ++counts_.misrouted;
        return;
    }
    ++counts_.deliveries;
    if (line.Seen(r.serial)) {
        ++counts_.duplicated;
        return;
    }
    line.MarkSeen(r.serial);
    ++line.deliveries;
    if (r.lastSeq.size() <= static_cast<std::size_t>(serial))
        r.lastSeq.resize(static_cast<std::size_t>(serial) + 1, -1);
    std::int64_t& last = r.lastSeq[static_cast<std::size_t>(serial)];
    if (seq < last)
        ++counts_.reordered;
    else
        last = seq;

    if (!line.handled) {
        line.handled = true;
        if (line.gated && !line.expired) {
            --awaitedTotal_;
            for (int x : line.intended)
                if (line.kind == LineKind::Whisper || line.kind == LineKind::ToSome)
                    --members_[static_cast<std::size_t>(x)]->awaited;
        }
    }

    // Who may hear an addressed line: the host sends a whisper to the slot of its target and a
    // line to chosen members to each of theirs, by the ActiveIndexes of the moment it handles it.
    // This stream has just that moment's roster.
    bool mayHear = true;
    if (line.kind == LineKind::ToLeader)
        mayHear = false;
    else if (line.kind == LineKind::Whisper)
        mayHear = chat->target == r.OwnIndex();
    else if (line.kind == LineKind::ToSome)
        mayHear = chat->recipients.find(static_cast<char>(r.OwnIndex())) != std::string::npos;
    if (!mayHear) {
        ++counts_.misrouted;
        return;
    }
    if (line.kind == LineKind::Whisper || line.kind == LineKind::ToSome) {
        const bool meant =
            std::find(line.intended.begin(), line.intended.end(), r.serial) != line.intended.end();
        if (!meant) {
            // With the same departures behind it as when it was sent, the addressee is the one
            // chosen; otherwise a departure the bench could not foresee moved the indexes.
            if (r.leftCount == line.sentLeft) {
                ++counts_.misrouted;
            } else if (!line.raced) {
                line.raced = true;
                ++counts_.raced;
            }
        }
    }
}

// --- the load ---

// A random active member; one that reads, if asked; -1 when there is none.
int Soak::Pick(bool readingOnly, int except) {
    if (active_.empty())
        return -1;
    for (int i = 0; i < 32; ++i) {
        const int serial =
            active_[static_cast<std::size_t>(Below(static_cast<int>(active_.size())))];
        const Member& m = *members_[static_cast<std::size_t>(serial)];
        if (serial != except && (!readingOnly || !m.stalled))
            return serial;
    }
    return -1;
}

int Soak::SendLine(Member& s, LineKind kind, std::vector<int> intended) {
    const int id = static_cast<int>(lines_.size());
    const std::size_t seq = s.lines.size();
    s.lines.push_back(id);
    Line line;
    line.sender = s.serial;
    line.kind = kind;
    line.intended = std::move(intended);
    line.sentLeft = static_cast<std::uint32_t>(departures_.size());
    line.sentAt = Now();
    line.gated = kind == LineKind::ToOne || kind == LineKind::Whisper || kind == LineKind::ToSome;

    const std::string text = std::to_string(s.serial) + "#" + std::to_string(seq);
    if (kind == LineKind::Notice) {
        s.outgoing += BuildNotice(PacketType::NoticeToHost, NoticePacket{s.buddyId, text});
        ++counts_.notices;
    } else {
        ChatLine chat;
        chat.sender = s.buddyId;
        chat.text = text;
        switch (kind) {
        case LineKind::ToAll:
            ++counts_.toAll;
            break;
        case LineKind::ToOne:
            chat.target = IndexOf(members_[static_cast<std::size_t>(line.intended[0])]->buddyId);
            ++counts_.toOne;
            break;
        case LineKind::Whisper:
            chat.target = IndexOf(members_[static_cast<std::size_t>(line.intended[0])]->buddyId);
            chat.whisper = 1;
            ++counts_.whispers;
            break;
        case LineKind::ToLeader:
            chat.target = 1;
            chat.whisper = 1;
            ++counts_.toLeader;
            break;
        case LineKind::ToSome:
            for (int x : line.intended)
                chat.recipients.push_back(
                    static_cast<char>(IndexOf(members_[static_cast<std::size_t>(x)]->buddyId)));
            ++counts_.toSome;
            break;
        case LineKind::Notice:
            break;
        }
        s.outgoing += BuildChat(PacketType::SayToHost, chat);
    }
    ++counts_.linesSent;
    if (line.gated) {
        gatedQueue_.push_back(id);
        ++awaitedTotal_;
        if (kind != LineKind::ToOne)
            for (int x : line.intended)
                ++members_[static_cast<std::size_t>(x)]->awaited;
    }
    lines_.push_back(std::move(line));
    Flush(s);
    return id;
}

bool Soak::DoLineToOne() {
    if (Gated())
        return false;
    const int s = Pick(false);
    const int x = Pick(false, s);
    if (s < 0 || x < 0)
        return false;
    SendLine(*members_[static_cast<std::size_t>(s)], LineKind::ToOne, {x});
    return true;
}

bool Soak::DoWhisper() {
    const int s = Pick(false);
    if (s < 0)
        return false;
    if (Uniform(0, 1) < TO_LEADER_SHARE) {
        SendLine(*members_[static_cast<std::size_t>(s)], LineKind::ToLeader, {});
        return true;
    }
    if (Gated())
        return false;
    const int x = Pick(true, s);
    if (x < 0 || IndexOf(members_[static_cast<std::size_t>(x)]->buddyId) == 0)
        return false;
    SendLine(*members_[static_cast<std::size_t>(s)], LineKind::Whisper, {x});
    return true;
}

bool Soak::DoLineToSome() {
    if (Gated())
        return false;
    const int s = Pick(false);
    if (s < 0)
        return false;
    std::vector<int> chosen;
    const int wanted = 2 + Below(3);
    for (int i = 0; i < 16 && static_cast<int>(chosen.size()) < wanted; ++i) {
        const int x = Pick(true, s);
        // A recipient entry is one byte.
        const std::uint16_t index =
            x < 0 ? 0 : IndexOf(members_[static_cast<std::size_t>(x)]->buddyId);
        if (x >= 0 && index > 1 && index <= 255 &&
            std::find(chosen.begin(), chosen.end(), x) == chosen.end())
            chosen.push_back(x);
    }
    if (chosen.empty())
        return false;
    SendLine(*members_[static_cast<std::size_t>(s)], LineKind::ToSome, std::move(chosen));
    return true;
}

bool Soak::DoNotice() {
    const int s = Pick(false);
    if (s < 0)
        return false;
    SendLine(*members_[static_cast<std::size_t>(s)], LineKind::Notice, {});
    return true;
}

bool Soak::DoRename() {
    const int s = Pick(false);
    if (s < 0)
        return false;
    Member& m = *members_[static_cast<std::size_t>(s)];
    m.name = "r" + std::to_string(m.serial) + "_" + std::to_string(++m.renames);
    if (m.name.size() > NAME_SIZE)
        m.name.resize(NAME_SIZE);
    m.outgoing += BuildRename(PacketType::RenameToHost, RenamePacket{m.buddyId, m.name});
    Flush(m);
    ++counts_.renames;
    return true;
}

bool Soak::DoPresence() {
    const int s = Pick(false);
    if (s < 0)
        return false;
    Member& m = *members_[static_cast<std::size_t>(s)];
    m.asleep = !m.asleep;
    m.outgoing += BuildPresence(m.asleep ? PacketType::SleepToHost : PacketType::WakeToHost,
                                PresencePacket{m.buddyId});
    Flush(m);
    ++(m.asleep ? counts_.sleeps : counts_.wakes);
    return true;
}

// One departure at a time, once the last has been reported and its replacement has joined.
bool Soak::DoDeparture() {
    if (active_.size() < 3 || !leaving_.empty() || !pendingDepartures_.empty() || joining_ > 0)
        return false;
    const double kind = Uniform(0, 1);
    pendingDepartures_.push_back(kind < 0.4    ? Leave::Clean
                                 : kind < 0.75 ? Leave::Reset
                                               : Leave::MidPacket);
    return true;
}

// Departures wait until the host has handled every addressed line, so that no ActiveIndex
// moves under a line on its way.
void Soak::ExecuteDepartures() {
    if (pendingDepartures_.empty() || awaitedTotal_ > 0)
        return;
    for (const Leave how : pendingDepartures_) {
        const int serial = Pick(false);
        if (serial < 0)
            break;
        Member& m = *members_[static_cast<std::size_t>(serial)];
        Flush(m);
        leaving_.insert(m.buddyId);
        Deactivate(m);
        if (how == Leave::Clean) {
            // Half-closed: the host sees the end, and what it sends until it closes is still read.
            ++counts_.clean;
            ::shutdown(m.fd, SHUT_WR);
            if (m.stalled) {
                m.stalled = false;
                --stalled_;
            }
            m.phase = Phase::Draining;
            m.closeBy = Now() + CLOSE_TIMEOUT;
            continue;
        }
        if (how == Leave::MidPacket && m.outgoing.empty()) {
            // The first part of one more line, which therefore never counts as sent.
            ChatLine chat;
            chat.sender = m.buddyId;
            chat.text = std::to_string(m.serial) + "#" + std::to_string(m.lines.size());
            const std::string packet = BuildChat(PacketType::SayToHost, chat);
            const std::size_t part =
                1 + static_cast<std::size_t>(Below(static_cast<int>(packet.size()) - 1));
            ::send(m.fd, packet.data(), part, MSG_NOSIGNAL);
            ++counts_.midPacket;
        } else {
            ++counts_.reset;
        }
        const linger reset{1, 0};
        ::setsockopt(m.fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        Close(m);
    }
    pendingDepartures_.clear();
}

void Soak::ExpireGated(double now) {
    while (!gatedQueue_.empty()) {
        Line& line = lines_[static_cast<std::size_t>(gatedQueue_.front())];
        if (!line.handled) {
            if (now - line.sentAt < GATE_TIMEOUT)
                return;
            line.expired = true;
            ++counts_.expired;
            --awaitedTotal_;
            if (line.kind != LineKind::ToOne)
                for (int x : line.intended)
                    --members_[static_cast<std::size_t>(x)]->awaited;
        }
        gatedQueue_.pop_front();
    }
}

bool Soak::DoStall() {
    if (stalled_ >= maxStalled_)
        return true;
    for (int i = 0; i < 8; ++i) {
        const int serial = Pick(true);
        if (serial < 0)
            return true;
        Member& m = *members_[static_cast<std::size_t>(serial)];
        if (m.awaited > 0)
            continue;
        m.stalled = true;
        m.errorSeen = false;
        m.stallUntil = std::min(Now() + Uniform(STALL_SHORTEST, STALL_LONGEST), loadEnd_);
        ++stalled_;
        ++counts_.stalls;
        return true;
    }
    return true;
}

bool Soak::DoToggle() {
    verify_ = !verify_;
    Reopen();
    ++counts_.toggles;
    return true;
}

// The settings command with the door open; the host keeps it closed while the crowd is full.
void Soak::Reopen() {
    host_.Command("settings max=" + std::to_string(options_.members) +
                  " listen=1 verify=" + (verify_ ? "1" : "0"));
}

void Soak::Step() {
    const double now = Now();
    if (loadRunning_) {
        const double elapsed = now - loadStart_;
        for (int i = 0; i < 200 && toAllSent_ < elapsed * LINES_TO_ALL; ++i) {
            if (const int s = Pick(false); s >= 0)
                SendLine(*members_[static_cast<std::size_t>(s)], LineKind::ToAll, {});
            toAllSent_ += 1;
        }
        const auto run = [&](Timer& timer, auto action) {
            for (int i = 0; i < 50 && timer.next <= now; ++i) {
                if (!action()) {
                    timer.next = now + 0.01; // try again shortly
                    return;
                }
                timer.next += timer.rate > 0 ? Exponential(timer.rate) : 1e9;
            }
        };
        run(toOne_, [&] { return DoLineToOne(); });
        run(whisper_, [&] { return DoWhisper(); });
        run(toSome_, [&] { return DoLineToSome(); });
        run(notice_, [&] { return DoNotice(); });
        run(rename_, [&] { return DoRename(); });
        run(presence_, [&] { return DoPresence(); });
        run(departure_, [&] { return DoDeparture(); });
        for (int i = 0; i < 10 && stall_.next <= now; ++i) {
            DoStall();
            stall_.next += STALL_EVERY;
        }
        if (toggle_.next <= now) {
            if (DoToggle())
                toggle_.next += toggleEvery_;
            else
                toggle_.next = now + 1;
        }
        // One newcomer at a time replaces those who left, once the host has let them go.
        if (joining_ == 0 && leaving_.empty() && static_cast<int>(active_.size()) < target_) {
            if (joinAfter_ == 0) {
                Reopen();
                joinAfter_ = now + REOPEN_LEAD;
            } else if (now >= joinAfter_) {
                joinAfter_ = 0;
                StartJoin(false);
            }
        }
    }
    ExpireGated(now);
    ExecuteDepartures();

    for (const auto& owned : members_) {
        Member& m = *owned;
        if (m.stalled && m.stallUntil <= now) {
            m.stalled = false;
            --stalled_;
        }
        if (m.phase == Phase::Joining && now - m.connectedAt > JOIN_TIMEOUT) {
            std::fprintf(stderr, "soak_bench: member %d got no Welcome\n", m.serial);
            ++counts_.refusedJoins;
            --joining_;
            Close(m);
        }
        if (m.phase == Phase::Draining && !m.stalled && now > m.closeBy) {
            ++counts_.unansweredCloses;
            Close(m);
        }
    }
    SampleMemory(false);
    Pump(2);
}

// --- the end ---

// Until nothing more arrives for a second, everything is sent, every half-close answered.
void Soak::Drain() {
    const double deadline = Now() + DRAIN_LIMIT;
    while (Now() < deadline && hostAlive_) {
        Step();
        const bool sending = std::any_of(members_.begin(), members_.end(), [](const auto& m) {
            return m->fd >= 0 && (!m->outgoing.empty() || m->phase == Phase::Draining);
        });
        if (!sending && joining_ == 0 && Now() - lastReceived_ > 1.0)
            break;
    }
}

void Soak::CountLost() {
    std::vector<const Member*> connected;
    for (const auto& m : members_)
        if (m->phase == Phase::Active && !m->observer)
            connected.push_back(m.get());
    for (const Member* s : connected) {
        for (const int id : s->lines) {
            const Line& line = lines_[static_cast<std::size_t>(id)];
            for (const Member* r : connected) {
                if (line.sentAt < r->welcomedAt)
                    continue;
                bool expected = true;
                if (line.kind == LineKind::ToLeader)
                    expected = false;
                else if (line.kind == LineKind::Whisper || line.kind == LineKind::ToSome)
                    expected = std::find(line.intended.begin(), line.intended.end(), r->serial) !=
                               line.intended.end();
                if (!expected)
                    continue;
                ++counts_.expected;
                if (line.Seen(r->serial))
                    continue;
                if (line.raced || (!line.handled && Excused(line))) {
                    ++counts_.excused;
                    continue;
                }
                if (counts_.lost < 5)
                    std::fprintf(
                        stderr, "soak_bench: lost: line %d#%zu (kind %d) to member %d\n", s->serial,
                        static_cast<std::size_t>(std::find(s->lines.begin(), s->lines.end(), id) -
                                                 s->lines.begin()),
                        static_cast<int>(line.kind), r->serial);
                ++counts_.lost;
            }
        }
    }
}

bool Soak::CheckRoster() {
    // A full crowd keeps the door closed: one member leaves cleanly to make room for the
    // newcomer whose Welcome is checked.
    if (static_cast<int>(active_.size()) >= options_.members) {
        pendingDepartures_.push_back(Leave::Clean);
        const double deadline = Now() + CLOSE_TIMEOUT;
        while ((!pendingDepartures_.empty() || !leaving_.empty()) && Now() < deadline && hostAlive_)
            Step();
    }
    Reopen();
    const double reopened = Now() + REOPEN_LEAD;
    while (Now() < reopened && hostAlive_)
        Pump(10);

    bool ok = true;
    std::vector<const Member*> connected;
    for (const auto& m : members_)
        if (m->phase == Phase::Active && !m->observer)
            connected.push_back(m.get());
    std::sort(connected.begin(), connected.end(),
              [](const Member* a, const Member* b) { return a->buddyId < b->buddyId; });

    const std::string expected = ExpectedMemberList(false);
    if (!WaitForMemberList(expected, 5)) {
        std::printf("roster: the host lists\n  %s\nbut connected are\n  %s\n",
                    lastMemberList_.c_str(), expected.c_str());
        ok = false;
    }

    // A newcomer's Welcome carries the same roster: the leader, those connected, itself last.
    if (!StartJoin(true)) {
        std::printf("roster: a newcomer cannot connect\n");
        return false;
    }
    Member& observer = *members_.back();
    const double deadline = Now() + JOIN_TIMEOUT;
    while (observer.phase == Phase::Joining && Now() < deadline && hostAlive_)
        Pump(10);
    if (observer.phase != Phase::Active) {
        std::printf("roster: a newcomer got no Welcome\n");
        return false;
    }
    std::vector<const Buddy*> present;
    for (const Buddy& b : observer.welcomeRoster)
        if (b.IsPresent())
            present.push_back(&b);
    bool same = present.size() == connected.size() + 2 && present.front()->id == 1 &&
                present.back()->id == observer.buddyId;
    for (std::size_t i = 0; same && i < connected.size(); ++i) {
        const Buddy& b = *present[i + 1];
        const Member& m = *connected[i];
        same =
            b.id == m.buddyId && b.Name() == m.name && (b.state == BuddyState::Asleep) == m.asleep;
    }
    if (!same) {
        std::printf("roster: a newcomer's Welcome lists %zu present members, %zu expected\n",
                    present.size(), connected.size() + 2);
        ok = false;
    }
    const std::string withObserver = ExpectedMemberList(true);
    if (!WaitForMemberList(withObserver, 5)) {
        std::printf("roster: with a newcomer the host lists\n  %s\nbut expected is\n  %s\n",
                    lastMemberList_.c_str(), withObserver.c_str());
        ok = false;
    }
    return ok;
}

RecordingFigures Soak::ReadRecording(const fs::path& path) const {
    const auto& members = members_;
    const auto& lines = lines_;
    RecordingFigures figures;
    std::ifstream in(path, std::ios::binary);
    FixedClock clock;
    QuietPrompter prompter;
    EventLog log(clock, prompter);
    figures.saved = static_cast<bool>(in);
    figures.loaded = figures.saved && log.ReadLog(in);
    if (!figures.loaded)
        return figures;
    figures.events = log.events.size();
    std::uintmax_t size = RecordingHeader::SIZE + 6; // the header and the end mark
    for (const SessionEvent& event : log.events)
        size += 9 + event.data.size();
    std::error_code ec;
    figures.countMatches =
        log.header.eventCount == log.events.size() && fs::file_size(path, ec) == size;

    // Each member's recorded lines, by serial, as sequence numbers.
    std::vector<int> serialOf;
    for (const auto& m : members)
        if (m->phase != Phase::Joining && m->buddyId != 0) {
            if (serialOf.size() <= m->buddyId)
                serialOf.resize(m->buddyId + 1u, -1);
            serialOf[m->buddyId] = m->serial;
        }
    std::vector<std::vector<std::int64_t>> recorded(members.size());
    for (const SessionEvent& event : log.events) {
        std::uint16_t sender = 0;
        std::string text;
        switch (event.kind) {
        case EventKind::EvChatLine:
            ++figures.chat;
            if (const auto chat = ReadChat(event.data)) {
                sender = chat->sender.value;
                text = chat->text;
            }
            break;
        case EventKind::EvNotice:
            ++figures.notices;
            if (const auto notice = ReadNotice(event.data);
                notice && static_cast<std::uint8_t>(event.data[0]) ==
                              static_cast<std::uint8_t>(PacketType::Notice)) {
                sender = notice->sender.value;
                text = notice->text;
            }
            break;
        case EventKind::EvMemberJoined:
            ++figures.joins;
            continue;
        case EventKind::EvMemberLeft:
            ++figures.departures;
            continue;
        case EventKind::EvNameChanged:
            ++figures.renames;
            continue;
        case EventKind::EvAsleep:
            ++figures.sleeps;
            continue;
        case EventKind::EvAwake:
            ++figures.wakes;
            continue;
        default:
            continue;
        }
        const std::size_t hash = text.find('#');
        int serial = -1;
        std::int64_t seq = -1;
        if (hash != std::string::npos) {
            std::from_chars(text.data(), text.data() + hash, serial);
            std::from_chars(text.data() + hash + 1, text.data() + text.size(), seq);
        }
        if (serial < 0 || sender >= serialOf.size() || serialOf[sender] != serial || seq < 0 ||
            static_cast<std::size_t>(seq) >=
                members[static_cast<std::size_t>(serial)]->lines.size()) {
            ++figures.foreign;
            continue;
        }
        recorded[static_cast<std::size_t>(serial)].push_back(seq);
    }
    for (const auto& m : members) {
        if (!m->connectedAtEnd)
            continue;
        auto& seqs = recorded[static_cast<std::size_t>(m->serial)];
        if (!std::is_sorted(seqs.begin(), seqs.end()) ||
            std::adjacent_find(seqs.begin(), seqs.end()) != seqs.end())
            ++figures.disorderly;
        std::sort(seqs.begin(), seqs.end());
        for (std::size_t seq = 0; seq < m->lines.size(); ++seq) {
            const Line& line = lines[static_cast<std::size_t>(m->lines[seq])];
            if (line.raced || (!line.handled && Excused(line)))
                continue;
            if (!std::binary_search(seqs.begin(), seqs.end(), static_cast<std::int64_t>(seq)))
                ++figures.missing;
        }
    }
    return figures;
}

// Has the host save its recording, and waits until the file is whole.
bool Soak::SaveRecording(const fs::path& path) {
    host_.Command("save-recording " + path.string());
    const double deadline = Now() + 10;
    std::uintmax_t lastSize = 0;
    double stableSince = Now();
    while (Now() < deadline && hostAlive_) {
        Pump(20);
        std::error_code ec;
        const std::uintmax_t size = fs::file_size(path, ec);
        if (ec || size < RecordingHeader::SIZE + 6)
            continue;
        if (size != lastSize) {
            lastSize = size;
            stableSince = Now();
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(size - 6));
        char tail[6] = {};
        in.read(tail, 6);
        if (std::string_view(tail, 6) == std::string_view("[END]\0", 6) &&
            Now() - stableSince > 0.2)
            return true;
    }
    return false;
}

void Soak::Report(const RecordingFigures& recording, bool rosterOk, const std::string& hostEnd,
                  double took) {
    int endMembers = 0;
    for (const auto& m : members_)
        endMembers += m->connectedAtEnd ? 1 : 0;
    const auto n = [](std::int64_t v) { return static_cast<long long>(v); };
    const Counts& c = counts_;
    std::printf("soak benchmark: %d members, %.0f s of load, seed %llu\n", options_.members,
                options_.seconds, static_cast<unsigned long long>(options_.seed));
    std::printf("duration:            %.1f s of load, %.1f s in all\n", options_.seconds, took);
    std::printf("members:             start %d, end %d, peak %d (kept at %d)\n", startMembers_,
                endMembers, peakMembers_, target_);
    std::printf("lines sent:          %lld (to all %lld, to one %lld, to some %lld, whispers %lld, "
                "whispers to the leader %lld, notices %lld)\n",
                n(c.linesSent), n(c.toAll), n(c.toOne), n(c.toSome), n(c.whispers), n(c.toLeader),
                n(c.notices));
    std::printf("deliveries:          %lld (%lld expected at members still connected)\n",
                n(c.deliveries), n(c.expected));
    std::printf("notices:             %lld approved, %lld direct (approval switched %lld times)\n",
                n(c.approved),
                std::max<long long>(0, static_cast<long long>(recording.notices) - n(c.approved)),
                n(c.toggles));
    std::printf("renames:             %lld\n", n(c.renames));
    std::printf("sleeps / wakes:      %lld / %lld\n", n(c.sleeps), n(c.wakes));
    std::printf("joins:               %lld (refused %lld)\n", n(c.joins), n(c.refusedJoins));
    std::printf("departures:          clean %lld, RST %lld, mid-packet RST %lld, "
                "disconnected by the host %lld\n",
                n(c.clean), n(c.reset), n(c.midPacket), n(c.byHost));
    std::printf("stalled readers:     %lld\n", n(c.stalls));
    std::printf("host memory:         start %.1f MiB, peak %.1f MiB, end %.1f MiB "
                "(growth limit %.0f MiB)\n",
                memoryStart_, memoryPeak_, memoryEnd_, MEMORY_GROWTH_LIMIT_MI_B);
    std::printf("recorded events:     %zu (chat %zu, notices %zu, joins %zu, departures %zu, "
                "renames %zu, sleeps %zu, wakes %zu)\n",
                recording.events, recording.chat, recording.notices, recording.joins,
                recording.departures, recording.renames, recording.sleeps, recording.wakes);
    std::printf("lost:                %lld\n", n(c.lost));
    std::printf("duplicated:          %lld\n", n(c.duplicated));
    std::printf("reordered:           %lld\n", n(c.reordered));
    std::printf("misrouted:           %lld\n", n(c.misrouted));
    std::printf("raced:               %lld addressed lines moved by a departure not foreseen, "
                "%lld deliveries excused\n",
                n(c.raced), n(c.excused));
    std::printf("roster:              %s\n", rosterOk ? "matches" : "DIFFERS");
    std::printf("recording:           %s%s%s, %lld lines missing, %lld out of order, %lld "
                "foreign\n",
                recording.saved ? "saved" : "NOT SAVED",
                recording.loaded ? ", loads" : ", DOES NOT LOAD",
                recording.countMatches ? ", count right" : ", COUNT WRONG", n(recording.missing),
                n(recording.disorderly), n(recording.foreign));
    if (c.protocolErrors || c.rosterErrors || c.refusedNotices || c.unansweredCloses || c.expired)
        std::printf("faults:              %lld protocol, %lld roster, %lld notices refused, "
                    "%lld half-closes unanswered, %lld addressed lines never handled\n",
                    n(c.protocolErrors), n(c.rosterErrors), n(c.refusedNotices),
                    n(c.unansweredCloses), n(c.expired));
    for (std::size_t i = 0; i < unexpectedBoxes_.size() && i < 10; ++i)
        std::printf("host said:           %s\n", unexpectedBoxes_[i].c_str());
    if (unexpectedBoxes_.size() > 10)
        std::printf("host said:           ... %zu more\n", unexpectedBoxes_.size() - 10);
    if (!hostEnd.empty())
        std::printf("host:                %s\n", hostEnd.c_str());
    if (!hostErrors_.empty()) {
        std::vector<std::string> distinct = hostErrors_;
        std::sort(distinct.begin(), distinct.end());
        distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
        std::printf("host stderr:         %zu lines\n", hostErrors_.size());
        for (std::size_t i = 0; i < distinct.size() && i < 5; ++i)
            std::printf("                     %zux %s\n",
                        static_cast<std::size_t>(
                            std::count(hostErrors_.begin(), hostErrors_.end(), distinct[i])),
                        distinct[i].c_str());
    }
}

int Soak::Run() {
    std::signal(SIGPIPE, SIG_IGN);
    std::error_code ec;
    workDir_ = fs::temp_directory_path() / ("soak_bench." + std::to_string(::getpid()));
    fs::create_directories(workDir_, ec);
    if (!StartHost()) {
        std::fprintf(stderr, "soak_bench: cannot start the host\n");
        return 1;
    }

    // Everyone joins, one after the other.
    for (int i = 0; i < options_.members; ++i) {
        if (!StartJoin(false)) {
            std::fprintf(stderr, "soak_bench: cannot connect to the host\n");
            return 1;
        }
        const double deadline = Now() + JOIN_TIMEOUT;
        while (joining_ > 0 && Now() < deadline && hostAlive_)
            Step();
        if (members_.back()->phase != Phase::Active) {
            std::fprintf(stderr, "soak_bench: member %d got no Welcome\n", i);
            return 1;
        }
    }
    startMembers_ = static_cast<int>(active_.size());
    SampleMemory(true);
    memoryStart_ = memoryEnd_;

    loadStart_ = Now();
    loadEnd_ = loadStart_ + options_.seconds;
    const auto first = [&](double rate) { return Timer{rate, loadStart_ + Exponential(rate)}; };
    toOne_ = first(LINES_TO_ONE);
    whisper_ = first(WHISPERS);
    toSome_ = first(LINES_TO_SOME);
    notice_ = first(NOTICES);
    rename_ = first(RENAMES);
    presence_ = first(PRESENCES);
    departure_ = first(DEPARTURES);
    stall_ = {0, loadStart_ + 1};
    toggle_ = {0, loadStart_ + toggleEvery_};
    loadRunning_ = true;
    while (Now() < loadEnd_ && hostAlive_)
        Step();
    loadRunning_ = false;
    pendingDepartures_.clear();

    Drain();
    SampleMemory(true);
    for (const auto& m : members_)
        m->connectedAtEnd = m->phase == Phase::Active && !m->observer;
    CountLost();
    const bool rosterOk = hostAlive_ && CheckRoster();

    const fs::path recordingPath = workDir_ / "soak.prs";
    const bool saved = hostAlive_ && SaveRecording(recordingPath);
    SampleMemory(true);

    // The questions of leaving are the host's own business.
    watchBoxes_ = false;
    for (const auto& m : members_)
        Close(*m);
    const bool diedEarly = !hostAlive_;
    std::string hostEnd = host_.Finish(std::chrono::milliseconds(10000));
    if (diedEarly)
        hostEnd = "ended during the run" + (hostEnd.empty() ? "" : ": " + hostEnd);

    RecordingFigures recording;
    if (saved)
        recording = ReadRecording(recordingPath);
    // Qt's warnings and the like: worth a look, though no check depends on them.
    std::ifstream errors(workDir_ / "host-stderr.txt");
    for (std::string line; hostErrors_.size() < 100000 && std::getline(errors, line);)
        hostErrors_.push_back(line);

    Report(recording, rosterOk, hostEnd, Now());
    const Counts& c = counts_;
    const bool recordingOk = recording.loaded && recording.countMatches && recording.missing == 0 &&
                             recording.disorderly == 0 && recording.foreign == 0;
    const bool memoryOk = memoryEnd_ - memoryStart_ <= MEMORY_GROWTH_LIMIT_MI_B;
    const bool ok = c.lost == 0 && c.duplicated == 0 && c.reordered == 0 && c.misrouted == 0 &&
                    rosterOk && recordingOk && memoryOk && hostEnd.empty() &&
                    c.protocolErrors == 0 && c.rosterErrors == 0 && c.refusedNotices == 0 &&
                    c.unansweredCloses == 0 && unexpectedBoxes_.empty();
    std::printf("result:              %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--members")
            options.members = std::clamp(std::atoi(argv[i + 1]), 3, SETTINGS_MAX);
        else if (flag == "--seconds")
            options.seconds = std::max(1.0, std::atof(argv[i + 1]));
        else if (flag == "--seed")
            options.seed = std::strtoull(argv[i + 1], nullptr, 10);
    }
    Soak soak(options);
    return soak.Run();
}
