#include "modules/acqfifoproxy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <tuple>
#include <typeinfo>
#include <vector>

#include "acq/acqfifo.h"
#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/analog.h"
#include "acq/hyper/prop/propquery.h"
#include "acq/propreq.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/board.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "tests/modules/module_fifo_fixture.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::lastArgs;
using sim_module::sim;

// The property requests the module received since the last call.
std::vector<std::tuple<int32_t, int32_t, int32_t, double>> takeRequests()
{
    ccSimRequest raw[64];
    std::vector<std::tuple<int32_t, int32_t, int32_t, double>> out;
    for (uint32_t i = 0, n = std::min(sim().requests(raw, 64), 64u); i < n; ++i)
        out.emplace_back(raw[i].slot, raw[i].id, raw[i].channel, raw[i].value);
    sim().clearRequests();
    return out;
}

// Calls counted (and the last record kept) for a test that waits, never sleeps.
struct Calls {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
    ccAcquireInfo last;
    bool waitFor(int n)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return count >= n; });
    }
    void add(const ccAcquireInfo* info)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (info)
            last = *info;
        ++count;
        changed.notify_all();
    }
};

struct Probe : ccAcqInfoCallback, ccCallback {
    Probe(Calls& calls, bool throws = false) : calls(calls), throws(throws) {}
    void operator()() override { calls.add(nullptr); }
    void operator()(const ccAcquireInfo& info) override
    {
        calls.add(&info);
        if (throws)
            throw std::bad_alloc(); // must stay on the library's side
    }
    Calls& calls;
    bool throws;
};

class ModuleFifo : public sim_module::FifoTest {
protected:
    Calls calls_; // its callbacks reach it until the FIFO is gone
};

TEST_F(ModuleFifo, IsMadeThroughTheCreatorOrForGrey8ThroughTheCore)
{
    const std::tuple<int, int, int, int32_t, std::vector<int32_t>> cases[] = {
        {1, 1, 0, 8, {1}}, // no 83: the one value 1
        {0, 1, 0, 8, {}},  // the core makes grey 8 only
        {0, 1, 1, 0, {2, 4}},
        {1, 0, 1, 8, {1}}, // no FIFO core: nothing more is asked
    };
    const int32_t values[] = {2, 4};
    sim().setSampleValues(values, 2);
    for (const auto& [creator, core, samples, code, values] : cases) {
        sim().setOffered(ccIidFifoCreator, creator);
        sim().setOffered(ccIidFifoCore, core);
        sim().setOffered(ccIidFifoSampleValues, samples);
        const uint32_t created = sim().callCount(ccIidFifoCreator, 3), byCore = sim().callCount(ccIidGrabberCore, 5);
        if (values.empty())
            EXPECT_THROW(make(code), ccVideoFormat::NotSupported);
        else
            EXPECT_EQ(*make(code).supportedSampleValues(), values);
        EXPECT_EQ(sim().callCount(ccIidFifoCreator, 3) - created, uint32_t(creator));
        EXPECT_EQ(sim().callCount(ccIidGrabberCore, 5) - byCore, uint32_t(!creator && !values.empty()));
    }
    EXPECT_EQ(lastArgs(ccIidFifoCreator, 3).back(), 8.0); // the code
    // Without a core the acquisitions are refused, not dereferenced.
    EXPECT_THROW(fifo_->start(1), ccUnknownFG::MissingFunctionality);
}

TEST_F(ModuleFifo, SettersSendOneRecordEachAndReadBacksNeedTheValidWord)
{
    cc_UnknownAcqFifo& setters = make();
    setters.exposure(0.001);
    setters.contrast(0.7, 2);
    setters.syncModel(ccSyncModel());
    setters.strobeEnable(true);
    setters.alphaColorMode(0x1203);
    const decltype(takeRequests()) sent = {{4, ccPropExposure, -1, 0.001}, {4, ccPropContrast, 2, 0.7},
                                           {4, ccPropSyncModel, -1, 150.0}, {4, ccPropStrobeEnable, -1, 1.0},
                                           {4, ccPropAlphaColorMode, -1, 3.0}}; // the mode's low byte
    EXPECT_EQ(takeRequests(), sent);
    const auto contrast = [](cc_UnknownAcqFifo& f) { return f.contrastDefault(); };
    const auto exposure = [](cc_UnknownAcqFifo& f) { return f.exposureDefault(); };
    const auto cdc = [](cc_UnknownAcqFifo& f) { return f.cdcCalibrationDefault() ? 1.0 : 0.0; };
    const std::tuple<int, int, int32_t, double, double, double (*)(cc_UnknownAcqFifo&)> cases[] = {
        {1, 0, ccPropContrast, 0.9, 0.5, contrast},   {1, 1, ccPropContrast, 0.9, 0.9, contrast},
        {1, 0, ccPropExposure, 0.003, 2e-5, exposure}, {1, 1, ccPropExposure, 0.003, 0.003, exposure},
        {1, 1, ccPropCdcCalibrationDefault, 2.0, 1.0, cdc}, {1, 1, ccPropCdcCalibrationDefault, 0.0, 0.0, cdc},
        {0, 1, ccPropContrast, 0.9, 0.5, contrast}, // no property interface
    };
    for (const auto& [offered, valid, id, value, answer, read] : cases) {
        sim().setOffered(ccIidFifoProperties, offered);
        sim().setPropertyValue(id, value, valid);
        cc_UnknownAcqFifo& fifo = make();
        takeRequests();
        EXPECT_EQ(read(fifo), answer) << id;
        fifo.contrast(0.1, 3); // nothing without the interface
        const decltype(takeRequests()) expected = {{5, id, -1, 0.0}, {4, ccPropContrast, 3, 0.1}};
        EXPECT_EQ(takeRequests(), offered ? expected : decltype(expected)());
    }
}

TEST_F(ModuleFifo, CameraRegionRoiModesAndSyncModels)
{
    sim().setOffered(ccIidFifoRoiModes, 0);
    cc_UnknownAcqFifo& fifo = make();
    fifo.roi(ccPelRect(10, 20, 100, 50)); // corners 10, 20, 110, 70
    EXPECT_EQ(lastArgs(ccIidFifoCamera, 3), (std::vector<double>{10, 20, 100, 50}));
    EXPECT_TRUE(fifo.isRoiModeSupported(0));
    EXPECT_FALSE(fifo.isRoiModeSupported(1));
    const std::tuple<int32_t, int32_t, uint32_t, uint32_t> cases[] = {
        {0, 14, 150, 163}, {1, 1, 150, 150}, {15, 2, 150, 151}, {2, -3, 151, 150}};
    for (const auto& [actual, byDefault, actualCode, defaultCode] : cases) {
        sim().setAnswer(ccIidFifoCamera, 11, 0, actual);
        sim().setAnswer(ccIidFifoCamera, 12, 0, byDefault);
        EXPECT_EQ(fifo.actualSyncModel().code(), actualCode);
        EXPECT_EQ(fifo.defaultSyncModel().code(), defaultCode);
    }
}

TEST_F(ModuleFifo, TriggerModelsGoToTheIndexSlotOrTheCustomSlot)
{
    cc_UnknownAcqFifo& fifo = make();
    ccPtrHandle<ccTriggerModel> custom = ccTriggerModel::manual()->makeCustom();
    custom->customMode(2);
    const ccAcqModelRecord unknown{0x99, L"", {}};
    // The custom model first: the index slot is still uncalled after it.
    const std::pair<const ccAcqModelRecord*, std::vector<double>> cases[] = {{&custom->record(), {}},
        {&ccTriggerModel::slave()->record(), {3}}, {&ccTriggerModel::automatic()->record(), {1}}, {&unknown, {0}}};
    for (const auto& [model, index] : cases) {
        const uint32_t customs = sim().callCount(ccIidFifoCore, 8);
        fifo.triggerModel(*model);
        EXPECT_EQ(lastArgs(ccIidFifoCore, 7), index);
        EXPECT_EQ(sim().callCount(ccIidFifoCore, 8) - customs, uint32_t(index.empty()));
    }
    EXPECT_EQ(lastArgs(ccIidFifoCore, 8), std::vector<double>(custom->record().flags, custom->record().flags + 13));
}

TEST_F(ModuleFifo, PrepareAsksTheFullOrTheBasicInterface)
{
    const std::tuple<int, int, bool, const wchar_t*> cases[] = {
        {0, 0, false, L"kept"}, {0, 1, true, L"no result"}, {1, 1, true, L"warm"}};
    sim().setAnswer(ccIidFifoPrepareBasic, 3, 0, 1);
    sim().setAnswer(ccIidFifoPrepare, 3, 0, 1);
    sim().setText(ccIidFifoPrepare, 3, u"warm");
    for (const auto& [full, basic, ready, text] : cases) {
        sim().setOffered(ccIidFifoPrepare, full);
        sim().setOffered(ccIidFifoPrepareBasic, basic);
        std::wstring message = L"kept";
        ccTimeout forever(HUGE_VAL);
        EXPECT_EQ(make().prepare(&message, forever), ready);
        EXPECT_EQ(message, text);
    }
    EXPECT_EQ(lastArgs(ccIidFifoPrepare, 3).front(), HUGE_VAL);
    // A failed call raises nothing and leaves no text behind.
    sim_module::failNext(ccIidFifoPrepare, 3, ccBoard::Timeout(L"late", 5));
    std::wstring message = L"kept";
    ccTimeout forever(HUGE_VAL);
    EXPECT_FALSE(fifo_->prepare(&message, forever));
    EXPECT_EQ(message, L"");
}

TEST_F(ModuleFifo, CompletionCarriesTheStatusTheRecordAndTheFrame)
{
    cc_UnknownAcqFifo& fifo = make();
    sim().injectOverruns(1);
    ASSERT_TRUE(fifo.start(7) && fifo.start(8));
    const std::tuple<bool, bool, uint32_t, uint32_t, uint32_t> cases[] = {
        {false, false, 7, 1, 1}, {true, true, 8, 2, 0}};
    for (const auto& [succeeded, frame, ticket, triggerNumber, flags] : cases) {
        bool outcome = !succeeded;
        ccAcquireInfo info;
        const ccPtrHandle<ccAcqImage> image = fifo.completeAcqImage({false, 30.0, 0, &outcome, &info});
        EXPECT_EQ(outcome, succeeded);
        EXPECT_EQ(std::make_tuple(info.ticket, info.triggerNumber, info.failure.flags),
                  std::make_tuple(ticket, triggerNumber, flags));
        ASSERT_TRUE(image.rawPointer());
        EXPECT_EQ(image->isValid(), frame);
        EXPECT_EQ(image->format(), 1u);
        EXPECT_TRUE(!frame || *image->grey8Buffer().pel(5, 7) == ccSimPel(5, 7, 8, 0));
    }
    // A pel format without an acquired code: the result goes back at once.
    sim().setAnswer(ccIidResultFormat, 5, 0, 10);
    ASSERT_TRUE(fifo.start(3));
    EXPECT_THROW(fifo.completeAcqImage({false, 30.0, 0, nullptr, nullptr}), ccAcqFifo::BadParams);
    EXPECT_EQ(sim().liveFrames(), 0u);
}

TEST_F(ModuleFifo, CallbacksReplacedOrDestroyedWhileTheModuleDelivers)
{
    cc_UnknownAcqFifo& fifo = make();
    sim().setText(ccIidInfoMessage, 3, u"late");
    sim().setAnswer(ccIidInfoExtra, 3, 0, 5.0 * 4294967296.0 + 7.0);
    constexpr uint32_t kAcquisitions = 40;
    fifo.completeInfoCallback(new Probe(calls_));
    for (uint32_t i = 0; i < 2 * kAcquisitions; ++i) {
        ASSERT_TRUE(fifo.start(i));
        // Some replacements throw inside the call; that must not reach the module.
        fifo.completeInfoCallback(new Probe(calls_, i % 3 == 0));
        fifo.completeCallback(new Probe(calls_));
        if (i + 1 == kAcquisitions) { // the plain callback may miss the first
            ASSERT_TRUE(calls_.waitFor(2 * kAcquisitions - 1));
        }
    }
    fifo_.reset(); // while the second half is delivered; its worker is joined
    EXPECT_EQ(std::make_tuple(calls_.last.extra[0], calls_.last.extra[1], calls_.last.failure.message),
              std::make_tuple(7u, 5u, std::wstring(L"late"))); // the 8-byte extra value, low half first
}

TEST_F(ModuleFifo, ModuleErrorsComeBackAsTheModulesExceptions)
{
    const ccSimPropertyInfo records[] = {{ccPropExposure, 1e-6, 1.0, 2e-3, 0xfffffffeu}, {ccPropSampleX, 1, 4, 2, 0}};
    sim().setPropertyInfos(records, 2);
    std::vector<ccAcqPropertyInfo> info;
    make().buildPropertyInfo(info);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(std::make_tuple(info[0].id, info[0].minimum, info[0].maximum, info[0].defaultValue, info[0].extra),
              std::make_tuple(1000u, 1e-6, 1.0, 2e-3, uint64_t{0xfffffffeu}));
    const std::tuple<int32_t, int32_t, std::function<void()>> cases[] = {
        {ccIidFifoCreator, 3, [&] { make(); }}, // the creation status itself
        {ccIidFifoPropertyInfo, 5, [&] { fifo_->buildPropertyInfo(info); }}, // mid-list: the item goes back
        {ccIidFifoPropertySupport, 3, [&] { fifo_->propertyQuery()->syncProp(); }},
        {ccIidFifoProperties, 4, [&] { fifo_->exposure(1.0); }},
    };
    for (const auto& [iid, slot, call] : cases) {
        sim_module::failNext(iid, slot, ccBoard::Timeout(L"late", 5));
        EXPECT_THROW(call(), ccBoard::Timeout) << iid;
    }
}

TEST_F(ModuleFifo, OnlyModuleFifosCanBeTriggerMasters)
{
    const std::unique_ptr<cc_UnknownAcqFifo> master(new cc_UnknownAcqFifo(*grabber_, description_, 0));
    cc_UnknownAcqFifo& fifo = make();
    test_acq::FakeAcqFifo other;
    EXPECT_THROW(fifo.triggerMaster(&other), ccAcqFifo::InvalidMaster);
    fifo.triggerMaster(master.get());
    EXPECT_EQ(lastArgs(ccIidFifoMaster, 4), std::vector<double>{1}); // the master's core
    sim().setOffered(ccIidFifoMaster, 0); // asked each time
    EXPECT_THROW(fifo.triggerMaster(master.get()), ccAcqFifo::InvalidMaster);
    EXPECT_NO_THROW(fifo.triggerMaster(nullptr));
}

TEST_F(ModuleFifo, PropertyQueryAsksTheModuleEachTime)
{
    cc_UnknownAcqFifo& fifo = make();
    ccAcqPropertyQuery& query = *fifo.propertyQuery();
    ccAnalogAcqProps props;
    const uint32_t asked = sim().callCount(ccIidFifoPropertySupport, 3);
    EXPECT_EQ(query.syncProp(), nullptr); // not attached yet
    EXPECT_THROW(query.syncPropRef(), std::bad_cast);
    fifo.attachProps(&props);
    const int32_t syncNumber = 15;
    sim().setSupported(&syncNumber, 1);
    EXPECT_EQ(query.syncProp(), &props);
    EXPECT_EQ(&query.syncPropRef(), &props);
    sim().setSupported(nullptr, 0); // none
    EXPECT_EQ(query.syncProp(), nullptr);
    try {
        query.syncPropRef();
        ADD_FAILURE() << "an unsupported property was handed out";
    } catch (const std::bad_cast& e) {
        EXPECT_STREQ(e.what(), "bad cast");
    }
    EXPECT_EQ(sim().callCount(ccIidFifoPropertySupport, 3) - asked, 6u);
}

// One pair of questions of the property query: the module's number of its
// class, both forms, and where that class sits in an aggregate.
struct QueryPair {
    int32_t number;
    std::function<const void*(ccAcqPropertyQuery&)> pointer, reference;
    std::function<const void*(ccAcqProps&)> base;
};
template <class P>
QueryPair queryPair(int32_t number, P* (ccAcqPropertyQuery::*pointer)(), P& (ccAcqPropertyQuery::*reference)())
{
    return {number, [pointer](ccAcqPropertyQuery& q) -> const void* { return (q.*pointer)(); },
            [reference](ccAcqPropertyQuery& q) -> const void* { return &(q.*reference)(); },
            [](ccAcqProps& props) -> const void* { return static_cast<P*>(&props); }};
}

TEST_F(ModuleFifo, PropertyQueryAsksForEachClassByItsOwnNumber)
{
    typedef ccAcqPropertyQuery Q;
    const QueryPair pairs[] = {
        queryPair(1, &Q::triggerProp, &Q::triggerPropRef),
        queryPair(25, &Q::triggerFilterProp, &Q::triggerFilterPropRef),
        queryPair(2, &Q::strobeProp, &Q::strobePropRef),
        queryPair(3, &Q::strobeDelayProp, &Q::strobeDelayPropRef),
        queryPair(4, &Q::exposureProp, &Q::exposurePropRef),
        queryPair(5, &Q::settlingTimeProp, &Q::settlingTimePropRef),
        queryPair(6, &Q::timeoutProp, &Q::timeoutPropRef),
        queryPair(7, &Q::cameraPortProp, &Q::cameraPortPropRef),
        queryPair(32, &Q::cameraLocationProp, &Q::cameraLocationPropRef),
        queryPair(8, &Q::movePartCallbackProp, &Q::movePartCallbackPropRef),
        queryPair(9, &Q::overrunCallbackProp, &Q::overrunCallbackPropRef),
        queryPair(10, &Q::completeCallbackProp, &Q::completeCallbackPropRef),
        queryPair(11, &Q::pelRootPoolProp, &Q::pelRootPoolPropRef),
        queryPair(12, &Q::ctiProp, &Q::ctiPropRef),
        queryPair(13, &Q::horizAdjustProp, &Q::horizAdjustPropRef),
        queryPair(14, &Q::roiProp, &Q::roiPropRef),
        queryPair(15, &Q::syncProp, &Q::syncPropRef),
        queryPair(16, &Q::lightProp, &Q::lightPropRef),
        queryPair(17, &Q::inputLut8BitProp, &Q::inputLut8BitPropRef),
        queryPair(18, &Q::contrastBrightnessProp, &Q::contrastBrightnessPropRef),
        queryPair(19, &Q::firstPelOffsetProp, &Q::firstPelOffsetPropRef),
        queryPair(20, &Q::encoderControlProp, &Q::encoderControlPropRef),
        queryPair(21, &Q::encoderProp, &Q::encoderPropRef),
        queryPair(22, &Q::clippingProp, &Q::clippingPropRef),
        queryPair(26, &Q::offsetClampProp, &Q::offsetClampPropRef),
        queryPair(23, &Q::alphaColorProp, &Q::alphaColorPropRef),
        queryPair(24, &Q::digitalCameraControlProp, &Q::digitalCameraControlPropRef),
        queryPair(28, &Q::sampleProp, &Q::samplePropRef),
        queryPair(29, &Q::readoutDirectionProp, &Q::readoutDirectionPropRef),
        queryPair(27, &Q::cameraTestProp, &Q::cameraTestPropRef),
        queryPair(30, &Q::cdcCameraCalibrationProp, &Q::cdcCameraCalibrationPropRef),
        queryPair(31, &Q::cameraBandwidthProp, &Q::cameraBandwidthPropRef),
        queryPair(33, &Q::customProp, &Q::customPropRef),
    };
    cc_UnknownAcqFifo& fifo = make();
    Q& query = *fifo.propertyQuery();
    ccAnalogAcqProps props;
    fifo.attachProps(&props);
    for (const QueryPair& p : pairs) {
        SCOPED_TRACE(p.number);
        sim().setSupported(&p.number, 1); // this number alone
        EXPECT_EQ(p.pointer(query), p.base(props));
        EXPECT_EQ(p.reference(query), p.base(props));
        sim().setSupported(nullptr, 0);
        EXPECT_EQ(p.pointer(query), nullptr);
        EXPECT_THROW(p.reference(query), std::bad_cast);
    }
}

TEST_F(ModuleFifo, CallersRecordsGoToTheModuleWhole)
{
    sim().setPropertyValue(ccPropExposure, 0.25, 1);
    const std::tuple<int, double, uint32_t, decltype(takeRequests())> cases[] = {
        {1, 0.25, 1, {{4, ccPropContrast, 2, 0.7}, {3, ccPropExposure, 5, 0.5}}},
        {0, 0.5, 0, {}}, // neither 38 nor 92: nothing is sent and the valid word is cleared
    };
    for (const auto& [offered, value, valid, sent] : cases) {
        sim().setOffered(ccIidFifoProperties, offered);
        sim().setOffered(ccIidFifoPropertyRecord, offered);
        cc_UnknownAcqFifo& fifo = make();
        takeRequests();
        fifo.sendPropertyRequest({ccPropContrast, 2, 0.7, 1, 0});
        ccAcqPropertyRequest read{ccPropExposure, 5, 0.5, 1, 9};
        fifo.extRecordQuery(read);
        EXPECT_EQ(takeRequests(), sent);
        EXPECT_EQ(std::make_tuple(read.id, read.channel, read.value, read.valid, read.reserved),
                  std::make_tuple(int32_t(ccPropExposure), 5, value, valid, 9u));
    }
}

TEST_F(ModuleFifo, CameraAndEncoderAnswersOrTheirNeutralValues)
{
    const double limits[] = {3, 4, 50, 60};
    for (uint32_t i = 0; i < 4; ++i)
        sim().setAnswer(ccIidFifoCamera, 10, i, limits[i]);
    sim().setAnswer(ccIidFifoCamera, 8, 0, 2.5);
    sim().setAnswer(ccIidFifoCamera, 12, 0, 3);
    for (int32_t slot = 5; slot <= 7; ++slot)
        sim().setAnswer(ccIidFifoEncoder, slot, 0, slot - 1);
    const std::tuple<int, ccPelRect, double, uint32_t, std::vector<uint32_t>> cases[] = {
        {1, ccPelRect(3, 4, 50, 60), 2.5, 152, {4, 5, 6}},
        {0, ccPelRect(0, 0, 1, 1), 0.0, 150, {0, 0, 0}},
    };
    for (const auto& [offered, region, cti, sync, encoder] : cases) {
        sim().setOffered(ccIidFifoCamera, offered);
        sim().setOffered(ccIidFifoEncoder, offered);
        cc_UnknownAcqFifo& fifo = make();
        ccPelRect filled(9, 9, 9, 9);
        fifo.roiLimits(filled);
        EXPECT_EQ(filled, region);
        EXPECT_EQ(fifo.ctiLimit(), cti);
        EXPECT_EQ(fifo.defaultSyncModel().code(), sync);
        EXPECT_EQ((std::vector<uint32_t>{fifo.numEncoderPorts(), fifo.encoderQueryA(), fifo.currentEncoderCount()}),
                  encoder);
        const uint32_t resets = sim().callCount(ccIidFifoEncoder, 8), steps = sim().callCount(ccIidFifoEncoder, 4);
        fifo.triggerFromEncoder(false, true);
        fifo.stepsPerLine(12, 5);
        fifo.resetCounter();
        EXPECT_EQ(std::make_tuple(sim().callCount(ccIidFifoEncoder, 8) - resets,
                                  sim().callCount(ccIidFifoEncoder, 4) - steps),
                  std::make_tuple(uint32_t(offered), uint32_t(offered)));
    }
    EXPECT_EQ(lastArgs(ccIidFifoEncoder, 3), (std::vector<double>{0, 1}));
    EXPECT_EQ(lastArgs(ccIidFifoEncoder, 4), (std::vector<double>{12, 5}));
}

TEST_F(ModuleFifo, ExtensionAndHookCallsNeedTheirInterface)
{
    sim().setAnswer(ccIidFifoExtension, 3, 0, 11);
    sim().setAnswer(ccIidFifoExtension, 4, 0, 12);
    sim().setAnswer(ccIidFifoHooks, 3, 0, 13);
    sim().setAnswer(ccIidFifoHooks, 5, 0, 14);
    const std::tuple<int32_t, int32_t, uint32_t, std::function<uint32_t(cc_UnknownAcqFifo&)>> cases[] = {
        {ccIidFifoExtension, 3, 11, [](cc_UnknownAcqFifo& f) { return f.extQueryA(); }},
        {ccIidFifoExtension, 4, 12, [](cc_UnknownAcqFifo& f) { return f.extQueryB(7); }},
        {ccIidFifoHooks, 3, 13, [](cc_UnknownAcqFifo& f) { return f.hookZeroB(); }},
        {ccIidFifoHooks, 4, 0, [](cc_UnknownAcqFifo& f) { return f.noOpHookC(), 0u; }},
        {ccIidFifoHooks, 5, 14, [](cc_UnknownAcqFifo& f) { return f.hookZeroA(); }},
    };
    for (const auto& [iid, slot, answer, call] : cases) {
        sim().setOffered(iid, 1);
        const uint32_t calls = sim().callCount(iid, slot);
        EXPECT_EQ(call(make()), answer) << iid << ' ' << slot;
        // The status is not checked: a failed call gives its zeroed out value.
        sim_module::failNext(iid, slot, ccBoard::Timeout(L"late", 5));
        EXPECT_EQ(call(*fifo_), 0u) << iid << ' ' << slot;
        EXPECT_EQ(sim().callCount(iid, slot) - calls, 2u) << iid << ' ' << slot;
        sim().setOffered(iid, 0);
        EXPECT_THROW(call(make()), ccUnknownFG::MissingFunctionality) << iid << ' ' << slot;
    }
    EXPECT_EQ(lastArgs(ccIidFifoExtension, 4), std::vector<double>{7});
}

TEST_F(ModuleFifo, HookFalseCFillsTheRecordFromThePelPool)
{
    using Record = std::array<uint32_t, 6>;
    const std::tuple<int, double, double, bool, Record> cases[] = {
        {0, 1, 7, false, {0xff, 1, 2, 3, 4, 5}}, // no pel pool: untouched
        {1, 0, 7, false, {0, 1, 2, 3, 4, 5}},
        {1, 1, 0, true, {0, 1, 2, 3, 4, 5}},
        {1, 1, 7, true, {0x10, 1, 2, 3, 4, 3}},
    };
    for (const auto& [offered, flag, first, answer, filled] : cases) {
        sim().setOffered(ccIidFifoPelPool, offered);
        sim().setAnswer(ccIidFifoPelPool, 3, 0, flag);
        sim().setAnswer(ccIidFifoPelPool, 4, 0, first);
        Record record{0xff, 1, 2, 3, 4, 5};
        const uint32_t words = sim().callCount(ccIidFifoPelPool, 4);
        EXPECT_EQ(make().hookFalseC(record), answer);
        EXPECT_EQ(record, filled);
        EXPECT_EQ(sim().callCount(ccIidFifoPelPool, 4) - words, uint32_t(offered && flag != 0));
    }
    sim_module::failNext(ccIidFifoPelPool, 4, ccBoard::Timeout(L"late", 5));
    Record record{};
    EXPECT_THROW(fifo_->hookFalseC(record), ccBoard::Timeout);
}

} // namespace
