// QueryInterface and reference counting of a small object that answers
// IUnknown and the listed interface ids with its one interface.
#pragma once
#include <atomic>

#include "platform/com/base.h"

namespace plat::com {

template <class Itf, const IID&... Iids>
class SimpleObject : public Itf {
public:
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        const bool known = iid == IID_IUnknown || ((iid == Iids) || ...);
        *ppv = known ? static_cast<Itf*>(this) : nullptr;
        if (!known)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    // The count the maker holds.
    explicit SimpleObject(ULONG references = 1) : references_(references) {}
    virtual ~SimpleObject() = default;

private:
    std::atomic<ULONG> references_;
};

} // namespace plat::com
