#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "event_log.h"
#include "record_files.h"
#include "session/prompter.h"
#include "session/session.h"

namespace kolvena {

// The keeper's one-shot timer. The window and the peer run it on their event loop and call
// HistoryKeeper::OnTimer when it fires; tests fire it themselves.
class HistoryTimer {
public:
    virtual ~HistoryTimer() = default;
    // (Re)arms the timer: one shot after `milliseconds`.
    virtual void Start(int milliseconds) = 0;
    virtual void Stop() = 0;
};

// Keeps every session the log records as a recording in a folder, as it happens: the file is
// rewritten safely (SafeFile) at most WRITE_DELAY_MS after new events and at once when the
// session ends or a part fills, so that it is a valid recording at every moment.
//
// The recording is encoded on the caller's thread and written on a thread of the keeper's own,
// so that a slow disk and its fsync never hold up the session. A write that failed is tried
// again at the next shots until it succeeds. The keeper never tells the user anything from
// inside the log's calls (a box there would run a nested event loop in the middle of a
// handler): a failure is told once per session, at a timer shot.
class HistoryKeeper final : public LogListener {
public:
    static constexpr int WRITE_DELAY_MS = 2000;

    HistoryKeeper(EventLog& log, const Session& session, Prompter& prompter, HistoryTimer& timer,
                  std::string folder);
    ~HistoryKeeper() override;
    HistoryKeeper(const HistoryKeeper&) = delete;
    HistoryKeeper& operator=(const HistoryKeeper&) = delete;

    void OnTimer();
    // Hands what has not been written yet to the writer and waits until it has written
    // everything handed to it.
    void Flush();
    // Waits until the writer has written everything handed to it, and takes its outcomes.
    void Drain();

    // The file the current part is kept in; empty before the first session.
    const std::string& CurrentPath() const { return path_; }
    const std::string& Folder() const { return folder_; }

    void Appended(const EventLog& log) override;
    void Replacing(const EventLog& log) override;
    void PartComplete(const EventLog& log) override;

private:
    struct Figures {
        std::string topic; // GBK
        std::uint32_t members = 0;
        std::uint32_t chatLines = 0;
        std::uint32_t notices = 0;
    };

    class Writer;

    void StartSession(const EventLog& log);
    std::string PathOf(std::uint32_t part) const;
    // Encodes the log as the current part and hands it to the writer.
    void WriteCurrent();
    std::string Encode(const EventLog& log) const;
    void Submit(const std::string& path, std::string bytes);
    // Takes the writer's outcomes: written files are done, the first failure is noted.
    void Collect();
    void Arm(int milliseconds);

    EventLog& log_;
    const Session& session_;
    Prompter& prompter_;
    HistoryTimer& timer_;
    std::string folder_;
    std::unique_ptr<Writer> writer_;

    bool keeping_ = false; // the log holds a session this keeper writes
    bool dirty_ = false;   // events since the last encoding
    bool armed_ = false;
    bool inTimer_ = false;
    Figures figures_;
    CalendarTime start_ = 0;
    std::string base_; // the first part's name without ".prs"
    std::string path_;
    // What each file is to hold and has not been written with yet; retried until written.
    std::map<std::string, std::shared_ptr<const std::string>> unwritten_;
    // The failure not told yet, and whether one has been told this session.
    std::string untold_;
    bool told_ = false;
};

} // namespace kolvena
