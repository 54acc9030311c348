#include "transfer_report.h"

#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "peer_output.h"

namespace kolvena::peer {
namespace {

// The shortest gap between two progress lines: at most ten a second.
constexpr qint64 PROGRESS_GAP_MS = 100;

// The boxes that end a transfer well; anything else told last is why it ended.
constexpr char kSentBox[] = "文件传输完毕!";
constexpr char kReceivedBox[] = "文件传输完毕! 请选择保存路径.";
// The recipient's refusal, and the offer command's own refusals.
constexpr char kOfferRefusedCaption[] = "无法传输文件";
// Told when another offer arrives meanwhile: it says nothing about the running transfer.
constexpr char kBusyBox[] = "目前正在进行文件传输.";

} // namespace

void TransferReport::Begin(const std::string& path) {
    active_ = true;
    gaveUp_ = false;
    sentPath_ = path;
    told_.clear();
    saved_.reset();
    sinceShown_.invalidate();
    CheckEnd();
}

void TransferReport::Told(const std::string& caption, const std::string& text) {
    if (active_ && !offering_) {
        if (text != kBusyBox)
            told_ = text;
        CheckEnd();
    } else if (offering_ || caption == kOfferRefusedCaption) {
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
    if (told_ == kSentBox || (told_.empty() && !gaveUp_ && !sentPath_.empty()))
        PeerOutput::Print("transfer: ", "done " + sentPath_);
    else if (told_ == kReceivedBox && saved_ && std::filesystem::is_regular_file(*saved_, ec))
        PeerOutput::Print("transfer: ", "done " + *saved_);
    else if (told_ == kReceivedBox)
        PeerOutput::Print("transfer: ", "not saved");
    else if (told_.empty())
        PeerOutput::Print("transfer: ", gaveUp_ ? "given up" : "ended");
    else
        PeerOutput::Print("transfer: ", told_);
}

} // namespace kolvena::peer
