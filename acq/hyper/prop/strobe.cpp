#include "acq/hyper/prop/strobe.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "acq/propreq.h"
#include "std/except/archive.h"

ccPersistent* ccStrobeProp::cmCreate() { return new (std::nothrow) ccStrobeProp; }

void ccStrobeProp::strobeEnable(bool enable)
{
    if (fifo_)
        fifo_->strobeEnable(enable);
    enabled_ = enable;
}

void ccStrobeProp::strobePulseDuration(double seconds)
{
    // The board's record bounds the duration from above only; its minimum
    // is not the duration's. Written so that NaN fails the test too.
    const ccAcqPropertyInfo* record = fifo_ ? fifo_->propertyInfo(ccPropStrobePulseDuration) : nullptr;
    if (!(seconds >= 0.0) || (record && !(seconds <= record->maximum)))
        throw BadParams();
    if (fifo_)
        fifo_->strobePulseDuration(seconds);
    pulseDuration_ = seconds;
}

void ccStrobeProp::strobePulsePolarityHigh(bool high)
{
    if (fifo_)
        fifo_->strobePulsePolarityHigh(high);
    polarityHigh_ = high;
}

void ccStrobeProp::attach(cc_AcqFifo* fifo)
{
    // Read before anything changes, so that a failing read leaves the
    // property as it was.
    const ccAcqPropertyInfo* record = fifo ? fifo->propertyInfo(ccPropStrobePulseDuration) : nullptr;
    if (record && record->maximum >= 0.0 && pulseDuration_ > record->maximum)
        pulseDuration_ = record->maximum;
    fifo_ = fifo;
}

void ccStrobeProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccStrobeProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/strobe", __LINE__);
    ccPersistent::archive(ar);
    bool enabled = enabled_, high = polarityHigh_;
    double seconds = pulseDuration_;
    ar.archive(enabled).archive(seconds).archive(high);
    if (ar.isLoading()) {
        strobeEnable(enabled);
        strobePulseDuration(seconds);
        strobePulsePolarityHigh(high);
    }
    ccArchiveVisit::end(this, typeid(ccStrobeProp));
}

ccPersistent* ccStrobeDelayProp::cmCreate() { return new (std::nothrow) ccStrobeDelayProp; }

void ccStrobeDelayProp::strobeDelay(double seconds)
{
    if (std::isnan(seconds))
        throw BadParams();
    const ccAcqPropertyInfo* record = fifo_ ? fifo_->propertyInfo(ccPropStrobeDelay) : nullptr;
    if (record && !(seconds >= record->minimum && seconds <= record->maximum))
        throw BadParams();
    if (fifo_)
        fifo_->strobeDelay(seconds);
    delay_ = seconds;
}

void ccStrobeDelayProp::attach(cc_AcqFifo* fifo)
{
    const ccAcqPropertyInfo* record = fifo ? fifo->propertyInfo(ccPropStrobeDelay) : nullptr;
    // A record whose range is empty (or NaN) takes no value: nothing to move to.
    if (record && record->minimum <= record->maximum)
        delay_ = std::clamp(delay_, record->minimum, record->maximum);
    fifo_ = fifo;
}

void ccStrobeDelayProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccStrobeDelayProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, 1, "acq/hyper/prop/strobe", __LINE__);
    ccPersistent::archive(ar);
    double seconds = delay_;
    if (version >= 1) {
        ar.archive(seconds);
    } else {
        uint32_t microseconds = 0;
        ar.archive(microseconds);
        seconds = microseconds * 1e-6;
    }
    if (ar.isLoading())
        strobeDelay(seconds);
    ccArchiveVisit::end(this, typeid(ccStrobeDelayProp));
}
