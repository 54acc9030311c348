#pragma once

#include <QDialog>
#include <QString>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/dialog_runner.h"

class QWidget;

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

} // namespace kolvena::test
