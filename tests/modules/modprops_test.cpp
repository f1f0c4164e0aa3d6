// The property classes attached to a module FIFO of the simulated board: each
// setter reaches the module as its request records, grouped properties send
// their members in order and stop at the first the module refuses, the
// checks that ask the board run against the board's own answers, and a
// region of interest shapes the frames the board delivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "acq/hyper/prop/analog.h"
#include "acq/hyper/prop/bright.h"
#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/camport.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/clip.h"
#include "acq/hyper/prop/cti.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/roi.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/propreq.h"
#include "modules/board.h"
#include "std/except/persist.h"
#include "tests/modules/module_fifo_fixture.h"
#include "tests/support/sim_module.h"
#include "tests/support/stored.h"

namespace {

using sim_module::sim;
using test_bytes::Bytes;
// Attaches a property to the FIFO, runs the hook once the attach is done
// (and what it sent forgotten), then sets or loads the property.
typedef std::function<void(cc_UnknownAcqFifo&, const std::function<void()>&)> Action;
// A set request: identifier, channel, value.
typedef std::tuple<int32_t, int32_t, double> Sent;

constexpr double kInf = std::numeric_limits<double>::infinity();

// The sets the module received since the last call; every one must be a set
// with both words 0.
std::vector<Sent> takeSets()
{
    ccSimRequest raw[64];
    const uint32_t n = std::min<uint32_t>(sim().requests(raw, 64), 64);
    sim().clearRequests();
    std::vector<Sent> out;
    for (uint32_t i = 0; i < n; ++i) {
        EXPECT_EQ(std::make_tuple(raw[i].slot, raw[i].valid, raw[i].reserved), std::make_tuple(4, 0u, 0u))
            << "request " << raw[i].id;
        out.emplace_back(raw[i].id, raw[i].channel, raw[i].value);
    }
    return out;
}

void nothing() {}

// A new property of class P attached to the FIFO, then f on it.
template <class P>
Action with(std::function<void(P&)> f)
{
    return [f](cc_UnknownAcqFifo& fifo, const std::function<void()>& attached) {
        P p;
        p.attach(&fifo);
        sim().clearRequests();
        attached();
        f(p);
    };
}

// A camera-test property loads members 1, -1 and 200.
void loadCameraTest(cc_UnknownAcqFifo& fifo, const std::function<void()>& attached)
{
    ccCameraTestProp p;
    p.attach(&fifo);
    attached();
    // The archive's header, version 0, the ccPersistent level, then a byte,
    // 32 bits and a byte.
    const Bytes stored = {0x02, 0x01, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 200};
    test_bytes::load(stored, [&](ccArchive& ar) { ccArchiveObject(p, ar, false); });
}

// The FIFO is made for each test, and what its making sent forgotten.
class ModuleProps : public sim_module::FifoTest {
protected:
    cc_UnknownAcqFifo& make()
    {
        FifoTest::make();
        sim().clearRequests();
        return *fifo_;
    }
    static void failNextSetOf(int32_t id)
    {
        const Bytes error = sim_module::archived(ccBoard::Timeout(L"late", 5));
        sim().failProperty(id, error.data(), static_cast<uint32_t>(error.size()), ccSimErrorBytes);
    }
};

struct SetterRow {
    const char* name;
    Action set;
    std::vector<Sent> sent; // in order
};
void PrintTo(const SetterRow& row, std::ostream* os) { *os << row.name; }

class Setters : public ModuleProps, public ::testing::WithParamInterface<SetterRow> {};

// Each member reaches the module as its request record; a refused member
// raises the module's error, the members before it were sent, those after
// it are not.
TEST_P(Setters, ReachTheModuleAndStopAtTheFirstMemberRefused)
{
    cc_UnknownAcqFifo& fifo = make();
    GetParam().set(fifo, nothing);
    const std::vector<Sent>& sent = GetParam().sent;
    EXPECT_EQ(takeSets(), sent);
    for (size_t refused = 0; refused < sent.size(); ++refused) {
        SCOPED_TRACE(refused);
        EXPECT_THROW(GetParam().set(fifo, [&] { failNextSetOf(std::get<0>(sent[refused])); }), ccBoard::Timeout);
        EXPECT_EQ(takeSets(), std::vector<Sent>(sent.begin(), sent.begin() + refused));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Families, Setters,
    ::testing::Values(
        // No auxiliary light: a signed word, not 4294967295.
        SetterRow{"AuxLightPortNone", with<ccLightProp>([](ccLightProp& p) { p.auxLightPort(-1); }),
                  {{ccPropAuxLightPort, -1, -1.0}}},
        SetterRow{"ContrastOfOneChannel",
                  with<ccContrastBrightnessProp>([](ccContrastBrightnessProp& p) { p.contrast(0.7, 0); }),
                  {{ccPropContrast, 0, 0.7}}},
        // Not set: infinity travels unchanged.
        SetterRow{"ChargeTransferIntervalNotSet",
                  with<ccCtiProp>([](ccCtiProp& p) { p.chargeTransferInterval(kInf); }),
                  {{ccPropChargeTransferInterval, -1, kInf}}},
        SetterRow{"Sample", with<ccSampleProp>([](ccSampleProp& p) { p.sampleX(2); }),
                  {{ccPropSampleX, -1, 2.0}, {ccPropSampleY, -1, 1.0}}},
        SetterRow{"ReadoutDirection",
                  with<ccReadoutDirectionProp>([](ccReadoutDirectionProp& p) { p.verticalReadoutReversed(true); }),
                  {{ccPropHorizontalReadoutReversed, -1, 0.0}, {ccPropVerticalReadoutReversed, -1, 1.0}}},
        SetterRow{"TriggerFilter",
                  with<ccTriggerFilterProp>([](ccTriggerFilterProp& p) { p.minTriggerPeriod(1e-3); }),
                  {{ccPropMinTriggerWidth, -1, 5e-6},
                   {ccPropMinTriggerPeriod, -1, 1e-3},
                   {ccPropTriggerDelay, -1, 0.0},
                   {ccPropIgnoreMissedTrigger, -1, 1.0}}},
        SetterRow{"CdcCalibration",
                  with<ccCdcCameraCalibrationProp>(
                      [](ccCdcCameraCalibrationProp& p) { p.rowColumnCalibrationEnabled(false); }),
                  {{ccPropOutlierPixelCorrection, -1, 0.0},
                   {ccPropCdcCalibrationFirst, -1, 85.0},
                   {ccPropCdcCalibrationSecond, -1, 25.0},
                   {ccPropRowColumnCalibration, -1, 0.0}}},
        SetterRow{"CameraTestLoaded", loadCameraTest,
                  {{ccPropCameraTestFirst, -1, 1.0}, {ccPropCameraTestSecond, -1, -1.0},
                   {ccPropCameraTestThird, -1, 200.0}}},
        SetterRow{"ClipRange", with<ccClippingProp>([](ccClippingProp& p) { p.clipRange(20, 30); }),
                  {{ccPropClippingLowLevel, -1, 20.0}, {ccPropClippingHighLevel, -1, 30.0}}}),
    [](const ::testing::TestParamInfo<SetterRow>& info) { return std::string(info.param.name); });

struct CheckRow {
    const char* name;
    Action accepted, refused;
    uint32_t code; // of the refusal
};
void PrintTo(const CheckRow& row, std::ostream* os) { *os << row.name; }

class BoardChecks : public ModuleProps, public ::testing::WithParamInterface<CheckRow> {};

// The property's check asks the board, which answers as a board does: just
// inside is accepted and sent, just outside refused and not sent.
TEST_P(BoardChecks, RunAgainstTheBoardsAnswers)
{
    cc_UnknownAcqFifo& fifo = make();
    EXPECT_NO_THROW(GetParam().accepted(fifo, nothing));
    sim().clearRequests();
    try {
        GetParam().refused(fifo, nothing);
        ADD_FAILURE() << "accepted";
    } catch (const ccException& e) {
        EXPECT_EQ(e.code(), GetParam().code);
    }
    EXPECT_TRUE(takeSets().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BoardAnswers, BoardChecks,
    ::testing::Values(
        CheckRow{"CameraPort", with<ccCameraPortProp>([](ccCameraPortProp& p) { p.cameraPort(0); }),
                 with<ccCameraPortProp>([](ccCameraPortProp& p) { p.cameraPort(1); }),
                 ccCameraPortProp::BadParams::kCode},
        CheckRow{"StrobePulseDuration",
                 with<ccStrobeProp>([](ccStrobeProp& p) { p.strobePulseDuration(0.01); }),
                 with<ccStrobeProp>([](ccStrobeProp& p) { p.strobePulseDuration(0.0100001); }),
                 ccStrobeProp::BadParams::kCode},
        CheckRow{"RoiMode", with<ccRoiProp>([](ccRoiProp& p) { p.roiMode(0); }),
                 with<ccRoiProp>([](ccRoiProp& p) { p.roiMode(1); }), ccRoiProp::BadParams::kCode}),
    [](const ::testing::TestParamInfo<CheckRow>& info) { return std::string(info.param.name); });

// The bag goes to the board as its text, whole.
TEST_F(ModuleProps, CustomPropertiesReachTheBoardAsTheBagsText)
{
    cc_UnknownAcqFifo& fifo = make();
    ccCustomProp prop;
    prop.attach(&fifo);
    ccCustomPropertyBag bag;
    bag.fromString(L"Command\tReset\n\rWrite\tGain\t12\U0001F600\n\r");
    prop.customProps(bag);
    char16_t text[64] = {};
    ASSERT_EQ(sim().lastText(ccIidFifoCustomProps, 3, text, 64), 32u); // the emoji is a surrogate pair
    EXPECT_EQ(std::u16string(text), u"Command\tReset\n\rWrite\tGain\t12\U0001F600\n\r");

    sim().setOffered(ccIidFifoCustomProps, 0); // a board without them: nothing is sent
    const uint32_t calls = sim().callCount(ccIidFifoCustomProps, 3);
    prop.customProps(bag);
    EXPECT_EQ(sim().callCount(ccIidFifoCustomProps, 3), calls);
}

// What an attached aggregate stores loads back on the board it was stored
// on, also where the board's shortest strobe delay is above the default.
TEST_F(ModuleProps, AnAttachedAggregateLoadsBackEveryValueItStored)
{
    const ccSimPropertyInfo delay{ccPropStrobeDelay, 1e-6, 0.01, 0.0, 0};
    sim().setPropertyInfos(&delay, 1);
    cc_UnknownAcqFifo& fifo = make();
    ccAnalogAcqProps stored, loaded;
    stored.attachAll(&fifo);
    stored.cameraBandwidth(0.25);
    const Bytes bytes = test_bytes::storeObject(stored);
    loaded.attachAll(&fifo);
    test_bytes::loadObject(loaded, bytes);
    EXPECT_EQ(test_bytes::storeObject(loaded), bytes);
    EXPECT_EQ(loaded.cameraBandwidth(), 0.25);
}

// Every pel of the image is the full frame's pel at the region's place.
::testing::AssertionResult holdsRegion(const ccPtrHandle<ccAcqImage>& image, const ccPelRect& region,
                                       uint32_t ticket)
{
    if (!image.rawPointer() || !image->isValid())
        return ::testing::AssertionFailure() << "no frame";
    const ccPelBuffer<unsigned char> frame = image->grey8Buffer();
    if (frame.window().width() != region.width() || frame.window().height() != region.height())
        return ::testing::AssertionFailure() << "window " << frame.window().width() << " x "
                                             << frame.window().height();
    for (int32_t y = 0; y < region.height(); ++y)
        for (int32_t x = 0; x < region.width(); ++x)
            if (*frame.pel(x, y) != ccSimPel(region.x0() + x, region.y0() + y, ticket, 0))
                return ::testing::AssertionFailure() << "pel (" << x << ", " << y << ")";
    return ::testing::AssertionSuccess();
}

TEST_F(ModuleProps, AnAcquisitionWithARegionDeliversTheRegionsPels)
{
    sim().setFrameSize(64, 48);
    cc_UnknownAcqFifo& fifo = make();
    ccRoiProp roi;
    roi.attach(&fifo);
    const ccPelRect full(0, 0, 64, 48), region(10, 20, 30, 8);
    // Each region set, then one acquisition: a refused one leaves the last.
    const std::tuple<ccPelRect, bool, ccPelRect> rows[] = {
        {region, true, region},
        {ccPelRect(40, 0, 25, 8), false, region}, // one pel past the right edge
        {ccPelRect(63, 47, 1, 1), true, ccPelRect(63, 47, 1, 1)},
        {ccPelRect(), true, full}, // no size: the whole frame
    };
    uint32_t ticket = 0;
    for (const auto& [set, accepted, delivered] : rows) {
        SCOPED_TRACE(ticket);
        if (accepted) {
            roi.roi(set);
        } else {
            EXPECT_THROW(roi.roi(set), ccUnknownFG::MissingFunctionality);
        }
        EXPECT_EQ(roi.roi(), accepted ? set : region);
        ASSERT_TRUE(fifo.start(++ticket));
        bool outcome = false;
        const ccPtrHandle<ccAcqImage> image = fifo.completeAcqImage({false, 5.0, 0, &outcome, nullptr});
        EXPECT_TRUE(outcome);
        EXPECT_TRUE(holdsRegion(image, delivered, ticket));
    }
}

} // namespace
