#include "history_keeper.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>

#include "history_files.h"
#include "safe_write.h"
#include "session/gbk.h"

namespace kolvena {
namespace {

constexpr char UNKEPT_TEXT[] =
    "\n会话照常进行, 但会话历史暂时无法保存; 可以写入时将继续保存。离开会话时仍可另存会话记录。";
// Names tried when a kept file of the same second and topic exists already.
constexpr int MAX_NAME_TRIES = 100;

using Bytes = std::shared_ptr<const std::string>;

} // namespace

// Writes the files handed to it, one after the other, on its own thread; a file handed again
// before its turn is written once, with its newest bytes.
class HistoryKeeper::Writer {
public:
    struct Outcome {
        std::string path;
        Bytes bytes;
        FileResult result;
    };

    explicit Writer(std::string folder)
        : folder_(std::move(folder)), thread_([this](std::stop_token stop) { Run(stop); }) {}
    ~Writer() { thread_.request_stop(); }

    void Submit(const std::string& path, Bytes bytes) {
        {
            std::lock_guard lock(mutex_);
            const auto queued = std::find_if(queue_.begin(), queue_.end(),
                                             [&](const auto& job) { return job.first == path; });
            if (queued != queue_.end())
                queued->second = std::move(bytes);
            else
                queue_.emplace_back(path, std::move(bytes));
        }
        wake_.notify_all();
    }
    // Blocks until everything handed over has been written or has failed.
    void WaitIdle() {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    }
    bool Idle() {
        std::lock_guard lock(mutex_);
        return queue_.empty() && !busy_;
    }
    std::vector<Outcome> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(outcomes_, {});
    }

private:
    void Run(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        for (;;) {
            // The queue is written out before the writer ends.
            if (!wake_.wait(lock, stop, [&] { return !queue_.empty(); }))
                return;
            auto [path, bytes] = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
            lock.unlock();
            std::error_code ignored;
            std::filesystem::create_directories(folder_, ignored);
            FileResult result = WriteFileSafely(path, *bytes);
            lock.lock();
            busy_ = false;
            outcomes_.push_back({std::move(path), std::move(bytes), std::move(result)});
            idle_.notify_all();
        }
    }

    const std::string folder_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::condition_variable_any idle_;
    std::deque<std::pair<std::string, Bytes>> queue_;
    std::vector<Outcome> outcomes_;
    bool busy_ = false;
    std::jthread thread_; // last: it starts once everything it uses is there
};

HistoryKeeper::HistoryKeeper(EventLog& log, const Session& session, Prompter& prompter,
                             HistoryTimer& timer, std::string folder)
    : log_(log), session_(session), prompter_(prompter), timer_(timer), folder_(std::move(folder)),
      writer_(std::make_unique<Writer>(folder_)) {
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
    const std::string first = KeptFileName(start_, FromGbk(session_.topic));
    base_ = first.substr(0, first.size() - 4);
    const std::string plain = base_;
    std::error_code ignored;
    for (int n = 2; n <= MAX_NAME_TRIES &&
                    (std::filesystem::exists(PathOf(1), ignored) || unwritten_.count(PathOf(1)));
         ++n)
        base_ = plain + "~" + std::to_string(n);
    path_ = PathOf(1);
    // A folder that cannot be made is told at once, not only after the first write.
    std::error_code reason;
    std::filesystem::create_directories(folder_, reason);
    if (reason && untold_.empty()) {
        untold_ = CannotCreate(path_, reason).error;
        Arm(0);
    }
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
    if (kind == EventKind::EvSessionEnded)
        WriteCurrent();
    Arm(WRITE_DELAY_MS);
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
    Submit(PathOf(log.part), Encode(log));
    dirty_ = false;
}

std::string HistoryKeeper::Encode(const EventLog& log) const {
    RecordingHeader header = log.header;
    header.topic = figures_.topic;
    header.memberCount = figures_.members;
    header.chatLines = figures_.chatLines;
    header.notices = figures_.notices;
    header.eventCount = static_cast<std::uint16_t>(std::min(log.events.size(), MAX_EVENTS));
    header.savedTime = static_cast<std::uint32_t>(session_.clock().Now());
    return EncodeRecording(header, log.events);
}

void HistoryKeeper::Submit(const std::string& path, std::string bytes) {
    Bytes shared = std::make_shared<const std::string>(std::move(bytes));
    unwritten_[path] = shared;
    writer_->Submit(path, std::move(shared));
}

void HistoryKeeper::WriteCurrent() {
    Submit(PathOf(log_.part), Encode(log_));
    dirty_ = false;
}

void HistoryKeeper::Collect() {
    for (Writer::Outcome& outcome : writer_->Take()) {
        const auto it = unwritten_.find(outcome.path);
        if (outcome.result.ok) {
            if (it != unwritten_.end() && it->second == outcome.bytes)
                unwritten_.erase(it);
        } else if (!told_ && untold_.empty()) {
            untold_ = outcome.result.error;
        }
    }
}

void HistoryKeeper::Drain() {
    writer_->WaitIdle();
    Collect();
}

void HistoryKeeper::Flush() {
    if (keeping_ && dirty_)
        WriteCurrent();
    Drain();
    // What failed before is tried once more.
    for (const auto& [path, bytes] : unwritten_)
        writer_->Submit(path, bytes);
    Drain();
}

void HistoryKeeper::OnTimer() {
    armed_ = false;
    if (inTimer_)
        return;
    inTimer_ = true;
    Collect();
    if (keeping_ && dirty_)
        WriteCurrent();
    else if (writer_->Idle())
        // Only failed writes are left: try them again.
        for (const auto& [path, bytes] : unwritten_)
            writer_->Submit(path, bytes);
    if (!untold_.empty()) {
        told_ = true;
        const std::string text = std::exchange(untold_, {}) + UNKEPT_TEXT;
        prompter_.Inform(Notice::Failed, "", text, BoxIcon::Warning);
    }
    inTimer_ = false;
    if ((keeping_ && dirty_) || !unwritten_.empty())
        Arm(WRITE_DELAY_MS);
}

} // namespace kolvena
