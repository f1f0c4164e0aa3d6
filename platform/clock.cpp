#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/clock_testing.h"

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

// A source and its frequency, never changed once published, so that one
// pointer load gives a matching pair.
struct Counter {
    CounterSource source;
    int64_t frequency;
    const Counter* next;
};

const Counter kSystemCounter{&systemCounter, 1000000000, nullptr};
std::atomic<const Counter*> gCounter{&kSystemCounter};
std::atomic<SleepFunction> gSleeper{&systemSleep};

std::mutex& installLock()
{
    static auto* lock = new std::mutex; // never destroyed: late callers at exit
    return *lock;
}
const Counter* gInstalled = nullptr; // under installLock

// Pairs live as long as the process, since a reader may still hold the one
// being replaced; each distinct pair is made once, so swapping back and
// forth does not grow the list.
const Counter* installed(CounterSource source, int64_t frequency)
{
    for (const Counter* c = gInstalled; c; c = c->next) {
        if (c->source == source && c->frequency == frequency)
            return c;
    }
    gInstalled = new Counter{source, frequency, gInstalled};
    return gInstalled;
}

} // namespace

int64_t counterNow() { return gCounter.load(std::memory_order_acquire)->source(); }

int64_t counterFrequency() { return gCounter.load(std::memory_order_acquire)->frequency; }

CounterReading counterReading()
{
    const Counter* c = gCounter.load(std::memory_order_acquire);
    return CounterReading{c->source(), c->frequency};
}

void setCounterSource(CounterSource source, int64_t frequency)
{
    if (source == nullptr || frequency <= 0) {
        gCounter.store(&kSystemCounter, std::memory_order_release);
        return;
    }
    std::lock_guard<std::mutex> hold(installLock());
    gCounter.store(installed(source, frequency), std::memory_order_release);
}

void sleepMilliseconds(uint32_t milliseconds) { gSleeper.load()(milliseconds); }

void setSleepFunction(SleepFunction sleeper)
{
    gSleeper = sleeper ? sleeper : &systemSleep;
}

} // namespace plat
