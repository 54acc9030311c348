#pragma once

#include <QDialog>
#include <string>
#include <utility>
#include <vector>

#include "session/address_code.h"
#include "session/buddy.h"
#include "session/clock.h"

namespace kolvena {
class Session;
}

namespace kolvena::ui {

// One read-only field of an information window: its control id and its text (UTF-8).
using InfoField = std::pair<int, std::string>;

// The session status window's values in the order they are filled: topic, creation time,
// leader, address code, present count, roster length, own name, then the five totals. A
// client whose roster has not arrived yet has no leader and no own record: their names are
// empty.
std::vector<InfoField> StatusFields(const Session& session, AddressCode code);
// The member information window's values; the stay time runs up to now.
std::vector<InfoField> MemberFields(const Buddy& member, CalendarTime now);

// Dialog 134 "Kolvena - 当前会话状态": a snapshot, not updated while open.
class StatusDialog final : public QDialog {
public:
    StatusDialog(const Session& session, AddressCode code, QWidget* parent = nullptr);
};

// Dialog 147 "Kolvena 察看成员信息".
class MemberInfoDialog final : public QDialog {
public:
    MemberInfoDialog(const Buddy& member, CalendarTime now, QWidget* parent = nullptr);
};

} // namespace kolvena::ui
