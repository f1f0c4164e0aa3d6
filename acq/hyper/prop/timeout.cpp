#include "acq/hyper/prop/timeout.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccTimeoutProp::cmCreate() { return new (std::nothrow) ccTimeoutProp; }

void ccTimeoutProp::timeout(double seconds)
{
    // Written so that NaN fails the test too.
    if (!(seconds >= 0.0))
        throw BadParams();
    if (fifo_)
        fifo_->timeout(seconds);
    timeout_ = seconds;
}

void ccTimeoutProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccTimeoutProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/timeout", __LINE__);
    ccPersistent::archive(ar);
    double seconds = timeout_;
    ar.archive(seconds);
    if (ar.isLoading())
        timeout(seconds);
    ccArchiveVisit::end(this, typeid(ccTimeoutProp));
}
