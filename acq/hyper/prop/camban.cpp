#include "acq/hyper/prop/camban.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccCameraBandwidthProp::cmCreate() { return new (std::nothrow) ccCameraBandwidthProp; }

void ccCameraBandwidthProp::cameraBandwidth(double value)
{
    // Written so that NaN fails it.
    if (!(value >= 0.0 && value <= 1.0))
        throw BadParams();
    if (fifo_)
        fifo_->cameraBandwidth(value);
    bandwidth_ = value;
}

void ccCameraBandwidthProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCameraBandwidthProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/camban", __LINE__);
    ccPersistent::archive(ar);
    double value = bandwidth_;
    ar.archive(value);
    if (ar.isLoading())
        cameraBandwidth(value);
    ccArchiveVisit::end(this, typeid(ccCameraBandwidthProp));
}
