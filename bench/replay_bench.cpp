// Replay benchmark: a leader's recording of the largest size a file can count (65,535 events:
// the session created, members joining and leaving, chat lines and notices) is saved, opened
// through the open command, and then the replay is sought to its last event and back to its
// first, as dragging the control window's slider does. The view does what a window does cheaply:
// while refreshes are held it only notes them, and on release it renders the chat text once;
// otherwise it appends new chat lines and copies the message text and member list.
//
//   replay_bench [--events N] [--rounds R] [--window]
//
// Prints the median and best time of each of the three steps over R rounds (5), in
// milliseconds. With --window the steps run in the real main window (on Qt's offscreen
// platform unless another is set), its panes rebuilt and repainted once per step.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <QApplication>
#include <memory>

#include "protocol/offline.h"
#include "protocol/packets.h"
#include "protocol/session_core.h"
#include "protocol/view_texts.h"
#include "session/gbk.h"
#include "ui/dialog_runner.h"
#include "ui/session_dlg.h"

using namespace kolvena;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr CalendarTime START_TIME = 1000000000;
// Members come and go so that the session holds about this many at a time.
constexpr std::size_t TYPICAL_PRESENT = 40;

class BenchClock final : public Clock {
public:
    CalendarTime Now() const override { return now; }
    CalendarTime now = START_TIME;
};

// Answers the open dialog with the recording and every question with Yes; counts the boxes.
class BenchPrompter final : public Prompter {
public:
    void Inform(Notice, const std::string& caption, const std::string& text, BoxIcon) override {
        ++boxes;
        if (verbose)
            std::fprintf(stderr, "box: %s | %s\n", caption.c_str(), text.c_str());
    }
    BoxAnswer Ask(Question, const std::string& caption, const std::string& text, BoxButtons buttons,
                  BoxIcon icon) override {
        Inform(Notice::Done, caption, text, icon);
        return buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return path; }
    void SetClipboard(const std::string&) override {}
    void Beep(BeepKind) override {}

    std::string path;
    bool verbose = false;
    int boxes = 0;
};

// The window's help box at start-up is not part of what is measured.
class RejectingRunner final : public ui::DialogRunner {
public:
    int Run(QDialog&) override { return QDialog::Rejected; }
};

class BenchTimer final : public ReplayTimer {
public:
    void Start(int) override { running = true; }
    void Stop() override { running = false; }
    bool running = false;
};

// The panes of a window, reduced to the work a window does with the session's data.
class BenchView final : public SessionView {
public:
    void Attach(const Session& session) { session_ = &session; }

    void RefreshChat() override {
        if (held_) {
            chatDirty_ = true;
            return;
        }
        const auto& lines = session_->lines;
        // A cleared chat area is rendered again; otherwise new lines are appended.
        if (lines.size() < shownLines_) {
            RenderChat();
            return;
        }
        for (; shownLines_ < lines.size(); ++shownLines_) {
            chatText += lines[shownLines_].text;
            chatText += session_->LineSuffix(lines[shownLines_]);
            chatText += "\r\n";
        }
    }
    void RefreshMessages() override {
        if (held_)
            messagesDirty_ = true;
        else
            messageText = session_->messageText;
    }
    void RefreshMembers() override {
        if (held_)
            membersDirty_ = true;
        else
            members = MemberItems(*session_);
    }
    void RefreshTarget() override {}
    void RefreshTitle() override {}
    void RefreshCommands() override {}
    void SetWindowMode(WindowMode) override {}
    void SetJoinTimer(bool) override {}
    void HoldRefreshes(bool hold) override {
        held_ = hold;
        if (hold)
            return;
        ++releases;
        if (chatDirty_)
            RenderChat();
        if (messagesDirty_)
            messageText = session_->messageText;
        if (membersDirty_)
            members = MemberItems(*session_);
        chatDirty_ = messagesDirty_ = membersDirty_ = false;
    }

    std::string chatText;
    std::string messageText;
    std::vector<std::string> members;
    int releases = 0;

private:
    void RenderChat() {
        chatText = session_->RenderLines();
        shownLines_ = session_->lines.size();
    }

    const Session* session_ = nullptr;
    std::size_t shownLines_ = 0;
    bool held_ = false;
    bool chatDirty_ = false;
    bool messagesDirty_ = false;
    bool membersDirty_ = false;
};

std::string Padded(std::string_view text, std::size_t width) {
    std::string out(text.substr(0, width));
    out.resize(width, '\0');
    return out;
}

// A leader's session: it is created, then members join while few are there and leave while
// many are, and the present ones chat, with a notice now and then. Time advances by a second
// every few events.
std::size_t BuildRecording(EventLog& log, BenchClock& clock, std::size_t eventCount) {
    log.ClearLog();
    log.AppendEvent(EventKind::EvSessionCreated,
                    Padded(ToGbk("组长"), NAME_SIZE) + Padded("192.168.0.7", ADDRESS_SIZE));
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(clock.now);
    log.header.topic = ToGbk("回放基准会话");

    std::vector<std::uint16_t> present = {1}; // BuddyIDs in ActiveIndex order
    std::uint16_t rosterSize = 1;
    std::uint32_t random = 12345;
    auto next = [&random] {
        random = random * 1103515245u + 12345u;
        return (random >> 16) & 0x7fff;
    };

    for (std::size_t i = 1; i < eventCount; ++i) {
        if (i % 4 == 0)
            clock.now += 1;
        const std::uint32_t roll = next() % 100;
        if (roll < 6 && (present.size() < TYPICAL_PRESENT || roll < 3)) {
            const std::string name = ToGbk("成员" + std::to_string(rosterSize + 1));
            log.AppendEvent(EventKind::EvMemberJoined, BuildLogin(name));
            present.push_back(++rosterSize);
        } else if (roll < 10 && present.size() > 1) {
            // ActiveIndex 1 is the leader, who stays.
            const std::size_t index = 1 + next() % (present.size() - 1);
            log.AppendEvent(EventKind::EvMemberLeft,
                            BuildMemberLeft(static_cast<std::uint16_t>(index + 1)));
            present.erase(present.begin() + static_cast<std::ptrdiff_t>(index));
        } else if (roll < 18) {
            NoticePacket notice;
            notice.sender = present[next() % present.size()];
            notice.text = ToGbk("第" + std::to_string(i) + "条消息: 明天下午三点开会");
            log.AppendEvent(EventKind::EvNotice, BuildNotice(PacketType::Notice, notice));
        } else {
            ChatLine line;
            line.sender = present[next() % present.size()];
            line.text = ToGbk("第" + std::to_string(i) + "句: 大家好, 今天的进度怎么样?");
            log.AppendEvent(EventKind::EvChatLine, BuildChat(PacketType::Say, line));
        }
    }
    return rosterSize;
}

double Milliseconds(SteadyClock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void PrintTimes(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%s %8.1f  %8.1f ms\n", what, times[times.size() / 2], times.front());
}

} // namespace

int main(int argc, char** argv) {
    std::size_t eventCount = MAX_EVENTS;
    int rounds = 5;
    bool verbose = false;
    bool inWindow = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--events") == 0 && i + 1 < argc)
            eventCount = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--verbose") == 0)
            verbose = true;
        else if (std::strcmp(argv[i], "--window") == 0)
            inWindow = true;
        else {
            std::fprintf(stderr,
                         "usage: replay_bench [--events N] [--rounds R] [--verbose] [--window]\n");
            return 2;
        }
    }
    if (eventCount < 2 || eventCount > MAX_EVENTS || rounds < 1 || rounds > 1000) {
        std::fprintf(stderr, "replay_bench: --events must be 2..%zu, --rounds 1..1000\n",
                     MAX_EVENTS);
        return 2;
    }

    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("kolvena-replay-bench-" + std::to_string(::getpid()) + ".prs");
    BenchClock clock;
    BenchPrompter prompter;
    prompter.verbose = verbose;
    std::size_t rosterSize = 0;
    {
        EventLog log(clock, prompter);
        rosterSize = BuildRecording(log, clock, eventCount);
        clock.now += 1;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        if (!log.WriteLog(out)) {
            std::fprintf(stderr, "replay_bench: cannot write %s\n", file.c_str());
            return 1;
        }
    }
    const auto fileSize = std::filesystem::file_size(file);

    OfflineTransport transport;
    OfflineTransfers transfers;
    BenchView view;
    BenchTimer timer;
    SessionCore benchCore(clock, prompter, transport, view, transfers, timer);
    view.Attach(benchCore.session());
    benchCore.Start();

    // The window variant: the same steps through the real window, painted after each step.
    std::unique_ptr<QApplication> app;
    std::unique_ptr<ui::CSessionDlg> window;
    RejectingRunner dialogs;
    if (inWindow) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QApplication>(argc, argv);
        window = std::make_unique<ui::CSessionDlg>(clock, prompter, dialogs, LinkOptions{});
        window->show();
        window->Start();
        QApplication::processEvents();
    }
    SessionCore& core = window ? window->Core() : benchCore;
    const auto paint = [&app] {
        if (app)
            QApplication::processEvents();
    };
    prompter.path = file.string();
    const int boxesBefore = prompter.boxes;

    // Each round opens the recording again, then seeks to its end and back to its first event.
    std::vector<double> openTimes, endTimes, firstTimes;
    std::size_t linesAtEnd = 0, chatBytesAtEnd = 0, messageBytesAtEnd = 0, presentAtEnd = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = SteadyClock::now();
        core.commands().OpenRecording();
        paint();
        const auto t1 = SteadyClock::now();
        const std::size_t loaded = core.recorder().log.events.size();
        if (core.recorder().state == ReplayState::NoReplay || loaded != eventCount) {
            std::fprintf(stderr, "replay_bench: the recording did not open (%zu events)\n", loaded);
            std::filesystem::remove(file);
            return 1;
        }
        core.replay().Seek(static_cast<std::uint32_t>(eventCount));
        paint();
        const auto t2 = SteadyClock::now();
        linesAtEnd = core.session().lines.size();
        chatBytesAtEnd = window ? core.session().RenderLines().size() : view.chatText.size();
        messageBytesAtEnd = core.session().messageText.size();
        presentAtEnd = core.session().GetBuddyCount();
        core.replay().Seek(1);
        paint();
        const auto t3 = SteadyClock::now();
        openTimes.push_back(Milliseconds(t1 - t0));
        endTimes.push_back(Milliseconds(t2 - t1));
        firstTimes.push_back(Milliseconds(t3 - t2));
    }
    std::filesystem::remove(file);

    std::printf("recording: %zu events, %ju bytes, %zu members over the session; %d rounds%s\n",
                eventCount, static_cast<std::uintmax_t>(fileSize), rosterSize, rounds,
                window ? ", in the window" : "");
    std::printf("                   median      best\n");
    PrintTimes("open recording:   ", openTimes);
    PrintTimes("seek to the end:  ", endTimes);
    PrintTimes("seek to the first:", firstTimes);
    std::printf("at the end: %zu chat lines, %zu chat bytes, %zu message bytes, %zu present; "
                "after seeking back: %zu chat lines\n",
                linesAtEnd, chatBytesAtEnd, messageBytesAtEnd, presentAtEnd,
                core.session().lines.size());
    std::printf("boxes: %d", prompter.boxes - boxesBefore);
    if (!window)
        std::printf(", held refresh releases: %d", view.releases);
    std::printf("\n");
    return 0;
}
