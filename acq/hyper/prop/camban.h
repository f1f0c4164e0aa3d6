// The share of the bus bandwidth a digital camera may take, 0 to 1.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccCameraBandwidthProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009C4u, "class ccCameraBandwidthProp::BadParams");

    static constexpr const char* kStoredName = "class ccCameraBandwidthProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccCameraBandwidthProp() = default;

    // 0..1.
    void cameraBandwidth(double value);
    double cameraBandwidth() const { return bandwidth_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, the share as a double.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    double bandwidth_ = 1.0;
    cc_AcqFifo* fifo_ = nullptr;
};
