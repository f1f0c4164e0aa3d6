// A small type library for dispatch tests: two dual interfaces described by
// tables, and their methods as a mixin over whatever supplies IUnknown and
// IDispatch. registerTestTypeLibrary() makes it loadable.
#pragma once
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/safearray.h"
#include "platform/com/typeinfo.h"

#include <iterator>
#include <map>
#include <vector>

inline const GUID LIBID_TestDispatch = {0x5C0E7A10, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
inline const IID IID_ITestOne = {0x5C0E7A11, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
inline const IID IID_ITestTwo = {0x5C0E7A12, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};

struct ITestOne : IDispatch {
    virtual HRESULT get_Value(LONG* value) = 0;
    virtual HRESULT put_Value(LONG value) = 0;
    virtual HRESULT Scale(double factor, VARIANT offset, double* result) = 0;
    virtual HRESULT Fail() = 0;
    virtual HRESULT Twice(LONG* value) = 0;
    virtual HRESULT Sum(SAFEARRAY* values, double* result) = 0;
    virtual HRESULT get_Items(SAFEARRAY** items) = 0;
    virtual HRESULT get_Grid(SAFEARRAY** grid) = 0;
    virtual HRESULT Fill(SAFEARRAY** out) = 0;
};

struct ITestTwo : IDispatch {
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT Attach(IDispatch* target, LONG* attached) = 0;
};

inline SAFEARRAY* testDoubles(UINT dims)
{
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};
    SAFEARRAY* a = SafeArrayCreate(VT_R8, dims, bounds);
    for (UINT i = 0; i < (dims == 1 ? 3u : 6u); ++i)
        static_cast<double*>(a->pvData)[i] = 1.5 * (i + 1);
    return a;
}

template <class Base> class TestMethods : public Base, public ITestOne, public ITestTwo {
public:
    LONG value = 7;

    HRESULT get_Value(LONG* v) override { return *v = value, S_OK; }
    HRESULT put_Value(LONG v) override { return value = v, S_OK; }
    HRESULT Scale(double factor, VARIANT offset, double* result) override
    {
        return *result = factor * value + (offset.vt == VT_R8 ? offset.dblVal : 0.0), S_OK;
    }
    HRESULT Fail() override
    {
        ICreateErrorInfo* create = nullptr;
        CreateErrorInfo(&create);
        create->SetDescription(const_cast<LPOLESTR>(u"it broke"));
        IErrorInfo* info = nullptr;
        create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
        SetErrorInfo(0, info);
        info->Release();
        create->Release();
        return E_FAIL;
    }
    HRESULT Twice(LONG* v) override { return *v *= 2, S_OK; }
    HRESULT Sum(SAFEARRAY* values, double* result) override
    {
        *result = 0;
        for (LONG i = 0; i < static_cast<LONG>(values->rgsabound[0].cElements); ++i)
            *result += static_cast<double*>(values->pvData)[i];
        return S_OK;
    }
    HRESULT get_Items(SAFEARRAY** items) override { return *items = testDoubles(1), S_OK; }
    HRESULT get_Grid(SAFEARRAY** grid) override { return *grid = testDoubles(2), S_OK; }
    HRESULT Fill(SAFEARRAY** out) override { return *out = testDoubles(1), S_OK; }
    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(u"two"), S_OK; }
    HRESULT Attach(IDispatch* target, LONG* attached) override { return *attached = target ? 1 : 0, S_OK; }
};

// A number as a VARIANT of type vt, a reference, and a text.
inline VARIANT testValue(VARTYPE vt, double v)
{
    VARIANT x{};
    x.vt = VT_R8;
    x.dblVal = v;
    (void)VariantChangeType(&x, &x, 0, vt); // the tests ask only for conversions that exist
    return x;
}
inline VARIANT testRef(VARTYPE vt, void* target)
{
    VARIANT x{};
    x.vt = VT_BYREF | vt;
    x.byref = target;
    return x;
}
inline VARIANT testText(const char16_t* s)
{
    VARIANT x{};
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    return x;
}

namespace test_typelib {
using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;

inline ITestOne* one(void* p) { return static_cast<ITestOne*>(p); }
inline ITestTwo* two(void* p) { return static_cast<ITestTwo*>(p); }

// clang-format off
constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT, kRet = PARAMFLAG_FOUT | PARAMFLAG_FRETVAL;
inline const ParamEntry kLong[] = {{u"value", {VT_I4}, kIn}};
inline const ParamEntry kLongOut[] = {{u"value", {VT_PTR, VT_I4}, kRet}};
inline const ParamEntry kScale[] = {{u"factor", {VT_R8}, kIn}, {u"offset", {VT_VARIANT}, kIn | PARAMFLAG_FOPT}, {u"result", {VT_PTR, VT_R8}, kRet}};
inline const ParamEntry kTwice[] = {{u"value", {VT_PTR, VT_I4}, kIn | kOut}};
inline const ParamEntry kSum[] = {{u"values", {VT_SAFEARRAY, VT_R8}, kIn}, {u"result", {VT_PTR, VT_R8}, kRet}};
inline const ParamEntry kArrayOut[] = {{u"items", {VT_PTR, VT_SAFEARRAY, VT_R8}, kRet}};
inline const ParamEntry kFill[] = {{u"out", {VT_PTR, VT_SAFEARRAY, VT_R8}, kOut}};
inline const ParamEntry kName[] = {{u"name", {VT_PTR, VT_BSTR}, kRet}};
inline const ParamEntry kAttach[] = {{u"target", {VT_PTR, VT_USERDEFINED}, kIn | PARAMFLAG_FOPT}, {u"attached", {VT_PTR, VT_I4}, kRet}};
// clang-format on

template <HRESULT (ITestOne::*Get)(SAFEARRAY**)> HRESULT arrayGet(void* i, VARIANT*, VARIANT* r)
{
    r->vt = VT_ARRAY | VT_R8;
    return (one(i)->*Get)(&r->parray);
}

// clang-format off
inline const FunctionEntry kOne[] = {
    {u"Value", 0, INVOKE_PROPERTYGET, kLongOut, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_I4; return one(i)->get_Value(&r->lVal); }},
    {u"Value", 0, INVOKE_PROPERTYPUT, kLong, 1, [](void* i, VARIANT* a, VARIANT*) { return one(i)->put_Value(a[0].lVal); }},
    {u"Scale", 1, INVOKE_FUNC, kScale, 3, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_R8; return one(i)->Scale(a[0].dblVal, a[1], &r->dblVal); }},
    {u"Fail", 2, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return one(i)->Fail(); }},
    {u"Twice", 3, INVOKE_FUNC, kTwice, 1, [](void* i, VARIANT* a, VARIANT*) { return one(i)->Twice(a[0].plVal); }},
    {u"Sum", 4, INVOKE_FUNC, kSum, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_R8; return one(i)->Sum(a[0].parray, &r->dblVal); }},
    {u"Items", 5, INVOKE_PROPERTYGET, kArrayOut, 1, &arrayGet<&ITestOne::get_Items>},
    {u"Grid", 6, INVOKE_PROPERTYGET, kArrayOut, 1, &arrayGet<&ITestOne::get_Grid>},
    {u"Fill", 7, INVOKE_FUNC, kFill, 1, [](void* i, VARIANT* a, VARIANT*) { return one(i)->Fill(a[0].pparray); }},
};
inline const FunctionEntry kTwo[] = {
    {u"Name", 20, INVOKE_PROPERTYGET, kName, 1, [](void* i, VARIANT*, VARIANT* r) { r->vt = VT_BSTR; return two(i)->get_Name(&r->bstrVal); }},
    {u"Attach", 21, INVOKE_FUNC, kAttach, 2, [](void* i, VARIANT* a, VARIANT* r) { r->vt = VT_I4; return two(i)->Attach(a[0].pdispVal, &r->lVal); }},
};
// clang-format on

inline const InterfaceEntry kOneEntry = {&IID_ITestOne, u"ITestOne", kOne, std::size(kOne)};
inline const InterfaceEntry kTwoEntry = {&IID_ITestTwo, u"ITestTwo", kTwo, std::size(kTwo)};
inline const InterfaceEntry* const kInterfaces[] = {&kOneEntry, &kTwoEntry};
inline const plat::com::TypeLibraryEntry kLibrary = {&LIBID_TestDispatch, 1, 0, kInterfaces, 2};
} // namespace test_typelib

inline void registerTestTypeLibrary()
{
    plat::com::registerTypeLibrary(test_typelib::kLibrary);
}

// Member ids that more than one interface of the list defines; the merged
// IDispatch needs none.
inline std::vector<MEMBERID> sharedMemberIds(const plat::com::InterfaceEntry* const* interfaces, size_t count)
{
    std::map<MEMBERID, const plat::com::InterfaceEntry*> owner;
    std::vector<MEMBERID> shared;
    for (size_t i = 0; i < count; ++i)
        for (size_t f = 0; f < interfaces[i]->functionCount; ++f) {
            const MEMBERID id = interfaces[i]->functions[f].memid;
            if (owner.emplace(id, interfaces[i]).first->second != interfaces[i]) shared.push_back(id);
        }
    return shared;
}
