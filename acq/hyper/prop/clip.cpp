#include "acq/hyper/prop/clip.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccClippingProp::cmCreate() { return new (std::nothrow) ccClippingProp; }

void ccClippingProp::clipRange(uint8_t low, uint8_t high)
{
    if (fifo_)
        fifo_->clippingLowLevel(low);
    low_ = low;
    if (fifo_)
        fifo_->clippingHighLevel(high);
    high_ = high;
}

void ccClippingProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccClippingProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/clip", __LINE__);
    ccPersistent::archive(ar);
    bool enabled = enabled_;
    uint8_t low = low_, high = high_;
    ar.archive(enabled).archive(low).archive(high);
    if (ar.isLoading()) {
        clipRange(low, high);
        if (fifo_)
            fifo_->clippingEnabled(enabled ? 1 : 0);
        enabled_ = enabled;
    }
    ccArchiveVisit::end(this, typeid(ccClippingProp));
}
