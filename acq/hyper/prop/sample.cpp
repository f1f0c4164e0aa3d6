#include "acq/hyper/prop/sample.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccSampleProp::cmCreate() { return new (std::nothrow) ccSampleProp; }

void ccSampleProp::sampleX(int32_t factor) { set(factor, y_); }
void ccSampleProp::sampleY(int32_t factor) { set(x_, factor); }

void ccSampleProp::set(int32_t x, int32_t y)
{
    const int32_t oldX = x_, oldY = y_;
    x_ = x;
    y_ = y;
    if (!fifo_)
        return;
    try {
        fifo_->sample(*this);
    } catch (...) {
        x_ = oldX;
        y_ = oldY;
        throw;
    }
}

void ccSampleProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccSampleProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/sample", __LINE__);
    ccPersistent::archive(ar);
    uint32_t x = static_cast<uint32_t>(x_), y = static_cast<uint32_t>(y_);
    ar.archive(x).archive(y);
    if (ar.isLoading())
        set(static_cast<int32_t>(x), static_cast<int32_t>(y));
    ccArchiveVisit::end(this, typeid(ccSampleProp));
}
