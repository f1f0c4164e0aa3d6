// An event sink for tests that lives on the stack and only counts: it answers
// IUnknown, IDispatch and its events interface. Derived sinks record calls in
// Invoke; the count is atomic for sinks that several threads connect.
#pragma once
#include <atomic>

#include "platform/com/base.h"

class CountedSink : public IDispatch {
public:
    explicit CountedSink(const IID& events) : events_(events) {}
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        const bool known = iid == IID_IUnknown || iid == IID_IDispatch || iid == events_;
        *ppv = known ? static_cast<IDispatch*>(this) : nullptr;
        return known ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

    std::atomic<ULONG> references{0};

private:
    const IID events_;
};
