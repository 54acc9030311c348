#include "ui/info_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdint>
#include <ctime>
#include <limits>
#include <map>

#include "session/gbk.h"
#include "session/session.h"
#include "session/time_text.h"

namespace kolvena::ui {
namespace {

// Control ids of the status window.
constexpr int TOPIC_FIELD = 1042;
constexpr int CREATED_FIELD = 1058;
constexpr int LEADER_FIELD = 1041;
constexpr int ADDRESS_FIELD = 1060;
constexpr int OWN_NAME_FIELD = 1066;
constexpr int PRESENT_FIELD = 1062;
constexpr int HISTORY_FIELD = 1063;
constexpr int MESSAGE_TOTAL_FIELD = 1069;
constexpr int CHAT_TOTAL_FIELD = 1070;
constexpr int OWN_SAY_FIELD = 1071;
constexpr int OWN_MESSAGE_FIELD = 1073;
constexpr int RELATED_SAY_FIELD = 1072;

// Control ids of the member information window.
constexpr int NAME_FIELD = 1005;
constexpr int ID_FIELD = 1085;
constexpr int JOIN_FIELD = 1086;
constexpr int STAY_FIELD = 1087;
constexpr int SAY_COUNT_FIELD = 1088;
constexpr int MESSAGE_COUNT_FIELD = 1089;

struct Row {
    int id;
    const char* label;
};

struct Group {
    const char* title;
    std::vector<Row> rows;
};

std::string CreationText(CalendarTime time) {
    const std::time_t t = static_cast<std::time_t>(time);
    std::tm parts{};
    if (localtime_r(&t, &parts) == nullptr)
        return {};
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%H:%M:%S %m/%d/%Y", &parts);
    return std::string(text, length);
}

// A member's name as the screen shows it; no record, no name.
std::string NameOf(const Buddy* member) {
    return member == nullptr ? std::string() : FromGbk(member->Name());
}

// A stay that would come out negative (a record stamped by a host whose clock runs ahead)
// shows as none rather than as a garbled span.
std::int32_t StaySeconds(const Buddy& member, CalendarTime now) {
    const CalendarTime span = now - static_cast<CalendarTime>(member.joinTime);
    return static_cast<std::int32_t>(
        std::clamp<CalendarTime>(span, 0, std::numeric_limits<std::int32_t>::max()));
}

// Builds the window's groups of labelled read-only edits and fills them from the fields.
void BuildInfoWindow(QDialog& dialog, const char* objectName, const char* caption,
                     const std::vector<Group>& groups, const std::vector<InfoField>& fields,
                     const char* okText) {
    dialog.setObjectName(objectName);
    dialog.setWindowTitle(QString::fromUtf8(caption));

    std::map<int, QString> values;
    for (const auto& [id, text] : fields)
        values[id] = QString::fromStdString(text);

    auto* layout = new QVBoxLayout(&dialog);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Room for a whole topic (20 Chinese characters) without scrolling the field.
    const int fieldWidth = dialog.fontMetrics().horizontalAdvance(QString(24, QChar(0x4F1A)));
    for (const Group& group : groups) {
        auto* box = new QGroupBox(QString::fromUtf8(group.title), &dialog);
        auto* form = new QFormLayout(box);
        for (const Row& row : group.rows) {
            auto* edit = new QLineEdit(values[row.id], box);
            edit->setObjectName(QString::number(row.id));
            edit->setReadOnly(true);
            edit->setMinimumWidth(fieldWidth);
            edit->setCursorPosition(0);
            form->addRow(QString::fromUtf8(row.label), edit);
        }
        layout->addWidget(box);
    }

    auto* buttons = new QDialogButtonBox(&dialog);
    auto* ok = buttons->addButton(QString::fromUtf8(okText), QDialogButtonBox::AcceptRole);
    ok->setObjectName("1");
    ok->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace

std::vector<InfoField> StatusFields(const Session& session, AddressCode code) {
    const Buddy* leader = session.roster.empty() ? nullptr : &session.roster.front();
    const Buddy* self = session.BuddyById(session.selfId);
    return {
        {TOPIC_FIELD, FromGbk(session.topic)},
        {CREATED_FIELD, CreationText(session.createdAt)},
        {LEADER_FIELD, NameOf(leader)},
        {ADDRESS_FIELD, "编码: " + std::to_string(code)},
        {PRESENT_FIELD, std::to_string(session.GetBuddyCount())},
        {HISTORY_FIELD, std::to_string(session.roster.size())},
        {OWN_NAME_FIELD, NameOf(self)},
        {MESSAGE_TOTAL_FIELD, std::to_string(session.counters.messageTotal)},
        {CHAT_TOTAL_FIELD, std::to_string(session.counters.chatLineTotal)},
        {OWN_SAY_FIELD, std::to_string(session.counters.ownSayTotal)},
        {OWN_MESSAGE_FIELD, std::to_string(session.counters.ownMessageTotal)},
        {RELATED_SAY_FIELD, std::to_string(session.counters.relatedSayTotal)},
    };
}

std::vector<InfoField> MemberFields(const Buddy& member, CalendarTime now) {
    return {
        {NAME_FIELD, NameOf(&member)},
        {ID_FIELD, std::to_string(member.id)},
        {JOIN_FIELD, FormatClock(member.joinTime)},
        {STAY_FIELD, FormatDuration(StaySeconds(member, now))},
        {SAY_COUNT_FIELD, std::to_string(member.sayCount)},
        {MESSAGE_COUNT_FIELD, std::to_string(member.messageCount)},
    };
}

StatusDialog::StatusDialog(const Session& session, AddressCode code, QWidget* parent)
    : QDialog(parent) {
    const std::vector<Group> groups = {
        {"状态",
         {{TOPIC_FIELD, "会话主题"},
          {CREATED_FIELD, "创建时间"},
          {LEADER_FIELD, "组    长"},
          {ADDRESS_FIELD, "会话地址"},
          {OWN_NAME_FIELD, "您的名字"}}},
        {"统计",
         {{PRESENT_FIELD, "当前成员人数"},
          {HISTORY_FIELD, "历史参与人数"},
          {MESSAGE_TOTAL_FIELD, "消息总数"},
          {CHAT_TOTAL_FIELD, "对话总数"},
          {OWN_SAY_FIELD, "您的发言总数"},
          {OWN_MESSAGE_FIELD, "您发的消息总数"},
          {RELATED_SAY_FIELD, "和您相关发言数"}}},
    };
    BuildInfoWindow(*this, "134", "Kolvena - 当前会话状态", groups, StatusFields(session, code),
                    "确定");
}

MemberInfoDialog::MemberInfoDialog(const Buddy& member, CalendarTime now, QWidget* parent)
    : QDialog(parent) {
    const std::vector<Group> groups = {
        {"成员资料", {{NAME_FIELD, "名  称"}, {ID_FIELD, "ID"}}},
        {"会话信息",
         {{JOIN_FIELD, "登陆时间"},
          {STAY_FIELD, "停留时间"},
          {SAY_COUNT_FIELD, "发言数"},
          {MESSAGE_COUNT_FIELD, "消息数"}}},
    };
    BuildInfoWindow(*this, "147", "Kolvena 察看成员信息", groups, MemberFields(member, now),
                    "确认");
}

} // namespace kolvena::ui
