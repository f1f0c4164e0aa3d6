// A client in a single-threaded apartment of its own whose sink lets go of
// the object it listens to inside the first event: that release is the
// client's last, made on the apartment's thread while the object's event
// thread waits for the sink's call to return.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/com/apartment.h"
#include "platform/com/connection.h"
#include "platform/com/holders.h"
#include "platform/sync.h"
#include "tests/support/in_time.h"

namespace test_support {

// Bound to the apartment that made it (it answers neither the agile marker
// nor IMarshal), it lives by its count and signals gone at its end.
class ReleasingSink final : public IDispatch {
public:
    ReleasingSink(const IID& events, IUnknown* object, plat::Handle gone) : events_(events), object_(object), gone_(gone)
    {
    }
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == events_;
        *ppv = known ? static_cast<IDispatch*>(this) : nullptr;
        return known ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++count_; }
    ULONG Release() override
    {
        const ULONG left = --count_;
        if (left == 0) {
            (void)plat::setEvent(gone_);
            delete this;
        }
        return left;
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if (IUnknown* object = object_.exchange(nullptr)) object->Release();
        return S_OK;
    }

private:
    const IID events_;
    std::atomic<IUnknown*> object_; // the client's reference, until the first event
    const plat::Handle gone_;
    std::atomic<ULONG> count_{0};
};

// On a single-threaded apartment's thread: make() gives the object with the
// client's one reference, a ReleasingSink of events is advised to it and
// takes that reference over, raise(object) makes an event come, and the
// thread dispatches the calls made to it until the sink is gone, which the
// object's end brings. Whether all of that happened within the limit.
inline bool lastReleaseInsideAnEvent(const IID& events, std::function<IUnknown*()> make,
                                     std::function<void(IUnknown*)> raise)
{
    // Left to a thread that hangs, should one: a failing test leaks it.
    const plat::Handle gone = plat::createEvent(true, false);
    auto waited = std::make_shared<std::atomic<HRESULT>>(E_FAIL); // stays so without an Advise
    const bool finished = finishedInTime({[=] {
        (void)CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        IUnknown* object = make();
        auto* sink = new ReleasingSink(events, object, gone);
        sink->AddRef();
        bool advised = false;
        {
            // The point counts with its object: it goes before the event.
            plat::com::Ref<IConnectionPointContainer> container;
            plat::com::Ref<IConnectionPoint> point;
            DWORD cookie = 0;
            advised = SUCCEEDED(object->QueryInterface(IID_IConnectionPointContainer, container.out()))
                && SUCCEEDED(container->FindConnectionPoint(events, &point.p)) && SUCCEEDED(point->Advise(sink, &cookie));
        }
        if (advised) {
            raise(object);
            sink->Release(); // the point's is the one left
            DWORD index = 0;
            const DWORD limit = static_cast<DWORD>(std::chrono::milliseconds(kHangLimit).count());
            *waited = CoWaitForMultipleHandles(0, limit, 1, &gone, &index);
        }
        CoUninitialize();
    }});
    if (!finished) return false;
    (void)plat::closeHandle(gone);
    return *waited == S_OK;
}

} // namespace test_support
