#include "std/timeout.h"

#include <atomic>
#include <cmath>
#include <mutex>

#include "platform/clock.h"

namespace {

std::atomic<int64_t> gFrequency{0};
std::atomic<int64_t> gOverhead{0};
std::once_flag gCounterOnce;

void ensureCounter()
{
    std::call_once(gCounterOnce, [] { ccStopwatch::calibrate(); });
}

double timeoutFrequency()
{
    ensureCounter();
    return static_cast<double>(static_cast<uint32_t>(gFrequency.load()));
}

} // namespace

int64_t ccCounterRead() { return plat::counterNow(); }

double ccCounterReadDouble() { return static_cast<double>(plat::counterNow()); }

int64_t ccCounterFrequency()
{
    ensureCounter();
    return gFrequency.load();
}

void ccStopwatch::calibrate()
{
    gFrequency = plat::counterFrequency();
    // The cheapest start/stop pair seen; later readings subtract it.
    int64_t smallest = 999999;
    for (int i = 0; i < 200; ++i) {
        const int64_t started = ccCounterRead();
        const int64_t stopped = ccCounterRead();
        if (stopped - started < smallest)
            smallest = stopped - started;
    }
    gOverhead = smallest;
}

ccStopwatch::ccStopwatch(bool startNow)
{
    ensureCounter();
    if (startNow)
        start();
}

void ccStopwatch::start()
{
    if (running_)
        return;
    lastStart_ = ccCounterRead();
    running_ = true;
}

void ccStopwatch::stop()
{
    if (!running_)
        return;
    accumulated_ += ccCounterRead() - lastStart_;
    running_ = false;
}

void ccStopwatch::reset()
{
    accumulated_ = 0;
    if (running_)
        lastStart_ = ccCounterRead();
}

int64_t ccStopwatch::elapsedCounts() const
{
    int64_t counts = running_ ? accumulated_ + (ccCounterRead() - lastStart_) : accumulated_;
    counts -= gOverhead.load();
    return counts < 0 ? 0 : counts;
}

double ccStopwatch::elapsedMs() const
{
    int64_t f = ccCounterFrequency();
    return f > 0 ? static_cast<double>(elapsedCounts()) * 1000.0 / static_cast<double>(f) : 0.0;
}

void ccSleep(double seconds)
{
    if (!(seconds >= 0)) // negative or NaN
        return;
    if (seconds == HUGE_VAL) {
        plat::sleepMilliseconds(plat::kInfiniteWait);
        return;
    }
    const double ms = seconds * 1000.0;
    const double longest = static_cast<double>(plat::kInfiniteWait - 1);
    plat::sleepMilliseconds(ms >= longest ? plat::kInfiniteWait - 1 : static_cast<uint32_t>(ms));
}

ccTimeout::ccTimeout(double seconds)
{
    if (seconds == HUGE_VAL) {
        state_ = infinite;
    } else if (!(seconds > 0)) { // zero, negative or NaN
        state_ = zero;
    } else {
        state_ = timed;
        start_ = ccCounterReadDouble();
        duration_ = timeoutFrequency() * seconds;
    }
}

double ccTimeout::remaining()
{
    switch (state_) {
    case infinite:
        return HUGE_VAL;
    case zero:
        expiredFlag_ = true;
        return 0;
    case timed:
    default: {
        double left = duration_ - (ccCounterReadDouble() - start_);
        if (left <= 0)
            return 0;
        return left / timeoutFrequency();
    }
    }
}

bool ccTimeout::expired()
{
    if (state_ != timed)
        return false;
    if (ccCounterReadDouble() - start_ < duration_)
        return false;
    expiredFlag_ = true;
    return true;
}

void ccTimeoutStatusThrower(csysStatus status)
{
    switch (static_cast<uint32_t>(status)) {
    case 0x80000061u:
        throw ccTimeout::Expired();
    case 0x80000062u:
        throw ccTimeout::Cancel();
    case 0x80000064u:
        throw ccTimeout::InternalExpired();
    default:
        return;
    }
}
