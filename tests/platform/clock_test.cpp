#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/atomic.h"
#include "platform/clock.h"
#include "platform/clock_testing.h"

namespace {

int64_t fixedCounter() { return 42; }

TEST(PlatformClock, SystemCounterIsMonotonicInNanoseconds)
{
    EXPECT_EQ(plat::counterFrequency(), 1000000000);
    int64_t previous = plat::counterNow();
    for (int i = 0; i < 1000; ++i) {
        int64_t now = plat::counterNow();
        EXPECT_GE(now, previous);
        previous = now;
    }
}

TEST(PlatformClock, InjectedSourceReplacesAndRestores)
{
    plat::setCounterSource(&fixedCounter, 1000);
    EXPECT_EQ(plat::counterNow(), 42);
    EXPECT_EQ(plat::counterFrequency(), 1000);
    plat::setCounterSource(&fixedCounter, 0); // a bad frequency restores the system clock
    EXPECT_NE(plat::counterNow(), 42);
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

TEST(PlatformAtomic, OperationsReturnTheNewOrPreviousValue)
{
    int32_t word = INT32_MAX - 1;
    EXPECT_EQ(plat::atomicIncrement(&word), INT32_MAX);
    EXPECT_EQ(plat::atomicDecrement(&word), INT32_MAX - 1);
    EXPECT_EQ(plat::atomicExchange(&word, -7), INT32_MAX - 1);
    EXPECT_EQ(plat::atomicLoad(&word), -7);
}

} // namespace
