#include "comframe/archive.h"
#include "comframe/messagesource.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/safearray.h"
#include "platform/com/simpleobject.h"
#include "platform/environment.h"
#include "platform/environment_testing.h"
#include "tests/support/com_counted.h"
#include "tests/support/fake_persistent.h"
#include "tests/support/in_time.h"
#include "tests/support/test_typelib.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Archive {
    Archive(LONG mode = 0x40FFFFFF)
    {
        EXPECT_EQ(S_OK, CQorArchive::create(&p));
        static_cast<IQorArchive*>(p)->AddRef();
        p->SetMode(mode);
    }
    ~Archive() { static_cast<IQorArchive*>(p)->Release(); }
    CQorArchive* operator->() { return p; }
    CQorArchive* p = nullptr;
};

struct Text {
    explicit Text(const char16_t* s) : p(SysAllocString(s)) {}
    ~Text() { SysFreeString(p); }
    BSTR p;
};

VARIANT i4(LONG n) { return testValue(VT_I4, n); }

// A VARIANT of type vt holding p, without a reference of its own.
VARIANT typed(VARTYPE vt, IDispatch* p = nullptr)
{
    VARIANT v = {};
    v.vt = vt;
    v.pdispVal = p;
    return v;
}

// An object of the heap that lives by its count.
struct Counted final : plat::com::SimpleObject<IDispatch, IID_IDispatch> {
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
};

LONG countOf(CQorArchive* a)
{
    LONG count = -1;
    a->get_Count(&count);
    return count;
}

TEST(ArchiveKeys, LettersDigitsAndMarksOnly)
{
    const std::pair<const char16_t*, bool> cases[] = { { u"Gain", true }, { u"9lives", true }, { u"_x", true },
        { u":ns.a-b", true }, { u"a.b-c_d:e", true }, { u".a", false }, { u"-a", false }, { u"a b", false }, { u"", false },
        { u"a\u00e9", false }, { nullptr, false } };
    for (const auto& [key, valid] : cases) EXPECT_EQ(valid, ccIsValidArchiveKey(key)) << (key ? "" : "null");

    VARIANT v = i4(1);
    EXPECT_EQ(E_INVALIDARG, Archive()->PersistVariant(Text(u"a b").p, &v));
}

TEST(ArchiveTyped, EachTypeRoundTripsInOrderOrOutOfIt)
{
    Archive a;
    BYTE b = 200;
    SHORT s = -7;
    LONG l = 70000;
    float f = 2.5f;
    double d = -1.25;
    VARIANT_BOOL t = 5; // any non-zero is saved as -1
    BSTR text = SysAllocString(u"abc");
    // Every typed value, in one order, saving or loading as the mode says.
    const auto persistAll = [&] {
        EXPECT_EQ(S_OK, a->PersistUI1(Text(u"b").p, &b));
        EXPECT_EQ(S_OK, a->PersistI2(Text(u"s").p, &s));
        EXPECT_EQ(S_OK, a->PersistI4(Text(u"l").p, &l));
        EXPECT_EQ(S_OK, a->PersistR4(Text(u"f").p, &f));
        EXPECT_EQ(S_OK, a->PersistR8(Text(u"d").p, &d));
        EXPECT_EQ(S_OK, a->PersistBoolean(Text(u"t").p, &t));
        EXPECT_EQ(S_OK, a->PersistString(Text(u"text").p, &text));
    };
    persistAll();
    ASSERT_FALSE(HasFailure());
    SysFreeString(text);
    a->SetMode(0x00FFFFFF);
    b = 0, s = 0, l = 0, f = 0, d = 0, t = 0, text = nullptr;
    persistAll();
    EXPECT_EQ(0u, a->keySearches()); // read in the order written
    EXPECT_EQ(std::make_tuple(BYTE(200), SHORT(-7), LONG(70000), 2.5f, -1.25, VARIANT_BOOL(VARIANT_TRUE), std::u16string(u"abc")),
              std::make_tuple(b, s, l, f, d, t, std::u16string(text)));
    SysFreeString(text);

    // Out of order still finds.
    EXPECT_EQ(S_OK, a->PersistI4(Text(u"l").p, &l));
    EXPECT_EQ(1u, a->keySearches());
}

// One typed Persist on a value of type T: its result, and whether the
// caller's value was kept; a null value pointer when kept is null.
template <class T>
std::function<HRESULT(CQorArchive*, BSTR, bool*)> typedPersist(HRESULT (CQorArchive::*persist)(BSTR, T*), T start)
{
    return [persist, start](CQorArchive* a, BSTR key, bool* kept) {
        if (!kept) return (a->*persist)(key, nullptr);
        T value = start;
        const HRESULT hr = (a->*persist)(key, &value);
        *kept = value == start;
        return hr;
    };
}

// Every typed Persist refuses a null value in both directions; loading a
// value that is not of its type, or a missing key, returns S_FALSE, keeps the
// caller's value and tells the key (and why) in the failures.
TEST(ArchiveTyped, EveryTypedPersistRefusesANullValueAndKeepsTheCallersOnAFailedLoad)
{
    Archive a;
    const SAFEARRAYBOUND bound{1, 0};
    plat::com::Variant array; // converts to none of the types
    array.vt = VT_ARRAY | VT_I4;
    array.parray = SafeArrayCreate(VT_I4, 1, &bound);
    ASSERT_EQ(S_OK, a->PersistVariant(Text(u"a").p, &array));
    Text kept(u"kept");
    auto* object = new Counted;
    const struct {
        std::function<HRESULT(CQorArchive*, BSTR, bool*)> persist;
        const char16_t* reason;
    } rows[] = {
        {typedPersist(&CQorArchive::PersistUI1, BYTE(7)), u"<invalid byte value>"},
        {typedPersist(&CQorArchive::PersistI2, SHORT(7)), u"<invalid integer value>"},
        {typedPersist(&CQorArchive::PersistI4, LONG(7)), u"<invalid long value>"},
        {typedPersist(&CQorArchive::PersistR4, 7.0f), u"<invalid float value>"},
        {typedPersist(&CQorArchive::PersistR8, 7.0), u"<invalid double value>"},
        {typedPersist(&CQorArchive::PersistBoolean, VARIANT_BOOL(VARIANT_TRUE)), u"<invalid Boolean value>"},
        {typedPersist(&CQorArchive::PersistString, kept.p), u"<invalid string value>"},
        {typedPersist(&CQorArchive::LoadObject, static_cast<IUnknown*>(object)), u"<not an object>"},
    };
    std::u16string failures;
    for (const auto& row : rows) {
        const std::string what(row.reason, row.reason + std::char_traits<char16_t>::length(row.reason));
        for (const LONG mode : {0x40FFFFFF, 0x00FFFFFF}) {
            a->SetMode(mode);
            EXPECT_EQ(E_POINTER, row.persist(a.p, Text(u"a").p, nullptr)) << what;
        }
        for (const char16_t* key : {u"a", u"missing"}) {
            bool same = false;
            EXPECT_EQ(S_FALSE, row.persist(a.p, Text(key).p, &same)) << what;
            EXPECT_TRUE(same) << what;
            failures += (failures.empty() ? u"" : u", ") + std::u16string(key);
            if (key[0] == u'a') failures += u" " + std::u16string(row.reason);
        }
    }
    EXPECT_EQ(failures, a->loadFailures());
    EXPECT_EQ(1, countOf(a.p));
    EXPECT_EQ(0u, object->Release());
}

TEST(ArchiveTyped, ADecimalCommaLocaleReadsPointText)
{
    plat::setUserLanguageOverride(0x0407); // German
    Archive a;
    Text text(u"1.5");
    ASSERT_EQ(S_OK, a->PersistString(Text(u"x").p, &text.p));
    a->SetMode(0);
    double d = 0;
    EXPECT_EQ(S_OK, a->PersistR8(Text(u"x").p, &d));
    EXPECT_EQ(1.5, d);
    plat::setUserLanguageOverride(0);
}

// A default equal to the value is not written; a NaN is no number's equal:
// never dropped as a default, never found for a number.
TEST(ArchiveProperties, ADefaultEqualToTheValueIsNotWrittenAndANaNEqualsNoValue)
{
    Archive a;
    VARIANT three = i4(3), nan = {}, five = {};
    nan.vt = five.vt = VT_R8;
    nan.dblVal = std::nan("");
    five.dblVal = 5;
    const std::tuple<const char16_t*, VARIANT*, VARIANT*> writes[] = {
        {u"k", &three, &three}, {u"j", &three, &five}, {u"n", &nan, &nan}, {u"m", &nan, &five}};
    for (const auto& [key, value, byDefault] : writes) EXPECT_EQ(S_OK, a->WriteProperty(key, value, byDefault));
    EXPECT_EQ(3, countOf(a.p));
    a->SetMode(0);
    VARIANT result = {};
    EXPECT_EQ(S_OK, a->ReadProperty(u"k", &three, &result)); // its default
    EXPECT_EQ(3, result.lVal);
    LONG at = 0;
    EXPECT_EQ(S_OK, a->FindItem(five, &at));
    EXPECT_EQ(-1, at);
    EXPECT_EQ(S_OK, a->Add(five, kArchiveAppend));
    EXPECT_EQ(S_OK, a->FindItem(five, &at));
    EXPECT_EQ(3, at);
}

TEST(ArchiveProperties, BagReadOfAMissingNameKeepsTheValueAndLogsTheError)
{
    struct Log : IErrorLog {
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 1; }
        ULONG Release() override { return 1; }
        HRESULT AddError(LPCOLESTR name, EXCEPINFO* info) override { return names += name, scode = info->scode, S_OK; }
        std::u16string names;
        SCODE scode = -1;
    } log;
    Archive a(0);
    VARIANT v = testText(u"kept"); // default and result are the same VARIANT
    EXPECT_EQ(S_OK, static_cast<IPropertyBag*>(a.p)->Read(u"absent", &v, &log));
    EXPECT_EQ(std::u16string(u"kept"), std::u16string(v.bstrVal));
    EXPECT_EQ(u"", log.names);
    EXPECT_EQ(E_INVALIDARG, static_cast<IPropertyBag*>(a.p)->Read(u"bad key", &v, &log));
    EXPECT_EQ(u"bad key", log.names);
    EXPECT_EQ(0, log.scode);
    plat::com::Ref<IErrorInfo> info;
    EXPECT_EQ(S_OK, GetErrorInfo(0, &info.p));
    VariantClear(&v);
}

// The description of the thread's error object; empty when there is none.
std::u16string errorText()
{
    plat::com::Ref<IErrorInfo> info;
    if (GetErrorInfo(0, &info.p) != S_OK || !info.p) return u"";
    BSTR text = nullptr;
    info.p->GetDescription(&text);
    const std::u16string got = text ? text : u"";
    SysFreeString(text);
    return got;
}

// A bag write adds the value under its name; a refusal changes nothing and
// leaves the error object that tells why.
TEST(ArchiveProperties, ABagWriteAddsTheValueAndARefusalTellsWhy)
{
    ASSERT_EQ(S_OK, ccRegisterMessageSource());
    ccSetCatalogueMessage(kInvalidArchiveKeyMessage, {u"Invalid key: %1", u""});
    Archive a;
    VARIANT v = i4(4);
    const struct {
        const char* what;
        LONG mode;
        const OLECHAR* name;
        VARIANT* value;
        HRESULT hr;
        const char16_t* description;
    } rows[] = {
        {"a value", 0x40FFFFFF, u"Speed", &v, S_OK, u""},
        {"a bad name", 0x40FFFFFF, u"bad key", &v, E_INVALIDARG, u"Invalid key: bad key"},
        {"no value", 0x40FFFFFF, u"Speed", nullptr, E_POINTER, u"Invalid pointer."},
        {"while loading", 0, u"Speed", &v, E_FAIL, u"Unspecified error."},
    };
    for (const auto& row : rows) {
        SetErrorInfo(0, nullptr);
        a->SetMode(row.mode);
        EXPECT_EQ(row.hr, static_cast<IPropertyBag*>(a.p)->Write(row.name, row.value)) << row.what;
        EXPECT_EQ(row.description, errorText()) << row.what;
        EXPECT_EQ(1, countOf(a.p)) << row.what;
    }
    ccRemoveCatalogueMessage(kInvalidArchiveKeyMessage);
}

// What the enumerator hands out is found again: an object stored as
// IUnknown comes out as IDispatch and is still the same object.
TEST(ArchiveCollection, AnEnumeratedObjectIsFoundAtItsPlace)
{
    CountedDispatch object, other; // outlive the archive, whatever stops the test
    Archive a;
    ASSERT_EQ(S_OK, a->Add(i4(5), kArchiveAppend));
    ASSERT_EQ(S_OK, a->Add(typed(VT_UNKNOWN, &object), kArchiveAppend));
    IUnknown* made = nullptr;
    ASSERT_EQ(S_OK, a->get__NewEnum(&made));
    IEnumVARIANT* e = nullptr;
    ASSERT_EQ(S_OK, made->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e)));
    made->Release();
    VARIANT listed[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, e->Next(2, listed, &fetched));
    e->Release();
    ASSERT_EQ(VT_DISPATCH, listed[1].vt);
    LONG at = -1;
    EXPECT_EQ(S_OK, a->FindItem(listed[1], &at));
    EXPECT_EQ(1, at);
    EXPECT_EQ(S_OK, a->FindItem(typed(VT_DISPATCH, &other), &at));
    EXPECT_EQ(-1, at);
    for (VARIANT& v : listed) VariantClear(&v);
    a->Clear();
    EXPECT_EQ(0u, object.count);
}

// Objects are equal when both are null or both the same object; an array of
// objects or VARIANTs equals nothing, itself included; other values equal
// only a value of their own type; a by-reference value is looked through.
TEST(ArchiveCollection, FindItemComparesObjectsByIdentityAndValuesOfOneType)
{
    Archive a;
    auto* object = new Counted;
    const SAFEARRAYBOUND bound{1, 0};
    plat::com::Variant array;
    array.vt = VT_ARRAY | VT_VARIANT;
    array.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
    LONG five = 5;
    VARIANT nothing = {};
    const VARIANT stored[] = {typed(VT_DISPATCH), array, typed(VT_NULL), i4(5), testText(u"5"),
        typed(VT_UNKNOWN, object)};
    for (const VARIANT& value : stored) ASSERT_EQ(S_OK, a->Add(value, kArchiveAppend));
    VariantClear(const_cast<VARIANT*>(&stored[4]));
    const struct {
        const char* what;
        VARIANT wanted;
        LONG at;
    } rows[] = {
        {"a null object, held as another interface", typed(VT_UNKNOWN), 0},
        {"the array itself", array, -1},
        {"null", typed(VT_NULL), 2},
        {"a number by reference", testRef(VT_I4, &five), 3},
        {"text equal to a number", testText(u"5"), 4},
        {"the object as IDispatch", typed(VT_DISPATCH, object), 5},
        {"another object", typed(VT_DISPATCH, static_cast<IQorArchive*>(a.p)), -1},
        {"nothing", nothing, -1},
    };
    for (const auto& row : rows) {
        LONG at = -2;
        EXPECT_EQ(S_OK, a->FindItem(row.wanted, &at)) << row.what;
        EXPECT_EQ(row.at, at) << row.what;
    }
    VariantClear(const_cast<VARIANT*>(&rows[4].wanted));
    EXPECT_EQ(E_POINTER, a->FindItem(i4(5), nullptr));
    a->Clear();
    EXPECT_EQ(0u, object->Release());
}

// Positions and keys outside the collection are refused and change nothing;
// a put by an unknown key appends, by a known one replaces and keeps the key.
TEST(ArchiveCollection, PositionsKeysAndTheirErrors)
{
    CountedDispatch object; // outlives the archive
    Archive a;
    ASSERT_EQ(S_OK, a->AddAt(i4(1), u"a", kArchiveAppend));
    ASSERT_EQ(S_OK, a->AddAt(i4(2), nullptr, kArchiveAppend));
    VARIANT out = {}, newKey = testText(u"n"), oldKey = testText(u"a"), missing = testText(u"zz");
    BSTR key = nullptr;
    const struct {
        const char* what;
        std::function<HRESULT()> step;
        HRESULT hr;
        LONG count;
    } rows[] = {
        {"add past the end", [&] { return a->AddAt(i4(3), nullptr, 3); }, kArchiveBadIndex, 2},
        {"add before the first", [&] { return a->AddAt(i4(3), u"c", 0); }, S_OK, 3}, // [c:3, a:1, 2]
        {"a key another item has", [&] { return a->PutKey(2, u"a"); }, kArchiveDuplicateKey, 3},
        {"an item's own key again", [&] { return a->PutKey(0, u"c"); }, S_OK, 3},
        {"get past the end", [&] { return a->get_Item(i4(3), &out); }, kArchiveBadIndex, 3},
        {"remove by a null index", [&] { return a->Remove(typed(VT_NULL)); }, kArchiveBadIndexType, 3},
        {"remove the first", [&] { return a->Remove(i4(0)); }, S_OK, 2},
        {"move past the end", [&] { return a->Move(0, 2); }, kArchiveBadIndex, 2},
        {"move from before the start", [&] { return a->Move(-1, 0); }, kArchiveBadIndex, 2},
        {"move the first last", [&] { return a->Move(0, 1); }, S_OK, 2}, // [2, a:1]
        {"put one past the end", [&] { return a->PutItem(LONG(3), i4(9)); }, kArchiveBadIndex, 2},
        {"put at the end appends", [&] { return a->PutItem(LONG(2), i4(3)); }, S_OK, 3},
        {"put by a new key appends", [&] { return a->PutItem(newKey, i4(4)); }, S_OK, 4},
        {"put by a known key replaces", [&] { return a->PutItem(oldKey, i4(10)); }, S_OK, 4},
        {"put of no such type keeps the value", [&] { return a->PutItem(LONG(1), typed(0x7F)); }, DISP_E_BADVARTYPE, 4},
        {"remove by a missing key", [&] { return a->Remove(missing); }, kArchiveBadIndex, 4},
        {"key before the start", [&] { return a->get_Key(-1, &key); }, kArchiveBadIndex, 4},
        {"key past the end", [&] { return a->get_Key(4, &key); }, kArchiveBadIndex, 4},
        {"put key past the end", [&] { return a->PutKey(4, u"q"); }, kArchiveBadIndex, 4},
        {"remove past the end", [&] { return a->Remove(LONG(4)); }, kArchiveBadIndex, 4},
        {"remove before the start", [&] { return a->Remove(LONG(-1)); }, kArchiveBadIndex, 4},
        {"a new key for an item", [&] { return a->PutKey(2, u"r"); }, S_OK, 4}, // [2, a:10, r:3, n:4]
        {"remove the first by position", [&] { return a->Remove(LONG(0)); }, S_OK, 3}, // [a:10, r:3, n:4]
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.hr, row.step()) << row.what;
        EXPECT_EQ(row.count, countOf(a.p)) << row.what;
        EXPECT_EQ(nullptr, key) << row.what;
    }
    EXPECT_EQ(std::u16string(u"#3"), a->loadFailures());
    EXPECT_EQ(S_OK, a->get_Item(oldKey, &out));
    EXPECT_EQ(10, out.lVal);
    LONG at = -1;
    EXPECT_EQ(S_OK, a->FindItem(i4(3), &at));
    EXPECT_EQ(1, at);
    EXPECT_EQ(S_OK, a->FindKey(Text(u"r").p, &at));
    EXPECT_EQ(1, at);
    EXPECT_EQ(S_OK, a->FindKey(newKey.bstrVal, &at));
    EXPECT_EQ(2, at);
    EXPECT_EQ(S_OK, a->FindKey(nullptr, &at));
    EXPECT_EQ(-1, at);
    a->Add(i4(1), 0);
    EXPECT_EQ(S_OK, a->get_Key(0, &key)); // an item without a key
    EXPECT_EQ(nullptr, key);
    VariantClear(&newKey), VariantClear(&oldKey), VariantClear(&missing);

    // Only objects, when the mode says so; objects compare by identity.
    const VARIANT obj = typed(VT_DISPATCH, &object);
    a->SetMode(0x10FFFFFF);
    EXPECT_EQ(S_OK, a->Add(i4(1), kArchiveAppend));
    EXPECT_EQ(S_OK, a->Add(obj, kArchiveAppend));
    EXPECT_EQ(S_OK, a->FindItem(obj, &at));
    EXPECT_EQ(4, at); // the number was not added
    a->Clear();
    EXPECT_EQ(0u, object.count);
}

class Persistence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ccRegisterSerializer());
        ASSERT_EQ(S_OK, FakeSettings::registerClass());
        FakeSettings::log().clear();
    }
};

std::vector<std::u16string> keysOf(CQorArchive* a)
{
    std::vector<std::u16string> keys;
    for (LONG i = 0, count = countOf(a); i < count; ++i) {
        BSTR key = nullptr;
        a->get_Key(i, &key);
        keys.emplace_back(key ? key : u"");
        SysFreeString(key);
    }
    return keys;
}

std::vector<uint8_t> bytesOf(IStream* stream)
{
    std::vector<uint8_t> bytes;
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    uint8_t b;
    ULONG got = 0;
    while (stream->Read(&b, 1, &got) == S_OK && got == 1) bytes.push_back(b);
    return bytes;
}

IStream* streamOf(const std::vector<uint8_t>& bytes)
{
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, 1, &stream);
    stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    return stream;
}

using Settings = plat::com::Ref<CComObject<FakeSettings>>;

std::vector<uint8_t> savedBytes(CComObject<FakeSettings>* object, int32_t clearDirty = 0)
{
    plat::com::Ref<IStream> stream(streamOf({}));
    EXPECT_EQ(S_OK, object->Save(stream.p, clearDirty));
    return bytesOf(stream.p);
}

HRESULT loadBytes(CComObject<FakeSettings>* object, const std::vector<uint8_t>& bytes)
{
    plat::com::Ref<IStream> in(streamOf(bytes));
    return object->Load(in.p);
}

TEST_F(Persistence, TheTagIsSavedOnlyWhenSetAndAMissingOneIsRemovedUnlessKept)
{
    Settings object(FakeSettings::make());
    Archive none(0x40FFFFFF);
    ASSERT_EQ(S_OK, object->Persist(none.p, 0x40FFFFFF));
    EXPECT_EQ((std::vector<std::u16string>{ u"Gain", u"Name", u"Count" }), keysOf(none.p));

    const std::pair<LONG, VARTYPE> cases[] = { { 0x00FFFFFF, VT_EMPTY }, { 0x20FFFFFF, VT_I4 } };
    for (const auto& [flags, after] : cases) {
        object->put_Tag(i4(9));
        none.p->SetMode(flags);
        ASSERT_EQ(S_OK, object->Persist(none.p, flags));
        VARIANT tag = {};
        object->get_Tag(&tag);
        EXPECT_EQ(after, tag.vt) << flags;
    }
    Archive tagged(0x40FFFFFF);
    ASSERT_EQ(S_OK, object->Persist(tagged.p, 0x40FFFFFF));
    EXPECT_EQ(u"Tag", keysOf(tagged.p).front());
}

TEST_F(Persistence, ACollectionSavesItemsWithTheirKeysAndLoadsBackEqual)
{
    Archive source(0), saved(0x40FFFFFF), loaded(0);
    const VARIANT one = i4(1), null = typed(VT_NULL);
    source.p->AddAt(one, u"first", kArchiveAppend);
    source.p->Add(i4(2), kArchiveAppend);
    ASSERT_EQ(S_OK, source.p->Persist(saved.p, 0x40FFFFFF));
    EXPECT_EQ((std::vector<std::u16string>{ u"Item0", u"Key0", u"Item1" }), keysOf(saved.p));
    saved.p->SetMode(0x00FFFFFF);
    ASSERT_EQ(S_OK, loaded.p->Persist(saved.p, 0x00FFFFFF));
    EXPECT_EQ((std::vector<std::u16string>{ u"first", u"" }), keysOf(loaded.p));
    VARIANT value = {};
    loaded.p->GetItem(1, &value);
    EXPECT_EQ(2, value.lVal);

    // A key that is no text fails the load after the first item: nothing changes.
    saved.p->SetMode(0x40FFFFFF);
    saved.p->WriteProperty(u"Item2", &one, nullptr);
    saved.p->WriteProperty(u"Key2", &null, nullptr);
    saved.p->SetMode(0x00FFFFFF);
    source.p->Clear();
    EXPECT_TRUE(FAILED(source.p->Persist(saved.p, 0x00FFFFFF)));
    EXPECT_EQ(0, countOf(source.p));

    // A collection is no archive for itself, saving or loading.
    for (const LONG mode : {0x40FFFFFF, 0x00FFFFFF}) {
        saved.p->SetMode(mode);
        EXPECT_EQ(E_INVALIDARG, saved.p->Persist(saved.p, mode)) << mode;
    }
    EXPECT_EQ(5, countOf(saved.p));
}

// A sub-object reached twice is cloned once, and objects that refer to each
// other give clones that refer to each other the same way.
TEST_F(Persistence, ACloneSharesWhatIsReachedTwiceAndACycleIsACycleOfClones)
{
    auto* object = FakeSettings::make();
    auto* partner = FakeSettings::make();
    object->gain = 3.5;
    object->child = static_cast<IQorObject*>(partner);
    object->other = static_cast<IQorObject*>(partner);
    partner->AddRef();
    partner->child = static_cast<IQorObject*>(object);
    object->AddRef();
    partner->count = 11;
    IQorObject* copy = nullptr;
    ASSERT_EQ(S_OK, object->Clone(&copy));
    auto* clone = static_cast<FakeSettings*>(copy);
    EXPECT_EQ(3.5, clone->gain);
    ASSERT_NE(nullptr, clone->child);
    EXPECT_EQ(clone->child, clone->other);
    auto* partnerClone = static_cast<FakeSettings*>(static_cast<IQorObject*>(clone->child));
    EXPECT_NE(static_cast<IUnknown*>(static_cast<IQorObject*>(partner)), clone->child);
    EXPECT_EQ(11, partnerClone->count);
    EXPECT_EQ(static_cast<IUnknown*>(copy), partnerClone->child);
    EXPECT_EQ((std::vector<std::string>{"sub", "finished -1", "top", "finished -1"}), FakeSettings::log());
    // The cycles are broken by hand.
    for (FakeSettings* held : std::initializer_list<FakeSettings*>{partnerClone, partner}) {
        IUnknown* back = held->child;
        held->child = nullptr;
        back->Release();
    }
    copy->Release();
    object->Release();
}

// ccCloneObject into target (a reference of the caller's, or null) and what it failed with.
HRESULT cloneInto(IUnknown* target, IUnknown* source, IUnknown** made = nullptr)
{
    if (target) target->AddRef();
    HRESULT hr = S_OK;
    try {
        ccCloneObject(&target, source);
    } catch (const ccCOMError& e) {
        hr = e.hr();
    }
    if (made) *made = target;
    else if (target) target->Release();
    return hr;
}

// A target of the source's class takes its values and stays itself; one of
// another class, a source of no class, or none at all, is refused.
TEST_F(Persistence, CloneTargetsAndRefusals)
{
    CountedDispatch plain; // no object of the suite
    Archive archive(0); // an object of another class
    Settings object(FakeSettings::make()), target(FakeSettings::make());
    object->gain = 2.5;
    IUnknown* const settings = static_cast<IQorObject*>(target.p);
    const struct {
        const char* what;
        IUnknown* target;
        IUnknown* source;
        HRESULT hr;
        IUnknown* made;
    } rows[] = {
        {"a source of no class", nullptr, &plain, E_NOINTERFACE, nullptr},
        {"a target of another class", static_cast<IQorArchive*>(archive.p), static_cast<IQorObject*>(object.p),
         E_INVALIDARG, static_cast<IQorArchive*>(archive.p)},
        {"no source", settings, nullptr, E_POINTER, settings},
        {"a target of the source's class", settings, static_cast<IQorObject*>(object.p), S_OK, settings},
    };
    for (const auto& row : rows) {
        IUnknown* made = nullptr;
        EXPECT_EQ(row.hr, cloneInto(row.target, row.source, &made)) << row.what;
        EXPECT_EQ(row.made, made) << row.what;
        if (made) made->Release();
    }
    EXPECT_EQ(2.5, target->gain);
    EXPECT_EQ((std::vector<std::string>{"top", "finished -1"}), FakeSettings::log());
}

// Told before a clone of it begins and after the clones are told.
class Bracketed : public FakeSettings, public IQorCloneBracket {
public:
    BEGIN_COM_MAP(Bracketed)
    COM_INTERFACE_ENTRY2(IUnknown, IQorObject)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStream)
    COM_INTERFACE_ENTRY(IQorPersistArchive)
    COM_INTERFACE_ENTRY(IQorCloneBracket)
    END_COM_MAP()
    HRESULT Reserved3() override { return E_NOTIMPL; }
    HRESULT Reserved4() override { return E_NOTIMPL; }
    HRESULT Reserved5() override { return E_NOTIMPL; }
    HRESULT Reserved6() override { return E_NOTIMPL; }
    HRESULT BeginClone() override { return log().push_back("begin"), S_OK; }
    HRESULT EndClone() override { return log().push_back("end"), S_OK; }
};

TEST_F(Persistence, ASourceThatAsksIsToldBeforeAndAfterItsClone)
{
    CComObject<Bracketed>* source = nullptr;
    ASSERT_EQ(S_OK, CComObject<Bracketed>::CreateInstance(&source));
    source->AddRef();
    EXPECT_EQ(S_OK, cloneInto(nullptr, static_cast<IQorObject*>(source)));
    EXPECT_EQ((std::vector<std::string>{"begin", "top", "finished -1", "end"}), FakeSettings::log());
    source->Release();
}

const CLSID CLSID_StreamOnly = { 0x6E1A3CF2, 0x7320, 0x4A51, { 0x9B, 0x41, 0, 0, 0, 0, 0, 0x01 } };

// Persists through a stream alone (not even IPersist answers).
class StreamOnly final : public plat::com::SimpleObject<IPersistStream, IID_IPersistStream> {
public:
    HRESULT GetClassID(CLSID* clsid) override { return *clsid = CLSID_StreamOnly, S_OK; }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, int32_t) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
};

// A class factory's creation of a SimpleObject T.
template <class T> HRESULT createSimple(IUnknown*, REFIID iid, void** ppv)
{
    auto* made = new T;
    const HRESULT hr = made->QueryInterface(iid, ppv);
    made->Release();
    return hr;
}

// In place of the suite's serializer: writes a mark, reads it back, and
// tells the flags it was given.
class MarkingSerializer final : public plat::com::SimpleObject<IQorPersistSerializer, IID_IQorPersistSerializer> {
public:
#define UNUSED_SLOT(n) HRESULT Reserved##n() override { return E_NOTIMPL; }
    UNUSED_SLOT(3) UNUSED_SLOT(4) UNUSED_SLOT(5) UNUSED_SLOT(6) UNUSED_SLOT(7) UNUSED_SLOT(8) UNUSED_SLOT(9)
    UNUSED_SLOT(10) UNUSED_SLOT(11) UNUSED_SLOT(12) UNUSED_SLOT(13) UNUSED_SLOT(14) UNUSED_SLOT(15) UNUSED_SLOT(16)
    UNUSED_SLOT(17) UNUSED_SLOT(18) UNUSED_SLOT(19) UNUSED_SLOT(20) UNUSED_SLOT(21) UNUSED_SLOT(22) UNUSED_SLOT(23)
    UNUSED_SLOT(24) UNUSED_SLOT(25) UNUSED_SLOT(26) UNUSED_SLOT(27)
#undef UNUSED_SLOT
    HRESULT SaveObjectToStream(IStream* stream, IUnknown*, LONG flags, LONG, LONG) override
    {
        FakeSettings::log().push_back("save " + std::to_string(flags));
        return stream->Write("mark", 4, nullptr);
    }
    HRESULT LoadObjectFromStream(IStream* stream, IUnknown*, LONG flags, LONG, LONG, LONG, LONG) override
    {
        char mark[5] = {};
        const HRESULT hr = stream->Read(mark, 4, nullptr);
        FakeSettings::log().push_back("load " + std::to_string(flags) + " " + mark);
        return hr;
    }
};

// An object without an archive of its own is copied through the serializer:
// saved into a stream, loaded from its start into a new object of its class.
TEST_F(Persistence, AnObjectWithoutAnArchiveIsClonedThroughAStream)
{
    ASSERT_EQ(S_OK, plat::com::registerClass({ CLSID_StreamOnly, &createSimple<StreamOnly>, L"", L"" }));
    ASSERT_EQ(S_OK, plat::com::registerClass({ CLSID_QorPersistSerializer, &createSimple<MarkingSerializer>, L"", L"" }));
    IUnknown* source = new StreamOnly;
    IUnknown* clone = nullptr;
    EXPECT_EQ(S_OK, cloneInto(nullptr, source, &clone));
    EXPECT_EQ((std::vector<std::string>{"save 16777215", "load 553648127 mark"}), FakeSettings::log()); // 0xFFFFFF, 0x20FFFFFF
    ASSERT_NE(nullptr, clone);
    EXPECT_NE(source, clone);
    plat::com::Ref<IPersistStream> made;
    CLSID clsid = GUID_NULL;
    ASSERT_EQ(S_OK, clone->QueryInterface(IID_IPersistStream, made.out()));
    EXPECT_EQ(S_OK, made.p->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualGUID(CLSID_StreamOnly, clsid));
    clone->Release();
    ASSERT_EQ(S_OK, plat::com::unregisterClass(CLSID_QorPersistSerializer));
    EXPECT_EQ(E_FAIL, cloneInto(nullptr, source)); // without a serializer
    source->Release();
    EXPECT_EQ(S_OK, plat::com::unregisterClass(CLSID_StreamOnly));
    // An object saved into an archive needs a target that loads from one.
    ASSERT_EQ(S_OK, plat::com::registerClass({ CLSID_FakeSettings, &createSimple<StreamOnly>, L"", L"" }));
    Settings object(FakeSettings::make());
    EXPECT_EQ(E_UNEXPECTED, cloneInto(nullptr, static_cast<IQorObject*>(object.p)));
    EXPECT_EQ(S_OK, FakeSettings::registerClass());
}

TEST_F(Persistence, AStreamHoldsTheSettingsByteForByteAndGetSizeMaxCountsThem)
{
    Settings object(FakeSettings::make());
    object->count = 7;
    object->markDirty();
    const std::vector<uint8_t> bytes = savedBytes(object.p, 1);
    EXPECT_EQ(S_FALSE, object->IsDirty());
    std::vector<uint8_t> expected = { 'Q', 'P', 'S', 'O', 1, 0, 0xF0, 0x3C, 0x1A, 0x6E, 0x20, 0x73, 0x51, 0x4A, 0x9B,
        0x41, 0, 0, 0, 0, 0, 1, 3, 0, 0, 0 };
    auto text = [&](const char* s) {
        expected.insert(expected.end(), { uint8_t(std::strlen(s)), 0, 0, 0 });
        for (; *s; ++s) expected.insert(expected.end(), { uint8_t(*s), 0 });
    };
    text("Gain");
    expected.insert(expected.end(), { VT_R8, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F });
    text("Name");
    expected.insert(expected.end(), { VT_BSTR, 0, 0, 0, 0, 0 }); // a null name is saved empty
    text("Count");
    expected.insert(expected.end(), { VT_I4, 0, 7, 0, 0, 0 });
    EXPECT_EQ(expected, bytes);
    ULARGE_INTEGER size{};
    EXPECT_EQ(S_OK, object->GetSizeMax(&size));
    EXPECT_EQ(bytes.size(), size.QuadPart);
    EXPECT_EQ(E_POINTER, object->GetSizeMax(nullptr));

    // The counter GetSizeMax saves into: a stream that only counts what is written.
    uint64_t counted = 0;
    ccStreamCounter counter(&counted);
    void* got = nullptr;
    for (const IID* iid : { &IID_IUnknown, &IID_IStream }) {
        EXPECT_EQ(S_OK, counter.QueryInterface(*iid, &got));
        EXPECT_EQ(static_cast<IStream*>(&counter), got);
    }
    EXPECT_EQ(E_NOINTERFACE, counter.QueryInterface(IID_IPersist, &got));
    EXPECT_EQ(nullptr, got);
    EXPECT_EQ(E_POINTER, counter.QueryInterface(IID_IStream, nullptr));
    uint8_t byte = 0;
    ULONG written = 0;
    EXPECT_EQ(E_FAIL, counter.Read(&byte, 1, &written));
    EXPECT_EQ(S_OK, counter.Write(&byte, 3, &written));
    EXPECT_EQ(std::make_pair(uint64_t{ 3 }, ULONG{ 3 }), std::make_pair(counted, written));

    Settings loaded(FakeSettings::make());
    EXPECT_EQ(S_OK, loadBytes(loaded.p, bytes));
    EXPECT_EQ(7, loaded->count);
}

TEST_F(Persistence, ABadStreamLeavesTheObjectAsItWas)
{
    Settings object(FakeSettings::make());
    object->count = 5;
    const std::vector<uint8_t> good = savedBytes(object.p);
    object->count = 6;

    auto changed = [&](size_t at, uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const std::pair<std::vector<uint8_t>, HRESULT> cases[] = {
        { std::vector<uint8_t>(good.begin(), good.end() - 1), STG_E_READFAULT },
        { std::vector<uint8_t>(good.begin(), good.begin() + 5), STG_E_READFAULT },
        { changed(0, 'X'), STG_E_INVALIDHEADER },
        { changed(4, 2), STG_E_OLDDLL },
        { changed(6, 0), E_INVALIDARG }, // another class
        { changed(good.size() - 6, 0x77), STG_E_INVALIDHEADER }, // an unknown value type
        { [&] { auto b = changed(good.size() - 8, 0); b[good.size() - 7] = 0; return b; }(),
          STG_E_INVALIDHEADER }, // a NUL in the key
    };
    for (const auto& [bytes, hr] : cases) {
        EXPECT_EQ(hr, loadBytes(object.p, bytes));
        EXPECT_EQ(6, object->count);
    }
    ASSERT_EQ(S_OK, plat::com::unregisterClass(CLSID_QorPersistSerializer));
    plat::com::Ref<IStream> in(streamOf(good));
    EXPECT_EQ(E_FAIL, object->Load(in.p));
    EXPECT_EQ(E_FAIL, object->Save(in.p, 0));
}

// The Tag carries each array through the object's archive, the stream and back.
TEST_F(Persistence, OneDimensionalArraysOfEachScalarTypeRoundTripWithTheirLowerBound)
{
    for (VARTYPE element : { VT_UI1, VT_I2, VT_BOOL, VT_I4, VT_ERROR, VT_R4, VT_R8, VT_BSTR }) {
        const SAFEARRAYBOUND bound{ 3, -2 };
        plat::com::Variant tag, back;
        tag.vt = VT_ARRAY | element;
        tag.parray = SafeArrayCreate(element, 1, &bound);
        auto* data = static_cast<uint8_t*>(tag.parray->pvData);
        for (size_t i = 0; element != VT_BSTR && i < 3 * tag.parray->cbElements; ++i) data[i] = uint8_t(i * 37 + 1);
        if (element == VT_BSTR) { // [0] stays null
            reinterpret_cast<BSTR*>(data)[1] = SysAllocString(u"");
            reinterpret_cast<BSTR*>(data)[2] = SysAllocString(u"ab");
        }
        Settings object(FakeSettings::make()), loaded(FakeSettings::make());
        ASSERT_EQ(S_OK, object->put_Tag(tag));
        ASSERT_EQ(S_OK, loadBytes(loaded.p, savedBytes(object.p))) << element;
        EXPECT_EQ(S_OK, loaded->get_Tag(&back));
        EXPECT_EQ(-2, back.vt == tag.vt ? back.parray->rgsabound[0].lLbound : 0);
        EXPECT_EQ(savedBytes(object.p), savedBytes(loaded.p)) << element; // every element read back
    }
}

TEST_F(Persistence, BadArraysInAStreamAreRefusedAndLeaveTheObjectAsItWas)
{
    const SAFEARRAYBOUND bound{ 3, 3 };
    plat::com::Variant tag;
    tag.vt = VT_ARRAY | VT_UI1;
    tag.parray = SafeArrayCreate(VT_UI1, 1, &bound);
    Settings object(FakeSettings::make());
    object->put_Tag(tag);
    // The Tag comes first: its type at 36, then dimensions, lower bound, count and three bytes.
    const std::vector<uint8_t> good = savedBytes(object.p);
    ASSERT_EQ(0x2011, good[36] | good[37] << 8);
    const std::pair<size_t, std::vector<uint8_t>> cases[] = { { 44, { 0, 0, 0, 1 } }, // past the stream's end
        { 44, { 0xFF, 0xFF, 0xFF, 0x7F } }, // an upper bound past 32 bits
        { 36, { 0x14, 0x20 } }, { 36, { 0x0C, 0x20 } }, { 38, { 2, 0 } } }; // of I8, of VARIANT, two dimensions
    for (const auto& [at, values] : cases) {
        auto bytes = good;
        std::copy(values.begin(), values.end(), bytes.begin() + at);
        EXPECT_EQ(STG_E_INVALIDHEADER, loadBytes(object.p, bytes)) << at;
        EXPECT_EQ(good, savedBytes(object.p));
    }
}


// One archive used from several threads at once: each adds, reads, finds and
// removes items of its own, and the others' changes never get in its way.
TEST(ArchiveCollection, OneArchiveServesSeveralThreadsAtOnce)
{
    Archive a;
    std::vector<std::thread> threads;
    for (LONG t = 0; t < 3; ++t)
        threads.emplace_back([archive = a.p, t] {
            Archive own; // an object value, found by identity
            for (LONG i = 0; i < 300; ++i) {
                const LONG n = t * 1000 + i;
                const std::u16string name = u"k" + std::u16string(1, char16_t(u'0' + t));
                const VARIANT value = i % 2 ? i4(n) : typed(VT_DISPATCH, static_cast<IQorArchive*>(own.p));
                VARIANT key = testText(name.c_str()), out = {};
                EXPECT_EQ(S_OK, archive->AddAt(value, name.c_str(), kArchiveAppend));
                EXPECT_EQ(S_OK, archive->get_Item(key, &out));
                EXPECT_EQ(value.vt, out.vt);
                EXPECT_EQ(value.lVal, out.lVal);
                VariantClear(&out);
                LONG at = -1;
                EXPECT_EQ(S_OK, archive->FindItem(value, &at));
                EXPECT_GE(at, 0);
                EXPECT_EQ(S_OK, archive->Remove(key));
                VariantClear(&key);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(0, countOf(a.p));
}

const CLSID CLSID_Tagged = { 0x6E1A3CF1, 0x7320, 0x4A51, { 0x9B, 0x41, 0, 0, 0, 0, 0, 0x01 } };

// A free-threaded persistent object that keeps its Tag alone.
class Tagged : public ccArchiveBase, public IPersistStreamImplBase {
public:
    BEGIN_COM_MAP(Tagged)
    COM_INTERFACE_ENTRY2(IUnknown, IQorObject)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY2(IDispatch, IQorObject)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStream)
    COM_INTERFACE_ENTRY(IPersistStream)
    COM_INTERFACE_ENTRY(IQorPersistArchive)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    HRESULT GetClassID(CLSID* clsid) override { return *clsid = CLSID_Tagged, S_OK; }
    HRESULT Persist(IQorArchive* archive, LONG flags) override { return ccArchiveBase::Persist(archive, flags); }
    HRESULT CloneCopied(VARIANT_BOOL) override { return S_OK; }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG) override { return S_OK; }
};

// Two objects whose Tags are each other, read and cloned from two threads at
// once: neither holds a lock of its own while it counts or calls the other.
TEST_F(Persistence, ObjectsThatReferToEachOtherAreUsedFromTwoThreadsAtOnce)
{
    ASSERT_EQ(S_OK, plat::com::registerClass({ CLSID_Tagged, &plat::com::createInstance<Tagged>, L"", L"" }));
    IQorObject* pair[2] = {};
    for (IQorObject*& object : pair)
        ASSERT_EQ(S_OK, plat::com::createInstance<Tagged>(nullptr, IID_IQorObject, reinterpret_cast<void**>(&object)));
    for (int i = 0; i < 2; ++i) ASSERT_EQ(S_OK, pair[i]->put_Tag(typed(VT_DISPATCH, pair[1 - i])));
    const std::function<void(IQorObject*)> uses[] = {
        [](IQorObject* object) {
            VARIANT tag = {};
            EXPECT_EQ(S_OK, object->get_Tag(&tag));
            VariantClear(&tag);
        },
        [](IQorObject* object) {
            IQorObject* copy = nullptr;
            ASSERT_EQ(S_OK, object->Clone(&copy));
            EXPECT_EQ(S_OK, copy->put_Tag(VARIANT{})); // its partner's clone goes, and with it its Tag
            copy->Release();
        },
    };
    for (const auto& use : uses) {
        std::vector<std::function<void()>> threads;
        for (IQorObject* object : pair)
            threads.push_back([use, object] {
                for (int i = 0; i < 100; ++i) use(object);
            });
        ASSERT_TRUE(test_support::finishedInTime(threads)); // else they are left to the hung threads
    }
    EXPECT_EQ(S_OK, pair[0]->put_Tag(VARIANT{}));
    EXPECT_EQ(0u, pair[1]->Release()); // and with it its Tag
    EXPECT_EQ(0u, pair[0]->Release());
}

} // namespace
