#pragma once
// Acquisition events on their way from the library FIFO to COM sinks: the
// FIFO object's three connection points (move-part, complete, overrun), the
// library callbacks they install while someone listens, and the post of an
// acquisition to the object's event thread.
//
// A point keeps the library callback installed exactly while its listeners
// (COM sinks plus the .NET flag) are more than none, or its object needs it
// for itself. Adding or removing a listener, counting and installing happen
// as one step under the point's connect lock, so concurrent Advise and
// Unadvise calls from several threads leave one callback or none, never a
// listener without one. The connect lock is never taken on a driver-module
// thread and never held while sinks are called.
#include <cstdint>
#include <utility>

#include "acq/acqfifo.h"
#include "acq/acqinfo.h"
#include "comframe/comerror.h"
#include "comframe/connpoint.h"
#include "comframe/eventthread.h"

// The acquisition FIFO's event interfaces.
extern const IID DIID_IQorAcqFifoEvents;
extern const IID DIID_IQorAcqMovePartEvent;
extern const IID DIID_IQorAcqCompleteEvent;
extern const IID DIID_IQorAcqOverrunEvent;

// The event id of every acquisition event; the extra word tells the kind.
constexpr DISPID ccAcqEventId = 1;

// What an acquisition FIFO object offers its points and library callbacks.
class ccAcqEventSource {
public:
    // The library FIFO behind the object; null when it holds none.
    virtual ccAcqFifo* libraryFifo() = 0;
    virtual HRESULT startEventThread() = 0;
    // On a driver-module thread, for each acquisition of a kind someone
    // listens to (ccEventThreadImpl::kEventMovePart, ...).
    virtual void acquisitionEvent(uint32_t kind, const ccAcquireInfo& info) = 0;
    // Whether the object itself needs the callback of kind, listeners or
    // not (a blocking acquire waits for it); the module need not support
    // the overrun-callback property for that. Its point is told of a change
    // through refreshLibraryCallback.
    virtual bool keepsCallback(uint32_t /*kind*/) { return false; }

protected:
    ~ccAcqEventSource() = default;
};

// The library callbacks, each bound to its FIFO object. The object keeps
// them from calling it after it has gone (removes them and lets its FIFO's
// module threads end first).
class ccAcqEventCallback : public ccAcqInfoCallback {
public:
    ccAcqEventCallback(ccAcqEventSource* source, uint32_t kind) : source_(source), kind_(kind) {}
    void operator()(const ccAcquireInfo& info) override { source_->acquisitionEvent(kind_, info); }
    uint32_t kind() const { return kind_; }

private:
    ccAcqEventSource* source_;
    uint32_t kind_;
};

class ccMoveCallback : public ccAcqEventCallback {
public:
    explicit ccMoveCallback(ccAcqEventSource* source) : ccAcqEventCallback(source, ccEventThreadImpl::kEventMovePart) {}
};
class ccCompleteCallback : public ccAcqEventCallback {
public:
    explicit ccCompleteCallback(ccAcqEventSource* source)
        : ccAcqEventCallback(source, ccEventThreadImpl::kEventComplete)
    {
    }
};
class ccOverrunCallback : public ccAcqEventCallback {
public:
    explicit ccOverrunCallback(ccAcqEventSource* source) : ccAcqEventCallback(source, ccEventThreadImpl::kEventOverrun) {}
};

// Posts one acquisition to the event thread: event ccAcqEventId, the trigger
// number and the ticket without its top bit (both VT_I4), the kind as extra
// word; no coalescing, no pumping. False when nothing was queued.
bool ccPostAcqEvent(ccEventThreadImpl& thread, uint32_t kind, const ccAcquireInfo& info);

namespace cc_comframe {

// The listener bookkeeping of one acquisition point, apart from its COM face.
class ccAcqListeners {
public:
    ccAcqListeners(ccAcqEventSource* source, ccConnectionSinks& sinks, const CLSID* clsid);
    ccAcqListeners(const ccAcqListeners&) = delete;
    ccAcqListeners& operator=(const ccAcqListeners&) = delete;

    // The COM sinks: the point's Advise and Unadvise with the callback kept
    // right; failures reported through the error handler.
    HRESULT advise(IUnknown* sink, DWORD* cookie);
    HRESULT unadvise(DWORD cookie);
    // The .NET listener, a flag (a second add leaves it set). Throw
    // ccCOMError or the library's exceptions; a failed add leaves the flag
    // clear, a failed removal leaves it clear too.
    void connectLibraryCallback(bool dotNet);
    void disconnectLibraryCallback(bool dotNet);
    // Installs or removes the callback after the source's keepsCallback
    // changed. Throws as connectLibraryCallback does.
    void refresh();
    // Runs body under the connect lock: no listener comes or goes meanwhile.
    template <class Body> void whileFixed(Body&& body)
    {
        ccThreadOwnerLockGuard guard(&connect_, true);
        body();
    }

    uint32_t connectionCount() { return sinks_.count(); }
    bool dotNet() const { return dotNet_; }

private:
    // Installs or removes the callback to match the listeners; under connect_.
    void update();
    bool available(ccAcqFifo* fifo);
    void install(ccAcqFifo& fifo, const ccAcqInfoCallbackHandle& callback);

    ccAcqEventSource* source_;
    ccConnectionSinks& sinks_;
    const uint32_t kind_;
    const CLSID* clsid_;
    ccThreadOwnerLock connect_;
    bool dotNet_ = false;
    bool installed_ = false;
};

} // namespace cc_comframe

// One of the FIFO object's acquisition points (DIID names its kind). T is
// a ccAcqEventSource and the object's class, with a static classId().
template <class T, const IID* DIID>
class ccFGConnectionPointImpl : public ccConnectionPointImpl<T, DIID> {
    using Base = ccConnectionPointImpl<T, DIID>;

public:
    explicit ccFGConnectionPointImpl(T* owner)
        : Base(owner), listeners_(static_cast<ccAcqEventSource*>(owner), this->sinks(), T::classId())
    {
    }

    HRESULT Advise(IUnknown* sink, DWORD* cookie) override { return listeners_.advise(sink, cookie); }
    HRESULT Unadvise(DWORD cookie) override { return listeners_.unadvise(cookie); }

    uint32_t connectionCount() { return listeners_.connectionCount(); }
    void connectLibraryCallback(bool dotNet) { listeners_.connectLibraryCallback(dotNet); }
    void disconnectLibraryCallback(bool dotNet) { listeners_.disconnectLibraryCallback(dotNet); }
    void refreshLibraryCallback() { listeners_.refresh(); }
    template <class Body> void whileListenersFixed(Body&& body) { listeners_.whileFixed(std::forward<Body>(body)); }

private:
    cc_comframe::ccAcqListeners listeners_;
};
