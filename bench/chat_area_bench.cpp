// Chat-area benchmark: a member's window receives chat lines along the path a received line
// takes (the window's link listener, the client handler, the chat area's refresh) and each
// line is timed. The chat area appends a new line instead of rebuilding its text, so a line
// should cost the same after 20,000 lines as at the start. Every 100 lines a frame passes: the
// window shows what arrived and the event loop runs, so that display and painting are paid for
// as well. Then a query is typed into the find bar, and each
// keystroke is timed up to its answer on screen.
//
//   chat_area_bench [--lines N]
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <QApplication>
#include <QDialog>
#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "protocol/packets.h"
#include "session/gbk.h"
#include "session/session.h"
#include "support/core_access.h"
#include "ui/session_dlg.h"

using namespace kolvena;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int DEFAULT_LINES = 20000;
constexpr int PAINT_EVERY = 100;
constexpr int WINDOW_OF_LINES = 1000;

// Nobody answers boxes here; none is expected.
class QuietPrompter final : public Prompter {
public:
    void Inform(Notice, const std::string& caption, const std::string& text, BoxIcon) override {
        std::fprintf(stderr, "box: %s: %s\n", caption.c_str(), text.c_str());
    }
    BoxAnswer Ask(Question, const std::string& caption, const std::string& text, BoxButtons buttons,
                  BoxIcon icon) override {
        Inform(Notice::Done, caption, text, icon);
        return buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    }
    std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override {
        return std::nullopt;
    }
    std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override {
        return std::nullopt;
    }
    void SetClipboard(const std::string&) override {}
    void Beep(BeepKind) override {}
};

// The help window at start-up is closed at once.
class RejectingRunner final : public ui::DialogRunner {
public:
    int Run(QDialog&) override { return QDialog::Rejected; }
};

double Micros(SteadyClock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

double Mean(const std::vector<double>& values, std::size_t from, std::size_t count) {
    if (count == 0)
        return 0;
    return std::accumulate(values.begin() + static_cast<std::ptrdiff_t>(from),
                           values.begin() + static_cast<std::ptrdiff_t>(from + count), 0.0) /
           static_cast<double>(count);
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    const auto k = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

std::vector<Buddy> Roster() {
    std::vector<Buddy> roster;
    for (const char* name : {"Host", "Reader"}) {
        Buddy b =
            Buddy::Make(name, "127.0.0.1", roster.empty() ? BuddyRole::Leader : BuddyRole::Member);
        b.id = static_cast<std::uint32_t>(roster.size() + 1);
        roster.push_back(b);
    }
    return roster;
}

} // namespace

int main(int argc, char** argv) {
    int lineCount = DEFAULT_LINES;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--lines") == 0 && k + 1 < argc) {
            lineCount = std::atoi(argv[++k]);
        } else {
            std::fprintf(stderr, "usage: chat_area_bench [--lines N]\n");
            return 2;
        }
    }
    if (lineCount < 1 || lineCount > 60000) {
        std::fprintf(stderr, "--lines must lie in 1..60000\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    SystemClock clock;
    QuietPrompter prompter;
    RejectingRunner runner;
    LinkOptions link;
    link.bindAddress = QHostAddress::LocalHost;
    link.ownAddress = "127.0.0.1";
    ui::CSessionDlg window(clock, prompter, runner, link);
    window.Start();
    window.show();
    QApplication::processEvents();

    // A member whose connection has just been made, as the join completion leaves it; then
    // the host's roster arrives.
    SessionCore& core = window.Core();
    test::SessionOf(core).inSession = true;
    test::SessionOf(core).isHost = false;
    test::CoreAccess::Client(core).Reset();
    const auto welcome = BuildWelcome(ToGbk("基准"), static_cast<std::uint32_t>(clock.Now()),
                                      std::string(MessageWindowHeader()), Roster());
    if (!welcome) {
        std::fprintf(stderr, "no Welcome\n");
        return 1;
    }
    core.OnClientPacket(*welcome);
    if (!test::CoreAccess::Client(core).Welcomed()) {
        std::fprintf(stderr, "the Welcome was not taken\n");
        return 1;
    }
    QApplication::processEvents();

    // The packets are made beforehand: only receiving them is timed.
    std::vector<std::string> packets;
    packets.reserve(static_cast<std::size_t>(lineCount));
    for (int k = 0; k < lineCount; ++k) {
        ChatLine line;
        line.sender = 1;
        line.target = 0;
        line.stamp = 1;
        line.text = ToGbk("第 " + std::to_string(k) + " 行: the quick brown fox jumps over it");
        packets.push_back(BuildChat(PacketType::Say, line));
    }

    const std::size_t linesBefore = core.session().lines.size();
    std::vector<double> handling;  // per line, microseconds
    std::vector<double> withPaint; // per line, its share of the event loop's run included
    handling.reserve(packets.size());
    withPaint.reserve(packets.size());
    std::vector<double> paints;
    const SteadyClock::time_point start = SteadyClock::now();
    for (std::size_t k = 0; k < packets.size(); ++k) {
        const SteadyClock::time_point before = SteadyClock::now();
        core.OnClientPacket(packets[k]);
        handling.push_back(Micros(SteadyClock::now() - before));
        withPaint.push_back(handling.back());
        if ((k + 1) % PAINT_EVERY == 0 || k + 1 == packets.size()) {
            const SteadyClock::time_point paintStart = SteadyClock::now();
            // A frame passes: what arrived is shown and painted.
            window.ShowNow();
            QApplication::processEvents();
            const double paint = Micros(SteadyClock::now() - paintStart);
            paints.push_back(paint);
            const std::size_t batch = k % PAINT_EVERY + 1;
            for (std::size_t j = k + 1 - batch; j <= k; ++j)
                withPaint[j] += paint / static_cast<double>(batch);
        }
    }
    const double total = Micros(SteadyClock::now() - start);

    const std::size_t shown = core.session().lines.size() - linesBefore;
    const auto paneLines =
        static_cast<int>(window.findChild<QPlainTextEdit*>("1001")->toPlainText().count('\n'));
    if (shown != packets.size()) {
        std::fprintf(stderr, "only %zu of %zu lines were shown\n", shown, packets.size());
        return 1;
    }

    const std::size_t n = handling.size();
    const std::size_t w = std::min<std::size_t>(WINDOW_OF_LINES, n);
    std::printf("chat area: %zu lines received, %d lines in the pane\n", n, paneLines);
    std::printf("per line, handling only:   first %zu %.1f us, last %zu %.1f us, p99 %.1f us, "
                "max %.1f us\n",
                w, Mean(handling, 0, w), w, Mean(handling, n - w, w), Percentile(handling, 0.99),
                *std::max_element(handling.begin(), handling.end()));
    std::printf("per line, painting shared: first %zu %.1f us, last %zu %.1f us\n", w,
                Mean(withPaint, 0, w), w, Mean(withPaint, n - w, w));
    std::printf("event loop every %d lines: first %.1f us, last %.1f us\n", PAINT_EVERY,
                paints.front(), paints.back());
    std::printf("total: %.1f ms for %zu lines (%.1f us a line)\n", total / 1000.0, n,
                total / static_cast<double>(n));

    // The find bar over the same lines: each keystroke of a query, typed as a user would, up
    // to its answer on screen (the matches found, the view's highlights painted).
    window.OnFind();
    auto* field = window.findChild<QLineEdit*>("1111");
    if (field == nullptr) {
        std::fprintf(stderr, "no find field\n");
        return 1;
    }
    std::vector<double> keys;
    for (const QString& query : {QStringLiteral("quick fox"), QStringLiteral("第 59 行")}) {
        field->clear();
        for (const QChar c : query) {
            const SteadyClock::time_point before = SteadyClock::now();
            field->insert(QString(c));
            QApplication::processEvents();
            keys.push_back(Micros(SteadyClock::now() - before));
        }
    }
    std::printf("find over %d lines: per keystroke mean %.1f ms, max %.1f ms (%zu keystrokes)\n",
                paneLines, Mean(keys, 0, keys.size()) / 1000.0,
                *std::max_element(keys.begin(), keys.end()) / 1000.0, keys.size());
    return 0;
}
