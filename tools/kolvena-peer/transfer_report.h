#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <optional>
#include <string>

#include "session/prompter.h"
#include "transfer/transfer_view.h"

namespace kolvena::peer {

// Prints what a person sees of file transfers: "progress: " lines in place of the progress
// window, and one "transfer: " line when a transfer or an offer has ended, so that scripts can
// wait for it: "transfer: done PATH" (the file sent, or the received file as saved), "transfer:
// not saved", "transfer: given up", or "transfer: " followed by the last box the user was told.
// With --json the same as "progress" and "transfer" events.
class TransferReport final : public QObject, public TransferView {
public:
    explicit TransferReport(bool json = false) : json_(json) {}

    // idle: whether no transfer runs any more, asked once the event loop is back.
    void WatchIdle(std::function<bool()> idle) { idle_ = std::move(idle); }

    // The own program starts sending `path`, or receiving (an empty path).
    void Begin(const std::string& path);
    // Boxes shown by the offer command end the offer: each gets its "transfer: " line too.
    void SetOffering(bool offering) { offering_ = offering; }
    // The user gave up the running transfer.
    void GaveUp() { gaveUp_ = true; }
    // A box was shown.
    void Told(Notice notice, const std::string& text);
    // The received file is being saved there (nothing when the save was cancelled).
    void Saving(std::optional<std::string> path);
    bool Active() const { return active_; }

    void Starting(const std::string& sentPath) override { Begin(sentPath); }
    void OpenProgress(const std::string& fileLine, std::uint32_t chunks,
                      std::uint64_t size) override;
    void ShowProgress(std::uint32_t chunk, std::uint32_t chunks, double percent) override;
    void CloseProgress() override { CheckEnd(); }

private:
    // The end as a "transfer" line or event: result done (with the path), not_saved, given_up,
    // ended, or failed (with the text the user was told).
    void PrintEnd(std::string_view result, std::string_view path, std::string_view told);
    // The worker reports its end in several steps (progress, boxes, save dialog); the end is
    // printed once all of them are done.
    void CheckEnd();
    void End();

    const bool json_;
    std::function<bool()> idle_;
    std::string fileLine_;
    bool active_ = false;
    bool offering_ = false;
    bool gaveUp_ = false;
    bool checkPending_ = false;
    std::string sentPath_;
    std::string told_;
    std::optional<Notice> toldNotice_;
    std::optional<std::string> saved_;
    QElapsedTimer sinceShown_;
};

} // namespace kolvena::peer
