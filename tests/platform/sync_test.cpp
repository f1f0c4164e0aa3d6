#include "platform/sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/thread.h"

namespace {

using plat::Handle;
using plat::NameResult;
using plat::WaitStatus;

// Closes the handle at the end of a test.
struct Owned {
    explicit Owned(Handle h) : handle(h) {}
    ~Owned() { plat::closeHandle(handle); }
    operator Handle() const { return handle; }
    Handle handle;
};

// Zero-time waits in a row, one letter each: Signalled, Abandoned, TimedOut, Failed.
std::string polls(Handle object, int count)
{
    std::string seen;
    for (int i = 0; i < count; ++i)
        seen += "SATF"[static_cast<int>(plat::waitFor(object, 0).status)];
    return seen;
}

TEST(PlatObject, WaitsTakeWhatEachKindHasAndEachKindRefusesTheOthersOperations)
{
    Owned autoEvent(plat::createEvent(false, true));
    EXPECT_EQ(polls(autoEvent, 2), "ST");
    ASSERT_TRUE(plat::setEvent(autoEvent) && plat::setEvent(autoEvent));
    EXPECT_EQ(polls(autoEvent, 2), "ST"); // sets do not count

    Owned manual(plat::createEvent(true, true));
    EXPECT_EQ(polls(manual, 2), "SS");
    ASSERT_TRUE(plat::resetEvent(manual));
    EXPECT_EQ(polls(manual, 1), "T");

    for (auto [initial, maximum] : {std::pair{0, 0}, {2, 1}, {-1, 1}})
        EXPECT_EQ(plat::createSemaphore(initial, maximum), nullptr) << initial << "/" << maximum;
    Owned semaphore(plat::createSemaphore(1, 2));
    int32_t previous = -1;
    // Past the maximum, or none: nothing changes.
    EXPECT_FALSE(plat::releaseSemaphore(semaphore, 2, &previous) || plat::releaseSemaphore(semaphore, 0, &previous));
    EXPECT_TRUE(previous == -1 && plat::releaseSemaphore(semaphore, 1, &previous) && previous == 1) << previous;
    EXPECT_EQ(polls(semaphore, 3), "SST");

    Owned mutex(plat::createMutex(true));
    EXPECT_EQ(polls(mutex, 1), "S"); // recursive for its owner
    EXPECT_TRUE(plat::releaseMutex(mutex) && plat::releaseMutex(mutex));
    EXPECT_FALSE(plat::releaseMutex(mutex));

    EXPECT_FALSE(plat::releaseMutex(manual) || plat::releaseSemaphore(manual, 1, nullptr) ||
                 plat::setEvent(semaphore) || plat::resetEvent(mutex));
}

TEST(PlatWait, TheLowestSignalledIndexWinsOnlyItIsTakenAndAnotherThreadWakes)
{
    Owned a(plat::createEvent(false, false));
    Owned b(plat::createEvent(false, true));
    Owned c(plat::createSemaphore(1, 1));
    Handle all[3] = {a, b, c};
    const auto woken = [](plat::WaitResult result) { return std::tuple(result.status, result.index); };
    for (uint32_t expected : {1u, 2u})
        EXPECT_EQ(woken(plat::waitForAny(all, 3, 0)), std::tuple(WaitStatus::Signalled, expected));
    EXPECT_EQ(plat::waitForAny(all, 3, 5).status, WaitStatus::TimedOut);
    std::thread setter([&] { plat::setEvent(a); });
    EXPECT_EQ(woken(plat::waitForAny(all, 3, plat::kInfiniteWait)), std::tuple(WaitStatus::Signalled, 0u));
    setter.join();
}

// A wait for all takes nothing while one object is not ready, then all together.
TEST(PlatWait, AWaitForAllTakesEveryObjectTogetherOrNone)
{
    Owned autoEvent(plat::createEvent(false, true));
    Owned semaphore(plat::createSemaphore(1, 1));
    Owned unset(plat::createEvent(false, false));
    Handle all[3] = {autoEvent, semaphore, unset};
    const auto woken = [](plat::WaitResult result) { return std::tuple(result.status, result.index); };
    EXPECT_EQ(plat::waitForAll(all, 3, 0).status, WaitStatus::TimedOut);
    std::thread setter([&] { plat::setEvent(unset); });
    EXPECT_EQ(woken(plat::waitForAll(all, 3, 60000)), std::tuple(WaitStatus::Signalled, 0u));
    setter.join();
    EXPECT_EQ(polls(autoEvent, 1) + polls(semaphore, 1) + polls(unset, 1), "TTT");
}

TEST(PlatWait, AWaitForAllTellsAnAbandonedMutexAndRefusesAnObjectTwice)
{
    Owned mutex(plat::createMutex(false));
    std::thread([&] { EXPECT_EQ(polls(mutex, 1), "S"); }).join(); // ends owning it
    Owned event(plat::createEvent(true, true));
    Handle both[2] = {event, mutex};
    const auto woken = [](plat::WaitResult result) { return std::tuple(result.status, result.index); };
    EXPECT_EQ(woken(plat::waitForAll(both, 2, 0)), std::tuple(WaitStatus::Abandoned, 1u));
    EXPECT_EQ(woken(plat::waitForAll(both, 2, 0)), std::tuple(WaitStatus::Signalled, 0u)); // owned: recursive
    EXPECT_TRUE(plat::releaseMutex(mutex) && plat::releaseMutex(mutex));
    Handle twice[2] = {event, event};
    EXPECT_EQ(plat::waitForAll(twice, 2, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAll(both, 0, 0).status, WaitStatus::Failed);
}

TEST(PlatWait, OneSetOfAnAutoEventWakesExactlyOneOfTwoWaiters)
{
    Owned event(plat::createEvent(false, false));
    Owned done(plat::createSemaphore(0, 2));
    auto waiter = [&] {
        EXPECT_EQ(plat::waitFor(event, plat::kInfiniteWait).status, WaitStatus::Signalled);
        plat::releaseSemaphore(done, 1, nullptr);
    };
    std::thread a(waiter), b(waiter);
    plat::setEvent(event);
    ASSERT_EQ(plat::waitFor(done, plat::kInfiniteWait).status, WaitStatus::Signalled);
    EXPECT_EQ(plat::waitFor(done, 20).status, WaitStatus::TimedOut); // the other still waits
    plat::setEvent(event);
    a.join(), b.join();
}

TEST(PlatWait, BadArgumentsFail)
{
    Owned event(plat::createEvent(true, true));
    Handle withNull[2] = {event, nullptr};
    EXPECT_EQ(plat::waitForAny(withNull, 2, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAny(withNull, 0, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAny(nullptr, 1, 0).status, WaitStatus::Failed);
    std::vector<Handle> tooMany(plat::kMaxWaitObjects + 1, event);
    EXPECT_EQ(plat::waitForAny(tooMany.data(), plat::kMaxWaitObjects + 1, 0).status, WaitStatus::Failed);
    EXPECT_EQ(plat::waitForAny(tooMany.data(), plat::kMaxWaitObjects, 0).status, WaitStatus::Signalled);
    EXPECT_FALSE(plat::setEvent(nullptr) || plat::resetEvent(nullptr) || plat::releaseMutex(nullptr) ||
                 plat::releaseSemaphore(nullptr, 1, nullptr) || plat::closeHandle(nullptr));
    EXPECT_EQ(plat::duplicateHandle(nullptr), nullptr);
}

TEST(PlatWait, AnObjectOutlivesItsClosedHandleWhileAWaitHoldsIt)
{
    Handle event = plat::createEvent(false, false);
    Owned second(plat::duplicateHandle(event));
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
}

TEST(PlatMutex, OnlyItsOwnerReleasesItOpeningItDoesNotTakeItAndAThreadEndingWithItAbandonsIt)
{
    NameResult result = NameResult::Failed;
    Owned mutex(plat::createMutex(true, L"grab lock", &result));
    ASSERT_EQ(result, NameResult::Created);
    std::thread([&] {
        EXPECT_FALSE(plat::releaseMutex(mutex));
        Owned theirs(plat::createMutex(true, L"grab lock", &result));
        EXPECT_EQ(std::tuple(result, polls(theirs, 1)), std::tuple(NameResult::Existed, "T"));
    }).join();
    ASSERT_TRUE(plat::releaseMutex(mutex));
    std::thread([&] { EXPECT_EQ(polls(mutex, 1), "S"); }).join();
    // Only the first taker hears of it.
    EXPECT_EQ(polls(mutex, 1), "A");
    ASSERT_TRUE(plat::releaseMutex(mutex));
    EXPECT_EQ(polls(mutex, 1), "S");
    EXPECT_TRUE(plat::releaseMutex(mutex));
}

TEST(PlatCriticalSection, IsRecursiveAndExcludesOtherThreads)
{
    plat::CriticalSection section;
    section.enter();
    EXPECT_TRUE(section.tryEnter());
    std::thread([&] { EXPECT_FALSE(section.tryEnter() || section.leave()); }).join();
    EXPECT_TRUE(section.leave() && section.leave());
    EXPECT_FALSE(section.leave());

    int counter = 0;
    auto count = [&] {
        for (int i = 0; i < 1000; ++i)
            section.enter(), ++counter, section.leave();
    };
    std::thread first(count), second(count), third(count);
    count();
    first.join(), second.join(), third.join();
    EXPECT_EQ(counter, 4000);
}

// ---- named objects ----

TEST(PlatNamed, ANameOpensItsObjectWhileAnyReferenceLivesAndRefusesOtherKinds)
{
    NameResult result = NameResult::Failed;
    const auto withResult = [&](Handle handle) { return std::tuple(handle, result); };
    Handle a = plat::createEvent(true, false, L"frame ready", &result);
    EXPECT_EQ(result, NameResult::Created);
    Handle b = plat::createEvent(false, true, L"frame ready", &result);
    EXPECT_EQ(std::tuple(b, result), std::tuple(a, NameResult::Existed));
    // The second creation's arguments were ignored: still manual and clear.
    EXPECT_EQ(polls(b, 1), "T");
    ASSERT_TRUE(plat::setEvent(b));
    EXPECT_EQ(polls(a, 2), "SS");
    EXPECT_EQ(withResult(plat::createSemaphore(0, 1, L"frame ready", &result)), std::tuple(nullptr, NameResult::OtherKind));
    EXPECT_EQ(withResult(plat::createMutex(true, L"frame ready", &result)), std::tuple(nullptr, NameResult::OtherKind));
    plat::closeHandle(a);
    // Still there for b, and the refusals left it alone.
    Handle c = plat::createEvent(true, false, L"frame ready", &result);
    EXPECT_EQ(std::tuple(c, result, polls(c, 1)), std::tuple(b, NameResult::Existed, "S"));
    plat::closeHandle(b);
    plat::closeHandle(c);
    // Gone with its last reference: the name makes a new object, of any kind; bad counts fail even then.
    Owned made(plat::createSemaphore(1, 1, L"frame ready", &result));
    EXPECT_EQ(result, NameResult::Created);
    EXPECT_EQ(withResult(plat::createSemaphore(2, 1, L"frame ready", &result)), std::tuple(nullptr, NameResult::Failed));
    // An empty name makes an unnamed object each time.
    Owned unnamed(plat::createSemaphore(0, 1, L"", &result));
    Owned another(plat::createSemaphore(0, 1, L"", nullptr));
    EXPECT_EQ(std::tuple(result, unnamed.handle != another.handle), std::tuple(NameResult::Created, true));
}

TEST(PlatNamed, ThreadsRacingToCreateOneNameShareOneObject)
{
    constexpr int kThreads = 8;
    std::atomic<int> created{0};
    std::vector<Handle> handles(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            NameResult result = NameResult::Failed;
            handles[i] = plat::createSemaphore(0, kThreads, L"race", &result);
            created += result == NameResult::Created;
        });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(created.load(), 1);
    for (Handle handle : handles) {
        EXPECT_EQ(handle, handles[0]);
        plat::closeHandle(handle);
    }
}

} // namespace
