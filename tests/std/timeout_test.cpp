#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/clock.h"
#include "std/timeout.h"
#include "tests/support/fake_clock.h"

namespace {

// Runs each test on a counter that only moves when told: 1000 counts a second.
class FakeClockTest : public ::testing::Test {
protected:
    void SetUp() override { ccStopwatch::calibrate(); }
    void TearDown() override
    {
        plat::setCounterSource(nullptr, 0); // before calibrating for the tests that follow
        ccStopwatch::calibrate();
    }
    const int64_t realFrequency_ = ccCounterFrequency(); // the one-time calibration must not happen mid-test
    test_clock::FakeClock clock{1000000, 1000};
    test_clock::SleepRecorder sleeps;
};

TEST_F(FakeClockTest, StopwatchAccumulatesOnlyWhileRunningAndResetRestarts)
{
    ccStopwatch sw(true);
    clock.advance(250);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 250.0);
    sw.stop();
    clock.advance(1000);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 250.0);
    sw.start();
    sw.start(); // a second start keeps the first start reading
    clock.advance(50);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 300.0);

    sw.reset(); // while running: restarts and keeps running
    EXPECT_TRUE(sw.isRunning());
    EXPECT_EQ(sw.elapsedMs(), 0.0);
    clock.advance(30);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 30.0);
    ccStopwatch stopped(false);
    stopped.reset();
    EXPECT_FALSE(stopped.isRunning());
    clock.advance(30);
    EXPECT_EQ(stopped.elapsedMs(), 0.0);
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
    const struct {
        double seconds;
        ccTimeout::State state;
        double remaining;
    } cases[] = {
        {HUGE_VAL, ccTimeout::infinite, HUGE_VAL},
        {0.0, ccTimeout::zero, 0.0},
        {-2.0, ccTimeout::zero, 0.0},
        {std::nan(""), ccTimeout::zero, 0.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        ccTimeout t(c.seconds);
        EXPECT_EQ(t.state(), c.state);
        EXPECT_FALSE(t.expired());
        EXPECT_FALSE(t.expiredFlag());
        clock.advance(int64_t(1) << 40);
        EXPECT_EQ(t.remaining(), c.remaining);
        EXPECT_EQ(t.expiredFlag(), c.state == ccTimeout::zero);
        EXPECT_FALSE(t.expired());
    }
}

TEST_F(FakeClockTest, TimedDeadlineFallsToZeroAndExpiresAtTheDuration)
{
    ccTimeout t(0.5);
    EXPECT_EQ(t.state(), ccTimeout::timed);
    clock.advance(200);
    EXPECT_DOUBLE_EQ(t.remaining(), 0.3);
    clock.advance(299);
    EXPECT_FALSE(t.expired());
    clock.advance(1);
    EXPECT_EQ(t.remaining(), 0.0);
    EXPECT_FALSE(t.expiredFlag()); // remaining() does not set it for a timed deadline
    EXPECT_TRUE(t.expired());
    EXPECT_TRUE(t.expiredFlag());
    clock.advance(10000);
    EXPECT_EQ(t.remaining(), 0.0);
    EXPECT_TRUE(t.expired());
}

} // namespace
