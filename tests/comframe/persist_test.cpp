#include "comframe/archive.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/safearray.h"
#include "tests/support/com_counted.h"
#include "tests/support/fake_persistent.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

class Persistence : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, ccRegisterSerializer());
        ASSERT_EQ(S_OK, FakeSettings::registerClass());
        FakeSettings::log().clear();
    }
};

struct Archive {
    explicit Archive(LONG mode)
    {
        EXPECT_EQ(S_OK, CQorArchive::create(&p));
        static_cast<IQorArchive*>(p)->AddRef();
        p->SetMode(mode);
    }
    ~Archive() { static_cast<IQorArchive*>(p)->Release(); }
    CQorArchive* p = nullptr;
};

std::vector<std::u16string> keysOf(CQorArchive* a)
{
    std::vector<std::u16string> keys;
    LONG count = 0;
    a->get_Count(&count);
    for (LONG i = 0; i < count; ++i) {
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
    LARGE_INTEGER start{0};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
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
    LARGE_INTEGER start{0};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::vector<uint8_t> savedBytes(CComObject<FakeSettings>* object)
{
    IStream* stream = streamOf({});
    EXPECT_EQ(S_OK, object->Save(stream, 0));
    std::vector<uint8_t> bytes = bytesOf(stream);
    stream->Release();
    return bytes;
}

VARIANT i4(LONG n)
{
    VARIANT v = {};
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

TEST_F(Persistence, TheTagIsSavedOnlyWhenSetAndAMissingOneIsRemovedUnlessKept)
{
    auto* object = FakeSettings::make();
    Archive none(0x40FFFFFF);
    ASSERT_EQ(S_OK, object->Persist(none.p, 0x40FFFFFF));
    EXPECT_EQ((std::vector<std::u16string>{ u"Gain", u"Name", u"Count" }), keysOf(none.p));

    const struct {
        LONG flags;
        VARTYPE after;
    } cases[] = { { 0x00FFFFFF, VT_EMPTY }, { 0x20FFFFFF, VT_I4 } };
    for (const auto& c : cases) {
        object->put_Tag(i4(9));
        none.p->SetMode(c.flags);
        ASSERT_EQ(S_OK, object->Persist(none.p, c.flags));
        VARIANT tag = {};
        object->get_Tag(&tag);
        EXPECT_EQ(c.after, tag.vt) << c.flags;
    }
    Archive tagged(0x40FFFFFF);
    ASSERT_EQ(S_OK, object->Persist(tagged.p, 0x40FFFFFF));
    EXPECT_EQ(u"Tag", keysOf(tagged.p).front());
    object->Release();
}

TEST_F(Persistence, ACollectionSavesItemsWithTheirKeysAndLoadsBackEqual)
{
    Archive source(0), saved(0x40FFFFFF), loaded(0);
    VARIANT one = i4(1), two = i4(2);
    source.p->AddAt(one, u"first", kArchiveAppend);
    source.p->Add(two, kArchiveAppend);
    ASSERT_EQ(S_OK, source.p->Persist(saved.p, 0x40FFFFFF));
    EXPECT_EQ((std::vector<std::u16string>{ u"Item0", u"Key0", u"Item1" }), keysOf(saved.p));
    saved.p->SetMode(0x00FFFFFF);
    ASSERT_EQ(S_OK, loaded.p->Persist(saved.p, 0x00FFFFFF));
    EXPECT_EQ((std::vector<std::u16string>{ u"first", u"" }), keysOf(loaded.p));
    VARIANT value = {};
    loaded.p->GetItem(1, &value);
    EXPECT_EQ(2, value.lVal);

    // A key that is no text fails the load after the first item: nothing changes.
    VARIANT null = {};
    null.vt = VT_NULL;
    saved.p->SetMode(0x40FFFFFF);
    saved.p->WriteProperty(u"Item2", &one, nullptr);
    saved.p->WriteProperty(u"Key2", &null, nullptr);
    saved.p->SetMode(0x00FFFFFF);
    source.p->Clear();
    EXPECT_TRUE(FAILED(source.p->Persist(saved.p, 0x00FFFFFF)));
    LONG count = -1;
    source.p->get_Count(&count);
    EXPECT_EQ(0, count);

    // A collection is no archive for itself, saving or loading.
    for (const LONG mode : {0x40FFFFFF, 0x00FFFFFF}) {
        saved.p->SetMode(mode);
        EXPECT_EQ(E_INVALIDARG, saved.p->Persist(saved.p, mode)) << mode;
    }
    saved.p->get_Count(&count);
    EXPECT_EQ(5, count);
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

TEST_F(Persistence, CloneFailures)
{
    CountedDispatch plain; // no object of the suite
    Archive archive(0); // an object of another class
    auto* object = FakeSettings::make();
    const struct {
        IUnknown* source;
        IUnknown* target;
        HRESULT hr;
    } cases[] = { { &plain, nullptr, E_NOINTERFACE },
        { static_cast<IQorObject*>(object), static_cast<IQorArchive*>(archive.p), E_INVALIDARG } };
    for (const auto& c : cases) {
        IUnknown* target = c.target;
        if (target) target->AddRef();
        HRESULT hr = S_OK;
        try {
            ccCloneObject(&target, c.source);
        } catch (const ccCOMError& e) {
            hr = e.hr();
        }
        EXPECT_EQ(c.hr, hr);
        if (target) target->Release();
    }
    object->Release();
}

TEST_F(Persistence, AStreamHoldsTheSettingsByteForByteAndGetSizeMaxCountsThem)
{
    auto* object = FakeSettings::make();
    object->count = 7;
    object->markDirty();
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, 1, &stream);
    ASSERT_EQ(S_OK, object->Save(stream, 1));
    EXPECT_EQ(S_FALSE, object->IsDirty());
    const std::vector<uint8_t> bytes = bytesOf(stream);
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

    auto* loaded = FakeSettings::make();
    IStream* in = streamOf(bytes);
    EXPECT_EQ(S_OK, loaded->Load(in));
    EXPECT_EQ(7, loaded->count);
    in->Release();
    loaded->Release();
    stream->Release();
    object->Release();
}

TEST_F(Persistence, ABadStreamLeavesTheObjectAsItWas)
{
    auto* object = FakeSettings::make();
    object->count = 5;
    IStream* stream = nullptr;
    CreateStreamOnHGlobal(nullptr, 1, &stream);
    ASSERT_EQ(S_OK, object->Save(stream, 0));
    const std::vector<uint8_t> good = bytesOf(stream);
    stream->Release();
    object->count = 6;

    auto changed = [&](size_t at, uint8_t value) {
        auto bytes = good;
        bytes[at] = value;
        return bytes;
    };
    const struct {
        std::vector<uint8_t> bytes;
        HRESULT hr;
    } cases[] = {
        { std::vector<uint8_t>(good.begin(), good.end() - 1), STG_E_READFAULT },
        { std::vector<uint8_t>(good.begin(), good.begin() + 5), STG_E_READFAULT },
        { changed(0, 'X'), STG_E_INVALIDHEADER },
        { changed(4, 2), STG_E_OLDDLL },
        { changed(6, 0), E_INVALIDARG }, // another class
        { changed(good.size() - 6, 0x77), STG_E_INVALIDHEADER }, // an unknown value type
        { [&] { auto b = changed(good.size() - 8, 0); b[good.size() - 7] = 0; return b; }(),
          STG_E_INVALIDHEADER }, // a NUL in the key
    };
    for (const auto& c : cases) {
        IStream* in = streamOf(c.bytes);
        EXPECT_EQ(c.hr, object->Load(in));
        EXPECT_EQ(6, object->count);
        in->Release();
    }
    ASSERT_EQ(S_OK, plat::com::unregisterClass(CLSID_QorPersistSerializer));
    IStream* in = streamOf(good);
    EXPECT_EQ(E_FAIL, object->Load(in));
    EXPECT_EQ(E_FAIL, object->Save(in, 0));
    in->Release();
    object->Release();
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
        auto *object = FakeSettings::make(), *loaded = FakeSettings::make();
        ASSERT_EQ(S_OK, object->put_Tag(tag));
        plat::com::Ref<IStream> in(streamOf(savedBytes(object)));
        ASSERT_EQ(S_OK, loaded->Load(in.p)) << element;
        EXPECT_EQ(S_OK, loaded->get_Tag(&back));
        EXPECT_EQ(-2, back.vt == tag.vt ? back.parray->rgsabound[0].lLbound : 0);
        EXPECT_EQ(savedBytes(object), savedBytes(loaded)) << element; // every element read back
        loaded->Release();
        object->Release();
    }
}

TEST_F(Persistence, BadArraysInAStreamAreRefusedAndLeaveTheObjectAsItWas)
{
    const SAFEARRAYBOUND bound{ 3, 3 };
    plat::com::Variant tag;
    tag.vt = VT_ARRAY | VT_UI1;
    tag.parray = SafeArrayCreate(VT_UI1, 1, &bound);
    auto* object = FakeSettings::make();
    object->put_Tag(tag);
    // The Tag comes first: its type at 36, then dimensions, lower bound, count and three bytes.
    const std::vector<uint8_t> good = savedBytes(object);
    ASSERT_EQ(0x2011, good[36] | good[37] << 8);
    const std::pair<size_t, std::vector<uint8_t>> cases[] = { { 44, { 0, 0, 0, 1 } }, // past the stream's end
        { 44, { 0xFF, 0xFF, 0xFF, 0x7F } }, // an upper bound past 32 bits
        { 36, { 0x14, 0x20 } }, { 36, { 0x0C, 0x20 } }, { 38, { 2, 0 } } }; // of I8, of VARIANT, two dimensions
    for (const auto& [at, values] : cases) {
        auto bytes = good;
        std::copy(values.begin(), values.end(), bytes.begin() + at);
        plat::com::Ref<IStream> in(streamOf(bytes));
        EXPECT_EQ(STG_E_INVALIDHEADER, object->Load(in.p)) << at;
        EXPECT_EQ(good, savedBytes(object));
    }
    object->Release();
}

} // namespace
