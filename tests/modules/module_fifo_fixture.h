// One simulated board and its grabber; each test sets the simulator up and
// then makes its FIFO. At the end every simulated object must be released.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "acq/vidfmt/vidfmt.h"
#include "modules/acqfifoproxy.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "tests/support/sim_module.h"

namespace sim_module {

// The arguments of the last call of (iid, slot).
inline std::vector<double> lastArgs(int32_t iid, int32_t slot)
{
    double out[16] = {};
    return std::vector<double>(out, out + std::min(sim().lastArgs(iid, slot, out, 16), 16u));
}

// A bounded wait for something the module's threads do.
template <class Predicate>
bool eventually(Predicate done)
{
    for (int i = 0; i < 10000 && !done(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

class FifoTest : public ::testing::Test {
protected:
    explicit FifoTest(const cs_vidFmtRecord& record = {u"Sim Cam 640x480", 640, 480, 8, 0, 0, 1, 1})
        : record_(record)
    {
    }
    static void SetUpTestSuite() { ccModulesStartup(); } // the module's errors are known
    // The FIFO goes first, so members of a derived fixture its callbacks
    // reach outlive it.
    void TearDown() override
    {
        fifo_.reset();
        EXPECT_TRUE(eventually([] { return sim().liveFifos() == 0; })); // a worker ends after its callback
        grabber_.reset();
        board_.board.reset();
        board_.module = nullptr;
        EXPECT_EQ(sim().liveFrames(), 0u);
        expectAllReleased();
    }
    cc_UnknownAcqFifo& make(int32_t code = 0)
    {
        fifo_.reset(new cc_UnknownAcqFifo(*grabber_, description_, code));
        return *fifo_;
    }

    Board board_;
    std::unique_ptr<cc_UnknownFrameGrabber> grabber_{
        cc_UnknownFrameGrabber::create(board_.module, board_.board.get())};
    cs_vidFmtRecord record_;
    cc_VidFmtDesc description_{&record_, 0};
    std::unique_ptr<cc_UnknownAcqFifo> fifo_;
};

} // namespace sim_module
