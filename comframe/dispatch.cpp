#include "comframe/dispatch.h"

#include "platform/com/bstr.h"
#include "platform/com/safearray.h"

#include <cstring>
#include <memory>

ccDynamicTypeInfo::~ccDynamicTypeInfo()
{
    for (Component& c : components_)
        c.info->Release();
}

void ccDynamicTypeInfo::Init(IUnknown* object, const IID* iids, REFGUID libid, WORD major, WORD minor)
{
    ITypeLib* lib = nullptr;
    if (FAILED(LoadRegTypeLib(libid, major, minor, GetUserDefaultLCID(), &lib)) || !lib) return;
    for (const IID* iid = iids; iid && !IsEqualGUID(*iid, GUID_NULL); ++iid) {
        IUnknown* itf = nullptr;
        if (FAILED(object->QueryInterface(*iid, reinterpret_cast<void**>(&itf))) || !itf) continue;
        itf->Release();
        ITypeInfo* info = nullptr;
        TYPEATTR* attr = nullptr;
        if (FAILED(lib->GetTypeInfoOfGuid(*iid, &info)) || !info) continue;
        if (FAILED(info->GetTypeAttr(&attr))) {
            info->Release();
            continue;
        }
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(i, &desc))) continue;
            members_[desc->memid] = components_.size();
            info->ReleaseFuncDesc(desc);
        }
        info->ReleaseTypeAttr(attr);
        components_.push_back({*iid, info});
    }
    lib->Release();
}

ITypeInfo* ccDynamicTypeInfo::infoFor(MEMBERID memid) const
{
    if (components_.empty()) return nullptr;
    const auto found = members_.find(memid);
    return components_[found == members_.end() ? 0 : found->second].info;
}

int ccDynamicTypeInfo::componentOfName(LPOLESTR name) const
{
    for (size_t i = 0; i < components_.size(); ++i) {
        MEMBERID id = DISPID_UNKNOWN;
        if (SUCCEEDED(components_[i].info->GetIDsOfNames(&name, 1, &id))) return static_cast<int>(i);
    }
    return -1;
}

HRESULT ccDynamicTypeInfo::GetTypeAttr(TYPEATTR** attr)
{
    if (!attr) return E_POINTER;
    *attr = nullptr;
    if (components_.empty()) return E_UNEXPECTED;
    HRESULT hr = components_[0].info->GetTypeAttr(attr);
    if (FAILED(hr)) return hr;
    for (size_t i = 1; i < components_.size(); ++i) {
        TYPEATTR* other = nullptr;
        if (FAILED(components_[i].info->GetTypeAttr(&other))) continue;
        (*attr)->cFuncs = static_cast<WORD>((*attr)->cFuncs + other->cFuncs);
        components_[i].info->ReleaseTypeAttr(other);
    }
    (*attr)->cImplTypes = 0;
    return S_OK;
}

void ccDynamicTypeInfo::ReleaseTypeAttr(TYPEATTR* attr)
{
    if (!components_.empty()) components_[0].info->ReleaseTypeAttr(attr);
}

HRESULT ccDynamicTypeInfo::GetTypeComp(ITypeComp** comp)
{
    if (!comp) return E_POINTER;
    *comp = static_cast<ITypeComp*>(this);
    (*comp)->AddRef();
    return S_OK;
}

HRESULT ccDynamicTypeInfo::GetFuncDesc(UINT index, FUNCDESC** desc)
{
    if (!desc) return E_POINTER;
    *desc = nullptr;
    for (const Component& c : components_) {
        TYPEATTR* attr = nullptr;
        const HRESULT hr = c.info->GetTypeAttr(&attr);
        if (FAILED(hr)) return hr;
        const UINT count = attr->cFuncs;
        c.info->ReleaseTypeAttr(attr);
        if (index < count) return c.info->GetFuncDesc(index, desc);
        index -= count;
    }
    return E_INVALIDARG;
}

void ccDynamicTypeInfo::ReleaseFuncDesc(FUNCDESC* desc)
{
    if (desc)
        if (ITypeInfo* info = infoFor(desc->memid)) info->ReleaseFuncDesc(desc);
}

HRESULT ccDynamicTypeInfo::GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count)
{
    ITypeInfo* info = infoFor(memid);
    return info ? info->GetNames(memid, names, maxNames, count) : DISP_E_MEMBERNOTFOUND;
}

HRESULT ccDynamicTypeInfo::GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile)
{
    ITypeInfo* info = infoFor(memid);
    return info ? info->GetDocumentation(memid, name, doc, helpContext, helpFile) : DISP_E_MEMBERNOTFOUND;
}

HRESULT ccDynamicTypeInfo::GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info)
{
    HRESULT hr = TYPE_E_ELEMENTNOTFOUND;
    for (const Component& c : components_) {
        hr = c.info->GetRefTypeInfo(ref, info);
        if (SUCCEEDED(hr)) return hr;
    }
    return hr;
}

// The first name is a member, found across the components; the others are
// its parameters, whose ids only the member's own component knows.
HRESULT ccDynamicTypeInfo::GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids)
{
    if (count < 1) return S_OK;
    if (!names || !ids) return E_POINTER;
    const int component = componentOfName(names[0]);
    if (component < 0) {
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    return components_[component].info->GetIDsOfNames(names, count, ids);
}

HRESULT ccDynamicTypeInfo::Bind(LPOLESTR name, ULONG hash, WORD flags, ITypeInfo** info, DESCKIND* kind, BINDPTR* bind)
{
    if (!name || !info || !kind || !bind) return E_POINTER;
    const int component = componentOfName(name);
    if (component < 0) {
        *info = nullptr;
        *kind = DESCKIND_NONE;
        bind->lpfuncdesc = nullptr;
        return E_INVALIDARG;
    }
    ITypeComp* comp = nullptr;
    HRESULT hr = components_[component].info->GetTypeComp(&comp);
    if (FAILED(hr)) return hr;
    hr = comp->Bind(name, hash, flags, info, kind, bind);
    comp->Release();
    return hr;
}

HRESULT ccDynamicTypeInfo::Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    if (!instance) return E_INVALIDARG;
    const auto found = members_.find(memid);
    if (components_.empty()) return DISP_E_MEMBERNOTFOUND;
    const Component& c = components_[found == members_.end() ? 0 : found->second];
    IUnknown* itf = nullptr;
    if (FAILED(static_cast<IUnknown*>(instance)->QueryInterface(c.iid, reinterpret_cast<void**>(&itf))) || !itf)
        return DISP_E_MEMBERNOTFOUND;
    const HRESULT hr = ccLenientInvoke(c.info, itf, memid, flags, params, result, excepInfo, argErr);
    itf->Release();
    return hr;
}

namespace {

bool convertibleElement(VARTYPE vt)
{
    switch (vt) {
    case VT_UI1:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_BOOL:
    case VT_VARIANT:
        return true;
    default:
        return false;
    }
}

// Search of the type and, depth first, of its base interfaces.
HRESULT findFuncDesc(ITypeInfo* info, MEMBERID memid, int kinds, FUNCDESC** found, ITypeInfo** owner)
{
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    const UINT funcs = attr->cFuncs;
    const UINT bases = attr->cImplTypes;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* desc = nullptr;
        hr = info->GetFuncDesc(i, &desc);
        if (FAILED(hr)) return hr;
        if (desc->memid == memid && (desc->invkind & kinds)) {
            *found = desc;
            *owner = info;
            return S_OK;
        }
        info->ReleaseFuncDesc(desc);
    }
    for (UINT i = 0; i < bases && !*found; ++i) {
        HREFTYPE ref = 0;
        ITypeInfo* base = nullptr;
        if (FAILED(hr = info->GetRefTypeOfImplType(i, &ref)) || FAILED(hr = info->GetRefTypeInfo(ref, &base)))
            return hr;
        hr = findFuncDesc(base, memid, kinds, found, owner);
        if (*owner != base) base->Release(); // the owner keeps the reference until its descriptor is released
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

VARTYPE pointee(const TYPEDESC& t)
{
    return t.lptdesc ? t.lptdesc->vt : static_cast<VARTYPE>(VT_EMPTY);
}

// An argument repaired for the repeated call: the caller's VARIANT, the
// temporary the call writes into, and how to hand it back.
struct Repair {
    VARIANT* caller = nullptr; // the by-reference VARIANT's target, or null for an owned input value
    VARIANT temp{}; // a value owned here
    bool outArray = false;
};

HRESULT retryIndexed(ITypeInfo* info, void* itf, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    // Only a read of one element of a one-dimensional array into a result.
    if (params->cArgs != 1 || params->cNamedArgs != 0 || params->rgvarg[0].vt != VT_I2 || !result)
        return DISP_E_NOTACOLLECTION;
    const LONG index = params->rgvarg[0].iVal;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    VARIANT whole;
    VariantInit(&whole);
    if (FAILED(info->Invoke(itf, memid, flags, &none, &whole, excepInfo, argErr))) return DISP_E_NOTACOLLECTION;
    HRESULT hr = DISP_E_NOTACOLLECTION;
    if ((whole.vt & VT_ARRAY) && !(whole.vt & VT_BYREF) && whole.parray && SafeArrayGetDim(whole.parray) == 1) {
        const VARTYPE element = whole.vt & VT_TYPEMASK;
        VariantClear(result);
        if (element == VT_VARIANT) {
            hr = SafeArrayGetElement(whole.parray, &index, result);
        } else {
            hr = SafeArrayGetElement(whole.parray, &index, &result->llVal);
            if (SUCCEEDED(hr)) result->vt = element;
        }
    }
    VariantClear(&whole);
    return hr;
}

HRESULT repairArguments(ITypeInfo* info, void* itf, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    FUNCDESC* desc = nullptr;
    ITypeInfo* owner = nullptr;
    HRESULT hr = findFuncDesc(info, memid, flags & 0xF, &desc, &owner);
    if (FAILED(hr)) return hr;
    if (!desc) return DISP_E_MEMBERNOTFOUND;
    struct Releaser {
        ITypeInfo* owner;
        FUNCDESC* desc;
        ITypeInfo* info;
        ~Releaser()
        {
            owner->ReleaseFuncDesc(desc);
            if (owner != info) owner->Release();
        }
    } releaser{owner, desc, info};

    // Named arguments other than the put value make positions meaningless.
    const bool namedPut = params->cNamedArgs == 1 && params->rgdispidNamedArgs[0] == DISPID_PROPERTYPUT;
    if (params->cNamedArgs != 0 && !namedPut) return DISP_E_TYPEMISMATCH;
    const UINT cParams = static_cast<UINT>(desc->cParams);
    UINT formal = cParams;
    if (cParams > 0 && (desc->lprgelemdescParam[cParams - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)) --formal;
    if (params->cArgs > formal) return DISP_E_BADPARAMCOUNT;
    const UINT missing = formal - params->cArgs;
    if (missing && namedPut) return DISP_E_TYPEMISMATCH;
    for (UINT p = params->cArgs; p < formal; ++p)
        if (!(desc->lprgelemdescParam[p].paramdesc.wParamFlags & PARAMFLAG_FOPT)) return DISP_E_BADPARAMCOUNT;

    // Arguments are stored last first, so the missing trailing ones go in front.
    std::vector<VARIANT> args(formal);
    for (UINT i = 0; i < missing; ++i) {
        args[i].vt = VT_ERROR;
        args[i].scode = DISP_E_PARAMNOTFOUND;
    }
    for (UINT i = 0; i < params->cArgs; ++i)
        args[missing + i] = params->rgvarg[i];
    std::vector<Repair> repairs(formal);
    bool repaired = missing > 0;
    auto freeTemps = [&repairs] {
        for (Repair& r : repairs)
            VariantClear(&r.temp);
    };
    for (UINT i = 0; i < formal; ++i) {
        const TYPEDESC& type = desc->lprgelemdescParam[formal - 1 - i].tdesc;
        VARIANT& arg = args[i];
        Repair& r = repairs[i];
        const bool objectParam = type.vt == VT_UNKNOWN || type.vt == VT_DISPATCH
            || (type.vt == VT_PTR && pointee(type) == VT_USERDEFINED);
        if (objectParam && arg.vt == VT_ERROR) {
            arg.vt = VT_DISPATCH;
            arg.pdispVal = nullptr;
            repaired = true;
        } else if (type.vt == VT_PTR && arg.vt == (VT_BYREF | VT_VARIANT) && arg.pvarVal) {
            VARTYPE target = pointee(type);
            if (target == VT_PTR && type.lptdesc->lptdesc && type.lptdesc->lptdesc->vt == VT_USERDEFINED)
                target = VT_DISPATCH;
            else if (target == VT_SAFEARRAY && type.lptdesc->lptdesc) {
                target = static_cast<VARTYPE>(VT_ARRAY | type.lptdesc->lptdesc->vt);
                r.outArray = true;
            } else if (target != VT_I4 && target != VT_R8 && target != VT_BSTR && target != VT_BOOL && target != VT_UI1)
                continue;
            // An [in,out] parameter starts from the caller's value when it converts.
            if (r.outArray || FAILED(VariantChangeType(&r.temp, arg.pvarVal, 0, target))) {
                VariantClear(&r.temp);
                r.temp.vt = target;
            }
            r.caller = arg.pvarVal;
            arg.vt = static_cast<VARTYPE>(VT_BYREF | target);
            arg.byref = &r.temp.llVal;
            repaired = true;
        } else if (type.vt == VT_SAFEARRAY && type.lptdesc) {
            const VARTYPE target = static_cast<VARTYPE>(VT_ARRAY | type.lptdesc->vt);
            if (arg.vt == target) continue;
            hr = VariantCopyInd(&r.temp, &arg);
            if (SUCCEEDED(hr) && (!(r.temp.vt & VT_ARRAY) || !r.temp.parray)) hr = DISP_E_TYPEMISMATCH;
            if (SUCCEEDED(hr) && r.temp.vt != target && FAILED(ccConvertArray(&r.temp, &r.temp, target)))
                hr = DISP_E_TYPEMISMATCH;
            if (FAILED(hr)) {
                freeTemps();
                return DISP_E_TYPEMISMATCH;
            }
            arg = r.temp;
            repaired = true;
        }
    }
    if (!repaired) return DISP_E_TYPEMISMATCH;

    DISPPARAMS again{args.data(), params->rgdispidNamedArgs, formal, params->cNamedArgs};
    hr = info->Invoke(itf, memid, flags, &again, result, excepInfo, argErr);
    if (SUCCEEDED(hr)) {
        for (Repair& r : repairs) {
            if (!r.caller) continue;
            VariantClear(r.caller);
            *r.caller = r.temp; // the caller now owns the value
            VariantInit(&r.temp);
            if (r.outArray && r.caller->parray && SafeArrayGetDim(r.caller->parray) == 1)
                (void)ccConvertArray(r.caller, r.caller, VT_ARRAY | VT_VARIANT); // a failure keeps the typed array
        }
    }
    freeTemps();
    return hr;
}

} // namespace

HRESULT ccLenientInvoke(ITypeInfo* info, void* itf, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    if (!info || !itf || !params) return E_INVALIDARG;
    HRESULT hr = info->Invoke(itf, memid, flags, params, result, excepInfo, argErr);
    if (SUCCEEDED(hr)) {
        if (result && (result->vt & VT_ARRAY) && !(result->vt & VT_BYREF) && result->parray
            && SafeArrayGetDim(result->parray) == 1)
            (void)ccConvertArray(result, result, VT_ARRAY | VT_VARIANT); // a failure keeps the typed array
        return S_OK;
    }
    if (hr == DISP_E_NOTACOLLECTION) return retryIndexed(info, itf, memid, flags, params, result, excepInfo, argErr);
    if (hr == DISP_E_TYPEMISMATCH) return repairArguments(info, itf, memid, flags, params, result, excepInfo, argErr);
    return hr;
}

HRESULT ccConvertArray(VARIANT* dst, VARIANT* src, VARTYPE target)
{
    if (!dst || !src) return E_POINTER;
    const bool arrays = (src->vt & VT_ARRAY) && (target & VT_ARRAY) && !(src->vt & VT_BYREF);
    if (!arrays || src->vt == target) {
        if (arrays) return VariantCopy(dst, src);
        return VariantChangeType(dst, src, 0, target);
    }
    const VARTYPE from = src->vt & VT_TYPEMASK;
    const VARTYPE to = target & VT_TYPEMASK;
    const bool readable = convertibleElement(from) || from == VT_BSTR || from == VT_DISPATCH || from == VT_UNKNOWN;
    if (!readable || !convertibleElement(to)) return DISP_E_TYPEMISMATCH;
    SAFEARRAY* source = src->parray;
    if (!source || SafeArrayGetDim(source) > 1) return DISP_E_TYPEMISMATCH;
    SAFEARRAYBOUND bound{0, 0};
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(source, 1, &bound.lLbound)) || FAILED(SafeArrayGetUBound(source, 1, &upper)))
        return DISP_E_TYPEMISMATCH;
    bound.cElements = static_cast<ULONG>(static_cast<int64_t>(upper) - bound.lLbound + 1);
    SAFEARRAY* made = SafeArrayCreate(to, 1, &bound);
    if (!made) return E_OUTOFMEMORY;
    void* data = nullptr;
    HRESULT hr = SafeArrayAccessData(made, &data);
    const size_t size = SafeArrayGetElemsize(made);
    for (ULONG i = 0; SUCCEEDED(hr) && i < bound.cElements; ++i) {
        const LONG index = bound.lLbound + static_cast<LONG>(i);
        VARIANT element;
        VariantInit(&element);
        if (from == VT_VARIANT) {
            hr = SafeArrayGetElement(source, &index, &element);
        } else {
            hr = SafeArrayGetElement(source, &index, &element.llVal);
            if (SUCCEEDED(hr)) element.vt = from;
        }
        if (SUCCEEDED(hr) && to != VT_VARIANT) hr = VariantChangeType(&element, &element, 0, to);
        if (SUCCEEDED(hr)) {
            char* slot = static_cast<char*>(data) + i * size;
            if (to == VT_VARIANT) std::memcpy(slot, &element, sizeof(VARIANT)); // the array takes it
            else std::memcpy(slot, &element.llVal, size);
        } else {
            VariantClear(&element);
        }
    }
    if (data) (void)SafeArrayUnaccessData(made); // it was accessed just above
    if (FAILED(hr)) {
        SafeArrayDestroy(made);
        return hr;
    }
    VariantClear(dst);
    dst->vt = target;
    dst->parray = made;
    return S_OK;
}
