// The system layer's wrappers: statuses, flags and units over the platform's
// objects, whose semantics tests/platform covers.
#include "system/csys_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "tests/support/fake_clock.h"

namespace {

TEST(CsysOnce, ManyThreadsRacingRunTheFunctionOnce)
{
    static std::atomic<int> runs;
    runs = 0;
    int32_t flag = 0;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back(
            [&] { failures += csys_once([](void*) { return ++runs, csysOk; }, nullptr, &flag) != csysOk; });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(std::tuple(runs.load(), failures.load(), flag), std::tuple(1, 0, 1));
}

csysStatus failFirstTime(void* calls) { return ++*static_cast<int*>(calls) == 1 ? csysErrNoMemory : 3; }

TEST(CsysOnce, AFailureLeavesTheFlagClearAndAOnceFunctionMayInitialiseAnotherFlag)
{
    int32_t flag = 0;
    int calls = 0;
    EXPECT_EQ((std::tuple{csys_once(&failFirstTime, &calls, &flag), flag}), std::tuple(csysErrNoMemory, 0));
    // A positive result counts as success; the unlock's status is returned.
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysOk);
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysOk);
    EXPECT_EQ(std::tuple(flag, calls), std::tuple(1, 2));
    static int32_t innerFlag = 0;
    int32_t outerFlag = 0;
    auto initialiseInner = [](void*) { return csys_once([](void*) { return csysOk; }, nullptr, &innerFlag); };
    EXPECT_EQ(csys_once(initialiseInner, nullptr, &outerFlag), csysOk);
    EXPECT_EQ(std::tuple(outerFlag, innerFlag), std::tuple(1, 1));
    EXPECT_EQ(csys_once(nullptr, nullptr, &flag), csysErrNullArg);
}

// Acquisitions report in their flag, which a missing record clears; a
// release not held is an OS error.
TEST(CsysSync, FlagsReportAcquisitionsAndAReleaseNotHeldIsAnOsError)
{
    csys_event event = {};
    csys_mutex mutex = {};
    csys_criticalSection* slot = nullptr;
    int32_t flags[3] = {5, 5, 5};
    EXPECT_EQ((std::tuple{csys_eventWait(&event, 0, &flags[0]), csys_mutexLock(&mutex, &flags[1]),
                          csys_csEnter(&slot, &flags[2]), flags[0], flags[1], flags[2]}),
              std::tuple(csysErrNullArg, csysErrNullArg, csysErrNullArg, 0, 0, 0));
    ASSERT_EQ(csys_csCreate(&slot), csysOk);
    ASSERT_EQ(csys_csEnter(&slot, &flags[2]), csysOk);
    EXPECT_EQ(csys_csLeave(&slot), csysOk);
    EXPECT_EQ(csys_csLeave(&slot), csysErrOsCall);
    EXPECT_EQ(csys_csDelete(&slot), csysOk);
    EXPECT_EQ(std::tuple(flags[2], slot), std::tuple(1, nullptr));
    // A wait reports the signal; a mutex abandoned by an ended thread reads as acquired.
    ASSERT_EQ(csys_eventCreate(&event, 0, 0), csysOk);
    EXPECT_EQ(csys_eventWait(&event, 0, &flags[0]), csysOk);
    ASSERT_EQ(csys_eventSet(&event), csysOk);
    EXPECT_EQ(csys_eventWait(&event, csysWaitForever, &flags[1]), csysOk);
    EXPECT_EQ(std::tuple(flags[0], flags[1], csys_handleClose(&event.handle)), std::tuple(0, 1, csysOk));
    ASSERT_EQ(csys_mutexCreate(&mutex, 1, &flags[0]), csysOk); // initially owned
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    std::thread([&] { EXPECT_EQ(csys_mutexLock(&mutex, nullptr), csysOk); }).join();
    EXPECT_EQ(csys_mutexLock(&mutex, &flags[1]), csysOk);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysErrOsCall);
    EXPECT_EQ(std::tuple(flags[0], flags[1], csys_handleClose(&mutex.handle)), std::tuple(1, 1, csysOk));
}

TEST(CsysSleep, SecondsRoundToMillisecondsAtLeastOneForAPositiveDelayAndBadDelaysDoNotSleep)
{
    const struct { double seconds; csysStatus status; std::vector<uint32_t> slept; } cases[] = {
        {0.0001, csysOk, {1}}, {0.0, csysOk, {0}}, {0.0016, csysOk, {2}}, // rounded, not truncated
        {HUGE_VAL, csysOk, {plat::kInfiniteWait}}, {1e12, csysOk, {plat::kInfiniteWait - 1}},
        {4294967.2945, csysOk, {4294967294u}}, // just below the limit
        {-0.0001, csysErrNullArg, {}}, {std::nan(""), csysErrNullArg, {}},
    };
    test_clock::SleepRecorder recorder;
    for (const auto& c : cases) {
        recorder.clear();
        EXPECT_EQ((std::tuple{csys_sleep(c.seconds), recorder.slept()}), std::tuple(c.status, c.slept)) << c.seconds;
    }
}

TEST(CsysTls, ValuesPassThroughAndAFreedKeyIsAnOsError)
{
    uint32_t key = 0;
    void* value = nullptr;
    ASSERT_EQ(csys_tlsAlloc(&key), csysOk);
    ASSERT_EQ(csys_tlsSet(key, &key), csysOk);
    ASSERT_EQ(csys_tlsGet(key, &value), csysOk);
    ASSERT_EQ(csys_tlsFree(key), csysOk);
    EXPECT_EQ(value, &key);
    EXPECT_EQ(csys_tlsGet(key, &value), csysErrOsCall);
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
