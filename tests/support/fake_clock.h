// A counter that moves only when told, and a sleeper that records instead of
// sleeping, installed through the platform's clock seam for their lifetime.
// The seam takes plain functions, so the state is shared: one of each at a time.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock_testing.h"

namespace test_clock {

class FakeClock {
public:
    explicit FakeClock(int64_t ticks = 0, int64_t frequency = 1000)
    {
        ticks_ = ticks;
        step_ = 0;
        setFrequency(frequency);
    }
    ~FakeClock() { plat::setCounterSource(nullptr, 0); } // back to the system clock
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;

    void set(int64_t ticks) { ticks_ = ticks; }
    void advance(int64_t ticks) { ticks_ += ticks; }
    int64_t ticks() const { return ticks_; }
    // Ticks per second; a frequency below 1 restores the system clock.
    void setFrequency(int64_t frequency) { plat::setCounterSource(&read, frequency); }
    // Every read first advances by step, as if reading took that long.
    void setStep(int64_t step) { step_ = step; }

private:
    static int64_t read() { return ticks_.fetch_add(step_) + step_; }
    static inline std::atomic<int64_t> ticks_{0};
    static inline std::atomic<int64_t> step_{0};
};

class SleepRecorder {
public:
    SleepRecorder()
    {
        clear();
        plat::setSleepFunction(&record);
    }
    ~SleepRecorder() { plat::setSleepFunction(nullptr); } // back to real sleeps
    SleepRecorder(const SleepRecorder&) = delete;
    SleepRecorder& operator=(const SleepRecorder&) = delete;

    // The milliseconds asked for, in order.
    std::vector<uint32_t> slept() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return slept_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> hold(lock_);
        slept_.clear();
    }

private:
    static void record(uint32_t milliseconds)
    {
        std::lock_guard<std::mutex> hold(lock_);
        slept_.push_back(milliseconds);
    }
    static inline std::mutex lock_;
    static inline std::vector<uint32_t> slept_;
};

} // namespace test_clock
