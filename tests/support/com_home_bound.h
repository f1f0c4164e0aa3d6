// A COM object bound to the thread that makes it, for tests of where objects
// are counted: its count is no atomic (ThreadSanitizer sees a count given
// elsewhere), each count given on another thread is added to strays, and
// gone is signalled at its last release, when it deletes itself.
#pragma once
#include <atomic>
#include <memory>
#include <utility>

#include "platform/com/message.h"
#include "platform/sync.h"

class HomeBound final : public IDispatch {
public:
    HomeBound(plat::Handle gone, std::shared_ptr<std::atomic<int>> strays)
        : home_(GetCurrentThreadId()), gone_(gone), strays_(std::move(strays))
    {
    }
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = iid == IID_IUnknown || iid == IID_IDispatch ? static_cast<IDispatch*>(this) : nullptr;
        return *ppv != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return note(), ++count_; }
    ULONG Release() override
    {
        note();
        const ULONG left = --count_;
        if (left == 0) {
            plat::setEvent(gone_);
            delete this;
        }
        return left;
    }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

private:
    void note()
    {
        if (GetCurrentThreadId() != home_) ++*strays_;
    }
    const uint32_t home_;
    const plat::Handle gone_;
    const std::shared_ptr<std::atomic<int>> strays_;
    ULONG count_ = 1;
};
