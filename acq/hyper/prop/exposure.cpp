#include "acq/hyper/prop/exposure.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccExposureProp::cmCreate() { return new (std::nothrow) ccExposureProp; }

void ccExposureProp::exposure(double seconds)
{
    // Written so that NaN fails the test too.
    if (!(seconds >= 0.0))
        throw BadParams();
    if (fifo_)
        fifo_->exposure(seconds);
    exposure_ = seconds;
}

void ccExposureProp::attach(cc_AcqFifo* fifo)
{
    // Read before anything changes, so that a failing read leaves the
    // property as it was.
    const double board = fifo ? fifo->exposureDefault() : exposure_;
    fifo_ = fifo;
    exposure_ = board;
}

void ccExposureProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccExposureProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/exposure", __LINE__);
    ccPersistent::archive(ar);
    double seconds = exposure_;
    ar.archive(seconds);
    if (ar.isLoading())
        exposure(seconds);
    ccArchiveVisit::end(this, typeid(ccExposureProp));
}
