#include "acq/hyper/prop/alpha.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccAlphaColorProp::cmCreate() { return new (std::nothrow) ccAlphaColorProp; }

void ccAlphaColorProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccAlphaColorProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, 1, "acq/hyper/prop/alpha", __LINE__);
    ccPersistent::archive(ar);
    bool enabled = ar.isStoring() ? enabled_ : false;
    // The archive carries the value unsigned; its bits are the same.
    uint32_t value = static_cast<uint32_t>(value_);
    uint8_t mode = mode_;
    if (version >= 1)
        ar.archive(enabled);
    ar.archive(value).archive(mode);
    if (ar.isLoading()) {
        if (fifo_)
            fifo_->alphaColorEnabled(enabled ? 1 : 0);
        enabled_ = enabled;
        if (fifo_)
            fifo_->alphaColorValue(static_cast<int32_t>(value));
        value_ = static_cast<int32_t>(value);
        if (fifo_)
            fifo_->alphaColorMode(mode);
        mode_ = mode;
    }
    ccArchiveVisit::end(this, typeid(ccAlphaColorProp));
}
