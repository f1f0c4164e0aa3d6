// Monotonic counter and sleep.
#pragma once
#include <cstdint>

namespace plat {

constexpr uint32_t kInfiniteWait = 0xFFFFFFFFu;

// Ticks and ticks per second, taken from the same source.
struct CounterReading {
    int64_t ticks;
    int64_t frequency;
};

int64_t counterNow();
int64_t counterFrequency();

// Use where ticks are turned into time: separate calls to the two above may
// straddle a change of source.
CounterReading counterReading();

// Sleeps; kInfiniteWait sleeps without limit.
void sleepMilliseconds(uint32_t milliseconds);

} // namespace plat
