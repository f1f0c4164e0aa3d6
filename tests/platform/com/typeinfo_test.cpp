#include "platform/com/typeinfo.h"

#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct NoBase { };

class Plain final : public TestMethods<NoBase> {
public:
    HRESULT QueryInterface(REFIID, void** ppv) override { return *ppv = nullptr, E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

VARIANT i4(LONG v)
{
    VARIANT x{};
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}
VARIANT r8(double v)
{
    VARIANT x{};
    x.vt = VT_R8;
    x.dblVal = v;
    return x;
}
VARIANT text(const char16_t* s)
{
    VARIANT x{};
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    return x;
}

ITypeInfo* typeOf(REFIID iid)
{
    registerTestTypeLibrary();
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestDispatch, 1, 0, GetUserDefaultLCID(), &lib), S_OK);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(iid, &info), S_OK);
    return info;
}

TEST(TypeInfo, LoadsOnlyARegisteredVersion)
{
    registerTestTypeLibrary();
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestDispatch, 2, 0, 0, &lib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestDispatch, 1, 1, 0, &lib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestDispatch, 1, 0, 0, &lib), S_OK);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(LIBID_TestDispatch, &info), TYPE_E_ELEMENTNOTFOUND);
}

TEST(TypeInfo, NamesToIds)
{
    struct Row {
        std::vector<const char16_t*> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    };
    const Row rows[] = {
        {{u"value"}, S_OK, {0}},
        {{u"SCALE", u"Offset", u"factor"}, S_OK, {1, 1, 0}},
        {{u"Scale", u"nothing"}, DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN}},
        {{u"Name"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}}, // in the other interface
    };
    ITypeInfo* info = typeOf(IID_ITestOne);
    for (const Row& row : rows) {
        std::vector<LPOLESTR> names;
        for (const char16_t* n : row.names)
            names.push_back(const_cast<LPOLESTR>(n));
        std::vector<DISPID> ids(names.size(), 99);
        EXPECT_EQ(info->GetIDsOfNames(names.data(), static_cast<UINT>(names.size()), ids.data()), row.hr);
        EXPECT_EQ(ids, row.ids);
    }
}

// Invoke with the platform's strictness; args are written last first.
TEST(TypeInfo, InvokeIsStrict)
{
    LONG byRef = 21;
    VARIANT byRefLong{};
    byRefLong.vt = VT_BYREF | VT_I4;
    byRefLong.plVal = &byRef;
    VARIANT inner = i4(5);
    VARIANT byRefVariant{};
    byRefVariant.vt = VT_BYREF | VT_VARIANT;
    byRefVariant.pvarVal = &inner;
    VARIANT doubles{};
    doubles.vt = VT_ARRAY | VT_R8;
    doubles.parray = testDoubles(1);
    VARIANT variants{};
    variants.vt = VT_ARRAY | VT_VARIANT;
    SAFEARRAYBOUND bound{2, 0};
    variants.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);

    struct Row {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        std::vector<DISPID> named;
        HRESULT hr;
        VARIANT result;
    };
    const Row rows[] = {
        {"get", 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, {}, S_OK, i4(12)},
        {"put coerces text", 0, DISPATCH_PROPERTYPUT, {text(u"12")}, {DISPID_PROPERTYPUT}, S_OK, {}},
        {"put without its named value", 0, DISPATCH_PROPERTYPUT, {i4(1)}, {}, DISP_E_PARAMNOTFOUND, {}},
        {"optional left out", 1, DISPATCH_METHOD, {r8(2)}, {}, S_OK, r8(24)},
        {"optional given", 1, DISPATCH_METHOD, {r8(0.5), i4(2)}, {}, S_OK, r8(24.5)},
        {"optional given by name", 1, DISPATCH_METHOD, {r8(0.5), r8(2)}, {0, 1}, S_OK, r8(8)},
        {"required left out", 1, DISPATCH_METHOD, {}, {}, DISP_E_BADPARAMCOUNT, {}},
        {"too many", 1, DISPATCH_METHOD, {i4(1), i4(1), i4(1)}, {}, DISP_E_BADPARAMCOUNT, {}},
        {"unconvertible", 1, DISPATCH_METHOD, {text(u"abc")}, {}, DISP_E_TYPEMISMATCH, {}},
        {"by-ref exact", 3, DISPATCH_METHOD, {byRefLong}, {}, S_OK, {}},
        {"by-ref VARIANT to long*", 3, DISPATCH_METHOD, {byRefVariant}, {}, DISP_E_TYPEMISMATCH, {}},
        {"array of its type", 4, DISPATCH_METHOD, {doubles}, {}, S_OK, r8(9)},
        {"array of another type", 4, DISPATCH_METHOD, {variants}, {}, DISP_E_TYPEMISMATCH, {}},
        {"index on a plain property", 0, DISPATCH_PROPERTYGET, {i4(1)}, {}, DISP_E_NOTACOLLECTION, {}},
        {"unknown member", 99, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, {}},
        {"get of a method", 2, DISPATCH_PROPERTYGET, {}, {}, DISP_E_MEMBERNOTFOUND, {}},
    };
    ITypeInfo* info = typeOf(IID_ITestOne);
    for (const Row& row : rows) {
        Plain plain;
        plain.value = 12;
        std::vector<VARIANT> args = row.args;
        std::vector<DISPID> named = row.named;
        DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
        VARIANT result{};
        UINT argErr = 99;
        EXPECT_EQ(info->Invoke(static_cast<ITestOne*>(&plain), row.id, row.flags, &params, &result, nullptr, &argErr),
            row.hr)
            << row.what;
        EXPECT_EQ(result.vt, row.result.vt) << row.what;
        if (result.vt == VT_I4) {
            EXPECT_EQ(result.lVal, row.result.lVal) << row.what;
        } else if (result.vt == VT_R8) {
            EXPECT_EQ(result.dblVal, row.result.dblVal) << row.what;
        }
        if (row.hr == DISP_E_TYPEMISMATCH) {
            EXPECT_EQ(argErr, 0u) << row.what;
        }
        for (VARIANT& v : args)
            if (v.vt == VT_BSTR) VariantClear(&v);
    }
    EXPECT_EQ(byRef, 42);
    VariantClear(&doubles);
    VariantClear(&variants);
}

TEST(TypeInfo, AFailingMethodReportsItsErrorObject)
{
    Plain plain;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXCEPINFO excep{};
    EXPECT_EQ(typeOf(IID_ITestOne)->Invoke(static_cast<ITestOne*>(&plain), 2, DISPATCH_METHOD, &none, nullptr, &excep,
                  nullptr),
        DISP_E_EXCEPTION);
    EXPECT_EQ(excep.scode, E_FAIL);
    EXPECT_EQ(plat::com::wideFromBstr(excep.bstrDescription), L"it broke");
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrHelpFile);
}

TEST(TypeInfo, DescribesItsFunctions)
{
    ITypeInfo* info = typeOf(IID_ITestTwo);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, 2);
    info->ReleaseTypeAttr(attr);
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetFuncDesc(1, &desc), S_OK);
    EXPECT_EQ(desc->memid, 21);
    ASSERT_EQ(desc->cParams, 2);
    EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.vt, VT_PTR);
    EXPECT_EQ(desc->lprgelemdescParam[0].tdesc.lptdesc->vt, VT_USERDEFINED);
    EXPECT_EQ(desc->lprgelemdescParam[1].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    info->ReleaseFuncDesc(desc);
    BSTR names[3] = {};
    UINT count = 0;
    ASSERT_EQ(info->GetNames(21, names, 3, &count), S_OK);
    ASSERT_EQ(count, 2u); // the return value has no name of its own
    EXPECT_EQ(plat::com::wideFromBstr(names[1]), L"target");
    for (BSTR n : names)
        SysFreeString(n);
}

} // namespace
