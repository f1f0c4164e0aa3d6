#include "platform/com/typeinfo.h"

#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/safearray.h"
#include "platform/environment.h"

#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <vector>

namespace {

using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;
using plat::com::TypeLibraryEntry;

bool sameName(const OLECHAR* a, const OLECHAR* b)
{
    auto fold = [](OLECHAR c) { return (c >= u'A' && c <= u'Z') ? static_cast<OLECHAR>(c - u'A' + u'a') : c; };
    if (!a || !b) return false;
    for (; *a && *b; ++a, ++b)
        if (fold(*a) != fold(*b)) return false;
    return *a == *b;
}

bool isRetval(const ParamEntry& p)
{
    return (p.flags & PARAMFLAG_FRETVAL) != 0;
}

size_t formalCount(const FunctionEntry& f)
{
    return (f.paramCount > 0 && isRetval(f.params[f.paramCount - 1])) ? f.paramCount - 1 : f.paramCount;
}

// A FUNCDESC with its type chains in one block.
struct FuncDescBlock {
    FUNCDESC desc;
    std::vector<ELEMDESC> params;
    std::vector<std::unique_ptr<TYPEDESC[]>> chains;
};
static_assert(std::is_standard_layout<FuncDescBlock>::value, "the descriptor is the block's address");

void fillType(FuncDescBlock& block, ELEMDESC& elem, const std::array<VARTYPE, 3>& type)
{
    auto chain = std::make_unique<TYPEDESC[]>(3);
    for (size_t i = 0; i < 3; ++i) {
        chain[i].vt = type[i];
        chain[i].lptdesc = nullptr;
        const bool indirect = type[i] == VT_PTR || type[i] == VT_SAFEARRAY;
        if (indirect && i + 1 < 3) chain[i].lptdesc = &chain[i + 1];
        if (!indirect) break;
    }
    elem.tdesc = chain[0];
    block.chains.push_back(std::move(chain));
}

class StaticTypeInfo;

class StaticTypeComp final : public ITypeComp {
public:
    explicit StaticTypeComp(StaticTypeInfo* owner)
        : owner_(owner)
    {
    }
    HRESULT QueryInterface(REFIID iid, void** ppv) override;
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT Bind(LPOLESTR name, ULONG hash, WORD flags, ITypeInfo** info, DESCKIND* kind, BINDPTR* bind) override;
    HRESULT BindType(LPOLESTR, ULONG, ITypeInfo**, ITypeComp**) override { return E_NOTIMPL; }

private:
    StaticTypeInfo* owner_;
};

// One per interface of a registered library; lives as long as the process,
// so its counting does nothing.
class StaticTypeInfo final : public ITypeInfo {
public:
    StaticTypeInfo(const InterfaceEntry& entry, ITypeLib* lib, UINT index)
        : entry_(entry)
        , lib_(lib)
        , index_(index)
        , comp_(this)
    {
    }

    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITypeInfo)) *ppv = static_cast<ITypeInfo*>(this);
        else if (IsEqualIID(iid, IID_ITypeComp)) *ppv = static_cast<ITypeComp*>(&comp_);
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT GetTypeAttr(TYPEATTR** attr) override
    {
        if (!attr) return E_POINTER;
        *attr = new (std::nothrow) TYPEATTR{};
        if (!*attr) return E_OUTOFMEMORY;
        (*attr)->guid = *entry_.iid;
        (*attr)->lcid = 0;
        (*attr)->memidConstructor = MEMBERID_NIL;
        (*attr)->memidDestructor = MEMBERID_NIL;
        (*attr)->typekind = entry_.kind;
        (*attr)->cFuncs = static_cast<WORD>(entry_.functionCount);
        return S_OK;
    }
    void ReleaseTypeAttr(TYPEATTR* attr) override { delete attr; }

    HRESULT GetTypeComp(ITypeComp** comp) override
    {
        if (!comp) return E_POINTER;
        *comp = &comp_;
        return S_OK;
    }

    HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) override
    {
        if (!desc) return E_POINTER;
        *desc = nullptr;
        if (index >= entry_.functionCount) return TYPE_E_ELEMENTNOTFOUND;
        const FunctionEntry& f = entry_.functions[index];
        try {
            auto block = std::make_unique<FuncDescBlock>();
            block->params.resize(f.paramCount);
            SHORT optional = 0;
            for (size_t i = 0; i < f.paramCount; ++i) {
                fillType(*block, block->params[i], f.params[i].type);
                block->params[i].paramdesc = {nullptr, f.params[i].flags};
                if (f.params[i].flags & PARAMFLAG_FOPT) ++optional;
            }
            FUNCDESC& d = block->desc;
            d = FUNCDESC{};
            d.memid = f.memid;
            d.lprgelemdescParam = block->params.empty() ? nullptr : block->params.data();
            d.funckind = FUNC_DISPATCH;
            d.invkind = f.invkind;
            d.cParams = static_cast<SHORT>(f.paramCount);
            d.cParamsOpt = optional;
            d.elemdescFunc.tdesc.vt = VT_HRESULT;
            d.elemdescFunc.tdesc.lptdesc = nullptr;
            *desc = &block.release()->desc; // desc is the block's first member
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    void ReleaseFuncDesc(FUNCDESC* desc) override { delete reinterpret_cast<FuncDescBlock*>(desc); }

    HRESULT GetVarDesc(UINT, VARDESC**) override { return TYPE_E_ELEMENTNOTFOUND; }
    void ReleaseVarDesc(VARDESC*) override { }

    HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) override
    {
        if (!names || !count) return E_POINTER;
        *count = 0;
        const FunctionEntry* f = find(memid, 0xF);
        if (!f) return TYPE_E_ELEMENTNOTFOUND;
        // A property put names only the function: its value has no name of its own.
        const size_t params = (f->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) ? 0 : formalCount(*f);
        for (size_t i = 0; i <= params && *count < maxNames; ++i) {
            names[*count] = SysAllocString(i == 0 ? f->name : f->params[i - 1].name);
            if (!names[*count]) return E_OUTOFMEMORY;
            ++*count;
        }
        return S_OK;
    }

    HRESULT GetRefTypeOfImplType(UINT, HREFTYPE*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT GetImplTypeFlags(UINT, int32_t*) override { return TYPE_E_ELEMENTNOTFOUND; }

    // The first name is the member; the others are its parameters.
    HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) override
    {
        if (count == 0) return S_OK;
        if (!names || !ids) return E_POINTER;
        for (UINT i = 0; i < count; ++i)
            ids[i] = DISPID_UNKNOWN;
        const FunctionEntry* member = nullptr;
        for (size_t i = 0; i < entry_.functionCount && !member; ++i)
            if (sameName(entry_.functions[i].name, names[0])) member = &entry_.functions[i];
        if (!member) return DISP_E_UNKNOWNNAME;
        ids[0] = member->memid;
        HRESULT hr = S_OK;
        for (UINT n = 1; n < count; ++n) {
            const FunctionEntry* owner = nullptr;
            for (size_t i = 0; i < entry_.functionCount && ids[n] == DISPID_UNKNOWN; ++i) {
                owner = &entry_.functions[i];
                if (owner->memid != member->memid) continue;
                for (size_t p = 0; p < formalCount(*owner); ++p)
                    if (sameName(owner->params[p].name, names[n])) ids[n] = static_cast<DISPID>(p);
            }
            if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }

    HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr) override;

    HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override
    {
        const OLECHAR* text = entry_.name;
        if (memid != MEMBERID_NIL) {
            const FunctionEntry* f = find(memid, 0xF);
            if (!f) return TYPE_E_ELEMENTNOTFOUND;
            text = f->name;
        }
        if (doc) *doc = nullptr;
        if (helpFile) *helpFile = nullptr;
        if (helpContext) *helpContext = 0;
        if (name && !(*name = SysAllocString(text))) return E_OUTOFMEMORY;
        return S_OK;
    }

    HRESULT GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*, WORD*) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT GetRefTypeInfo(HREFTYPE, ITypeInfo**) override { return TYPE_E_ELEMENTNOTFOUND; }
    HRESULT AddressOfMember(MEMBERID, INVOKEKIND, void**) override { return E_NOTIMPL; }
    HRESULT CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT GetMops(MEMBERID, BSTR*) override { return E_NOTIMPL; }
    HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) override
    {
        if (lib) *lib = lib_;
        if (index) *index = index_;
        return S_OK;
    }

    const FunctionEntry* find(MEMBERID memid, int kinds) const
    {
        for (size_t i = 0; i < entry_.functionCount; ++i)
            if (entry_.functions[i].memid == memid && (entry_.functions[i].invkind & kinds)) return &entry_.functions[i];
        return nullptr;
    }
    const FunctionEntry* findByName(const OLECHAR* name, int kinds, UINT* index) const
    {
        for (size_t i = 0; i < entry_.functionCount; ++i)
            if (sameName(entry_.functions[i].name, name) && (entry_.functions[i].invkind & kinds)) {
                *index = static_cast<UINT>(i);
                return &entry_.functions[i];
            }
        return nullptr;
    }

private:
    const InterfaceEntry& entry_;
    ITypeLib* lib_;
    UINT index_;
    StaticTypeComp comp_;
};

HRESULT StaticTypeComp::QueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ITypeComp)) return E_NOINTERFACE;
    *ppv = static_cast<ITypeComp*>(this);
    return S_OK;
}

HRESULT StaticTypeComp::Bind(LPOLESTR name, ULONG, WORD flags, ITypeInfo** info, DESCKIND* kind, BINDPTR* bind)
{
    if (!name || !info || !kind || !bind) return E_POINTER;
    *info = nullptr;
    *kind = DESCKIND_NONE;
    bind->lpfuncdesc = nullptr;
    UINT index = 0;
    if (!owner_->findByName(name, flags ? flags : 0xF, &index)) return S_OK;
    const HRESULT hr = owner_->GetFuncDesc(index, &bind->lpfuncdesc);
    if (FAILED(hr)) return hr;
    *info = owner_;
    *kind = DESCKIND_FUNCDESC;
    return S_OK;
}

// The value of one argument, coerced to its parameter's type chain.
HRESULT coerce(const std::array<VARTYPE, 3>& type, VARIANT& arg, VARIANT& out)
{
    const VARTYPE t0 = type[0];
    if (t0 == VT_VARIANT) {
        out = arg; // shallow: the caller keeps ownership
        out.wReserved1 = 0;
        return S_OK;
    }
    if (t0 == VT_PTR && type[1] == VT_VARIANT) {
        if (arg.vt == (VT_BYREF | VT_VARIANT)) {
            out = arg;
            out.wReserved1 = 0;
        } else {
            out.vt = VT_BYREF | VT_VARIANT;
            out.pvarVal = &arg;
        }
        return S_OK;
    }
    if (t0 == VT_PTR && type[1] == VT_USERDEFINED) {
        const HRESULT hr = VariantChangeType(&out, &arg, 0, VT_DISPATCH);
        if (SUCCEEDED(hr)) out.wReserved1 = 1; // owned
        return hr;
    }
    if (t0 == VT_PTR) {
        const VARTYPE want = type[1] == VT_SAFEARRAY ? static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | type[2])
                             : type[1] == VT_PTR     ? static_cast<VARTYPE>(VT_BYREF | VT_DISPATCH)
                                                     : static_cast<VARTYPE>(VT_BYREF | type[1]);
        if (arg.vt != want) return DISP_E_TYPEMISMATCH;
        out = arg;
        out.wReserved1 = 0;
        return S_OK;
    }
    if (t0 == VT_SAFEARRAY) {
        if (arg.vt != (VT_ARRAY | type[1]) || !arg.parray) return DISP_E_TYPEMISMATCH;
        out = arg;
        out.wReserved1 = 0;
        return S_OK;
    }
    VARIANT plain;
    VariantInit(&plain);
    HRESULT hr = VariantCopyInd(&plain, &arg);
    if (SUCCEEDED(hr)) hr = VariantChangeType(&out, &plain, 0, t0);
    VariantClear(&plain);
    if (SUCCEEDED(hr)) out.wReserved1 = 1;
    return hr;
}

void fillException(EXCEPINFO* excepInfo, HRESULT failure)
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
    if (!excepInfo) {
        if (info) info->Release();
        return;
    }
    *excepInfo = EXCEPINFO{};
    excepInfo->scode = failure;
    if (info) {
        // Each field is best effort: a missing text stays null.
        (void)info->GetSource(&excepInfo->bstrSource);
        (void)info->GetDescription(&excepInfo->bstrDescription);
        (void)info->GetHelpFile(&excepInfo->bstrHelpFile);
        (void)info->GetHelpContext(&excepInfo->dwHelpContext);
        info->Release();
    }
}

HRESULT StaticTypeInfo::Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    if (!instance || !params || (params->cArgs && !params->rgvarg) || params->cNamedArgs > params->cArgs
        || (params->cNamedArgs && !params->rgdispidNamedArgs))
        return E_INVALIDARG;
    const FunctionEntry* f = find(memid, flags & 0xF);
    if (!f || !f->invoke) return DISP_E_MEMBERNOTFOUND;
    const size_t formal = formalCount(*f);
    const UINT positional = params->cArgs - params->cNamedArgs;
    const bool put = (f->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;

    // Which caller argument (an rgvarg index) fills each parameter.
    std::vector<long> slot(formal, -1);
    UINT named = 0;
    if (put) {
        if (params->cNamedArgs == 0 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT || formal == 0)
            return DISP_E_PARAMNOTFOUND;
        slot[formal - 1] = 0;
        named = 1;
    }
    const size_t open = put ? formal - 1 : formal;
    if (positional > open) {
        if (f->invkind == INVOKE_PROPERTYGET && formal == 0) return DISP_E_NOTACOLLECTION;
        return DISP_E_BADPARAMCOUNT;
    }
    for (UINT k = 0; k < positional; ++k)
        slot[k] = static_cast<long>(params->cArgs - 1 - k);
    for (; named < params->cNamedArgs; ++named) {
        const DISPID id = params->rgdispidNamedArgs[named];
        if (id < 0 || static_cast<size_t>(id) >= open || slot[id] != -1) {
            if (argErr) *argErr = named;
            return DISP_E_PARAMNOTFOUND;
        }
        slot[id] = static_cast<long>(named);
    }

    std::vector<VARIANT> args(formal);
    VARIANT missing{};
    missing.vt = VT_ERROR;
    missing.scode = DISP_E_PARAMNOTFOUND;
    HRESULT hr = S_OK;
    size_t made = 0;
    for (; made < formal && SUCCEEDED(hr); ++made) {
        VariantInit(&args[made]);
        const ParamEntry& p = f->params[made];
        if (slot[made] < 0) {
            if (!(p.flags & PARAMFLAG_FOPT)) {
                bool trailing = true;
                for (size_t later = made; later < formal; ++later)
                    trailing = trailing && slot[later] < 0;
                hr = trailing ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
                break;
            }
            hr = coerce(p.type, missing, args[made]);
        } else {
            hr = coerce(p.type, params->rgvarg[slot[made]], args[made]);
        }
        if (FAILED(hr) && argErr) *argErr = static_cast<UINT>(slot[made] < 0 ? 0 : slot[made]);
    }

    VARIANT value{}; // zeroed: a method that fails may leave its out value unset
    if (SUCCEEDED(hr)) {
        const HRESULT called = f->invoke(instance, args.data(), &value);
        if (FAILED(called)) {
            fillException(excepInfo, called);
            hr = DISP_E_EXCEPTION;
            VariantClear(&value);
        } else if (result) {
            VariantClear(result);
            *result = value;
        } else {
            VariantClear(&value);
        }
    }
    for (size_t i = 0; i < made && i < formal; ++i)
        if (args[i].wReserved1 == 1) {
            args[i].wReserved1 = 0;
            VariantClear(&args[i]);
        }
    return hr;
}

class StaticTypeLib final : public ITypeLib {
public:
    explicit StaticTypeLib(const TypeLibraryEntry& entry)
        : entry_(entry)
    {
        for (size_t i = 0; i < entry.interfaceCount; ++i)
            infos_.push_back(std::make_unique<StaticTypeInfo>(*entry.interfaces[i], this, static_cast<UINT>(i)));
    }
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_ITypeLib)) return E_NOINTERFACE;
        *ppv = static_cast<ITypeLib*>(this);
        return S_OK;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    UINT GetTypeInfoCount() override { return static_cast<UINT>(infos_.size()); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = index < infos_.size() ? infos_[index].get() : nullptr;
        return *info ? S_OK : TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override
    {
        if (!kind) return E_POINTER;
        if (index >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = entry_.interfaces[index]->kind;
        return S_OK;
    }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override
    {
        if (!info) return E_POINTER;
        *info = nullptr;
        for (size_t i = 0; i < entry_.interfaceCount; ++i)
            if (IsEqualGUID(*entry_.interfaces[i]->iid, guid)) {
                *info = infos_[i].get();
                return S_OK;
            }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT GetLibAttr(TLIBATTR** attr) override
    {
        if (!attr) return E_POINTER;
        *attr = new (std::nothrow) TLIBATTR{*entry_.libid, 0, entry_.major, entry_.minor, 0};
        return *attr ? S_OK : E_OUTOFMEMORY;
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { delete attr; }
    HRESULT GetDocumentation(int32_t index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) override
    {
        if (index != -1) {
            if (index < 0 || static_cast<size_t>(index) >= infos_.size()) return TYPE_E_ELEMENTNOTFOUND;
            return infos_[index]->GetDocumentation(MEMBERID_NIL, name, doc, helpContext, helpFile);
        }
        if (doc) *doc = nullptr;
        if (helpFile) *helpFile = nullptr;
        if (helpContext) *helpContext = 0;
        if (name && !(*name = SysAllocString(entry_.name ? entry_.name : u""))) return E_OUTOFMEMORY;
        return S_OK;
    }
    const TypeLibraryEntry& entry() const { return entry_; }

private:
    const TypeLibraryEntry& entry_;
    std::vector<std::unique_ptr<StaticTypeInfo>> infos_;
};

struct Registry {
    std::mutex mutex;
    std::vector<StaticTypeLib*> libraries; // never freed: late callers may still hold them
};

Registry& registry()
{
    static Registry* r = new Registry;
    return *r;
}

} // namespace

void plat::com::registerTypeLibrary(const TypeLibraryEntry& library)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (StaticTypeLib* known : r.libraries)
        if (&known->entry() == &library) return;
    r.libraries.push_back(new StaticTypeLib(library));
}

HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID, ITypeLib** lib)
{
    if (!lib) return E_POINTER;
    *lib = nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (StaticTypeLib* known : r.libraries) {
        const TypeLibraryEntry& e = known->entry();
        if (IsEqualGUID(*e.libid, libid) && e.major == major && e.minor >= minor) {
            *lib = known;
            return S_OK;
        }
    }
    return TYPE_E_LIBNOTREGISTERED;
}

LCID GetUserDefaultLCID()
{
    return plat::userLanguage();
}
