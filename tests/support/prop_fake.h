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
    return test_bytes::objectRecord("ccTestCallback", test_bytes::cat({{0x00, 0x00}, test_bytes::le(uint32_t(value), 4)}));
}

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
    void cameraPort(uint32_t v) override { log("cameraPort", v); }
    void cameraLocation(ccCameraPort* l) override { log("cameraLocation", l == validLocation); }
    void completeCallback(const ccPtrHandle<ccCallback>& c) override { install("completeCallback", c); }
    void movePartCallback(const ccPtrHandle<ccCallback>& c) override { install("movePartCallback", c); }
    void overrunCallback(const ccPtrHandle<ccCallback>& c) override { install("overrunCallback", c); }
    void install(const char* op, const ccPtrHandle<ccCallback>& c)
    {
        log(op, c.rawPointer() != nullptr);
        callback = c;
    }
    void exposure(double v) override { log("exposure", v); }
    void settlingTime(double v) override { log("settlingTime", v); }
    void pelRootPool(const ccPtrHandle<ccPelRootPool>&) override { log("pelRootPool"); }
    void timeout(double v) override { log("timeout", v); }
    void strobeEnable(bool v) override { log("strobeEnable", v); }
    void strobePulseDuration(double v) override { log("strobePulseDuration", v); }
    void strobePulsePolarityHigh(bool v) override { log("strobePulsePolarityHigh", v); }
    void strobeDelay(double v) override { log("strobeDelay", v); }
    void cameraBandwidth(double v) override { log("cameraBandwidth", v); }
    void syncModel(const ccSyncModel& m) override { log("syncModel", m.code()); }
    bool triggerEnabled() override { return enabled; }
    void triggerEnable(bool v) override
    {
        log("triggerEnable", v);
        enabled = v;
    }
    void triggerModel(const ccAcqModelRecord& r) override { log("triggerModel", r.code); }
    void triggerLowToHigh(bool v) override { log("triggerLowToHigh", v); }
    void triggerMaster(cc_AcqFifo* m) override { log("triggerMaster", m != nullptr); }
    void chargeTransferInterval(double v) override { log("chargeTransferInterval", v); }
    void horizontalAdjustment(double v) override { log("horizontalAdjustment", v); }
    void roi(const ccPelRect& r) override { log("roi", r.x0(), r.y0(), r.x1(), r.y1()); }
    void roiMode(uint32_t v) override { log("roiMode", v); }
    bool isRoiModeSupported(uint32_t mode) override { return roiModes.count(mode) != 0; }
    void lightEnabled(bool v) override { log("lightEnabled", v); }
    void brightFieldPowerRatio(double v) override { log("brightFieldPowerRatio", v); }
    void lightPower(double v) override { log("lightPower", v); }
    void lightDelay(double v) override { log("lightDelay", v); }
    void auxLightPort(uint32_t v) override { log("auxLightPort", int32_t(v)); }
    void auxBrightFieldPowerRatio(double v) override { log("auxBrightFieldPowerRatio", v); }
    void auxLightPower(double v) override { log("auxLightPower", v); }
    void clippingEnabled(uint8_t v) override { log("clippingEnabled", v); }
    void clippingLowLevel(uint8_t v) override { log("clippingLowLevel", v); }
    void clippingHighLevel(uint8_t v) override { log("clippingHighLevel", v); }
    void alphaColorEnabled(uint8_t v) override { log("alphaColorEnabled", v); }
    void alphaColorValue(int32_t v) override { log("alphaColorValue", v); }
    void alphaColorMode(uint32_t v) override { log("alphaColorMode", v); }
    void digitalHighGainSelected(bool v) override { log("digitalHighGainSelected", v); }
    void masterClockFrequency(double v) override { log("masterClockFrequency", v); }
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
    void firstPelOffset(uint8_t v) override { log("firstPelOffset", v); }
    void resetCounterOnHardwareTrigger(bool v) override { log("resetCounterOnHardwareTrigger", v); }
    void testEncoderEnabled(bool v) override { log("testEncoderEnabled", v); }
    void testEncoderDirectionPositive(bool v) override { log("testEncoderDirectionPositive", v); }
    void triggerFromEncoder(bool a, bool b) override { log("triggerFromEncoder", a, b); }
    void stepsPerLine(uint32_t a, uint32_t b) override { log("stepsPerLine", a, b); }
    void encoderPort(uint32_t v) override { log("encoderPort", v); }
    void encoderOffset(int32_t v) override { log("encoderOffset", v); }
    void acquireDirectionPositive(bool v) override { log("acquireDirectionPositive", v); }
    void useSingleChannel(bool v) override { log("useSingleChannel", v); }
    void encoderResolution(uint32_t v) override { log("encoderResolution", v); }
    void startAcqOnEncoderCount(uint32_t v) override { log("startAcqOnEncoderCount", v); }
    void ignoreBackwardsMotionBetweenAcquires(bool v) override { log("ignoreBackwardsMotionBetweenAcquires", v); }
    void ignoreTooFastEncoder(bool v) override { log("ignoreTooFastEncoder", v); }
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

} // namespace test_prop
