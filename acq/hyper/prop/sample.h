// Sub-sampling of a FIFO in x and y, handed to the implementation as a whole.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccSampleProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccSampleProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccSampleProp() = default;

    // Unchecked; attached, the implementation reads both factors from this
    // object, and its refusal puts the old factor back.
    void sampleX(int32_t factor);
    void sampleY(int32_t factor);
    int32_t sampleX() const { return x_; }
    int32_t sampleY() const { return y_; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, x and y as 32-bit words; a load
    // hands the pair over once.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    void set(int32_t x, int32_t y);

    int32_t x_ = 1;
    int32_t y_ = 1;
    cc_AcqFifo* fifo_ = nullptr;
};
