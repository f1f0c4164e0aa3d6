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

ITypeInfo* firstInterface()
{
    registerTestTypeLibrary();
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestDispatch, 1, 1, 0, &lib), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(LoadRegTypeLib(LIBID_TestDispatch, 1, 0, GetUserDefaultLCID(), &lib), S_OK);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(IID_ITestOne, &info), S_OK);
    return info;
}

// Invoke with the platform's strictness; arguments are written last first.
// Only the failing method fills the exception information.
TEST(TypeInfo, InvokeIsStrict)
{
    LONG byRef = 21;
    VARIANT inner = testValue(VT_I4, 5);
    VARIANT doubles{};
    doubles.vt = VT_ARRAY | VT_R8;
    doubles.parray = testDoubles(1);
    VARIANT variants{};
    variants.vt = VT_ARRAY | VT_VARIANT;
    SAFEARRAYBOUND bound{2, 0};
    variants.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    const VARIANT none{};

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
        {"get", 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, {}, S_OK, testValue(VT_I4, 12)},
        {"put coerces", 0, DISPATCH_PROPERTYPUT, {testValue(VT_R8, 3)}, {DISPID_PROPERTYPUT}, S_OK, none},
        {"put without its named value", 0, DISPATCH_PROPERTYPUT, {testValue(VT_I4, 1)}, {}, DISP_E_PARAMNOTFOUND, none},
        {"optional left out", 1, DISPATCH_METHOD, {testValue(VT_R8, 2)}, {}, S_OK, testValue(VT_R8, 24)},
        {"named", 1, DISPATCH_METHOD, {testValue(VT_R8, 0.5), testValue(VT_R8, 2)}, {0, 1}, S_OK, testValue(VT_R8, 8)},
        {"required left out", 1, DISPATCH_METHOD, {}, {}, DISP_E_BADPARAMCOUNT, none},
        {"too many", 1, DISPATCH_METHOD, {none, none, none}, {}, DISP_E_BADPARAMCOUNT, none},
        {"unconvertible", 1, DISPATCH_METHOD, {testText(u"abc")}, {}, DISP_E_TYPEMISMATCH, none},
        {"by-ref exact", 3, DISPATCH_METHOD, {testRef(VT_I4, &byRef)}, {}, S_OK, none},
        {"by-ref VARIANT to long*", 3, DISPATCH_METHOD, {testRef(VT_VARIANT, &inner)}, {}, DISP_E_TYPEMISMATCH, none},
        {"array of its type", 4, DISPATCH_METHOD, {doubles}, {}, S_OK, testValue(VT_R8, 9)},
        {"array of another type", 4, DISPATCH_METHOD, {variants}, {}, DISP_E_TYPEMISMATCH, none},
        {"index on a plain property", 0, DISPATCH_PROPERTYGET, {testValue(VT_I4, 1)}, {}, DISP_E_NOTACOLLECTION, none},
        {"unknown member", 99, DISPATCH_METHOD, {}, {}, DISP_E_MEMBERNOTFOUND, none},
        {"get of a method", 2, DISPATCH_PROPERTYGET, {}, {}, DISP_E_MEMBERNOTFOUND, none},
        {"failing method", 2, DISPATCH_METHOD, {}, {}, DISP_E_EXCEPTION, none},
    };
    ITypeInfo* info = firstInterface();
    EXCEPINFO excep{};
    for (const Row& row : rows) {
        Plain plain;
        plain.value = 12;
        std::vector<VARIANT> args = row.args;
        std::vector<DISPID> named = row.named;
        DISPPARAMS params{args.data(), named.data(), static_cast<UINT>(args.size()), static_cast<UINT>(named.size())};
        VARIANT result{};
        UINT argErr = 99;
        EXPECT_EQ(info->Invoke(static_cast<ITestOne*>(&plain), row.id, row.flags, &params, &result, &excep, &argErr),
            row.hr)
            << row.what;
        EXPECT_EQ(result.vt, row.result.vt) << row.what;
        EXPECT_EQ(VarCmp(&result, const_cast<VARIANT*>(&row.result), 0, 0), VARCMP_EQ) << row.what;
        EXPECT_EQ(argErr, row.hr == DISP_E_TYPEMISMATCH ? 0u : 99u) << row.what;
        for (VARIANT& v : args)
            if (v.vt == VT_BSTR) VariantClear(&v);
    }
    EXPECT_EQ(byRef, 42);
    EXPECT_EQ(excep.scode, E_FAIL); // from the failing method's error object
    EXPECT_EQ(plat::com::wideFromBstr(excep.bstrDescription), L"it broke");
    for (BSTR text : {excep.bstrDescription, excep.bstrSource, excep.bstrHelpFile})
        SysFreeString(text);
    VariantClear(&doubles);
    VariantClear(&variants);
}

} // namespace
