#include "comframe/dispatch.h"

#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace {

const IID kUnanswered = {0x5C0E7A1F, 0x4B21, 0x4F63, {0x9A, 0x0D, 0x61, 0x2E, 0x33, 0x8C, 0x70, 0x01}};
const IID kMerged[] = {kUnanswered, IID_ITestOne, IID_ITestTwo, GUID_NULL};

class Merged : public ccDynamicDispatchImpl<Merged, TestMethods<CComObjectRootEx<CComMultiThreadModel>>, kMerged,
                   &LIBID_TestDispatch, 1, 0> {
public:
    BEGIN_COM_MAP(Merged)
    COM_INTERFACE_ENTRY2(IDispatch, ITestOne)
    COM_INTERFACE_ENTRY(ITestOne)
    COM_INTERFACE_ENTRY(ITestTwo)
    END_COM_MAP()
};

IDispatch* makeMerged()
{
    registerTestTypeLibrary();
    IDispatch* d = nullptr;
    EXPECT_EQ(plat::com::createInstance<Merged>(nullptr, IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    return d;
}

DISPID idOf(IDispatch* d, const char16_t* name)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << "name";
    return id;
}

VARIANT value(VARTYPE vt, double v)
{
    VARIANT x{};
    x.vt = VT_R8;
    x.dblVal = v;
    EXPECT_EQ(VariantChangeType(&x, &x, 0, vt), S_OK);
    return x;
}

VARIANT text(const char16_t* s)
{
    VARIANT x{};
    x.vt = VT_BSTR;
    x.bstrVal = SysAllocString(s);
    return x;
}

// An array of VARIANT holding the given values (taken over).
VARIANT variantArray(std::vector<VARIANT> items)
{
    SAFEARRAYBOUND bound{static_cast<ULONG>(items.size()), 0};
    VARIANT x{};
    x.vt = VT_ARRAY | VT_VARIANT;
    x.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    VARIANT* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(x.parray, reinterpret_cast<void**>(&data)), S_OK);
    std::copy(items.begin(), items.end(), data);
    EXPECT_EQ(SafeArrayUnaccessData(x.parray), S_OK);
    return x;
}

TEST(DynamicDispatch, InvokeRepairsWhatScriptsGetWrong)
{
    struct Row {
        const char* what;
        const char16_t* member;
        WORD flags;
        std::vector<VARIANT> args; // last first; a VT_EMPTY arg is passed as a by-ref VARIANT to `inout`
        VARIANT inout;
        bool wantResult;
        HRESULT hr;
        VARTYPE resultVt;
        double result;
        VARTYPE inoutVt;
    };
    const VARIANT none{};
    const VARIANT byRef{};
    const Row rows[] = {
        {"member of the first interface", u"Value", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_I4, 7, 0},
        {"member of the second interface", u"Name", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_BSTR, 0, 0},
        {"left-out optional object", u"Attach", DISPATCH_METHOD, {}, none, true, S_OK, VT_I4, 0, 0},
        {"left-out required argument", u"Scale", DISPATCH_METHOD, {}, none, true, DISP_E_BADPARAMCOUNT, 0, 0, 0},
        {"by-ref VARIANT to long*", u"Twice", DISPATCH_METHOD, {byRef}, value(VT_I4, 21), true, S_OK, 0, 0, VT_I4},
        {"by-ref VARIANT to an out array", u"Fill", DISPATCH_METHOD, {byRef}, none, true, S_OK, 0, 0,
            VT_ARRAY | VT_VARIANT},
        {"VARIANT array to double[]", u"Sum", DISPATCH_METHOD,
            {variantArray({value(VT_I4, 1), text(u"2"), value(VT_R8, 3.5)})}, none, true, S_OK, VT_R8, 6.5, 0},
        {"unconvertible element", u"Sum", DISPATCH_METHOD, {variantArray({value(VT_I4, 1), text(u"x")})}, none, true,
            DISP_E_TYPEMISMATCH, 0, 0, 0},
        {"one-dimensional result", u"Items", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_ARRAY | VT_VARIANT, 0, 0},
        {"two-dimensional result", u"Grid", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_ARRAY | VT_R8, 0, 0},
        {"indexed get", u"Items", DISPATCH_PROPERTYGET, {value(VT_I2, 1)}, none, true, S_OK, VT_R8, 3, 0},
        {"index out of range", u"Items", DISPATCH_PROPERTYGET, {value(VT_I2, 9)}, none, true, DISP_E_BADINDEX, 0, 0,
            0},
        {"index on two dimensions", u"Grid", DISPATCH_PROPERTYGET, {value(VT_I2, 0)}, none, true,
            DISP_E_NOTACOLLECTION, 0, 0, 0},
        {"index without a result", u"Items", DISPATCH_PROPERTYGET, {value(VT_I2, 0)}, none, false,
            DISP_E_NOTACOLLECTION, 0, 0, 0},
    };
    IDispatch* d = makeMerged();
    for (const Row& row : rows) {
        std::vector<VARIANT> args = row.args;
        VARIANT inout = row.inout;
        for (VARIANT& a : args)
            if (a.vt == VT_EMPTY) {
                a.vt = VT_BYREF | VT_VARIANT;
                a.pvarVal = &inout;
            }
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        VARIANT result{};
        EXPECT_EQ(d->Invoke(idOf(d, row.member), IID_NULL, 0, row.flags, &params, row.wantResult ? &result : nullptr,
                      nullptr, nullptr),
            row.hr)
            << row.what;
        EXPECT_EQ(result.vt, row.resultVt) << row.what;
        const double got = result.vt == VT_R8 ? result.dblVal : result.vt == VT_I4 ? result.lVal : 0;
        EXPECT_EQ(got, row.result) << row.what;
        EXPECT_EQ(inout.vt, row.inoutVt) << row.what;
        EXPECT_EQ(inout.vt == VT_I4 ? inout.lVal : 42, 42) << row.what;
        VariantClear(&result);
        VariantClear(&inout);
        for (VARIANT& a : args)
            VariantClear(&a);
    }
    d->Release();
}

TEST(DynamicDispatch, NamesResolveAcrossInterfacesWithTheirParameters)
{
    struct Row {
        std::vector<const char16_t*> names;
        HRESULT hr;
        std::vector<DISPID> ids;
    };
    const Row rows[] = {
        {{u"Name"}, S_OK, {20}},
        {{u"Scale", u"offset"}, S_OK, {1, 1}},
        {{u"Attach", u"target"}, S_OK, {21, 0}},
        {{u"Nothing"}, DISP_E_UNKNOWNNAME, {DISPID_UNKNOWN}},
    };
    IDispatch* d = makeMerged();
    for (const Row& row : rows) {
        std::vector<LPOLESTR> names;
        for (const char16_t* n : row.names)
            names.push_back(const_cast<LPOLESTR>(n));
        std::vector<DISPID> ids(names.size(), 99);
        EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names.data(), static_cast<UINT>(names.size()), 0, ids.data()), row.hr);
        EXPECT_EQ(ids, row.ids);
    }
    // A named argument reaches its parameter through the merged information.
    std::vector<VARIANT> args = {value(VT_R8, 0.5), value(VT_R8, 2)};
    DISPID named[] = {1, 0};
    DISPPARAMS params{args.data(), named, 2, 2};
    VARIANT result{};
    EXPECT_EQ(d->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.dblVal, 14.5);
    d->Release();
}

// Every member id of the test library belongs to one interface, so the
// merged Invoke and GetIDsOfNames agree on where a member lives.
TEST(DynamicDispatch, MemberIdsAreUniqueAcrossMergedInterfaces)
{
    IDispatch* d = makeMerged();
    ITypeInfo* merged = nullptr;
    ASSERT_EQ(d->GetTypeInfo(0, 0, &merged), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(merged->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, std::size(test_typelib::kOne) + std::size(test_typelib::kTwo));
    EXPECT_EQ(attr->cImplTypes, 0);
    const UINT count = attr->cFuncs;
    merged->ReleaseTypeAttr(attr);
    std::set<MEMBERID> seen[2];
    for (const test_typelib::InterfaceEntry* itf : test_typelib::kInterfaces)
        for (size_t f = 0; f < itf->functionCount; ++f)
            seen[itf == &test_typelib::kTwoEntry].insert(itf->functions[f].memid);
    for (MEMBERID id : seen[0])
        EXPECT_EQ(seen[1].count(id), 0u) << id;
    FUNCDESC* desc = nullptr;
    EXPECT_EQ(merged->GetFuncDesc(count, &desc), E_INVALIDARG);
    ASSERT_EQ(merged->GetFuncDesc(count - 1, &desc), S_OK);
    EXPECT_EQ(desc->memid, 21);
    merged->ReleaseFuncDesc(desc);
    merged->Release();
    d->Release();
}

TEST(DynamicDispatch, WithoutComponentsEveryCallFails)
{
    const GUID unregistered = kUnanswered;
    CComObject<ccDynamicTypeInfo>* info = nullptr;
    ASSERT_EQ(CComObject<ccDynamicTypeInfo>::CreateInstance(&info), S_OK);
    info->AddRef();
    IDispatch* d = makeMerged();
    info->Init(d, kMerged, unregistered, 1, 0);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    TYPEATTR* attr = nullptr;
    BSTR name = nullptr;
    EXPECT_EQ(info->Invoke(d, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(info->GetTypeAttr(&attr), E_UNEXPECTED);
    EXPECT_EQ(info->GetDocumentation(0, &name, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    d->Release();
    info->Release();
}

TEST(DynamicDispatch, ArrayConversion)
{
    struct Row {
        const char* what;
        VARIANT source;
        VARTYPE target;
        HRESULT hr;
    };
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    VARIANT grid{};
    grid.vt = VT_ARRAY | VT_R8;
    grid.parray = SafeArrayCreate(VT_R8, 2, bounds);
    VARIANT texts{};
    texts.vt = VT_ARRAY | VT_BSTR;
    texts.parray = SafeArrayCreate(VT_BSTR, 1, bounds);
    const Row rows[] = {
        {"doubles to VARIANTs", {}, VT_ARRAY | VT_VARIANT, S_OK},
        {"VARIANTs to longs", variantArray({value(VT_R8, 2), text(u"3")}), VT_ARRAY | VT_I4, S_OK},
        {"VARIANTs out of range", variantArray({value(VT_R8, 1e12)}), VT_ARRAY | VT_I4, DISP_E_OVERFLOW},
        {"two dimensions", grid, VT_ARRAY | VT_VARIANT, DISP_E_TYPEMISMATCH},
        {"text elements", texts, VT_ARRAY | VT_I4, DISP_E_TYPEMISMATCH},
        {"a plain value", text(u"5"), VT_I2, S_OK},
    };
    for (const Row& row : rows) {
        VARIANT source = row.source;
        if (source.vt == VT_EMPTY) {
            source.vt = VT_ARRAY | VT_R8;
            source.parray = testDoubles(1);
        }
        VARIANT out{};
        EXPECT_EQ(ccConvertArray(&out, &source, row.target), row.hr) << row.what;
        EXPECT_EQ(out.vt, SUCCEEDED(row.hr) ? row.target : VARTYPE{VT_EMPTY}) << row.what;
        if (row.target == (VT_ARRAY | VT_I4) && SUCCEEDED(row.hr)) {
            LONG index = 1;
            LONG element = 0;
            EXPECT_EQ(SafeArrayGetElement(out.parray, &index, &element), S_OK);
            EXPECT_EQ(element, 3);
        }
        VariantClear(&out);
        VariantClear(&source);
    }
    VARIANT plain{};
    EXPECT_EQ(ccConvertArray(nullptr, &plain, VT_I4), E_POINTER);
}

TEST(DynamicDispatch, FirstCallsFromManyThreadsShareOneMergedInfo)
{
    IDispatch* d = makeMerged();
    std::vector<std::thread> threads;
    std::vector<DISPID> ids(8, DISPID_UNKNOWN);
    for (size_t t = 0; t < ids.size(); ++t)
        threads.emplace_back([&, t] {
            LPOLESTR names[] = {const_cast<LPOLESTR>(u"Name")};
            EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &ids[t]), S_OK);
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(ids, std::vector<DISPID>(8, 20));
    d->Release();
}

} // namespace
