#include "session_app.h"

#include "session/clock.h"
#include "ui/dialog_runner.h"
#include "ui/qt_prompter.h"
#include "ui/session_dlg.h"
#include "ui/toolbar_images.h"

namespace kolvena {

CSessionApp::CSessionApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kolvena"));
    setApplicationVersion(QStringLiteral("1.0"));
    setDesktopFileName(QStringLiteral("kolvena"));
    setWindowIcon(ui::ApplicationIcon());
}

int CSessionApp::Run() {
    SystemClock clock;
    ui::QtPrompter prompter;
    ui::ModalRunner dialogs;
    ui::CSessionDlg window(clock, prompter, dialogs, LinkOptions{});
    prompter.SetParent(&window);
    window.show();
    window.Start();
    return exec();
}

} // namespace kolvena
