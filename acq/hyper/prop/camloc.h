// The camera device a FIFO acquires from. Not archived: a location names a
// device of the running process.
#pragma once

#include "std/except/except.h"

class cc_AcqFifo;
class ccCameraPort;

class ccCameraLocationProp {
public:
    cmDeclareException(BadParams, ccException, 0x100009AEu, "class ccCameraLocationProp::BadParams");

    ccCameraLocationProp() = default;
    virtual ~ccCameraLocationProp() = default;

    // Attached, the implementation must accept the location (else BadParams)
    // before it receives it. The location is not owned: the implementation
    // keeps a location it accepted alive for as long as it lives.
    void cameraLocation(ccCameraPort* location);
    ccCameraPort* cameraLocation() const { return location_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

private:
    ccCameraPort* location_ = nullptr;
    cc_AcqFifo* fifo_ = nullptr;
};
