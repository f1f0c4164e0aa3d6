#include "platform/com/serializer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <utility>
#include <vector>

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/safearray.h"

namespace {

using plat::com::Ref;

// A VARIANT that copies as values do.
struct Value : plat::com::Variant {
    Value() = default;
    Value(const VARIANT& v) { (void)VariantCopy(this, &v); }
    Value(const Value& v) : Value(static_cast<const VARIANT&>(v)) {}
    Value& operator=(const Value& v) { return (void)VariantCopy(this, &v), *this; }
};
using Items = std::vector<std::pair<std::u16string, Value>>;

// The counting of the objects below: each goes at its last release.
template <class... Interfaces>
class Counted : public Interfaces... {
public:
    ULONG AddRef() override { return ++references_; }
    ULONG Release() override
    {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    virtual ~Counted() = default;

private:
    std::atomic<ULONG> references_{1};
};

// An archive as the framework above makes them: its items in order. The
// serializer asks it for no more than its count, keys and items by position.
class ListArchive final : public Counted<IQorArchive, IQorArchiveStore> {
public:
    static HRESULT make(IQorArchiveStore** store) { return *store = new ListArchive, S_OK; }

    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IUnknown || iid == IID_IQorArchiveStore) *ppv = static_cast<IQorArchiveStore*>(this);
        else if (iid == IID_IQorArchive || iid == IID_IDispatch) *ppv = static_cast<IQorArchive*>(this);
        else return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT SetMode(LONG) override { return S_OK; }
    HRESULT Append(LPCOLESTR key, const VARIANT* value) override
    {
        items.emplace_back(key ? key : u"", *value);
        return S_OK;
    }
    HRESULT get_Count(LONG* count) override { return *count = LONG(items.size()), S_OK; }
    HRESULT get_Key(LONG at, BSTR* key) override { return *key = SysAllocString(items[at].first.c_str()), S_OK; }
    HRESULT get_Item(VARIANT at, VARIANT* value) override { return VariantCopy(value, &items[at.lVal].second); }
    // Never asked for.
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT PersistVariant(BSTR, VARIANT*) override { return E_NOTIMPL; }
    HRESULT PersistUI1(BSTR, BYTE*) override { return E_NOTIMPL; }
    HRESULT PersistI2(BSTR, SHORT*) override { return E_NOTIMPL; }
    HRESULT PersistI4(BSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT PersistR4(BSTR, float*) override { return E_NOTIMPL; }
    HRESULT PersistR8(BSTR, double*) override { return E_NOTIMPL; }
    HRESULT PersistBoolean(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT PersistString(BSTR, BSTR*) override { return E_NOTIMPL; }
    HRESULT LoadObject(BSTR, IUnknown**) override { return E_NOTIMPL; }
    HRESULT SaveObject(BSTR, IUnknown*) override { return E_NOTIMPL; }
    HRESULT get__NewEnum(IUnknown**) override { return E_NOTIMPL; }
    HRESULT FindItem(VARIANT, LONG*) override { return E_NOTIMPL; }
    HRESULT FindKey(BSTR, LONG*) override { return E_NOTIMPL; }
    HRESULT get_Mode(LONG*) override { return E_NOTIMPL; }

    Items items;
};

const CLSID CLSID_ListSettings = {0x6E1A3CF8, 0x7320, 0x4A51, {0x9B, 0x41, 0, 0, 0, 0, 0, 0x02}};

// A persistent object whose state is its items, saved and loaded as they
// are; live counts the objects in existence. One that is not persistent
// names no class.
class Settings final : public Counted<IQorPersistArchive, IPersist> {
public:
    explicit Settings(Items held = {}, bool persistent = true) : items(std::move(held)), persistent_(persistent)
    {
        ++live;
    }
    ~Settings() { --live; }
    static HRESULT create(IUnknown* outer, REFIID iid, void** ppv)
    {
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        auto* made = new Settings;
        const HRESULT hr = made->QueryInterface(iid, ppv);
        made->Release();
        return hr;
    }

    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (iid == IID_IUnknown || iid == IID_IQorPersistArchive) *ppv = static_cast<IQorPersistArchive*>(this);
        else if (iid == IID_IPersist && persistent_) *ppv = static_cast<IPersist*>(this);
        else return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    HRESULT GetClassID(CLSID* clsid) override { return *clsid = CLSID_ListSettings, S_OK; }
    HRESULT Persist(IQorArchive* archive, LONG flags) override
    {
        Items& stored = static_cast<ListArchive*>(archive)->items;
        if (flags & kPersistSaving)
            stored = items;
        else
            items = stored;
        return S_OK;
    }
    HRESULT BeforeCloneLoad() override { return E_NOTIMPL; }
    HRESULT CloneCopied(VARIANT_BOOL) override { return E_NOTIMPL; }
    HRESULT CloneReserved() override { return E_NOTIMPL; }
    HRESULT CloneFinished(LONG) override { return E_NOTIMPL; }

    Items items;
    static inline std::atomic<int> live{0};

private:
    const bool persistent_;
};

// Values that own what they hold.
Value scalar(VARTYPE vt, double number)
{
    Value v;
    v.vt = VT_R8;
    v.dblVal = number;
    (void)VariantChangeType(&v, &v, 0, vt);
    return v;
}
Value text(const char16_t* s)
{
    Value v;
    v.vt = VT_BSTR;
    v.bstrVal = s ? SysAllocString(s) : nullptr;
    return v;
}
Value object(Settings* held)
{
    Value v;
    v.vt = VT_UNKNOWN;
    v.punkVal = held ? static_cast<IPersist*>(held) : nullptr;
    if (held) held->AddRef();
    return v;
}
Value array(VARTYPE vt, UINT dims, VARTYPE held = VT_EMPTY) // an array of held (by default vt) elements
{
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    Value v;
    v.vt = VT_ARRAY | vt;
    v.parray = dims ? SafeArrayCreate(held == VT_EMPTY ? vt : held, dims, bounds) : nullptr;
    return v;
}

class Serializer : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(plat::com::registerSerializerStandIn(&ListArchive::make), S_OK);
        ASSERT_EQ(plat::com::registerClass({CLSID_ListSettings, &Settings::create, L"", L""}), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_QorPersistSerializer, nullptr, CLSCTX_ALL, IID_IQorPersistSerializer,
                                   serializer.out()),
                  S_OK);
        live = Settings::live;
    }
    void TearDown() override { EXPECT_EQ(Settings::live, live); } // every object made has gone

    // What saving object writes; empty when it fails with expected.
    std::vector<uint8_t> save(Settings* object, HRESULT expected = S_OK)
    {
        Ref<IStream> stream;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream.p), S_OK);
        EXPECT_EQ(serializer->SaveObjectToStream(stream.p, static_cast<IPersist*>(object), 0xFFFFFF, 0, 0), expected);
        ULARGE_INTEGER size{};
        EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_CUR, &size), S_OK);
        std::vector<uint8_t> bytes(size.QuadPart);
        ULONG got = 0;
        EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
        EXPECT_EQ(stream->Read(bytes.data(), ULONG(bytes.size()), &got), S_OK);
        return bytes;
    }
    HRESULT load(Settings* object, const std::vector<uint8_t>& bytes)
    {
        Ref<IStream> stream;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, 1, &stream.p), S_OK);
        EXPECT_EQ(stream->Write(bytes.data(), ULONG(bytes.size()), nullptr), S_OK);
        EXPECT_EQ(stream->Seek(LARGE_INTEGER{0}, STREAM_SEEK_SET, nullptr), S_OK);
        return serializer->LoadObjectFromStream(stream.p, static_cast<IPersist*>(object), 0xFFFFFF, 0, 0, 0, 0);
    }

    Ref<IQorPersistSerializer> serializer;
    int live = 0;
};

// Each value type the format has, and objects within objects, load back as
// new objects of their class that save to the same bytes.
TEST_F(Serializer, EveryStoredTypeAndObjectsWithinObjectsLoadBackAsSaved)
{
    Ref<Settings> grandchild(new Settings({{u"Depth", scalar(VT_I2, 2)}}));
    Ref<Settings> child(new Settings({{u"Depth", scalar(VT_I4, 1)}, {u"Child", object(grandchild.p)}}));
    Value null, error;
    null.vt = VT_NULL;
    error.vt = VT_ERROR;
    error.scode = DISP_E_PARAMNOTFOUND;
    Ref<Settings> saved(new Settings({
        {u"Empty", Value()}, {u"Null", null}, {u"UI1", scalar(VT_UI1, 200)}, {u"I2", scalar(VT_I2, -2)},
        {u"Bool", scalar(VT_BOOL, 1)}, {u"I4", scalar(VT_I4, -70000)}, {u"Error", error},
        {u"R4", scalar(VT_R4, 0.25)}, {u"R8", scalar(VT_R8, -1.5)}, {u"Text", text(u"t\u00e9xt")},
        {u"No text", text(nullptr)}, {u"No array", array(VT_I4, 0)}, {u"No object", object(nullptr)},
        {u"Child", object(child.p)},
    }));
    const std::vector<uint8_t> bytes = save(saved.p);
    Ref<Settings> loaded(new Settings);
    ASSERT_EQ(load(loaded.p, bytes), S_OK);
    EXPECT_EQ(save(loaded.p), bytes);
    EXPECT_EQ(Settings::live, live + 6); // the loaded child and grandchild are new
}

// What the format cannot hold is refused, and nothing is written.
TEST_F(Serializer, AValueTheFormatCannotHoldIsRefusedAndNothingIsWritten)
{
    Ref<Settings> plain(new Settings({}, false));
    Ref<Settings> cycle(new Settings);
    cycle->items.emplace_back(u"Self", object(cycle.p)); // itself within itself
    Value date, reference = scalar(VT_I4, 1);
    date.vt = VT_DATE;
    reference.vt |= VT_BYREF;
    const struct {
        const char* what;
        Value value;
        HRESULT hr;
    } rows[] = {
        {"a date", date, DISP_E_BADVARTYPE},
        {"a by-reference value", reference, DISP_E_BADVARTYPE},
        {"an array of VARIANTs", array(VT_VARIANT, 1), DISP_E_BADVARTYPE},
        {"an array of two dimensions", array(VT_I4, 2), DISP_E_BADVARTYPE},
        {"an array of other elements than it says", array(VT_I4, 1, VT_R8), DISP_E_BADVARTYPE},
        {"an object of no class", object(plain.p), E_NOINTERFACE},
        {"an object within itself", object(cycle.p), E_UNEXPECTED},
    };
    for (const auto& row : rows) {
        Ref<Settings> holder(new Settings({{u"Bad", row.value}}));
        EXPECT_TRUE(save(holder.p, row.hr).empty()) << row.what;
    }
    cycle->items.clear();
}

// A bad object within an object fails the load: the object is left as it was
// and the objects made for the stream so far are gone again.
TEST_F(Serializer, ABadObjectWithinTheStreamLeavesTheObjectAsItWas)
{
    Ref<Settings> grandchild(new Settings);
    Ref<Settings> child(new Settings({{u"Child", object(grandchild.p)}}));
    Ref<Settings> parent(new Settings({{u"N", scalar(VT_I4, 1)}, {u"Child", object(child.p)}}));
    const std::vector<uint8_t> good = save(parent.p);
    // Where each object's class id is stored: its presence byte is 7 bytes
    // before, its version 2 before.
    std::vector<size_t> at;
    const std::vector<uint8_t> clsid(good.begin() + 6, good.begin() + 22);
    for (auto it = good.begin(); (it = std::search(it, good.end(), clsid.begin(), clsid.end())) != good.end(); ++it)
        at.push_back(size_t(it - good.begin()));
    ASSERT_EQ(at.size(), 3u);
    const auto changed = [&](size_t offset, uint8_t value) {
        std::vector<uint8_t> bytes = good;
        bytes[offset] = value;
        return bytes;
    };
    // Objects nested one level past the deepest that saves.
    std::vector<uint8_t> deep;
    for (int level = 0; level <= 65; ++level) {
        deep.insert(deep.end(), {'Q', 'P', 'S', 'O', 1, 0});
        deep.insert(deep.end(), clsid.begin(), clsid.end());
        if (level < 65)
            deep.insert(deep.end(), {1, 0, 0, 0, /* key */ 0, 0, 0, 0, VT_UNKNOWN, 0, /* present */ 1});
        else
            deep.insert(deep.end(), {0, 0, 0, 0});
    }
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        HRESULT hr;
    } rows[] = {
        {"a presence byte neither 0 nor 1", changed(at[1] - 7, 2), STG_E_INVALIDHEADER},
        {"a child of a newer version", changed(at[1] - 2, 2), STG_E_OLDDLL},
        {"a grandchild of no known class", changed(at[2], uint8_t(good[at[2]] ^ 0xFF)), REGDB_E_CLASSNOTREG},
        {"a stream cut within the grandchild", std::vector<uint8_t>(good.begin(), good.begin() + at[2] + 4),
         STG_E_READFAULT},
        {"objects nested too deep", deep, STG_E_INVALIDHEADER},
    };
    const int before = Settings::live;
    for (const auto& row : rows) {
        Ref<Settings> target(new Settings({{u"Kept", scalar(VT_I4, 5)}}));
        const std::vector<uint8_t> kept = save(target.p);
        EXPECT_EQ(load(target.p, row.bytes), row.hr) << row.what;
        EXPECT_EQ(save(target.p), kept) << row.what;
        EXPECT_EQ(Settings::live, before + 1) << row.what;
    }
}

} // namespace
