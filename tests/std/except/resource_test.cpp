// What the resource classes add to the platform's objects (tests/platform):
// seconds to milliseconds, wait answers, name results as exceptions, scoped
// locks. The stop requests that break waits are tested with the thread
// identities in tests/std.
#include "std/except/resource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <tuple>

#include "platform/thread.h"

namespace {

TEST(ResourceLockTime, SecondsBecomeMillisecondsSafelyAndReachTheWait)
{
    const struct { double seconds; uint32_t milliseconds; } cases[] = {
        {HUGE_VAL, plat::kInfiniteWait}, {0.0, 0}, {2.5, 2500},
        {0.0001, 1}, // a positive time waits at least 1 ms
        {0.0019, 1}, // truncated
        // Past the count: clamped below the infinite value, never converted out of range.
        {4294967.2945, plat::kInfiniteWait - 1}, {std::numeric_limits<double>::max(), plat::kInfiniteWait - 1},
        {-1.0, 0}, {-HUGE_VAL, 0}, {std::nan(""), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ccLockMilliseconds(c.seconds), c.milliseconds) << c.seconds;

    ccSemaphore semaphore(0, 1);
    EXPECT_FALSE(semaphore.lock(0));
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(semaphore.lock(0.0001));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1));
    semaphore.unlock();
    EXPECT_TRUE(semaphore.lock(HUGE_VAL));
}

TEST(ResourceObjects, LockAnswersWhetherTakenAndUnlockReleasesOnce)
{
    ccMutex mutex(true); // initially owned
    EXPECT_TRUE(mutex.createdNew());
    bool otherGot = true;
    std::thread([&] {
        otherGot = mutex.lock(0);
        mutex.unlock(); // not the owner: no effect
    }).join();
    EXPECT_FALSE(otherGot);
    mutex.unlock();
    // A thread that ends holding it abandons it: still taken.
    std::thread([&] { otherGot = mutex.lock(0); }).join();
    EXPECT_TRUE(otherGot);
    EXPECT_TRUE(mutex.lock(0));
    mutex.unlock();

    ccSemaphore semaphore(1, 2);
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_FALSE(semaphore.lock(0));
    for (int i = 0; i < 3; ++i)
        semaphore.unlock(); // the third is past the maximum: nothing
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_FALSE(semaphore.lock(0));
    plat::Handle raw = plat::createSemaphore(0, 1);
    {
        ccSemaphore wrapped(raw);
        EXPECT_EQ(wrapped.handle(), raw);
        plat::closeHandle(raw); // the wrapper holds its own reference
        wrapped.unlock();
        EXPECT_TRUE(wrapped.lock(0));
    }
    EXPECT_THROW(ccSemaphore(nullptr), cc_Resource::CreateFailed);
    EXPECT_THROW(ccSemaphore(2, 1), cc_Resource::CreateFailed);

    ccEvent event(false, false);
    event.unlock(); // sets it
    EXPECT_TRUE(event.lock(0));
    EXPECT_FALSE(event.lock(0));
    EXPECT_TRUE(event.set());
    EXPECT_TRUE(event.lock(0));
}

TEST(ResourceNamed, NameResultsBecomeCreatedNewOrExceptionsAndARefusalHoldsNoReference)
{
    ccMutex first(false, L"qorx test mutex", false);
    EXPECT_TRUE(first.createdNew());
    EXPECT_THROW(ccMutex(false, L"qorx test mutex", false), cc_Resource::NamedObjectExists);
    ccMutex second(false, L"qorx test mutex", true);
    EXPECT_FALSE(second.createdNew());
    EXPECT_EQ(second.handle(), first.handle());

    EXPECT_THROW(ccSemaphore(0, 1, L"qorx test mutex"), cc_Resource::NameConflict);
    EXPECT_THROW(ccEvent(false, false, L"qorx test mutex"), cc_Resource::NameConflict);

    {
        ccEvent set(true, true, L"qorx test event");
        EXPECT_THROW(ccEvent(true, false, L"qorx test event", false), cc_Resource::NamedObjectExists);
    }
    // Every reference has gone, so the name makes a new, clear event.
    ccEvent again(true, false, L"qorx test event", false);
    EXPECT_TRUE(again.createdNew());
    EXPECT_FALSE(again.lock(0));
}

TEST(ResourceScopedLock, ReleasesExactlyWhatItTook)
{
    ccSemaphore semaphore(1, 2);
    {
        ccResourceLock holding(semaphore);
        EXPECT_EQ(holding.count(), 1u);
        EXPECT_FALSE(semaphore.lock(0));
        holding.unlock();
        EXPECT_EQ(holding.count(), 0u);
        holding.unlock(); // holds nothing: must not release a second count
        EXPECT_EQ(holding.count(), 0u);
    }
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_FALSE(semaphore.lock(0)); // one count, not two or three
    {
        ccResourceLock idle(semaphore, false);
        EXPECT_EQ(idle.count(), 0u);
        idle.unlock();
    }
    EXPECT_FALSE(semaphore.lock(0)); // nothing was released, by unlock() or the destructor
}

TEST(ResourceLibraryMutex, IsOneRecursiveMutexForTheProcess)
{
    ccMutex& mutex = ccLibraryMutex();
    EXPECT_EQ(&mutex, &ccLibraryMutex());
    ccResourceLock outer(mutex);
    ccResourceLock inner(ccLibraryMutex()); // taken again by its holder
    EXPECT_EQ(std::tuple(outer.count(), inner.count()), std::tuple(1u, 1u));
}

TEST(ResourceCriticalSection, SpinsThenBlocksAndExcludesOthers)
{
    // Two threads contend, so that both the spin and the blocking wait take
    // the section; recursive for its owner.
    ccCriticalSection section;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 100000; ++i) {
            section.lock();
            section.lock();
            ++counter;
            section.unlock();
            section.unlock();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 200000);
}

} // namespace
