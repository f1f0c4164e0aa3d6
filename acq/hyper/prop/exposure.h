// The exposure property of a FIFO: the exposure time, in seconds, passed to
// the attached FIFO implementation.
#pragma once

#include "std/except/except.h"

class cc_AcqFifo;

class ccExposureProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000985u, "class ccExposureProp::BadParams");

    static constexpr const char* kStoredName = "class ccExposureProp";
    // The registry's factory: a detached property with the default exposure.
    static ccPersistent* cmCreate();

    ccExposureProp() = default;

    // Seconds, 0 or more (NaN is refused: BadParams). Attached, the
    // implementation receives it first; its error leaves the stored value.
    void exposure(double seconds);
    double exposure() const { return exposure_; }

    // Stores the implementation (not owned) and takes its default exposure
    // as the stored one, without sending anything back.
    void attach(cc_AcqFifo* fifo);
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then the exposure as a double;
    // a loaded exposure goes through the setter.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double exposure_ = 2e-5;
    cc_AcqFifo* fifo_ = nullptr;
};
