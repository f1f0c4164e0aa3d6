#include "acq/hyper/prop/triggerfilter.h"

#include <cmath>
#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "acq/propreq.h"
#include "std/except/archive.h"
#include "std/except/persist.h"

namespace {

// Written so that NaN fails.
bool within(double value, double lowest, double highest) { return value >= lowest && value <= highest; }

} // namespace

ccPersistent* ccTriggerFilterProp::cmCreate() { return new (std::nothrow) ccTriggerFilterProp; }

void ccTriggerFilterProp::minTriggerWidth(double seconds)
{
    if (!within(seconds, kMinWidthLowest, kMinWidthHighest))
        throw BadParams();
    Fields next = fields_;
    next.width = seconds;
    set(next);
}

void ccTriggerFilterProp::minTriggerPeriod(double seconds)
{
    if (!within(seconds, 0.0, kMinPeriodHighest))
        throw BadParams();
    Fields next = fields_;
    next.period = seconds;
    set(next);
}

void ccTriggerFilterProp::triggerDelay(double seconds)
{
    const ccAcqPropertyInfo* info = fifo_ ? fifo_->propertyInfo(ccPropTriggerDelay) : nullptr;
    if (!within(seconds, 0.0, info ? info->maximum : kDelayHighest))
        throw BadParams();
    Fields next = fields_;
    next.delay = seconds;
    set(next);
}

void ccTriggerFilterProp::ignoreMissedTrigger(bool ignore)
{
    Fields next = fields_;
    next.ignoreMissed = ignore;
    set(next);
}

void ccTriggerFilterProp::set(const Fields& fields)
{
    const Fields old = fields_;
    fields_ = fields;
    if (!fifo_)
        return;
    try {
        fifo_->triggerFilter(*this);
    } catch (...) {
        fields_ = old;
        throw;
    }
}

void ccTriggerFilterProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccTriggerFilterProp)))
        return;
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/triggerfilter", __LINE__);
    ccPersistent::archive(ar);
    Fields f = fields_;
    if (ar.isStoring() || version >= 1)
        ar.archive(f.ignoreMissed);
    else
        f.ignoreMissed = true;
    ar.archive(f.width).archive(f.period).archive(f.delay);
    if (ar.isLoading()) {
        if (std::isnan(f.width) || std::isnan(f.period) || std::isnan(f.delay))
            throw BadParams();
        set(f);
    }
    ccArchiveVisit::end(this, typeid(ccTriggerFilterProp));
}
