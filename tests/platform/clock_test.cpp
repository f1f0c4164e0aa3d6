#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/clock_testing.h"
#include "tests/support/fake_clock.h"

namespace {

TEST(PlatformClock, InjectedSourceReplacesAndRestores)
{
    {
        test_clock::FakeClock clock(42, 1000);
        EXPECT_EQ(plat::counterNow(), 42);
        EXPECT_EQ(plat::counterFrequency(), 1000);
        clock.setStep(3);
        EXPECT_EQ(plat::counterReading().ticks, 45);
        clock.setFrequency(0); // a bad frequency restores the system clock
        EXPECT_EQ(plat::counterFrequency(), 1000000000);
        clock.setFrequency(50);
        EXPECT_EQ(plat::counterFrequency(), 50);
    }
    EXPECT_GT(plat::counterNow(), 1000);
    EXPECT_EQ(plat::counterFrequency(), 1000000000);
}

int64_t slowCounter() { return 1; }
int64_t fastCounter() { return 2; }

TEST(PlatformClock, ReadingNeverPairsOneSourceWithTheOthersFrequency)
{
    // Each source's ticks times 1000 is its frequency, so a mixed pair shows.
    plat::setCounterSource(&slowCounter, 1000);
    std::atomic<int> swaps{0};
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        for (bool fast = true; !done.load(); fast = !fast) {
            plat::setCounterSource(fast ? &fastCounter : &slowCounter, fast ? 2000 : 1000);
            swaps.fetch_add(1);
        }
    });
    while (swaps.load() == 0)
        std::this_thread::yield();
    int mixed = 0;
    for (int i = 0; i < 100000; ++i) {
        plat::CounterReading r = plat::counterReading();
        if (r.frequency != r.ticks * 1000)
            ++mixed;
    }
    done = true;
    swapper.join();
    plat::setCounterSource(nullptr, 0);
    EXPECT_EQ(mixed, 0);
}

TEST(PlatformSleep, TheSleeperIsReplacedAndTheRealOneSleepsAtLeastItsTimeInNanosecondTicks)
{
    {
        test_clock::SleepRecorder recorder;
        plat::sleepMilliseconds(5000);
        EXPECT_EQ(recorder.slept(), std::vector<uint32_t>{5000});
    }
    const int64_t before = plat::counterNow();
    plat::sleepMilliseconds(1);
    EXPECT_GE(plat::counterNow() - before, 1000000);
    plat::sleepMilliseconds(0); // gives up the processor and returns
}

TEST(PlatformAtomic, OperationsReturnTheNewOrPreviousValue)
{
    int32_t word = INT32_MAX - 1;
    EXPECT_EQ(plat::atomicIncrement(&word), INT32_MAX);
    EXPECT_EQ(plat::atomicDecrement(&word), INT32_MAX - 1);
    EXPECT_EQ(plat::atomicExchange(&word, -7), INT32_MAX - 1);
    EXPECT_EQ(plat::atomicLoad(&word), -7);
}

} // namespace
