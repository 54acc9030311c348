#include "transfer_report.h"

#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "peer_output.h"

namespace kolvena::peer {
namespace {

// The shortest gap between two progress lines: at most ten a second.
constexpr qint64 PROGRESS_GAP_MS = 100;

} // namespace

void TransferReport::Begin(const std::string& path) {
    active_ = true;
    gaveUp_ = false;
    sentPath_ = path;
    told_.clear();
    toldNotice_.reset();
    saved_.reset();
    sinceShown_.invalidate();
    CheckEnd();
}

void TransferReport::Told(Notice notice, const std::string& text) {
    if (active_ && !offering_) {
        // Another offer refused meanwhile says nothing about the running transfer.
        if (notice != Notice::TransferBusy) {
            told_ = text;
            toldNotice_ = notice;
        }
        CheckEnd();
    } else if (offering_ || notice == Notice::OfferRefused) {
        PeerOutput::Print("transfer: ", text);
    }
}

void TransferReport::Saving(std::optional<std::string> path) {
    saved_ = std::move(path);
    CheckEnd();
}

void TransferReport::OpenProgress(const std::string& fileLine, std::uint32_t) {
    PeerOutput::Print("progress: ", fileLine);
    CheckEnd();
}

void TransferReport::ShowProgress(std::uint32_t chunk, std::uint32_t chunks, double percent) {
    if (chunk != 1 && chunk != chunks && sinceShown_.isValid() &&
        sinceShown_.elapsed() < PROGRESS_GAP_MS)
        return;
    sinceShown_.start();
    char line[64];
    std::snprintf(line, sizeof line, "%u/%u %.0f%%", chunk, chunks, percent);
    PeerOutput::Print("progress: ", line);
    CheckEnd();
}

void TransferReport::CheckEnd() {
    if (checkPending_ || !active_)
        return;
    checkPending_ = true;
    QTimer::singleShot(0, this, [this] {
        checkPending_ = false;
        if (active_ && idle_ && idle_())
            End();
    });
}

void TransferReport::End() {
    active_ = false;
    std::error_code ec;
    // What ended the transfer well; anything else told last is why it ended.
    const bool sent = toldNotice_ == Notice::TransferSent;
    const bool received = toldNotice_ == Notice::TransferStored;
    if (sent || (!toldNotice_ && !gaveUp_ && !sentPath_.empty()))
        PeerOutput::Print("transfer: ", "done " + sentPath_);
    else if (received && saved_ && std::filesystem::is_regular_file(*saved_, ec))
        PeerOutput::Print("transfer: ", "done " + *saved_);
    else if (received)
        PeerOutput::Print("transfer: ", "not saved");
    else if (!toldNotice_)
        PeerOutput::Print("transfer: ", gaveUp_ ? "given up" : "ended");
    else
        PeerOutput::Print("transfer: ", told_);
}

} // namespace kolvena::peer
