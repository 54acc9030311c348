#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>

class QLineEdit;
class QPushButton;
class QSlider;

namespace kolvena {
class SessionCore;
}

namespace kolvena::ui {

// What the replay control window asks of the window that owns it.
struct ReplayDlgHooks {
    // Button 1094: the open-recording command, with all its questions.
    std::function<void()> openRecording;
    // Button 1096 changed the replay: the owner's check marks and title follow.
    std::function<void()> played;
    // The close box: the owner forgets the window and clears its check marks. The window is
    // only hidden; destroying it is the owner's business.
    std::function<void()> closed;
};

// Dialog 149, the modeless replay control window: the replayed and the recorded time, play,
// pause and restart, loading another recording and a slider over the events. It keeps no
// replay state: everything it shows and changes lives in the core's recorder and log.
class CReplayDlg final : public QDialog {
public:
    CReplayDlg(SessionCore& core, ReplayDlgHooks hooks, QWidget* owner = nullptr);

    // Fits the slider to the recording now in the log and shows its position.
    void ResetReplay();
    // Caption, button and position text from the replay state.
    void UpdateControls();
    // The replay moved on by itself: the slider follows without seeking. Ignored while the
    // user's own slider move is being applied, so the thumb stays where it was put.
    void ShowPosition(std::uint32_t position);

    // Escape closes the window the way its close box does, so the owner never keeps a hidden
    // window it believes open.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnSliderAction();
    void OnPlay();
    void OnLoad();

    SessionCore& core_;
    ReplayDlgHooks hooks_;
    QLineEdit* position_ = nullptr;
    QPushButton* load_ = nullptr;
    QSlider* slider_ = nullptr;
    QPushButton* play_ = nullptr;
    bool seeking_ = false;
};

} // namespace kolvena::ui
