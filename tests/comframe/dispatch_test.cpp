#include "comframe/dispatch.h"

#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
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

// An array of VARIANT holding the given values (taken over), as one row or two.
VARIANT variantArray(std::vector<VARIANT> items, UINT dims = 1)
{
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(items.size() / dims), 0}, {dims, 0}};
    VARIANT x{};
    x.vt = VT_ARRAY | VT_VARIANT;
    x.parray = SafeArrayCreate(VT_VARIANT, dims, bounds);
    std::copy(items.begin(), items.end(), static_cast<VARIANT*>(x.parray->pvData));
    return x;
}

// A new object of the merged class.
class DynamicDispatch : public ::testing::Test {
protected:
    ~DynamicDispatch() override { d->Release(); }
    IDispatch* d = makeMerged();
};

TEST_F(DynamicDispatch, InvokeRepairsWhatScriptsGetWrong)
{
    struct Row {
        const char* what;
        const char16_t* member;
        WORD flags;
        std::vector<VARIANT> args; // last first; a VT_EMPTY arg is passed as a by-ref VARIANT to `inout`
        VARIANT inout;
        bool wantResult;
        HRESULT hr;
        VARTYPE resultVt = 0;
        double result = 0;
        VARTYPE inoutVt = 0;
    };
    const VARIANT none{};
    const Row rows[] = {
        {"member of the first interface", u"Value", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_I4, 7, 0},
        {"member of the second interface", u"Name", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_BSTR, 0, 0},
        {"left-out optional object", u"Attach", DISPATCH_METHOD, {}, none, true, S_OK, VT_I4, 0, 0},
        {"left-out required argument", u"Scale", DISPATCH_METHOD, {}, none, true, DISP_E_BADPARAMCOUNT},
        {"by-ref VARIANT to long*", u"Twice", DISPATCH_METHOD, {none}, testValue(VT_I4, 21), true, S_OK, 0, 0, VT_I4},
        {"by-ref VARIANT to an out array", u"Fill", DISPATCH_METHOD, {none}, none, true, S_OK, 0, 0,
            VT_ARRAY | VT_VARIANT},
        {"VARIANT array to double[]", u"Sum", DISPATCH_METHOD,
            {variantArray({testValue(VT_I4, 1), testText(u"2"), testValue(VT_R8, 3.5)})}, none, true, S_OK, VT_R8, 6.5},
        {"2-D array to double[]", u"Sum", DISPATCH_METHOD, {variantArray({none, none}, 2)}, none, true, DISP_E_TYPEMISMATCH},
        {"by-ref VARIANT array to double[]", u"Sum", DISPATCH_METHOD, {none},
            variantArray({testValue(VT_I4, 1), testValue(VT_R8, 2.5)}), true, S_OK, VT_R8, 3.5, VT_ARRAY | VT_VARIANT},
        {"a number to double[]", u"Sum", DISPATCH_METHOD, {testValue(VT_I4, 1)}, none, true, DISP_E_TYPEMISMATCH},
        {"one-dimensional result", u"Items", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_ARRAY | VT_VARIANT},
        {"two-dimensional result", u"Grid", DISPATCH_PROPERTYGET, {}, none, true, S_OK, VT_ARRAY | VT_R8},
        {"indexed get", u"Items", DISPATCH_PROPERTYGET, {testValue(VT_I2, 1)}, none, true, S_OK, VT_R8, 3},
        {"index out of range", u"Items", DISPATCH_PROPERTYGET, {testValue(VT_I2, 9)}, none, true, DISP_E_BADINDEX},
        {"index on 2-D", u"Grid", DISPATCH_PROPERTYGET, {testValue(VT_I2, 0)}, none, true, DISP_E_NOTACOLLECTION},
        {"index, no result", u"Items", DISPATCH_PROPERTYGET, {testValue(VT_I2, 0)}, none, false, DISP_E_NOTACOLLECTION},
        {"by-ref VARIANT holding no object", u"Attach", DISPATCH_METHOD, {none}, testValue(VT_R8, 5), true,
            DISP_E_TYPEMISMATCH, 0, 0, VT_R8},
    };
    for (const Row& row : rows) {
        std::vector<VARIANT> args = row.args;
        VARIANT inout = row.inout;
        for (VARIANT& a : args)
            a = a.vt == VT_EMPTY ? testRef(VT_VARIANT, &inout) : a;
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        VARIANT result{};
        EXPECT_EQ(d->Invoke(idOf(d, row.member), IID_NULL, 0, row.flags, &params, row.wantResult ? &result : nullptr,
                      nullptr, nullptr),
            row.hr)
            << row.what;
        const double got = result.vt == VT_R8 ? result.dblVal : result.vt == VT_I4 ? result.lVal : 0;
        EXPECT_EQ(std::make_pair(result.vt, got), std::make_pair(row.resultVt, row.result)) << row.what;
        EXPECT_EQ(std::make_pair(inout.vt, inout.vt == VT_I4 ? inout.lVal : 42), std::make_pair(row.inoutVt, LONG(42)))
            << row.what;
        VariantClear(&result);
        VariantClear(&inout);
        for (VARIANT& a : args)
            VariantClear(&a);
    }
}

// Repairs go by position: a call that names its arguments is not repaired.
TEST_F(DynamicDispatch, NamedArgumentsAreNotRepaired)
{
    VARIANT args[] = {testText(u"x"), testValue(VT_R8, 2)}; // offset named, factor by position
    DISPID named[] = {1};
    DISPPARAMS params{args, named, 2, 1};
    VARIANT result{};
    EXPECT_EQ(d->Invoke(idOf(d, u"Scale"), IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.dblVal, 14.0);
    VARIANT wrong[] = {testValue(VT_R8, 2), testText(u"x")}; // a factor that is no number
    params.rgvarg = wrong;
    EXPECT_EQ(d->Invoke(idOf(d, u"Scale"), IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
        DISP_E_TYPEMISMATCH);
    for (VARIANT* v : {&args[0], &wrong[1]})
        VariantClear(v);
}

// Typed arrays of text and objects convert element by element like
// numbers do; an element that does not convert leaves the target as it was.
TEST_F(DynamicDispatch, ArraysOfTextAndObjectsConvertElementByElement)
{
    struct Row {
        const char* what;
        VARTYPE from;
        std::vector<const char16_t*> texts; // from VT_BSTR; otherwise one null object per entry
        VARTYPE to;
        HRESULT hr;
        double last; // the last element as a number (VT_R8) or its text's length (VT_VARIANT)
    };
    const Row rows[] = {
        {"text to VARIANT", VT_BSTR, {u"ab", u"cde"}, VT_VARIANT, S_OK, 3},
        {"text to double", VT_BSTR, {u"1", u"2.5"}, VT_R8, S_OK, 2.5},
        {"text that is no number", VT_BSTR, {u"1", u"x"}, VT_R8, DISP_E_TYPEMISMATCH, 0},
        {"objects to VARIANT", VT_UNKNOWN, {nullptr, nullptr}, VT_VARIANT, S_OK, 0},
        {"numbers to text", VT_I4, {nullptr}, VT_BSTR, DISP_E_TYPEMISMATCH, 0},
    };
    for (const Row& row : rows) {
        SAFEARRAYBOUND bound{static_cast<ULONG>(row.texts.size()), 1};
        VARIANT src{};
        src.vt = VT_ARRAY | row.from;
        src.parray = SafeArrayCreate(row.from, 1, &bound);
        for (size_t i = 0; row.from == VT_BSTR && i < row.texts.size(); ++i)
            static_cast<BSTR*>(src.parray->pvData)[i] = SysAllocString(row.texts[i]); // the array owns it
        VARIANT dst = testValue(VT_I4, 42);
        EXPECT_EQ(ccConvertArray(&dst, &src, VT_ARRAY | row.to), row.hr) << row.what;
        if (SUCCEEDED(row.hr)) {
            ASSERT_EQ(dst.vt, VT_ARRAY | row.to) << row.what;
            LONG lower = 0, upper = 0;
            SafeArrayGetLBound(dst.parray, 1, &lower), SafeArrayGetUBound(dst.parray, 1, &upper);
            EXPECT_EQ(std::make_pair(lower, upper), std::make_pair(LONG(1), LONG(row.texts.size()))) << row.what;
            VARIANT last{};
            if (row.to == VT_VARIANT) {
                ASSERT_EQ(SafeArrayGetElement(dst.parray, &upper, &last), S_OK) << row.what;
                EXPECT_EQ(last.vt, row.from) << row.what;
                EXPECT_EQ(row.from == VT_BSTR ? SysStringLen(last.bstrVal) : 0u, row.last) << row.what;
                VariantClear(&last);
            } else {
                double value = 0;
                ASSERT_EQ(SafeArrayGetElement(dst.parray, &upper, &value), S_OK) << row.what;
                EXPECT_EQ(value, row.last) << row.what;
            }
        } else {
            EXPECT_EQ(std::make_pair(dst.vt, dst.lVal), std::make_pair(VARTYPE(VT_I4), LONG(42))) << row.what;
        }
        VariantClear(&dst);
        VariantClear(&src);
    }
    // An array of the same type is copied, a value that is no array converted as a value.
    VARIANT src{}, dst{};
    src.vt = VT_ARRAY | VT_R8;
    src.parray = testDoubles(1);
    ASSERT_EQ(ccConvertArray(&dst, &src, VT_ARRAY | VT_R8), S_OK);
    ASSERT_EQ(dst.vt, VT_ARRAY | VT_R8);
    EXPECT_NE(dst.parray, src.parray);
    EXPECT_EQ(static_cast<double*>(dst.parray->pvData)[2], 4.5);
    VariantClear(&dst);
    VariantClear(&src);
    src = testValue(VT_I4, 42);
    ASSERT_EQ(ccConvertArray(&dst, &src, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(dst.bstrVal), u"42");
    VariantClear(&dst);
    EXPECT_EQ(ccConvertArray(nullptr, &src, VT_BSTR), E_POINTER);
    EXPECT_EQ(ccConvertArray(&dst, nullptr, VT_BSTR), E_POINTER);
}

// Parameters are named in their member's interface; an unknown member leaves
// every id unknown. (A member of the second interface: the threads below.)
TEST_F(DynamicDispatch, NamesResolveWithTheirMembersParametersOrNotAtAll)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"Scale"), const_cast<LPOLESTR>(u"offset")};
    std::vector<DISPID> ids(2, 99);
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, 0, ids.data()), S_OK);
    EXPECT_EQ(ids, (std::vector<DISPID>{1, 1}));
    names[0] = const_cast<LPOLESTR>(u"Nothing");
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 2, 0, ids.data()), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DISPID>(2, DISPID_UNKNOWN)));
}

// The merged type information of the object.
class MergedTypeInfo : public DynamicDispatch {
protected:
    void SetUp() override { ASSERT_EQ(d->GetTypeInfo(0, 0, &merged), S_OK); }
    void TearDown() override
    {
        if (merged) merged->Release();
    }
    ITypeInfo* merged = nullptr;
};

// The members of every interface, and nothing past them.
TEST_F(MergedTypeInfo, ListsTheMembersOfEveryInterface)
{
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(merged->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->cFuncs, std::size(test_typelib::kOne) + std::size(test_typelib::kTwo));
    EXPECT_EQ(attr->cImplTypes, 0);
    const UINT count = attr->cFuncs;
    merged->ReleaseTypeAttr(attr);
    FUNCDESC* desc = nullptr;
    EXPECT_EQ(merged->GetFuncDesc(count, &desc), E_INVALIDARG);
}

// Each operation about a member asks the interface that owns it; what the
// merged information does not offer is refused.
TEST_F(MergedTypeInfo, EachMemberIsAnsweredByItsOwnInterface)
{
    for (const auto& [memid, name] : {std::pair<MEMBERID, std::u16string>{0, u"Value"}, {20, u"Name"}}) {
        BSTR names[2] = {};
        UINT count = 0;
        ASSERT_EQ(merged->GetNames(memid, names, 2, &count), S_OK) << memid;
        EXPECT_EQ(std::u16string(names[0]), name);
        for (UINT i = 0; i < count; ++i)
            SysFreeString(names[i]);
        BSTR documented = nullptr;
        ASSERT_EQ(merged->GetDocumentation(memid, &documented, nullptr, nullptr, nullptr), S_OK) << memid;
        EXPECT_EQ(std::u16string(documented), name);
        SysFreeString(documented);
    }
    FUNCDESC* desc = nullptr;
    ASSERT_EQ(merged->GetFuncDesc(std::size(test_typelib::kOne), &desc), S_OK); // the second interface's first
    EXPECT_EQ(desc->memid, 20);
    merged->ReleaseFuncDesc(desc);
    ITypeInfo* ref = nullptr;
    EXPECT_EQ(merged->GetRefTypeInfo(1, &ref), TYPE_E_ELEMENTNOTFOUND); // no interface knows it
    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(d->GetTypeInfoCount(nullptr), E_POINTER);

    ITypeComp* comp = nullptr;
    ASSERT_EQ(merged->GetTypeComp(&comp), S_OK);
    void* none = nullptr;
    const std::function<HRESULT()> refused[] = {
        [&] { return merged->GetVarDesc(0, nullptr); },
        [&] { return merged->GetRefTypeOfImplType(0, nullptr); },
        [&] { return merged->GetImplTypeFlags(0, nullptr); },
        [&] { return merged->GetDllEntry(0, INVOKE_FUNC, nullptr, nullptr, nullptr); },
        [&] { return merged->AddressOfMember(0, INVOKE_FUNC, &none); },
        [&] { return merged->CreateInstance(nullptr, IID_IUnknown, &none); },
        [&] { return merged->GetMops(0, nullptr); },
        [&] { return merged->GetContainingTypeLib(nullptr, nullptr); },
        [&] { return comp->BindType(nullptr, 0, nullptr, nullptr); },
    };
    for (const auto& call : refused)
        EXPECT_EQ(call(), E_NOTIMPL);
    comp->Release();
    // An instance that does not answer the member's interface has no such member.
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    VARIANT result{};
    auto* info = static_cast<ccDynamicTypeInfo*>(merged);
    EXPECT_EQ(info->Invoke(static_cast<ITypeInfo*>(info), 0, DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr),
        DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(info->Invoke(nullptr, 0, DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr), E_INVALIDARG);
}

// The merged binder binds a name in the interface that has it, and refuses
// one that no interface knows, leaving nothing bound.
TEST_F(MergedTypeInfo, TheBinderFindsNamesAcrossInterfacesAndRefusesOthers)
{
    ITypeComp* comp = nullptr;
    ASSERT_EQ(merged->GetTypeComp(&comp), S_OK);
    const struct {
        const char16_t* name;
        HRESULT result;
        DESCKIND kind;
        MEMBERID memid;
    } rows[] = {{u"Value", S_OK, DESCKIND_FUNCDESC, idOf(d, u"Value")},
        {u"Name", S_OK, DESCKIND_FUNCDESC, idOf(d, u"Name")}, {u"NoSuchMember", E_INVALIDARG, DESCKIND_NONE, 0}};
    for (const auto& row : rows) {
        ITypeInfo* owner = reinterpret_cast<ITypeInfo*>(merged); // overwritten
        DESCKIND kind = row.kind == DESCKIND_NONE ? DESCKIND_FUNCDESC : DESCKIND_NONE; // overwritten
        BINDPTR bound{};
        EXPECT_EQ(comp->Bind(const_cast<LPOLESTR>(row.name), 0, INVOKE_PROPERTYGET, &owner, &kind, &bound),
            row.result);
        ASSERT_EQ(kind, row.kind);
        if (kind == DESCKIND_FUNCDESC) {
            EXPECT_EQ(bound.lpfuncdesc->memid, row.memid);
            owner->ReleaseFuncDesc(bound.lpfuncdesc);
            owner->Release();
        } else {
            EXPECT_EQ(owner, nullptr);
            EXPECT_EQ(bound.lpfuncdesc, nullptr);
        }
    }
    ITypeInfo* owner = nullptr;
    BINDPTR bound{};
    EXPECT_EQ(comp->Bind(const_cast<LPOLESTR>(u"NoSuchMember"), 0, 0, &owner, nullptr, &bound), E_POINTER);
    comp->Release();
}

TEST_F(DynamicDispatch, WithoutComponentsEveryCallFails)
{
    CComObjectNoLock<ccDynamicTypeInfo> info;
    info.Init(d, kMerged, kUnanswered, 1, 0); // no such library
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    TYPEATTR* attr = nullptr;
    EXPECT_EQ(info.Invoke(d, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(info.GetTypeAttr(&attr), E_UNEXPECTED);
    EXPECT_EQ(info.GetNames(0, nullptr, 0, nullptr), DISP_E_MEMBERNOTFOUND);
}

TEST_F(DynamicDispatch, FirstCallsFromManyThreadsShareOneMergedInfo)
{
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
}

} // namespace
