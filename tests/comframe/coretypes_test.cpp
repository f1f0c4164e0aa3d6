#include "comframe/archive.h"
#include "comframe/coretypes.h"
#include "comframe/objectbase.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

namespace {

// Calls member `name` through IDispatch; args last first (a put's value
// named as such). A failure the member reports is its own HRESULT; the
// result as text.
HRESULT callByName(IDispatch* d, const char16_t* name, WORD flags, std::vector<VARIANT> args, std::u16string* text)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    DISPID put = DISPID_PROPERTYPUT;
    const UINT named = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF) ? 1 : 0;
    DISPPARAMS params{args.data(), named ? &put : nullptr, static_cast<UINT>(args.size()), named};
    VARIANT result{};
    EXCEPINFO failure{};
    hr = d->Invoke(id, IID_NULL, 0, flags, &params, &result, &failure, nullptr);
    if (hr == DISP_E_EXCEPTION) hr = failure.scode;
    for (BSTR s : {failure.bstrSource, failure.bstrDescription, failure.bstrHelpFile})
        SysFreeString(s);
    for (VARIANT& a : args)
        VariantClear(&a);
    if (SUCCEEDED(hr) && result.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)))
        *text = std::u16string(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    return hr;
}

// An object of the core library with only IQorObject, over the base's own IDispatch.
class Plain : public ccArchiveBase {
public:
    BEGIN_COM_MAP(Plain)
    COM_INTERFACE_ENTRY2(IUnknown, IQorObject)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY2(IDispatch, IQorObject)
    END_COM_MAP()
};

// d as an argument, with a reference of its own.
VARIANT dispatchArg(IDispatch* d)
{
    VARIANT v{};
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    if (d) d->AddRef();
    return v;
}

// Every member of both core interfaces by name gives what the direct call
// gives: its result, or its own failure.
TEST(CoreTypes, EveryMemberAnswersByNameAsItsDirectCallDoes)
{
    CQorArchive* archive = nullptr;
    ASSERT_EQ(CQorArchive::create(&archive), S_OK);
    IDispatch* a = static_cast<IQorArchive*>(archive);
    a->AddRef();
    IDispatch* o = nullptr;
    ASSERT_EQ(plat::com::createInstance<Plain>(nullptr, IID_IDispatch, reinterpret_cast<void**>(&o)), S_OK);
    BSTR host = nullptr;
    ASSERT_EQ(ccGetLocalComputerName(&host), S_OK);
    const std::u16string hostText(host, SysStringLen(host));
    SysFreeString(host);
    LONG gain = 5, readGain = 0;
    BYTE small = 200, readSmall = 0;
    SHORT shortValue = -7, readShort = 0;
    float single = 2.5f, readSingle = 0;
    VARIANT_BOOL flag = VARIANT_TRUE, readFlag = VARIANT_FALSE;
    IUnknown* loaded = nullptr;
    VARIANT any{};
    VARIANT rate = testValue(VT_R8, 2.5); // a script's by-reference VARIANT for a double*
    BSTR name = SysAllocString(u"cam");

    struct Row {
        IDispatch* d;
        const char16_t* member;
        WORD flags;
        std::vector<VARIANT> args;
        HRESULT hr;
        std::u16string text;
        LONG mode; // the archive's, set before the call
    };
    constexpr LONG kSave = kPersistSaving, kLoad = 0;
    constexpr WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kCall = DISPATCH_METHOD;
    // The typed members: each saves its first value, then loads into its second.
    const std::tuple<const char16_t*, const char16_t*, VARTYPE, void*, void*> typed[] = {
        {u"PersistI4", u"Gain", VT_I4, &gain, &readGain}, {u"PersistUI1", u"Small", VT_UI1, &small, &readSmall},
        {u"PersistI2", u"Short", VT_I2, &shortValue, &readShort}, {u"PersistR4", u"Single", VT_R4, &single, &readSingle},
        {u"PersistBoolean", u"Flag", VT_BOOL, &flag, &readFlag}};
    std::vector<Row> rows;
    for (const auto& [member, key, vt, saved, read] : typed)
        rows.push_back({a, member, kCall, {testRef(vt, saved), testText(key)}, S_OK, u"", kSave});
    rows.insert(rows.end(), {
        {a, u"PersistR8", kCall, {testRef(VT_VARIANT, &rate), testText(u"Rate")}, S_OK, u"", kSave},
        {a, u"PersistString", kCall, {testRef(VT_BSTR, &name), testText(u"Name")}, S_OK, u"", kSave},
        {a, u"SaveObject", kCall, {dispatchArg(o), testText(u"Object")}, S_OK, u"", kSave},
        {a, u"LoadObject", kCall, {testRef(VT_UNKNOWN, &loaded), testText(u"Object")}, E_FAIL, u"", kSave},
        {a, u"Key", kGet, {testValue(VT_I4, 5)}, S_OK, u"Rate", kSave},
        {a, u"Item", kGet, {testText(u"Gain")}, S_OK, u"5", kSave},
        {a, u"FindItem", kCall, {testValue(VT_I4, 5)}, S_OK, u"0", kSave},
        {a, u"FindKey", kCall, {testText(u"Flag")}, S_OK, u"4", kSave},
        {a, u"Count", kGet, {}, S_OK, u"8", kSave},
        {a, u"Mode", kGet, {}, S_OK, u"1073741824", kSave}, // kPersistSaving
        {a, u"_NewEnum", kGet, {}, S_OK, u"", kSave},
        {a, u"GetLocalComputerName", kCall, {}, S_OK, hostText, kSave},
        {o, u"Tag", kGet, {}, S_OK, u"", kSave},
        {o, u"Tag", kPut, {testValue(VT_I4, 3)}, S_OK, u"", kSave},
        {o, u"Tag", kGet, {}, S_OK, u"3", kSave},
        {o, u"Tag", DISPATCH_PROPERTYPUTREF, {testText(u"x")}, S_OK, u"", kSave},
        {o, u"Persist", kCall, {testValue(VT_I4, kSave), dispatchArg(a)}, S_OK, u"", kSave},
        {a, u"Key", kGet, {testValue(VT_I4, 8)}, S_OK, u"Tag", kSave},
        {a, u"PersistVariant", kCall, {testRef(VT_VARIANT, &rate), testText(u"Any")}, S_OK, u"", kSave},
        {a, u"Key", kGet, {testValue(VT_I4, 9)}, S_OK, u"Any", kSave},
        {o, u"Persist", kCall, {testValue(VT_I4, kSave), dispatchArg(o)}, DISP_E_TYPEMISMATCH, u"", kSave},
        {o, u"Persist", kCall, {testValue(VT_I4, kSave), dispatchArg(nullptr)}, E_POINTER, u"", kSave},
        {o, u"Clone", kCall, {}, E_NOINTERFACE, u"", kSave}, // it names no class to make
        {o, u"CreateObject", kCall, {testText(u"{not a class id}")}, CO_E_CLASSSTRING, u"", kSave},
    });
    for (const auto& [member, key, vt, saved, read] : typed)
        rows.push_back({a, member, kCall, {testRef(vt, read), testText(key)}, S_OK, u"", kLoad});
    rows.insert(rows.end(), {
        {a, u"LoadObject", kCall, {testRef(VT_UNKNOWN, &loaded), testText(u"Object")}, S_OK, u"", kLoad},
        {a, u"PersistVariant", kCall, {testRef(VT_VARIANT, &any), testText(u"Any")}, S_OK, u"", kLoad},
        {a, u"SaveObject", kCall, {dispatchArg(o), testText(u"Object")}, E_FAIL, u"", kLoad},
        {o, u"Tag", kPut, {testValue(VT_I4, 9)}, S_OK, u"", kLoad},
        {o, u"Persist", kCall, {testValue(VT_I4, kLoad), dispatchArg(a)}, S_OK, u"", kLoad},
        {o, u"Tag", kGet, {}, S_OK, u"x", kLoad},
    });
    for (const Row& row : rows) {
        IQorArchiveStore* store = archive;
        store->SetMode(row.mode);
        std::u16string text;
        EXPECT_EQ(callByName(row.d, row.member, row.flags, row.args, &text), row.hr) << std::string(row.member, row.member + 4);
        EXPECT_EQ(text, row.text) << std::string(row.member, row.member + 4);
    }
    EXPECT_EQ(std::make_tuple(readGain, readSmall, readShort, readSingle, readFlag, any.vt, any.dblVal),
              std::make_tuple(gain, small, shortValue, single, flag, VARTYPE(VT_R8), 2.5));
    plat::com::Ref<IUnknown> identity;
    ASSERT_EQ(o->QueryInterface(IID_IUnknown, identity.out()), S_OK);
    EXPECT_EQ(loaded, identity.p);
    if (loaded) loaded->Release();
    // The plain object's IDispatch describes IQorObject alone, the archive's both.
    for (const auto& [d, functions] : {std::pair<IDispatch*, size_t>{o, cc_core_types::kQorObject.functionCount},
             {a, cc_core_types::kQorObject.functionCount + cc_core_types::kQorArchive.functionCount}}) {
        UINT count = 0;
        ITypeInfo* type = nullptr;
        TYPEATTR* attr = nullptr;
        EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        EXPECT_EQ(d->GetTypeInfoCount(nullptr), E_POINTER);
        ASSERT_EQ(d->GetTypeInfo(0, 0, &type), S_OK);
        ASSERT_EQ(type->GetTypeAttr(&attr), S_OK);
        EXPECT_EQ(attr->cFuncs, functions);
        type->ReleaseTypeAttr(attr);
        type->Release();
    }
    // An archive has no library object.
    void* impl = a;
    EXPECT_EQ(archive->GetImpl(&impl), E_NOTIMPL);
    EXPECT_EQ(impl, nullptr);
    EXPECT_EQ(archive->GetImpl(nullptr), E_POINTER);
    EXPECT_EQ(archive->SetImpl(typeid(int), &impl), E_NOTIMPL);
    VariantClear(&rate);
    SysFreeString(name);
    o->Release();
    a->Release();
}

TEST(CoreTypes, TheArchivesClassIsDescribed)
{
    CQorArchive* archive = nullptr;
    ASSERT_EQ(CQorArchive::create(&archive), S_OK);
    static_cast<IQorArchive*>(archive)->AddRef();
    GUID events = GUID_NULL;
    EXPECT_EQ(archive->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events), S_OK);
    EXPECT_TRUE(IsEqualGUID(events, DIID_IQorCollectionEvents));
    ITypeInfo* type = nullptr;
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(archive->GetClassInfo(&type), S_OK);
    ASSERT_EQ(type->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_QorArchive));
    type->ReleaseTypeAttr(attr);
    type->Release();
    static_cast<IQorArchive*>(archive)->Release();
}

TEST(CoreTypes, MemberIdsAreUniqueAcrossTheCoreInterfaces)
{
    const plat::com::InterfaceEntry* const core[] = {&cc_core_types::kQorObject, &cc_core_types::kQorArchive};
    EXPECT_EQ(sharedMemberIds(core, std::size(core)), std::vector<MEMBERID>{});
}

} // namespace
