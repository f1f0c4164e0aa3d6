#include "std/except/resource.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <string>
#include <thread>

#include "platform/thread.h"

namespace {

TEST(ResourceLockTime, SecondsBecomeMillisecondsSafely)
{
    EXPECT_EQ(ccLockMilliseconds(HUGE_VAL), plat::kInfiniteWait);
    EXPECT_EQ(ccLockMilliseconds(0.0), 0u);
    EXPECT_EQ(ccLockMilliseconds(0.0001), 1u); // a positive time waits at least 1 ms
    EXPECT_EQ(ccLockMilliseconds(0.0019), 1u); // truncated
    EXPECT_EQ(ccLockMilliseconds(2.5), 2500u);
    // Past the count: clamped below the infinite value, never converted out of range.
    EXPECT_EQ(ccLockMilliseconds(1e9), plat::kInfiniteWait - 1);
    EXPECT_EQ(ccLockMilliseconds(4294967.2945), plat::kInfiniteWait - 1);
    EXPECT_EQ(ccLockMilliseconds(std::numeric_limits<double>::max()), plat::kInfiniteWait - 1);
    EXPECT_EQ(ccLockMilliseconds(-1.0), 0u);
    EXPECT_EQ(ccLockMilliseconds(-HUGE_VAL), 0u);
    EXPECT_EQ(ccLockMilliseconds(std::nan("")), 0u);
}

TEST(ResourceLockTime, TimedLocksOnAHeldMutexRunOutAndAnUnlimitedOneWaitsForTheRelease)
{
    ccMutex mutex;
    ccEvent held(true, false);
    ccEvent release(true, false);
    std::thread owner([&] {
        EXPECT_TRUE(mutex.lock(HUGE_VAL));
        held.set();
        release.lock(HUGE_VAL);
        mutex.unlock();
    });
    ASSERT_TRUE(held.lock(HUGE_VAL));
    EXPECT_FALSE(mutex.lock(0));

    using Clock = std::chrono::steady_clock;
    const Clock::time_point before = Clock::now();
    EXPECT_FALSE(mutex.lock(0.0001));
    EXPECT_GE(Clock::now() - before, std::chrono::milliseconds(1));

    release.set();
    EXPECT_TRUE(mutex.lock(HUGE_VAL));
    owner.join();
    mutex.unlock();
}

TEST(ResourceMutex, IsRecursiveAndFreeOnlyAfterTheLastUnlock)
{
    ccMutex mutex(true); // initially owned
    EXPECT_TRUE(mutex.createdNew());
    EXPECT_TRUE(mutex.lock(0));
    auto otherGets = [&] {
        bool got = false;
        std::thread other([&] {
            got = mutex.lock(0);
            mutex.unlock(); // not the owner unless it got it
            if (got)
                mutex.unlock();
        });
        other.join();
        return got;
    };
    EXPECT_FALSE(otherGets());
    mutex.unlock();
    EXPECT_FALSE(otherGets()); // still held once
    mutex.unlock();
    EXPECT_TRUE(otherGets());
    mutex.unlock(); // holding nothing: no effect
    EXPECT_TRUE(otherGets());
}

TEST(ResourceSemaphore, CountsAndAWrappedHandleSharesTheObject)
{
    ccSemaphore semaphore(1, 2);
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_FALSE(semaphore.lock(0));
    semaphore.unlock();
    semaphore.unlock();
    semaphore.unlock(); // past the maximum: nothing
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_FALSE(semaphore.lock(0));

    plat::Handle raw = plat::createSemaphore(0, 1);
    {
        ccSemaphore wrapped(raw);
        EXPECT_NE(wrapped.handle(), nullptr);
        plat::closeHandle(raw); // the wrapper holds its own reference
        wrapped.unlock();
        EXPECT_TRUE(wrapped.lock(0));
    }
    EXPECT_THROW(ccSemaphore(nullptr), cc_Resource::CreateFailed);
    EXPECT_THROW(ccSemaphore(2, 1), cc_Resource::CreateFailed);
}

TEST(ResourceEvent, UnlockSetsAndSetAnswers)
{
    ccEvent automatic(false, false);
    EXPECT_FALSE(automatic.lock(0));
    automatic.unlock();
    EXPECT_TRUE(automatic.lock(0));
    EXPECT_FALSE(automatic.lock(0)); // reset by the wait
    EXPECT_TRUE(automatic.set());
    EXPECT_TRUE(automatic.lock(0));

    ccEvent manual(true, true);
    EXPECT_TRUE(manual.lock(0));
    EXPECT_TRUE(manual.lock(0));
}

TEST(ResourceNamed, ASecondMutexOfTheNameOpensTheFirstOrIsRefused)
{
    ccMutex first(false, L"qorx test mutex", false);
    EXPECT_TRUE(first.createdNew());
    EXPECT_THROW(ccMutex(false, L"qorx test mutex", false), cc_Resource::NamedObjectExists);

    ccMutex second(false, L"qorx test mutex", true);
    EXPECT_FALSE(second.createdNew());
    ASSERT_TRUE(first.lock(0));
    bool otherGot = true;
    std::thread other([&] { otherGot = second.lock(0); });
    other.join();
    EXPECT_FALSE(otherGot); // the same mutex, held through the first
    EXPECT_TRUE(second.lock(0)); // recursive for this thread through either
    second.unlock();
    first.unlock();
}

TEST(ResourceNamed, ARefusedOpeningLeavesNoReferenceBehind)
{
    {
        ccEvent first(true, true, L"qorx test event");
        EXPECT_THROW(ccEvent(true, false, L"qorx test event", false), cc_Resource::NamedObjectExists);
    }
    // Every reference has gone, so the name makes a new, clear event.
    ccEvent again(true, false, L"qorx test event", false);
    EXPECT_TRUE(again.createdNew());
    EXPECT_FALSE(again.lock(0));
}

TEST(ResourceNamed, ANameHeldByAnotherKindConflicts)
{
    ccEvent event(false, false, L"qorx test shared");
    EXPECT_THROW(ccSemaphore(0, 1, L"qorx test shared"), cc_Resource::NameConflict);
    EXPECT_THROW(ccMutex(false, L"qorx test shared"), cc_Resource::NameConflict);
    try {
        ccSemaphore(0, 1, L"qorx test shared");
        ADD_FAILURE() << "no conflict";
    } catch (const cc_Resource::Errors& e) { // one family
        EXPECT_EQ(e.code(), 0x10002104u);
    }
    ccSemaphore semaphore(0, 1, L"qorx test other");
    EXPECT_TRUE(semaphore.createdNew());
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
    EXPECT_FALSE(semaphore.lock(0)); // nothing was released

    ccEvent event(false, false);
    {
        ccResourceLock idle(event, false);
    }
    EXPECT_FALSE(event.lock(0)); // an unlock would have set it
}

TEST(ResourceLibraryMutex, IsOneRecursiveMutexForTheProcess)
{
    ccMutex& mutex = ccLibraryMutex();
    EXPECT_EQ(&mutex, &ccLibraryMutex());
    ccResourceLock outer(mutex);
    {
        ccResourceLock inner(ccLibraryMutex()); // taken again by its holder
        EXPECT_EQ(inner.count(), 1u);
    }
    bool otherGot = true;
    std::thread other([&] { otherGot = ccLibraryMutex().lock(0); });
    other.join();
    EXPECT_FALSE(otherGot);
    outer.unlock();
    std::thread later([&] {
        otherGot = ccLibraryMutex().lock(0);
        ccLibraryMutex().unlock();
    });
    later.join();
    EXPECT_TRUE(otherGot);
}

// The kernel's state letter for a thread of this process: 'S' while it
// sleeps, '?' when it cannot be read.
char threadState(uint32_t threadId)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(threadId) + "/stat");
    std::string line;
    std::getline(stat, line);
    size_t name = line.rfind(')'); // the name may hold spaces and parentheses
    return name != std::string::npos && name + 2 < line.size() ? line[name + 2] : '?';
}

TEST(ResourceCriticalSection, IsRecursiveAndExcludesOthers)
{
    ccCriticalSection section;
    EXPECT_EQ(section.spinCount(), 4000u);
    section.lock();
    section.lock();
    std::atomic<int> entries{0};
    std::atomic<uint32_t> otherId{0};
    std::thread other([&] {
        section.unlock(); // not the holder: no effect
        otherId = plat::currentThreadId();
        section.lock();
        ++entries;
        section.unlock();
    });
    while (otherId == 0)
        std::this_thread::yield();
    section.unlock();
    // Still held once: the other thread may only block in its lock. Once
    // the kernel has it asleep there (or it got in), the count tells.
    char state = ' ';
    while (entries == 0 && state != 'S' && state != '?') {
        std::this_thread::yield();
        state = threadState(otherId);
    }
    EXPECT_NE(state, '?') << "the thread's state cannot be read";
    EXPECT_EQ(entries.load(), 0);
    section.unlock();
    other.join();
    EXPECT_EQ(entries.load(), 1);
}

} // namespace
