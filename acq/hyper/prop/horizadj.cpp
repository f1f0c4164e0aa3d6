#include "acq/hyper/prop/horizadj.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccHorizAdjustProp::cmCreate() { return new (std::nothrow) ccHorizAdjustProp; }

void ccHorizAdjustProp::horizontalAdjustment(double value)
{
    // Written so that NaN fails it; infinity passes.
    if (!(value >= 0.0))
        throw BadParams();
    if (fifo_)
        fifo_->horizontalAdjustment(value);
    adjustment_ = value;
}

double ccHorizAdjustProp::horizAdjustLimit() const
{
    if (!fifo_)
        throw NoFrameGrabber();
    return fifo_->horizAdjustLimit();
}

void ccHorizAdjustProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccHorizAdjustProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/horizadj", __LINE__);
    ccPersistent::archive(ar);
    double value = adjustment_;
    ar.archive(value);
    if (ar.isLoading())
        horizontalAdjustment(value);
    ccArchiveVisit::end(this, typeid(ccHorizAdjustProp));
}
