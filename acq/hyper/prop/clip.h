// Clipping of acquired pel values to a range. The defaults clip as the
// default input lookup table does.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccClippingProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccClippingProp";
    // The registry's factory: a detached property with the defaults.
    static ccPersistent* cmCreate();

    ccClippingProp() = default;

    // Not checked: a low limit above the high one goes to the board as it
    // is. Attached, the low limit and then the high limit are sent, each
    // stored once the implementation took it, so the property never holds a
    // limit the board refused.
    void clipRange(uint8_t low, uint8_t high);
    bool clippingEnabled() const { return enabled_; }
    uint8_t clippingLowLevel() const { return low_; }
    uint8_t clippingHighLevel() const { return high_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then the enabled flag and the
    // low and high limits as bytes. Loading sets the range through
    // clipRange, then passes the flag on and stores it.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool enabled_ = true;
    uint8_t low_ = 15;
    uint8_t high_ = 240;
    cc_AcqFifo* fifo_ = nullptr;
};
