#pragma once

#include <QDialog>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "net/session_search.h"
#include "support/child_process.h"
#include "support/fakes.h"
#include "ui/dialog_runner.h"
#include "ui/session_dlg.h"

// Readable failures for Qt's strings (and, through gtest's container printer, their lists).
void PrintTo(const QString& text, std::ostream* out);

namespace kolvena::test {

// Runs each dialog through the next scripted step instead of modally; none left: rejected.
class ScriptedRunner final : public ui::DialogRunner {
public:
    using Step = std::function<void(QDialog&)>;
    int Run(QDialog& dialog) override;
    std::vector<QString> shown; // object names (or titles) of the dialogs run, in order
    std::deque<Step> steps;
};

// Ann's recording on `topic`: created at `start`, then a chat line every `gap` s, saved
// `tail` s after the last line, with the session's end when `ended`. False when the save fails.
bool WriteChatRecording(const std::string& path, const std::string& topic, CalendarTime start,
                        const std::vector<std::string>& lines, int gap, int tail, bool ended);

// Sets a line edit's text as if typed, so that the edit's own limits apply.
void Type(QWidget& parent, const char* objectName, const QString& text);
bool Click(QWidget& parent, const char* objectName);
// The text of the line edit, text pane, label or button with that object name; in a window,
// once the display work due is done.
QString TextOf(QWidget& parent, const char* objectName);
// The texts of the controls, in the order given, joined by "|".
QString TextsOf(QWidget& parent, std::initializer_list<const char*> ids);
// Those of the controls that are enabled, in the order given.
QStringList EnabledOf(QWidget& parent, std::initializer_list<const char*> ids);
// Runs the event loop until done() holds or the limit passes; whether it held.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::milliseconds(5000));

// Sessions a test makes up; nothing goes on the network.
class FakeSearch final : public SearchSource {
public:
    bool Start(const SearchOptions& options) override;
    void Stop() override { running = false; }
    bool Running() const override { return running; }
    const std::vector<SessionFound>& Results() const override { return results; }
    // An answer arrives: a session not listed yet, or a newer answer of a listed one.
    void Answer(const SessionFound& found);
    void Finish();

    std::vector<SearchOptions> asked;
    std::vector<SessionFound> results;
    bool running = false;
    bool opens = true; // whether a search can start
};

// One user's window on loopback, started and shown; ports are free ones unless given.
struct TestWindow {
    explicit TestWindow(std::uint16_t port = 0, std::uint16_t transferPort = 0);

    QAction* Action(int id);
    // Triggers the action; the window then shows what it did (and Send too).
    void Trigger(int id);
    // Runs the dialog that the command opens with the step.
    void Open(int command, ScriptedRunner::Step step);
    void Send(const QString& text);
    // Creates a session as "Ann" on "闲聊".
    void Create();
    void Join(const QString& address, const QString& name = {});
    bool TransferIdle();
    // Leaves (or closes) the session without saving.
    void Leave();
    // One mark per action: 'x' when it is enabled (or, when `checked`, checked), else '-'.
    QString Marks(std::initializer_list<int> ids, bool checked = false);
    // Shown now, the member list's rows, their first columns joined by "|".
    QStringList Rows(int columns = 1);
    bool ChatHas(const QString& line);

    FakeClock clock;
    ScriptedPrompter prompter;
    ScriptedRunner runner;
    FakeSearch search;
    bool seen = true;
    QStringList attention; // "who: what" of each request for attention
    ui::CSessionDlg window;
};

} // namespace kolvena::test
