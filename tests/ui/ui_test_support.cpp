#include "ui/ui_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <gtest/gtest.h>
#include <memory>

namespace kolvena::test {
namespace {

// Widgets need an application object; one for the whole test binary, on the offscreen
// platform so that the tests run without a display.
class WidgetsEnvironment final : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!QApplication::instance())
            app_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[9] = "ui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const ::testing::Environment* const kWidgetsEnvironment =
    ::testing::AddGlobalTestEnvironment(new WidgetsEnvironment);

} // namespace

int ScriptedRunner::Run(QDialog& dialog) {
    shown.push_back(dialog.objectName().isEmpty() ? dialog.windowTitle() : dialog.objectName());
    dialog.setResult(QDialog::Rejected);
    if (steps.empty())
        return QDialog::Rejected;
    Step step = std::move(steps.front());
    steps.pop_front();
    step(dialog);
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
    if (button == nullptr)
        return false;
    button->click();
    return true;
}

QString TextOf(QWidget& parent, const char* objectName) {
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

} // namespace kolvena::test
