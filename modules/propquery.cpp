#include "modules/propquery.h"

#include "acq/hyper/prop/acqprops.h"
#include "modules/fgproxy.h"

ccAcqProps* cc_UnknownAcqPropertyQuery::attach(ccAcqProps* props)
{
    props_ = props;
    return props;
}

bool cc_UnknownAcqPropertyQuery::supported(int32_t number) const
{
    if (support_ == nullptr)
        return false;
    uint32_t flag = 0;
    ccModCheck(grabber_, support_->isSupported(number, &flag));
    return flag != 0;
}

// A supported class without attached properties is refused too: a
// reference may not be bound to nothing.

ccSyncProp* cc_UnknownAcqPropertyQuery::syncProp() { return ask(kSyncProp); }

ccSyncProp& cc_UnknownAcqPropertyQuery::syncPropRef()
{
    if (ccAcqProps* props = ask(kSyncProp))
        return *props;
    refuse();
}
