// Completions of module FIFOs of each pel format, read back pel by pel.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>

#include "acq/acqfifo.h"
#include "acq/image/acqimage.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/acqfifoproxy.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

constexpr uint32_t kHeight = 5, kTicket = 4;

uint32_t channel(uint32_t x, uint32_t y, uint32_t c) { return ccSimPel(x, y, kTicket, c); }

// The pels of buffer that differ from expected(x, y); every pel when the
// buffer is unbound or not the frame's size.
template <class Buffer, class Expected>
uint32_t wrongPels(const Buffer& buffer, uint32_t width, Expected expected)
{
    if (!buffer.isBound() || buffer.window() != ccPelRect(0, 0, width, kHeight))
        return width * kHeight;
    uint32_t wrong = 0;
    for (uint32_t y = 0; y < kHeight; ++y)
        for (uint32_t x = 0; x < width; ++x)
            wrong += expected(*buffer.pel(x, y), x, y) ? 0 : 1;
    return wrong;
}

class FifoCompletions : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ccModulesStartup(); }
    void TearDown() override
    {
        grabber_.reset();
        board_.board.reset();
        board_.module = nullptr;
        sim_module::expectAllReleased();
    }

    sim_module::Board board_;
    std::unique_ptr<cc_UnknownFrameGrabber> grabber_{
        cc_UnknownFrameGrabber::create(board_.module, board_.board.get())};
    cs_vidFmtRecord record_{u"Sim Cam 640x480", 640, 480, 8, 0, 0, 1, 1};
    cc_VidFmtDesc description_{&record_, 0};
};

TEST_F(FifoCompletions, EachModulePelFormatArrivesWithItsPels)
{
    const ccAcqCompleteArgs args{false, 30.0, 0, nullptr, nullptr};
    uint32_t width = 0;
    using Check = std::function<uint32_t(cc_UnknownAcqFifo&)>;
    // An odd width leaves the module's 64-byte rows padded: a stride taken for the width shows.
    const std::tuple<int32_t, uint32_t, Check> cases[] = {
        {8, 37,
         [&](cc_UnknownAcqFifo& fifo) {
             return wrongPels(fifo.completeAcqRGB16(args), width, [](ccPackedRGB16Pel p, uint32_t x, uint32_t y) {
                 return p.value == (channel(x, y, 0) >> 3 << 11 | channel(x, y, 1) >> 2 << 5 | channel(x, y, 2) >> 3);
             });
         }},
        {1, 37,
         [&](cc_UnknownAcqFifo& fifo) {
             return wrongPels(fifo.completeAcqRGB32(args), width, [](ccPackedRGB32Pel p, uint32_t x, uint32_t y) {
                 return p.value == (channel(x, y, 0) | channel(x, y, 1) << 8 | channel(x, y, 2) << 16);
             });
         }},
        {2, 37,
         [&](cc_UnknownAcqFifo& fifo) {
             const cc3PlanePelBuffer planes = fifo.completeAcq3Plane(args);
             uint32_t wrong = 0;
             for (uint32_t c = 0; c < 3; ++c)
                 wrong += wrongPels(planes.plane(int(c)), width,
                                    [c](unsigned char p, uint32_t x, uint32_t y) { return p == channel(x, y, c); });
             return wrong;
         }},
        {9, 37,
         [&](cc_UnknownAcqFifo& fifo) {
             const ccPtrHandle<ccAcqImage> image = fifo.completeAcqImage(args);
             if (!image.rawPointer() || image->format() != 2)
                 return width * kHeight;
             return wrongPels(image->grey16Buffer(), width,
                              [](unsigned short p, uint32_t x, uint32_t y) { return p == 257 * channel(x, y, 0); });
         }},
    };
    for (const auto& [code, frameWidth, wrongOf] : cases) {
        width = frameWidth;
        sim().setFrameSize(width, kHeight);
        cc_UnknownAcqFifo fifo(*grabber_, description_, code);
        ASSERT_TRUE(fifo.start(kTicket));
        EXPECT_EQ(wrongOf(fifo), 0u) << "module code " << code;
        EXPECT_EQ(sim().liveFrames(), 0u) << "module code " << code;
    }
}

TEST_F(FifoCompletions, AFrameKeptByTheModuleComesBackOnlyWhenItsPelsCanBeCopied)
{
    sim().setFrameSize(16, kHeight);
    sim().setAnswer(ccIidResultImage, 16, 0, 1); // the frame stays in the module's memory
    const struct { bool fastTransfer, localCopy, refused; } rows[] = {
        {true, true, false}, {false, false, false}, {false, true, true}};
    for (const auto& r : rows) {
        sim().setOffered(ccIidResultFastTransfer, r.fastTransfer);
        cc_UnknownAcqFifo fifo(*grabber_, description_, 0);
        ASSERT_TRUE(fifo.start(kTicket));
        bool outcome = r.refused; // the opposite of what it must become
        ccAcquireInfo info;
        bool refused = false;
        ccPelBuffer<unsigned char> frame;
        try {
            frame = fifo.completeAcq8(ccAcqCompleteArgs{r.localCopy, 30.0, 0, &outcome, &info});
        } catch (const ccUnknownFG::MissingFunctionality&) {
            refused = true;
        }
        EXPECT_EQ(std::make_tuple(refused, outcome, frame.isBound() && bool(frame.root().destination())),
                  std::make_tuple(r.refused, !r.refused, !r.refused))
            << "fast transfer " << r.fastTransfer << ", local copy " << r.localCopy;
        EXPECT_EQ(info.ticket, kTicket);
    }
}

} // namespace
