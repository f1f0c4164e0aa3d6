// The board of the property tests: logs every property setter it hears as
// "op arg arg" (bools and integers as numbers, doubles exactly) and refuses
// the op named in refuse ("*": every one), or one exact call, before logging.
#pragma once
#include <cstdint>
#include <iomanip>
#include <new>
#include <set>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/syncmodel.h"
#include "acq/trigmodel.h"
#include "std/callback.h"
#include "tests/support/fake_acqfifo.h"
#include "tests/support/stored.h"

namespace test_prop {

typedef std::vector<std::string> Calls;

// "op arg arg": bools and integers as numbers, doubles exactly.
template <class... A>
std::string call(const std::string& op, A... args)
{
    std::ostringstream os;
    os << std::setprecision(17) << op;
    ((os << ' ' << +args), ...);
    return os.str();
}
typedef std::vector<unsigned char> Table;

// 256 entries: entry(i) each. The input table's default clips to 15..240.
inline Table table(int (*entry)(int))
{
    Table t;
    for (int i = 0; i < 256; ++i)
        t.push_back(uint8_t(entry(i)));
    return t;
}
inline const Table kClipTable = table([](int i) { return i < 15 ? 15 : i > 240 ? 240 : i; });
inline const Table kReversed = table([](int i) { return 255 - i; });

// A notification the archive can carry (registered by the tests that load
// one), and its stored object holding value.
struct TestCallback : ccCallback {
    static constexpr const char* kStoredName = "class ccTestCallback";
    static ccPersistent* cmCreate() { return new (std::nothrow) TestCallback; }
    void operator()() override {}
    const char* storedTypeName() const override { return kStoredName; }
    void archive(ccArchive& ar) override
    {
        if (ccArchiveVisit::begin(this, typeid(TestCallback)))
            return;
        ccArchiveVersion(ar, 0, "ccTestCallback", 0);
        ccPersistent::archive(ar);
        ar.archive(value);
        ccArchiveVisit::end(this, typeid(TestCallback));
    }
    int32_t value = 0;
};
inline test_bytes::Bytes callbackObject(int32_t value)
{
    using namespace test_bytes;
    return objectRecord("ccTestCallback", cat({{0x00, 0x00}, le(uint32_t(value), 4)}));
}

// An override of a one-value setter that logs it.
#define LOGGED(op, T) \
    void op(T v) override { log(#op, v); }

struct Board : test_acq::FakeAcqFifo {
    Calls calls;
    std::string refuse;
    std::vector<Table> tables; // each input table sent
    uint32_t channels = 1, luts = 256, encoderPorts = 0;
    double contrastAnswer = 0.5, brightnessAnswer = 0.5, exposureAnswer = 2e-5;
    bool enabled = true, validMaster = true, acceptsPools = true, cdcDefault = false;
    std::set<uint32_t> roiModes{0, 2};
    ccCameraPort* validLocation = nullptr;
    ccPtrHandle<ccPelRootPool> ownPool;
    ccPtrHandle<ccCallback> callback; // the last one installed

    template <class... A>
    void log(const char* op, A... args)
    {
        const std::string text = call(op, args...);
        if (refuse == "*" || refuse == op || refuse == text)
            throw ccUnsupportedHW();
        calls.push_back(text);
    }

    void contrast(double v, int32_t ch) override { log("contrast", v, ch); }
    void brightness(double v, int32_t ch) override { log("brightness", v, ch); }
    void inputLut(const uint8_t* t, uint32_t n, int32_t ch) override
    {
        log("inputLut", n, ch);
        tables.emplace_back(t, t + n);
    }
    LOGGED(cameraPort, uint32_t)
    void cameraLocation(ccCameraPort* l) override { log("cameraLocation", l == validLocation); }
    void completeCallback(const ccPtrHandle<ccCallback>& c) override { install("completeCallback", c); }
    void movePartCallback(const ccPtrHandle<ccCallback>& c) override { install("movePartCallback", c); }
    void overrunCallback(const ccPtrHandle<ccCallback>& c) override { install("overrunCallback", c); }
    void install(const char* op, const ccPtrHandle<ccCallback>& c)
    {
        log(op, c.rawPointer() != nullptr);
        callback = c;
    }
    LOGGED(exposure, double) LOGGED(settlingTime, double)
    void pelRootPool(const ccPtrHandle<ccPelRootPool>&) override { log("pelRootPool"); }
    LOGGED(timeout, double) LOGGED(strobeEnable, bool) LOGGED(strobePulseDuration, double)
    LOGGED(strobePulsePolarityHigh, bool) LOGGED(strobeDelay, double) LOGGED(cameraBandwidth, double)
    void syncModel(const ccSyncModel& m) override { log("syncModel", m.code()); }
    bool triggerEnabled() override { return enabled; }
    void triggerEnable(bool v) override
    {
        log("triggerEnable", v);
        enabled = v;
    }
    void triggerModel(const ccAcqModelRecord& r) override { log("triggerModel", r.code); }
    LOGGED(triggerLowToHigh, bool)
    void triggerMaster(cc_AcqFifo* m) override { log("triggerMaster", m != nullptr); }
    LOGGED(chargeTransferInterval, double) LOGGED(horizontalAdjustment, double)
    void roi(const ccPelRect& r) override { log("roi", r.x0(), r.y0(), r.x1(), r.y1()); }
    LOGGED(roiMode, uint32_t)
    bool isRoiModeSupported(uint32_t mode) override { return roiModes.count(mode) != 0; }
    LOGGED(lightEnabled, bool) LOGGED(brightFieldPowerRatio, double) LOGGED(lightPower, double)
    LOGGED(lightDelay, double)
    void auxLightPort(uint32_t v) override { log("auxLightPort", int32_t(v)); }
    LOGGED(auxBrightFieldPowerRatio, double) LOGGED(auxLightPower, double) LOGGED(clippingEnabled, uint8_t)
    LOGGED(clippingLowLevel, uint8_t) LOGGED(clippingHighLevel, uint8_t) LOGGED(alphaColorEnabled, uint8_t)
    LOGGED(alphaColorValue, int32_t) LOGGED(alphaColorMode, uint32_t) LOGGED(digitalHighGainSelected, bool)
    LOGGED(masterClockFrequency, double)
    void customProps(const ccCustomPropertyBag& bag) override
    {
        const std::wstring text = bag.asString();
        log(("customProps " + std::string(text.begin(), text.end())).c_str());
    }
    void cdcCameraCalibration(const ccCdcCameraCalibrationProp& p) override
    {
        log("cdcCameraCalibration", p.outlierPixelCorrectionEnabled(), p.firstCalibrationByte(),
            p.secondCalibrationByte(), p.rowColumnCalibrationEnabled());
    }
    void readoutDirection(const ccReadoutDirectionProp& p) override
    {
        log("readoutDirection", p.horizontalReadoutReversed(), p.verticalReadoutReversed());
    }
    void sample(const ccSampleProp& p) override { log("sample", p.sampleX(), p.sampleY()); }
    void cameraTest(const ccCameraTestProp& p) override
    {
        log("cameraTest", p.firstMember(), p.secondMember(), p.thirdMember());
    }
    void offsetClamp(const ccOffsetClampProp& p) override { log("offsetClamp", p.offsetClampMode()); }
    void triggerFilter(const ccTriggerFilterProp& p) override
    {
        log("triggerFilter", p.minTriggerWidth(), p.minTriggerPeriod(), p.triggerDelay(), p.ignoreMissedTrigger());
    }
    LOGGED(firstPelOffset, uint8_t) LOGGED(resetCounterOnHardwareTrigger, bool) LOGGED(testEncoderEnabled, bool)
    LOGGED(testEncoderDirectionPositive, bool)
    void triggerFromEncoder(bool a, bool b) override { log("triggerFromEncoder", a, b); }
    void stepsPerLine(uint32_t a, uint32_t b) override { log("stepsPerLine", a, b); }
    LOGGED(encoderPort, uint32_t) LOGGED(encoderOffset, int32_t) LOGGED(acquireDirectionPositive, bool)
    LOGGED(useSingleChannel, bool) LOGGED(encoderResolution, uint32_t) LOGGED(startAcqOnEncoderCount, uint32_t)
    LOGGED(ignoreBackwardsMotionBetweenAcquires, bool) LOGGED(ignoreTooFastEncoder, bool)
    void resetCounter() override { log("resetCounter"); }

    uint32_t numEncoderPorts() override { return encoderPorts; }
    uint32_t currentEncoderCount() override { return 77; }
    uint32_t numCameraPorts() override { return 2; }
    uint32_t numChannels() override { return channels; }
    uint32_t numInputLuts() override { return luts; }
    bool isCameraLocationValid(ccCameraPort* l) override { return l && l == validLocation; }
    double contrastDefault() override { return contrastAnswer; }
    double brightnessDefault() override { return brightnessAnswer; }
    bool cdcCalibrationDefault() override { return cdcDefault; }
    double exposureDefault() override { return exposureAnswer; }
    ccPtrHandle<ccPelRootPool> pelRootPoolHandle() override { return ownPool; }
    double ctiLimit() override { return 0.004; }
    double horizAdjustLimit() override { return 12.5; }
    void roiLimits(ccPelRect& limits) override { limits = ccPelRect(4, 5, 640, 480); }
    bool acceptsPelRootPool(const ccPtrHandle<ccPelRootPool>&) override
    {
        log("acceptsPelRootPool");
        return acceptsPools;
    }
    bool isValidMaster(cc_AcqFifo*) override { return validMaster; }
};

#undef LOGGED

} // namespace test_prop
