// The horizontal adjustment of the acquired line; positive infinity while it
// is not set.
#pragma once
#include <cstdint>
#include <limits>

#include "std/except/except.h"

class cc_AcqFifo;

class ccHorizAdjustProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x1000099Au, "class ccHorizAdjustProp::BadParams");
    cmDeclareException(NoFrameGrabber, ccException, 0x1000099Bu, "class ccHorizAdjustProp::NoFrameGrabber");

    static constexpr const char* kStoredName = "class ccHorizAdjustProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccHorizAdjustProp() = default;

    // value >= 0; infinity unsets it.
    void horizontalAdjustment(double value);
    double horizontalAdjustment() const { return adjustment_; }
    // The implementation's limit; NoFrameGrabber while detached.
    double horizAdjustLimit() const;

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, the adjustment as a double.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double adjustment_ = std::numeric_limits<double>::infinity();
    cc_AcqFifo* fifo_ = nullptr;
};
