#include "platform/com/typeinfo.h"

#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <string>
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

// Invoke with the platform's strictness; arguments are written last first
// and argErr names the offending rgvarg entry. Only the failing method fills
// the exception information.
TEST(TypeInfo, InvokeIsStrict)
{
    LONG byRef = 21;
    VARIANT inner = testValue(VT_I4, 5);
    VARIANT doubles{}, variants{};
    doubles.vt = VT_ARRAY | VT_R8, doubles.parray = testDoubles(1);
    SAFEARRAYBOUND bound{2, 0};
    variants.vt = VT_ARRAY | VT_VARIANT, variants.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    const VARIANT none{}, two = testValue(VT_R8, 2), half = testValue(VT_R8, 0.5), eight = testValue(VT_R8, 8);

    struct Row {
        const char* what;
        DISPID id;
        WORD flags;
        std::vector<VARIANT> args;
        std::vector<DISPID> named;
        HRESULT hr;
        VARIANT result;
        UINT argErr = 99;
    };
    const Row rows[] = {
        {"get", 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, {}, {}, S_OK, testValue(VT_I4, 12)},
        {"put coerces", 0, DISPATCH_PROPERTYPUT, {testValue(VT_R8, 3)}, {DISPID_PROPERTYPUT}, S_OK, none},
        {"put without its named value", 0, DISPATCH_PROPERTYPUT, {testValue(VT_I4, 1)}, {}, DISP_E_PARAMNOTFOUND, none},
        {"optional left out", 1, DISPATCH_METHOD, {testValue(VT_R8, 2)}, {}, S_OK, testValue(VT_R8, 24)},
        {"named", 1, DISPATCH_METHOD, {half, two}, {0, 1}, S_OK, eight},
        {"named in any order", 1, DISPATCH_METHOD, {two, half}, {1, 0}, S_OK, eight},
        {"named return value", 1, DISPATCH_METHOD, {half, two}, {2}, DISP_E_PARAMNOTFOUND, none, 0},
        {"named past the parameters", 1, DISPATCH_METHOD, {half, two}, {3}, DISP_E_PARAMNOTFOUND, none, 0},
        {"named negative", 1, DISPATCH_METHOD, {half}, {-5}, DISP_E_PARAMNOTFOUND, none, 0},
        {"named twice", 1, DISPATCH_METHOD, {half, two}, {1, 1}, DISP_E_PARAMNOTFOUND, none, 1},
        {"named over a positional", 1, DISPATCH_METHOD, {half, two}, {0}, DISP_E_PARAMNOTFOUND, none, 0},
        {"a required one left out before a named one", 1, DISPATCH_METHOD, {half}, {1}, DISP_E_PARAMNOTOPTIONAL, none},
        {"required left out", 1, DISPATCH_METHOD, {}, {}, DISP_E_BADPARAMCOUNT, none},
        {"too many", 1, DISPATCH_METHOD, {none, none, none}, {}, DISP_E_BADPARAMCOUNT, none},
        {"unconvertible", 1, DISPATCH_METHOD, {testText(u"abc")}, {}, DISP_E_TYPEMISMATCH, none, 0},
        {"by-ref exact", 3, DISPATCH_METHOD, {testRef(VT_I4, &byRef)}, {}, S_OK, none},
        {"by-ref VARIANT as long*", 3, DISPATCH_METHOD, {testRef(VT_VARIANT, &inner)}, {}, DISP_E_TYPEMISMATCH, none, 0},
        {"array of its type", 4, DISPATCH_METHOD, {doubles}, {}, S_OK, testValue(VT_R8, 9)},
        {"array of another type", 4, DISPATCH_METHOD, {variants}, {}, DISP_E_TYPEMISMATCH, none, 0},
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
        EXPECT_EQ(argErr, row.argErr) << row.what;
        for (VARIANT& v : args)
            if (v.vt == VT_BSTR) VariantClear(&v);
    }
    EXPECT_EQ(byRef, 42);
    EXPECT_EQ(excep.scode, E_FAIL); // from the failing method's error object
    // Without EXCEPINFO the failure is told all the same, and its error object not left behind.
    Plain plain;
    DISPPARAMS noArgs{nullptr, nullptr, 0, 0};
    EXPECT_EQ(info->Invoke(static_cast<ITestOne*>(&plain), 2, DISPATCH_METHOD, &noArgs, nullptr, nullptr, nullptr),
        DISP_E_EXCEPTION);
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
    EXPECT_EQ(plat::com::wideFromBstr(excep.bstrDescription), L"it broke");
    for (BSTR text : {excep.bstrDescription, excep.bstrSource, excep.bstrHelpFile})
        SysFreeString(text);
    VariantClear(&doubles);
    VariantClear(&variants);
}

// Malformed parameter blocks and a missing object are refused before any call.
TEST(TypeInfo, InvokeRefusesMalformedParameters)
{
    ITypeInfo* info = firstInterface();
    Plain plain;
    VARIANT arg = testValue(VT_I4, 1);
    DISPID put = DISPID_PROPERTYPUT;
    const struct { const char* what; ITestOne* object; WORD flags; DISPPARAMS params; bool none; } bad[] = {
        {"arguments without their array", &plain, DISPATCH_PROPERTYPUT, {nullptr, nullptr, 1, 0}, false},
        {"more named than arguments", &plain, DISPATCH_PROPERTYPUT, {&arg, &put, 0, 1}, false},
        {"named without their ids", &plain, DISPATCH_PROPERTYPUT, {&arg, nullptr, 1, 1}, false},
        {"no object", nullptr, DISPATCH_PROPERTYGET, {nullptr, nullptr, 0, 0}, false},
        {"no parameter block", &plain, DISPATCH_PROPERTYGET, {}, true},
    };
    for (const auto& b : bad) {
        DISPPARAMS params = b.params;
        const HRESULT hr = info->Invoke(b.object, 0, b.flags, b.none ? nullptr : &params, nullptr, nullptr, nullptr);
        EXPECT_EQ(hr, E_INVALIDARG) << b.what;
    }
    EXPECT_EQ(plain.value, 7); // nothing was called
}

TEST(TypeInfo, NamesIdsAndDescriptionsAnswerFromTheTables)
{
    ITypeInfo* info = firstInterface();
    const struct { std::vector<const char16_t*> names; HRESULT hr; std::vector<MEMBERID> ids; } lookups[] = {
        {{u"sCALE", u"OFFSET", u"factor"}, S_OK, {1, 1, 0}},
        {{u"Scale", u"result", u"factor"}, DISP_E_UNKNOWNNAME, {1, DISPID_UNKNOWN, 0}}, // the return value has no id
        {{u"Scal"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
        {{u"Value", u"value"}, S_OK, {0, 0}}, // the put's value
        {{}, S_OK, {}},
    };
    for (const auto& l : lookups) {
        std::vector<LPOLESTR> names;
        for (const char16_t* n : l.names) names.push_back(const_cast<LPOLESTR>(n));
        std::vector<MEMBERID> ids(names.size(), 12345);
        EXPECT_EQ(info->GetIDsOfNames(names.data(), UINT(names.size()), ids.data()), l.hr);
        EXPECT_EQ(ids, l.ids);
    }

    MEMBERID id = 0;
    UINT count = 0;
    EXPECT_EQ(info->GetIDsOfNames(nullptr, 1, &id), E_POINTER);
    EXPECT_EQ(info->GetNames(1, nullptr, 1, &count), E_POINTER);

    const struct { MEMBERID id; UINT most; HRESULT hr; std::vector<std::wstring> names; } namings[] = {
        {1, 10, S_OK, {L"Scale", L"factor", L"offset"}}, {1, 2, S_OK, {L"Scale", L"factor"}},
        {0, 10, S_OK, {L"Value"}}, {99, 10, TYPE_E_ELEMENTNOTFOUND, {}},
    };
    for (const auto& n : namings) {
        BSTR names[10] = {};
        UINT count = 77;
        EXPECT_EQ(info->GetNames(n.id, names, n.most, &count), n.hr) << n.id;
        std::vector<std::wstring> got;
        for (UINT i = 0; i < count && i < 10; ++i) {
            got.push_back(plat::com::wideFromBstr(names[i]));
            SysFreeString(names[i]);
        }
        EXPECT_EQ(got, n.names) << n.id;
    }

    FUNCDESC* desc = nullptr;
    ASSERT_EQ(info->GetFuncDesc(2, &desc), S_OK); // Scale
    EXPECT_EQ(desc->cParams, 3);
    EXPECT_EQ(desc->cParamsOpt, 1);
    EXPECT_EQ(desc->lprgelemdescParam[2].tdesc.vt, VT_PTR);
    EXPECT_EQ(desc->lprgelemdescParam[2].paramdesc.wParamFlags, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    info->ReleaseFuncDesc(desc);
    EXPECT_EQ(info->GetFuncDesc(9, &desc), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(desc, nullptr);

    ITypeComp* comp = nullptr;
    ASSERT_EQ(info->GetTypeComp(&comp), S_OK);
    const struct { const char16_t* name; WORD kinds; DESCKIND kind; MEMBERID id; INVOKEKIND invkind; } binds[] = {
        {u"twice", 0, DESCKIND_FUNCDESC, 3, INVOKE_FUNC},
        {u"Value", INVOKE_PROPERTYPUT, DESCKIND_FUNCDESC, 0, INVOKE_PROPERTYPUT},
        {u"Fail", INVOKE_PROPERTYGET, DESCKIND_NONE, 0, INVOKE_FUNC},
        {u"Nothing", 0, DESCKIND_NONE, 0, INVOKE_FUNC},
    };
    for (const auto& b : binds) {
        ITypeInfo* bound = nullptr;
        DESCKIND kind = DESCKIND_FUNCDESC;
        BINDPTR ptr{};
        EXPECT_EQ(comp->Bind(const_cast<LPOLESTR>(b.name), 0, b.kinds, &bound, &kind, &ptr), S_OK);
        EXPECT_EQ(kind, b.kind);
        if (b.kind != DESCKIND_FUNCDESC) {
            EXPECT_EQ(bound, nullptr);
            continue;
        }
        EXPECT_EQ(bound, info);
        EXPECT_EQ(ptr.lpfuncdesc->memid, b.id);
        EXPECT_EQ(ptr.lpfuncdesc->invkind, b.invkind);
        info->ReleaseFuncDesc(ptr.lpfuncdesc);
    }
    comp->Release();
}

// The library, each type and its binder answer their own interfaces and
// IUnknown, and no other; documentation names the library, its types and
// their members.
TEST(TypeInfo, EachPieceAnswersItsInterfacesAndItsNames)
{
    ITypeInfo* info = firstInterface();
    ITypeLib* lib = nullptr;
    UINT index = 99;
    ASSERT_EQ(info->GetContainingTypeLib(&lib, &index), S_OK);
    EXPECT_EQ(index, 0u);
    ITypeComp* comp = nullptr;
    ASSERT_EQ(info->GetTypeComp(&comp), S_OK);
    const struct { const char* what; IUnknown* piece; IID iid; IUnknown* answer; } asks[] = {
        {"type", info, IID_ITypeInfo, info}, {"type as unknown", info, IID_IUnknown, info},
        {"type's binder", info, IID_ITypeComp, comp}, {"type as library", info, IID_ITypeLib, nullptr},
        {"binder", comp, IID_ITypeComp, comp}, {"binder as unknown", comp, IID_IUnknown, comp},
        {"binder as type", comp, IID_ITypeInfo, nullptr}, {"library", lib, IID_ITypeLib, lib},
        {"library as unknown", lib, IID_IUnknown, lib}, {"library as type", lib, IID_ITypeInfo, nullptr},
    };
    for (const auto& a : asks) {
        void* got = info;
        EXPECT_EQ(a.piece->QueryInterface(a.iid, &got), a.answer ? S_OK : E_NOINTERFACE) << a.what;
        EXPECT_EQ(got, a.answer) << a.what;
        if (got) static_cast<IUnknown*>(got)->Release();
        EXPECT_EQ(a.piece->QueryInterface(a.iid, nullptr), E_POINTER) << a.what;
    }
    comp->Release();
    ITypeInfo* none = info;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(LIBID_TestDispatch, &none), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(none, nullptr);

    const struct { ITypeInfo* type; int32_t index; HRESULT hr; std::wstring name; } docs[] = {
        {nullptr, -1, S_OK, L""}, {nullptr, 1, S_OK, L"ITestTwo"}, {nullptr, 2, TYPE_E_ELEMENTNOTFOUND, L""},
        {nullptr, -2, TYPE_E_ELEMENTNOTFOUND, L""}, {info, MEMBERID_NIL, S_OK, L"ITestOne"}, {info, 1, S_OK, L"Scale"},
        {info, 99, TYPE_E_ELEMENTNOTFOUND, L""},
    };
    for (const auto& d : docs) {
        BSTR name = nullptr;
        const HRESULT hr = d.type ? d.type->GetDocumentation(d.index, &name, nullptr, nullptr, nullptr)
                                  : lib->GetDocumentation(d.index, &name, nullptr, nullptr, nullptr);
        EXPECT_EQ(hr, d.hr) << d.index;
        EXPECT_EQ(plat::com::wideFromBstr(name), d.name) << d.index;
        SysFreeString(name);
    }
    lib->Release();
}

} // namespace
