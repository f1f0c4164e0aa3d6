// Acquisition end to end, as an application does it: the module has found the
// simulated driver module on the search path while it loaded and built its
// boards; a FIFO for a built-in format acquires frames from it.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "acq/acqfifo.h"
#include "acq/propreq.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "modules/unknownfg.h"
#include "std/callback.h"
#include "std/pelbuf/pelbuf.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

// The board the simulator reported at load.
TEST(Acquire, TheBoardsOfTheDriverModuleAreListed)
{
    ASSERT_EQ(cc_BoardRegistry::numBoards(), 1u);
    ASSERT_EQ(cc7320::numBoards(), 1u);
    EXPECT_EQ(std::wstring(cc7320::getBoard(0).name()), L"sim7320-0");
    EXPECT_THROW(cc7320::getBoard(1), ccBoard::BadParams);
}

class Acquisition : public testing::Test {
protected:
    void SetUp() override
    {
        sim().reset();
        fifo = std::make_unique<ccStdGreyAcqFifo>(ccVidFmtSonyXC75_640x480(), cc7320::getBoard(0));
    }
    void TearDown() override
    {
        fifo.reset();
        EXPECT_EQ(sim().liveFifos(), 0u);
        EXPECT_EQ(sim().liveFrames(), 0u);
    }

    struct Completed {
        std::unique_ptr<ccPelBuffer<unsigned char>> frame;
        ccAcquireInfo info;
        bool ok = false;
    };
    Completed complete(double seconds)
    {
        Completed c;
        ccAcqCompleteArgs args;
        args.timeout = seconds;
        args.info = &c.info;
        args.outcome = &c.ok;
        c.frame.reset(fifo->completeToBuffer(args));
        return c;
    }

    std::unique_ptr<ccStdGreyAcqFifo> fifo;
};

// Every pel of the frame is the one the simulator made for ticket.
::testing::AssertionResult holdsFrameOf(const ccPelBuffer<unsigned char>& frame, uint32_t ticket)
{
    const ccPelRect w = frame.window();
    if (w.width() != 640 || w.height() != 480)
        return ::testing::AssertionFailure() << "window " << w.width() << " x " << w.height();
    for (int32_t y = 0; y < 480; ++y) {
        const unsigned char* row = frame.row(y);
        for (int32_t x = 0; x < 640; ++x)
            if (row[x] != ccSimPel(x, y, ticket, 0))
                return ::testing::AssertionFailure() << "pel (" << x << ", " << y << ") of ticket " << ticket;
    }
    return ::testing::AssertionSuccess();
}

// Counts the tickets the module reports on its own threads.
class TicketLog : public ccCallback1<const ccAcquireInfo&> {
public:
    void operator()(const ccAcquireInfo& info) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tickets_.push_back(info.ticket);
        grown_.notify_all();
    }
    // The tickets once there are count of them, or after seconds.
    std::vector<uint32_t> tickets(size_t count = 0, double seconds = 0)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        grown_.wait_for(lock, std::chrono::duration<double>(seconds), [&] { return tickets_.size() >= count; });
        return tickets_;
    }

private:
    std::mutex mutex_;
    std::condition_variable grown_;
    std::vector<uint32_t> tickets_;
};

TEST_F(Acquisition, HundredFramesCompleteInTicketOrderWithTheirPels)
{
    ccPtrHandle<TicketLog> log(new TicketLog);
    fifo->completeCallback(ccAcqInfoCallbackHandle(log.rawPointer()));
    sim().clearRequests(); // what the properties sent as they attached
    fifo->implementation()->exposure(0.001);
    ccSimRequest request{};
    ASSERT_EQ(sim().requests(&request, 1), 1u);
    EXPECT_EQ(request.slot, 4);
    EXPECT_EQ(request.id, ccPropExposure);
    EXPECT_EQ(request.channel, -1);
    EXPECT_EQ(request.value, 0.001);

    // A few acquisitions ahead of the completions, as a pipeline runs.
    constexpr uint32_t kFrames = 100, kAhead = 4;
    for (uint32_t t = 0; t < kAhead; ++t)
        ASSERT_TRUE(fifo->start(t));
    for (uint32_t t = 0; t < kFrames; ++t) {
        Completed c = complete(5.0);
        ASSERT_TRUE(c.ok);
        ASSERT_TRUE(c.frame);
        ASSERT_EQ(c.info.ticket, t);
        ASSERT_TRUE(holdsFrameOf(*c.frame, t));
        if (t + kAhead < kFrames) {
            ASSERT_TRUE(fifo->start(t + kAhead));
        }
    }
    EXPECT_EQ(fifo->pendingAcqs(), 0u);
    // Every acquisition's callback runs, in order; the last ones may come
    // after their frames were completed.
    std::vector<uint32_t> expected(kFrames);
    for (uint32_t t = 0; t < kFrames; ++t)
        expected[t] = t;
    EXPECT_EQ(log->tickets(kFrames, 5.0), expected);
}

// A frame the module keeps in its own memory comes over through its fast
// transfer when the completion asks for a local copy.
TEST_F(Acquisition, AFrameKeptByTheModuleIsCopiedThroughItsFastTransfer)
{
    sim().setAnswer(ccIidResultImage, 16, 0, 1);
    ASSERT_TRUE(fifo->start(7));
    Completed c;
    ccAcqCompleteArgs args;
    args.timeout = 5.0;
    args.localCopy = true;
    args.info = &c.info;
    c.frame.reset(fifo->completeToBuffer(args));
    ASSERT_TRUE(c.frame);
    EXPECT_TRUE(holdsFrameOf(*c.frame, 7));
    EXPECT_EQ(sim().callCount(ccIidResultFastTransfer, 3), 1u);
}

// A module that allocates its frames from a pool gets the library's default
// pool and fills roots lent from it.
TEST_F(Acquisition, AModuleWithAPoolFillsRootsLentByTheLibrary)
{
    sim().setOffered(ccIidFifoPelPool, 1);
    fifo = std::make_unique<ccStdGreyAcqFifo>(ccVidFmtSonyXC75_640x480(), cc7320::getBoard(0));
    double pool = 0.0;
    ASSERT_EQ(sim().lastArgs(ccIidFifoPelPool, 5, &pool, 1), 1u);
    EXPECT_EQ(pool, 1.0);
    for (uint32_t t = 0; t < 3; ++t) {
        ASSERT_TRUE(fifo->start(t));
        Completed c = complete(5.0);
        ASSERT_TRUE(c.ok && c.frame);
        EXPECT_TRUE(holdsFrameOf(*c.frame, t));
    }
}

// Overruns and time-outs lose no ticket and report none twice.
TEST_F(Acquisition, OverrunsAndTimeoutsLoseNoTicket)
{
    const test_bytes::Bytes timeout = sim_module::archived(ccBoard::Timeout(L"no frame", 0));
    sim().setTimeoutError(timeout.data(), static_cast<uint32_t>(timeout.size()));
    EXPECT_THROW(complete(0.01), ccBoard::Timeout);

    sim().setTriggered(1);
    std::multiset<uint32_t> seen;
    uint32_t failed = 0;
    for (uint32_t t = 0; t < 30; ++t) {
        ASSERT_TRUE(fifo->start(t));
        if (t % 7 == 3)
            sim().injectOverruns(1);
        // Not triggered yet: the completion times out and the acquisition stays.
        if (t % 5 == 0) {
            EXPECT_THROW(complete(0.0), ccBoard::Timeout);
        }
        sim().softwareTrigger();
        Completed c = complete(5.0);
        seen.insert(c.info.ticket);
        if (c.ok) {
            ASSERT_TRUE(c.frame);
            EXPECT_TRUE(holdsFrameOf(*c.frame, c.info.ticket));
        } else {
            ++failed;
            EXPECT_FALSE(c.frame);
        }
    }
    EXPECT_EQ(failed, 4u);
    ASSERT_EQ(seen.size(), 30u);
    uint32_t expected = 0;
    for (uint32_t ticket : seen)
        EXPECT_EQ(ticket, expected++);
}

} // namespace
