#pragma once

#include <QDialog>
#include <cstdint>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kolvena {
class Prompter;
}

namespace kolvena::ui {

// Dialog 148, the modeless progress window of one file transfer, on either side: the bar, the
// file line, the progress text and "放弃". It shows itself when made; the transfer fills and
// steps it, and its owner dismisses it when the transfer ends.
class TransferProgressDialog final : public QDialog {
    Q_OBJECT

public:
    explicit TransferProgressDialog(Prompter& prompter, QWidget* owner = nullptr);

    // The transfer starts: the bar's range 0..chunks and the file line (UTF-8).
    void Prepare(const std::string& fileLine, std::uint32_t chunks);
    // Chunk `chunk` of `chunks` has gone through: bar, progress text and caption.
    void Step(std::uint32_t chunk, std::uint32_t chunks, double percent);
    // The user confirmed giving up.
    bool AbortRequested() const { return abortRequested_; }
    // The transfer has ended: the window disappears at once and is destroyed once control is
    // back in the event loop, never while its own question is still open.
    void Dismiss();

    // The close box and Escape give up the way "放弃" does, question first.
    void reject() override;

signals:
    // The user has confirmed giving up; the window stays until the transfer ends.
    void giveUpConfirmed();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void OnGiveUp();

    Prompter& prompter_;
    QProgressBar* bar_ = nullptr;
    QLabel* progressText_ = nullptr;
    QLabel* fileLine_ = nullptr;
    QPushButton* giveUpButton_ = nullptr;
    bool abortRequested_ = false;
    bool asking_ = false;
    bool dismissed_ = false;
};

} // namespace kolvena::ui
