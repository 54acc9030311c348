#pragma once

#include <QDialog>
#include <QElapsedTimer>
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

    // The transfer starts: the bar's range 0..chunks and the file line (UTF-8) of a file of
    // `size` bytes, whose size is shown in KB, MB or GB beside it.
    void Prepare(const std::string& fileLine, std::uint32_t chunks, std::uint64_t size);
    // Chunk `chunk` of `chunks` has gone through: bar, progress text, caption, and the rate and
    // time left ("3.2 MB/s, 剩余 00:01:05") since Prepare.
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
    QLabel* rate_ = nullptr;
    QElapsedTimer started_;
    std::uint64_t size_ = 0;
    QPushButton* giveUpButton_ = nullptr;
    bool abortRequested_ = false;
    bool asking_ = false;
    bool dismissed_ = false;
};

} // namespace kolvena::ui
