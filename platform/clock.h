// Monotonic counter and sleep, with an injectable source so that timing code
// can be tested without waiting.
#pragma once
#include <cstdint>

namespace plat {

// A counter source returns ticks; its frequency is ticks per second.
using CounterSource = int64_t (*)();
using SleepFunction = void (*)(uint32_t milliseconds);

constexpr uint32_t kInfiniteWait = 0xFFFFFFFFu;

int64_t counterNow();
int64_t counterFrequency();

// Replaces the counter (and its frequency); a null source restores the
// system's monotonic clock in nanoseconds.
void setCounterSource(CounterSource source, int64_t frequency);

// Sleeps; kInfiniteWait sleeps without limit.
void sleepMilliseconds(uint32_t milliseconds);

// Replaces the sleeper; null restores the real one.
void setSleepFunction(SleepFunction sleeper);

} // namespace plat
