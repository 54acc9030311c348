#include "session_app.h"

#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <string_view>
#include <unistd.h>

#include "net/history_qt.h"
#include "session/clock.h"
#include "ui/dialog_runner.h"
#include "ui/qt_prompter.h"
#include "ui/session_dlg.h"
#include "ui/toolbar_images.h"

namespace kolvena {

namespace {

// Off unless asked for (QT_LOGGING_RULES="kolvena.app.info=true").
Q_LOGGING_CATEGORY(lcApp, "kolvena.app", QtWarningMsg)

// SIGTERM only writes a byte here; the event loop reads it and does the work.
int terminatePipe[2] = {-1, -1};

void OnTerminate(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminatePipe[1], &byte, 1);
    errno = saved;
}

// The read end of the pipe that SIGTERM writes to, or -1.
int CatchTerminate() {
    if (terminatePipe[0] < 0 && ::pipe2(terminatePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return -1;
    struct sigaction action = {};
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0 ? terminatePipe[0] : -1;
}

} // namespace

std::optional<int> AnswerCommandLine(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(APP_USAGE, stdout);
            return 0;
        }
        if (argument == "--version") {
            std::puts("kolvena " KOLVENA_VERSION);
            return 0;
        }
    }
    return std::nullopt;
}

CSessionApp::CSessionApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kolvena"));
    setApplicationVersion(QStringLiteral(KOLVENA_VERSION));
    setDesktopFileName(QStringLiteral("kolvena"));
    setWindowIcon(ui::ApplicationIcon());
    ui::InstallQtTranslations(*this);
}

std::optional<int> CSessionApp::RejectLeftovers() const {
    const QStringList left = arguments().mid(1);
    if (left.isEmpty())
        return std::nullopt;
    std::fprintf(stderr, "kolvena: unknown argument '%s'\n%s", qUtf8Printable(left.first()),
                 APP_USAGE);
    return 2;
}

int CSessionApp::Run() {
    SystemClock clock;
    ui::QtPrompter prompter;
    ui::ModalRunner dialogs;
    // Declared before the window: the keeper the window's core owns uses it to its end.
    QtHistoryTimer historyTimer;
    ui::CSessionDlg window(clock, prompter, dialogs, LinkOptions{});
    prompter.SetParent(&window);
    // Every session is kept as it happens; a folder that cannot be written is told once, at
    // the first write, and the session runs on.
    window.Core().KeepHistory(HistoryFolder(), historyTimer);
    historyTimer.OnFire([&window] {
        if (HistoryKeeper* history = window.Core().history())
            history->OnTimer();
    });

    // On SIGTERM (as at logout) the program goes without asking: every event loop ends, open
    // dialogs and boxes with it, and the window's end closes the session's connections.
    bool terminated = false;
    std::unique_ptr<QSocketNotifier> terminate;
    if (const int fd = CatchTerminate(); fd >= 0) {
        terminate = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(terminate.get(), &QSocketNotifier::activated, [&, fd] {
            char byte;
            while (::read(fd, &byte, 1) > 0) {
            }
            terminated = true;
            window.hide();
            QCoreApplication::exit(0);
        });
    }

    window.show();
    QTimer::singleShot(0, &window, [&window] {
        if (window.isVisible())
            qCInfo(lcApp) << "window shown";
    });
    // Start opens the help window, modally: a SIGTERM may end it before the main loop runs.
    window.Start();
    return terminated ? 0 : exec();
}

} // namespace kolvena
