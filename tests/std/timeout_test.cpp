#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "platform/clock.h"
#include "platform/clock_testing.h"
#include "std/timeout.h"

namespace {

int64_t gNow = 0;
int64_t fakeCounter() { return gNow; }

std::vector<uint32_t> gSlept;
void fakeSleep(uint32_t ms) { gSlept.push_back(ms); }

// Runs each test on a counter that only moves when told: 1000 counts a second.
class FakeClockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ccCounterFrequency(); // the one-time calibration must not happen mid-test
        gNow = 1000000;
        gSlept.clear();
        plat::setCounterSource(&fakeCounter, 1000);
        plat::setSleepFunction(&fakeSleep);
        ccStopwatch::calibrate();
    }
    void TearDown() override
    {
        plat::setCounterSource(nullptr, 0);
        plat::setSleepFunction(nullptr);
        ccStopwatch::calibrate();
    }
    static void advanceMs(int64_t ms) { gNow += ms; }
};

TEST_F(FakeClockTest, StopwatchAccumulatesOnlyWhileRunning)
{
    ccStopwatch sw(true);
    EXPECT_TRUE(sw.isRunning());
    EXPECT_EQ(sw.elapsedMs(), 0.0);
    advanceMs(250);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 250.0);
    sw.stop();
    advanceMs(1000);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 250.0);
    sw.start();
    sw.start(); // a second start keeps the first start reading
    advanceMs(50);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 300.0);
}

TEST_F(FakeClockTest, ResetWhileRunningRestartsAndKeepsRunning)
{
    ccStopwatch sw(true);
    advanceMs(400);
    sw.reset();
    EXPECT_TRUE(sw.isRunning());
    EXPECT_EQ(sw.elapsedMs(), 0.0);
    advanceMs(30);
    EXPECT_DOUBLE_EQ(sw.elapsedMs(), 30.0);

    ccStopwatch stopped(false);
    stopped.reset();
    EXPECT_FALSE(stopped.isRunning());
    advanceMs(30);
    EXPECT_EQ(stopped.elapsedMs(), 0.0);
}

// A counter that advances by a fixed step at every read gives a measurable
// start/stop overhead, which readings subtract but never below zero.
int64_t gStep = 0;
int64_t steppingCounter() { return gNow += gStep; }

TEST_F(FakeClockTest, OverheadIsSubtractedAndNeverGoesNegative)
{
    gStep = 5;
    plat::setCounterSource(&steppingCounter, 1000);
    ccStopwatch::calibrate(); // overhead: 5 counts
    gStep = 1;
    ccStopwatch sw(true);
    EXPECT_EQ(sw.elapsedCounts(), 0); // 1 count read, less 5, clamped
    gStep = 0;
    gNow += 100;
    EXPECT_EQ(sw.elapsedCounts(), 1 + 100 - 5);
}

TEST_F(FakeClockTest, SleepConvertsSecondsToMilliseconds)
{
    ccSleep(-1);
    ccSleep(std::nan(""));
    EXPECT_TRUE(gSlept.empty());
    ccSleep(0);
    ccSleep(0.0019);
    ccSleep(2.5);
    ccSleep(HUGE_VAL);
    ccSleep(1e300);
    ASSERT_EQ(gSlept.size(), 5u);
    EXPECT_EQ(gSlept[0], 0u);
    EXPECT_EQ(gSlept[1], 1u); // truncated toward zero
    EXPECT_EQ(gSlept[2], 2500u);
    EXPECT_EQ(gSlept[3], plat::kInfiniteWait);
    EXPECT_EQ(gSlept[4], plat::kInfiniteWait - 1); // clamped, not unlimited
}

TEST_F(FakeClockTest, InfiniteTimeoutNeverExpires)
{
    ccTimeout t(HUGE_VAL);
    EXPECT_EQ(t.state(), ccTimeout::infinite);
    advanceMs(int64_t(1) << 40);
    EXPECT_EQ(t.remaining(), HUGE_VAL);
    EXPECT_FALSE(t.expired());
    EXPECT_FALSE(t.expiredFlag());
}

TEST_F(FakeClockTest, ZeroAndNegativeTimeoutsAnswerZeroButNeverExpire)
{
    for (double s : {0.0, -2.0, std::nan("")}) {
        ccTimeout t(s);
        EXPECT_EQ(t.state(), ccTimeout::zero) << s;
        EXPECT_FALSE(t.expired()) << s;
        EXPECT_FALSE(t.expiredFlag()) << s;
        EXPECT_EQ(t.remaining(), 0.0) << s;
        EXPECT_TRUE(t.expiredFlag()) << s; // remaining() records the observation
        EXPECT_FALSE(t.expired()) << s;
    }
}

TEST_F(FakeClockTest, TimedDeadlineFallsToZeroAndExpiresAtTheDuration)
{
    ccTimeout t(0.5);
    EXPECT_EQ(t.state(), ccTimeout::timed);
    EXPECT_DOUBLE_EQ(t.remaining(), 0.5);
    advanceMs(200);
    EXPECT_DOUBLE_EQ(t.remaining(), 0.3);
    EXPECT_FALSE(t.expired());
    advanceMs(299);
    EXPECT_FALSE(t.expired());
    advanceMs(1);
    EXPECT_EQ(t.remaining(), 0.0);
    EXPECT_FALSE(t.expiredFlag()); // remaining() does not set it for a timed deadline
    EXPECT_TRUE(t.expired());
    EXPECT_TRUE(t.expiredFlag());
    advanceMs(10000);
    EXPECT_EQ(t.remaining(), 0.0);
    EXPECT_TRUE(t.expired());
}

TEST(RealClockTest, StopwatchNeverReadsNegative)
{
    for (int i = 0; i < 1000; ++i) {
        ccStopwatch sw(true);
        EXPECT_GE(sw.elapsedMs(), 0.0);
    }
    EXPECT_GT(ccCounterFrequency(), 0);
}

} // namespace
