#include "acq/hyper/prop/offsetclamp.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccOffsetClampProp::cmCreate() { return new (std::nothrow) ccOffsetClampProp; }

void ccOffsetClampProp::offsetClampMode(int32_t mode)
{
    const int32_t old = mode_;
    mode_ = mode;
    if (!fifo_)
        return;
    try {
        fifo_->offsetClamp(*this);
    } catch (...) {
        mode_ = old;
        throw;
    }
}

void ccOffsetClampProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccOffsetClampProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/offsetclamp", __LINE__);
    ccPersistent::archive(ar);
    uint32_t mode = static_cast<uint32_t>(mode_);
    ar.archive(mode);
    if (ar.isLoading())
        offsetClampMode(static_cast<int32_t>(mode));
    ccArchiveVisit::end(this, typeid(ccOffsetClampProp));
}
