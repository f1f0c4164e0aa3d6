#include "acq/hyper/prop/cti.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccCtiProp::cmCreate() { return new (std::nothrow) ccCtiProp; }

void ccCtiProp::chargeTransferInterval(double value)
{
    // Written so that NaN fails it; infinity passes.
    if (!(value >= 0.0))
        throw BadParams();
    if (fifo_)
        fifo_->chargeTransferInterval(value);
    interval_ = value;
}

double ccCtiProp::ctiLimit() const
{
    if (!fifo_)
        throw NoFrameGrabber();
    return fifo_->ctiLimit();
}

void ccCtiProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCtiProp)))
        return;
    ccArchiveVersion(ar, kVersion, "acq/hyper/prop/cti", __LINE__);
    ccPersistent::archive(ar);
    double value = interval_;
    ar.archive(value);
    if (ar.isLoading())
        chargeTransferInterval(value);
    ccArchiveVisit::end(this, typeid(ccCtiProp));
}
