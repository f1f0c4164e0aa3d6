// One IDispatch for an object with many dual interfaces: the type
// information of every interface the object answers, merged, and a lenient
// invoke that repairs the arguments scripting clients typically get wrong
// (missing optional arguments, by-reference VARIANTs for typed out
// parameters, arrays of another element type, an index on an array property).
#pragma once
#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/typeinfo.h"

// The merged type information. Member ids are expected to be unique across
// the merged interfaces; one defined twice maps to the last of them.
class ccDynamicTypeInfo : public CComObjectRootEx<CComMultiThreadModel>, public ITypeInfo, public ITypeComp {
public:
    BEGIN_COM_MAP(ccDynamicTypeInfo)
    COM_INTERFACE_ENTRY(ITypeInfo)
    COM_INTERFACE_ENTRY(ITypeComp)
    END_COM_MAP()

    ccDynamicTypeInfo() = default;
    ~ccDynamicTypeInfo();
    ccDynamicTypeInfo(const ccDynamicTypeInfo&) = delete;
    ccDynamicTypeInfo& operator=(const ccDynamicTypeInfo&) = delete;

    // Takes the interfaces of iids (ended by GUID_NULL) that object answers,
    // in order. A library that cannot be loaded leaves no components.
    void Init(IUnknown* object, const IID* iids, REFGUID libid, WORD major, WORD minor);
    size_t componentCount() const { return components_.size(); }

    HRESULT GetTypeAttr(TYPEATTR** attr) override;
    HRESULT GetTypeComp(ITypeComp** comp) override;
    HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override;
    HRESULT GetVarDesc(UINT, VARDESC**) override { return E_NOTIMPL; }
    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override;
    HRESULT GetRefTypeOfImplType(UINT, HREFTYPE*) override { return E_NOTIMPL; }
    HRESULT GetImplTypeFlags(UINT, int32_t*) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override;
    HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr) override;
    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override;
    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return E_NOTIMPL; }
    HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) override;
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetContainingTypeLib(ITypeLib**, UINT*) override { return E_NOTIMPL; }
    void ReleaseTypeAttr(TYPEATTR* attr) override;
    void ReleaseFuncDesc(FUNCDESC* desc) override;
    void ReleaseVarDesc(VARDESC*) override { }

    HRESULT Bind(LPOLESTR name, ULONG hash, WORD flags, ITypeInfo** info, DESCKIND* kind, BINDPTR* bind) override;
    HRESULT BindType(LPOLESTR, ULONG, ITypeInfo**, ITypeComp**) override { return E_NOTIMPL; }

private:
    struct Component {
        IID iid;
        ITypeInfo* info; // one reference
    };
    // The component of a member id; component 0 for one not in the map.
    ITypeInfo* infoFor(MEMBERID memid) const;
    int componentOfName(LPOLESTR name) const;

    std::vector<Component> components_;
    std::map<MEMBERID, size_t> members_;
};

// ITypeInfo::Invoke on info for the interface itf, with the repairs above.
HRESULT ccLenientInvoke(ITypeInfo* info, void* itf, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr);

// dst becomes src converted to target: arrays element by element (one
// dimension at most), any other value with VariantChangeType. dst may be src.
HRESULT ccConvertArray(VARIANT* dst, VARIANT* src, VARTYPE target);

// The merged type information of one object, built once at first use, also
// when several threads make their first call at once.
class ccMergedTypeInfo {
public:
    ccMergedTypeInfo() = default;
    ~ccMergedTypeInfo()
    {
        if (ccDynamicTypeInfo* info = merged_.load(std::memory_order_acquire)) info->GetUnknown()->Release();
    }
    ccMergedTypeInfo(const ccMergedTypeInfo&) = delete;
    ccMergedTypeInfo& operator=(const ccMergedTypeInfo&) = delete;

    HRESULT get(IUnknown* object, const IID* iids, REFGUID libid, WORD major, WORD minor, ccDynamicTypeInfo** out)
    {
        *out = merged_.load(std::memory_order_acquire);
        if (*out) return S_OK;
        std::lock_guard<std::mutex> guard(building_);
        *out = merged_.load(std::memory_order_relaxed);
        if (*out) return S_OK;
        CComObjectNoLock<ccDynamicTypeInfo>* made = nullptr;
        if (FAILED(CComObjectNoLock<ccDynamicTypeInfo>::CreateInstance(&made))) return E_OUTOFMEMORY;
        made->AddRef();
        made->Init(object, iids, libid, major, minor);
        merged_.store(made, std::memory_order_release);
        *out = made;
        return S_OK;
    }

    // The four IDispatch operations over the merged information.
    HRESULT getTypeInfo(IUnknown* object, const IID* iids, REFGUID libid, WORD major, WORD minor, ITypeInfo** out)
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        ccDynamicTypeInfo* info = nullptr;
        const HRESULT hr = get(object, iids, libid, major, minor, &info);
        if (FAILED(hr)) return hr;
        *out = static_cast<ITypeInfo*>(info);
        (*out)->AddRef();
        return S_OK;
    }
    HRESULT getIDsOfNames(IUnknown* object, const IID* iids, REFGUID libid, WORD major, WORD minor, LPOLESTR* names,
        UINT count, DISPID* ids)
    {
        ccDynamicTypeInfo* info = nullptr;
        const HRESULT hr = get(object, iids, libid, major, minor, &info);
        return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
    }
    HRESULT invoke(IUnknown* object, const IID* iids, REFGUID libid, WORD major, WORD minor, DISPID memid, WORD flags,
        DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr)
    {
        ccDynamicTypeInfo* info = nullptr;
        const HRESULT hr = get(object, iids, libid, major, minor, &info);
        return FAILED(hr) ? hr : info->Invoke(object, memid, flags, params, result, excepInfo, argErr);
    }

private:
    std::mutex building_;
    std::atomic<ccDynamicTypeInfo*> merged_{nullptr};
};

// IDispatch of T (which derives from this and has the COM map) answered
// from the merged type information of the interfaces in Iids (ended by
// GUID_NULL).
template <class T, class Base, const IID* Iids, const GUID* Libid, WORD Major, WORD Minor>
class ccDynamicDispatchImpl : public Base {
public:
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        if (!count) return E_POINTER;
        *count = 1;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** out) override
    {
        return merged_.getTypeInfo(object(), Iids, *Libid, Major, Minor, out);
    }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        return merged_.getIDsOfNames(object(), Iids, *Libid, Major, Minor, names, count, ids);
    }
    HRESULT Invoke(DISPID memid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
        UINT* argErr) override
    {
        return merged_.invoke(object(), Iids, *Libid, Major, Minor, memid, flags, params, result, excepInfo, argErr);
    }

private:
    IUnknown* object() { return static_cast<T*>(this)->GetUnknown(); }
    ccMergedTypeInfo merged_;
};
