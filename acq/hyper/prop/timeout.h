// The acquisition time-out of a FIFO, in seconds; infinity waits without
// limit.
#pragma once
#include <limits>

#include "std/except/except.h"

class cc_AcqFifo;

class ccTimeoutProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000986u, "class ccTimeoutProp::BadParams");

    static constexpr const char* kStoredName = "class ccTimeoutProp";
    // The registry's factory: a detached property without a limit.
    static ccPersistent* cmCreate();

    ccTimeoutProp() = default;

    // BadParams unless seconds >= 0 (NaN included); attached, the
    // implementation receives it first, and an error there keeps the old one.
    void timeout(double seconds);
    double timeout() const { return timeout_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then the time-out as a double,
    // loaded through timeout().
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double timeout_ = std::numeric_limits<double>::infinity();
    cc_AcqFifo* fifo_ = nullptr;
};
