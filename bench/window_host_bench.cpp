// Window-host benchmark: the main window hosting, against a kolvena-peer host, in one sitting on
// loopback. Each is loaded in turn, twice and alternating, by the same 100 members of this
// process: 20 lines a second each for 10 s, then 200 lines each as fast as the host takes them.
// The window runs offscreen with the scripted dialogs of the GUI tests; its session is created
// through its dialogs with room for 100 members and notices unverified. The load runs on a
// thread of its own while the window's event loop runs here, as a user's would.
//
// Before the load, a fresh hosting window's chat area takes 100,000 lines and the memory it
// grows by beyond the session's own copy of them is counted; then that window is closed (the
// exit question answered) and destroyed, timed. The last line reads
//   window-host: p99 W ms vs peer P ms (ratio R); max W2/s vs P2/s (ratio Q); KB/line K; close C
//   ms; lost L
// and the exit code is 1 when a line was lost, duplicated or reordered.
//
//   window_host_bench [--seconds S] [--rate LINES_PER_MEMBER_PER_SECOND] [--batch LINES]
//
// --batch: how many of the 100,000 lines arrive between two runs of the event loop (100).

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench_support.h"
#include "protocol/packets.h"
#include "session/gbk.h"
#include "support/core_access.h"
#include "ui/command_ids.h"
#include "ui/ui_test_support.h"

using namespace kolvena;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int MEMBERS = 100;
constexpr int BURST_LINES = 200;
constexpr int MEMORY_LINES = 100000;

struct Totals {
    std::vector<double> latencies;
    double burstDeliveries = 0, burstSeconds = 0;
    std::int64_t lost = 0, faults = 0;

    void Add(bench::LoadResult& steady, bench::LoadResult& burst) {
        latencies.insert(latencies.end(), steady.latencies.begin(), steady.latencies.end());
        burstDeliveries += static_cast<double>(burst.deliveries);
        burstSeconds += burst.seconds;
        for (const bench::LoadResult* r : {&steady, &burst}) {
            lost += r->lost;
            faults += r->reordered + r->duplicated;
        }
    }
    double P99() { return bench::Percentile(latencies, 0.99); }
    double PerSecond() const { return burstSeconds > 0 ? burstDeliveries / burstSeconds : 0; }
};

// The load on its own thread; the caller's event loop runs until it has ended.
void Load(std::uint16_t port, double rate, double seconds, Totals& totals, const char* who,
          bool runEventLoop) {
    std::atomic<bool> done = false;
    bench::LoadResult steady, burst;
    std::string failed;
    std::thread load([&] {
        bench::LoadGenerator members;
        failed = members.Join(port, MEMBERS);
        if (failed.empty()) {
            steady = members.Steady(rate, seconds);
            burst = members.Burst(BURST_LINES);
        }
        members.Close();
        done = true;
    });
    if (runEventLoop) {
        QEventLoop loop;
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (done)
                loop.quit();
        });
        check.start(20);
        loop.exec();
    }
    load.join();
    if (!failed.empty()) {
        std::fprintf(stderr, "window_host_bench: %s: %s\n", who, failed.c_str());
        std::exit(1);
    }
    std::printf("%-6s steady p50 %.2f ms p99 %.2f ms max %.2f ms; burst %.0f deliveries/s; "
                "lost %lld\n",
                who, bench::Percentile(steady.latencies, 0.5),
                bench::Percentile(steady.latencies, 0.99), bench::Percentile(steady.latencies, 1),
                burst.seconds > 0 ? static_cast<double>(burst.deliveries) / burst.seconds : 0,
                static_cast<long long>(steady.lost + burst.lost));
    std::fflush(stdout);
    totals.Add(steady, burst);
}

// The memory the process holds in RAM: the room a growing block has reserved and not yet
// used does not count, as it costs nothing until it is written.
double ResidentBytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// The event loop runs for a frame's time, as between two paints.
void PassFrame() {
    const auto end = SteadyClock::now() + std::chrono::milliseconds(17);
    while (SteadyClock::now() < end)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// A window hosting as its user would set it up: created through the dialogs, then the settings.
std::unique_ptr<test::TestWindow> HostingWindow(std::uint16_t port) {
    auto host = std::make_unique<test::TestWindow>(port);
    host->Create();
    host->Open(ui::ID_SETTINGS, [](QDialog& settings) {
        test::Type(settings, "1076", QString::number(MEMBERS));
        settings.findChild<QAbstractButton*>("1074")->setChecked(false);
        test::Click(settings, "1");
    });
    const Session& s = host->window.Core().session();
    if (!s.inSession || s.settings.maxClients != MEMBERS || s.settings.verifyMessages) {
        std::fprintf(stderr, "window_host_bench: the window does not host as asked\n");
        std::exit(1);
    }
    QApplication::processEvents();
    return host;
}

// The chat area's own memory and the close, measured first, in a fresh window of a process
// whose heap has not yet been grown and freed by the load (memory freed by the load would be
// taken again without the process growing).
struct MemoryFigures {
    double kbPerLine = 0;
    double closeMs = 0;
    bool closed = false;
};

MemoryFigures MeasureMemoryAndClose(int batch) {
    auto host = HostingWindow(bench::FreePort());
    // The chat area's own memory: what 100,000 lines take, arriving `batch` at a time with
    // the event loop run between, less what as many more take while held back from the view
    // (the session's copy). The session's list has its room beforehand, so that its growth
    // counts in neither.
    QApplication::processEvents();
    SessionCore& core = host->window.Core();
    CoreParts& parts = test::CoreAccess::Parts(core);
    const BuddyId speaker = parts.session.selfId;
    parts.session.lines.reserve(parts.session.lines.size() + 2 * MEMORY_LINES);
    const auto addLines = [&](bool shown) {
        const double before = ResidentBytes();
        for (int k = 0; k < MEMORY_LINES; ++k) {
            // Every other line a whisper: lines of two colours, as a chat mixes them.
            const auto whisper = static_cast<std::uint8_t>(k & 1);
            ChatLine chat{{},      {}, speaker,
                          whisper, 0,  ToGbk("第 " + std::to_string(k) + " 行 hello")};
            if (auto line = parts.session.ComposeChatLine(chat))
                parts.show.ShowChatLine(*line);
            // A frame passes: its due work is done and painted.
            if (shown && k % batch == batch - 1) {
                host->window.ShowNow();
                QApplication::processEvents();
            }
        }
        return (ResidentBytes() - before) / MEMORY_LINES / 1024;
    };
    const double shownKb = addLines(true);
    host->window.HoldRefreshes(true);
    const double sessionKb = addLines(false);
    host->window.HoldRefreshes(false);
    PassFrame();
    const double kbPerLine = shownKb - sessionKb;
    std::printf("100,000 lines: session %.2f KB/line, chat area %.2f KB/line\n", sessionKb,
                kbPerLine);
    std::fflush(stdout);

    host->prompter.answers = {BoxAnswer::Yes};
    const auto closing = SteadyClock::now();
    const bool closed = host->window.close();
    host.reset();
    const double closeMs =
        std::chrono::duration<double, std::milli>(SteadyClock::now() - closing).count();
    if (!closed)
        std::fprintf(stderr, "window_host_bench: the window did not close\n");
    return {kbPerLine, closeMs, closed};
}

} // namespace

int main(int argc, char** argv) {
    double seconds = 10, rate = 20;
    int batch = 100;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (flag == "--rate")
            rate = std::atof(argv[i + 1]);
        else if (flag == "--batch")
            batch = std::max(1, std::atoi(argv[i + 1]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const MemoryFigures memory = MeasureMemoryAndClose(batch);
    Totals window, peer;
    for (int round = 0; round < 2; ++round) {
        const std::uint16_t windowPort = bench::FreePort();
        auto host = HostingWindow(windowPort);
        Load(windowPort, rate, seconds, window, "window", true);
        host.reset();

        const std::uint16_t peerPort = bench::FreePort();
        bench::ChildProcess child;
        bench::ChildOptions quiet;
        quiet.errorPath = "/dev/null";
        quiet.discardOutput = true;
        // clang-format off
        const std::vector<std::string> args = {
            "host", "--name", "bench", "--topic", "bench", "--port", std::to_string(peerPort),
            "--bind", "127.0.0.1", "--own-address", "127.0.0.1", "--max",
            std::to_string(MEMBERS), "--approve", "off"};
        // clang-format on
        if (!child.Start(KOLVENA_PEER_PATH, args, quiet)) {
            std::fprintf(stderr, "window_host_bench: cannot start the peer\n");
            return 1;
        }
        Load(peerPort, rate, seconds, peer, "peer", false);
        child.Finish(std::chrono::seconds(10));
    }

    const double w = window.P99(), p = peer.P99();
    const double w2 = window.PerSecond(), p2 = peer.PerSecond();
    const std::int64_t lost = window.lost + peer.lost;
    std::printf("window-host: p99 %.2f ms vs peer %.2f ms (ratio %.2f); max %.0f/s vs %.0f/s "
                "(ratio %.2f); KB/line %.2f; close %.0f ms; lost %lld\n",
                w, p, p > 0 ? w / p : 0, w2, p2, p2 > 0 ? w2 / p2 : 0, memory.kbPerLine,
                memory.closeMs, static_cast<long long>(lost));
    return lost == 0 && window.faults == 0 && peer.faults == 0 && memory.closed ? 0 : 1;
}
