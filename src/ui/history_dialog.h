#pragma once

#include <QDialog>

namespace kolvena {
struct RecordingHeader;
}

namespace kolvena::ui {

// Dialog 150 "Kolvena - 会话记录属性": the loaded recording's topic, time span and figures, as
// its header holds them. Read-only; "确认" closes it.
class CHistoryPropsDlg final : public QDialog {
public:
    explicit CHistoryPropsDlg(const RecordingHeader& header, QWidget* parent = nullptr);
};

} // namespace kolvena::ui
