// The digital camera's high gain and master clock frequency (MHz).
#pragma once
#include <cstdint>

#include "std/except/except.h"

class cc_AcqFifo;

class ccDigitalCameraControlProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x100009A9u, "class ccDigitalCameraControlProp::BadParams");

    static constexpr const char* kStoredName = "class ccDigitalCameraControlProp";
    static constexpr uint8_t kVersion = 0;
    static ccPersistent* cmCreate();

    ccDigitalCameraControlProp() = default;

    void digitalHighGainSelected(bool selected);
    bool digitalHighGainSelected() const { return highGain_; }
    // 5..40.
    void masterClockFrequency(double value);
    double masterClockFrequency() const { return clock_; }

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte 0, the ccPersistent level, the high gain as a byte, the
    // frequency as a double.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    bool highGain_ = false;
    double clock_ = 32.0;
    cc_AcqFifo* fifo_ = nullptr;
};
