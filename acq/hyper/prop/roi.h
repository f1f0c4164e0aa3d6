// The region of interest of a FIFO and its mode.
#pragma once
#include <cstdint>

#include "defs/ch_core/rect.h"
#include "std/except/except.h"

class cc_AcqFifo;

class ccRoiProp : public virtual ccPersistent {
public:
    cmDeclareException(BadParams, ccException, 0x10000991u, "class ccRoiProp::BadParams");
    cmDeclareException(NoFrameGrabber, ccException, 0x10000994u, "class ccRoiProp::NoFrameGrabber");

    static constexpr const char* kStoredName = "class ccRoiProp";
    static constexpr uint8_t kVersion = 1;
    // The registry's factory: a detached property, empty region at the origin, mode 0.
    static ccPersistent* cmCreate();

    ccRoiProp() = default;

    // The origin must not be negative; BadParams otherwise. Attached, the
    // implementation takes the region first; its refusal keeps the old one.
    void roi(const ccPelRect& region);
    const ccPelRect& roi() const { return region_; }

    // Detached only mode 0 is known to work.
    bool isRoiModeSupported(int32_t mode) const;
    // An unsupported mode is BadParams.
    void roiMode(int32_t mode);
    int32_t roiMode() const { return mode_; }

    // Fills limits with the implementation's and returns them; NoFrameGrabber
    // while detached.
    ccPelRect& roiLimits(ccPelRect& limits) const;

    // Stores the implementation only; it is not owned.
    void attach(cc_AcqFifo* fifo) { fifo_ = fifo; }
    cc_AcqFifo* fifo() const { return fifo_; }

    // Version byte, the ccPersistent level, the region, then the mode as a
    // 32-bit word. A loaded region goes through roi(); a loaded mode is taken
    // as it stands, since it was valid on the board it came from. Version 0
    // has no mode.
    void archive(ccArchive& ar) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    ccPelRect region_;
    int32_t mode_ = 0;
    cc_AcqFifo* fifo_ = nullptr;
};
