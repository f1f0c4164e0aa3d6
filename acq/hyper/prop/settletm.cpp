#include "acq/hyper/prop/settletm.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"

ccPersistent* ccSettlingTimeProp::cmCreate() { return new (std::nothrow) ccSettlingTimeProp; }

void ccSettlingTimeProp::settlingTime(double seconds)
{
    if (fifo_)
        fifo_->settlingTime(seconds);
    settlingTime_ = seconds;
}

void ccSettlingTimeProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccSettlingTimeProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/settletm", __LINE__);
    ccPersistent::archive(ar);
    double seconds = settlingTime_;
    ar.archive(seconds);
    if (ar.isLoading())
        settlingTime(seconds);
    ccArchiveVisit::end(this, typeid(ccSettlingTimeProp));
}
