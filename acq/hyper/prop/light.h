// The light property of a FIFO: the board's light controller (enable, power
// and bright-field ratio, delay) and an auxiliary light, each passed to the
// attached FIFO implementation. Ratios and powers are fractions from 0 to 1,
// the delay is in seconds.
#pragma once
#include <cstdint>

#include "std/callback.h"
#include "std/except/except.h"
#include "std/ptrhandle.h"

class cc_AcqFifo;

class ccLightProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000996u, "class ccLightProp::BadParams");
    // Part of the family for archives and the registry; nothing raises it.
    cmDeclareException(NotSupported, ccException, 0x100009A4u, "class ccLightProp::NotSupported");

    static constexpr const char* kStoredName = "class ccLightProp";
    // The registry's factory: a detached property with the defaults.
    static ccPersistent* cmCreate();

    ccLightProp() = default;

    // Each setter refuses a value outside its range, and NaN, with
    // BadParams; attached, it sends the value to the implementation first,
    // whose error leaves the stored value.
    void lightEnabled(bool enabled);
    bool lightEnabled() const { return enabled_; }
    // 0 to 1.
    void brightFieldPowerRatio(double ratio);
    double brightFieldPowerRatio() const { return brightFieldRatio_; }
    // 0 to 1.
    void lightPower(double power);
    double lightPower() const { return power_; }
    // Seconds, 0 or more.
    void lightDelay(double seconds);
    double lightDelay() const { return delay_; }
    // -1: none.
    void auxLightPort(int32_t port);
    int32_t auxLightPort() const { return auxPort_; }
    // 0 to 1.
    void auxBrightFieldPowerRatio(double ratio);
    double auxBrightFieldPowerRatio() const { return auxBrightFieldRatio_; }
    // 0 to 1.
    void auxLightPower(double power);
    double auxLightPower() const { return auxPower_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then bright-field ratio, power,
    // delay (doubles), auxiliary port (32-bit word), auxiliary ratio and
    // power (doubles); loaded values go through the setters in that order.
    // Whether the light is on is not archived.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    // Kept for the layout of the class; nothing reads or sets it yet.
    ccPtrHandle<ccCallback1<const void*>> lightChangeCallback_;
    bool enabled_ = false;
    double brightFieldRatio_ = 0.0;
    double power_ = 0.0;
    double delay_ = 0.03;
    int32_t auxPort_ = -1;
    double auxBrightFieldRatio_ = 0.0;
    double auxPower_ = 0.0;
    cc_AcqFifo* fifo_ = nullptr;
};
