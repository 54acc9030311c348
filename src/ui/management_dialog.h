#pragma once

#include <QDialog>
#include <QTimer>

#include "protocol/member_commands.h"

class QListWidget;
class QPushButton;
class QTreeWidget;

namespace kolvena::ui {

// Dialog 170, "会话管理": every member who took part, departed ones included, with what the
// leader can do to each, and the refused addresses. It is rebuilt from the session whenever the
// session changes (the window calls Rebuild) and each second for the stays; the leader's own
// row and departed members have no buttons.
class ManagementDialog final : public QDialog {
public:
    ManagementDialog(MemberCommands& commands, QWidget* parent = nullptr);

    // The table and the list as the session stands now; the selections stay where they were.
    void Rebuild();

private:
    // The member of the selected row, 0 when none.
    BuddyId SelectedMember() const;
    void ApplySelection();
    void Act(bool (MemberCommands::*command)(BuddyId));

    MemberCommands& commands_;
    QTreeWidget* table_;
    QListWidget* refused_;
    QPushButton* remove_;
    QPushButton* refuse_;
    QPushButton* mute_;
    QPushButton* unrefuse_;
    QTimer clock_;
    std::vector<MemberRow> rows_;
};

} // namespace kolvena::ui
