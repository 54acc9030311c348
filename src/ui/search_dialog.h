#pragma once

#include <QDialog>
#include <cstdint>
#include <optional>
#include <vector>

#include "net/session_search.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace kolvena::ui {

// Dialog 160: the sessions on the network, as a search finds them. It searches when it opens
// and on "刷新"; rows appear as the answers arrive. "加入会话" (or a double-click) accepts with
// the chosen session, which only an open one can be; a closed or full one says why instead.
class SearchDialog final : public QDialog {
public:
    // ports: the session port numbers asked at. The source outlives the dialog.
    SearchDialog(SearchSource& source, std::vector<std::uint16_t> ports, QWidget* parent = nullptr);
    ~SearchDialog() override;

    // Asks again: the list is emptied and refills as answers arrive.
    void Refresh();
    // The session chosen on accept.
    std::optional<SessionFound> Chosen() const { return chosen_; }

private:
    void ShowFound(std::size_t index, bool first);
    void ShowFinished();
    // The join button's state and the status line, for the selected row.
    void ApplySelection();
    void JoinSelected();
    const SessionFound* Selected() const;

    SearchSource& source_;
    std::vector<std::uint16_t> ports_;
    QTreeWidget* list_;
    QLineEdit* addresses_;
    QLabel* status_;
    QPushButton* join_;
    // What the status line says when no row explains itself.
    QString searchStatus_;
    std::optional<SessionFound> chosen_;
};

} // namespace kolvena::ui
