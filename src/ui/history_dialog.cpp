#include "history_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstdint>
#include <string>

#include "gbk_edit.h"
#include "record/event_log.h"
#include "session/time_text.h"

namespace kolvena::ui {
namespace {

struct Field {
    int id;
    const char* label;
    QString value;
};

QString Number(std::uint32_t value) {
    return QString::number(value);
}

} // namespace

CHistoryPropsDlg::CHistoryPropsDlg(const RecordingHeader& header, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("150"));
    setWindowTitle(QString::fromUtf8("Kolvena - 会话记录属性"));

    const std::string topic = header.topic.substr(0, header.topic.find('\0'));
    const std::string span =
        FormatClockAndDate(header.startTime) + "-" + FormatClockAndDate(header.savedTime);
    const Field fields[] = {
        {1042, "会话主题", ToScreen(topic)},
        {1086, "时  间", QString::fromStdString(span)},
        {1101, " 事件数", Number(header.eventCount)},
        {1103, "参与人数", Number(header.memberCount)},
        {1104, "会话数", Number(header.chatLines)},
        {1105, "消息数", Number(header.notices)},
    };

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* group = new QGroupBox(QString::fromUtf8("历史属性"), this);
    auto* form = new QFormLayout(group);
    // Wide enough for the whole time span, the longest of the values.
    const int fieldWidth = fontMetrics().horizontalAdvance(QString::fromStdString(span)) +
                           fontMetrics().averageCharWidth() * 4;
    for (const Field& field : fields) {
        auto* edit = new QLineEdit(field.value, group);
        edit->setObjectName(QString::number(field.id));
        edit->setReadOnly(true);
        edit->setMinimumWidth(fieldWidth);
        edit->setCursorPosition(0);
        form->addRow(QString::fromUtf8(field.label), edit);
    }
    layout->addWidget(group);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QString::fromUtf8("确认"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace kolvena::ui
