// The pattern every persistent property class shares, one table over all of
// them: a new object's stored defaults, each range rule's boundary, sets
// forwarded to an attached board or only stored when detached, the board's
// refusal, every stored version loaded through the setters, and a newer one
// refused naming the class's file. Archives are written by hand from the
// formats: header, version byte, the ccPersistent level's byte, the fields.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/startup.h"
#include "acq/propreq.h"
#include "tests/support/prop_fake.h"
#include "tests/support/stored.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;
using test_bytes::dbl;
using test_bytes::le;
using test_bytes::level;
using test_prop::call;
using test_prop::Calls;

const double kInf = std::numeric_limits<double>::infinity(), kNaN = std::numeric_limits<double>::quiet_NaN();
const double kTiny = -1e-300;
const uint32_t kRefused = ccUnsupportedHW::kCode, kUnknown = ccArchive::UnknownVersion::kCode;

double above(double v) { return std::nextafter(v, kInf); }
double below(double v) { return std::nextafter(v, -kInf); }
Bytes u32(uint32_t v) { return le(v, 4); }
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
const Of<ccMovePartCallbackProp> kMove(L"callback"); const Of<ccOverrunCallbackProp> kOverrun(L"callback");
const Of<ccCompleteCallbackProp> kComplete(L"callback");

#define SET(C, what) [](ccPersistent& o) { dynamic_cast<decltype(C)::Type&>(o).what; }

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
// A null object reference: tag, version 0, number 0, kind 0, two zero words.
const Bytes kNoObject = cat({{0x4F, 0xE5, 0x70, 0x54, 0x00}, Bytes(13, 0x00)});
Bytes table(int (*entry)(int))
{
    Bytes t;
    for (int i = 0; i < 256; ++i)
        t.push_back(uint8_t(entry(i)));
    return t;
}
const Bytes kClipTable = table([](int i) { return i < 15 ? 15 : i > 240 ? 240 : i; });
const Bytes kReversed = table([](int i) { return 255 - i; });
Bytes lut(const Bytes& t) { return level(2, cat({u32(256), u32(1), t})); }
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
std::string encCalls(const char* trigger, const char* steps)
{
    return std::string("testEncoderEnabled 1|testEncoderDirectionPositive 0|triggerFromEncoder ") + trigger +
           "|stepsPerLine " + steps + "|encoderPort 1|encoderOffset -3|acquireDirectionPositive 0";
}
const std::string kEncV4 =
    "|useSingleChannel 0|encoderResolution 5|startAcqOnEncoderCount 65535|ignoreBackwardsMotionBetweenAcquires 0";
Calls split(const std::string& s)
{
    Calls out;
    for (size_t at = 0; at <= s.size();) {
        const size_t bar = std::min(s.find('|', at), s.size());
        out.push_back(s.substr(at, bar - at));
        at = bar + 1;
    }
    return out;
}

const uint32_t kTrigBad = ccTriggerProp::BadParams::kCode, kStrobeBad = ccStrobeProp::BadParams::kCode,
               kDelayBad = ccStrobeDelayProp::BadParams::kCode, kExpBad = ccExposureProp::BadParams::kCode,
               kLightBad = ccLightProp::BadParams::kCode, kTimeBad = ccTimeoutProp::BadParams::kCode,
               kPortBad = ccCameraPortProp::BadParams::kCode, kBandBad = ccCameraBandwidthProp::BadParams::kCode,
               kCtlBad = ccDigitalCameraControlProp::BadParams::kCode, kCtiBad = ccCtiProp::BadParams::kCode,
               kHorizBad = ccHorizAdjustProp::BadParams::kCode, kCbBad = ccContrastBrightnessProp::BadParams::kCode,
               kPelBad = ccFirstPelOffsetProp::BadParams::kCode, kEncBad = ccEncoderProp::BadParams::kCode,
               kRoiBad = ccRoiProp::BadParams::kCode, kFilterBad = ccTriggerFilterProp::BadParams::kCode,
               kBagBad = ccCustomPropertyBag::BadParams::kCode;

const std::string kBag = "Command\tReset\n\rWrite\tGain\t12\n\r";
ccCustomPropertyBag bag(const std::string& ascii)
{
    ccCustomPropertyBag b;
    b.fromString(std::wstring(ascii.begin(), ascii.end()));
    return b;
}

typedef std::function<void(ccPersistent&)> Action;
Action ld(const Bytes& bytes)
{
    return [bytes](ccPersistent& p) { test_bytes::loadObject(p, bytes); };
}

// Detached, attached, or attached to a board that refuses the op named ("*": every op).
const char* const D = nullptr;
const char* const A = "";

struct Row {
    const Class& c;
    Bytes before; // loaded detached first, if any
    Action act;   // a set or a load; none: the defaults
    const char* refuse;
    uint32_t code;
    Calls calls;
    Bytes after;
};

TEST(PropertyPattern, EveryPersistentClass)
{
    ccAcqHyperPropStartup();
    typedef ccTriggerFilterProp F;
    const Action setLut = SET(kLut, inputLut(kReversed.data(), 256, 0));
    // Each class's stored defaults.
    const Bytes enc = kEncoder, filt = filter(1, 5e-6, 0, 0), lit = light(0, 0, 0.03, ~0u, 0, 0),
                stb = strobe(0, 2e-5, 1), cb = level(2, cat({u32(1), dbl(0.5), dbl(0.5)})),
                ctl = level(0, cat({{0}, dbl(32)})), roi0 = roi(0, 0, 0, 0, 0), inf = level(0, dbl(kInf)),
                smp = level(0, cat({u32(1), u32(1)})), alpha = level(1, {0, 9, 0, 0, 0, 0}),
                cdc = level(0, {0, 85, 25, 1}), none = level(0, kNoObject), empty = text(0, ""),
                clip = level(0, {1, 15, 240}), trig = level(1, {1, 1});
    const Row rows[] = {
        // trigger: enabled, low to high
        {kTrig, {}, {}, D, 0, {}, trig},
        {kTrig, {}, SET(kTrig, triggerEnable(false)), A, 0, {"triggerEnable 0"}, level(1, {0, 1})},
        {kTrig, {}, SET(kTrig, triggerLowToHigh(false)), D, 0, {}, level(1, {1, 0})},
        {kTrig, {}, SET(kTrig, triggerLowToHigh(false)), "*", kRefused, {}, trig},
        {kTrig, {}, SET(kTrig, triggerModel(static_cast<const ccTriggerModel*>(nullptr))), A, kTrigBad, {}, trig},
        {kTrig, {}, ld(level(1, {0, 1})), A, 0, {"triggerEnable 0", "triggerLowToHigh 1"}, level(1, {0, 1})},
        // Version 0 held a model word that is not read back: the model becomes manual.
        {kTrig, {}, ld(level(0, {1, 0, 0x78, 0x56, 0x34, 0x12})), A, 0,
         {"triggerEnable 1", "triggerLowToHigh 0", "triggerModel 128"}, level(1, {1, 0})},
        {kTrig, {}, ld(level(2, {0, 1})), A, kUnknown, {}, trig},
        // strobe: enabled, pulse duration, polarity high; the board's record bounds the duration at 0.5
        {kStrobe, {}, {}, D, 0, {}, stb},
        {kStrobe, {}, SET(kStrobe, strobeEnable(true)), A, 0, {"strobeEnable 1"}, strobe(1, 2e-5, 1)},
        {kStrobe, {}, SET(kStrobe, strobePulsePolarityHigh(false)), A, 0, {"strobePulsePolarityHigh 0"},
         strobe(0, 2e-5, 0)},
        {kStrobe, {}, SET(kStrobe, strobePulseDuration(0.0)), A, 0, {"strobePulseDuration 0"}, strobe(0, 0, 1)},
        {kStrobe, {}, SET(kStrobe, strobePulseDuration(kTiny)), D, kStrobeBad, {}, stb},
        {kStrobe, {}, SET(kStrobe, strobePulseDuration(kNaN)), D, kStrobeBad, {}, stb},
        {kStrobe, {}, SET(kStrobe, strobePulseDuration(0.5)), A, 0, {"strobePulseDuration 0.5"}, strobe(0, 0.5, 1)},
        {kStrobe, {}, SET(kStrobe, strobePulseDuration(above(0.5))), A, kStrobeBad, {}, stb},
        {kStrobe, {}, SET(kStrobe, strobePulseDuration(1e9)), D, 0, {}, strobe(0, 1e9, 1)},
        {kStrobe, {}, SET(kStrobe, strobeEnable(true)), "*", kRefused, {}, stb},
        {kStrobe, {}, ld(strobe(1, 0.25, 0)), A, 0,
         {"strobeEnable 1", "strobePulseDuration 0.25", "strobePulsePolarityHigh 0"}, strobe(1, 0.25, 0)},
        {kStrobe, {}, ld(level(1, cat({{1}, dbl(0.25), {0}}))), A, kUnknown, {}, stb},
        // strobe delay: the board's record bounds it to 1e-3..0.25
        {kDelay, {}, {}, D, 0, {}, level(1, dbl(0))},
        {kDelay, {}, SET(kDelay, strobeDelay(1e-3)), A, 0, {"strobeDelay 0.001"}, level(1, dbl(1e-3))},
        {kDelay, {}, SET(kDelay, strobeDelay(below(1e-3))), A, kDelayBad, {}, level(1, dbl(0))},
        {kDelay, {}, SET(kDelay, strobeDelay(0.25)), A, 0, {"strobeDelay 0.25"}, level(1, dbl(0.25))},
        {kDelay, {}, SET(kDelay, strobeDelay(above(0.25))), A, kDelayBad, {}, level(1, dbl(0))},
        {kDelay, {}, SET(kDelay, strobeDelay(kNaN)), D, kDelayBad, {}, level(1, dbl(0))},
        {kDelay, {}, SET(kDelay, strobeDelay(-1.0)), D, 0, {}, level(1, dbl(-1))},
        {kDelay, {}, SET(kDelay, strobeDelay(0.125)), "*", kRefused, {}, level(1, dbl(0))},
        {kDelay, {}, ld(level(1, dbl(0.125))), A, 0, {"strobeDelay 0.125"}, level(1, dbl(0.125))},
        // Version 0: whole microseconds.
        {kDelay, {}, ld(level(0, u32(1500))), A, 0, {call("strobeDelay", 1500 * 1e-6)}, level(1, dbl(1500 * 1e-6))},
        {kDelay, {}, ld(level(2, dbl(0.125))), A, kUnknown, {}, level(1, dbl(0))},
        // exposure
        {kExposure, {}, {}, D, 0, {}, level(0, dbl(2e-5))},
        {kExposure, {}, SET(kExposure, exposure(0.0)), A, 0, {"exposure 0"}, level(0, dbl(0))},
        {kExposure, {}, SET(kExposure, exposure(kTiny)), A, kExpBad, {}, level(0, dbl(2e-5))},
        {kExposure, {}, SET(kExposure, exposure(kNaN)), D, kExpBad, {}, level(0, dbl(2e-5))},
        {kExposure, {}, SET(kExposure, exposure(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {kExposure, {}, SET(kExposure, exposure(0.5)), "*", kRefused, {}, level(0, dbl(2e-5))},
        {kExposure, {}, ld(level(0, dbl(0.5))), A, 0, {"exposure 0.5"}, level(0, dbl(0.5))},
        {kExposure, {}, ld(level(1, dbl(0.5))), A, kUnknown, {}, level(0, dbl(2e-5))},
        // settling time: unbounded
        {kSettle, {}, {}, D, 0, {}, level(0, dbl(0))},
        {kSettle, {}, SET(kSettle, settlingTime(-0.5)), A, 0, {"settlingTime -0.5"}, level(0, dbl(-0.5))},
        {kSettle, {}, SET(kSettle, settlingTime(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {kSettle, {}, SET(kSettle, settlingTime(0.5)), "*", kRefused, {}, level(0, dbl(0))},
        {kSettle, {}, ld(level(0, dbl(2))), A, 0, {"settlingTime 2"}, level(0, dbl(2))},
        {kSettle, {}, ld(level(1, dbl(2))), A, kUnknown, {}, level(0, dbl(0))},
        // light: ratio, power, delay, aux port, aux ratio, aux power; the enabled flag is not stored
        {kLight, {}, {}, D, 0, {}, lit},
        {kLight, {}, SET(kLight, lightEnabled(true)), A, 0, {"lightEnabled 1"}, lit},
        {kLight, {}, SET(kLight, brightFieldPowerRatio(0.0)), A, 0, {"brightFieldPowerRatio 0"}, lit},
        {kLight, {}, SET(kLight, brightFieldPowerRatio(kTiny)), A, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, brightFieldPowerRatio(1.0)), A, 0, {"brightFieldPowerRatio 1"},
         light(1, 0, 0.03, ~0u, 0, 0)},
        {kLight, {}, SET(kLight, brightFieldPowerRatio(1.0000001)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, brightFieldPowerRatio(kNaN)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, lightPower(1.0)), A, 0, {"lightPower 1"}, light(0, 1, 0.03, ~0u, 0, 0)},
        {kLight, {}, SET(kLight, lightPower(1.0000001)), A, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, lightPower(kTiny)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, lightPower(kNaN)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, lightDelay(0.0)), A, 0, {"lightDelay 0"}, light(0, 0, 0, ~0u, 0, 0)},
        {kLight, {}, SET(kLight, lightDelay(kTiny)), A, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, lightDelay(kNaN)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, auxLightPort(3)), A, 0, {"auxLightPort 3"}, light(0, 0, 0.03, 3, 0, 0)},
        {kLight, {}, SET(kLight, auxBrightFieldPowerRatio(1.0)), A, 0, {"auxBrightFieldPowerRatio 1"},
         light(0, 0, 0.03, ~0u, 1, 0)},
        {kLight, {}, SET(kLight, auxBrightFieldPowerRatio(1.0000001)), A, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, auxBrightFieldPowerRatio(kNaN)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, auxLightPower(0.0)), A, 0, {"auxLightPower 0"}, lit},
        {kLight, {}, SET(kLight, auxLightPower(kTiny)), A, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, auxLightPower(kNaN)), D, kLightBad, {}, lit},
        {kLight, {}, SET(kLight, lightPower(0.5)), D, 0, {}, light(0, 0.5, 0.03, ~0u, 0, 0)},
        {kLight, {}, SET(kLight, lightPower(0.5)), "*", kRefused, {}, lit},
        {kLight, {}, ld(light(0.5, 0.25, 0.125, ~0u, 0.75, 1)), A, 0,
         {"brightFieldPowerRatio 0.5", "lightPower 0.25", "lightDelay 0.125", "auxLightPort -1",
         "auxBrightFieldPowerRatio 0.75", "auxLightPower 1"}, light(0.5, 0.25, 0.125, ~0u, 0.75, 1)},
        {kLight, {}, ld(patch(light(0.5, 0.25, 0.125, ~0u, 0.75, 1), 2, {1})), A, kUnknown, {}, lit},
        // time-out: infinity without limit
        {kTimeout, {}, {}, D, 0, {}, inf},
        {kTimeout, {}, SET(kTimeout, timeout(0.0)), A, 0, {"timeout 0"}, level(0, dbl(0))},
        {kTimeout, {}, SET(kTimeout, timeout(-0.001)), A, kTimeBad, {}, inf},
        {kTimeout, {}, SET(kTimeout, timeout(kNaN)), A, kTimeBad, {}, inf},
        {kTimeout, {}, SET(kTimeout, timeout(0.25)), D, 0, {}, level(0, dbl(0.25))},
        {kTimeout, {}, SET(kTimeout, timeout(2.0)), "*", kRefused, {}, inf},
        {kTimeout, level(0, dbl(3)), ld(inf), A, 0, {"timeout inf"}, inf},
        {kTimeout, {}, ld(level(1, dbl(0.5))), A, kUnknown, {}, inf},
        // clipping: enabled, low, high
        {kClip, {}, {}, D, 0, {}, clip},
        {kClip, {}, SET(kClip, clipRange(200, 100)), A, 0, {"clippingLowLevel 200", "clippingHighLevel 100"},
         level(0, {1, 200, 100})},
        {kClip, {}, SET(kClip, clipRange(20, 30)), D, 0, {}, level(0, {1, 20, 30})},
        {kClip, {}, SET(kClip, clipRange(20, 30)), "*", kRefused, {}, clip},
        {kClip, {}, ld(level(0, {0, 20, 30})), A, 0,
         {"clippingLowLevel 20", "clippingHighLevel 30", "clippingEnabled 0"}, level(0, {0, 20, 30})},
        {kClip, {}, ld(level(0, {0, 20, 30})), "clippingEnabled", kRefused,
         {"clippingLowLevel 20", "clippingHighLevel 30"}, level(0, {1, 20, 30})},
        {kClip, {}, ld(level(1, {0, 20, 30})), A, kUnknown, {}, clip},
        // alpha colour: enabled, value, mode; loaded only
        {kAlpha, {}, {}, D, 0, {}, alpha},
        {kAlpha, {}, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), D, 0, {}, level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, {}, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), A, 0,
         {"alphaColorEnabled 1", "alphaColorValue -2", "alphaColorMode 7"}, level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7}), ld(level(0, {5, 0, 0, 0, 3})), A, 0,
         {"alphaColorEnabled 0", "alphaColorValue 5", "alphaColorMode 3"}, level(1, {0, 5, 0, 0, 0, 3})},
        {kAlpha, {}, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), "alphaColorValue", kRefused,
         {"alphaColorEnabled 1"}, level(1, {1, 9, 0, 0, 0, 0})},
        {kAlpha, {}, ld(level(2, Bytes(6, 1))), A, kUnknown, {}, alpha},
        // camera test: first, second, third; loaded only
        {kTest, {}, {}, D, 0, {}, level(0, Bytes(6, 0))},
        {kTest, {}, ld(level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})), A, 0, {"cameraTest 1 -1 200"},
         level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})},
        {kTest, level(0, {0, 4, 0, 0, 0, 5}), ld(level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})), "*", kRefused, {},
         level(0, {0, 4, 0, 0, 0, 5})},
        {kTest, {}, ld(level(1, Bytes(6, 1))), A, kUnknown, {}, level(0, Bytes(6, 0))},
        // camera port: below the board's two
        {kPort, {}, {}, D, 0, {}, level(0, u32(0))},
        {kPort, {}, SET(kPort, cameraPort(1)), A, 0, {"cameraPort 1"}, level(0, u32(1))},
        {kPort, {}, SET(kPort, cameraPort(2)), A, kPortBad, {}, level(0, u32(0))},
        {kPort, {}, SET(kPort, cameraPort(7)), D, 0, {}, level(0, u32(7))},
        {kPort, {}, SET(kPort, cameraPort(-1)), D, kPortBad, {}, level(0, u32(0))},
        {kPort, {}, SET(kPort, cameraPort(1)), "*", kRefused, {}, level(0, u32(0))},
        {kPort, {}, ld(level(0, u32(1))), A, 0, {"cameraPort 1"}, level(0, u32(1))},
        {kPort, {}, ld(level(1, u32(1))), A, kUnknown, {}, level(0, u32(0))},
        // camera bandwidth: 0..1
        {kBand, {}, {}, D, 0, {}, level(0, dbl(1))},
        {kBand, {}, SET(kBand, cameraBandwidth(0.0)), A, 0, {"cameraBandwidth 0"}, level(0, dbl(0))},
        {kBand, {}, SET(kBand, cameraBandwidth(-1e-9)), A, kBandBad, {}, level(0, dbl(1))},
        {kBand, {}, SET(kBand, cameraBandwidth(1.0)), A, 0, {"cameraBandwidth 1"}, level(0, dbl(1))},
        {kBand, {}, SET(kBand, cameraBandwidth(1.0000001)), A, kBandBad, {}, level(0, dbl(1))},
        {kBand, {}, SET(kBand, cameraBandwidth(kNaN)), A, kBandBad, {}, level(0, dbl(1))},
        {kBand, {}, SET(kBand, cameraBandwidth(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {kBand, {}, SET(kBand, cameraBandwidth(0.5)), "*", kRefused, {}, level(0, dbl(1))},
        {kBand, {}, ld(level(0, dbl(0.5))), A, 0, {"cameraBandwidth 0.5"}, level(0, dbl(0.5))},
        {kBand, {}, ld(level(1, dbl(0.5))), A, kUnknown, {}, level(0, dbl(1))},
        // digital camera control: high gain, master clock 5..40
        {kCtl, {}, {}, D, 0, {}, ctl},
        {kCtl, {}, SET(kCtl, digitalHighGainSelected(true)), A, 0, {"digitalHighGainSelected 1"},
         level(0, cat({{1}, dbl(32)}))},
        {kCtl, {}, SET(kCtl, masterClockFrequency(5.0)), A, 0, {"masterClockFrequency 5"},
         level(0, cat({{0}, dbl(5)}))},
        {kCtl, {}, SET(kCtl, masterClockFrequency(4.9)), A, kCtlBad, {}, ctl},
        {kCtl, {}, SET(kCtl, masterClockFrequency(40.0)), A, 0, {"masterClockFrequency 40"},
         level(0, cat({{0}, dbl(40)}))},
        {kCtl, {}, SET(kCtl, masterClockFrequency(40.5)), A, kCtlBad, {}, ctl},
        {kCtl, {}, SET(kCtl, masterClockFrequency(kNaN)), A, kCtlBad, {}, ctl},
        {kCtl, {}, SET(kCtl, masterClockFrequency(20.0)), D, 0, {}, level(0, cat({{0}, dbl(20)}))},
        {kCtl, {}, SET(kCtl, digitalHighGainSelected(true)), "*", kRefused, {}, ctl},
        {kCtl, {}, ld(level(0, cat({{1}, dbl(20)}))), A, 0, {"digitalHighGainSelected 1", "masterClockFrequency 20"},
         level(0, cat({{1}, dbl(20)}))},
        {kCtl, {}, ld(level(1, cat({{1}, dbl(20)}))), A, kUnknown, {}, ctl},
        // charge transfer interval and horizontal adjustment: 0 or more, unset at infinity
        {kCti, {}, {}, D, 0, {}, inf},
        {kCti, {}, SET(kCti, chargeTransferInterval(0.0)), A, 0, {"chargeTransferInterval 0"}, level(0, dbl(0))},
        {kCti, {}, SET(kCti, chargeTransferInterval(-1e-12)), A, kCtiBad, {}, inf},
        {kCti, {}, SET(kCti, chargeTransferInterval(kNaN)), A, kCtiBad, {}, inf},
        {kCti, {}, SET(kCti, chargeTransferInterval(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {kCti, {}, SET(kCti, chargeTransferInterval(0.5)), "*", kRefused, {}, inf},
        {kCti, {}, ld(level(0, dbl(0.001))), A, 0, {"chargeTransferInterval 0.001"}, level(0, dbl(0.001))},
        {kCti, {}, ld(level(1, dbl(0.001))), A, kUnknown, {}, inf},
        {kHoriz, {}, {}, D, 0, {}, inf},
        {kHoriz, {}, SET(kHoriz, horizontalAdjustment(0.0)), A, 0, {"horizontalAdjustment 0"}, level(0, dbl(0))},
        {kHoriz, level(0, dbl(1)), SET(kHoriz, horizontalAdjustment(kInf)), A, 0, {"horizontalAdjustment inf"}, inf},
        {kHoriz, {}, SET(kHoriz, horizontalAdjustment(-1e-12)), A, kHorizBad, {}, inf},
        {kHoriz, {}, SET(kHoriz, horizontalAdjustment(kNaN)), A, kHorizBad, {}, inf},
        {kHoriz, {}, SET(kHoriz, horizontalAdjustment(0.5)), D, 0, {}, level(0, dbl(0.5))},
        {kHoriz, {}, SET(kHoriz, horizontalAdjustment(0.5)), "*", kRefused, {}, inf},
        {kHoriz, {}, ld(level(0, dbl(12.5))), A, 0, {"horizontalAdjustment 12.5"}, level(0, dbl(12.5))},
        {kHoriz, {}, ld(level(1, dbl(12.5))), A, kUnknown, {}, inf},
        // contrast and brightness: a count, then a pair per channel, 0..1 each; one channel here
        {kCb, {}, {}, D, 0, {}, cb},
        {kCb, {}, SET(kCb, contrast(0.0, 0)), A, 0, {"contrast 0 0"}, level(2, cat({u32(1), dbl(0), dbl(0.5)}))},
        {kCb, {}, SET(kCb, contrast(-1e-9, 0)), A, kCbBad, {}, cb},
        {kCb, {}, SET(kCb, contrast(1.0, 0)), A, 0, {"contrast 1 0"}, level(2, cat({u32(1), dbl(1), dbl(0.5)}))},
        {kCb, {}, SET(kCb, contrast(1.0000001, 0)), A, kCbBad, {}, cb},
        {kCb, {}, SET(kCb, contrast(kNaN, 0)), A, kCbBad, {}, cb},
        {kCb, {}, SET(kCb, brightness(1.0, 0)), A, 0, {"brightness 1 0"}, level(2, cat({u32(1), dbl(0.5), dbl(1)}))},
        {kCb, {}, SET(kCb, brightness(0.25, 0)), D, 0, {}, level(2, cat({u32(1), dbl(0.5), dbl(0.25)}))},
        {kCb, {}, SET(kCb, brightness(0.25, 0)), "*", kRefused, {}, cb},
        {kCb, {}, ld(level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))), A, 0,
         {"contrast 0.125 0", "brightness 0.375 0"}, level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        // Version 1: two pairs; equal ones make one channel.
        {kCb, {}, ld(level(1, cat({dbl(0.125), dbl(0.375), dbl(0.125), dbl(0.375)}))), D, 0, {},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        // Version 0: one pair for every channel.
        {kCb, {}, ld(level(0, cat({dbl(0.125), dbl(0.375)}))), A, 0, {"contrast 0.125 0", "brightness 0.375 0"},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        {kCb, {}, ld(level(3, cat({u32(1), dbl(0.125), dbl(0.375)}))), A, kUnknown, {}, cb},
        // the input table: size, channels, the table; 256 x 1 here
        {kLut, {}, {}, D, 0, {}, lut(kClipTable)},
        {kLut, {}, setLut, A, 0,
         {"inputLut 256 0"}, lut(kReversed)},
        {kLut, {}, setLut, D, 0, {},
         lut(kReversed)},
        {kLut, {}, setLut, "*", kRefused,
         {}, lut(kClipTable)},
        {kLut, {}, ld(lut(kReversed)), A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, {}, ld(level(1, cat({kReversed, kReversed}))), A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, {}, ld(level(0, kReversed)), A, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, {}, ld(level(3, cat({u32(256), u32(1), kReversed}))), A, kUnknown, {}, lut(kClipTable)},
        // first pel offset: 0..127
        {kPel, {}, {}, D, 0, {}, level(0, {0})},
        {kPel, {}, SET(kPel, firstPelOffset(127)), A, 0, {"firstPelOffset 127"}, level(0, {127})},
        {kPel, {}, SET(kPel, firstPelOffset(128)), A, kPelBad, {}, level(0, {0})},
        {kPel, {}, SET(kPel, firstPelOffset(-1)), A, kPelBad, {}, level(0, {0})},
        {kPel, {}, SET(kPel, firstPelOffset(9)), D, 0, {}, level(0, {9})},
        {kPel, {}, SET(kPel, firstPelOffset(9)), "*", kRefused, {}, level(0, {0})},
        {kPel, {}, ld(level(0, {5})), A, 0, {"firstPelOffset 5"}, level(0, {5})},
        {kPel, level(0, {9}), ld(level(0, {0x80})), A, kPelBad, {}, level(0, {9})},
        {kPel, {}, ld(level(1, {5})), A, kUnknown, {}, level(0, {0})},
        // encoder control: reset on a hardware trigger
        {kEncCtl, {}, {}, D, 0, {}, level(0, {0})},
        {kEncCtl, {}, SET(kEncCtl, resetCounterOnHardwareTrigger(true)), A, 0, {"resetCounterOnHardwareTrigger 1"},
         level(0, {1})},
        {kEncCtl, {}, SET(kEncCtl, resetCounter()), A, 0, {"resetCounter"}, level(0, {0})},
        {kEncCtl, {}, SET(kEncCtl, resetCounterOnHardwareTrigger(true)), D, 0, {}, level(0, {1})},
        {kEncCtl, {}, SET(kEncCtl, resetCounterOnHardwareTrigger(true)), "*", kRefused, {}, level(0, {0})},
        {kEncCtl, {}, ld(level(0, {1})), A, 0, {"resetCounterOnHardwareTrigger 1"}, level(0, {1})},
        {kEncCtl, {}, ld(level(1, {1})), A, kUnknown, {}, level(0, {0})},
        // encoder (offsets into its stored form: flags 4, steps 9, sixteenths 13, port 17, offset 21,
        // forward 25, single 26, resolution 27, start 31, backwards 35, too fast 36)
        {kEnc, {}, {}, D, 0, {}, enc},
        {kEnc, {}, SET(kEnc, testEncoderEnabled(true)), A, 0, {"testEncoderEnabled 1"}, patch(enc, 4, {1})},
        {kEnc, {}, SET(kEnc, testEncoderDirectionPositive(false)), A, 0, {"testEncoderDirectionPositive 0"},
         patch(enc, 5, {0})},
        {kEnc, {}, SET(kEnc, triggerFromEncoder(false, true)), A, 0, {"triggerFromEncoder 0 1"},
         patch(enc, 6, {1, 0, 1})},
        {kEnc, {}, SET(kEnc, stepsPerLine(1, 0)), A, 0, {"stepsPerLine 1 0"}, patch(enc, 9, u32(1))},
        {kEnc, {}, SET(kEnc, stepsPerLine(0, 0)), A, kEncBad, {}, enc},
        {kEnc, {}, SET(kEnc, stepsPerLine(4095, 15)), A, 0, {"stepsPerLine 4095 15"},
         patch(enc, 9, cat({u32(4095), u32(15)}))},
        {kEnc, {}, SET(kEnc, stepsPerLine(4096, 0)), A, kEncBad, {}, enc},
        {kEnc, {}, SET(kEnc, stepsPerLine(1, 16)), A, kEncBad, {}, enc},
        {kEnc, {}, SET(kEnc, encoderPort(3)), A, 0, {"encoderPort 3"}, patch(enc, 17, u32(3))},
        {kEnc, {}, SET(kEnc, encoderPort(-1)), A, kEncBad, {}, enc},
        {kEnc, {}, SET(kEnc, encoderOffset(INT32_MIN)), A, 0, {"encoderOffset -2147483648"},
         patch(enc, 21, u32(0x80000000u))},
        {kEnc, {}, SET(kEnc, acquireDirectionPositive(false)), A, 0, {"acquireDirectionPositive 0"},
         patch(enc, 25, {0})},
        {kEnc, {}, SET(kEnc, useSingleChannel(true)), A, 0, {"useSingleChannel 1"}, patch(enc, 26, {1})},
        {kEnc, {}, SET(kEnc, encoderResolution(7)), A, 0, {"encoderResolution 7"}, patch(enc, 27, u32(7))},
        {kEnc, {}, SET(kEnc, startAcqOnEncoderCount(65535)), A, 0, {"startAcqOnEncoderCount 65535"},
         patch(enc, 31, u32(65535))},
        {kEnc, {}, SET(kEnc, startAcqOnEncoderCount(65536)), A, kEncBad, {}, enc},
        {kEnc, {}, SET(kEnc, ignoreBackwardsMotionBetweenAcquires(true)), A, 0,
         {"ignoreBackwardsMotionBetweenAcquires 1"}, patch(enc, 35, {1})},
        {kEnc, {}, SET(kEnc, ignoreTooFastEncoder(false)), A, 0, {"ignoreTooFastEncoder 0"}, patch(enc, 36, {0})},
        {kEnc, {}, SET(kEnc, encoderResolution(7)), D, 0, {}, patch(enc, 27, u32(7))},
        {kEnc, {}, SET(kEnc, encoderResolution(7)), "*", kRefused, {}, enc},
        // Each older layout leaves what it lacks as it was.
        {kEnc, kEncBefore, ld(level(0, cat({{1, 0, 1}, u32(7), kEncPort}))), A, 0, split(encCalls("1 0", "7 0")),
         encoder({1, 0, 1, 1, 0}, 7, 0, 1, uint32_t(-3), 0, 1, 11, 12, 1, 0)},
        // The stored combined flag is not read back: the two flags decide.
        {kEnc, kEncBefore, ld(level(1, cat({{1, 0, 0, 0, 1}, u32(7), kEncPort}))), A, 0, split(encCalls("0 1", "7 0")),
         encoder({1, 0, 1, 0, 1}, 7, 0, 1, uint32_t(-3), 0, 1, 11, 12, 1, 0)},
        {kEnc, kEncBefore, ld(level(2, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort}))), A, 0,
         split(encCalls("0 1", "7 4")), encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 1, 11, 12, 1, 0)},
        {kEnc, kEncBefore, ld(level(3, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, {0}}))), A, 0,
         split(encCalls("0 1", "7 4") + "|useSingleChannel 0"), encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 0,
         11, 12, 1, 0)},
        {kEnc, kEncBefore, ld(level(4, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, kEncTail}))), A, 0,
         split(encCalls("0 1", "7 4") + kEncV4),
         encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 0, 5, 65535, 0, 0)},
        {kEnc, kEncBefore, ld(level(5, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, kEncTail, {1}}))), A, 0,
         split(encCalls("0 1", "7 4") + kEncV4 + "|ignoreTooFastEncoder 1"),
         encoder({1, 0, 1, 0, 1}, 7, 4, 1, uint32_t(-3), 0, 0, 5, 65535, 0, 1)},
        // A value the setter refuses stops the load; what came before stays.
        {kEnc, kEncBefore, ld(level(5, cat({{1, 0, 1, 0, 1}, u32(0), u32(4), kEncPort, kEncTail, {1}}))), A, kEncBad,
         {"testEncoderEnabled 1", "testEncoderDirectionPositive 0", "triggerFromEncoder 0 1"}, encoder({1, 0, 1, 0, 1},
         9, 9, 0, 0, 1, 1, 11, 12, 1, 0)},
        {kEnc, kEncBefore, ld(level(6, cat({{1, 0, 1, 0, 1}, u32(7), u32(4), kEncPort, kEncTail, {1}}))), A, kUnknown,
         {}, kEncBefore},
        // region of interest: a rectangle's version byte, its corners, the mode (the board takes 0 and 2)
        {kRoi, {}, {}, D, 0, {}, roi0},
        {kRoi, {}, SET(kRoi, roi(ccPelRect(INT32_MAX - 647, 0, 647, 5))), A, 0, {"roi 2147483000 0 2147483647 5"},
         roi(2147483000, 0, 2147483647, 5, 0)},
        {kRoi, {}, SET(kRoi, roi(ccPelRect(-1, 0, 5, 5))), A, kRoiBad, {}, roi0},
        {kRoi, {}, SET(kRoi, roi(ccPelRect(0, -1, 5, 5))), A, kRoiBad, {}, roi0},
        {kRoi, {}, SET(kRoi, roi(ccPelRect(1, 2, 10, 20))), D, 0, {}, roi(1, 2, 11, 22, 0)},
        {kRoi, {}, SET(kRoi, roiMode(1)), D, kRoiBad, {}, roi0},
        {kRoi, {}, SET(kRoi, roiMode(2)), A, 0, {"roiMode 2"}, roi(0, 0, 0, 0, 2)},
        {kRoi, {}, SET(kRoi, roiMode(1)), A, kRoiBad, {}, roi0},
        {kRoi, {}, SET(kRoi, roiMode(2)), "*", kRefused, {}, roi0},
        // A loaded mode is sent without the board's check.
        {kRoi, {}, ld(roi(1, 2, 11, 22, 3)), A, 0, {"roi 1 2 11 22", "roiMode 3"}, roi(1, 2, 11, 22, 3)},
        {kRoi, {}, ld(level(0, cat({{0}, u32(1), u32(2), u32(11), u32(22)}))), A, 0, {"roi 1 2 11 22"},
         roi(1, 2, 11, 22, 0)},
        // Edges 2^32 - 1 apart, x0 negative.
        {kRoi, {}, ld(roi(0x80000000u, 2, 0x7FFFFFFF, 2, 3)), A, kRoiBad, {}, roi0},
        {kRoi, {}, ld(level(2, {})), A, kUnknown, {}, roi0},
        // The record classes hand over their whole object.
        {kClamp, {}, {}, D, 0, {}, level(0, u32(0))},
        {kClamp, {}, SET(kClamp, offsetClampMode(-7)), A, 0, {"offsetClamp -7"}, level(0, u32(uint32_t(-7)))},
        {kClamp, {}, SET(kClamp, offsetClampMode(2)), D, 0, {}, level(0, u32(2))},
        {kClamp, {}, SET(kClamp, offsetClampMode(2)), "*", kRefused, {}, level(0, u32(0))},
        {kClamp, {}, ld(level(0, u32(uint32_t(-2)))), A, 0, {"offsetClamp -2"}, level(0, u32(uint32_t(-2)))},
        {kClamp, {}, ld(level(1, {})), A, kUnknown, {}, level(0, u32(0))},
        {kSample, {}, {}, D, 0, {}, smp},
        {kSample, {}, SET(kSample, sampleX(0)), A, 0, {"sample 0 1"}, level(0, cat({u32(0), u32(1)}))},
        {kSample, {}, SET(kSample, sampleY(-3)), A, 0, {"sample 1 -3"}, level(0, cat({u32(1), u32(uint32_t(-3))}))},
        {kSample, {}, SET(kSample, sampleX(2)), D, 0, {}, level(0, cat({u32(2), u32(1)}))},
        {kSample, {}, SET(kSample, sampleX(2)), "*", kRefused, {}, smp},
        {kSample, {}, ld(level(0, cat({u32(2), u32(4)}))), A, 0, {"sample 2 4"}, level(0, cat({u32(2), u32(4)}))},
        {kSample, {}, ld(level(1, {})), A, kUnknown, {}, smp},
        {kReadout, {}, {}, D, 0, {}, level(0, {0, 0})},
        {kReadout, {}, SET(kReadout, horizontalReadoutReversed(true)), A, 0, {"readoutDirection 1 0"},
         level(0, {1, 0})},
        {kReadout, {}, SET(kReadout, verticalReadoutReversed(true)), A, 0, {"readoutDirection 0 1"}, level(0, {0, 1})},
        {kReadout, {}, SET(kReadout, verticalReadoutReversed(true)), D, 0, {}, level(0, {0, 1})},
        {kReadout, {}, SET(kReadout, verticalReadoutReversed(true)), "*", kRefused, {}, level(0, {0, 0})},
        {kReadout, {}, ld(level(0, {1, 0})), A, 0, {"readoutDirection 1 0"}, level(0, {1, 0})},
        {kReadout, {}, ld(level(1, {})), A, kUnknown, {}, level(0, {0, 0})},
        // trigger filter: ignore missed, width, period, delay; the board's record bounds the delay at 1e-3
        {kFilter, {}, {}, D, 0, {}, filt},
        {kFilter, {}, SET(kFilter, minTriggerWidth(2.999e-6)), A, 0, {call("triggerFilter", 2.999e-6, 0., 0., 1)},
         filter(1, 2.999e-6, 0, 0)},
        {kFilter, {}, SET(kFilter, minTriggerWidth(below(F::kMinWidthLowest))), A, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, minTriggerWidth(F::kMinWidthHighest)), D, 0, {},
         filter(1, F::kMinWidthHighest, 0, 0)},
        {kFilter, {}, SET(kFilter, minTriggerWidth(above(F::kMinWidthHighest))), D, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, minTriggerWidth(kNaN)), A, kFilterBad, {}, filt},
        {kFilter, level(1, cat({{1}, dbl(5e-6), dbl(0.5), dbl(0)})), SET(kFilter, minTriggerPeriod(0.0)), A, 0,
         {call("triggerFilter", 5e-6, 0., 0., 1)}, filt},
        {kFilter, {}, SET(kFilter, minTriggerPeriod(below(0.0))), D, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, minTriggerPeriod(F::kMinPeriodHighest)), D, 0, {},
         filter(1, 5e-6, F::kMinPeriodHighest, 0)},
        {kFilter, {}, SET(kFilter, minTriggerPeriod(above(F::kMinPeriodHighest))), D, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, minTriggerPeriod(kNaN)), D, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, triggerDelay(F::kDelayHighest)), D, 0, {}, filter(1, 5e-6, 0, F::kDelayHighest)},
        {kFilter, {}, SET(kFilter, triggerDelay(above(F::kDelayHighest))), D, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, triggerDelay(1e-3)), A, 0, {call("triggerFilter", 5e-6, 0., 1e-3, 1)},
         filter(1, 5e-6, 0, 1e-3)},
        {kFilter, {}, SET(kFilter, triggerDelay(above(1e-3))), A, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, triggerDelay(-1e-9)), A, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, triggerDelay(kNaN)), D, kFilterBad, {}, filt},
        {kFilter, {}, SET(kFilter, ignoreMissedTrigger(false)), A, 0, {call("triggerFilter", 5e-6, 0., 0., 0)},
         filter(0, 5e-6, 0, 0)},
        {kFilter, {}, SET(kFilter, ignoreMissedTrigger(false)), "*", kRefused, {}, filt},
        {kFilter, {}, ld(filter(0, 0x1p-17, 0x1p-10, 0x1p-12)), A, 0,
         {"triggerFilter 7.62939453125e-06 0.0009765625 0.000244140625 0"}, filter(0, 0x1p-17, 0x1p-10, 0x1p-12)},
        // Version 0 has no flag, and its values are not checked: the width is above the setter's bound.
        {kFilter, filter(0, 5e-6, 0, 0), ld(level(0, cat({dbl(0x1p-8), dbl(0), dbl(0)}))), A, 0,
         {"triggerFilter 0.00390625 0 0 1"}, filter(1, 0x1p-8, 0, 0)},
        {kFilter, {}, ld(filter(1, kNaN, 0, 0)), A, kFilterBad, {}, filt},
        {kFilter, {}, ld(level(2, {})), A, kUnknown, {}, filt},
        // CDC calibration: outlier correction, two bytes, row and column calibration
        {kCdc, {}, {}, D, 0, {}, cdc},
        {kCdc, {}, SET(kCdc, outlierPixelCorrectionEnabled(true)), A, 0, {"cdcCameraCalibration 1 85 25 1"},
         level(0, {1, 85, 25, 1})},
        {kCdc, {}, SET(kCdc, rowColumnCalibrationEnabled(false)), A, 0, {"cdcCameraCalibration 0 85 25 0"},
         level(0, {0, 85, 25, 0})},
        {kCdc, {}, SET(kCdc, rowColumnCalibrationEnabled(false)), D, 0, {}, level(0, {0, 85, 25, 0})},
        {kCdc, {}, SET(kCdc, rowColumnCalibrationEnabled(false)), "*", kRefused, {}, cdc},
        {kCdc, {}, ld(level(0, {1, 7, 9, 0})), A, 0, {"cdcCameraCalibration 1 7 9 0"}, level(0, {1, 7, 9, 0})},
        {kCdc, {}, ld(level(1, {})), A, kUnknown, {}, cdc},
        // sync: the model's archive index
        {kSync, {}, {}, D, 0, {}, sync(1, 1)},
        {kSync, {}, SET(kSync, syncModel(ccSyncModel::externalPixelSync())), A, 0, {"syncModel 159"}, sync(1, 10)},
        {kSync, {}, SET(kSync, syncModel(ccSyncModel::externalPixelSync())), D, 0, {}, sync(1, 10)},
        {kSync, {}, SET(kSync, syncModel(ccSyncModel::externalPixelSync())), "*", kRefused, {}, sync(1, 1)},
        {kSync, {}, ld(sync(1, 10)), A, 0, {"syncModel 159"}, sync(1, 10)},
        // Version 0 gives the default model.
        {kSync, sync(1, 10), ld(sync(0, 10)), D, 0, {}, sync(1, 1)},
        {kSync, {}, ld(sync(2, 10)), A, kUnknown, {}, sync(1, 1)},
        // custom properties: the bag's text
        {kCustom, {}, {}, D, 0, {}, empty},
        {kCustom, {}, [](ccPersistent& o) { dynamic_cast<ccCustomProp&>(o).customProps(bag(kBag)); }, A, 0,
         {"customProps " + kBag}, text(0, kBag)},
        {kCustom, {}, [](ccPersistent& o) { dynamic_cast<ccCustomProp&>(o).customProps(bag(kBag)); }, D, 0, {},
         text(0, kBag)},
        {kCustom, {}, [](ccPersistent& o) { dynamic_cast<ccCustomProp&>(o).customProps(bag(kBag)); }, "*", kRefused, {},
         empty},
        {kCustom, {}, ld(text(0, kBag)), A, 0, {"customProps " + kBag}, text(0, kBag)},
        {kCustom, {}, ld(text(0, "Read\tx")), A, kBagBad, {}, empty},
        {kCustom, {}, ld(text(1, "")), A, kUnknown, {}, empty},
        // the notifications: an object reference
        {kMove, {}, {}, D, 0, {}, none},
        {kMove, {}, ld(none), A, 0, {"movePartCallback 0"}, none},
        {kMove, {}, ld(level(1, kNoObject)), A, kUnknown, {}, none},
        {kOverrun, {}, {}, D, 0, {}, none},
        {kOverrun, {}, ld(none), A, 0, {"overrunCallback 0"}, none},
        {kOverrun, {}, ld(level(1, kNoObject)), A, kUnknown, {}, none},
        {kComplete, {}, {}, D, 0, {}, none},
        {kComplete, {}, ld(none), A, 0, {"completeCallback 0"}, none},
        {kComplete, {}, ld(level(1, kNoObject)), A, kUnknown, {}, none},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.c.name) + " row " + std::to_string(&r - rows));
        const ccPersistentFactory make = ccFindFactory(r.c.name);
        ASSERT_NE(make, nullptr);
        const std::unique_ptr<ccPersistent> p(make());
        ASSERT_STREQ(p->storedTypeName(), r.c.name);
        if (!r.before.empty())
            test_bytes::loadObject(*p, r.before);
        test_prop::Board board;
        board.info = {{ccPropStrobePulseDuration, 0.25, 0.5}, {ccPropStrobeDelay, 1e-3, 0.25},
                      {ccPropTriggerDelay, 0.0, 1e-3}};
        if (r.refuse) {
            r.c.attach(*p, &board);
            board.calls.clear(); // what attaching sends
            board.refuse = r.refuse;
        }
        std::wstring file;
        EXPECT_EQ(test_bytes::codeOf([&] { r.act ? r.act(*p) : void(); }, &file), r.code);
        EXPECT_EQ(file, r.code == kUnknown ? r.c.file : L"");
        EXPECT_EQ(board.calls, r.calls);
        board.refuse.clear();
        EXPECT_EQ(test_bytes::storeObject(*p), r.after);
    }
}

} // namespace
