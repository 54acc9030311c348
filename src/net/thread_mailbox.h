#pragma once

#include <QObject>
#include <deque>
#include <functional>
#include <mutex>

#include "unique_fd.h"

class QSocketNotifier;

namespace kolvena {

// Hands calls from worker threads to the thread that made the mailbox, where they run from the
// event loop one at a time, in the order posted. The queue is guarded by a std::mutex rather
// than Qt's event queue, whose locks ThreadSanitizer cannot see, so a sanitized build checks
// every handoff instead of having to trust it. A worker must be joined before its mailbox
// goes; calls still queued then are dropped, destroying what they captured.
class ThreadMailbox final : public QObject {
public:
    explicit ThreadMailbox(QObject* parent = nullptr);
    ~ThreadMailbox() override;
    ThreadMailbox(const ThreadMailbox&) = delete;
    ThreadMailbox& operator=(const ThreadMailbox&) = delete;

    // From any thread.
    void Post(std::function<void()> call);

private:
    // A call may run a nested event loop (a modal box), which drains the calls after it there:
    // taking one call at a time keeps the order.
    void Drain();
    void Wake();

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
    UniqueFd wake_;
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace kolvena
