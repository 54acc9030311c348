#include "thread_mailbox.h"

#include <QPointer>
#include <QSocketNotifier>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kolvena {

ThreadMailbox::ThreadMailbox(QObject* parent)
    : QObject(parent), wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_.Valid()) {
        notifier_ = new QSocketNotifier(wake_.Get(), QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &ThreadMailbox::Drain);
    }
}

ThreadMailbox::~ThreadMailbox() {
    // The notifier must stop watching before its descriptor is closed.
    delete notifier_;
}

void ThreadMailbox::Post(std::function<void()> call) {
    {
        const std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    Wake();
}

void ThreadMailbox::Wake() {
    if (wake_.Valid()) {
        const std::uint64_t one = 1;
        // Only a counter at its maximum refuses a write, and then a wake-up is pending anyway.
        [[maybe_unused]] const ssize_t written = ::write(wake_.Get(), &one, sizeof one);
    } else {
        // Without an eventfd (descriptors exhausted), Qt's queue still delivers the wake-up.
        QMetaObject::invokeMethod(this, &ThreadMailbox::Drain, Qt::QueuedConnection);
    }
}

void ThreadMailbox::Drain() {
    if (wake_.Valid()) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = ::read(wake_.Get(), &count, sizeof count);
    }
    for (;;) {
        std::function<void()> call;
        bool more = false;
        {
            const std::lock_guard lock(mutex_);
            if (calls_.empty())
                return;
            call = std::move(calls_.front());
            calls_.pop_front();
            more = !calls_.empty();
        }
        // A nested event loop inside the call then runs the rest, as it would queued events.
        if (more)
            Wake();
        const QPointer<ThreadMailbox> alive(this);
        call();
        if (!alive)
            return; // the call closed what owned the mailbox
    }
}

} // namespace kolvena
