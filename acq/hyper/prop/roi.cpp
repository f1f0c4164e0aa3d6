#include "acq/hyper/prop/roi.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccRoiProp::cmCreate() { return new (std::nothrow) ccRoiProp; }

void ccRoiProp::roi(const ccPelRect& region)
{
    // 64 bits: differences of extreme 32-bit edges must not wrap.
    if (region.width() < 0 || region.height() < 0 || region.x0() < 0 || region.y0() < 0)
        throw BadParams();
    if (fifo_)
        fifo_->roi(region);
    region_ = region;
}

bool ccRoiProp::isRoiModeSupported(int32_t mode) const
{
    if (!fifo_)
        return mode == 0;
    return fifo_->isRoiModeSupported(static_cast<uint32_t>(mode));
}

void ccRoiProp::roiMode(int32_t mode)
{
    if (!isRoiModeSupported(mode))
        throw BadParams();
    if (fifo_)
        fifo_->roiMode(static_cast<uint32_t>(mode));
    mode_ = mode;
}

ccPelRect& ccRoiProp::roiLimits(ccPelRect& limits) const
{
    if (!fifo_)
        throw NoFrameGrabber();
    fifo_->roiLimits(limits);
    return limits;
}

void ccRoiProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccRoiProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/roi", __LINE__);
    ccPersistent::archive(ar);
    ccPelRect region = region_;
    region.archive(ar);
    if (ar.isLoading())
        roi(region);
    if (ar.isStoring() || version >= 1) {
        uint32_t mode = static_cast<uint32_t>(mode_);
        ar.archive(mode);
        if (ar.isLoading()) {
            // Not checked against what the board supports, but sent to it, so
            // that what is read back is what the board runs.
            if (fifo_)
                fifo_->roiMode(mode);
            mode_ = static_cast<int32_t>(mode);
        }
    }
    ccArchiveVisit::end(this, typeid(ccRoiProp));
}
