#include "transfer_report.h"

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "peer_json.h"
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
        PrintEnd("failed", "", text);
    }
}

void TransferReport::Saving(std::optional<std::string> path) {
    saved_ = std::move(path);
    CheckEnd();
}

void TransferReport::OpenProgress(const std::string& fileLine, std::uint32_t chunks,
                                  std::uint64_t) {
    fileLine_ = fileLine;
    if (json_)
        ShowProgress(0, chunks, 0);
    else
        PeerOutput::Print("progress: ", fileLine);
    CheckEnd();
}

void TransferReport::ShowProgress(std::uint32_t chunk, std::uint32_t chunks, double percent) {
    if (chunk != 1 && chunk != chunks && sinceShown_.isValid() &&
        sinceShown_.elapsed() < PROGRESS_GAP_MS)
        return;
    sinceShown_.start();
    if (json_) {
        PeerOutput::PrintLine(JsonObject::Event("progress")
                                  .Text("file", fileLine_)
                                  .Number("chunk", chunk)
                                  .Number("chunks", chunks)
                                  .Number("percent", static_cast<std::int64_t>(percent + 0.5))
                                  .Done());
        CheckEnd();
        return;
    }
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
        PrintEnd("done", sentPath_, "");
    else if (received && saved_ && std::filesystem::is_regular_file(*saved_, ec))
        PrintEnd("done", *saved_, "");
    else if (received)
        PrintEnd("not_saved", "", "");
    else if (!toldNotice_)
        PrintEnd(gaveUp_ ? "given_up" : "ended", "", "");
    else
        PrintEnd("failed", "", told_);
}

void TransferReport::PrintEnd(std::string_view result, std::string_view path,
                              std::string_view told) {
    const bool done = result == "done";
    const bool failed = result == "failed";
    if (!json_) {
        // "done PATH", the text told, or the result in words ("not saved").
        std::string text(failed ? told : result);
        if (done)
            text += " " + std::string(path);
        else if (!failed)
            std::replace(text.begin(), text.end(), '_', ' ');
        PeerOutput::Print("transfer: ", text);
        return;
    }
    JsonObject json = JsonObject::Event("transfer").Text("result", result);
    if (done)
        json.Text("path", path);
    else
        json.Null("path");
    if (failed)
        json.Text("text", told);
    else
        json.Null("text");
    PeerOutput::PrintLine(json.Done());
}
} // namespace kolvena::peer
