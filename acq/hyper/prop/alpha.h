// Alpha-colour settings of the camera. The driver module gives the fields
// their meaning; they have no setters and change only when an archive is
// loaded, which sends them to the board.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccAlphaColorProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccAlphaColorProp";
    // The registry's factory: a detached property with the defaults.
    static ccPersistent* cmCreate();

    ccAlphaColorProp() = default;

    bool alphaColorEnabled() const { return enabled_; }
    int32_t alphaColorValue() const { return value_; }
    uint8_t alphaColorMode() const { return mode_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 1, the ccPersistent level, then the enabled flag (a
    // byte), the value (32 bits) and the mode (a byte); version 0 has no
    // flag, which loads as false. Loading sends the flag, the value and the
    // mode in that order when attached, storing each once the implementation
    // took it.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool enabled_ = false;
    int32_t value_ = 9;
    uint8_t mode_ = 0;
    cc_AcqFifo* fifo_ = nullptr;
};
