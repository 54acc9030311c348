#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dialog_runner.h"
#include "management_dialog.h"
#include "net/join_ticker.h"
#include "net/session_link.h"
#include "net/session_search.h"
#include "progress_dialog.h"
#include "protocol/session_core.h"
#include "qt_prompter.h"
#include "replay_dlg.h"
#include "replay_timer_qt.h"
#include "transfer/file_transfers.h"
#include "transfer/transfer_view.h"

class QAction;
class QCheckBox;
class QDropEvent;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSystemTrayIcon;

namespace kolvena::ui {
class ChatText;
class FindBar;
} // namespace kolvena::ui
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace kolvena::ui {

// How a control follows the window's size: the share of the extra width and height (beyond
// the default size) that moves its left and top edges and that widens and heightens it.
struct Anchor {
    double x, y, width, height;
};

// The window's control area: its default size is the template's, laid out in dialog units.
class ControlArea final : public QWidget {
public:
    ControlArea(QSize defaultSize, QWidget* parent) : QWidget(parent), default_(defaultSize) {}
    QSize sizeHint() const override { return default_; }

private:
    QSize default_;
};

// The program's one window: the message window, the chat area, the member list, the target
// field, the input line, the command buttons and checkboxes, the menus and the toolbar. It owns
// the session's endpoint and core for the whole run and turns the user's commands into the
// core's. Every control carries its id as its object name ("1001" is the chat area); menu and
// toolbar commands are QActions named by their command id.
class CSessionDlg final : public QMainWindow, public SessionView, public TransferView {
public:
    // transferPort: where a recipient listens for the offerer's file; tests use a free one.
    CSessionDlg(const Clock& clock, Prompter& prompter, DialogRunner& dialogs, LinkOptions link,
                std::uint16_t transferPort = TRANSFER_PORT, QWidget* parent = nullptr);
    ~CSessionDlg() override;

    // The start-up state: header, banner, title and mode; then the help window.
    void Start();

    SessionCore& Core() { return core_; }
    SessionLink& Link() { return link_; }
    FileTransfers& Transfers() { return transfers_; }

    // The commands, as the menus, buttons and toolbar run them.
    void OnCreate();
    void OnJoin();
    // Command 32775: the search window; a session chosen there is joined by its address.
    void OnSearch();
    void OnLeave();
    void OnSleep();
    void OnRename();
    // Command 32818: offers a file to the chosen member.
    void OnOffer();
    void OnSend();
    void OnClear();
    // Command 32840 (Ctrl+F): the find bar under the chat area.
    void OnFind();
    void OnSettings();
    void OnStatus();
    // Command 32776: the management window, while hosting.
    void OnManage();
    // The management window while it is open.
    ManagementDialog* ManagementWindow() const { return management_; }
    void OnMemberInfo();
    void OnSaveRecording();
    void OnOpenRecording();
    void OnHistoryProperties();
    // Command 32802: the history window, over the kept history and the documents folder.
    void OnManageHistory();
    void OnSaveTranscript();
    void OnOpenText();
    void OnPause();
    void OnSpeed(std::uint16_t speed);
    // Menu item 32828 and checkbox 1054: opens the replay control window, or closes it.
    void OnToggleReplayWindow();
    // The check marks of the control window's item and checkbox, of pause and of the speeds.
    void SyncReplayControls();
    void OnHelp();
    void OnAbout();
    void OnHomePage();
    void OnRecommend();
    // The exit question; true when the user confirmed.
    bool ExitPrompt();

    // The target chosen by clicking member list item `item` (0 = everyone); a right click on a
    // member then shows the member pop-up menu.
    void SelectTarget(int item);
    // The pop-up menu 146, built for the current target.
    QMenu* MemberMenu() { return memberMenu_; }

    // How a web address or mail link is opened; tests replace it.
    std::function<void(const QUrl&)> openUrl;
    // Where the search window finds sessions; tests put a scripted source in.
    void SetSearchSource(SearchSource& source) { searchSource_ = &source; }

    // Whether the user sees the window (active and not minimised), and how it asks for
    // attention when not; tests replace both.
    std::function<bool()> isSeen;
    std::function<void(const QString& who, const QString& what)> askAttention;
    // Chat lines and notices that arrived while the window was out of sight.
    int Unread() const { return unread_; }
    // The window came into sight: the unread count is cleared.
    void Seen();

    // SessionView. The refreshes mark their display work as due; it is done once for all that
    // came in a frame, when control returns to the event loop and before any paint, so that
    // what a handler sends goes out first and a burst of lines costs one layout.
    void RefreshChat() override;
    void RefreshMessages() override;
    void RefreshMembers() override;
    void RefreshTarget() override;
    void RefreshTitle() override;
    void RefreshCommands() override;
    void SetWindowMode(WindowMode mode) override;
    void SetJoinTimer(bool running) override;
    void ReplayLoaded() override;
    void ReplayChanged() override;
    void HoldRefreshes(bool hold) override;
    void RefreshManagement() override;
    // Does the display work that is due now; tests read the panes after it.
    void ShowNow();

    // TransferView: the progress window of the running transfer.
    void OpenProgress(const std::string& fileLine, std::uint32_t chunks,
                      std::uint64_t size) override;
    void ShowProgress(std::uint32_t chunk, std::uint32_t chunks, double percent) override;
    void CloseProgress() override;
    void Saved(const std::string& path) override;

    WindowMode Mode() const { return mode_; }
    // The replay control window, while one is open.
    CReplayDlg* ReplayWindow() const { return replayDlg_; }
    const QtReplayTimer& ReplayTimerOf() const { return replayTimer_; }
    // The progress window of the running transfer, while one is shown.
    TransferProgressDialog* TransferWindow() const { return transferWindow_; }

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void BuildToolbar();
    // The command's action, named by its id; menus, buttons and the toolbar share it.
    QAction* Action(int id, const char* text);
    // A command button at its dialog-unit rectangle; it runs the command's action.
    QPushButton* Button(int id, const char* text, int x, int y, int width, int height);
    // A control at its dialog-unit rectangle of the default size, following the window's size
    // as the anchor says.
    struct Placed {
        QWidget* control;
        QRect rect; // at the default size, in pixels
        const Anchor& anchor;
    };
    void Put(QWidget* control, int x, int y, int width, int height, const Anchor& anchor);
    void LayOut(const Placed& placed);
    // Every control, and room for the find bar at the chat area's foot while it shows.
    void LayOutAll();
    // The join dialog, filled in with a found session when one is given.
    void Join(const std::optional<SessionFound>& found);
    std::optional<SessionFound> RunSearch();
    void ScrollPanes();
    // What arrived while the window was out of sight: counted, and what concerns the user
    // (a line to them or whispered, a notice, a question waiting) asks for attention.
    void NoteArrivals(std::size_t firstLine);
    void Attention(const QString& who, const QString& what);
    // The warning that the recording is full, in a box that leaves the focus where it is.
    void ShowLimitWarning(const QString& text);
    void BuildTray();
    void OnAutoScrollClicked();
    void OnMemberClicked(QTreeWidgetItem* item);
    void OnMemberMenuRequested(const QPoint& position);
    // One file dropped on a member is offered to it; several, or a folder, are refused.
    void OnMemberDrop(QDropEvent& drop);
    void OpenReplayWindow();
    // Forgets the control window; it disappears at once and is destroyed when control returns
    // to the event loop, since it may be the one calling.
    void ForgetReplayWindow();
    // Marks the refresh as due and answers true, unless the due work is being done.
    bool Deferred(unsigned refresh);

    // What the core asks through (see WindowPrompter).
    WindowPrompter attention_;
    SessionLink link_;
    // The progress window of the running transfer; it outlives the transfers, which may still
    // close it as they go.
    QPointer<TransferProgressDialog> transferWindow_;
    // Before the core, which is given them; the link reports to the core directly.
    QtReplayTimer replayTimer_;
    FileTransfers transfers_;
    SessionCore core_;
    Prompter& prompter_;
    DialogRunner& dialogs_;
    const Clock& clock_;

    JoinTicker joinTicker_{core_, &link_};
    SessionSearch search_;
    SearchSource* searchSource_ = &search_;
    WindowMode mode_ = WindowMode::Idle;

    // What the chat area shows, so that a new line is appended instead of re-rendering the
    // whole area: the count of lines shown, the first and last of them as rendered, and
    // whether time suffixes were on.
    bool chatBuilt_ = false;
    std::size_t chatShown_ = 0;
    std::string chatFirst_;
    std::string chatLast_;
    bool chatTimes_ = false;
    // The message text shown, so that new notices are appended.
    bool messagesBuilt_ = false;
    std::string messagesShown_;

    // Where the user last scrolled each pane, kept while auto-scroll is off: the message
    // window's top line, the chat area's text position at the top.
    int messageTop_ = 0;
    int chatTop_ = 0;
    // Set while the window itself moves the panes, so that only the user's scrolling counts.
    bool scrolling_ = false;

    QPlainTextEdit* messages_ = nullptr;
    QPlainTextEdit* chat_ = nullptr;
    ChatText* chatText_ = nullptr;
    QTreeWidget* members_ = nullptr;
    QLineEdit* target_ = nullptr;
    QLineEdit* input_ = nullptr;
    QCheckBox* autoScroll_ = nullptr;
    QCheckBox* whisper_ = nullptr;
    QCheckBox* asNotice_ = nullptr;
    QCheckBox* showReplayWindow_ = nullptr;
    QPushButton* leaveButton_ = nullptr;
    QPushButton* sleepButton_ = nullptr;
    QToolBar* toolbar_ = nullptr;
    QMenu* memberMenu_ = nullptr;
    std::map<int, QAction*> actions_;
    std::map<int, QPushButton*> buttons_;
    QSize defaultArea_;
    int unread_ = 0;
    std::size_t noticesSeen_ = 0;
    QSystemTrayIcon* tray_ = nullptr;
    FindBar* findBar_ = nullptr;
    QPointer<ManagementDialog> management_;
    // A rebuild of the management window is due once control returns to the event loop.
    bool managementDue_ = false;
    std::vector<Placed> placed_;

    // The replay control window, while one is open. Like the progress window it is a child
    // that may go by deleteLater.
    QPointer<CReplayDlg> replayDlg_;
    // Nesting depth of held refreshes, and the refreshes due on release.
    int holds_ = 0;
    unsigned dueRefreshes_ = 0;
    // The due work is done at most once a frame: the timer waits out the rest of the frame
    // since it was last done, and nothing when the window has been quiet.
    QTimer frame_;
    QElapsedTimer sinceShown_;
    bool showing_ = false;
    bool scrollDue_ = false;
};

} // namespace kolvena::ui
