// The property aggregate every standard FIFO kind makes, owns and attaches
// to its implementation at once.
#pragma once
#include <cstdint>

#include "acq/hyper/prop/acqprops.h"

class ccAnalogAcqProps : public ccAcqProps {
public:
    static constexpr const char* kStoredName = "class ccAnalogAcqProps";
    static constexpr uint8_t kVersion = 1;
    // The registry's factory: a detached aggregate with every default.
    static ccPersistent* cmCreate();

    ccAnalogAcqProps() = default;

    // Version byte 1, then the whole aggregate. Version 0 carried the input
    // table, contrast, line-scan, clipping, alpha and camera-control levels
    // after an aggregate that did not yet hold them.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }
};
