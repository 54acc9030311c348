#pragma once

#include <QDialog>
#include <functional>

#include "protocol/commands.h"

class QCheckBox;
class QLabel;
class QLineEdit;

namespace kolvena::ui {

// Dialog 140 "Kolvena - 设置". The host-only controls (1074, 1081, 1076 and its label 1080)
// are greyed when the dialog opens outside hosting; 1083 (answering searches) lasts for the
// run, so it can be chosen before a session is created.
class SettingsDialog final : public QDialog {
public:
    // Gets the dialog's values on OK; false keeps the dialog open.
    using Validator = std::function<bool(const SettingsValues& values)>;
    SettingsDialog(const SettingsValues& start, Validator validate, QWidget* parent = nullptr);
    // The fields as the controls hold them; a maximum that is not a number reads as 0.
    SettingsValues Values() const;

private:
    SettingsValues start_;
    Validator validate_;
    QCheckBox* verify_;
    QCheckBox* showTimeOnChat_;
    QCheckBox* sound_;
    QLineEdit* maxClients_;
    QLabel* maxLabel_;
    QCheckBox* showTimeOnMessages_;
    QCheckBox* listen_;
    QCheckBox* search_;
};

} // namespace kolvena::ui
