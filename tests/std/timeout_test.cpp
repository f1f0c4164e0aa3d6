#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "platform/clock.h"
#include "std/timeout.h"
#include "tests/support/fake_clock.h"

namespace {

// Runs each test on a counter that only moves when told: 1000 counts a second.
class FakeClockTest : public ::testing::Test {
protected:
    void SetUp() override { ccStopwatch::calibrate(); }
    // The real counter back before calibrating for the tests that follow.
    void TearDown() override { plat::setCounterSource(nullptr, 0), ccStopwatch::calibrate(); }
    const int64_t realFrequency_ = ccCounterFrequency(); // the one-time calibration must not happen mid-test
    test_clock::FakeClock clock{1000000, 1000};
    test_clock::SleepRecorder sleeps;
};

TEST_F(FakeClockTest, StopwatchAccumulatesOnlyWhileRunningAndResetRestarts)
{
    ccStopwatch sw(true);
    ccStopwatch stopped(false);
    clock.advance(250);
    sw.stop();
    clock.advance(1000);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 250.0);
    sw.start();
    sw.start(); // a second start keeps the first start reading
    clock.advance(50);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 300.0);

    sw.reset(); // while running: restarts and keeps running; while stopped, stays stopped
    stopped.reset();
    EXPECT_EQ(std::tuple(sw.isRunning(), sw.elapsedMs(), stopped.isRunning()), std::tuple(true, 0.0, false));
    clock.advance(30);
    EXPECT_EQ(std::pair(sw.elapsedMs(), stopped.elapsedMs()), std::pair(30.0, 0.0));
}

// A counter that advances at every read gives a measurable start/stop
// overhead, which readings subtract but never below zero.
TEST_F(FakeClockTest, OverheadIsSubtractedAndNeverGoesNegative)
{
    clock.setStep(5);
    ccStopwatch::calibrate(); // overhead: 5 counts
    clock.setStep(1);
    ccStopwatch sw(true);
    EXPECT_EQ(sw.elapsedCounts(), 0); // 1 count read, less 5, clamped
    clock.setStep(0);
    clock.advance(100);
    EXPECT_EQ(sw.elapsedCounts(), 1 + 100 - 5);
}

TEST_F(FakeClockTest, SleepConvertsSecondsToMilliseconds)
{
    for (double s : {-1.0, std::nan(""), 0.0, 0.0019, 2.5, HUGE_VAL, 1e300})
        ccSleep(s);
    // Negative and NaN do not sleep; fractions are truncated toward zero;
    // huge values other than HUGE_VAL are clamped, not unlimited.
    EXPECT_EQ(sleeps.slept(), (std::vector<uint32_t>{0, 1, 2500, plat::kInfiniteWait, plat::kInfiniteWait - 1}));
}

// Infinite, zero, negative and NaN time-outs never expire; the others answer
// 0 left and remaining() records that it observed them.
TEST_F(FakeClockTest, UntimedTimeoutsNeverExpire)
{
    const struct { double seconds; ccTimeout::State state; double remaining; } cases[] = {
        {HUGE_VAL, ccTimeout::infinite, HUGE_VAL}, {0.0, ccTimeout::zero, 0.0}, {-2.0, ccTimeout::zero, 0.0},
        {std::nan(""), ccTimeout::zero, 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        ccTimeout t(c.seconds);
        EXPECT_EQ((std::tuple{t.state(), t.expired(), t.expiredFlag()}), std::tuple(c.state, false, false));
        clock.advance(int64_t(1) << 40);
        EXPECT_EQ(t.remaining(), c.remaining);
        EXPECT_EQ((std::pair{t.expiredFlag(), t.expired()}), std::pair(c.state == ccTimeout::zero, false));
    }
}

TEST_F(FakeClockTest, TimedDeadlineFallsToZeroAndExpiresAtTheDuration)
{
    ccTimeout t(0.5);
    EXPECT_EQ(t.state(), ccTimeout::timed);
    clock.advance(200);
    EXPECT_DOUBLE_EQ(t.remaining(), 0.3);
    clock.advance(299);
    EXPECT_FALSE(t.expired()); // one count before
    clock.advance(1);
    // remaining() does not set the flag for a timed deadline; expired() does.
    EXPECT_EQ((std::pair{t.remaining(), t.expiredFlag()}), std::pair(0.0, false));
    EXPECT_EQ((std::pair{t.expired(), t.expiredFlag()}), std::pair(true, true));
    clock.advance(10000);
    EXPECT_EQ((std::pair{t.remaining(), t.expired()}), std::pair(0.0, true));
}

} // namespace
