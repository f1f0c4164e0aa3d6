#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "acq/hyper/prop/exposure.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/settletm.h"
#include "acq/hyper/prop/startup.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/propreq.h"
#include "tests/support/prop_fake.h"

namespace {

using test_bytes::Bytes;
using test_prop::head;
using test_prop::le;
using Calls = std::vector<std::pair<std::string, double>>;

const double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();

std::string joined(const Calls& calls)
{
    std::string out;
    for (const auto& [name, value] : calls)
        out += (out.empty() ? "" : "; ") + test_prop::call(name, value);
    return out;
}

struct Family {
    ccExposureProp exposure;
    ccStrobeProp strobe;
    ccStrobeDelayProp delay;
    ccSettlingTimeProp settling;
    ccLightProp light;

    void attach(cc_AcqFifo* fifo)
    {
        exposure.attach(fifo), strobe.attach(fifo), delay.attach(fifo), settling.attach(fifo), light.attach(fifo);
    }
};

// Each setter, named as the operation it calls, with its default and another
// value it takes. Bools and the port go through doubles here.
struct Setter {
    const char* name;
    void (*set)(Family&, double);
    double (*get)(const Family&);
    double initial, other;
};
#define SETTER(object, name, initial, other)                                                       \
    {#name, [](Family& f, double v) { f.object.name(static_cast<decltype(f.object.name())>(v)); }, \
     [](const Family& f) -> double { return f.object.name(); }, initial, other}
const Setter kSetters[] = {
    SETTER(exposure, exposure, 2e-5, 0.5),           SETTER(strobe, strobeEnable, 0, 1),
    SETTER(strobe, strobePulseDuration, 2e-5, 0.5),  SETTER(strobe, strobePulsePolarityHigh, 1, 0),
    SETTER(delay, strobeDelay, 0, 0.5),              SETTER(settling, settlingTime, 0, 0.5),
    SETTER(light, lightEnabled, 0, 1),               SETTER(light, brightFieldPowerRatio, 0, 0.5),
    SETTER(light, lightPower, 0, 0.5),               SETTER(light, lightDelay, 0.03, 0.5),
    SETTER(light, auxLightPort, -1, 2),              SETTER(light, auxBrightFieldPowerRatio, 0, 0.5),
    SETTER(light, auxLightPower, 0, 0.5),
};
#undef SETTER

const Setter& setter(const std::string& name)
{
    for (const Setter& s : kSetters)
        if (name == s.name)
            return s;
    throw std::invalid_argument(name);
}

TEST(ExposureLightProps, NewPropertiesHoldTheirDefaultsAndAnImplementationErrorLeavesThem)
{
    for (const Setter& s : kSetters) {
        SCOPED_TRACE(s.name);
        Family f;
        EXPECT_EQ(s.get(f), s.initial);
        test_prop::LoggingFifo board;
        board.refuse = true;
        f.attach(&board);
        EXPECT_THROW(s.set(f, s.other), ccUnsupportedHW);
        EXPECT_EQ(s.get(f), s.initial);
    }
}

// What the property is attached to: nothing, a board without records, or one
// whose records bound the pulse duration (its minimum 0.25 does not count,
// its maximum 0.5 does) and the strobe delay (1e-3 to 0.25).
enum Board { none, plain, records };

TEST(ExposureLightProps, SettersCheckTheirBoundsThenForwardAndStore)
{
    const std::type_info *const ok = nullptr, *exposure = &typeid(ccExposureProp::BadParams),
                                *strobe = &typeid(ccStrobeProp::BadParams),
                                *delay = &typeid(ccStrobeDelayProp::BadParams), *light = &typeid(ccLightProp::BadParams);
    const double tiny = -1e-300, above05 = std::nextafter(0.5, kInf);
    const struct { const char* setter; Board board; double value; const std::type_info* refused; } rows[] = {
        {"exposure", plain, 0.0, ok}, {"exposure", plain, -1e-9, exposure}, {"exposure", none, kNaN, exposure},
        {"strobeEnable", plain, 1, ok}, {"strobePulsePolarityHigh", plain, 0, ok},
        {"strobePulseDuration", plain, 1e9, ok}, {"strobePulseDuration", none, tiny, strobe},
        {"strobePulseDuration", none, kNaN, strobe}, {"strobePulseDuration", records, 0.0, ok},
        {"strobePulseDuration", records, 0.5, ok}, {"strobePulseDuration", records, above05, strobe},
        {"strobeDelay", plain, -1.0, ok}, {"strobeDelay", none, kNaN, delay}, {"strobeDelay", records, 1e-3, ok},
        {"strobeDelay", records, 0.25, ok}, {"strobeDelay", records, std::nextafter(1e-3, 0.0), delay},
        {"strobeDelay", records, std::nextafter(0.25, kInf), delay}, {"settlingTime", plain, -0.5, ok},
        {"lightEnabled", plain, 1, ok}, {"brightFieldPowerRatio", plain, 0.0, ok},
        {"brightFieldPowerRatio", plain, 1.0, ok}, {"brightFieldPowerRatio", plain, tiny, light},
        {"brightFieldPowerRatio", none, 1.0000001, light}, {"brightFieldPowerRatio", none, kNaN, light},
        {"lightPower", plain, 1.0, ok}, {"lightPower", plain, 1.0000001, light}, {"lightPower", none, tiny, light},
        {"lightPower", none, kNaN, light}, {"lightDelay", plain, 0.0, ok}, {"lightDelay", plain, tiny, light},
        {"lightDelay", none, kNaN, light}, {"auxLightPort", plain, 3, ok}, {"auxBrightFieldPowerRatio", plain, 1.0, ok},
        {"auxBrightFieldPowerRatio", plain, 1.0000001, light}, {"auxBrightFieldPowerRatio", none, kNaN, light},
        {"auxLightPower", plain, 0.0, ok}, {"auxLightPower", plain, tiny, light}, {"auxLightPower", none, kNaN, light},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.setter) + " " + std::to_string(r.value) + " board " + std::to_string(r.board));
        const Setter& s = setter(r.setter);
        test_prop::LoggingFifo board;
        if (r.board == records)
            board.info = {{ccPropStrobePulseDuration, 0.25, 0.5}, {ccPropStrobeDelay, 1e-3, 0.25}};
        Family f;
        if (r.board != none)
            f.attach(&board);
        const std::type_info* thrown = nullptr;
        try {
            s.set(f, r.value);
        } catch (const ccException& e) {
            thrown = &typeid(e);
        }
        EXPECT_TRUE(thrown == r.refused || (thrown && r.refused && *thrown == *r.refused));
        EXPECT_EQ(s.get(f), r.refused ? s.initial : r.value);
        EXPECT_EQ(board.calls, r.refused || r.board == none ? "" : test_prop::call(r.setter, r.value));
    }
}

TEST(ExposureLightProps, AttachingTheExposureTakesTheBoardsValueAndSendsNothing)
{
    test_prop::LoggingFifo board;
    board.boardExposure = 0.004;
    ccExposureProp p;
    p.exposure(0.5);
    p.attach(&board);
    EXPECT_EQ(p.fifo(), &board);
    EXPECT_EQ(p.exposure(), 0.004);
    EXPECT_EQ(board.calls, "");
}

// Archives written byte by byte: the header, the class's version byte, the
// ccPersistent level's byte (0), then the fields; a double is its IEEE bits in
// eight little-endian bytes.
Bytes f64(uint64_t bits) { return le(bits, 8); }
const uint64_t k0_125 = 0x3FC0000000000000u, k0_25 = 0x3FD0000000000000u, k0_5 = 0x3FE0000000000000u,
               k0_75 = 0x3FE8000000000000u, k1 = 0x3FF0000000000000u, k2 = 0x4000000000000000u;

TEST(ExposureLightProps, ArchivesStoreTheirFieldsAndLoadEveryVersionThroughTheSetters)
{
    ccAcqHyperPropStartup();
    const struct {
        ccPersistent& (*object)(Family&);
        const char* file;
        uint8_t current;
        bool stores; // false: an older form, loaded only
        Bytes bytes;
        Calls calls; // what a load sends, in order; also the values a store writes
    } rows[] = {
        {[](Family& f) -> ccPersistent& { return f.exposure; }, "exposure", 0, true, test_bytes::cat({head(0), f64(k0_5)}),
         {{"exposure", 0.5}}},
        {[](Family& f) -> ccPersistent& { return f.strobe; }, "strobe", 0, true,
         test_bytes::cat({head(0), {0x01}, f64(k0_25), {0x00}}),
         {{"strobeEnable", 1}, {"strobePulseDuration", 0.25}, {"strobePulsePolarityHigh", 0}}},
        {[](Family& f) -> ccPersistent& { return f.delay; }, "strobe", 1, true, test_bytes::cat({head(1), f64(k0_125)}),
         {{"strobeDelay", 0.125}}},
        // Whole microseconds.
        {[](Family& f) -> ccPersistent& { return f.delay; }, "strobe", 1, false,
         test_bytes::cat({head(0), le(1500, 4)}), {{"strobeDelay", 1500 * 1e-6}}},
        {[](Family& f) -> ccPersistent& { return f.settling; }, "settletm", 0, true, test_bytes::cat({head(0), f64(k2)}),
         {{"settlingTime", 2.0}}},
        {[](Family& f) -> ccPersistent& { return f.light; }, "light", 0, true,
         test_bytes::cat({head(0), f64(k0_5), f64(k0_25), f64(k0_125), le(0xFFFFFFFFu, 4), f64(k0_75), f64(k1)}),
         {{"brightFieldPowerRatio", 0.5}, {"lightPower", 0.25}, {"lightDelay", 0.125}, {"auxLightPort", -1},
          {"auxBrightFieldPowerRatio", 0.75}, {"auxLightPower", 1.0}}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.calls.front().first + " " + std::to_string(r.bytes[2]));
        const std::string file = std::string("acq/hyper/prop/") + r.file;
        // The light's enabled flag is neither stored nor loaded.
        Family stored, loaded;
        stored.light.lightEnabled(true);
        loaded.light.lightEnabled(true);
        loaded.light.auxLightPort(5);
        for (const auto& [name, value] : r.calls)
            setter(name).set(stored, value);
        if (r.stores) {
            EXPECT_EQ(test_bytes::store(ccArchive::littleEndian,
                                        [&](ccArchive& ar) { ccArchiveObject(r.object(stored), ar, false); }),
                      r.bytes);
        }

        test_prop::LoggingFifo board;
        loaded.attach(&board);
        test_bytes::load(r.bytes, [&](ccArchive& ar) { ccArchiveObject(r.object(loaded), ar, false); });
        EXPECT_EQ(board.calls, joined(r.calls));
        for (const auto& [name, value] : r.calls)
            EXPECT_EQ(setter(name).get(loaded), value) << name;
        EXPECT_TRUE(loaded.light.lightEnabled());

        // A newer version names the file and changes nothing.
        Bytes newer = r.bytes;
        newer[2] = static_cast<uint8_t>(r.current + 1);
        board.calls.clear();
        try {
            test_bytes::load(newer, [&](ccArchive& ar) { ccArchiveObject(r.object(loaded), ar, false); });
            ADD_FAILURE() << "loaded a newer version";
        } catch (const ccArchive::UnknownVersion& e) {
            EXPECT_EQ(e.file(), std::wstring(file.begin(), file.end()));
        }
        EXPECT_EQ(board.calls, "");
    }
}

TEST(ExposureLightProps, TheRegistryRecreatesEachClassByItsStoredName)
{
    ccAcqHyperPropStartup();
    test_prop::expectMadeByStoredName({"class ccExposureProp", "class ccStrobeProp", "class ccStrobeDelayProp",
                                       "class ccSettlingTimeProp", "class ccLightProp"});
}

} // namespace
