#include "platform/com/object.h"

#include <atomic>

namespace plat::com {

namespace {

    std::atomic<ULONG> g_moduleLocks { 0 };

    class ClassFactory : public CComObjectRootEx<CComMultiThreadModel>, public IClassFactory {
    public:
        BEGIN_COM_MAP(ClassFactory)
        COM_INTERFACE_ENTRY(IClassFactory)
        END_COM_MAP()

        HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) override
        {
            if (!ppv) return E_POINTER;
            *ppv = nullptr;
            if (outer) return CLASS_E_NOAGGREGATION;
            return creator_(nullptr, iid, ppv);
        }

        HRESULT LockServer(int32_t lock) override
        {
            if (lock)
                moduleLock();
            else
                moduleUnlock();
            return S_OK;
        }

        CreatorFunction creator_ = nullptr;
    };

} // namespace

void moduleLock()
{
    g_moduleLocks.fetch_add(1);
}

void moduleUnlock()
{
    // An unpaired unlock must not wrap the count round.
    ULONG count = g_moduleLocks.load();
    while (count != 0 && !g_moduleLocks.compare_exchange_weak(count, count - 1)) { }
}

ULONG moduleLockCount()
{
    return g_moduleLocks.load();
}

HRESULT queryTable(void* self, const ComInterfaceEntry* table, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
        auto* unknown = static_cast<IUnknown*>(table[0].cast(self));
        unknown->AddRef();
        *ppv = unknown;
        return S_OK;
    }
    for (const ComInterfaceEntry* entry = table; entry->iid; ++entry) {
        if (!IsEqualIID(*entry->iid, iid)) continue;
        if (entry->query) return entry->query(self, iid, ppv);
        auto* found = static_cast<IUnknown*>(entry->cast(self));
        found->AddRef();
        *ppv = found;
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT createClassFactory(CreatorFunction creator, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!creator) return E_INVALIDARG;
    CComObjectNoLock<ClassFactory>* factory = nullptr;
    const HRESULT hr = CComObjectNoLock<ClassFactory>::CreateInstance(&factory);
    if (FAILED(hr)) return hr;
    factory->creator_ = creator;
    factory->AddRef();
    const HRESULT query = factory->QueryInterface(iid, ppv);
    factory->Release();
    return query;
}

} // namespace plat::com
