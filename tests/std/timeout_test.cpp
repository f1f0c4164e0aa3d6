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
    clock.advance(250);
    sw.stop();
    clock.advance(1000);
    sw.start(), sw.start(); // a second start keeps the first start reading
    clock.advance(50);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 300.0);
    sw.reset(); // while running: restarts and keeps running
    clock.advance(30);
    EXPECT_EQ(sw.elapsedMs(), 30.0);
}

// Infinite, zero, negative and NaN time-outs never expire; the others answer 0 left and remaining() records that it
// observed them. A timed one falls to zero and expires at its duration, and only expired() sets its flag. Sleeps:
// negative and NaN do not sleep; fractions are truncated toward zero; huge values other than HUGE_VAL are clamped,
// not unlimited.
TEST_F(FakeClockTest, OnlyTimedTimeoutsExpireAtTheirDurationAndSleepsAreInMilliseconds)
{
    for (double s : {-1.0, std::nan(""), 0.0, 0.0019, 2.5, HUGE_VAL, 1e300})
        ccSleep(s);
    EXPECT_EQ(sleeps.slept(), (std::vector<uint32_t>{0, 1, 2500, plat::kInfiniteWait, plat::kInfiniteWait - 1}));
    const struct { double seconds; ccTimeout::State state; double remaining; } cases[] = {
        {HUGE_VAL, ccTimeout::infinite, HUGE_VAL}, {0.0, ccTimeout::zero, 0.0}, {-2.0, ccTimeout::zero, 0.0},
        {std::nan(""), ccTimeout::zero, 0.0}};
    for (const auto& c : cases) {
        ccTimeout t(c.seconds);
        EXPECT_EQ((std::tuple{t.state(), t.expired(), t.expiredFlag()}), std::tuple(c.state, false, false));
        clock.advance(int64_t(1) << 40);
        EXPECT_EQ((std::tuple{t.remaining(), t.expiredFlag(), t.expired()}),
                  std::tuple(c.remaining, c.state == ccTimeout::zero, false)) << c.seconds;
    }

    ccTimeout t(0.5);
    EXPECT_EQ(t.state(), ccTimeout::timed);
    clock.advance(499);
    EXPECT_FALSE(t.expired()); // one count before
    clock.advance(1);
    EXPECT_EQ((std::tuple{t.remaining(), t.expiredFlag(), t.expired(), t.expiredFlag()}),
              std::tuple(0.0, false, true, true));
}

} // namespace
