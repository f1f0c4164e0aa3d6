#include <gtest/gtest.h>

#include "platform/atomic.h"
#include "platform/clock.h"

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

TEST(PlatformAtomic, OperationsReturnTheNewOrPreviousValue)
{
    int32_t word = INT32_MAX - 1;
    EXPECT_EQ(plat::atomicIncrement(&word), INT32_MAX);
    EXPECT_EQ(plat::atomicDecrement(&word), INT32_MAX - 1);
    EXPECT_EQ(plat::atomicExchange(&word, -7), INT32_MAX - 1);
    EXPECT_EQ(plat::atomicLoad(&word), -7);
}

} // namespace
