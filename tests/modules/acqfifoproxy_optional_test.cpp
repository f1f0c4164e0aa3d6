// The module FIFO over a module that leaves out its optional interfaces:
// what each operation answers or sends then, beside what it does with them.
#include "modules/acqfifoproxy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "acq/acqfifo.h"
#include "acq/propreq.h"
#include "std/pelbuf/pelpool.h"
#include "tests/modules/module_fifo_fixture.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::lastArgs;
using sim_module::sim;

typedef std::vector<std::tuple<int32_t, int32_t, double>> Requests; // id, channel, value

// The property sets the module received since the last call.
Requests takeSets()
{
    ccSimRequest raw[64];
    Requests out;
    for (uint32_t i = 0, n = std::min(sim().requests(raw, 64), 64u); i < n; ++i)
        if (raw[i].slot == 4)
            out.emplace_back(raw[i].id, raw[i].channel, raw[i].value);
    sim().clearRequests();
    return out;
}

typedef sim_module::FifoTest ModuleFifoOptional;

TEST_F(ModuleFifoOptional, EachCoreQueryReadsItsSlotAndRaisesTheModulesError)
{
    const struct { int32_t slot; std::function<double(cc_UnknownAcqFifo&)> query; double answer; } rows[] = {
        {13, [](cc_UnknownAcqFifo& f) { return f.isBusy(); }, 1},
        {16, [](cc_UnknownAcqFifo& f) { return f.pendingAcqs(); }, 6},
        {17, [](cc_UnknownAcqFifo& f) { return f.completedAcqs(); }, 7},
        {6, [](cc_UnknownAcqFifo& f) { return f.triggerEnabled(); }, 1},
    };
    // Every slot but the one asked gives something else.
    const auto wrong = [](double answer) { return answer == 1 ? 0 : answer + 100; };
    cc_UnknownAcqFifo& fifo = make();
    for (const auto& r : rows)
        sim().setAnswer(ccIidFifoCore, r.slot, 0, wrong(r.answer));
    for (const auto& r : rows) {
        sim().setAnswer(ccIidFifoCore, r.slot, 0, r.answer);
        EXPECT_EQ(r.query(fifo), r.answer) << r.slot;
        sim().setAnswer(ccIidFifoCore, r.slot, 0, wrong(r.answer));
        sim_module::failNext(ccIidFifoCore, r.slot, ccBoard::Timeout(L"late", 5));
        EXPECT_THROW(r.query(fifo), ccBoard::Timeout) << r.slot;
    }
    // The two core calls without an answer.
    const uint32_t flushes = sim().callCount(ccIidFifoCore, 9);
    fifo.triggerEnable(true);
    fifo.flush();
    EXPECT_EQ(lastArgs(ccIidFifoCore, 5), std::vector<double>{1});
    EXPECT_EQ(sim().callCount(ccIidFifoCore, 9) - flushes, 1u);
    sim_module::failNext(ccIidFifoCore, 9, ccBoard::Timeout(L"late", 5));
    EXPECT_THROW(fifo.flush(), ccBoard::Timeout);
}

// Each query of an optional interface: the module's answer with it, the
// neutral answer without it (and no call).
TEST_F(ModuleFifoOptional, QueriesOfAMissingInterfaceAnswerNeutrally)
{
    sim().setAnswer(ccIidFifoCamera, 4, 0, 3);
    sim().setAnswer(ccIidFifoCamera, 6, 0, 256);
    sim().setAnswer(ccIidFifoCamera, 7, 0, 2);
    sim().setAnswer(ccIidFifoCamera, 9, 0, 1.5);
    sim().setAnswer(ccIidFifoRoiModes, 3, 0, 1);
    sim().setAnswer(ccIidFifoReconfigure, 3, 0, 1);
    sim().setAnswer(ccIidFifoMaster, 3, 0, 1);
    sim().setPropertyValue(ccPropBrightness, 0.25, 1);
    const ccSimPropertyInfo listed[] = {{1005, 0, 1, 0.5, 0}};
    sim().setPropertyInfos(listed, 1);
    cc_UnknownAcqFifo master(*grabber_, description_, 0);
    const struct {
        int32_t iid, slot;
        std::function<double(cc_UnknownAcqFifo&)> query;
        double with, without;
    } rows[] = {
        {ccIidFifoCamera, 4, [](cc_UnknownAcqFifo& f) { return f.numChannels(); }, 3, 0},
        {ccIidFifoCamera, 6, [](cc_UnknownAcqFifo& f) { return f.numInputLuts(); }, 256, 0},
        {ccIidFifoCamera, 7, [](cc_UnknownAcqFifo& f) { return f.numCameraPorts(); }, 2, 0},
        {ccIidFifoCamera, 9, [](cc_UnknownAcqFifo& f) { return f.horizAdjustLimit(); }, 1.5, 0},
        {ccIidFifoRoiModes, 3, [](cc_UnknownAcqFifo& f) { return f.isRoiModeSupported(4); }, 1, 0},
        {ccIidFifoReconfigure, 3, [](cc_UnknownAcqFifo& f) { return f.reconfigure(&f); }, 1, 0},
        {ccIidFifoMaster, 3,
         [&](cc_UnknownAcqFifo& f) { return f.isValidMaster(&master); }, 1, 0},
        {ccIidFifoProperties, 5, [](cc_UnknownAcqFifo& f) { return f.brightnessDefault(); }, 0.25, 0.5},
        {ccIidFifoPropertyInfoList, 3,
         [](cc_UnknownAcqFifo& f) {
             std::vector<ccAcqPropertyInfo> info;
             f.buildPropertyInfo(info);
             return info.size() == 1 && info[0].id == 1005 ? 1 : double(info.size()) + 10;
         },
         1, 10},
    };
    for (const auto& r : rows) {
        for (const bool offered : {true, false}) {
            sim().setOffered(r.iid, offered);
            cc_UnknownAcqFifo& fifo = make();
            const uint32_t calls = sim().callCount(r.iid, r.slot);
            EXPECT_EQ(r.query(fifo), offered ? r.with : r.without) << r.iid << ' ' << r.slot << ' ' << offered;
            EXPECT_EQ(sim().callCount(r.iid, r.slot) > calls, offered) << r.iid << ' ' << r.slot;
        }
        sim().setOffered(r.iid, 1);
    }
    // A candidate that is not a module FIFO is never valid, and is not asked about.
    test_acq::FakeAcqFifo other;
    const uint32_t asked = sim().callCount(ccIidFifoMaster, 3);
    EXPECT_FALSE(make().isValidMaster(&other));
    EXPECT_EQ(sim().callCount(ccIidFifoMaster, 3), asked);
    // A failed reconfiguration raises the module's error.
    sim_module::failNext(ccIidFifoReconfigure, 3, ccBoard::Timeout(L"late", 5));
    EXPECT_THROW(make().reconfigure(this), ccBoard::Timeout);
}

// A setter sends its identifier and value, as a signed word for a count or
// a flag (channel -1 but for brightness); without the property interface
// nothing is sent.
TEST_F(ModuleFifoOptional, EachSetterSendsItsIdentifierOrNothingWithoutTheInterface)
{
    typedef cc_UnknownAcqFifo F;
    const struct { std::function<void(F&)> set; int32_t id, channel; double value; } rows[] = {
        {[](F& f) { f.cameraPort(2); }, 1001, -1, 2},
        {[](F& f) { f.settlingTime(0.5); }, 1002, -1, 0.5},
        {[](F& f) { f.timeout(3.0); }, 1003, -1, 3.0},
        {[](F& f) { f.strobePulseDuration(1e-4); }, 1005, -1, 1e-4},
        {[](F& f) { f.strobePulsePolarityHigh(false); }, 1006, -1, 0},
        {[](F& f) { f.strobeDelay(2e-3); }, 1007, -1, 2e-3},
        {[](F& f) { f.triggerLowToHigh(true); }, 1008, -1, 1},
        {[](F& f) { f.chargeTransferInterval(0.25); }, 1009, -1, 0.25},
        {[](F& f) { f.alphaColorValue(-7); }, 1010, -1, -7},
        {[](F& f) { f.horizontalAdjustment(1.5); }, 1011, -1, 1.5},
        {[](F& f) { f.alphaColorEnabled(1); }, 1012, -1, 1},
        {[](F& f) { f.clippingEnabled(1); }, 1014, -1, 1},
        {[](F& f) { f.clippingLowLevel(16); }, 1015, -1, 16},
        {[](F& f) { f.clippingHighLevel(235); }, 1016, -1, 235},
        {[](F& f) { f.cameraBandwidth(2e7); }, 1018, -1, 2e7},
        {[](F& f) { f.brightness(0.3, 1); }, 1020, 1, 0.3},
        {[](F& f) { f.brightFieldPowerRatio(0.6); }, 2001, -1, 0.6},
        {[](F& f) { f.lightPower(0.8); }, 2002, -1, 0.8},
        {[](F& f) { f.lightDelay(1e-3); }, 2003, -1, 1e-3},
        {[](F& f) { f.auxLightPort(2); }, 2004, -1, 2},
        {[](F& f) { f.auxBrightFieldPowerRatio(0.4); }, 2006, -1, 0.4},
        {[](F& f) { f.auxLightPower(0.9); }, 2007, -1, 0.9},
        {[](F& f) { f.lightEnabled(true); }, 2008, -1, 1},
        {[](F& f) { f.digitalHighGainSelected(true); }, 3001, -1, 1},
        {[](F& f) { f.masterClockFrequency(4e7); }, 3002, -1, 4e7},
        {[](F& f) { f.resetCounterOnHardwareTrigger(true); }, 5000, -1, 1},
        {[](F& f) { f.testEncoderEnabled(true); }, 5001, -1, 1},
        {[](F& f) { f.testEncoderDirectionPositive(false); }, 5002, -1, 0},
        {[](F& f) { f.encoderPort(1); }, 5003, -1, 1},
        {[](F& f) { f.acquireDirectionPositive(true); }, 5004, -1, 1},
        {[](F& f) { f.encoderOffset(-12); }, 5005, -1, -12},
        {[](F& f) { f.firstPelOffset(100); }, 5006, -1, 100},
        {[](F& f) { f.useSingleChannel(true); }, 5007, -1, 1},
        {[](F& f) { f.encoderResolution(4); }, 5008, -1, 4},
        {[](F& f) { f.startAcqOnEncoderCount(1000); }, 5009, -1, 1000},
        {[](F& f) { f.ignoreBackwardsMotionBetweenAcquires(true); }, 5010, -1, 1},
        {[](F& f) { f.ignoreTooFastEncoder(false); }, 5011, -1, 0},
        {[](F& f) { f.roiMode(2); }, 6006, -1, 2},
    };
    for (const bool offered : {true, false}) {
        sim().setOffered(ccIidFifoProperties, offered);
        cc_UnknownAcqFifo& fifo = make();
        takeSets();
        for (const auto& r : rows) {
            r.set(fifo);
            const Requests sent = offered ? Requests{{r.id, r.channel, r.value}} : Requests{};
            EXPECT_EQ(takeSets(), sent) << r.id << ' ' << offered;
        }
    }
}

// Without the camera interface the region and the input table go nowhere.
TEST_F(ModuleFifoOptional, CameraSettersNeedTheCameraInterface)
{
    const uint8_t table[256] = {};
    for (const bool offered : {true, false}) {
        sim().setOffered(ccIidFifoCamera, offered);
        cc_UnknownAcqFifo& fifo = make();
        const uint32_t regions = sim().callCount(ccIidFifoCamera, 3), tables = sim().callCount(ccIidFifoCamera, 5);
        fifo.roi(ccPelRect(0, 0, 8, 8));
        fifo.inputLut(table, 256, 2);
        EXPECT_EQ(sim().callCount(ccIidFifoCamera, 3) - regions, uint32_t(offered));
        EXPECT_EQ(sim().callCount(ccIidFifoCamera, 5) - tables, uint32_t(offered));
    }
    EXPECT_EQ(lastArgs(ccIidFifoCamera, 5), (std::vector<double>{1, 256, 2}));
}

// The pool goes to the module only through its pel-pool interface; an empty
// handle sends none; without the interface the FIFO reports no pool.
TEST_F(ModuleFifoOptional, ThePelRootPoolNeedsThePelPoolInterface)
{
    const ccPtrHandle<ccPelRootPool> pool = ccDefaultPelRootPool::instance();
    for (const bool offered : {true, false}) {
        sim().setOffered(ccIidFifoPelPool, offered);
        cc_UnknownAcqFifo& fifo = make();
        EXPECT_EQ(fifo.pelRootPoolHandle().rawPointer(), offered ? pool.rawPointer() : nullptr);
        const uint32_t sent = sim().callCount(ccIidFifoPelPool, 5);
        fifo.pelRootPool(ccPtrHandle<ccPelRootPool>());
        const std::vector<double> none = lastArgs(ccIidFifoPelPool, 5);
        fifo.pelRootPool(pool);
        EXPECT_EQ(sim().callCount(ccIidFifoPelPool, 5) - sent, offered ? 2u : 0u);
        if (offered) {
            EXPECT_EQ(none, std::vector<double>{0});
            EXPECT_EQ(lastArgs(ccIidFifoPelPool, 5), std::vector<double>{1});
        }
    }
}

struct Counted : ccCallback, ccAcqInfoCallback {
    explicit Counted(int& calls, int& alive) : calls(calls), alive(alive) { ++alive; }
    ~Counted() override { --alive; }
    void operator()() override { ++calls; }
    void operator()(const ccAcquireInfo&) override { ++calls; }
    int& calls;
    int& alive;
};

// A module without its callback interfaces is given no callbacks: the
// FIFO keeps none of the handles, and no acquisition calls one.
TEST_F(ModuleFifoOptional, CallbacksAreDroppedWhenTheModuleTakesNone)
{
    sim().setOffered(ccIidFifoCallbacks, 0);
    sim().setOffered(ccIidFifoInfoCallbacks, 0);
    sim().injectOverruns(1);
    cc_UnknownAcqFifo& fifo = make();
    int calls = 0, alive = 0;
    fifo.completeCallback(new Counted(calls, alive));
    fifo.movePartCallback(new Counted(calls, alive));
    fifo.overrunCallback(new Counted(calls, alive));
    fifo.completeInfoCallback(new Counted(calls, alive));
    fifo.movePartInfoCallback(new Counted(calls, alive));
    fifo.overrunInfoCallback(new Counted(calls, alive));
    EXPECT_EQ(alive, 0);
    for (uint32_t ticket : {1u, 2u}) { // an overrun, then a frame
        ASSERT_TRUE(fifo.start(ticket));
        fifo.completeAcqImage({false, 30.0, 0, nullptr, nullptr});
    }
    EXPECT_EQ(calls, 0);
    for (int32_t slot = 3; slot <= 5; ++slot)
        EXPECT_EQ(sim().callCount(ccIidFifoCallbacks, slot) + sim().callCount(ccIidFifoInfoCallbacks, slot), 0u);
}

// A result that does not describe its format is refused and goes back.
TEST_F(ModuleFifoOptional, AResultWithoutItsFormatIsRefusedAndReleased)
{
    cc_UnknownAcqFifo& fifo = make();
    sim().setOffered(ccIidResultFormat, 0);
    ASSERT_TRUE(fifo.start(4));
    bool outcome = true;
    EXPECT_THROW(fifo.completeAcqImage({false, 30.0, 0, &outcome, nullptr}), ccAcqFifo::BadParams);
    EXPECT_EQ(sim().liveFrames(), 0u);
}

// The acquisition-information object's interfaces are optional too: without
// its core nothing is read, and the caller gets the completion's empty record;
// without its message interface the message is empty.
TEST_F(ModuleFifoOptional, AnInformationObjectWithoutItsInterfacesGivesAnEmptyRecordOrMessage)
{
    sim().setText(ccIidInfoMessage, 3, u"late");
    const struct { int core, message; uint32_t ticket; const wchar_t* text; } rows[] = {
        {1, 1, 3, L"late"},
        {1, 0, 3, L""},
        {0, 1, 0, L""},
    };
    for (const auto& r : rows) {
        sim().setOffered(ccIidInfoCore, r.core);
        sim().setOffered(ccIidInfoMessage, r.message);
        cc_UnknownAcqFifo& fifo = make();
        ASSERT_TRUE(fifo.start(3));
        ccAcquireInfo info;
        info.ticket = 99;
        info.failure.message = L"kept";
        fifo.completeAcqImage({false, 30.0, 0, nullptr, &info});
        EXPECT_EQ(info.ticket, r.ticket) << r.core << r.message;
        EXPECT_EQ(info.failure.message, r.text) << r.core << r.message;
    }
}

// A result kind other than a described image (1) or planes (3) is read
// through the result's raw pels, as an image of the acquired code.
TEST_F(ModuleFifoOptional, AResultOfAnotherKindIsReadThroughItsRawPels)
{
    sim().setFrameSize(16, 8);
    sim().setAnswer(ccIidResultFormat, 3, 0, 2); // the kind
    cc_UnknownAcqFifo& fifo = make();
    ASSERT_TRUE(fifo.start(6));
    const ccPtrHandle<ccAcqImage> image = fifo.completeAcqImage({false, 30.0, 0, nullptr, nullptr});
    ASSERT_TRUE(image.rawPointer() && image->isValid());
    EXPECT_EQ(image->format(), 1u);
    EXPECT_EQ(*image->grey8Buffer().pel(5, 7), ccSimPel(5, 7, 6, 0));
    // A typed completion without a frame gives an unbound buffer.
    sim().injectOverruns(1);
    ASSERT_TRUE(fifo.start(7));
    EXPECT_FALSE(fifo.completeAcqRGB32({false, 30.0, 0, nullptr, nullptr}).isBound());
}

// The block is the callee's: the leak checker sees it if it is kept.
TEST_F(ModuleFifoOptional, TheBlockHookTakesItsBlock)
{
    EXPECT_TRUE(make().hookTakesBlock(1, 2, std::make_unique<uint8_t[]>(64), 4, 5, 6, 7));
}

} // namespace
