// The settling-time property of a FIFO: the camera's settling time, in
// seconds, passed to the attached FIFO implementation. Any value is taken;
// the class has no errors of its own.
#pragma once

#include "std/except/except.h"

class cc_AcqFifo;

class ccSettlingTimeProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccSettlingTimeProp";
    // The registry's factory: a detached property with no settling time.
    static ccPersistent* cmCreate();

    ccSettlingTimeProp() = default;

    // Attached, the implementation receives it first; its error leaves the
    // stored value.
    void settlingTime(double seconds);
    double settlingTime() const { return settlingTime_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, then the time as a double; a
    // loaded time goes through the setter.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double settlingTime_ = 0.0;
    cc_AcqFifo* fifo_ = nullptr;
};
