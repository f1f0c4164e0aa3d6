// Stopwatch, sleep and deadlines, in seconds as double (HUGE_VAL: no limit).
#pragma once
#include <cstdint>

#include "std/except/except.h"
#include "system/csys_status.h"

// The high-resolution counter, in counts of ccCounterFrequency per second.
int64_t ccCounterRead();
double ccCounterReadDouble();
int64_t ccCounterFrequency();

class ccStopwatch {
public:
    explicit ccStopwatch(bool startNow = false);

    void start();
    void stop();
    void reset();
    bool isRunning() const { return running_; }

    // Elapsed counts less the measuring overhead, never negative.
    int64_t elapsedCounts() const;
    double elapsedMs() const;

    // Re-reads the counter frequency and measures the start/stop overhead.
    static void calibrate();

private:
    int64_t accumulated_ = 0;
    bool running_ = false;
    int64_t lastStart_ = 0;
};

// Sleeps the given seconds (truncated to milliseconds); negative returns at
// once, HUGE_VAL sleeps without limit, other huge values are clamped.
void ccSleep(double seconds);

class ccTimeout {
public:
    enum State : int32_t { zero = 0, infinite = 1, timed = 2 };

    cmDeclareException(Expired, ccException, 0x10001500u, "class ccTimeout::Expired");
    cmDeclareException(InternalExpired, Expired, 0x10001501u, "class ccTimeout::InternalExpired");
    cmDeclareException(Cancel, Expired, 0x10001502u, "class ccTimeout::Cancel");

    explicit ccTimeout(double seconds);

    // Seconds left: HUGE_VAL when infinite; 0 once passed. A zero time-out
    // answers 0 and records that it was observed.
    double remaining();
    // Whether a timed deadline has passed; zero and infinite never expire,
    // so waiting loops test remaining() == 0.
    bool expired();

    State state() const { return state_; }
    bool expiredFlag() const { return expiredFlag_; }

private:
    bool expiredFlag_ = false;
    State state_;
    double start_ = 0;
    double duration_ = 0;
};

// Thrower of facility 3 (time-outs).
void ccTimeoutStatusThrower(csysStatus status);
