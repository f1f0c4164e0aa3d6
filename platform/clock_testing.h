// Test seam, not for callers: replaces the counter and the sleeper so that
// timing code can be tested without waiting.
#pragma once
#include <cstdint>

namespace plat {

// A counter source returns ticks; its frequency is ticks per second.
using CounterSource = int64_t (*)();
using SleepFunction = void (*)(uint32_t milliseconds);

// Replaces the counter and its frequency as one; a null source or a
// frequency below 1 restores the system's monotonic clock in nanoseconds.
void setCounterSource(CounterSource source, int64_t frequency);

// Replaces the sleeper; null restores the real one.
void setSleepFunction(SleepFunction sleeper);

} // namespace plat
