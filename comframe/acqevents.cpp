#include "comframe/acqevents.h"

#include <stdexcept>

#include "acq/hyper/prop/propquery.h"

const IID DIID_IQorAcqFifoEvents = {0x6d2f41b0, 0x93a7, 0x4c15, {0xb2, 0x6e, 0x18, 0xd4, 0x7a, 0x0c, 0x5e, 0x31}};
const IID DIID_IQorAcqMovePartEvent = {0x6d2f41b1, 0x93a7, 0x4c15, {0xb2, 0x6e, 0x18, 0xd4, 0x7a, 0x0c, 0x5e, 0x31}};
const IID DIID_IQorAcqCompleteEvent = {0x6d2f41b2, 0x93a7, 0x4c15, {0xb2, 0x6e, 0x18, 0xd4, 0x7a, 0x0c, 0x5e, 0x31}};
const IID DIID_IQorAcqOverrunEvent = {0x6d2f41b3, 0x93a7, 0x4c15, {0xb2, 0x6e, 0x18, 0xd4, 0x7a, 0x0c, 0x5e, 0x31}};

bool ccPostAcqEvent(ccEventThreadImpl& thread, uint32_t kind, const ccAcquireInfo& info)
{
    VARIANT args[2];
    for (VARIANT& a : args) {
        VariantInit(&a);
        a.vt = VT_I4;
    }
    args[0].lVal = static_cast<LONG>(info.triggerNumber);
    args[1].lVal = static_cast<LONG>(info.ticket & 0x7FFFFFFFu);
    return thread.PostFire(ccAcqEventId, 2, args, kind, false, false);
}

namespace cc_comframe {

namespace {

uint32_t kindOf(const IID& iid)
{
    if (IsEqualIID(iid, DIID_IQorAcqMovePartEvent)) return ccEventThreadImpl::kEventMovePart;
    if (IsEqualIID(iid, DIID_IQorAcqCompleteEvent)) return ccEventThreadImpl::kEventComplete;
    if (IsEqualIID(iid, DIID_IQorAcqOverrunEvent)) return ccEventThreadImpl::kEventOverrun;
    throw std::invalid_argument("no acquisition event interface");
}

} // namespace

ccAcqListeners::ccAcqListeners(ccAcqEventSource* source, ccConnectionSinks& sinks, const CLSID* clsid)
    : source_(source), sinks_(sinks), kind_(kindOf(sinks.eventInterface())), clsid_(clsid)
{
}

HRESULT ccAcqListeners::advise(IUnknown* sink, DWORD* cookie)
{
    const ccCOMErrorContext context{clsid_, &IID_IConnectionPoint, u"Advise"};
    return ccComMethod(context, nullptr, [&] {
        if (cookie == nullptr) throw ccCOMError(E_POINTER, 0);
        *cookie = 0;
        (void)source_->startEventThread(); // a thread that cannot start loses the events, not the sink
        // The sink is asked for its interface before the connect lock: it may
        // call back into this point from another thread meanwhile.
        ccConnectionSinks::Held held;
        const HRESULT hr = sinks_.prepare(sink, &held);
        if (FAILED(hr)) throw ccCOMError(hr, 0);
        ccConnectionSinks::Held undone; // let go after the lock
        ccThreadOwnerLockGuard guard(&connect_, true);
        const DWORD made = sinks_.connect(std::move(held));
        try {
            update();
        } catch (...) {
            // The client is told it failed, so it keeps no sink here.
            (void)sinks_.disconnect(made, &undone);
            throw;
        }
        *cookie = made;
        return S_OK;
    });
}

HRESULT ccAcqListeners::unadvise(DWORD cookie)
{
    const ccCOMErrorContext context{clsid_, &IID_IConnectionPoint, u"Unadvise"};
    return ccComMethod(context, nullptr, [&] {
        ccConnectionSinks::Held gone; // let go after the lock
        ccThreadOwnerLockGuard guard(&connect_, true);
        const HRESULT hr = sinks_.disconnect(cookie, &gone);
        if (FAILED(hr)) throw ccCOMError(hr, 0); // nothing removed: the callback stays for the others
        update();
        return S_OK;
    });
}

void ccAcqListeners::connectLibraryCallback(bool dotNet)
{
    (void)source_->startEventThread();
    ccThreadOwnerLockGuard guard(&connect_, true);
    const bool before = dotNet_;
    if (dotNet) dotNet_ = true;
    try {
        update();
    } catch (...) {
        dotNet_ = before;
        throw;
    }
}

void ccAcqListeners::disconnectLibraryCallback(bool dotNet)
{
    ccThreadOwnerLockGuard guard(&connect_, true);
    if (dotNet) dotNet_ = false;
    update();
}

void ccAcqListeners::refresh()
{
    ccThreadOwnerLockGuard guard(&connect_, true);
    update();
}

bool ccAcqListeners::available(ccAcqFifo* fifo)
{
    if (fifo == nullptr) return false;
    if (kind_ != ccEventThreadImpl::kEventOverrun) return true;
    ccAcqPropertyQuery* query = fifo->propertyQuery();
    return query != nullptr && query->overrunCallbackProp() != nullptr;
}

void ccAcqListeners::install(ccAcqFifo& fifo, const ccAcqInfoCallbackHandle& callback)
{
    switch (kind_) {
    case ccEventThreadImpl::kEventMovePart: fifo.movePartCallback(callback); break;
    case ccEventThreadImpl::kEventComplete: fifo.completeCallback(callback); break;
    default: fifo.overrunCallback(callback); break;
    }
}

void ccAcqListeners::update()
{
    ccAcqFifo* fifo = source_->libraryFifo();
    const bool kept = fifo != nullptr && source_->keepsCallback(kind_);
    const bool wanted = kept || sinks_.count() + (dotNet_ ? 1u : 0u) > 0;
    if (wanted == installed_) return;
    // Listeners alone need the module's support (one installed for the
    // object stays while they listen); a callback goes when nobody needs it.
    if (wanted ? !kept && !available(fifo) : fifo == nullptr) return;
    ccAcqInfoCallbackHandle callback;
    if (wanted) callback = new ccAcqEventCallback(source_, kind_);
    install(*fifo, callback);
    installed_ = wanted;
}

} // namespace cc_comframe
