#include "history_keeper.h"

#include <algorithm>
#include <filesystem>

#include "history_files.h"
#include "safe_write.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

constexpr char UNKEPT_TEXT[] =
    "\n会话照常进行, 但会话历史暂时无法保存; 可以写入时将继续保存。离开会话时仍可另存会话记录。";
// Names tried when a kept file of the same second and topic exists already.
constexpr int MAX_NAME_TRIES = 100;

} // namespace

HistoryKeeper::HistoryKeeper(EventLog& log, const Session& session, Prompter& prompter,
                             HistoryTimer& timer, std::string folder)
    : log_(log), session_(session), prompter_(prompter), timer_(timer), folder_(std::move(folder)) {
    log_.listener = this;
}

HistoryKeeper::~HistoryKeeper() {
    Flush();
    if (log_.listener == this)
        log_.listener = nullptr;
    timer_.Stop();
}

void HistoryKeeper::Arm(int milliseconds) {
    if (armed_ && milliseconds > 0)
        return;
    armed_ = true;
    timer_.Start(milliseconds);
}

void HistoryKeeper::StartSession(const EventLog& log) {
    keeping_ = true;
    dirty_ = false;
    told_ = false;
    untold_.clear();
    start_ = log.header.startTime != 0 ? log.header.startTime : log.baseTime;
    topicName_ = FromGbk(session_.topic);
    namespace fs = std::filesystem;
    std::string first = KeptFileName(start_, topicName_);
    base_ = first.substr(0, first.size() - 4);
    const std::string plain = base_;
    std::error_code ignored;
    for (int n = 2; n <= MAX_NAME_TRIES && fs::exists(PathOf(1), ignored); ++n)
        base_ = plain + "~" + std::to_string(n);
    path_ = PathOf(1);
}

std::string HistoryKeeper::PathOf(std::uint32_t part) const {
    std::string name = base_;
    if (part > 1)
        name += "_" + std::to_string(part);
    return (std::filesystem::path(folder_) / (name + ".prs")).string();
}

void HistoryKeeper::Appended(const EventLog& log) {
    const EventKind kind = log.events.back().kind;
    if (log.events.size() == 1 && log.part == 1 &&
        (kind == EventKind::EvSessionCreated || kind == EventKind::EvSessionJoined))
        StartSession(log);
    if (!keeping_)
        return;
    // After its end the session's roster and totals are emptied; the file keeps them as they were.
    if (session_.inSession && !session_.roster.empty()) {
        figures_.topic = std::string(GbkFit(session_.topic, TOPIC_SIZE));
        figures_.members = static_cast<std::uint32_t>(session_.roster.size());
        figures_.chatLines = session_.counters.chatLineTotal;
    }
    figures_.notices = session_.counters.messageTotal;
    dirty_ = true;
    path_ = PathOf(log.part);
    if (kind == EventKind::EvSessionEnded) {
        if (!WriteCurrent())
            Arm(WRITE_DELAY_MS);
    } else {
        Arm(WRITE_DELAY_MS);
    }
}

void HistoryKeeper::Replacing(const EventLog&) {
    if (keeping_ && dirty_)
        WriteCurrent();
    keeping_ = false;
    dirty_ = false;
}

void HistoryKeeper::PartComplete(const EventLog& log) {
    if (!keeping_)
        return;
    RecordingHeader header = log.header;
    header.topic = figures_.topic;
    header.memberCount = figures_.members;
    header.chatLines = figures_.chatLines;
    header.notices = figures_.notices;
    header.eventCount = static_cast<std::uint16_t>(std::min(log.events.size(), MAX_EVENTS));
    header.savedTime = static_cast<std::uint32_t>(session_.clock().Now());
    std::string bytes = EncodeRecording(header, log.events);
    const std::string path = PathOf(log.part);
    if (!WriteBytes(path, bytes)) {
        pendingParts_.emplace_back(path, std::move(bytes));
        Arm(WRITE_DELAY_MS);
    }
    dirty_ = false;
}

bool HistoryKeeper::WriteBytes(const std::string& path, const std::string& bytes) {
    std::error_code ignored;
    std::filesystem::create_directories(folder_, ignored);
    const FileResult result = WriteFileSafely(path, bytes);
    if (!result.ok && !told_ && untold_.empty()) {
        untold_ = result.error;
        // Told from the timer, outside whatever call is recording the event.
        Arm(0);
    }
    return result.ok;
}

bool HistoryKeeper::WriteCurrent() {
    RecordingHeader header = log_.header;
    header.topic = figures_.topic;
    header.memberCount = figures_.members;
    header.chatLines = figures_.chatLines;
    header.notices = figures_.notices;
    header.eventCount = static_cast<std::uint16_t>(std::min(log_.events.size(), MAX_EVENTS));
    header.savedTime = static_cast<std::uint32_t>(session_.clock().Now());
    if (!WriteBytes(PathOf(log_.part), EncodeRecording(header, log_.events)))
        return false;
    dirty_ = false;
    return true;
}

void HistoryKeeper::Flush() {
    for (auto it = pendingParts_.begin(); it != pendingParts_.end();)
        it = WriteBytes(it->first, it->second) ? pendingParts_.erase(it) : it + 1;
    if (keeping_ && dirty_)
        WriteCurrent();
}

void HistoryKeeper::OnTimer() {
    armed_ = false;
    if (inTimer_)
        return;
    inTimer_ = true;
    Flush();
    if (!untold_.empty()) {
        told_ = true;
        const std::string text = std::exchange(untold_, {}) + UNKEPT_TEXT;
        prompter_.Inform(Notice::Failed, "", text, BoxIcon::Warning);
    }
    inTimer_ = false;
    if ((keeping_ && dirty_) || !pendingParts_.empty())
        Arm(WRITE_DELAY_MS);
}

} // namespace kolvena
