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

} // namespace

void cc_detail::archiveCallbackLevel(ccPersistent& self, const std::type_info& level, ccArchive& ar,
                                     ccPtrHandle<ccCallback>& held, cc_AcqFifo* fifo, CallbackInstall install,
                                     uint32_t line)
{
    if (ccArchiveVisit::begin(&self, level))
        return;
    ccArchiveVersion(ar, 0, "acq/hyper/prop/callback", line);
    self.ccPersistent::archive(ar);
    ccPersistent* loaded = nullptr;
    lastSeen = Seen::nothing;
    // An object of another class is left to the archive's table, which
    // destroys it unless a later reference claims it.
    cc_detail::archiveCheckedPointer(ar, held.rawPointer(), loaded, &isCallback);
    if (ar.isLoading()) {
        if (!loaded && lastSeen == Seen::foreign)
            throw ccArchive::BadContent("acq/hyper/prop/callback", line);
        const ccPtrHandle<ccCallback> callback(dynamic_cast<ccCallback*>(loaded));
        if (fifo)
            (fifo->*install)(callback);
        held = callback;
    }
    ccArchiveVisit::end(&self, level);
}

ccPersistent* ccMovePartCallbackProp::cmCreate() { return new (std::nothrow) ccMovePartCallbackProp; }
ccPersistent* ccOverrunCallbackProp::cmCreate() { return new (std::nothrow) ccOverrunCallbackProp; }
ccPersistent* ccCompleteCallbackProp::cmCreate() { return new (std::nothrow) ccCompleteCallbackProp; }

void ccMovePartCallbackProp::archive(ccArchive& ar) { archiveLevel(ar, &cc_AcqFifo::movePartCallback, __LINE__); }
void ccOverrunCallbackProp::archive(ccArchive& ar) { archiveLevel(ar, &cc_AcqFifo::overrunCallback, __LINE__); }
void ccCompleteCallbackProp::archive(ccArchive& ar) { archiveLevel(ar, &cc_AcqFifo::completeCallback, __LINE__); }
