// The pattern every persistent property class shares, in one table: each range rule's boundary, sets forwarded
// when attached and only stored when detached, the board's refusal leaving what was held, every stored version
// loaded through the setters; and a newer one refused naming the class's file. Archives are written by hand from
// the formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

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

// A row's class and sets on it, as p.
#define SET(C, ...) C, [](ccPersistent& o) { auto& p = dynamic_cast<decltype(C)::Type&>(o); __VA_ARGS__; }

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

// Sets on a row's class, each on its own: all must end alike, and their error (if any) is the row's.
template <class P>
Action each(std::vector<std::function<void(P&)>> sets)
{
    return [sets](ccPersistent& o) {
        std::vector<uint32_t> codes;
        std::exception_ptr last;
        for (const auto& set : sets) {
            codes.push_back(codeOf([&] {
                try {
                    set(dynamic_cast<P&>(o));
                } catch (const ccException&) {
                    last = std::current_exception();
                    throw;
                }
            }));
        }
        if (std::adjacent_find(codes.begin(), codes.end(), std::not_equal_to<>()) != codes.end())
            throw std::logic_error("the sets of one row end differently");
        if (last)
            std::rethrow_exception(last);
    };
}
#define EACH(C, ...) C, each<decltype(C)::Type>({__VA_ARGS__})
#define TRY(what) [](auto& p) { p.what; }

// Detached, attached, or attached to a board that refuses the op named ("*": every op); or every way (E):
// attached, then detached without a call, then refused by the board leaving what the property held.
const char *const D = nullptr, *const A = "", *const E = "every way";

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
    const Bytes enc = kEncoder, filt = filter(1, 5e-6, 0, 0), stb = strobe(0, 2e-5, 1),
                cb = level(2, cat({u32(1), dbl(0.5), dbl(0.5)})), ctl = level(0, cat({{0}, dbl(32)})),
                roi0 = roi(0, 0, 0, 0, 0), inf = level(0, dbl(kInf)), none = level(0, kNoObject),
                trig = level(1, {1, 1}), cb77 = callback(77), twoCh = cb2(0.5, 0.5, 0.5, 0.5);
    const Row rows[] = {
        // trigger: enabled, low to high
        {SET(kTrig, p.triggerEnable(false), p.triggerLowToHigh(false)), E, 0, {"triggerEnable 0", "triggerLowToHigh 0"},
         level(1, {0, 0})},
        {SET(kTrig, p.triggerModel(static_cast<const ccTriggerModel*>(nullptr))), A, kTrigBad, {}, trig},
        {kTrig, ld(level(1, {0, 1})), E, 0, {"triggerEnable 0", "triggerLowToHigh 1"}, level(1, {0, 1})},
        // Version 0 held a model word that is not read back: the model becomes manual.
        {kTrig, ld(level(0, {1, 0, 0x78, 0x56, 0x34, 0x12})), A, 0,
         {"triggerEnable 1", "triggerLowToHigh 0", "triggerModel 128"}, level(1, {1, 0})},
        // strobe: enabled, pulse duration, polarity high; the board's record bounds the duration at 0.5
        {SET(kStrobe, p.strobeEnable(true), p.strobePulsePolarityHigh(false), p.strobePulseDuration(0.0),
             p.strobePulseDuration(0.5)),
         E, 0, {"strobeEnable 1", "strobePulsePolarityHigh 0", "strobePulseDuration 0", "strobePulseDuration 0.5"},
         strobe(1, 0.5, 0)},
        {EACH(kStrobe, TRY(strobePulseDuration(kTiny)), TRY(strobePulseDuration(kNaN))), E, kStrobeBad, {}, stb},
        {SET(kStrobe, p.strobePulseDuration(above(0.5))), A, kStrobeBad, {}, stb},
        {SET(kStrobe, p.strobePulseDuration(1e9)), D, 0, {}, strobe(0, 1e9, 1)},
        {kStrobe, ld(strobe(1, 0.25, 0)), E, 0,
         {"strobeEnable 1", "strobePulseDuration 0.25", "strobePulsePolarityHigh 0"}, strobe(1, 0.25, 0)},
        // strobe delay: the board's record bounds it to 1e-3..0.25, and attaching brings the default up to it
        {kDelay, {}, A, 0, {}, level(1, dbl(1e-3))},
        {SET(kDelay, p.strobeDelay(1e-3), p.strobeDelay(0.25)), E, 0, {"strobeDelay 0.001", "strobeDelay 0.25"},
         level(1, dbl(0.25))},
        {EACH(kDelay, TRY(strobeDelay(below(1e-3))), TRY(strobeDelay(above(0.25)))), A, kDelayBad, {},
         level(1, dbl(1e-3))},
        {SET(kDelay, p.strobeDelay(kNaN)), D, kDelayBad, {}, level(1, dbl(0))},
        {SET(kDelay, p.strobeDelay(-1.0)), D, 0, {}, level(1, dbl(-1))},
        {kDelay, ld(level(1, dbl(0.125))), E, 0, {"strobeDelay 0.125"}, level(1, dbl(0.125))},
        // Version 0: whole microseconds.
        {kDelay, ld(level(0, u32(1500))), E, 0, {call("strobeDelay", 1500 * 1e-6)}, level(1, dbl(1500 * 1e-6))},
        {SET(kExposure, p.exposure(0.0)), E, 0, {"exposure 0"}, level(0, dbl(0))},
        {EACH(kExposure, TRY(exposure(kTiny)), TRY(exposure(kNaN))), E, kExpBad, {}, level(0, dbl(2e-5))},
        {kExposure, ld(level(0, dbl(0.5))), E, 0, {"exposure 0.5"}, level(0, dbl(0.5))},
        {SET(kSettle, p.settlingTime(-0.5)), E, 0, {"settlingTime -0.5"}, level(0, dbl(-0.5))},
        {kSettle, ld(level(0, dbl(2))), E, 0, {"settlingTime 2"}, level(0, dbl(2))},
        // light: ratio, power, delay, aux port, aux ratio, aux power; the enabled flag is not stored. The ratios and
        // powers share one check, met at its edges once.
        {SET(kLight, p.lightEnabled(true), p.brightFieldPowerRatio(1.0), p.lightPower(1.0), p.lightDelay(0.0),
             p.auxLightPort(3), p.auxBrightFieldPowerRatio(1.0), p.auxLightPower(0.0)),
         E, 0,
         {"lightEnabled 1", "brightFieldPowerRatio 1", "lightPower 1", "lightDelay 0", "auxLightPort 3",
          "auxBrightFieldPowerRatio 1", "auxLightPower 0"},
         light(1, 1, 0, 3, 1, 0)},
        {EACH(kLight, TRY(brightFieldPowerRatio(kTiny)), TRY(brightFieldPowerRatio(1.0000001)),
              TRY(brightFieldPowerRatio(kNaN)), TRY(lightPower(1.0000001)), TRY(lightDelay(kTiny)),
              TRY(lightDelay(kNaN)), TRY(auxBrightFieldPowerRatio(kNaN)), TRY(auxLightPower(kTiny))),
         E, kLightBad, {}, light(0, 0, 0.03, ~0u, 0, 0)},
        {kLight, ld(light(0.5, 0.25, 0.125, ~0u, 0.75, 1)), E, 0,
         {"brightFieldPowerRatio 0.5", "lightPower 0.25", "lightDelay 0.125", "auxLightPort -1",
         "auxBrightFieldPowerRatio 0.75", "auxLightPower 1"}, light(0.5, 0.25, 0.125, ~0u, 0.75, 1)},
        // time-out: infinity without limit
        {SET(kTimeout, p.timeout(0.0)), E, 0, {"timeout 0"}, level(0, dbl(0))},
        {EACH(kTimeout, TRY(timeout(-0.001)), TRY(timeout(kNaN))), E, kTimeBad, {}, inf},
        {kTimeout, ld(inf), E, 0, {"timeout inf"}, inf, level(0, dbl(3))},
        // clipping: enabled, low, high
        {SET(kClip, p.clipRange(200, 100)), E, 0, {"clippingLowLevel 200", "clippingHighLevel 100"},
         level(0, {1, 200, 100})},
        {kClip, ld(level(0, {0, 20, 30})), E, 0, {"clippingLowLevel 20", "clippingHighLevel 30", "clippingEnabled 0"},
         level(0, {0, 20, 30})},
        {kClip, ld(level(0, {0, 20, 30})), "clippingEnabled", kRefused,
         {"clippingLowLevel 20", "clippingHighLevel 30"}, level(0, {1, 20, 30})},
        // alpha colour: enabled, value, mode; loaded only
        {kAlpha, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), E, 0,
         {"alphaColorEnabled 1", "alphaColorValue -2", "alphaColorMode 7"}, level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, ld(level(0, {5, 0, 0, 0, 3})), A, 0, {"alphaColorEnabled 0", "alphaColorValue 5", "alphaColorMode 3"},
         level(1, {0, 5, 0, 0, 0, 3}), level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})},
        {kAlpha, ld(level(1, {1, 0xFE, 0xFF, 0xFF, 0xFF, 7})), "alphaColorValue", kRefused, {"alphaColorEnabled 1"},
         level(1, {1, 9, 0, 0, 0, 0})},
        // camera test: first, second, third; loaded only
        {kTest, ld(level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200})), E, 0, {"cameraTest 1 -1 200"},
         level(0, {1, 0xFF, 0xFF, 0xFF, 0xFF, 200}), level(0, {0, 4, 0, 0, 0, 5})},
        // camera port: below the board's two
        {SET(kPort, p.cameraPort(1)), E, 0, {"cameraPort 1"}, level(0, u32(1))},
        {SET(kPort, p.cameraPort(2)), A, kPortBad, {}, level(0, u32(0))},
        {SET(kPort, p.cameraPort(7)), D, 0, {}, level(0, u32(7))},
        {SET(kPort, p.cameraPort(-1)), E, kPortBad, {}, level(0, u32(0))},
        {kPort, ld(level(0, u32(1))), E, 0, {"cameraPort 1"}, level(0, u32(1))},
        {SET(kBand, p.cameraBandwidth(0.0), p.cameraBandwidth(1.0)), E, 0, {"cameraBandwidth 0", "cameraBandwidth 1"},
         level(0, dbl(1))},
        {EACH(kBand, TRY(cameraBandwidth(-1e-9)), TRY(cameraBandwidth(1.0000001)), TRY(cameraBandwidth(kNaN))), E,
         kBandBad, {}, level(0, dbl(1))},
        {kBand, ld(level(0, dbl(0.5))), E, 0, {"cameraBandwidth 0.5"}, level(0, dbl(0.5))},
        // digital camera control: high gain, master clock 5..40
        {SET(kCtl, p.digitalHighGainSelected(true), p.masterClockFrequency(5.0), p.masterClockFrequency(40.0)), E, 0,
         {"digitalHighGainSelected 1", "masterClockFrequency 5", "masterClockFrequency 40"},
         level(0, cat({{1}, dbl(40)}))},
        {EACH(kCtl, TRY(masterClockFrequency(4.9)), TRY(masterClockFrequency(40.5)), TRY(masterClockFrequency(kNaN))),
         E, kCtlBad, {}, ctl},
        {kCtl, ld(level(0, cat({{1}, dbl(20)}))), E, 0, {"digitalHighGainSelected 1", "masterClockFrequency 20"},
         level(0, cat({{1}, dbl(20)}))},
        // charge transfer interval and horizontal adjustment: 0 or more, unset at infinity
        {SET(kCti, p.chargeTransferInterval(0.0)), E, 0, {"chargeTransferInterval 0"}, level(0, dbl(0))},
        {EACH(kCti, TRY(chargeTransferInterval(-1e-12)), TRY(chargeTransferInterval(kNaN))), E, kCtiBad, {}, inf},
        {kCti, ld(level(0, dbl(0.001))), E, 0, {"chargeTransferInterval 0.001"}, level(0, dbl(0.001))},
        {SET(kHoriz, p.horizontalAdjustment(0.0), p.horizontalAdjustment(kInf)), E, 0,
         {"horizontalAdjustment 0", "horizontalAdjustment inf"}, inf},
        {EACH(kHoriz, TRY(horizontalAdjustment(-1e-12)), TRY(horizontalAdjustment(kNaN))), E, kHorizBad, {}, inf},
        {kHoriz, ld(level(0, dbl(12.5))), E, 0, {"horizontalAdjustment 12.5"}, level(0, dbl(12.5))},
        // contrast and brightness: a count, then a pair per channel, 0..1 each; one channel here
        {SET(kCb, p.contrast(0.0, 0), p.contrast(1.0, 0), p.brightness(1.0, 0)), E, 0,
         {"contrast 0 0", "contrast 1 0", "brightness 1 0"}, level(2, cat({u32(1), dbl(1), dbl(1)}))},
        {EACH(kCb, TRY(contrast(-1e-9, 0)), TRY(contrast(1.0000001, 0)), TRY(contrast(kNaN, 0))), E, kCbBad, {}, cb},
        {kCb, ld(level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))), E, 0, {"contrast 0.125 0", "brightness 0.375 0"},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        // Version 1: two pairs; equal ones make one channel.
        {kCb, ld(level(1, cat({dbl(0.125), dbl(0.375), dbl(0.125), dbl(0.375)}))), D, 0, {},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        {kCb, ld(level(0, cat({dbl(0.125), dbl(0.375)}))), A, 0, {"contrast 0.125 0", "brightness 0.375 0"},
         level(2, cat({u32(1), dbl(0.125), dbl(0.375)}))},
        // Version 1 on one channel drops the second pair; a count that does not fit is refused, and a damaged one
        // meets the end of the archive before anything is shaped.
        {kCb, ld(level(1, cat({dbl(0.125), dbl(0.5), dbl(0.5), dbl(0.5)}))), A, 0,
         {"contrast 0.125 0", "brightness 0.5 0"}, level(2, cat({u32(1), dbl(0.125), dbl(0.5)}))},
        {kCb, ld(level(2, cat({u32(2), dbl(0.125), dbl(0.5), dbl(0.5), dbl(0.5)}))), A, kCbBad, {}, cb},
        {kCb, each<ccPersistent>({ld(level(2, u32(0))), ld(level(2, u32(0xFFFFFFFFu)))}), D, kCbBad, {}, cb},
        {kCb, ld(level(2, cat({u32(0x01000000u), dbl(0.125), dbl(0.5)}))), D, ccArchive::Eof::kCode, {}, cb},
        // Two channels: each is stored once the board took it; contrast goes to every channel before brightness.
        {SET(kCb, p.contrastBrightness(0.25, 0.75)), A, 0,
         {"contrast 0.25 0", "contrast 0.25 1", "brightness 0.75 0", "brightness 0.75 1"},
         cb2(0.25, 0.75, 0.25, 0.75), {}, 2},
        {SET(kCb, p.contrastBrightness(0.25, 0.75, 1), p.contrastBrightness(0.5, 0.5, 5)), A, 0,
         {"contrast 0.25 1", "brightness 0.75 1"}, cb2(0.5, 0.5, 0.25, 0.75), {}, 2},
        {EACH(kCb, TRY(contrast(0.25, 5)), TRY(contrastBrightness(0.25, 0.75, -2)), TRY(contrastBrightness(0.25, kNaN)),
              TRY(contrastBrightness(0.25, 1.5, 5))),
         A, kCbBad, {}, twoCh, {}, 2},
        {SET(kCb, p.contrast(0.25, -1)), "contrast 0.25 1", kRefused, {"contrast 0.25 0"}, cb2(0.25, 0.5, 0.5, 0.5), {},
         2},
        {kCb, ld(cb2(0.125, 0.375, 1, 0)), E, 0,
         {"contrast 0.125 0", "brightness 0.375 0", "contrast 1 1", "brightness 0 1"}, cb2(0.125, 0.375, 1, 0), {}, 2},
        {kCb, ld(level(1, cat({dbl(0.125), dbl(0.375), dbl(1), dbl(0)}))), E, 0,
         {"contrast 0.125 0", "brightness 0.375 0", "contrast 1 1", "brightness 0 1"}, cb2(0.125, 0.375, 1, 0), {}, 2},
        {kCb, ld(level(0, cat({dbl(0.25), dbl(0.75)}))), A, 0,
         {"contrast 0.25 0", "contrast 0.25 1", "brightness 0.75 0", "brightness 0.75 1"},
         cb2(0.25, 0.75, 0.25, 0.75), {}, 2},
        // the input table: size, channels, the table; 256 x 1 here
        {kLut, setLut, E, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, ld(lut(kReversed)), E, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, ld(level(1, cat({kReversed, kReversed}))), E, 0, {"inputLut 256 0"}, lut(kReversed)},
        {kLut, ld(level(0, kReversed)), E, 0, {"inputLut 256 0"}, lut(kReversed)},
        // Another shape: an unshaped property takes it, a shaped one refuses it. Version 1 held channel 1 first.
        {kLut, ld(lut512()), E, 0, {"inputLut 512 0"}, lut512(), {}, 1, 512},
        {kLut, ld(lut512()), A, kLutBad, {}, lut(kClipTable)},
        {kLut, ld(level(1, cat({kReversed, kClipTable}))), E, 0, {"inputLut 256 1", "inputLut 256 0"},
         level(2, cat({u32(256), u32(2), kClipTable, kReversed})), {}, 2},
        // first pel offset: 0..127
        {SET(kPel, p.firstPelOffset(127)), E, 0, {"firstPelOffset 127"}, level(0, {127})},
        {EACH(kPel, TRY(firstPelOffset(128)), TRY(firstPelOffset(-1))), E, kPelBad, {}, level(0, {0})},
        {kPel, ld(level(0, {5})), E, 0, {"firstPelOffset 5"}, level(0, {5})},
        {kPel, ld(level(0, {0x80})), A, kPelBad, {}, level(0, {9}), level(0, {9})},
        // encoder control: reset on a hardware trigger; reset now (detached, nothing)
        {SET(kEncCtl, p.resetCounterOnHardwareTrigger(true), p.resetCounter()), E, 0,
         {"resetCounterOnHardwareTrigger 1", "resetCounter"}, level(0, {1})},
        {kEncCtl, ld(level(0, {1})), E, 0, {"resetCounterOnHardwareTrigger 1"}, level(0, {1})},
        // encoder
        {SET(kEnc, p.testEncoderEnabled(true), p.testEncoderDirectionPositive(false), p.triggerFromEncoder(false, true),
             p.stepsPerLine(1, 0), p.stepsPerLine(4095, 15), p.encoderPort(3), p.encoderOffset(INT32_MIN),
             p.acquireDirectionPositive(false), p.useSingleChannel(true), p.encoderResolution(7),
             p.startAcqOnEncoderCount(65535), p.ignoreBackwardsMotionBetweenAcquires(true),
             p.ignoreTooFastEncoder(false)),
         E, 0,
         {"testEncoderEnabled 1", "testEncoderDirectionPositive 0", "triggerFromEncoder 0 1", "stepsPerLine 1 0",
          "stepsPerLine 4095 15", "encoderPort 3", "encoderOffset -2147483648", "acquireDirectionPositive 0",
          "useSingleChannel 1", "encoderResolution 7", "startAcqOnEncoderCount 65535",
          "ignoreBackwardsMotionBetweenAcquires 1", "ignoreTooFastEncoder 0"},
         encoder({1, 0, 1, 0, 1}, 4095, 15, 3, 0x80000000u, 0, 1, 7, 65535, 1, 0)},
        {EACH(kEnc, TRY(stepsPerLine(0, 0)), TRY(stepsPerLine(4096, 0)), TRY(stepsPerLine(1, 16)), TRY(encoderPort(-1)),
              TRY(startAcqOnEncoderCount(65536))),
         E, kEncBad, {}, enc},
        // Below a port count the board gives.
        {SET(kEnc, p.encoderPort(1)), A, 0, {"encoderPort 1"}, patch(enc, 17, u32(1)), {}, 1, 256, 2},
        {SET(kEnc, p.encoderPort(2)), A, kEncBad, {}, enc, {}, 1, 256, 2},
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
        // region of interest: a rectangle's version byte, its corners, the mode (the board takes 0 and 2)
        {SET(kRoi, p.roi(ccPelRect(INT32_MAX - 647, 0, 647, 5))), E, 0, {"roi 2147483000 0 2147483647 5"},
         roi(2147483000, 0, 2147483647, 5, 0)},
        {EACH(kRoi, TRY(roi(ccPelRect(-1, 0, 5, 5))), TRY(roi(ccPelRect(0, -1, 5, 5)))), E, kRoiBad, {}, roi0},
        {SET(kRoi, p.roiMode(1)), D, kRoiBad, {}, roi0},
        {SET(kRoi, p.roiMode(2)), A, 0, {"roiMode 2"}, roi(0, 0, 0, 0, 2)},
        {SET(kRoi, p.roiMode(1)), A, kRoiBad, {}, roi0},
        {SET(kRoi, p.roiMode(2)), "*", kRefused, {}, roi0},
        // A loaded mode is sent without the board's check.
        {kRoi, ld(roi(1, 2, 11, 22, 3)), E, 0, {"roi 1 2 11 22", "roiMode 3"}, roi(1, 2, 11, 22, 3)},
        {kRoi, ld(level(0, cat({{0}, u32(1), u32(2), u32(11), u32(22)}))), E, 0, {"roi 1 2 11 22"},
         roi(1, 2, 11, 22, 0)},
        // Edges 2^32 - 1 apart, x0 negative.
        {kRoi, ld(roi(0x80000000u, 2, 0x7FFFFFFF, 2, 3)), E, kRoiBad, {}, roi0},
        // The record classes hand over their whole object.
        {SET(kClamp, p.offsetClampMode(-7)), E, 0, {"offsetClamp -7"}, level(0, u32(uint32_t(-7)))},
        {kClamp, ld(level(0, u32(uint32_t(-2)))), E, 0, {"offsetClamp -2"}, level(0, u32(uint32_t(-2)))},
        {SET(kSample, p.sampleX(0), p.sampleY(-3)), E, 0, {"sample 0 1", "sample 0 -3"},
         level(0, cat({u32(0), u32(uint32_t(-3))}))},
        {kSample, ld(level(0, cat({u32(2), u32(4)}))), E, 0, {"sample 2 4"}, level(0, cat({u32(2), u32(4)}))},
        {SET(kReadout, p.horizontalReadoutReversed(true), p.verticalReadoutReversed(true)), E, 0,
         {"readoutDirection 1 0", "readoutDirection 1 1"}, level(0, {1, 1})},
        {kReadout, ld(level(0, {1, 0})), E, 0, {"readoutDirection 1 0"}, level(0, {1, 0})},
        // trigger filter: ignore missed, width, period, delay; the board's record bounds the delay at 1e-3.
        // The bounds are microsecond counts with a little slack, in seconds, met exactly.
        {SET(kFilter, p.minTriggerWidth(2.999 * 1e-6), p.minTriggerWidth(258.001 * 1e-6),
             p.minTriggerPeriod(65537.001 * 1e-6), p.minTriggerPeriod(0.0), p.ignoreMissedTrigger(false)),
         E, 0,
         {call("triggerFilter", 2.999 * 1e-6, 0., 0., 1), call("triggerFilter", 258.001 * 1e-6, 0., 0., 1),
          call("triggerFilter", 258.001 * 1e-6, 65537.001 * 1e-6, 0., 1),
          call("triggerFilter", 258.001 * 1e-6, 0., 0., 1),
          call("triggerFilter", 258.001 * 1e-6, 0., 0., 0)},
         filter(0, 258.001 * 1e-6, 0, 0)},
        {EACH(kFilter, TRY(minTriggerWidth(below(2.999 * 1e-6))), TRY(minTriggerWidth(above(258.001 * 1e-6))),
              TRY(minTriggerWidth(kNaN)), TRY(minTriggerPeriod(below(0.0))),
              TRY(minTriggerPeriod(above(65537.001 * 1e-6))), TRY(minTriggerPeriod(kNaN)), TRY(triggerDelay(-1e-9)),
              TRY(triggerDelay(kNaN))),
         E, kFilterBad, {}, filt},
        {SET(kFilter, p.triggerDelay(65535.001 * 1e-6)), D, 0, {}, filter(1, 5e-6, 0, 65535.001 * 1e-6)},
        {SET(kFilter, p.triggerDelay(above(65535.001 * 1e-6))), D, kFilterBad, {}, filt},
        {SET(kFilter, p.triggerDelay(1e-3)), A, 0, {call("triggerFilter", 5e-6, 0., 1e-3, 1)},
         filter(1, 5e-6, 0, 1e-3)},
        {SET(kFilter, p.triggerDelay(above(1e-3))), A, kFilterBad, {}, filt},
        {kFilter, ld(filter(0, 0x1p-17, 0x1p-10, 0x1p-12)), E, 0,
         {"triggerFilter 7.62939453125e-06 0.0009765625 0.000244140625 0"}, filter(0, 0x1p-17, 0x1p-10, 0x1p-12)},
        // Version 0 has no flag, and its values are not checked: the width is above the setter's bound.
        {kFilter, ld(level(0, cat({dbl(0x1p-8), dbl(0), dbl(0)}))), E, 0, {"triggerFilter 0.00390625 0 0 1"},
         filter(1, 0x1p-8, 0, 0), filter(0, 5e-6, 0, 0)},
        {kFilter, ld(filter(1, kNaN, 0, 0)), E, kFilterBad, {}, filt},
        // CDC calibration: outlier correction, two bytes, row and column calibration
        {SET(kCdc, p.outlierPixelCorrectionEnabled(true), p.rowColumnCalibrationEnabled(false)), E, 0,
         {"cdcCameraCalibration 1 85 25 1", "cdcCameraCalibration 1 85 25 0"}, level(0, {1, 85, 25, 0})},
        {kCdc, ld(level(0, {1, 7, 9, 0})), E, 0, {"cdcCameraCalibration 1 7 9 0"}, level(0, {1, 7, 9, 0})},
        // sync: the model's archive index
        {SET(kSync, p.syncModel(ccSyncModel::defaultModel())), A, 0, {"syncModel 157"}, sync(1, 8)}, // the board's
        {SET(kSync, p.syncModel(ccSyncModel::externalPixelSync())), E, 0, {"syncModel 159"}, sync(1, 10)},
        {kSync, ld(sync(1, 10)), E, 0, {"syncModel 159"}, sync(1, 10)},
        {kSync, ld(sync(0, 10)), D, 0, {}, sync(1, 1), sync(1, 10)},
        {SET(kCustom, p.customProps(bag(kBag))), E, 0, {"customProps " + kBag}, text(0, kBag)},
        {kCustom, ld(text(0, kBag)), E, 0, {"customProps " + kBag}, text(0, kBag)},
        {kCustom, ld(text(0, "Read\tx")), A, kBagBad, {}, text(0, "")},
        // the notifications: an object reference; a loaded object is the board's too. The three share one
        // routine: each is seen to reach its own operation.
        {kMove, ld(none), E, 0, {"movePartCallback 0"}, none, cb77},
        {kMove, ld(callback(5)), E, 0, {"movePartCallback 1"}, callback(5), cb77},
        {kMove, ld(level(0, objectRecord("ccTestNotCallback", {0x00}))), E, kBadContent, {}, cb77, cb77},
        {kOverrun, ld(callback(5)), E, 0, {"overrunCallback 1"}, callback(5), cb77},
        {kComplete, ld(callback(5)), E, 0, {"completeCallback 1"}, callback(5), cb77},
    };
    for (const Row& r : rows) {
        const bool everyWay = r.refuse == E;
        for (const char* way : everyWay ? std::vector<const char*>{A, D, "*"} : std::vector<const char*>{r.refuse}) {
            SCOPED_TRACE(std::string(r.c.name) + " row " + std::to_string(&r - rows) + " " + (way ? way : "detached"));
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
            Bytes held;
            if (way) {
                r.c.attach(*p, &board);
                board.calls.clear(); // what attaching sends
                held = storeObject(*p);
                board.refuse = way;
            }
            // Every way but attached: nothing reaches a board; a board's refusal leaves what was held.
            const bool refused = everyWay && way && *way == '*';
            const uint32_t code = refused && !r.code ? kRefused : r.code;
            std::wstring file;
            EXPECT_EQ(codeOf([&] { r.act ? r.act(*p) : void(); }, &file), code);
            if (code == kBadContent) {
                EXPECT_EQ(file, r.c.file);
            }
            const Calls calls = everyWay && way != A ? Calls() : r.calls;
            EXPECT_EQ(board.calls, calls);
            if (r.c.held) {
                EXPECT_EQ(board.callback.rawPointer(), calls.empty() ? nullptr : r.c.held(*p));
            }
            board.refuse.clear();
            EXPECT_EQ(storeObject(*p), refused && !r.code ? held : r.after);
        }
    }
}

// A stored version newer than the class's own is refused, naming the class's file, before anything is read.
TEST(PropertyPattern, ANewerVersionIsRefusedNamingTheClassesFile)
{
    ccAcqHyperPropStartup();
    const Class* const classes[] = {&kTrig, &kStrobe, &kDelay, &kExposure, &kSettle, &kLight, &kTimeout, &kClip,
                                    &kAlpha, &kTest, &kPort, &kBand, &kCtl, &kCti, &kHoriz, &kCb, &kLut, &kPel,
                                    &kEncCtl, &kEnc, &kRoi, &kClamp, &kSample, &kReadout, &kFilter, &kCdc, &kSync,
                                    &kCustom, &kMove, &kOverrun, &kComplete};
    for (const Class* c : classes) {
        SCOPED_TRACE(c->name);
        const std::unique_ptr<ccPersistent> p(ccFindFactory(c->name)());
        Bytes stored = storeObject(*p);
        ++stored[c == &kSync ? 3 : 2]; // the persistent level comes first in the sync's
        std::wstring file;
        EXPECT_EQ(codeOf([&] { loadObject(*p, stored); }, &file), kUnknown);
        EXPECT_EQ(file, c->file);
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
        {READ(kLight, p.lightEnabled(), p.brightFieldPowerRatio(), p.lightPower(), p.lightDelay(), p.auxLightPort(),
              p.auxBrightFieldPowerRatio(), p.auxLightPower()),
         light(0.5, 0.25, 0.125, 2, 0.75, 1), " 0 0.5 0.25 0.125 2 0.75 1"},
        {READ(kPort, p.cameraPort()), level(0, u32(1)), " 1"},
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
