#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/clock_testing.h"
#include "tests/support/fake_clock.h" // SleepRecorder

namespace {

int64_t slowCounter() { return 1; }
int64_t fastCounter() { return 2; }

TEST(PlatformClock, ReadingNeverPairsOneSourceWithTheOthersFrequency)
{
    // Each source's ticks times 1000 is its frequency, so a mixed pair shows.
    plat::setCounterSource(&slowCounter, 1000);
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        for (bool fast = true; !done.load(); fast = !fast)
            plat::setCounterSource(fast ? &fastCounter : &slowCounter, fast ? 2000 : 1000);
    });
    int mixed = 0, fast = 0; // reads go on until the swaps have been seen
    for (int i = 0; i < 100000 || fast == 0; ++i) {
        const plat::CounterReading r = plat::counterReading();
        mixed += r.frequency != r.ticks * 1000;
        fast += r.frequency == 2000;
    }
    done = true;
    swapper.join();
    EXPECT_EQ(mixed, 0);
    plat::setCounterSource(&slowCounter, 0); // a bad frequency restores the system clock
    EXPECT_EQ(plat::counterFrequency(), 1000000000);
    EXPECT_GT(plat::counterNow(), 1000);
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

} // namespace
