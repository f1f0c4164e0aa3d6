#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "acq/hyper/prop/lsprops.h"
#include "acq/hyper/prop/startup.h"
#include "tests/support/prop_fake.h"

namespace {

using test_bytes::Bytes;
using test_bytes::cat;
using test_prop::head;
using LineScanFifo = test_prop::LoggingFifo;

struct LineScan {
    ccFirstPelOffsetProp pel;
    ccEncoderControlProp control;
    ccEncoderProp enc;

    void attach(cc_AcqFifo* f)
    {
        pel.attach(f);
        control.attach(f);
        enc.attach(f);
    }
    // Every stored value, one labelled field after another.
    std::string values() const
    {
        std::ostringstream os;
        os << "pel " << int(pel.firstPelOffset()) << ", reset " << control.resetCounterOnHardwareTrigger()
           << ", test " << enc.testEncoderEnabled() << ' ' << enc.testEncoderDirectionPositive() << ", trigger "
           << enc.triggerFromEncoder() << ' ' << enc.triggerFromEncoderFirst() << ' ' << enc.triggerFromEncoderSecond()
           << ", steps " << enc.stepsPerLine() << ' ' << enc.stepSixteenths() << ", port " << enc.encoderPort()
           << ", offset " << enc.encoderOffset() << ", forward " << enc.acquireDirectionPositive() << ", single "
           << enc.useSingleChannel() << ", resolution " << enc.encoderResolution() << ", start "
           << enc.startAcqOnEncoderCount() << ", backwards " << enc.ignoreBackwardsMotionBetweenAcquires()
           << ", tooFast " << enc.ignoreTooFastEncoder();
        return os.str();
    }
};

const std::string kDefaults = "pel 0, reset 0, test 0 1, trigger 0 0 0, steps 3 0, port 0, offset 0, forward 1, "
                              "single 0, resolution 0, start 0, backwards 0, tooFast 1";

// values with the field labelled as field's first word replaced by field.
std::string with(std::string values, const std::string& field)
{
    const std::string label = field.substr(0, field.find(' ') + 1);
    const size_t at = values.find(label);
    return values.replace(at, values.find(',', at) - at, field);
}

// The stored name of the library error f throws, "" when it returns.
std::string thrownBy(const std::function<void()>& f)
{
    try {
        f();
    } catch (const ccException& e) {
        return e.storedTypeName();
    }
    return "";
}

const std::string kFpoBad = ccFirstPelOffsetProp::BadParams::kStoredName;
const std::string kEncBad = ccEncoderProp::BadParams::kStoredName;

#define SET(call) [](LineScan& p) { p.call; }

TEST(LineScanProps, SettersCheckThenForwardWhenAttachedThenStoreAndARefusalChangesNothing)
{
    const struct {
        std::function<void(LineScan&)> set;
        const char* call;  // forwarded when attached
        const char* field; // stored; null: nothing stored
        std::string refused;
    } rows[] = {
        {SET(pel.firstPelOffset(127)), "firstPelOffset 127", "pel 127", ""},
        {SET(pel.firstPelOffset(-1)), "", nullptr, kFpoBad},
        {SET(control.resetCounterOnHardwareTrigger(true)), "resetCounterOnHardwareTrigger 1", "reset 1", ""},
        {SET(control.resetCounter()), "resetCounter", nullptr, ""},
        {SET(enc.testEncoderEnabled(true)), "testEncoderEnabled 1", "test 1 1", ""},
        {SET(enc.testEncoderDirectionPositive(false)), "testEncoderDirectionPositive 0", "test 0 0", ""},
        {SET(enc.triggerFromEncoder(false, true)), "triggerFromEncoder 0 1", "trigger 1 0 1", ""},
        {SET(enc.stepsPerLine(1, 0)), "stepsPerLine 1 0", "steps 1 0", ""},
        {SET(enc.stepsPerLine(4095, 15)), "stepsPerLine 4095 15", "steps 4095 15", ""},
        {SET(enc.stepsPerLine(0, 0)), "", nullptr, kEncBad},
        {SET(enc.stepsPerLine(4096, 0)), "", nullptr, kEncBad},
        {SET(enc.stepsPerLine(1, 16)), "", nullptr, kEncBad},
        {SET(enc.encoderPort(3)), "encoderPort 3", "port 3", ""}, // the board counts no ports
        {SET(enc.encoderPort(-1)), "", nullptr, kEncBad},
        {SET(enc.encoderOffset(INT32_MIN)), "encoderOffset -2147483648", "offset -2147483648", ""},
        {SET(enc.acquireDirectionPositive(false)), "acquireDirectionPositive 0", "forward 0", ""},
        {SET(enc.useSingleChannel(true)), "useSingleChannel 1", "single 1", ""},
        {SET(enc.encoderResolution(7)), "encoderResolution 7", "resolution 7", ""},
        {SET(enc.startAcqOnEncoderCount(65535)), "startAcqOnEncoderCount 65535", "start 65535", ""},
        {SET(enc.startAcqOnEncoderCount(65536)), "", nullptr, kEncBad},
        {SET(enc.ignoreBackwardsMotionBetweenAcquires(true)), "ignoreBackwardsMotionBetweenAcquires 1", "backwards 1",
         ""},
        {SET(enc.ignoreTooFastEncoder(false)), "ignoreTooFastEncoder 0", "tooFast 0", ""},
    };
    enum Mode { detached, attached, boardRefuses };
    for (const auto& r : rows)
        for (Mode mode : {detached, attached, boardRefuses}) {
            SCOPED_TRACE("row " + std::to_string(&r - rows) + " mode " + std::to_string(mode));
            LineScan p;
            EXPECT_EQ(p.values(), kDefaults);
            LineScanFifo board;
            board.refuse = mode == boardRefuses;
            if (mode != detached)
                p.attach(&board);
            const bool accepted = r.refused.empty();
            const std::string thrown = thrownBy([&] { r.set(p); });
            EXPECT_EQ(thrown, !accepted ? r.refused : mode == boardRefuses ? ccUnsupportedHW::kStoredName : "");
            EXPECT_EQ(board.calls, accepted && mode != detached ? r.call : "");
            EXPECT_EQ(p.values(), r.field && mode != boardRefuses ? with(kDefaults, r.field) : kDefaults);
        }
}

TEST(LineScanProps, ThePortIsBelowANonZeroPortCountAndTheCountersAnswerOnlyWhenAttached)
{
    const struct { uint32_t ports; int32_t port; bool accepted; } rows[] = {{2, 1, true}, {2, 2, false}};
    for (const auto& r : rows) {
        LineScanFifo board;
        board.ports = r.ports;
        ccEncoderProp p;
        p.attach(&board);
        EXPECT_EQ(thrownBy([&] { p.encoderPort(r.port); }), r.accepted ? "" : kEncBad);
        EXPECT_EQ(p.encoderPort(), r.accepted ? r.port : 0);
        EXPECT_EQ(board.calls, r.accepted ? "encoderPort " + std::to_string(r.port) : "");
        EXPECT_EQ(p.numEncoderPorts(), r.ports);
    }
    ccEncoderProp detachedEncoder;
    EXPECT_EQ(thrownBy([&] { detachedEncoder.numEncoderPorts(); }), ccEncoderProp::NoFrameGrabber::kStoredName);
    LineScanFifo board;
    ccEncoderControlProp control;
    EXPECT_EQ(control.currentEncoderCount(), 0u);
    control.attach(&board);
    EXPECT_EQ(control.currentEncoderCount(), 77u);
}

TEST(LineScanProps, TheRegistryRecreatesEachClassByItsStoredName)
{
    ccAcqHyperPropStartup();
    test_prop::expectMadeByStoredName({"class ccFirstPelOffsetProp", "class ccEncoderControlProp", "class ccEncoderProp"});
}

// A little-endian 32-bit word.
Bytes w32(uint32_t v) { return test_prop::le(v, 4); }

TEST(LineScanProps, EveryStoredVersionLoadsThroughTheSettersStoresBackAndANewerOneIsRefused)
{
    // The fields before each load, so that what a version lacks shows.
    const std::string before = "pel 9, reset 0, test 0 1, trigger 1 1 1, steps 9 9, port 0, offset 0, forward 1, "
                               "single 1, resolution 11, start 12, backwards 1, tooFast 0";
    const std::string v0 = "pel 9, reset 0, test 1 0, trigger 1 1 0, steps 7 0, port 1, offset -3, forward 0, "
                           "single 1, resolution 11, start 12, backwards 1, tooFast 0";
    const std::string v2 = with(with(v0, "trigger 1 0 1"), "steps 7 4");
    const std::string v4 = with(with(with(with(v2, "single 0"), "resolution 5"), "start 65535"), "backwards 0");
    const auto calls = [](const char* trigger, const char* steps) {
        return std::string("testEncoderEnabled 1; testEncoderDirectionPositive 0; triggerFromEncoder ") + trigger +
               "; stepsPerLine " + steps + "; encoderPort 1; encoderOffset -3; acquireDirectionPositive 0";
    };
    const std::string v3Calls = calls("0 1", "7 4") + "; useSingleChannel 0";
    const std::string v4Calls =
        v3Calls + "; encoderResolution 5; startAcqOnEncoderCount 65535; ignoreBackwardsMotionBetweenAcquires 0";
    const Bytes port = cat({w32(1), w32(uint32_t(-3)), {0}});
    const Bytes flags = {1, 0, 1, 0, 1}; // test flags, then combined, first and second trigger
    const Bytes steps = cat({w32(7), w32(4)});
    const Bytes tail = cat({{0}, w32(5), w32(65535), {0}});
    const std::string unknown = ccArchive::UnknownVersion::kStoredName;
    const struct {
        int which; // first pel offset, encoder control, encoder
        Bytes bytes;
        std::string calls, values, thrown;
    } rows[] = {
        {0, cat({head(0), {0x05}}), "firstPelOffset 5", with(before, "pel 5"), ""},
        {0, cat({head(0), {0x80}}), "", before, kFpoBad},
        {0, cat({head(1), {0x05}}), "", before, unknown},
        {1, cat({head(0), {0x01}}), "resetCounterOnHardwareTrigger 1", with(before, "reset 1"), ""},
        {1, cat({head(1), {0x01}}), "", before, unknown},
        {2, cat({head(0), {1, 0, 1}, w32(7), port}), calls("1 0", "7 0"), v0, ""},
        // The stored combined flag is not read back: the two flags decide.
        {2, cat({head(1), {1, 0, 0, 0, 1}, w32(7), port}), calls("0 1", "7 0"), with(v0, "trigger 1 0 1"), ""},
        {2, cat({head(2), flags, steps, port}), calls("0 1", "7 4"), v2, ""},
        {2, cat({head(3), flags, steps, port, {0}}), v3Calls, with(v2, "single 0"), ""},
        {2, cat({head(4), flags, steps, port, tail}), v4Calls, v4, ""},
        {2, cat({head(5), flags, steps, port, tail, {1}}), v4Calls + "; ignoreTooFastEncoder 1", with(v4, "tooFast 1"),
         ""},
        // A value the setter refuses stops the load; what came before stays.
        {2, cat({head(5), flags, w32(0), w32(4), port, tail, {1}}),
         "testEncoderEnabled 1; testEncoderDirectionPositive 0; triggerFromEncoder 0 1",
         with(with(before, "test 1 0"), "trigger 1 0 1"), kEncBad},
        {2, cat({head(6), flags, steps, port, tail, {1}}), "", before, unknown},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(std::to_string(r.which) + " version " + std::to_string(r.bytes[2]));
        LineScan p;
        p.pel.firstPelOffset(9);
        p.enc.triggerFromEncoder(true, true);
        p.enc.stepsPerLine(9, 9);
        p.enc.useSingleChannel(true);
        p.enc.encoderResolution(11);
        p.enc.startAcqOnEncoderCount(12);
        p.enc.ignoreBackwardsMotionBetweenAcquires(true);
        p.enc.ignoreTooFastEncoder(false);
        ASSERT_EQ(p.values(), before);
        LineScanFifo board;
        p.attach(&board);
        ccPersistent* objects[] = {&p.pel, &p.control, &p.enc};
        const auto archive = [&](ccArchive& ar) { ccArchiveObject(*objects[r.which], ar, false); };
        std::string file;
        EXPECT_EQ(thrownBy([&] {
                      try {
                          test_bytes::load(r.bytes, archive);
                      } catch (const ccArchive::UnknownVersion& e) {
                          file.assign(e.file().begin(), e.file().end());
                          throw;
                      }
                  }),
                  r.thrown);
        EXPECT_EQ(file, r.thrown == unknown ? "acq/hyper/prop/lsprops" : "");
        EXPECT_EQ(board.calls, r.calls);
        EXPECT_EQ(p.values(), r.values);
        // What a current version loads is stored back byte for byte.
        const uint8_t current[] = {0, 0, 5};
        if (r.thrown.empty() && r.bytes[2] == current[r.which]) {
            EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, archive), r.bytes);
        }
    }
}

} // namespace
