// The charge transfer interval of the camera, in seconds; positive infinity
// while it is not set.
#pragma once
#include <cstdint>
#include <limits>

#include "std/except/except.h"

class cc_AcqFifo;

class ccCtiProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000990u, "class ccCtiProp::BadParams");
    cmDeclareException(NoFrameGrabber, ccException, 0x10000992u, "class ccCtiProp::NoFrameGrabber");

    static constexpr const char* kStoredName = "class ccCtiProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccCtiProp() = default;

    // value >= 0; infinity unsets it.
    void chargeTransferInterval(double value);
    double chargeTransferInterval() const { return interval_; }
    // The implementation's limit; NoFrameGrabber while detached.
    double ctiLimit() const;

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, the interval as a double.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double interval_ = std::numeric_limits<double>::infinity();
    cc_AcqFifo* fifo_ = nullptr;
};
