// The pattern every persistent property class shares, in one table: stored defaults, each range rule's boundary,
// sets forwarded when attached and only stored when detached, the board's refusal, every stored version loaded
// through the setters, a newer one refused naming the class's file. Archives are written by hand from the formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <string>

#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/startup.h"
#include "acq/propreq.h"
#include "tests/support/prop_fake.h"
#include "tests/support/stored.h"

namespace {

using namespace test_bytes;
using namespace test_prop;

const double kInf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();
const double kTiny = -1e-300;
const uint32_t kRefused = ccUnsupportedHW::kCode, kUnknown = ccArchive::UnknownVersion::kCode,
               kBadContent = ccArchive::BadContent::kCode;

double above(double v) { return std::nextafter(v, kInf); }
double below(double v) { return std::nextafter(v, -kInf); }
// b with its bytes from at on replaced by part.
Bytes patch(Bytes b, size_t at, const Bytes& part)
{
    std::copy(part.begin(), part.end(), b.begin() + long(at));
    return b;
}

struct Class {
    const char* name;
    std::wstring file;
    void (*attach)(ccPersistent&, cc_AcqFifo*);
    ccCallback* (*held)(ccPersistent&) = nullptr; // a notification's
};
template <class P>
struct Of : Class {
    typedef P Type;
    explicit Of(const wchar_t* file)
        : Class{P::kStoredName, std::wstring(L"acq/hyper/prop/") + file,
                [](ccPersistent& p, cc_AcqFifo* f) { dynamic_cast<P&>(p).attach(f); }}
    {
    }
};
const Of<ccTriggerProp> kTrig(L"trig"); const Of<ccStrobeProp> kStrobe(L"strobe");
const Of<ccStrobeDelayProp> kDelay(L"strobe"); const Of<ccExposureProp> kExposure(L"exposure");
const Of<ccSettlingTimeProp> kSettle(L"settletm"); const Of<ccLightProp> kLight(L"light");
const Of<ccTimeoutProp> kTimeout(L"timeout"); const Of<ccClippingProp> kClip(L"clip");
const Of<ccAlphaColorProp> kAlpha(L"alpha"); const Of<ccCameraTestProp> kTest(L"cameratest");
const Of<ccCameraPortProp> kPort(L"camport"); const Of<ccCameraBandwidthProp> kBand(L"camban");
const Of<ccDigitalCameraControlProp> kCtl(L"camctl"); const Of<ccCtiProp> kCti(L"cti");
const Of<ccHorizAdjustProp> kHoriz(L"horizadj"); const Of<ccContrastBrightnessProp> kCb(L"bright");
const Of<cc8BitInputLutProp> kLut(L"ilut8"); const Of<ccFirstPelOffsetProp> kPel(L"lsprops");
const Of<ccEncoderControlProp> kEncCtl(L"lsprops"); const Of<ccEncoderProp> kEnc(L"lsprops");
const Of<ccRoiProp> kRoi(L"roi"); const Of<ccOffsetClampProp> kClamp(L"offsetclamp");
const Of<ccSampleProp> kSample(L"sample"); const Of<ccReadoutDirectionProp> kReadout(L"readdir");
const Of<ccTriggerFilterProp> kFilter(L"triggerfilter"); const Of<ccCdcCameraCalibrationProp> kCdc(L"cdc_calib");
const Of<ccSyncProp> kSync(L"sync"); const Of<ccCustomProp> kCustom(L"custom");
template <class P, const ccPtrHandle<ccCallback>& (P::*get)() const>
struct OfCallback : Of<P> {
    OfCallback() : Of<P>(L"callback")
    {
        this->held = [](ccPersistent& p) { return (dynamic_cast<P&>(p).*get)().rawPointer(); };
    }
};
const OfCallback<ccMovePartCallbackProp, &ccMovePartCallbackProp::movePartCallback> kMove;
const OfCallback<ccOverrunCallbackProp, &ccOverrunCallbackProp::overrunCallback> kOverrun;
const OfCallback<ccCompleteCallbackProp, &ccCompleteCallbackProp::completeCallback> kComplete;

// A row's class and a set on it.
#define SET(C, what) C, [](ccPersistent& o) { dynamic_cast<decltype(C)::Type&>(o).what; }

// Stored forms at the current versions.
Bytes strobe(uint8_t on, double pulse, uint8_t high) { return level(0, cat({{on}, dbl(pulse), {high}})); }
Bytes light(double ratio, double power, double delay, uint32_t port, double auxRatio, double auxPower)
{
    return level(0, cat({dbl(ratio), dbl(power), dbl(delay), u32(port), dbl(auxRatio), dbl(auxPower)}));
}
Bytes roi(uint32_t x0, uint32_t y0, uint32_t x1, uint32_t y1, uint32_t mode)
{
    return level(1, cat({{0}, u32(x0), u32(y0), u32(x1), u32(y1), u32(mode)}));
}
Bytes filter(uint8_t ignore, double width, double period, double delay)
{
    return level(1, cat({{ignore}, dbl(width), dbl(period), dbl(delay)}));
}
// The persistent level comes before the version byte.
Bytes sync(uint8_t version, uint32_t index) { return cat({{0x02, 0x01, 0x00, version}, u32(index)}); }
// The text as a wide string: its length in UTF-16 units, FF FE, the units, FF FE.
Bytes text(uint8_t version, const std::string& ascii)
{
    Bytes out = cat({level(version, {}), {uint8_t(ascii.size()), 0xFF, 0xFE}});
    for (char c : ascii)
        out.insert(out.end(), {uint8_t(c), 0x00});
    return cat({out, {0xFF, 0xFE}});
}
Bytes callback(int32_t value) { return level(0, callbackObject(value)); }

struct NotCallback : virtual ccPersistent {
    static constexpr const char* kStoredName = "class ccTestNotCallback";
    static ccPersistent* cmCreate() { return new (std::nothrow) NotCallback; }
    const char* storedTypeName() const override { return kStoredName; }
};
Bytes lut(const Bytes& t) { return level(2, cat({u32(256), u32(1), t})); }
Bytes lut512() { return level(2, cat({u32(512), u32(1), kReversed, kClipTable})); }
Bytes cb2(double c0, double b0, double c1, double b1)
{
    return level(2, cat({u32(2), dbl(c0), dbl(b0), dbl(c1), dbl(b1)}));
}
// The encoder's flags: test enabled and direction, combined, first and second trigger.
Bytes encoder(const Bytes& flags, uint32_t steps, uint32_t sixteenths, uint32_t port, uint32_t offset, uint8_t forward,
              uint8_t single, uint32_t resolution, uint32_t start, uint8_t backwards, uint8_t tooFast)
{
    return level(5, cat({flags, u32(steps), u32(sixteenths), u32(port), u32(offset), {forward, single},
                         u32(resolution), u32(start), {backwards, tooFast}}));
}
const Bytes kEncoder = encoder({0, 1, 0, 0, 0}, 3, 0, 0, 0, 1, 0, 0, 0, 0, 1);
// Older encoder layouts: the port, offset and direction, and the tail of version 4.
const Bytes kEncPort = cat({u32(1), u32(uint32_t(-3)), {0}}), kEncTail = cat({{0}, u32(5), u32(65535), {0}});
const Bytes kEncBefore = encoder({0, 1, 1, 1, 1}, 9, 9, 0, 0, 1, 1, 11, 12, 1, 0);
Calls operator+(Calls a, const Calls& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Calls encCalls(const std::string& trigger, const std::string& steps)
{
    return {"testEncoderEnabled 1", "testEncoderDirectionPositive 0", "triggerFromEncoder " + trigger,
            "stepsPerLine " + steps, "encoderPort 1", "encoderOffset -3", "acquireDirectionPositive 0"};
}
const Calls kEncV4 = {"useSingleChannel 0", "encoderResolution 5", "startAcqOnEncoderCount 65535",
                      "ignoreBackwardsMotionBetweenAcquires 0"};

const uint32_t kTrigBad = ccTriggerProp::BadParams::kCode, kStrobeBad = ccStrobeProp::BadParams::kCode,
               kDelayBad = ccStrobeDelayProp::BadParams::kCode, kExpBad = ccExposureProp::BadParams::kCode,
               kLightBad = ccLightProp::BadParams::kCode, kTimeBad = ccTimeoutProp::BadParams::kCode,
               kPortBad = ccCameraPortProp::BadParams::kCode, kBandBad = ccCameraBandwidthProp::BadParams::kCode,
               kCtlBad = ccDigitalCameraControlProp::BadParams::kCode, kCtiBad = ccCtiProp::BadParams::kCode,
               kHorizBad = ccHorizAdjustProp::BadParams::kCode, kCbBad = ccContrastBrightnessProp::BadParams::kCode,
               kPelBad = ccFirstPelOffsetProp::BadParams::kCode, kEncBad = ccEncoderProp::BadParams::kCode,
               kRoiBad = ccRoiProp::BadParams::kCode, kFilterBad = ccTriggerFilterProp::BadParams::kCode,
               kBagBad = ccCustomPropertyBag::BadParams::kCode, kLutBad = cc8BitInputLutProp::BadParams::kCode;

const std::string kBag = "Command\tReset\n\rWrite\tGain\t12\n\r";
ccCustomPropertyBag bag(const std::string& ascii)
{
    ccCustomPropertyBag b;
    b.fromString(std::wstring(ascii.begin(), ascii.end()));
    return b;
}

typedef std::function<void(ccPersistent&)> Action;
Action ld(const Bytes& bytes) { return [bytes](ccPersistent& p) { loadObject(p, bytes); }; }

// Detached, attached, or attached to a board that refuses the op named ("*": every op).
const char *const D = nullptr, *const A = "";

struct Row {
    const Class& c;
    Action act; // a set or a load; none: the defaults
    const char* refuse;
    uint32_t code;
    Calls calls;
    Bytes after;
    Bytes before = {}; // loaded detached first, if any
    uint32_t channels = 1, luts = 256, encoderPorts = 0; // the board's
};

TEST(PropertyPattern, EveryPersistentClass)
{
    ccAcqHyperPropStartup();
    static const bool once = (ccRegisterPersistent<TestCallback>(), ccRegisterPersistent<NotCallback>(), true);
    (void)once;
    const Action setLut = [](ccPersistent& o) {
        dynamic_cast<cc8BitInputLutProp&>(o).inputLut(kReversed.data(), 256, 0);
    };
    // Each class's stored defaults.
    const Bytes enc = kEncoder, filt = filter(1, 5e-6, 0, 0), lit = light(0, 0, 0.03, ~0u, 0, 0),
                stb = strobe(0, 2e-5, 1), cb = level(2, cat({u32(1), dbl(0.5), dbl(0.5)})),
                ctl = level(0, cat({{0}, dbl(32)})), roi0 = roi(0, 0, 0, 0, 0), inf = level(0, dbl(kInf)),
                smp = level(0, cat({u32(1), u32(1)})), alpha = level(1, {0, 9, 0, 0, 0, 0}),
                cdc = level(0, {0, 85, 25, 1}), none = level(0, kNoObject), empty = text(0, ""),
                clip = level(0, {1, 15, 240}), trig = level(1, {1, 1}), cb77 = callback(77);
    const Row rows[] = {
        // trigger: enabled, low to high
        {kTrig, {}, D, 0, {}, trig},
        {SET(kTrig, triggerEnable(false)), A, 0, {"triggerEnable 0"}, level(1, {0, 1})},
        {SET(kTrig, triggerLowToHigh(false)), D, 0, {}, level(1, {1, 0})},
        {SET(kTrig, triggerLowToHigh(false)), "*", kRefused, {}, trig},
        {SET(kTrig, triggerModel(static_cast<const ccTriggerModel*>(nullptr))), A, kTrigBad, {}, trig},
        {kTrig, ld(level(1, {0, 1})), A, 0, {"triggerEnable 0", "triggerLowToHigh 1"}, level(1, {0, 1})},
        // Version 0 held a model word that is not read back: the model becomes manual.
        {kTrig, ld(level(0, {1, 0, 0x78, 0x56, 0x34, 0x12})), A, 0,
         {"triggerEnable 1", "triggerLowToHigh 0", "triggerModel 128"}, level(1, {1, 0})},
        {kTrig, ld(level(2, {0, 1})), A, kUnknown, {}, trig},
        // strobe: enabled, pulse duration, polarity high; the board's record bounds the duration at 0.5
        {kStrobe, {}, D, 0, {}, stb},
        {SET(kStrobe, strobeEnable(true)), A, 0, {"strobeEnable 1"}, strobe(1, 2e-5, 1)},
        {SET(kStrobe, strobePulsePolarityHigh(false)), A, 0, {"strobePulsePolarityHigh 0"}, strobe(0, 2e-5, 0)},
        {SET(kStrobe, strobePulseDuration(0.0)), A, 0, {"strobePulseDuration 0"}, strobe(0, 0, 1)},
        {SET(kStrobe, strobePulseDuration(kTiny)), D, kStrobeBad, {}, stb},
        {SET(kStrobe, strobePulseDuration(kNaN)), D, kStrobeBad, {}, stb},
        {SET(kStrobe, strobePulseDuration(0.5)), A, 0, {"strobePulseDuration 0.5"}, strobe(0, 0.5, 1)},
        {SET(kStrobe, strobePulseDuration(above(0.5))), A, kStrobeBad, {}, stb},
        {SET(kStrobe, strobePulseDuration(1e9)), D, 0, {}, strobe(0, 1e9, 1)},
        {SET(kStrobe, strobeEnable(true)), "*", kRefused, {}, stb},
        {kStrobe, ld(strobe(1, 0.25, 0)), A, 0,
         {"strobeEnable 1", "strobePulseDuration 0.25", "strobePulsePolarityHigh 0"}, strobe(1, 0.25, 0)},
        {kStrobe, ld(level(1, cat({{1}, dbl(0.25), {0}}))), A, kUnknown, {}, stb},
        // strobe delay: the board's record bounds it to 1e-3..0.25, and attaching brings the default up to it
        {kDelay, {}, D, 0, {}, level(1, dbl(0))},
        {SET(kDelay, strobeDelay(1e-3)), A, 0, {"strobeDelay 0.001"}, level(1, dbl(1e-3))},
        {SET(kDelay, strobeDelay(below(1e-3))), A, kDelayBad, {}, level(1, dbl(1e-3))},
        {SET(kDelay, strobeDelay(0.25)), A, 0, {"strobeDelay 0.25"}, level(1, dbl(0.25))},
        {SET(kDelay, strobeDelay(above(0.25))), A, kDelayBad, {}, level(1, dbl(1e-3))},
        {SET(kDelay, strobeDelay(kNaN)), D, kDelayBad, {}, level(1, dbl(0))},
        {SET(kDelay, strobeDelay(-1.0)), D, 0, {}, level(1, dbl(-1))},
        {SET(kDelay, strobeDelay(0.125)), "*", kRefused, {}, level(1, dbl(1e-3))},
        {kDelay, ld(level(1, dbl(0.125))), A, 0, {"strobeDelay 0.125"}, level(1, dbl(0.125))},
        // Version 0: whole microseconds.
        {kDelay, ld(level(0, u32(1500))), A, 0, {call("strobeDelay", 1500 * 1e-6)}, level(1, dbl(1500 * 1e-6))},
        {kDelay, ld(level(2, dbl(0.125))), A, kUnknown, {}, level(1, dbl(1e-3))},
        {kExposure, {}, D, 0, {}, level(0, dbl(2e-5))},
        {SET(kExposure, exposure(0.0)), A, 0, {"exposure 0"}, level(0, dbl(0))},
        {SET(kExposure, exposure(kTiny)), A, kExpBad, {}, level(0, dbl(2e-5))},
        {SET(kExposure, exposure(kNaN)), D, kExpBad, {}, level(0, dbl(2e-5))},
        {SET(kExposure, exposure(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {SET(kExposure, exposure(0.5)), "*", kRefused, {}, level(0, dbl(2e-5))},
        {kExposure, ld(level(0, dbl(0.5))), A, 0, {"exposure 0.5"}, level(0, dbl(0.5))},
        {kExposure, ld(level(1, dbl(0.5))), A, kUnknown, {}, level(0, dbl(2e-5))},
        {kSettle, {}, D, 0, {}, level(0, dbl(0))},
        {SET(kSettle, settlingTime(-0.5)), A, 0, {"settlingTime -0.5"}, level(0, dbl(-0.5))},
        {SET(kSettle, settlingTime(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {SET(kSettle, settlingTime(0.5)), "*", kRefused, {}, level(0, dbl(0))},
        {kSettle, ld(level(0, dbl(2))), A, 0, {"settlingTime 2"}, level(0, dbl(2))},
        {kSettle, ld(level(1, dbl(2))), A, kUnknown, {}, level(0, dbl(0))},
        // light: ratio, power, delay, aux port, aux ratio, aux power; the enabled flag is not stored
        {kLight, {}, D, 0, {}, lit},
        {SET(kLight, lightEnabled(true)), A, 0, {"lightEnabled 1"}, lit},
        {SET(kLight, brightFieldPowerRatio(0.0)), A, 0, {"brightFieldPowerRatio 0"}, lit},
        {SET(kLight, brightFieldPowerRatio(kTiny)), A, kLightBad, {}, lit},
        {SET(kLight, brightFieldPowerRatio(1.0)), A, 0, {"brightFieldPowerRatio 1"}, light(1, 0, 0.03, ~0u, 0, 0)},
        {SET(kLight, brightFieldPowerRatio(1.0000001)), D, kLightBad, {}, lit},
        {SET(kLight, brightFieldPowerRatio(kNaN)), D, kLightBad, {}, lit},
        {SET(kLight, lightPower(1.0)), A, 0, {"lightPower 1"}, light(0, 1, 0.03, ~0u, 0, 0)},
        {SET(kLight, lightPower(1.0000001)), A, kLightBad, {}, lit},
        {SET(kLight, lightPower(kTiny)), D, kLightBad, {}, lit},
        {SET(kLight, lightPower(kNaN)), D, kLightBad, {}, lit},
        {SET(kLight, lightDelay(0.0)), A, 0, {"lightDelay 0"}, light(0, 0, 0, ~0u, 0, 0)},
        {SET(kLight, lightDelay(kTiny)), A, kLightBad, {}, lit},
        {SET(kLight, lightDelay(kNaN)), D, kLightBad, {}, lit},
        {SET(kLight, auxLightPort(3)), A, 0, {"auxLightPort 3"}, light(0, 0, 0.03, 3, 0, 0)},
        {SET(kLight, auxBrightFieldPowerRatio(1.0)), A, 0, {"auxBrightFieldPowerRatio 1"},
         light(0, 0, 0.03, ~0u, 1, 0)},
        {SET(kLight, auxBrightFieldPowerRatio(1.0000001)), A, kLightBad, {}, lit},
        {SET(kLight, auxBrightFieldPowerRatio(kNaN)), D, kLightBad, {}, lit},
        {SET(kLight, auxLightPower(0.0)), A, 0, {"auxLightPower 0"}, lit},
        {SET(kLight, auxLightPower(kTiny)), A, kLightBad, {}, lit},
        {SET(kLight, auxLightPower(kNaN)), D, kLightBad, {}, lit},
        {SET(kLight, lightPower(0.5)), D, 0, {}, light(0, 0.5, 0.03, ~0u, 0, 0)},
        {SET(kLight, lightPower(0.5)), "*", kRefused, {}, lit},
        {kLight, ld(light(0.5, 0.25, 0.125, ~0u, 0.75, 1)), A, 0,
         {"brightFieldPowerRatio 0.5", "lightPower 0.25", "lightDelay 0.125", "auxLightPort -1",
         "auxBrightFieldPowerRatio 0.75", "auxLightPower 1"}, light(0.5, 0.25, 0.125, ~0u, 0.75, 1)},
        {kLight, ld(patch(light(0.5, 0.25, 0.125, ~0u, 0.75, 1), 2, {1})), A, kUnknown, {}, lit},
        // time-out: infinity without limit
        {kTimeout, {}, D, 0, {}, inf},
        {SET(kTimeout, timeout(0.0)), A, 0, {"timeout 0"}, level(0, dbl(0))},
        {SET(kTimeout, timeout(-0.001)), A, kTimeBad, {}, inf},
        {SET(kTimeout, timeout(kNaN)), A, kTimeBad, {}, inf},
        {SET(kTimeout, timeout(0.25)), D, 0, {}, level(0, dbl(0.25))},
        {SET(kTimeout, timeout(2.0)), "*", kRefused, {}, inf},
        {kTimeout, ld(inf), A, 0, {"timeout inf"}, inf, level(0, dbl(3))},
        {kTimeout, ld(level(1, dbl(0.5))), A, kUnknown, {}, inf},
        // clipping: enabled, low, high
        {kClip, {}, D, 0, {}, clip},
        {SET(kClip, clipRange(200, 100)), A, 0, {"clippingLowLevel 200", "clippingHighLevel 100"},
         level(0, {1, 200, 100})},
        {SET(kClip, clipRange(20, 30)), D, 0, {}, level(0, {1, 20, 30})},
        {SET(kClip, clipRange(20, 30)), "*", kRefused, {}, clip},
        {kClip, ld(level(0, {0, 20, 30})), A, 0, {"clippingLowLevel 20", "clippingHighLevel 30", "clippingEnabled 0"},
         level(0, {0, 20, 30})},
        {kClip, ld(level(0, {0, 20, 30})), "clippingEnabled", kRefused,
         {"clippingLowLevel 20", "clippingHighLevel 30"}, level(0, {1, 20, 30})},
        {kClip, ld(level(1, {0, 20, 30})), A, kUnknown, {}, clip},
        // alpha colour: enabled, value, mode; loaded only
        {kAlpha, {}, D, 0, {}, alpha},
        {kAlpha, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), D, 0, {}, level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), A, 0,
         {"alphaColorEnabled 1", "alphaColorValue -2", "alphaColorMode 7"}, level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, ld(level(0, {5, 0, 0, 0, 3})), A, 0, {"alphaColorEnabled 0", "alphaColorValue 5", "alphaColorMode 3"},
         level(1, {0, 5, 0, 0, 0, 3}), level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), "alphaColorValue", kRefused, {"alphaColorEnabled 1"},
         level(1, {1, 9, 0, 0, 0, 0})},
        {kAlpha, ld(level(2, Bytes(6, 1))), A, kUnknown, {}, alpha},
        // camera test: first, second, third; loaded only
        {kTest, {}, D, 0, {}, level(0, Bytes(6, 0))},
        {kTest, ld(level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})), A, 0, {"cameraTest 1 -1 200"},
         level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})},
        {kTest, ld(level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})), "*", kRefused, {}, level(0, {0, 4, 0, 0, 0, 5}),
         level(0, {0, 4, 0, 0, 0, 5})},
        {kTest, ld(level(1, Bytes(6, 1))), A, kUnknown, {}, level(0, Bytes(6, 0))},
        // camera port: below the board's two
        {kPort, {}, D, 0, {}, level(0, u32(0))},
        {SET(kPort, cameraPort(1)), A, 0, {"cameraPort 1"}, level(0, u32(1))},
        {SET(kPort, cameraPort(2)), A, kPortBad, {}, level(0, u32(0))},
        {SET(kPort, cameraPort(7)), D, 0, {}, level(0, u32(7))},
        {SET(kPort, cameraPort(-1)), D, kPortBad, {}, level(0, u32(0))},
        {SET(kPort, cameraPort(1)), "*", kRefused, {}, level(0, u32(0))},
        {kPort, ld(level(0, u32(1))), A, 0, {"cameraPort 1"}, level(0, u32(1))},
        {kPort, ld(level(1, u32(1))), A, kUnknown, {}, level(0, u32(0))},
        {kBand, {}, D, 0, {}, level(0, dbl(1))},
        {SET(kBand, cameraBandwidth(0.0)), A, 0, {"cameraBandwidth 0"}, level(0, dbl(0))},
        {SET(kBand, cameraBandwidth(-1e-9)), A, kBandBad, {}, level(0, dbl(1))},
        {SET(kBand, cameraBandwidth(1.0)), A, 0, {"cameraBandwidth 1"}, level(0, dbl(1))},
        {SET(kBand, cameraBandwidth(1.0000001)), A, kBandBad, {}, level(0, dbl(1))},
        {SET(kBand, cameraBandwidth(kNaN)), A, kBandBad, {}, level(0, dbl(1))},
        {SET(kBand, cameraBandwidth(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {SET(kBand, cameraBandwidth(0.5)), "*", kRefused, {}, level(0, dbl(1))},
        {kBand, ld(level(0, dbl(0.5))), A, 0, {"cameraBandwidth 0.5"}, level(0, dbl(0.5))},
        {kBand, ld(level(1, dbl(0.5))), A, kUnknown, {}, level(0, dbl(1))},
        // digital camera control: high gain, master clock 5..40
        {kCtl, {}, D, 0, {}, ctl},
        {SET(kCtl, digitalHighGainSelected(true)), A, 0, {"digitalHighGainSelected 1"}, level(0, cat({{1}, dbl(32)}))},
        {SET(kCtl, masterClockFrequency(5.0)), A, 0, {"masterClockFrequency 5"}, level(0, cat({{0}, dbl(5)}))},
        {SET(kCtl, masterClockFrequency(4.9)), A, kCtlBad, {}, ctl},
        {SET(kCtl, masterClockFrequency(40.0)), A, 0, {"masterClockFrequency 40"}, level(0, cat({{0}, dbl(40)}))},
        {SET(kCtl, masterClockFrequency(40.5)), A, kCtlBad, {}, ctl},
        {SET(kCtl, masterClockFrequency(kNaN)), A, kCtlBad, {}, ctl},
        {SET(kCtl, masterClockFrequency(20.0)), D, 0, {}, level(0, cat({{0}, dbl(20)}))},
        {SET(kCtl, digitalHighGainSelected(true)), "*", kRefused, {}, ctl},
        {kCtl, ld(level(0, cat({{1}, dbl(20)}))), A, 0, {"digitalHighGainSelected 1", "masterClockFrequency 20"},
         level(0, cat({{1}, dbl(20)}))},
        {kCtl, ld(level(1, cat({{1}, dbl(20)}))), A, kUnknown, {}, ctl},
        // charge transfer interval and horizontal adjustment: 0 or more, unset at infinity
        {kCti, {}, D, 0, {}, inf},
        {SET(kCti, chargeTransferInterval(0.0)), A, 0, {"chargeTransferInterval 0"}, level(0, dbl(0))},
        {SET(kCti, chargeTransferInterval(-1e-12)), A, kCtiBad, {}, inf},
        {SET(kCti, chargeTransferInterval(kNaN)), A, kCtiBad, {}, inf},
        {SET(kCti, chargeTransferInterval(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {SET(kCti, chargeTransferInterval(0.5)), "*", kRefused, {}, inf},
        {kCti, ld(level(0, dbl(0.001))), A, 0, {"chargeTransferInterval 0.001"}, level(0, dbl(0.001))},
        {kCti, ld(level(1, dbl(0.001))), A, kUnknown, {}, inf},
        {kHoriz, {}, D, 0, {}, inf},
        {SET(kHoriz, horizontalAdjustment(0.0)), A, 0, {"horizontalAdjustment 0"}, level(0, dbl(0))},
        {SET(kHoriz, horizontalAdjustment(kInf)), A, 0, {"horizontalAdjustment inf"}, inf, level(0, dbl(1))},
        {SET(kHoriz, horizontalAdjustment(-1e-12)), A, kHorizBad, {}, inf},
        {SET(kHoriz, horizontalAdjustment(kNaN)), A, kHorizBad, {}, inf},
        {SET(kHoriz, horizontalAdjustment(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {SET(kHoriz, horizontalAdjustment(0.5)), "*", kRefused, {}, inf},
        {kHoriz, ld(level(0, dbl(12.5))), A, 0, {"horizontalAdjustment 12.5"}, level(0, dbl(12.5))},
        {kHoriz, ld(level(1, dbl(12.5))), A, kUnknown, {}, inf},
        // contrast and brightness: a count, then a pair per channel, 0..1 each; one channel here
        {kCb, {}, D, 0, {}, cb},
        {SET(kCb, contrast(0.0, 0)), A, 0, {"contrast 0 0"}, level(2, cat({u32(1), dbl(0), dbl(0.5)}))},
        {SET(kCb, contrast(-1e-9, 0)), A, kCbBad, {}, cb},
        {SET(kCb, contrast(1.0, 0)), A, 0, {"contrast 1 0"}, level(2, cat({u32(1), dbl(1), dbl(0.5)}))},
        {SET(kCb, contrast(1.0000001, 0)), A, kCbBad, {}, cb},
        {SET(kCb, contrast(kNaN, 0)), A, kCbBad, {}, cb},
        {SET(kCb, brightness(1.0, 0)), A, 0, {"brightness 1 0"}, level(2, cat({u32(1), dbl(0.5), dbl(1)}))},
        {SET(kCb, brightness(0.25, 0)), D, 0, {}, level(2, cat({u32(1), dbl(0.5), dbl(0.25)}))},
        {SET(kCb, brightness(0.25, 0)), "*", kRefused, {}, cb},
        {kCb, ld(level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))), A, 0, {"contrast 0.125 0", "brightness 0.375 0"},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        // Version 1: two pairs; equal ones make one channel.
        {kCb, ld(level(1, cat({dbl(0.125), dbl(0.375), dbl(0.125), dbl(0.375)}))), D, 0, {},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        {kCb, ld(level(0, cat({dbl(0.125), dbl(0.375)}))), A, 0, {"contrast 0.125 0", "brightness 0.375 0"},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        {kCb, ld(level(3, cat({u32(1), dbl(0.125), dbl(0.375)}))), A, kUnknown, {}, cb},
        // Version 1 on one channel drops the second pair; a count that does not fit is refused, and a damaged one
        // meets the end of the archive before anything is shaped.
        {kCb, ld(level(1, cat({dbl(0.125), dbl(0.5), dbl(0.5), dbl(0.5)}))), A, 0,
         {"contrast 0.125 0", "brightness 0.5 0"}, level(2, cat({u32(1), dbl(0.125), dbl(0.5)}))},
        {kCb, ld(level(2, cat({u32(2), dbl(0.125), dbl(0.5), dbl(0.5), dbl(0.5)}))), A, kCbBad, {}, cb},
        {kCb, ld(level(2, u32(0))), D, kCbBad, {}, cb},
        {kCb, ld(level(2, u32(0xFFFFFFFFu))), D, kCbBad, {}, cb},
        {kCb, ld(level(2, cat({u32(0x01000000u), dbl(0.125), dbl(0.5)}))), D, ccArchive::Eof::kCode, {}, cb},
        // Two channels: each is stored once the board took it.
        {SET(kCb, contrast(0.25, -1)), A, 0, {"contrast 0.25 0", "contrast 0.25 1"}, cb2(0.25, 0.5, 0.25, 0.5), {}, 2},
        {SET(kCb, contrastBrightness(0.25, 0.75)), A, 0,
         {"contrast 0.25 0", "contrast 0.25 1", "brightness 0.75 0", "brightness 0.75 1"},
         cb2(0.25, 0.75, 0.25, 0.75), {}, 2},
        {SET(kCb, contrastBrightness(0.25, 0.75, 1)), A, 0, {"contrast 0.25 1", "brightness 0.75 1"},
         cb2(0.5, 0.5, 0.25, 0.75), {}, 2},
        {SET(kCb, contrastBrightness(0.25, 0.75, 5)), A, 0, {}, cb2(0.5, 0.5, 0.5, 0.5), {}, 2},
        {SET(kCb, contrast(0.25, 5)), A, kCbBad, {}, cb2(0.5, 0.5, 0.5, 0.5), {}, 2},
        {SET(kCb, contrastBrightness(0.25, 0.75, -2)), A, kCbBad, {}, cb2(0.5, 0.5, 0.5, 0.5), {}, 2},
        {SET(kCb, contrastBrightness(0.25, kNaN)), A, kCbBad, {}, cb2(0.5, 0.5, 0.5, 0.5), {}, 2},
        {SET(kCb, contrastBrightness(0.25, 1.5, 5)), A, kCbBad, {}, cb2(0.5, 0.5, 0.5, 0.5), {}, 2},
        {SET(kCb, contrast(0.25, -1)), "contrast 0.25 1", kRefused, {"contrast 0.25 0"}, cb2(0.25, 0.5, 0.5, 0.5), {},
         2},
        {kCb, ld(cb2(0.125, 0.375, 1, 0)), A, 0,
         {"contrast 0.125 0", "brightness 0.375 0", "contrast 1 1", "brightness 0 1"},
         cb2(0.125, 0.375, 1, 0), {}, 2},
        {kCb, ld(level(1, cat({dbl(0.125), dbl(0.375), dbl(1), dbl(0)}))), A, 0,
         {"contrast 0.125 0", "brightness 0.375 0", "contrast 1 1", "brightness 0 1"}, cb2(0.125, 0.375, 1, 0), {}, 2},
        {kCb, ld(level(0, cat({dbl(0.25), dbl(0.75)}))), A, 0,
         {"contrast 0.25 0", "contrast 0.25 1", "brightness 0.75 0", "brightness 0.75 1"},
         cb2(0.25, 0.75, 0.25, 0.75), {}, 2},
        // the input table: size, channels, the table; 256 x 1 here
        {kLut, {}, D, 0, {}, lut(kClipTable)},
        {kLut, setLut, A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, setLut, D, 0, {}, lut(kReversed)},
        {kLut, setLut, "*", kRefused, {}, lut(kClipTable)},
        {kLut, ld(lut(kReversed)), A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, ld(level(1, cat({kReversed, kReversed}))), A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, ld(level(0, kReversed)), A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, ld(level(3, cat({u32(256), u32(1), kReversed}))), A, kUnknown, {}, lut(kClipTable)},
        // Another shape: an unshaped property takes it, a shaped one refuses it. Version 1 held channel 1 first.
        {kLut, ld(lut512()), D, 0, {}, lut512()},
        {kLut, ld(lut512()), A, 0, {"inputLut 512 0"}, lut512(), {}, 1, 512},
        {kLut, ld(lut512()), A, kLutBad, {}, lut(kClipTable)},
        {kLut, ld(level(1, cat({kReversed, kClipTable}))), D, 0, {},
         level(2, cat({u32(256), u32(2), kClipTable, kReversed}))},
        {kLut, ld(level(1, cat({kReversed, kClipTable}))), A, 0, {"inputLut 256 1", "inputLut 256 0"},
         level(2, cat({u32(256), u32(2), kClipTable, kReversed})), {}, 2},
        // first pel offset: 0..127
        {kPel, {}, D, 0, {}, level(0, {0})},
        {SET(kPel, firstPelOffset(127)), A, 0, {"firstPelOffset 127"}, level(0, {127})},
        {SET(kPel, firstPelOffset(128)), A, kPelBad, {}, level(0, {0})},
        {SET(kPel, firstPelOffset(-1)), A, kPelBad, {}, level(0, {0})},
        {SET(kPel, firstPelOffset(9)), D, 0, {}, level(0, {9})},
        {SET(kPel, firstPelOffset(9)), "*", kRefused, {}, level(0, {0})},
        {kPel, ld(level(0, {5})), A, 0, {"firstPelOffset 5"}, level(0, {5})},
        {kPel, ld(level(0, {0x80})), A, kPelBad, {}, level(0, {9}), level(0, {9})},
        {kPel, ld(level(1, {5})), A, kUnknown, {}, level(0, {0})},
        // encoder control: reset on a hardware trigger
        {kEncCtl, {}, D, 0, {}, level(0, {0})},
        {SET(kEncCtl, resetCounterOnHardwareTrigger(true)), A, 0, {"resetCounterOnHardwareTrigger 1"}, level(0, {1})},
        {SET(kEncCtl, resetCounter()), A, 0, {"resetCounter"}, level(0, {0})},
        {SET(kEncCtl, resetCounterOnHardwareTrigger(true)), D, 0, {}, level(0, {1})},
        {SET(kEncCtl, resetCounterOnHardwareTrigger(true)), "*", kRefused, {}, level(0, {0})},
        {kEncCtl, ld(level(0, {1})), A, 0, {"resetCounterOnHardwareTrigger 1"}, level(0, {1})},
        {kEncCtl, ld(level(1, {1})), A, kUnknown, {}, level(0, {0})},
        // encoder (offsets into its stored form: flags 4, steps 9, sixteenths 13, port 17, offset 21,
        // forward 25, single 26, resolution 27, start 31, backwards 35, too fast 36)
        {kEnc, {}, D, 0, {}, enc},
        {SET(kEnc, testEncoderEnabled(true)), A, 0, {"testEncoderEnabled 1"}, patch(enc, 4, {1})},
        {SET(kEnc, testEncoderDirectionPositive(false)), A, 0, {"testEncoderDirectionPositive 0"}, patch(enc, 5, {0})},
        {SET(kEnc, triggerFromEncoder(false, true)), A, 0, {"triggerFromEncoder 0 1"}, patch(enc, 6, {1, 0, 1})},
        {SET(kEnc, stepsPerLine(1, 0)), A, 0, {"stepsPerLine 1 0"}, patch(enc, 9, u32(1))},
        {SET(kEnc, stepsPerLine(0, 0)), A, kEncBad, {}, enc},
        {SET(kEnc, stepsPerLine(4095, 15)), A, 0, {"stepsPerLine 4095 15"}, patch(enc, 9, cat({u32(4095), u32(15)}))},
        {SET(kEnc, stepsPerLine(4096, 0)), A, kEncBad, {}, enc},
        {SET(kEnc, stepsPerLine(1, 16)), A, kEncBad, {}, enc},
        {SET(kEnc, encoderPort(3)), A, 0, {"encoderPort 3"}, patch(enc, 17, u32(3))},
        {SET(kEnc, encoderPort(-1)), A, kEncBad, {}, enc},
        // Below a port count the board gives.
        {SET(kEnc, encoderPort(1)), A, 0, {"encoderPort 1"}, patch(enc, 17, u32(1)), {}, 1, 256, 2},
        {SET(kEnc, encoderPort(2)), A, kEncBad, {}, enc, {}, 1, 256, 2},
        {SET(kEnc, encoderOffset(INT32_MIN)), A, 0, {"encoderOffset -2147483648"}, patch(enc, 21, u32(0x80000000u))},
        {SET(kEnc, acquireDirectionPositive(false)), A, 0, {"acquireDirectionPositive 0"}, patch(enc, 25, {0})},
        {SET(kEnc, useSingleChannel(true)), A, 0, {"useSingleChannel 1"}, patch(enc, 26, {1})},
        {SET(kEnc, encoderResolution(7)), A, 0, {"encoderResolution 7"}, patch(enc, 27, u32(7))},
        {SET(kEnc, startAcqOnEncoderCount(65535)), A, 0, {"startAcqOnEncoderCount 65535"}, patch(enc, 31, u32(65535))},
        {SET(kEnc, startAcqOnEncoderCount(65536)), A, kEncBad, {}, enc},
        {SET(kEnc, ignoreBackwardsMotionBetweenAcquires(true)), A, 0, {"ignoreBackwardsMotionBetweenAcquires 1"},
         patch(enc, 35, {1})},
        {SET(kEnc, ignoreTooFastEncoder(false)), A, 0, {"ignoreTooFastEncoder 0"}, patch(enc, 36, {0})},
        {SET(kEnc, encoderResolution(7)), D, 0, {}, patch(enc, 27, u32(7))},
        {SET(kEnc, encoderResolution(7)), "*", kRefused, {}, enc},
        // Each older layout leaves what it lacks as it was.
        {kEnc, ld(level(0, cat({{1, 0, 1}, u32(7), kEncPort}))), A, 0, encCalls("1 0", "7 0"),
         encoder({1, 0, 1, 1, 0}, 7, 0, 1, uint32_t(-3), 0, 1, 11, 12, 1, 0), kEncBefore},
        // The stored combined flag is not read back: the two flags decide.
        {kEnc, ld(level(1, cat({{1, 0, 0, 0, 1}, u32(7), kEncPort}))), A, 0, encCalls("0 1", "7 0"),
         encoder({1, 0, 1, 0, 1}, 7, 0, 1, uint32_t(-3), 0, 1, 11, 12, 1, 0), kEncBefore},
        {kEnc, ld(level(2, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort}))), A, 0, encCalls("0 1", "7 4"),
         encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 1, 11, 12, 1, 0), kEncBefore},
        {kEnc, ld(level(3, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, {0}}))), A, 0,
         encCalls("0 1", "7 4") + Calls{"useSingleChannel 0"}, encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 0,
         11, 12, 1, 0), kEncBefore},
        {kEnc, ld(level(4, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, kEncTail}))), A, 0,
         encCalls("0 1", "7 4") + kEncV4, encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 0, 5, 65535, 0,
         0), kEncBefore},
        {kEnc, ld(level(5, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, kEncTail, {1}}))), A, 0,
         encCalls("0 1", "7 4") + kEncV4 + Calls{"ignoreTooFastEncoder 1"}, encoder({1, 0, 1, 0, 1}, 7, 4, 1,
         uint32_t(-3), 0, 0, 5, 65535, 0, 1), kEncBefore},
        // A value the setter refuses stops the load; what came before stays.
        {kEnc, ld(level(5, cat({{1, 0, 1, 0, 1}, u32(0), u32(4), kEncPort, kEncTail, {1}}))), A, kEncBad,
         {"testEncoderEnabled 1", "testEncoderDirectionPositive 0", "triggerFromEncoder 0 1"}, encoder({1, 0, 1, 0, 1},
         9, 9, 0, 0, 1, 1, 11, 12, 1, 0), kEncBefore},
        {kEnc, ld(level(6, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, kEncTail, {1}}))), A, kUnknown, {},
         kEncBefore, kEncBefore},
        // region of interest: a rectangle's version byte, its corners, the mode (the board takes 0 and 2)
        {kRoi, {}, D, 0, {}, roi0},
        {SET(kRoi, roi(ccPelRect(INT32_MAX - 647, 0, 647, 5))), A, 0, {"roi 2147483000 0 2147483647 5"},
         roi(2147483000, 0, 2147483647, 5, 0)},
        {SET(kRoi, roi(ccPelRect(-1, 0, 5, 5))), A, kRoiBad, {}, roi0},
        {SET(kRoi, roi(ccPelRect(0, -1, 5, 5))), A, kRoiBad, {}, roi0},
        {SET(kRoi, roi(ccPelRect(1, 2, 10, 20))), D, 0, {}, roi(1, 2, 11, 22, 0)},
        {SET(kRoi, roiMode(1)), D, kRoiBad, {}, roi0},
        {SET(kRoi, roiMode(2)), A, 0, {"roiMode 2"}, roi(0, 0, 0, 0, 2)},
        {SET(kRoi, roiMode(1)), A, kRoiBad, {}, roi0},
        {SET(kRoi, roiMode(2)), "*", kRefused, {}, roi0},
        // A loaded mode is sent without the board's check.
        {kRoi, ld(roi(1, 2, 11, 22, 3)), A, 0, {"roi 1 2 11 22", "roiMode 3"}, roi(1, 2, 11, 22, 3)},
        {kRoi, ld(level(0, cat({{0}, u32(1), u32(2), u32(11), u32(22)}))), A, 0, {"roi 1 2 11 22"},
         roi(1, 2, 11, 22, 0)},
        // Edges 2^32 - 1 apart, x0 negative.
        {kRoi, ld(roi(0x80000000u, 2, 0x7FFFFFFF, 2, 3)), A, kRoiBad, {}, roi0},
        {kRoi, ld(level(2, {})), A, kUnknown, {}, roi0},
        // The record classes hand over their whole object.
        {kClamp, {}, D, 0, {}, level(0, u32(0))},
        {SET(kClamp, offsetClampMode(-7)), A, 0, {"offsetClamp -7"}, level(0, u32(uint32_t(-7)))},
        {SET(kClamp, offsetClampMode(2)), D, 0, {}, level(0, u32(2))},
        {SET(kClamp, offsetClampMode(2)), "*", kRefused, {}, level(0, u32(0))},
        {kClamp, ld(level(0, u32(uint32_t(-2)))), A, 0, {"offsetClamp -2"}, level(0, u32(uint32_t(-2)))},
        {kClamp, ld(level(1, {})), A, kUnknown, {}, level(0, u32(0))},
        {kSample, {}, D, 0, {}, smp},
        {SET(kSample, sampleX(0)), A, 0, {"sample 0 1"}, level(0, cat({u32(0), u32(1)}))},
        {SET(kSample, sampleY(-3)), A, 0, {"sample 1 -3"}, level(0, cat({u32(1), u32(uint32_t(-3))}))},
        {SET(kSample, sampleX(2)), D, 0, {}, level(0, cat({u32(2), u32(1)}))},
        {SET(kSample, sampleX(2)), "*", kRefused, {}, smp},
        {kSample, ld(level(0, cat({u32(2), u32(4)}))), A, 0, {"sample 2 4"}, level(0, cat({u32(2), u32(4)}))},
        {kSample, ld(level(1, {})), A, kUnknown, {}, smp},
        {kReadout, {}, D, 0, {}, level(0, {0, 0})},
        {SET(kReadout, horizontalReadoutReversed(true)), A, 0, {"readoutDirection 1 0"}, level(0, {1, 0})},
        {SET(kReadout, verticalReadoutReversed(true)), A, 0, {"readoutDirection 0 1"}, level(0, {0, 1})},
        {SET(kReadout, verticalReadoutReversed(true)), D, 0, {}, level(0, {0, 1})},
        {SET(kReadout, verticalReadoutReversed(true)), "*", kRefused, {}, level(0, {0, 0})},
        {kReadout, ld(level(0, {1, 0})), A, 0, {"readoutDirection 1 0"}, level(0, {1, 0})},
        {kReadout, ld(level(1, {})), A, kUnknown, {}, level(0, {0, 0})},
        // trigger filter: ignore missed, width, period, delay; the board's record bounds the delay at 1e-3.
        // The bounds are microsecond counts with a little slack, in seconds, met exactly.
        {kFilter, {}, D, 0, {}, filt},
        {SET(kFilter, minTriggerWidth(2.999 * 1e-6)), A, 0, {call("triggerFilter", 2.999 * 1e-6, 0., 0., 1)},
         filter(1, 2.999 * 1e-6, 0, 0)},
        {SET(kFilter, minTriggerWidth(below(2.999 * 1e-6))), A, kFilterBad, {}, filt},
        {SET(kFilter, minTriggerWidth(258.001 * 1e-6)), D, 0, {}, filter(1, 258.001 * 1e-6, 0, 0)},
        {SET(kFilter, minTriggerWidth(above(258.001 * 1e-6))), D, kFilterBad, {}, filt},
        {SET(kFilter, minTriggerWidth(kNaN)), A, kFilterBad, {}, filt},
        {SET(kFilter, minTriggerPeriod(0.0)), A, 0, {call("triggerFilter", 5e-6, 0., 0., 1)}, filt,
         level(1, cat({{1}, dbl(5e-6), dbl(0.5), dbl(0)}))},
        {SET(kFilter, minTriggerPeriod(below(0.0))), D, kFilterBad, {}, filt},
        {SET(kFilter, minTriggerPeriod(65537.001 * 1e-6)), D, 0, {}, filter(1, 5e-6, 65537.001 * 1e-6, 0)},
        {SET(kFilter, minTriggerPeriod(above(65537.001 * 1e-6))), D, kFilterBad, {}, filt},
        {SET(kFilter, minTriggerPeriod(kNaN)), D, kFilterBad, {}, filt},
        {SET(kFilter, triggerDelay(65535.001 * 1e-6)), D, 0, {}, filter(1, 5e-6, 0, 65535.001 * 1e-6)},
        {SET(kFilter, triggerDelay(above(65535.001 * 1e-6))), D, kFilterBad, {}, filt},
        {SET(kFilter, triggerDelay(1e-3)), A, 0, {call("triggerFilter", 5e-6, 0., 1e-3, 1)}, filter(1, 5e-6, 0, 1e-3)},
        {SET(kFilter, triggerDelay(above(1e-3))), A, kFilterBad, {}, filt},
        {SET(kFilter, triggerDelay(-1e-9)), A, kFilterBad, {}, filt},
        {SET(kFilter, triggerDelay(kNaN)), D, kFilterBad, {}, filt},
        {SET(kFilter, ignoreMissedTrigger(false)), A, 0, {call("triggerFilter", 5e-6, 0., 0., 0)},
         filter(0, 5e-6, 0, 0)},
        {SET(kFilter, ignoreMissedTrigger(false)), "*", kRefused, {}, filt},
        {kFilter, ld(filter(0, 0x1p-17, 0x1p-10, 0x1p-12)), A, 0,
         {"triggerFilter 7.62939453125e-06 0.0009765625 0.000244140625 0"}, filter(0, 0x1p-17, 0x1p-10, 0x1p-12)},
        // Version 0 has no flag, and its values are not checked: the width is above the setter's bound.
        {kFilter, ld(level(0, cat({dbl(0x1p-8), dbl(0), dbl(0)}))), A, 0, {"triggerFilter 0.00390625 0 0 1"},
         filter(1, 0x1p-8, 0, 0), filter(0, 5e-6, 0, 0)},
        {kFilter, ld(filter(1, kNaN, 0, 0)), A, kFilterBad, {}, filt},
        {kFilter, ld(level(2, {})), A, kUnknown, {}, filt},
        // CDC calibration: outlier correction, two bytes, row and column calibration
        {kCdc, {}, D, 0, {}, cdc},
        {SET(kCdc, outlierPixelCorrectionEnabled(true)), A, 0, {"cdcCameraCalibration 1 85 25 1"},
         level(0, {1, 85, 25, 1})},
        {SET(kCdc, rowColumnCalibrationEnabled(false)), A, 0, {"cdcCameraCalibration 0 85 25 0"},
         level(0, {0, 85, 25, 0})},
        {SET(kCdc, rowColumnCalibrationEnabled(false)), D, 0, {}, level(0, {0, 85, 25, 0})},
        {SET(kCdc, rowColumnCalibrationEnabled(false)), "*", kRefused, {}, cdc},
        {kCdc, ld(level(0, {1, 7, 9, 0})), A, 0, {"cdcCameraCalibration 1 7 9 0"}, level(0, {1, 7, 9, 0})},
        {kCdc, ld(level(1, {})), A, kUnknown, {}, cdc},
        // sync: the model's archive index
        {kSync, {}, D, 0, {}, sync(1, 1)},
        {SET(kSync, syncModel(ccSyncModel::defaultModel())), A, 0, {"syncModel 157"}, sync(1, 8)}, // the board's
        {SET(kSync, syncModel(ccSyncModel::externalPixelSync())), A, 0, {"syncModel 159"}, sync(1, 10)},
        {SET(kSync, syncModel(ccSyncModel::externalPixelSync())), D, 0, {}, sync(1, 10)},
        {SET(kSync, syncModel(ccSyncModel::externalPixelSync())), "*", kRefused, {}, sync(1, 1)},
        {kSync, ld(sync(1, 10)), A, 0, {"syncModel 159"}, sync(1, 10)},
        {kSync, ld(sync(0, 10)), D, 0, {}, sync(1, 1), sync(1, 10)},
        {kSync, ld(sync(2, 10)), A, kUnknown, {}, sync(1, 1)},
        {kCustom, {}, D, 0, {}, empty},
        {kCustom, [](ccPersistent& o) { dynamic_cast<ccCustomProp&>(o).customProps(bag(kBag)); }, A, 0,
         {"customProps " + kBag}, text(0, kBag)},
        {kCustom, [](ccPersistent& o) { dynamic_cast<ccCustomProp&>(o).customProps(bag(kBag)); }, D, 0, {},
         text(0, kBag)},
        {kCustom, [](ccPersistent& o) { dynamic_cast<ccCustomProp&>(o).customProps(bag(kBag)); }, "*", kRefused, {},
         empty},
        {kCustom, ld(text(0, kBag)), A, 0, {"customProps " + kBag}, text(0, kBag)},
        {kCustom, ld(text(0, "Read\tx")), A, kBagBad, {}, empty},
        {kCustom, ld(text(1, "")), A, kUnknown, {}, empty},
        // the notifications: an object reference; a loaded object is the board's too
        {kMove, {}, D, 0, {}, none},
        {kMove, ld(none), A, 0, {"movePartCallback 0"}, none, cb77},
        {kMove, ld(callback(5)), A, 0, {"movePartCallback 1"}, callback(5), cb77},
        {kMove, ld(level(0, objectRecord("ccTestNotCallback", {0x00}))), A, kBadContent, {}, cb77, cb77},
        {kMove, ld(callback(5)), "movePartCallback", kRefused, {}, cb77, cb77},
        {kMove, ld(level(1, kNoObject)), A, kUnknown, {}, cb77, cb77},
        {kOverrun, {}, D, 0, {}, none},
        {kOverrun, ld(none), A, 0, {"overrunCallback 0"}, none, cb77},
        {kOverrun, ld(callback(5)), A, 0, {"overrunCallback 1"}, callback(5), cb77},
        {kOverrun, ld(level(0, objectRecord("ccTestNotCallback", {0x00}))), A, kBadContent, {}, cb77, cb77},
        {kOverrun, ld(callback(5)), "overrunCallback", kRefused, {}, cb77, cb77},
        {kOverrun, ld(level(1, kNoObject)), A, kUnknown, {}, cb77, cb77},
        {kComplete, {}, D, 0, {}, none},
        {kComplete, ld(none), A, 0, {"completeCallback 0"}, none, cb77},
        {kComplete, ld(callback(5)), A, 0, {"completeCallback 1"}, callback(5), cb77},
        {kComplete, ld(level(0, objectRecord("ccTestNotCallback", {0x00}))), A, kBadContent, {}, cb77, cb77},
        {kComplete, ld(callback(5)), "completeCallback", kRefused, {}, cb77, cb77},
        {kComplete, ld(level(1, kNoObject)), A, kUnknown, {}, cb77, cb77},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.c.name) + " row " + std::to_string(&r - rows));
        const ccPersistentFactory make = ccFindFactory(r.c.name);
        ASSERT_NE(make, nullptr);
        const std::unique_ptr<ccPersistent> p(make());
        ASSERT_STREQ(p->storedTypeName(), r.c.name);
        if (!r.before.empty())
            loadObject(*p, r.before);
        Board board;
        board.channels = r.channels;
        board.luts = r.luts;
        board.encoderPorts = r.encoderPorts;
        board.defaultSync = ccSyncModel::externalPllSync();
        board.info = {{ccPropStrobePulseDuration, 0.25, 0.5}, {ccPropStrobeDelay, 1e-3, 0.25},
                      {ccPropTriggerDelay, 0.0, 1e-3}};
        if (r.refuse) {
            r.c.attach(*p, &board);
            board.calls.clear(); // what attaching sends
            board.refuse = r.refuse;
        }
        std::wstring file;
        EXPECT_EQ(codeOf([&] { r.act ? r.act(*p) : void(); }, &file), r.code);
        if (r.code == kUnknown || r.code == kBadContent) {
            EXPECT_EQ(file, r.c.file);
        }
        EXPECT_EQ(board.calls, r.calls);
        if (r.c.held) {
            EXPECT_EQ(board.callback.rawPointer(), r.calls.empty() ? nullptr : r.c.held(*p));
        }
        board.refuse.clear();
        EXPECT_EQ(storeObject(*p), r.after);
    }
}

// Each accessor answers what a stored form loaded.
#define READ(C, ...) \
    C, [](ccPersistent& o) { auto& p = dynamic_cast<decltype(C)::Type&>(o); return call("", __VA_ARGS__); }

TEST(PropertyPattern, AccessorsAnswerTheStoredValues)
{
    ccAcqHyperPropStartup();
    const struct { const Class& c; std::string (*read)(ccPersistent&); Bytes stored; std::string values; } rows[] = {
        {READ(kTrig, p.triggerEnable(), p.triggerLowToHigh()), level(1, {0, 1}), " 0 1"},
        {READ(kStrobe, p.strobeEnable(), p.strobePulseDuration(), p.strobePulsePolarityHigh()), strobe(1, 0.25, 0),
         " 1 0.25 0"},
        {READ(kDelay, p.strobeDelay()), level(1, dbl(0.125)), " 0.125"},
        {READ(kSettle, p.settlingTime()), level(0, dbl(2)), " 2"},
        {READ(kLight, p.lightEnabled(), p.brightFieldPowerRatio(), p.lightPower(), p.lightDelay(), p.auxLightPort(),
              p.auxBrightFieldPowerRatio(), p.auxLightPower()),
         light(0.5, 0.25, 0.125, 2, 0.75, 1), " 0 0.5 0.25 0.125 2 0.75 1"},
        {READ(kPort, p.cameraPort()), level(0, u32(1)), " 1"},
        {READ(kBand, p.cameraBandwidth()), level(0, dbl(0.5)), " 0.5"},
        {READ(kCtl, p.digitalHighGainSelected(), p.masterClockFrequency()), level(0, cat({{1}, dbl(20)})), " 1 20"},
        {READ(kCti, p.chargeTransferInterval()), level(0, dbl(0.25)), " 0.25"},
        {READ(kHoriz, p.horizontalAdjustment()), level(0, dbl(12.5)), " 12.5"},
        {READ(kRoi, p.roi().x0(), p.roi().y0(), p.roi().x1(), p.roi().y1(), p.roiMode()), roi(1, 2, 11, 22, 3),
         " 1 2 11 22 3"},
        {READ(kPel, p.firstPelOffset()), level(0, {5}), " 5"},
        {READ(kEncCtl, p.resetCounterOnHardwareTrigger()), level(0, {1}), " 1"},
        {READ(kEnc, p.testEncoderEnabled(), p.testEncoderDirectionPositive(), p.triggerFromEncoder(),
              p.triggerFromEncoderFirst(), p.triggerFromEncoderSecond(), p.stepsPerLine(), p.stepSixteenths(),
              p.encoderPort(), p.encoderOffset(), p.acquireDirectionPositive(), p.useSingleChannel(),
              p.encoderResolution(), p.startAcqOnEncoderCount(), p.ignoreBackwardsMotionBetweenAcquires(),
              p.ignoreTooFastEncoder()),
         encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 1, 5, 65535, 1, 0), " 1 0 1 0 1 7 4 1 -3 0 1 5 65535 1 0"},
        {READ(kCustom, p.customProps().size()), text(0, kBag), " 2"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.c.name);
        const std::unique_ptr<ccPersistent> p(ccFindFactory(r.c.name)());
        loadObject(*p, r.stored);
        EXPECT_EQ(r.read(*p), r.values);
    }
}

} // namespace
