#pragma once

#include <QDialog>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/history_search.h"
#include "protocol/session_core.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

namespace kolvena::ui {

// Where the window looks: the kept history, then the documents folder, where the save dialog
// puts recordings by default.
std::vector<std::string> HistoryFolders();

// Dialog 180, "管理会话历史": the recordings of the folders, newest first, each as its header
// tells it (1180); what the buttons do to the selected one; and a search of the chat lines and
// notices of all of them (1181), whose matches (1182) open for replay at the line. A file that
// does not read can only be deleted. The search runs on a worker thread, so a long one leaves
// the window alive; closing the window stops it.
class HistoryWindow final : public QDialog {
public:
    HistoryWindow(SessionCore& core, Prompter& prompter, std::function<void(const QUrl&)> openUrl,
                  std::vector<std::string> folders = HistoryFolders(), QWidget* parent = nullptr);
    ~HistoryWindow() override;

    // Lists the folders again; the search, if any, runs again over the new list.
    void Reload();
    // Starts a search for text (an empty text clears the matches).
    void Search(const QString& text);
    bool Searching() const { return worker_ != nullptr; }
    const std::vector<RecordingSummary>& Listed() const { return listed_; }
    const std::vector<HistoryMatch>& Matches() const { return matches_; }

    // The buttons' commands on the selected recording.
    void OnPlay();
    void OnSaveAs();
    void OnExportText();
    void OnDelete();
    void OnOpenFolder();
    // Opens the recording of match `row` for replay, at its line.
    void OpenMatch(int row);

private:
    struct Run;
    // The selected recording, nullptr when none.
    const RecordingSummary* Selected() const;
    void ApplySelection();
    bool Play(const std::string& path);
    void StopSearch();
    void ShowMatches();

    SessionCore& core_;
    Prompter& prompter_;
    std::function<void(const QUrl&)> openUrl_;
    std::vector<std::string> folders_;
    std::vector<RecordingSummary> listed_;
    std::vector<HistoryMatch> matches_;

    QTreeWidget* list_;
    QLineEdit* find_;
    QTreeWidget* results_;
    QLabel* status_;
    QPushButton* play_;
    QPushButton* saveAs_;
    QPushButton* export_;
    QPushButton* delete_;
    QTimer typing_;
    // The search under way: its worker and what it shares with it.
    QThread* worker_ = nullptr;
    std::shared_ptr<Run> run_;
};

} // namespace kolvena::ui
