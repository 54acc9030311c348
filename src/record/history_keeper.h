#pragma once

#include <cstdint>
#include <string>
#include <utility>
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
// It never tells the user anything from inside the log's calls (a box there would run a nested
// event loop in the middle of a handler): failures are told once, at the next timer shot.
class HistoryKeeper final : public LogListener {
public:
    static constexpr int WRITE_DELAY_MS = 2000;

    HistoryKeeper(EventLog& log, const Session& session, Prompter& prompter, HistoryTimer& timer,
                  std::string folder);
    ~HistoryKeeper() override;
    HistoryKeeper(const HistoryKeeper&) = delete;
    HistoryKeeper& operator=(const HistoryKeeper&) = delete;

    void OnTimer();
    // Writes what has not been written yet, now.
    void Flush();

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

    void StartSession(const EventLog& log);
    std::string PathOf(std::uint32_t part) const;
    // Writes the log as the current part; false (and the failure noted) when it failed.
    bool WriteCurrent();
    bool WriteBytes(const std::string& path, const std::string& bytes);
    void Arm(int milliseconds);

    EventLog& log_;
    const Session& session_;
    Prompter& prompter_;
    HistoryTimer& timer_;
    std::string folder_;

    bool keeping_ = false; // the log holds a session this keeper writes
    bool dirty_ = false;
    bool armed_ = false;
    bool inTimer_ = false;
    Figures figures_;
    CalendarTime start_ = 0;
    std::string topicName_; // UTF-8, for the file names
    std::string base_;      // the first part's name without ".prs"
    std::string path_;
    // Full parts whose write failed, kept until it succeeds.
    std::vector<std::pair<std::string, std::string>> pendingParts_;
    // The failure not told yet, and whether one has been told since keeping last succeeded.
    std::string untold_;
    bool told_ = false;
};

} // namespace kolvena
