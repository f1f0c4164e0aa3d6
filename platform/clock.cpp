#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace plat {
namespace {

int64_t systemCounter()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void systemSleep(uint32_t milliseconds)
{
    if (milliseconds == kInfiniteWait) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(24));
    }
    if (milliseconds == 0) {
        // A zero sleep gives up the processor; sleep_for(0) would return at once.
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::atomic<CounterSource> gCounter{&systemCounter};
std::atomic<int64_t> gFrequency{1000000000};
std::atomic<SleepFunction> gSleeper{&systemSleep};

} // namespace

int64_t counterNow() { return gCounter.load()(); }

int64_t counterFrequency() { return gFrequency.load(); }

void setCounterSource(CounterSource source, int64_t frequency)
{
    if (source == nullptr || frequency <= 0) {
        gFrequency = 1000000000;
        gCounter = &systemCounter;
        return;
    }
    gFrequency = frequency;
    gCounter = source;
}

void sleepMilliseconds(uint32_t milliseconds) { gSleeper.load()(milliseconds); }

void setSleepFunction(SleepFunction sleeper)
{
    gSleeper = sleeper ? sleeper : &systemSleep;
}

} // namespace plat
