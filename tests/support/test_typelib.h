// A small type library for dispatch tests: two dual interfaces described by
// tables, and their methods as a mixin over whatever supplies IUnknown and
// IDispatch. registerTestTypeLibrary() makes it loadable.
#pragma once
#include "platform/com/bstr.h"
#include "platform/com/errorinfo.h"
#include "platform/com/safearray.h"
#include "platform/com/typeinfo.h"

#include <iterator>

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
    double* d = nullptr;
    if (FAILED(SafeArrayAccessData(a, reinterpret_cast<void**>(&d)))) return a;
    for (UINT i = 0; i < (dims == 1 ? 3u : 6u); ++i)
        d[i] = 1.5 * (i + 1);
    (void)SafeArrayUnaccessData(a); // accessed just above
    return a;
}

template <class Base> class TestMethods : public Base, public ITestOne, public ITestTwo {
public:
    LONG value = 7;

    HRESULT get_Value(LONG* v) override { return *v = value, S_OK; }
    HRESULT put_Value(LONG v) override { return value = v, S_OK; }
    HRESULT Scale(double factor, VARIANT offset, double* result) override
    {
        *result = factor * value + (offset.vt == VT_R8 ? offset.dblVal : 0.0);
        return S_OK;
    }
    HRESULT Fail() override
    {
        ICreateErrorInfo* create = nullptr;
        if (SUCCEEDED(CreateErrorInfo(&create))) {
            create->SetDescription(const_cast<LPOLESTR>(u"it broke"));
            IErrorInfo* info = nullptr;
            create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
            SetErrorInfo(0, info);
            info->Release();
            create->Release();
        }
        return E_FAIL;
    }
    HRESULT Twice(LONG* v) override { return *v *= 2, S_OK; }
    HRESULT Sum(SAFEARRAY* values, double* result) override
    {
        double* d = nullptr;
        LONG upper = 0;
        SafeArrayGetUBound(values, 1, &upper);
        if (FAILED(SafeArrayAccessData(values, reinterpret_cast<void**>(&d)))) return E_FAIL;
        *result = 0;
        for (LONG i = 0; i <= upper; ++i)
            *result += d[i];
        return SafeArrayUnaccessData(values);
    }
    HRESULT get_Items(SAFEARRAY** items) override { return *items = testDoubles(1), S_OK; }
    HRESULT get_Grid(SAFEARRAY** grid) override { return *grid = testDoubles(2), S_OK; }
    HRESULT Fill(SAFEARRAY** out) override { return *out = testDoubles(1), S_OK; }
    HRESULT get_Name(BSTR* name) override { return *name = SysAllocString(u"two"), S_OK; }
    HRESULT Attach(IDispatch* target, LONG* attached) override { return *attached = target ? 1 : 0, S_OK; }
};

namespace test_typelib {
using plat::com::FunctionEntry;
using plat::com::InterfaceEntry;
using plat::com::ParamEntry;

inline ITestOne* one(void* p)
{
    return static_cast<ITestOne*>(p);
}
inline ITestTwo* two(void* p)
{
    return static_cast<ITestTwo*>(p);
}

inline const ParamEntry kLong[] = {{u"value", {VT_I4}, PARAMFLAG_FIN}};
inline const ParamEntry kLongOut[] = {{u"value", {VT_PTR, VT_I4}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline const ParamEntry kScale[] = {{u"factor", {VT_R8}, PARAMFLAG_FIN},
    {u"offset", {VT_VARIANT}, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {u"result", {VT_PTR, VT_R8}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline const ParamEntry kTwice[] = {{u"value", {VT_PTR, VT_I4}, PARAMFLAG_FIN | PARAMFLAG_FOUT}};
inline const ParamEntry kSum[] = {{u"values", {VT_SAFEARRAY, VT_R8}, PARAMFLAG_FIN},
    {u"result", {VT_PTR, VT_R8}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline const ParamEntry kArrayOut[] = {
    {u"items", {VT_PTR, VT_SAFEARRAY, VT_R8}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline const ParamEntry kFill[] = {{u"out", {VT_PTR, VT_SAFEARRAY, VT_R8}, PARAMFLAG_FOUT}};
inline const ParamEntry kName[] = {{u"name", {VT_PTR, VT_BSTR}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
inline const ParamEntry kAttach[] = {{u"target", {VT_PTR, VT_USERDEFINED}, PARAMFLAG_FIN | PARAMFLAG_FOPT},
    {u"attached", {VT_PTR, VT_I4}, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};

inline HRESULT arrayResult(HRESULT hr, SAFEARRAY* a, VARIANT* r)
{
    r->vt = VT_ARRAY | VT_R8;
    r->parray = a;
    return hr;
}

inline const FunctionEntry kOne[] = {
    {u"Value", 0, INVOKE_PROPERTYGET, kLongOut, 1, [](void* i, VARIANT*, VARIANT* r) {
         r->vt = VT_I4;
         return one(i)->get_Value(&r->lVal);
     }},
    {u"Value", 0, INVOKE_PROPERTYPUT, kLong, 1, [](void* i, VARIANT* a, VARIANT*) { return one(i)->put_Value(a[0].lVal); }},
    {u"Scale", 1, INVOKE_FUNC, kScale, 3, [](void* i, VARIANT* a, VARIANT* r) {
         r->vt = VT_R8;
         return one(i)->Scale(a[0].dblVal, a[1], &r->dblVal);
     }},
    {u"Fail", 2, INVOKE_FUNC, nullptr, 0, [](void* i, VARIANT*, VARIANT*) { return one(i)->Fail(); }},
    {u"Twice", 3, INVOKE_FUNC, kTwice, 1, [](void* i, VARIANT* a, VARIANT*) { return one(i)->Twice(a[0].plVal); }},
    {u"Sum", 4, INVOKE_FUNC, kSum, 2, [](void* i, VARIANT* a, VARIANT* r) {
         r->vt = VT_R8;
         return one(i)->Sum(a[0].parray, &r->dblVal);
     }},
    {u"Items", 5, INVOKE_PROPERTYGET, kArrayOut, 1, [](void* i, VARIANT*, VARIANT* r) {
         SAFEARRAY* a = nullptr;
         const HRESULT hr = one(i)->get_Items(&a);
         return arrayResult(hr, a, r);
     }},
    {u"Grid", 6, INVOKE_PROPERTYGET, kArrayOut, 1, [](void* i, VARIANT*, VARIANT* r) {
         SAFEARRAY* a = nullptr;
         const HRESULT hr = one(i)->get_Grid(&a);
         return arrayResult(hr, a, r);
     }},
    {u"Fill", 7, INVOKE_FUNC, kFill, 1, [](void* i, VARIANT* a, VARIANT*) { return one(i)->Fill(a[0].pparray); }},
};

inline const FunctionEntry kTwo[] = {
    {u"Name", 20, INVOKE_PROPERTYGET, kName, 1, [](void* i, VARIANT*, VARIANT* r) {
         r->vt = VT_BSTR;
         return two(i)->get_Name(&r->bstrVal);
     }},
    {u"Attach", 21, INVOKE_FUNC, kAttach, 2, [](void* i, VARIANT* a, VARIANT* r) {
         r->vt = VT_I4;
         return two(i)->Attach(a[0].pdispVal, &r->lVal);
     }},
};

inline const InterfaceEntry kOneEntry = {&IID_ITestOne, u"ITestOne", kOne, std::size(kOne)};
inline const InterfaceEntry kTwoEntry = {&IID_ITestTwo, u"ITestTwo", kTwo, std::size(kTwo)};
inline const InterfaceEntry* const kInterfaces[] = {&kOneEntry, &kTwoEntry};
inline const plat::com::TypeLibraryEntry kLibrary = {&LIBID_TestDispatch, 1, 0, kInterfaces, 2};
} // namespace test_typelib

inline void registerTestTypeLibrary()
{
    plat::com::registerTypeLibrary(test_typelib::kLibrary);
}
