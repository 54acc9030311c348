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
constexpr int kTopicField = 1042;
constexpr int kCreatedField = 1058;
constexpr int kLeaderField = 1041;
constexpr int kAddressField = 1060;
constexpr int kOwnNameField = 1066;
constexpr int kPresentField = 1062;
constexpr int kHistoryField = 1063;
constexpr int kMessageTotalField = 1069;
constexpr int kChatTotalField = 1070;
constexpr int kOwnSayField = 1071;
constexpr int kOwnMessageField = 1073;
constexpr int kRelatedSayField = 1072;

// Control ids of the member information window.
constexpr int kNameField = 1005;
constexpr int kIdField = 1085;
constexpr int kJoinField = 1086;
constexpr int kStayField = 1087;
constexpr int kSayCountField = 1088;
constexpr int kMessageCountField = 1089;

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
        {kTopicField, FromGbk(session.topic)},
        {kCreatedField, CreationText(session.createdAt)},
        {kLeaderField, NameOf(leader)},
        {kAddressField, "编码: " + std::to_string(code)},
        {kPresentField, std::to_string(session.GetBuddyCount())},
        {kHistoryField, std::to_string(session.roster.size())},
        {kOwnNameField, NameOf(self)},
        {kMessageTotalField, std::to_string(session.counters.messageTotal)},
        {kChatTotalField, std::to_string(session.counters.chatLineTotal)},
        {kOwnSayField, std::to_string(session.counters.ownSayTotal)},
        {kOwnMessageField, std::to_string(session.counters.ownMessageTotal)},
        {kRelatedSayField, std::to_string(session.counters.relatedSayTotal)},
    };
}

std::vector<InfoField> MemberFields(const Buddy& member, CalendarTime now) {
    return {
        {kNameField, NameOf(&member)},
        {kIdField, std::to_string(member.id)},
        {kJoinField, FormatClock(member.joinTime)},
        {kStayField, FormatDuration(StaySeconds(member, now))},
        {kSayCountField, std::to_string(member.sayCount)},
        {kMessageCountField, std::to_string(member.messageCount)},
    };
}

StatusDialog::StatusDialog(const Session& session, AddressCode code, QWidget* parent)
    : QDialog(parent) {
    const std::vector<Group> groups = {
        {"状态",
         {{kTopicField, "会话主题"},
          {kCreatedField, "创建时间"},
          {kLeaderField, "组    长"},
          {kAddressField, "会话地址"},
          {kOwnNameField, "您的名字"}}},
        {"统计",
         {{kPresentField, "当前成员人数"},
          {kHistoryField, "历史参与人数"},
          {kMessageTotalField, "消息总数"},
          {kChatTotalField, "对话总数"},
          {kOwnSayField, "您的发言总数"},
          {kOwnMessageField, "您发的消息总数"},
          {kRelatedSayField, "和您相关发言数"}}},
    };
    BuildInfoWindow(*this, "134", "Kolvena - 当前会话状态", groups, StatusFields(session, code),
                    "确定");
}

MemberInfoDialog::MemberInfoDialog(const Buddy& member, CalendarTime now, QWidget* parent)
    : QDialog(parent) {
    const std::vector<Group> groups = {
        {"成员资料", {{kNameField, "名  称"}, {kIdField, "ID"}}},
        {"会话信息",
         {{kJoinField, "登陆时间"},
          {kStayField, "停留时间"},
          {kSayCountField, "发言数"},
          {kMessageCountField, "消息数"}}},
    };
    BuildInfoWindow(*this, "147", "Kolvena 察看成员信息", groups, MemberFields(member, now),
                    "确认");
}

} // namespace kolvena::ui
