// The system layer's wrappers: statuses, flags and units over the platform's
// objects, whose semantics tests/platform covers.
#include "system/csys_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "tests/support/fake_clock.h"

namespace {

TEST(CsysOnce, ManyThreadsRacingRunTheFunctionOnce)
{
    static std::atomic<int> runs{0};
    int32_t flag = 0;
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            failures += csys_once([](void*) { return ++runs, csysOk; }, nullptr, &flag) != csysOk;
        });
    go = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(std::tuple(runs.load(), failures.load(), flag), std::tuple(1, 0, 1));
}

csysStatus failFirstTime(void* calls) { return ++*static_cast<int*>(calls) == 1 ? csysErrNoMemory : 3; }

TEST(CsysOnce, AFailureLeavesTheFlagClearAndAOnceFunctionMayInitialiseAnotherFlag)
{
    int32_t flag = 0;
    int calls = 0;
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysErrNoMemory);
    EXPECT_EQ(flag, 0);
    // A positive result counts as success; the unlock's status is returned.
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysOk);
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysOk);
    EXPECT_EQ(std::tuple(flag, calls), std::tuple(1, 2));

    static int innerRuns = 0;
    static int32_t innerFlag = 0;
    int32_t outerFlag = 0;
    auto initialiseInner = [](void*) {
        return csys_once([](void*) { return ++innerRuns, csysOk; }, nullptr, &innerFlag);
    };
    EXPECT_EQ(csys_once(initialiseInner, nullptr, &outerFlag), csysOk);
    EXPECT_EQ(std::tuple(outerFlag, innerFlag, innerRuns), std::tuple(1, 1, 1));

    EXPECT_EQ(csys_once(nullptr, nullptr, &flag), csysErrNullArg);
    EXPECT_EQ(csys_once(&failFirstTime, &calls, nullptr), csysErrNullArg);
}

TEST(CsysEvent, WaitsReportTheSignalInTheFlagAndWaitForeverIsWithoutLimit)
{
    csys_event event = {};
    ASSERT_EQ(csys_eventCreate(&event, 0, 0), csysOk); // a wait on an invalid record is refused
    int32_t before = 7, after = 0;
    EXPECT_EQ(csys_eventWait(&event, 0, &before), csysOk);
    ASSERT_EQ(csys_eventSet(&event), csysOk);
    EXPECT_EQ(csys_eventWait(&event, csysWaitForever, &after), csysOk);
    EXPECT_EQ(csys_handleClose(&event.handle), csysOk);
    EXPECT_EQ(csys_handleClose(&event.handle), csysOk); // an empty word is no error
    EXPECT_EQ(std::tuple(before, after, event.handle), std::tuple(0, 1, nullptr));

    ASSERT_EQ(csys_eventCreate(&event, 1, 1), csysOk); // manual, set
    before = after = 0;
    EXPECT_EQ(csys_eventWait(&event, 0, &before), csysOk);
    EXPECT_EQ(csys_eventWait(&event, 0, &after), csysOk);
    EXPECT_EQ(std::tuple(before, after), std::tuple(1, 1));
    EXPECT_EQ(csys_handleClose(&event.handle), csysOk);
}

TEST(CsysMutex, OwnershipAndAbandonmentReadAsAcquiredAndAFailedUnlockIsAnOsError)
{
    csys_mutex mutex = {};
    int32_t owned = 0;
    ASSERT_EQ(csys_mutexCreate(&mutex, 1, &owned), csysOk);
    EXPECT_EQ(std::tuple(owned, mutex.valid), std::tuple(1, 1));
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysErrOsCall);
    // Abandoned by a thread that has ended.
    std::thread([&] { EXPECT_EQ(csys_mutexLock(&mutex, nullptr), csysOk); }).join();
    int32_t acquired = 0;
    EXPECT_EQ(csys_mutexLock(&mutex, &acquired), csysOk);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    EXPECT_EQ(csys_handleClose(&mutex.handle), csysOk);
    ASSERT_EQ(csys_mutexCreate(&mutex, 0, &owned), csysOk);
    EXPECT_EQ(std::tuple(acquired, owned), std::tuple(1, 0));
    EXPECT_EQ(csys_handleClose(&mutex.handle), csysOk);
}

TEST(CsysCriticalSection, EntersAndLeavesThroughItsSlotAndALeaveNotHeldIsAnOsError)
{
    csys_criticalSection* slot = nullptr;
    ASSERT_EQ(csys_csCreate(&slot), csysOk);
    int32_t entered = 0;
    ASSERT_EQ(csys_csEnter(&slot, &entered), csysOk);
    EXPECT_EQ(csys_csLeave(&slot), csysOk);
    EXPECT_EQ(csys_csLeave(&slot), csysErrOsCall);
    EXPECT_EQ(csys_csDelete(&slot), csysOk);
    EXPECT_EQ(csys_csDelete(&slot), csysOk);
    EXPECT_EQ(std::tuple(entered, slot), std::tuple(1, nullptr));
}

TEST(CsysSync, MissingRecordsSlotsAndOutputsAreRefusedAndClearTheirFlags)
{
    csys_event event = {};
    csys_mutex mutex = {};
    csys_criticalSection* slot = nullptr;
    int32_t flags[3] = {5, 5, 5};
    const csysStatus refused[] = {
        csys_eventWait(&event, 0, &flags[0]), csys_mutexLock(&mutex, &flags[1]), csys_csEnter(&slot, &flags[2]),
        csys_eventWait(nullptr, 0, nullptr), csys_eventSet(&event), csys_eventCreate(nullptr, 0, 0),
        csys_mutexCreate(nullptr, 0, nullptr), csys_mutexUnlock(nullptr), csys_mutexUnlock(&mutex),
        csys_handleClose(nullptr), csys_csEnter(nullptr, nullptr), csys_csLeave(&slot), csys_csDelete(nullptr),
        csys_csCreate(nullptr), csys_tlsAlloc(nullptr), csys_tlsGet(0, nullptr), csys_timeNow(nullptr),
        csys_timeZero(nullptr), csys_timeDiff(nullptr, 1, 2),
    };
    for (size_t i = 0; i < sizeof refused / sizeof refused[0]; ++i)
        EXPECT_EQ(refused[i], csysErrNullArg) << i;
    EXPECT_EQ(std::tuple(flags[0], flags[1], flags[2]), std::tuple(0, 0, 0));
}

TEST(CsysSleep, SecondsRoundToMillisecondsAtLeastOneForAPositiveDelayAndBadDelaysDoNotSleep)
{
    const struct { double seconds; csysStatus status; std::vector<uint32_t> slept; } cases[] = {
        {0.0001, csysOk, {1}}, {0.0, csysOk, {0}}, {0.0016, csysOk, {2}}, // rounded, not truncated
        {1.2344, csysOk, {1234}}, {std::numeric_limits<double>::denorm_min(), csysOk, {1}},
        {HUGE_VAL, csysOk, {plat::kInfiniteWait}}, {1e12, csysOk, {plat::kInfiniteWait - 1}},
        {4294967.2945, csysOk, {4294967294u}}, // just below the limit
        {-0.0001, csysErrNullArg, {}}, {-HUGE_VAL, csysErrNullArg, {}}, {std::nan(""), csysErrNullArg, {}},
    };
    test_clock::SleepRecorder recorder;
    for (const auto& c : cases) {
        recorder.clear();
        EXPECT_EQ(csys_sleep(c.seconds), c.status) << c.seconds;
        EXPECT_EQ(recorder.slept(), c.slept) << c.seconds;
    }
}

TEST(CsysTls, ValuesPassThroughAndAFreedKeyIsAnOsError)
{
    uint32_t key = 0;
    void* value = nullptr;
    ASSERT_EQ(csys_tlsAlloc(&key), csysOk);
    ASSERT_EQ(csys_tlsSet(key, &key), csysOk);
    ASSERT_EQ(csys_tlsGet(key, &value), csysOk);
    EXPECT_EQ(value, &key);
    ASSERT_EQ(csys_tlsFree(key), csysOk);
    // A freed key: order does not matter, each call fails alone.
    EXPECT_EQ(std::tuple(csys_tlsGet(key, &value), csys_tlsSet(key, nullptr), csys_tlsFree(key)),
              std::tuple(csysErrOsCall, csysErrOsCall, csysErrOsCall));
}

TEST(CsysTime, StampsComeFromTheCounterAndDifferencesWrap)
{
    test_clock::FakeClock clock(1234);
    csysTimeStamp now = 0, difference = -1, wrapped = 0, stamp = 77;
    EXPECT_EQ(std::tuple(csys_timeNow(&now), csys_timeDiff(&difference, 5, 8), csys_timeDiff(&wrapped, INT64_MIN, 1),
                         csys_timeZero(&stamp)),
              std::tuple(csysOk, csysOk, csysOk, csysOk));
    EXPECT_EQ(std::tuple(now, difference, wrapped, stamp), std::tuple(1234, -3, INT64_MAX, 0));
}

} // namespace
