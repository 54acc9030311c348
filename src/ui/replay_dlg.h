#pragma once

#include <QDialog>
#include <cstdint>

class QLineEdit;
class QPushButton;
class QSlider;

namespace kolvena {
class SessionCore;
}

namespace kolvena::ui {

// Dialog 149, the modeless replay control window: the replayed and the recorded time, play,
// pause and restart, loading another recording and a slider over the events. It keeps no
// replay state: everything it shows and changes lives in the core's recorder and log.
class CReplayDlg final : public QDialog {
    Q_OBJECT

public:
    explicit CReplayDlg(SessionCore& core, QWidget* owner = nullptr);

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

signals:
    // Button 1094: the owner runs the open-recording command, with all its questions.
    void openRecordingRequested();
    // Button 1096 changed the replay: the owner's check marks and title follow.
    void played();
    // The close box: the owner forgets the window and clears its check marks. The window is
    // only hidden; destroying it is the owner's business.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnSliderAction();
    void OnPlay();
    void OnLoad();

    SessionCore& core_;
    QLineEdit* position_ = nullptr;
    QPushButton* load_ = nullptr;
    QSlider* slider_ = nullptr;
    QPushButton* play_ = nullptr;
    bool seeking_ = false;
};

} // namespace kolvena::ui
