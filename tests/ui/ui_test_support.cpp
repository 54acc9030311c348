#include "ui/ui_test_support.h"
#include "protocol/packets.h"
#include "record/recording_file.h"
#include "session/bytes.h"
#include "session/gbk.h"
#include "ui/command_ids.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace kolvena::test {
namespace {

// One offscreen application for the binary; time texts are local, so the zone is pinned.
class WidgetsEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "ui_tests";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const ::testing::Environment* const kWidgetsEnvironment =
    ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

} // namespace

int ScriptedRunner::Run(QDialog& dialog) {
    shown.push_back(dialog.objectName().isEmpty() ? dialog.windowTitle() : dialog.objectName());
    dialog.setResult(QDialog::Rejected);
    if (!steps.empty()) {
        const Step step = std::move(steps.front());
        steps.pop_front();
        step(dialog);
    }
    return dialog.result();
}

void Type(QWidget& parent, const char* objectName, const QString& text) {
    auto* edit = parent.findChild<QLineEdit*>(objectName);
    ASSERT_NE(edit, nullptr) << objectName;
    edit->clear();
    edit->insert(text);
}

bool Click(QWidget& parent, const char* objectName) {
    auto* button = parent.findChild<QAbstractButton*>(objectName);
    if (button != nullptr)
        button->click();
    return button != nullptr;
}

QString TextOf(QWidget& parent, const char* objectName) {
    // What the next paint would show.
    if (auto* window = dynamic_cast<ui::CSessionDlg*>(&parent))
        window->ShowNow();
    if (auto* edit = parent.findChild<QLineEdit*>(objectName))
        return edit->text();
    if (auto* pane = parent.findChild<QPlainTextEdit*>(objectName))
        return pane->toPlainText();
    if (auto* label = parent.findChild<QLabel*>(objectName))
        return label->text();
    if (auto* button = parent.findChild<QAbstractButton*>(objectName))
        return button->text();
    ADD_FAILURE() << "no control " << objectName;
    return {};
}

QString TextsOf(QWidget& parent, std::initializer_list<const char*> ids) {
    QStringList texts;
    for (const char* id : ids)
        texts << TextOf(parent, id);
    return texts.join('|');
}

QStringList EnabledOf(QWidget& parent, std::initializer_list<const char*> ids) {
    QStringList enabled;
    for (const char* id : ids) {
        auto* control = parent.findChild<QWidget*>(id);
        if (control == nullptr)
            ADD_FAILURE() << "no control " << id;
        else if (control->isEnabled())
            enabled << id;
    }
    return enabled;
}

bool WriteChatRecording(const std::string& path, const std::string& topic, CalendarTime start,
                        const std::vector<std::string>& lines, int gap, int tail, bool ended) {
    FakeClock clock(start);
    ScriptedPrompter prompter;
    EventLog log(clock, prompter);
    log.header.version = RECORDING_VERSION;
    log.header.startTime = static_cast<std::uint32_t>(start);
    std::string created;
    ByteWriter writer(created);
    writer.Field("Ann", NAME_SIZE);
    writer.Field("127.0.0.1", ADDRESS_SIZE);
    log.AppendEvent(EventKind::EvSessionCreated, created);
    for (const std::string& line : lines) {
        clock.Advance(gap);
        log.AppendEvent(EventKind::EvChatLine,
                        BuildChat(PacketType::Say, {{}, {}, 1, 0, 1, ToGbk(line)}));
    }
    if (ended)
        log.AppendEvent(EventKind::EvSessionEnded, "");
    clock.Advance(tail);
    Session session(clock, prompter);
    session.topic = ToGbk(topic);
    session.AddBuddy(Buddy::Make("Ann", "127.0.0.1", BuddyRole::Leader));
    session.counters.chatLineTotal = static_cast<std::uint16_t>(lines.size());
    return SaveRecording(log, session, path).ok;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() <= limit.count()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

bool FakeSearch::Start(const SearchOptions& options) {
    asked.push_back(options);
    results.clear();
    running = opens;
    return opens;
}

void FakeSearch::Answer(const SessionFound& found) {
    const auto same = std::find_if(results.begin(), results.end(), [&](const auto& known) {
        return known.address == found.address && known.port == found.port;
    });
    const bool first = same == results.end();
    const std::size_t index = first ? results.size() : std::size_t(same - results.begin());
    if (first)
        results.push_back(found);
    else
        results[index] = found;
    ReportFound(index, first);
}

void FakeSearch::Finish() {
    running = false;
    ReportFinished();
}

TestWindow::TestWindow(std::uint16_t port, std::uint16_t transferPort)
    : window(clock, prompter, runner,
             {.port = port != 0 ? port : FreePort(),
              .bindAddress = QHostAddress::LocalHost,
              .ownAddress = "127.0.0.1",
              .connectTimeout = std::chrono::milliseconds(3000)},
             transferPort != 0 ? transferPort : FreePort()) {
    window.SetSearchSource(search);
    // The user looks at the window unless a test says otherwise.
    window.isSeen = [this] { return seen; };
    window.askAttention = [this](const QString& who, const QString& what) {
        attention << who + ": " + what;
    };
    window.Start();
    window.show();
}

QAction* TestWindow::Action(int id) {
    auto* action = window.findChild<QAction*>(QString::number(id));
    EXPECT_NE(action, nullptr) << id;
    return action;
}

void TestWindow::Trigger(int id) {
    if (QAction* action = Action(id))
        action->trigger();
    window.ShowNow();
}

void TestWindow::Open(int command, ScriptedRunner::Step step) {
    runner.steps.push_back(std::move(step));
    Trigger(command);
}

void TestWindow::Send(const QString& text) {
    Type(window, "1008", text);
    EXPECT_TRUE(Click(window, "32778"));
    window.ShowNow();
}

void TestWindow::Create() {
    runner.steps.push_back([](QDialog& create) { EXPECT_TRUE(Click(create, "1")); });
    Open(32771, [](QDialog& details) {
        Type(details, "1041", "Ann");
        Type(details, "1042", "闲聊");
        EXPECT_TRUE(Click(details, "1"));
    });
}

void TestWindow::Join(const QString& address, const QString& name) {
    Open(32772, [address, name](QDialog& join) {
        EXPECT_TRUE(Click(join, "1030"));
        Type(join, "1032", address);
        if (!name.isEmpty())
            Type(join, "1037", name);
        EXPECT_TRUE(Click(join, "1"));
    });
}

void TestWindow::Leave() {
    prompter.answers = {BoxAnswer::Ok, BoxAnswer::No, BoxAnswer::Cancel};
    Trigger(ui::ID_LEAVE);
}

bool TestWindow::TransferIdle() {
    return !window.Core().TransferBusy() && !window.Transfers().Running() &&
           window.TransferWindow() == nullptr;
}

QString TestWindow::Marks(std::initializer_list<int> ids, bool checked) {
    QString marks;
    for (int id : ids)
        marks += (checked ? Action(id)->isChecked() : Action(id)->isEnabled()) ? 'x' : '-';
    return marks;
}

QStringList TestWindow::Rows(int columns) {
    QStringList rows;
    window.ShowNow();
    auto* list = window.findChild<QTreeWidget*>("1003");
    for (int k = 0; list != nullptr && k < list->topLevelItemCount(); ++k) {
        QStringList row;
        for (int c = 0; c < columns; ++c)
            row << list->topLevelItem(k)->text(c);
        rows << row.join('|');
    }
    return rows;
}

bool TestWindow::ChatHas(const QString& line) {
    return TextOf(window, "1001").split('\n').contains(line);
}

} // namespace kolvena::test
