// A board for the property tests that logs every exposure, light and
// line-scan call it hears, with the archive bytes those tests write by hand.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <iomanip>
#include <memory>
#include <sstream>
#include <string>

#include "std/except/persist.h"
#include "tests/support/bytes.h"
#include "tests/support/stored.h"
#include "tests/support/fake_acqfifo.h"

namespace test_prop {

// "op arg arg": bools and integers as numbers, doubles exactly.
template <class... A>
std::string call(const std::string& op, A... args)
{
    std::ostringstream os;
    os << std::setprecision(17) << op;
    ((os << ' ' << +args), ...);
    return os.str();
}

// Logs each call, "; " between them; when told, refuses each after logging it.
struct LoggingFifo : test_acq::FakeAcqFifo {
    std::string calls;
    bool refuse = false;
    double boardExposure = 2e-5;
    uint32_t ports = 0;

    template <class... A>
    void log(const char* op, A... args)
    {
        calls += (calls.empty() ? "" : "; ") + call(op, args...);
        if (refuse)
            throw ccUnsupportedHW();
    }
    void exposure(double v) override { log("exposure", v); }
    void settlingTime(double v) override { log("settlingTime", v); }
    void strobeEnable(bool v) override { log("strobeEnable", v); }
    void strobePulseDuration(double v) override { log("strobePulseDuration", v); }
    void strobePulsePolarityHigh(bool v) override { log("strobePulsePolarityHigh", v); }
    void strobeDelay(double v) override { log("strobeDelay", v); }
    void lightEnabled(bool v) override { log("lightEnabled", v); }
    void brightFieldPowerRatio(double v) override { log("brightFieldPowerRatio", v); }
    void lightPower(double v) override { log("lightPower", v); }
    void lightDelay(double v) override { log("lightDelay", v); }
    void auxLightPort(uint32_t v) override { log("auxLightPort", static_cast<int32_t>(v)); }
    void auxBrightFieldPowerRatio(double v) override { log("auxBrightFieldPowerRatio", v); }
    void auxLightPower(double v) override { log("auxLightPower", v); }
    double exposureDefault() override { return boardExposure; }

    void firstPelOffset(uint8_t v) override { log("firstPelOffset", v); }
    void resetCounterOnHardwareTrigger(bool v) override { log("resetCounterOnHardwareTrigger", v); }
    void resetCounter() override { log("resetCounter"); }
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
    uint32_t numEncoderPorts() override { return ports; }
    uint32_t currentEncoderCount() override { return 77; }
};

// The archive header (format 2, little-endian), a class's version byte, then
// the ccPersistent level's byte.
inline test_bytes::Bytes head(uint8_t version) { return test_bytes::level(version, {}); }

using test_bytes::le;

// Each name's factory makes an object stored under that name.
inline void expectMadeByStoredName(std::initializer_list<const char*> names)
{
    for (const char* name : names) {
        const ccPersistentFactory make = ccFindFactory(name);
        ASSERT_NE(make, nullptr) << name;
        EXPECT_STREQ(std::unique_ptr<ccPersistent>(make())->storedTypeName(), name);
    }
}

} // namespace test_prop
