#include "comframe/archive.h"
#include "comframe/coretypes.h"
#include "comframe/objectbase.h"

#include "platform/com/bstr.h"
#include "tests/support/test_typelib.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Calls member `name` through IDispatch; args last first. The result as text.
HRESULT callByName(IDispatch* d, const char16_t* name, WORD flags, std::vector<VARIANT> args, std::u16string* text)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VARIANT result{};
    hr = d->Invoke(id, IID_NULL, 0, flags, &params, &result, nullptr, nullptr);
    for (VARIANT& a : args)
        VariantClear(&a);
    if (SUCCEEDED(hr) && result.vt != VT_EMPTY && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_BSTR)))
        *text = std::u16string(result.bstrVal, SysStringLen(result.bstrVal));
    VariantClear(&result);
    return hr;
}

TEST(CoreTypes, ArchiveMethodsAnswerByNameAndItsClassIsDescribed)
{
    CQorArchive* archive = nullptr;
    ASSERT_EQ(CQorArchive::create(&archive), S_OK);
    IDispatch* d = static_cast<IQorArchive*>(archive);
    d->AddRef();
    BSTR host = nullptr;
    ASSERT_EQ(ccGetLocalComputerName(&host), S_OK);
    const std::u16string hostText(host, SysStringLen(host));
    SysFreeString(host);
    LONG gain = 5, readGain = 0;
    VARIANT rate = testValue(VT_R8, 2.5); // a script's by-reference VARIANT for a double*
    BSTR name = SysAllocString(u"cam");

    struct Row {
        const char16_t* member;
        WORD flags;
        std::vector<VARIANT> args;
        HRESULT hr;
        std::u16string text;
        LONG mode; // set before the call
    };
    constexpr LONG kSave = kPersistSaving, kLoad = 0;
    const Row rows[] = {
        {u"PersistI4", DISPATCH_METHOD, {testRef(VT_I4, &gain), testText(u"Gain")}, S_OK, u"", kSave},
        {u"PersistR8", DISPATCH_METHOD, {testRef(VT_VARIANT, &rate), testText(u"Rate")}, S_OK, u"", kSave},
        {u"PersistString", DISPATCH_METHOD, {testRef(VT_BSTR, &name), testText(u"Name")}, S_OK, u"", kSave},
        {u"Key", DISPATCH_PROPERTYGET, {testValue(VT_I4, 1)}, S_OK, u"Rate", kSave},
        {u"Item", DISPATCH_PROPERTYGET, {testText(u"Gain")}, S_OK, u"5", kSave},
        {u"GetLocalComputerName", DISPATCH_METHOD, {}, S_OK, hostText, kSave},
        {u"PersistI4", DISPATCH_METHOD, {testRef(VT_I4, &readGain), testText(u"Gain")}, S_OK, u"", kLoad},
    };
    for (const Row& row : rows) {
        IQorArchiveStore* store = archive;
        store->SetMode(row.mode);
        std::u16string text;
        EXPECT_EQ(callByName(d, row.member, row.flags, row.args, &text), row.hr) << std::string(row.member, row.member + 3);
        EXPECT_EQ(text, row.text);
    }
    EXPECT_EQ(readGain, 5);
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
    SysFreeString(name);
    d->Release();
}

TEST(CoreTypes, MemberIdsAreUniqueAcrossTheCoreInterfaces)
{
    const plat::com::InterfaceEntry* const core[] = {&cc_core_types::kQorObject, &cc_core_types::kQorArchive};
    EXPECT_EQ(sharedMemberIds(core, std::size(core)), std::vector<MEMBERID>{});
}

} // namespace
