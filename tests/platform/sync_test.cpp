#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace {

using plat::WaitStatus;

// Closes the handle at the end of a test.
struct Owned {
    explicit Owned(plat::Handle h) : handle(h) {}
    ~Owned() { plat::closeHandle(handle); }
    plat::Handle handle;
};

TEST(PlatEvent, AutoResetReleasesOneWaitManualStaysSignalled)
{
    Owned autoEvent(plat::createEvent(false, true));
    Owned manual(plat::createEvent(true, true));
    ASSERT_NE(autoEvent.handle, nullptr);
    ASSERT_NE(manual.handle, nullptr);

    EXPECT_EQ(plat::waitFor(autoEvent.handle, 0).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(autoEvent.handle, 0).status, WaitStatus::TimedOut);
    EXPECT_EQ(plat::waitFor(manual.handle, 0).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(manual.handle, 0).status, WaitStatus::Signalled);
    ASSERT_TRUE(plat::resetEvent(manual.handle));
    EXPECT_EQ(plat::waitFor(manual.handle, 0).status, WaitStatus::TimedOut);
}

TEST(PlatEvent, ShortTimeOutExpiresAndASetFromAnotherThreadWakes)
{
    Owned event(plat::createEvent(false, false));
    EXPECT_EQ(plat::waitFor(event.handle, 5).status, WaitStatus::TimedOut);

    std::thread setter([&] { plat::setEvent(event.handle); });
    EXPECT_EQ(plat::waitFor(event.handle, plat::kInfiniteWait).status, WaitStatus::Signalled);
    setter.join();
}

TEST(PlatEvent, OneSetOfAnAutoEventWakesExactlyOneOfTwoWaiters)
{
    Owned event(plat::createEvent(false, false));
    Owned done(plat::createSemaphore(0, 2));
    std::atomic<int> woken{0};
    auto waiter = [&] {
        if (plat::waitFor(event.handle, plat::kInfiniteWait).status == WaitStatus::Signalled)
            ++woken;
        plat::releaseSemaphore(done.handle, 1, nullptr);
    };
    std::thread a(waiter), b(waiter);
    plat::setEvent(event.handle);
    ASSERT_EQ(plat::waitFor(done.handle, plat::kInfiniteWait).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(done.handle, 20).status, WaitStatus::TimedOut);
    EXPECT_EQ(woken.load(), 1);
    plat::setEvent(event.handle);
    a.join();
    b.join();
    EXPECT_EQ(woken.load(), 2);
}

TEST(PlatSemaphore, CountsDownAndRefusesToPassItsMaximum)
{
    EXPECT_EQ(plat::createSemaphore(0, 0), nullptr);
    EXPECT_EQ(plat::createSemaphore(2, 1), nullptr);
    EXPECT_EQ(plat::createSemaphore(-1, 1), nullptr);

    Owned semaphore(plat::createSemaphore(1, 2));
    int32_t previous = -1;
    EXPECT_FALSE(plat::releaseSemaphore(semaphore.handle, 2, &previous));
    EXPECT_EQ(previous, -1);
    EXPECT_FALSE(plat::releaseSemaphore(semaphore.handle, 0, nullptr));
    EXPECT_TRUE(plat::releaseSemaphore(semaphore.handle, 1, &previous));
    EXPECT_EQ(previous, 1);
    EXPECT_EQ(plat::waitFor(semaphore.handle, 0).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(semaphore.handle, 0).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(semaphore.handle, 0).status, WaitStatus::TimedOut);
}

TEST(PlatMutex, IsRecursiveAndOnlyItsOwnerReleasesIt)
{
    Owned mutex(plat::createMutex(true));
    ASSERT_NE(mutex.handle, nullptr);
    EXPECT_EQ(plat::waitFor(mutex.handle, 0).status, WaitStatus::Signalled);

    std::thread other([&] {
        EXPECT_FALSE(plat::releaseMutex(mutex.handle));
        EXPECT_EQ(plat::waitFor(mutex.handle, 0).status, WaitStatus::TimedOut);
    });
    other.join();

    EXPECT_TRUE(plat::releaseMutex(mutex.handle));
    EXPECT_TRUE(plat::releaseMutex(mutex.handle));
    EXPECT_FALSE(plat::releaseMutex(mutex.handle));

    std::thread taker([&] {
        EXPECT_EQ(plat::waitFor(mutex.handle, 0).status, WaitStatus::Signalled);
        EXPECT_TRUE(plat::releaseMutex(mutex.handle));
    });
    taker.join();
}

TEST(PlatMutex, AThreadEndingWhileItOwnsAMutexAbandonsIt)
{
    Owned mutex(plat::createMutex(false));
    std::thread owner([&] { EXPECT_EQ(plat::waitFor(mutex.handle, 0).status, WaitStatus::Signalled); });
    owner.join();

    plat::WaitResult first = plat::waitFor(mutex.handle, 0);
    EXPECT_EQ(first.status, WaitStatus::Abandoned);
    ASSERT_TRUE(plat::releaseMutex(mutex.handle));
    // Only the first taker hears of it.
    EXPECT_EQ(plat::waitFor(mutex.handle, 0).status, WaitStatus::Signalled);
    EXPECT_TRUE(plat::releaseMutex(mutex.handle));
}

TEST(PlatWait, TheLowestSignalledIndexWinsAndOnlyItIsTaken)
{
    Owned a(plat::createEvent(false, false));
    Owned b(plat::createEvent(false, true));
    Owned c(plat::createSemaphore(1, 1));
    plat::Handle all[3] = {a.handle, b.handle, c.handle};

    plat::WaitResult result = plat::waitForAny(all, 3, 0);
    EXPECT_EQ(result.status, WaitStatus::Signalled);
    EXPECT_EQ(result.index, 1u);
    result = plat::waitForAny(all, 3, 0);
    EXPECT_EQ(result.status, WaitStatus::Signalled);
    EXPECT_EQ(result.index, 2u);
    EXPECT_EQ(plat::waitForAny(all, 3, 0).status, WaitStatus::TimedOut);

    std::thread setter([&] { plat::setEvent(a.handle); });
    result = plat::waitForAny(all, 3, plat::kInfiniteWait);
    setter.join();
    EXPECT_EQ(result.status, WaitStatus::Signalled);
    EXPECT_EQ(result.index, 0u);
}

TEST(PlatWait, BadArgumentsFail)
{
    Owned event(plat::createEvent(true, true));
    plat::Handle withNull[2] = {event.handle, nullptr};
    EXPECT_EQ(plat::waitForAny(withNull, 2, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAny(withNull, 0, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAny(nullptr, 1, 0).status, WaitStatus::Failed);
    std::vector<plat::Handle> tooMany(plat::kMaxWaitObjects + 1, event.handle);
    EXPECT_EQ(plat::waitForAny(tooMany.data(), plat::kMaxWaitObjects + 1, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAny(tooMany.data(), plat::kMaxWaitObjects, 0).status, WaitStatus::Signalled);
    EXPECT_FALSE(plat::setEvent(nullptr));
    EXPECT_FALSE(plat::releaseMutex(event.handle));
    EXPECT_FALSE(plat::releaseSemaphore(event.handle, 1, nullptr));
    EXPECT_FALSE(plat::closeHandle(nullptr));
}

TEST(PlatWait, AnObjectOutlivesItsClosedHandleWhileAWaitHoldsIt)
{
    plat::Handle event = plat::createEvent(false, false);
    plat::Handle second = plat::duplicateHandle(event);
    std::atomic<bool> waiting{false};
    std::thread waiter([&] {
        waiting = true;
        EXPECT_EQ(plat::waitFor(event, plat::kInfiniteWait).status, WaitStatus::Signalled);
    });
    while (!waiting)
        std::this_thread::yield();
    ASSERT_TRUE(plat::closeHandle(event)); // the waiter may already be blocked
    ASSERT_TRUE(plat::setEvent(second));
    waiter.join();
    plat::closeHandle(second);
}

TEST(PlatCriticalSection, IsRecursiveAndExcludesOtherThreads)
{
    plat::CriticalSection section;
    EXPECT_FALSE(section.leave());
    section.enter();
    EXPECT_TRUE(section.tryEnter());
    std::thread other([&] {
        EXPECT_FALSE(section.tryEnter());
        EXPECT_FALSE(section.leave());
    });
    other.join();
    EXPECT_TRUE(section.leave());
    EXPECT_TRUE(section.leave());
    EXPECT_FALSE(section.leave());

    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) {
                section.enter();
                ++counter;
                section.leave();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 4000);
}

} // namespace
