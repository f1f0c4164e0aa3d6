// What a COM class reports about itself: creation by class, its class and
// event interface from the type library, and IDispatch of one dual
// interface through the registered type information.
#pragma once
#include "platform/com/object.h"
#include "platform/com/typeinfo.h"

#include <atomic>
#include <mutex>

// Creation of T by its class.
template <class T, const CLSID* Clsid> class CComCoClass {
public:
    static const CLSID& GetObjectCLSID() { return *Clsid; }
    static HRESULT CreateInstance(REFIID iid, void** ppv) { return plat::com::createInstance<T>(nullptr, iid, ppv); }
};

// The type information of one interface of a registered library, loaded at
// first use; a failed load is tried again at the next call.
class ccRegisteredTypeInfo {
public:
    ccRegisteredTypeInfo() = default;
    ~ccRegisteredTypeInfo()
    {
        if (ITypeInfo* info = info_.load(std::memory_order_acquire)) info->Release();
    }
    ccRegisteredTypeInfo(const ccRegisteredTypeInfo&) = delete;
    ccRegisteredTypeInfo& operator=(const ccRegisteredTypeInfo&) = delete;

    // *out is borrowed: it lives as long as this holder.
    HRESULT get(REFGUID libid, WORD major, WORD minor, REFGUID guid, ITypeInfo** out)
    {
        *out = info_.load(std::memory_order_acquire);
        if (*out) return S_OK;
        std::lock_guard<std::mutex> guard(loading_);
        *out = info_.load(std::memory_order_relaxed);
        if (*out) return S_OK;
        ITypeLib* lib = nullptr;
        HRESULT hr = LoadRegTypeLib(libid, major, minor, GetUserDefaultLCID(), &lib);
        if (FAILED(hr)) return hr;
        hr = lib->GetTypeInfoOfGuid(guid, out);
        lib->Release();
        if (FAILED(hr)) return *out = nullptr, hr;
        info_.store(*out, std::memory_order_release);
        return S_OK;
    }

private:
    std::mutex loading_;
    std::atomic<ITypeInfo*> info_{nullptr};
};

// The class's type information from its library, and its event interface
// (GUID_NULL for a class without events).
template <const CLSID* Clsid, const IID* Diid, const GUID* Libid, WORD Major, WORD Minor>
class IProvideClassInfo2Impl : public IProvideClassInfo2 {
public:
    HRESULT GetClassInfo(ITypeInfo** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        ITypeInfo* info = nullptr;
        const HRESULT hr = classInfo_.get(*Libid, Major, Minor, *Clsid, &info);
        if (FAILED(hr)) return hr;
        info->AddRef();
        *out = info;
        return S_OK;
    }
    HRESULT GetGUID(DWORD kind, GUID* guid) override
    {
        if (!guid) return E_POINTER;
        if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return *guid = GUID_NULL, E_INVALIDARG;
        *guid = *Diid;
        return S_OK;
    }

private:
    ccRegisteredTypeInfo classInfo_;
};

// IDispatch of the dual interface Itf through its type information.
template <class Itf, const IID* Iid, const GUID* Libid, WORD Major, WORD Minor> class IDispatchImpl : public Itf {
public:
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT index, LCID, ITypeInfo** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index != 0) return DISP_E_BADINDEX;
        ITypeInfo* info = nullptr;
        const HRESULT hr = info_.get(*Libid, Major, Minor, *Iid, &info);
        if (FAILED(hr)) return hr;
        info->AddRef();
        *out = info;
        return S_OK;
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        ITypeInfo* info = nullptr;
        const HRESULT hr = info_.get(*Libid, Major, Minor, *Iid, &info);
        return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
    }
    HRESULT Invoke(DISPID memid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
        UINT* argErr) override
    {
        ITypeInfo* info = nullptr;
        const HRESULT hr = info_.get(*Libid, Major, Minor, *Iid, &info);
        return FAILED(hr) ? hr : info->Invoke(static_cast<Itf*>(this), memid, flags, params, result, excepInfo, argErr);
    }

private:
    ccRegisteredTypeInfo info_;
};
