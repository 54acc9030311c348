#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "net/session_link.h"
#include "support/child_process.h"
#include "support/fakes.h"
#include "ui/dialog_runner.h"
#include "ui/session_dlg.h"

class QWidget;

// Readable failures for Qt's strings.
void PrintTo(const QString& text, std::ostream* out);
void PrintTo(const QStringList& list, std::ostream* out);

namespace kolvena::test {

// Answers the window's dialogs from a script instead of running them modally: each step gets
// the dialog, may fill its fields and press its buttons, and returns nothing; the dialog's
// result is then what its buttons made it. A dialog with no step left is rejected.
class ScriptedRunner final : public ui::DialogRunner {
public:
    using Step = std::function<void(QDialog&)>;

    int Run(QDialog& dialog) override;

    // Object names (or window titles, when unnamed) of every dialog run, in order.
    std::vector<QString> shown;
    std::deque<Step> steps;
};

// Sets a line edit's text as if typed (the edit's own limits apply).
void Type(QWidget& parent, const char* objectName, const QString& text);
// Clicks the button with that object name; false when there is none.
bool Click(QWidget& parent, const char* objectName);
// The text of the QLineEdit, QPlainTextEdit, QLabel or button with that object name.
QString TextOf(QWidget& parent, const char* objectName);
// "id=text" for each of the controls, in the order given.
QStringList TextsOf(QWidget& parent, std::initializer_list<const char*> ids);
// Those of the controls that are enabled, in the order given.
QStringList EnabledOf(QWidget& parent, std::initializer_list<const char*> ids);

// Runs the event loop until done() holds or the limit passes; whether it held.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// One user's window on loopback with its own clock, boxes and dialogs, started and shown; the
// help window that opens at start is answered by noting its "每次启动时显示" box. The transfer
// port is a free one unless given.
struct TestWindow {
    explicit TestWindow(std::uint16_t port = 0, std::uint16_t transferPort = 0);

    QAction* Action(int id);
    void Trigger(int id);
    // Runs the dialog that the command opens with the step.
    void Open(int command, ScriptedRunner::Step step);
    // Types the text into the input line and presses send.
    void Send(const QString& text);
    // Creates a session as "Ann" on "闲聊", confirming both dialogs.
    void Create();
    // Joins by address, with the name unless empty.
    void Join(const QString& address, const QString& name = {});
    // No transfer running nor its window open.
    bool TransferIdle();
    // Leaves (or closes) the session without saving, keeping the chat area.
    void Leave();
    // The member list's rows, their first columns joined by "|".
    QStringList Rows(int columns = 1);
    bool ChatHas(const QString& line);

    FakeClock clock;
    ScriptedPrompter prompter;
    ScriptedRunner runner;
    bool helpShownAtEveryStart = false;
    ui::CSessionDlg window;
};

} // namespace kolvena::test
