// What the resource classes add to the platform's objects (tests/platform):
// seconds to milliseconds, wait answers, name results as exceptions, scoped
// locks. The critical section is contended in the object-table tests; the
// stop requests that break waits are tested with the thread identities in
// tests/std.
#include "std/except/resource.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>

#include "platform/thread.h"

namespace {

TEST(ResourceLockTime, SecondsBecomeMillisecondsSafely)
{
    const struct { double seconds; uint32_t milliseconds; } cases[] = {
        {HUGE_VAL, plat::kInfiniteWait}, {2.5, 2500},
        {0.0001, 1}, // a positive time waits at least 1 ms
        {0.0019, 1}, // truncated
        // Past the count: clamped below the infinite value, never converted out of range.
        {4294967.2945, plat::kInfiniteWait - 1}, {std::numeric_limits<double>::max(), plat::kInfiniteWait - 1},
        {-1.0, 0}, {std::nan(""), 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ccLockMilliseconds(c.seconds), c.milliseconds) << c.seconds;
}

// Taken, abandoned (still taken) and released; a wrapped handle is the
// wrapper's own reference; name results become exceptions.
TEST(ResourceObjects, LockAnswersWhetherTakenAndCreationRefusals)
{
    ccMutex mutex(false, L"qorx test mutex", false);
    bool otherGot = false;
    std::thread([&] { otherGot = mutex.lock(0); }).join();
    EXPECT_TRUE(otherGot && mutex.lock(0) && mutex.createdNew());
    EXPECT_THROW(ccMutex(false, L"qorx test mutex", false), cc_Resource::NamedObjectExists);
    EXPECT_FALSE(ccMutex(false, L"qorx test mutex", true).createdNew());
    EXPECT_THROW(ccEvent(false, false, L"qorx test mutex"), cc_Resource::NameConflict);

    plat::Handle raw = plat::createSemaphore(0, 1);
    ccSemaphore wrapped(raw);
    plat::closeHandle(raw);
    wrapped.unlock();
    EXPECT_TRUE(wrapped.lock(0));
    EXPECT_FALSE(wrapped.lock(0));
    EXPECT_THROW(ccSemaphore(nullptr), cc_Resource::CreateFailed);
    EXPECT_THROW(ccSemaphore(2, 1), cc_Resource::CreateFailed);
    ccEvent event(false, false);
    event.unlock(); // sets it
    EXPECT_TRUE(event.lock(0));
}

TEST(ResourceScopedLock, ReleasesExactlyWhatItTook)
{
    ccSemaphore semaphore(1, 2);
    {
        ccResourceLock holding(semaphore);
        EXPECT_FALSE(semaphore.lock(0));
        holding.unlock();
        holding.unlock(); // holds nothing: must not release a second count
        ccResourceLock idle(semaphore, false);
    }
    EXPECT_TRUE(semaphore.lock(0));
    EXPECT_FALSE(semaphore.lock(0)); // one count, not two or three
    // The library mutex is one recursive mutex for the process.
    ccResourceLock outer(ccLibraryMutex());
    ccResourceLock inner(ccLibraryMutex());
    EXPECT_EQ(inner.count(), 1u);
}

} // namespace
