#pragma once

#include <QDialog>

namespace kolvena::ui {

// Runs the window's modal dialogs. The program runs each one modally; tests fill the fields
// and press the buttons instead, without a nested event loop.
class DialogRunner {
public:
    virtual ~DialogRunner() = default;
    // QDialog::Accepted or QDialog::Rejected.
    virtual int Run(QDialog& dialog) = 0;
};

class ModalRunner final : public DialogRunner {
public:
    int Run(QDialog& dialog) override { return dialog.exec(); }
};

} // namespace kolvena::ui
