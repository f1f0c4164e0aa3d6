#include "system/csys_sync.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/clock_testing.h"

namespace {

TEST(CsysOnce, ManyThreadsRacingRunTheFunctionOnce)
{
    static std::atomic<int> runs{0};
    static int32_t flag = 0;
    std::atomic<bool> go{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            csysStatus status = csys_once(
                [](void*) -> csysStatus {
                    ++runs;
                    return csysOk;
                },
                nullptr, &flag);
            if (status != csysOk)
                ++failures;
        });
    }
    go = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(flag, 1);
}

csysStatus failFirstTime(void* calls)
{
    int& count = *static_cast<int*>(calls);
    return ++count == 1 ? csysErrNoMemory : 3;
}

TEST(CsysOnce, AFailureLeavesTheFlagClearSoTheNextCallRetries)
{
    int32_t flag = 0;
    int calls = 0;
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysErrNoMemory);
    EXPECT_EQ(flag, 0);
    // A positive result counts as success; the unlock's status is returned.
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysOk);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(csys_once(&failFirstTime, &calls, &flag), csysOk);
    EXPECT_EQ(calls, 2);
}

struct Nested {
    int32_t outerFlag = 0;
    int32_t innerFlag = 0;
    int innerRuns = 0;
};

TEST(CsysOnce, AOnceFunctionMayInitialiseAnotherFlag)
{
    Nested nested;
    csysStatus status = csys_once(
        [](void* argument) -> csysStatus {
            auto* n = static_cast<Nested*>(argument);
            return csys_once(
                [](void* inner) -> csysStatus {
                    ++static_cast<Nested*>(inner)->innerRuns;
                    return csysOk;
                },
                n, &n->innerFlag);
        },
        &nested, &nested.outerFlag);
    EXPECT_EQ(status, csysOk);
    EXPECT_EQ(nested.outerFlag, 1);
    EXPECT_EQ(nested.innerFlag, 1);
    EXPECT_EQ(nested.innerRuns, 1);
}

TEST(CsysOnce, NullArgumentsAreRefused)
{
    int32_t flag = 0;
    EXPECT_EQ(csys_once(nullptr, nullptr, &flag), csysErrNullArg);
    EXPECT_EQ(csys_once([](void*) -> csysStatus { return csysOk; }, nullptr, nullptr), csysErrNullArg);
}

TEST(CsysEvent, WaitWithTimeOutZeroOnAnUnsignalledEventReturnsWithTheFlagClear)
{
    csys_event event = {};
    ASSERT_EQ(csys_eventCreate(&event, 0, 0), csysOk);
    EXPECT_EQ(event.valid, 1);
    int32_t signalled = 7;
    EXPECT_EQ(csys_eventWait(&event, 0, &signalled), csysOk);
    EXPECT_EQ(signalled, 0);

    ASSERT_EQ(csys_eventSet(&event), csysOk);
    EXPECT_EQ(csys_eventWait(&event, 0, &signalled), csysOk);
    EXPECT_EQ(signalled, 1);
    // Auto-reset: the wait took it.
    EXPECT_EQ(csys_eventWait(&event, 0, &signalled), csysOk);
    EXPECT_EQ(signalled, 0);
    EXPECT_EQ(csys_handleClose(&event.handle), csysOk);
    EXPECT_EQ(event.handle, nullptr);
    EXPECT_EQ(csys_handleClose(&event.handle), csysOk);
}

TEST(CsysEvent, ManualResetStaysSetAndTheLongestWaitIsWithoutLimit)
{
    csys_event event = {};
    ASSERT_EQ(csys_eventCreate(&event, 1, 0), csysOk);
    std::thread setter([&] { EXPECT_EQ(csys_eventSet(&event), csysOk); });
    int32_t signalled = 0;
    EXPECT_EQ(csys_eventWait(&event, csysWaitForever, &signalled), csysOk);
    EXPECT_EQ(signalled, 1);
    setter.join();
    EXPECT_EQ(csys_eventWait(&event, 0, &signalled), csysOk);
    EXPECT_EQ(signalled, 1);
    EXPECT_EQ(csys_handleClose(&event.handle), csysOk);
}

TEST(CsysEvent, RecordsWithoutAHandleAreRefused)
{
    csys_event empty = {};
    int32_t signalled = 5;
    EXPECT_EQ(csys_eventWait(&empty, 0, &signalled), csysErrNullArg);
    EXPECT_EQ(signalled, 0);
    EXPECT_EQ(csys_eventWait(nullptr, 0, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_eventSet(&empty), csysErrNullArg);
    EXPECT_EQ(csys_eventCreate(nullptr, 0, 0), csysErrNullArg);
    EXPECT_EQ(csys_handleClose(nullptr), csysErrNullArg);
}

TEST(CsysMutex, OwnedAtCreationRecursiveAndRefusedToOtherThreads)
{
    csys_mutex mutex = {};
    int32_t owned = 0;
    ASSERT_EQ(csys_mutexCreate(&mutex, 1, &owned), csysOk);
    EXPECT_EQ(owned, 1);
    EXPECT_EQ(mutex.valid, 1);
    int32_t acquired = 0;
    EXPECT_EQ(csys_mutexLock(&mutex, &acquired), csysOk);
    EXPECT_EQ(acquired, 1);
    std::thread other([&] { EXPECT_EQ(csys_mutexUnlock(&mutex), csysErrOsCall); });
    other.join();
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysErrOsCall);

    csys_mutex empty = {};
    acquired = 3;
    EXPECT_EQ(csys_mutexLock(&empty, &acquired), csysErrNullArg);
    EXPECT_EQ(acquired, 0);
    EXPECT_EQ(csys_mutexUnlock(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_handleClose(&mutex.handle), csysOk);
}

TEST(CsysMutex, AnAbandonedMutexCountsAsAcquired)
{
    csys_mutex mutex = {};
    ASSERT_EQ(csys_mutexCreate(&mutex, 0, nullptr), csysOk);
    std::thread owner([&] { EXPECT_EQ(csys_mutexLock(&mutex, nullptr), csysOk); });
    owner.join();
    int32_t acquired = 0;
    EXPECT_EQ(csys_mutexLock(&mutex, &acquired), csysOk);
    EXPECT_EQ(acquired, 1);
    EXPECT_EQ(csys_mutexUnlock(&mutex), csysOk);
    EXPECT_EQ(csys_handleClose(&mutex.handle), csysOk);
}

TEST(CsysCriticalSection, EnterOnAnEmptySlotClearsTheFlag)
{
    csys_criticalSection* slot = nullptr;
    int32_t entered = 9;
    EXPECT_EQ(csys_csEnter(&slot, &entered), csysErrNullArg);
    EXPECT_EQ(entered, 0);
    EXPECT_EQ(csys_csEnter(nullptr, &entered), csysErrNullArg);
    EXPECT_EQ(csys_csLeave(&slot), csysErrNullArg);
    EXPECT_EQ(csys_csDelete(&slot), csysOk);
    EXPECT_EQ(csys_csDelete(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_csCreate(nullptr), csysErrNullArg);
}

TEST(CsysCriticalSection, GuardsASharedCounterAndRefusesAStrangersLeave)
{
    csys_criticalSection* slot = nullptr;
    ASSERT_EQ(csys_csCreate(&slot), csysOk);
    ASSERT_NE(slot, nullptr);
    int32_t entered = 0;
    ASSERT_EQ(csys_csEnter(&slot, &entered), csysOk);
    EXPECT_EQ(entered, 1);
    std::thread stranger([&] { EXPECT_EQ(csys_csLeave(&slot), csysErrOsCall); });
    stranger.join();
    EXPECT_EQ(csys_csLeave(&slot), csysOk);

    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) {
                EXPECT_EQ(csys_csEnter(&slot, nullptr), csysOk);
                EXPECT_EQ(csys_csEnter(&slot, nullptr), csysOk);
                ++counter;
                EXPECT_EQ(csys_csLeave(&slot), csysOk);
                EXPECT_EQ(csys_csLeave(&slot), csysOk);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(counter, 2000);
    EXPECT_EQ(csys_csDelete(&slot), csysOk);
    EXPECT_EQ(slot, nullptr);
}

// The sleeper records what it was asked for instead of sleeping.
std::vector<uint32_t> gSlept;
void recordSleep(uint32_t milliseconds) { gSlept.push_back(milliseconds); }

struct SleepRecorder : ::testing::Test {
    void SetUp() override
    {
        gSlept.clear();
        plat::setSleepFunction(&recordSleep);
    }
    void TearDown() override { plat::setSleepFunction(nullptr); }
};

TEST_F(SleepRecorder, SecondsRoundToMillisecondsWithAtLeastOneForAPositiveDelay)
{
    EXPECT_EQ(csys_sleep(0.0001), csysOk);
    EXPECT_EQ(csys_sleep(0.0004), csysOk);
    EXPECT_EQ(csys_sleep(0.0005), csysOk);
    EXPECT_EQ(csys_sleep(0.0), csysOk);
    EXPECT_EQ(csys_sleep(1.2344), csysOk);
    EXPECT_EQ(csys_sleep(std::numeric_limits<double>::denorm_min()), csysOk);
    EXPECT_EQ(gSlept, (std::vector<uint32_t>{1, 1, 1, 0, 1234, 1}));
}

TEST_F(SleepRecorder, InfinitySleepsWithoutLimitAndHugeDelaysAreClamped)
{
    EXPECT_EQ(csys_sleep(HUGE_VAL), csysOk);
    EXPECT_EQ(csys_sleep(1e12), csysOk);
    EXPECT_EQ(csys_sleep(4294967.2945), csysOk); // just below the limit
    EXPECT_EQ(gSlept, (std::vector<uint32_t>{plat::kInfiniteWait, plat::kInfiniteWait - 1, 4294967294u}));
}

TEST_F(SleepRecorder, NegativeAndNotANumberAreRefusedWithoutSleeping)
{
    EXPECT_EQ(csys_sleep(-1.0), csysErrNullArg);
    EXPECT_EQ(csys_sleep(-0.0001), csysErrNullArg);
    EXPECT_EQ(csys_sleep(-HUGE_VAL), csysErrNullArg);
    EXPECT_EQ(csys_sleep(std::nan("")), csysErrNullArg);
    EXPECT_TRUE(gSlept.empty());
}

TEST(CsysSleep, ATenthOfAMillisecondSleepsAtLeastOneMillisecond)
{
    auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(csys_sleep(0.0001), csysOk);
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1));
    EXPECT_EQ(csys_sleep(0), csysOk);
}

TEST(CsysTls, ValuesArePerThreadAndAFreedKeyFails)
{
    uint32_t key = 0;
    ASSERT_EQ(csys_tlsAlloc(&key), csysOk);
    void* value = &key;
    ASSERT_EQ(csys_tlsGet(key, &value), csysOk);
    EXPECT_EQ(value, nullptr);
    ASSERT_EQ(csys_tlsSet(key, &key), csysOk);
    std::thread other([&] {
        void* seen = &key;
        EXPECT_EQ(csys_tlsGet(key, &seen), csysOk);
        EXPECT_EQ(seen, nullptr);
    });
    other.join();
    ASSERT_EQ(csys_tlsGet(key, &value), csysOk);
    EXPECT_EQ(value, &key);
    EXPECT_EQ(csys_tlsGet(key, nullptr), csysErrNullArg);
    EXPECT_EQ(csys_tlsAlloc(nullptr), csysErrNullArg);

    ASSERT_EQ(csys_tlsFree(key), csysOk);
    EXPECT_EQ(csys_tlsGet(key, &value), csysErrOsCall);
    EXPECT_EQ(csys_tlsSet(key, nullptr), csysErrOsCall);
    EXPECT_EQ(csys_tlsFree(key), csysErrOsCall);
}

int64_t gTicks = 0;
int64_t fakeCounter() { return gTicks; }

TEST(CsysTime, StampsComeFromTheCounterAndDifferencesWrap)
{
    plat::setCounterSource(&fakeCounter, 1000);
    gTicks = 1234;
    csysTimeStamp now = 0;
    EXPECT_EQ(csys_timeNow(&now), csysOk);
    EXPECT_EQ(now, 1234);
    plat::setCounterSource(nullptr, 0);

    csysTimeStamp a = 0, b = 0;
    ASSERT_EQ(csys_timeNow(&a), csysOk);
    ASSERT_EQ(csys_timeNow(&b), csysOk);
    csysTimeStamp difference = -1;
    EXPECT_EQ(csys_timeDiff(&difference, b, a), csysOk);
    EXPECT_GE(difference, 0);

    EXPECT_EQ(csys_timeDiff(&difference, 5, 8), csysOk);
    EXPECT_EQ(difference, -3);
    EXPECT_EQ(csys_timeDiff(&difference, INT64_MIN, 1), csysOk);
    EXPECT_EQ(difference, INT64_MAX);
    csysTimeStamp stamp = 77;
    EXPECT_EQ(csys_timeZero(&stamp), csysOk);
    EXPECT_EQ(stamp, 0);
    EXPECT_EQ(csys_timeNow(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_timeZero(nullptr), csysErrNullArg);
    EXPECT_EQ(csys_timeDiff(nullptr, 1, 2), csysErrNullArg);
}

} // namespace
