#include "acq/hyper/prop/callback.h"

#include <new>
#include <typeinfo>

#include "acq/acqfifo_impl.h"
#include "std/except/archive.h"
#include "std/except/archutil.h"
#include "std/except/persist.h"

namespace {

// What the last check of a loaded object found. The check of the reference
// read here runs after any check of the objects inside it, so it is the
// last one when the load returns.
enum class Seen { nothing, callback, foreign };
thread_local Seen lastSeen = Seen::nothing;

bool isCallback(const ccPersistent* object)
{
    const bool yes = dynamic_cast<const ccCallback*>(object) != nullptr;
    lastSeen = yes ? Seen::callback : Seen::foreign;
    return yes;
}

typedef void (cc_AcqFifo::*Install)(const ccPtrHandle<ccCallback>&);

void archiveCallback(ccArchive& ar, ccPtrHandle<ccCallback>& held, cc_AcqFifo* fifo, Install install,
                     uint32_t line)
{
    ccPersistent* loaded = nullptr;
    lastSeen = Seen::nothing;
    // An object of another class is left to the archive's table, which
    // destroys it unless a later reference claims it.
    cc_detail::archiveCheckedPointer(ar, held.rawPointer(), loaded, &isCallback);
    if (ar.isStoring())
        return;
    if (!loaded && lastSeen == Seen::foreign)
        throw ccArchive::BadContent("acq/hyper/prop/callback", line);
    const ccPtrHandle<ccCallback> callback(dynamic_cast<ccCallback*>(loaded));
    if (fifo)
        (fifo->*install)(callback);
    held = callback;
}

} // namespace

ccPersistent* ccMovePartCallbackProp::cmCreate() { return new (std::nothrow) ccMovePartCallbackProp; }
ccPersistent* ccOverrunCallbackProp::cmCreate() { return new (std::nothrow) ccOverrunCallbackProp; }
ccPersistent* ccCompleteCallbackProp::cmCreate() { return new (std::nothrow) ccCompleteCallbackProp; }

void ccMovePartCallbackProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccMovePartCallbackProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/callback", __LINE__);
    ccPersistent::archive(ar);
    archiveCallback(ar, callback_, fifo_, &cc_AcqFifo::movePartCallback, __LINE__);
    ccArchiveVisit::end(this, typeid(ccMovePartCallbackProp));
}

void ccOverrunCallbackProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccOverrunCallbackProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/callback", __LINE__);
    ccPersistent::archive(ar);
    archiveCallback(ar, callback_, fifo_, &cc_AcqFifo::overrunCallback, __LINE__);
    ccArchiveVisit::end(this, typeid(ccOverrunCallbackProp));
}

void ccCompleteCallbackProp::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccCompleteCallbackProp)))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/callback", __LINE__);
    ccPersistent::archive(ar);
    archiveCallback(ar, callback_, fifo_, &cc_AcqFifo::completeCallback, __LINE__);
    ccArchiveVisit::end(this, typeid(ccCompleteCallbackProp));
}
