// Horizontal and vertical readout reversal of a FIFO, handed to the
// implementation as a whole.
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccReadoutDirectionProp : public virtual ccPersistent {
public:
    static constexpr const char* kStoredName = "class ccReadoutDirectionProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccReadoutDirectionProp() = default;

    // Attached, the implementation reads both flags from this object, and its
    // refusal puts the old flag back.
    void horizontalReadoutReversed(bool reversed);
    void verticalReadoutReversed(bool reversed);
    bool horizontalReadoutReversed() const { return horizontal_; }
    bool verticalReadoutReversed() const { return vertical_; }

    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, horizontal and vertical as bool
    // bytes; a load hands the pair over once.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    void set(bool horizontal, bool vertical);

    bool horizontal_ = false;
    bool vertical_ = false;
    cc_AcqFifo* fifo_ = nullptr;
};
