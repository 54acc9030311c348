#include <QCoreApplication>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <vector>

#include "net/thread_mailbox.h"
#include "net_test_support.h"

namespace kolvena {
namespace {

using test::WaitFor;

TEST(ThreadMailbox, CallsFromManyThreadsAllRunOnTheOwnerInTheOrderEachThreadPosted) {
    ThreadMailbox mailbox;
    constexpr int kThreads = 4;
    constexpr int kCalls = 500;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> wrongThread = 0;
    QThread* const owner = QThread::currentThread();
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t)
        workers.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i)
                mailbox.Post([&, t, i] {
                    if (QThread::currentThread() != owner)
                        ++wrongThread;
                    seen[t].push_back(i);
                });
        });
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_TRUE(WaitFor([&] {
        for (const auto& calls : seen)
            if (calls.size() < kCalls)
                return false;
        return true;
    }));
    EXPECT_EQ(wrongThread, 0);
    for (const auto& calls : seen) {
        ASSERT_EQ(calls.size(), std::size_t{kCalls});
        for (int i = 0; i < kCalls; ++i)
            EXPECT_EQ(calls[i], i);
    }
}

TEST(ThreadMailbox, ACallRunningANestedLoopKeepsTheOrderAndNothingRunsTwice) {
    ThreadMailbox mailbox;
    std::vector<int> order;
    mailbox.Post([&] {
        order.push_back(1);
        // As a modal box would: the later calls run inside, once each.
        test::Pump(std::chrono::milliseconds(50));
        order.push_back(2);
    });
    mailbox.Post([&] { order.push_back(3); });
    mailbox.Post([&] { order.push_back(4); });
    ASSERT_TRUE(WaitFor([&] { return order.size() == 4; }));
    test::Pump(std::chrono::milliseconds(20));
    EXPECT_EQ(order, (std::vector<int>{1, 3, 4, 2}));
}

TEST(ThreadMailbox, CallsStillQueuedWhenItGoesAreDroppedWithWhatTheyCaptured) {
    auto captured = std::make_shared<int>(7);
    bool ran = false;
    {
        ThreadMailbox mailbox;
        std::thread([&, captured] { mailbox.Post([&ran, captured] { ran = true; }); }).join();
        EXPECT_EQ(captured.use_count(), 2);
    }
    test::Pump(std::chrono::milliseconds(20));
    EXPECT_FALSE(ran);
    EXPECT_EQ(captured.use_count(), 1);
}

TEST(ThreadMailbox, ACallMayDestroyTheObjectThatOwnsTheMailbox) {
    auto mailbox = std::make_unique<ThreadMailbox>();
    int ran = 0;
    mailbox->Post([&] {
        ++ran;
        mailbox.reset();
    });
    mailbox->Post([&] { ++ran; });
    ASSERT_TRUE(WaitFor([&] { return mailbox == nullptr; }));
    test::Pump(std::chrono::milliseconds(20));
    EXPECT_EQ(ran, 1);
}

} // namespace
} // namespace kolvena
