// The offset clamp mode of a FIFO, handed to the implementation as a whole.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccOffsetClampProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccOffsetClampProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccOffsetClampProp() = default;

    // Any mode; attached, the implementation reads it from this object, and
    // its refusal puts the old mode back.
    void offsetClampMode(int32_t mode);
    int32_t offsetClampMode() const { return mode_; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, the mode as a 32-bit word.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    int32_t mode_ = 0;
    cc_AcqFifo* fifo_ = nullptr;
};
