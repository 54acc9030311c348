#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "net/event_loop.h"
#include "net/thread_mailbox.h"

namespace kolvena::test {
namespace {

TEST(ThreadMailbox, CallsFromManyThreadsAllRunOnTheOwnerInTheOrderEachThreadPosted) {
    ThreadMailbox mailbox;
    constexpr std::size_t kThreads = 4, kCalls = 500;
    std::vector<std::vector<std::size_t>> seen(kThreads);
    std::atomic<int> wrongThread = 0;
    QThread* const owner = QThread::currentThread();
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (std::size_t i = 0; i < kCalls; ++i)
                mailbox.Post([&, t, i] {
                    wrongThread += QThread::currentThread() != owner;
                    seen[t].push_back(i);
                });
        });
    for (std::thread& worker : workers)
        worker.join();
    std::vector<std::size_t> inOrder(kCalls);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    const decltype(seen) expected(kThreads, inOrder);
    WaitFor([&] { return seen == expected; });
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(wrongThread, 0);
}

TEST(ThreadMailbox, ACallRunningANestedLoopKeepsTheOrderAndNothingRunsTwice) {
    ThreadMailbox mailbox;
    std::vector<int> order;
    mailbox.Post([&] {
        order.push_back(1);
        Pump(50ms); // as a modal box would: the later calls run inside, once each
        order.push_back(2);
    });
    mailbox.Post([&] { order.push_back(3); });
    mailbox.Post([&] { order.push_back(4); });
    WaitFor([&] { return order.size() == 4; });
    Pump(20ms);
    EXPECT_EQ(order, (std::vector<int>{1, 3, 4, 2}));
}

// Calls still queued when the mailbox goes, from outside or from inside one of its calls, are
// dropped with what they captured.
TEST(ThreadMailbox, CallsStillQueuedWhenItGoesAreDroppedWithWhatTheyCaptured) {
    auto captured = std::make_shared<int>(7);
    int ran = 0;
    {
        ThreadMailbox mailbox;
        std::thread([&, captured] { mailbox.Post([&ran, captured] { ++ran; }); }).join();
        EXPECT_EQ(captured.use_count(), 2);
    }
    auto mailbox = std::make_unique<ThreadMailbox>();
    mailbox->Post([&] {
        ++ran;
        mailbox.reset();
    });
    mailbox->Post([&ran, captured] { ++ran; });
    WaitFor([&] { return mailbox == nullptr; });
    Pump(20ms);
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(captured.use_count(), 1);
}

} // namespace
} // namespace kolvena::test
