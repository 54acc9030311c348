#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "file_transfers.h"
#include "net/unique_fd.h"

namespace kolvena {

// What a worker hands back. Both are called on the worker thread and must pass the news on to
// the owner's thread; `ended` is the worker's last act.
struct WorkerReports {
    std::function<void(std::uint32_t chunk, std::uint32_t chunks)> progress;
    std::function<void(TransferOutcome)> ended;
};

// A thread that runs one transfer on a blocking socket of its own. It touches nothing of the
// session: it knows only the address, the file and the size it was given.
class TransferWorker {
public:
    virtual ~TransferWorker() = default;
    TransferWorker(const TransferWorker&) = delete;
    TransferWorker& operator=(const TransferWorker&) = delete;

    // The user gave up: the stream ends at the next point the protocol allows.
    void GiveUp();
    // Ends the worker at once and waits for its thread; nothing is reported any more.
    void Halt();
    // Waits for a thread that has reported its end.
    void Join();
    // The owner has shown this step (lockstep only).
    void Shown(std::uint32_t chunk);
    // Why the file could not be read or written (UTF-8, ready for a box), whenever the outcome
    // is CannotReadFile or CannotStore; read after Join.
    const std::string& Error() const { return error_; }

protected:
    TransferWorker(WorkerReports reports, bool lockstep);

    void Launch();
    virtual TransferOutcome Run() = 0;

    enum class Wait { Ready, TimedOut, Stopped, GaveUp };
    // Waits until fd is ready for events. A give-up wakes the wait only where giveUpEnds says
    // the stream may end there.
    Wait WaitFor(int fd, short events, std::chrono::milliseconds limit, bool giveUpEnds);
    // Reports step `chunk`: the first, the last and at most ten a second between them.
    void Report(std::uint32_t chunk, std::uint32_t chunks);
    // The socket Halt must be able to unblock; it stays open until the worker is destroyed.
    void SetConnection(int fd) { connection_ = fd; }

    bool Stopping() const { return stop_; }
    bool GaveUp() const { return giveUp_; }

    std::string error_;

private:
    void Wake();

    WorkerReports reports_;
    const bool lockstep_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    std::atomic<bool> stop_ = false;
    std::atomic<bool> giveUp_ = false;
    std::atomic<int> connection_ = -1;
    std::chrono::steady_clock::time_point lastReport_{};
    std::mutex shownMutex_;
    std::condition_variable shownChanged_;
    std::uint32_t shown_ = 0;
    std::thread thread_;
};

// The offerer's side: connects to the recipient and sends the file chunk by chunk, waiting for
// the answer byte after each.
class CTransFileTread final : public TransferWorker {
public:
    CTransFileTread(std::string address, std::uint16_t port, std::string path, std::uint64_t size,
                    WorkerReports reports, bool lockstep);
    ~CTransFileTread() override;

private:
    TransferOutcome Run() override;
    TransferOutcome Connect();
    TransferOutcome GiveUpBefore(std::uint32_t chunk);

    const std::string address_;
    const std::uint16_t port_;
    const std::string path_;
    const std::uint64_t size_;
    UniqueFd socket_;
    UniqueFd file_;
};

// The recipient's side: takes the offerer's one connection on the socket already listening,
// and streams each chunk into the file, answering each with one byte.
class CRecieveFileThread final : public TransferWorker {
public:
    CRecieveFileThread(UniqueFd listening, UniqueFd file, std::string filePath, std::uint64_t size,
                       WorkerReports reports, bool lockstep);
    ~CRecieveFileThread() override;

private:
    TransferOutcome Run() override;
    bool Answer(std::uint8_t answer);

    UniqueFd listening_;
    UniqueFd socket_;
    UniqueFd file_;
    const std::string filePath_;
    const std::uint64_t size_;
};

// How long a worker waits for the other side before it counts as gone.
inline constexpr std::chrono::milliseconds TRANSFER_CONNECT_LIMIT{10000};
inline constexpr std::chrono::milliseconds TRANSFER_ACCEPT_LIMIT{60000};
inline constexpr std::chrono::milliseconds TRANSFER_IDLE_LIMIT{60000};
// After giving up, the offerer waits at most this long for the recipient to read its byte.
inline constexpr std::chrono::milliseconds TRANSFER_LINGER_LIMIT{5000};

} // namespace kolvena
