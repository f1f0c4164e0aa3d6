#include "platform/com/serializer.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/holders.h"
#include "platform/com/safearray.h"
#include "platform/com/simpleobject.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

const IID IID_IQorArchive = { 0x6E1A3C20, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };
const IID IID_IQorPersistArchive = { 0x6E1A3C21, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };
const IID IID_IQorArchiveStore = { 0x6E1A3C22, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };
const IID IID_IQorPersistSerializer
    = { 0x6E1A3C23, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };
const CLSID CLSID_QorPersistSerializer
    = { 0x6E1A3C24, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };

namespace {

constexpr uint32_t kMagic = 0x4F535051; // "QPSO"
constexpr uint32_t kNullText = 0xFFFFFFFF;
// Deeper nesting is a cycle when saving and hostile input when loading.
constexpr unsigned kMaxDepth = 64;

std::atomic<plat::com::ArchiveFactory> g_factory{nullptr};

using plat::com::Ref;
using plat::com::Variant;

HRESULT classOf(IUnknown* object, CLSID* clsid)
{
    Ref<IPersist> persist;
    if (SUCCEEDED(object->QueryInterface(IID_IPersist, persist.out())) && persist.p)
        return persist.p->GetClassID(clsid);
    Ref<IPersistStream> stream;
    if (SUCCEEDED(object->QueryInterface(IID_IPersistStream, stream.out())) && stream.p)
        return stream.p->GetClassID(clsid);
    return E_NOINTERFACE;
}

HRESULT newArchive(IQorArchiveStore** store)
{
    const plat::com::ArchiveFactory factory = g_factory.load();
    return factory ? factory(store) : E_UNEXPECTED;
}

class Writer {
public:
    void bytes(const void* p, size_t n)
    {
        const auto* b = static_cast<const uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    template <class T> void le(T value)
    {
        for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<uint8_t>(uint64_t(value) >> (8 * i)));
    }
    void text(BSTR s)
    {
        if (!s) return le<uint32_t>(kNullText);
        const UINT n = SysStringLen(s);
        le<uint32_t>(n);
        for (UINT i = 0; i < n; ++i) le<uint16_t>(s[i]);
    }
    std::vector<uint8_t> out;
};

// The element types an array may hold, and their size in the stream (0: text).
bool isArrayElement(VARTYPE vt)
{
    switch (vt) {
    case VT_UI1:
    case VT_I2:
    case VT_BOOL:
    case VT_I4:
    case VT_ERROR:
    case VT_R4:
    case VT_R8:
    case VT_BSTR: return true;
    default: return false;
    }
}

uint32_t elementSize(VARTYPE vt)
{
    switch (vt) {
    case VT_UI1: return 1;
    case VT_I2:
    case VT_BOOL: return 2;
    case VT_R8: return 8;
    case VT_BSTR: return 0;
    default: return 4;
    }
}

// Holds an array's data for the scope.
struct ArrayAccess {
    explicit ArrayAccess(SAFEARRAY* array)
        : array(array)
        , hr(SafeArrayAccessData(array, &data))
    {
    }
    ~ArrayAccess()
    {
        if (SUCCEEDED(hr)) (void)SafeArrayUnaccessData(array); // accessed here: cannot fail
    }
    SAFEARRAY* array;
    void* data = nullptr;
    HRESULT hr;
};

template <class T> void writeElements(Writer& w, const void* data, ULONG count)
{
    for (ULONG i = 0; i < count; ++i) {
        T bits;
        std::memcpy(&bits, static_cast<const uint8_t*>(data) + size_t(i) * sizeof(T), sizeof(T));
        w.le(bits);
    }
}

HRESULT saveArray(Writer& w, const VARIANT& v)
{
    const VARTYPE element = v.vt & ~VT_ARRAY;
    if (!isArrayElement(element)) return DISP_E_BADVARTYPE;
    if (!v.parray) {
        w.le<uint16_t>(0);
        return S_OK;
    }
    VARTYPE held = VT_EMPTY;
    LONG lower = 0;
    if (SafeArrayGetDim(v.parray) != 1 || FAILED(SafeArrayGetVartype(v.parray, &held)) || held != element
        || FAILED(SafeArrayGetLBound(v.parray, 1, &lower)))
        return DISP_E_BADVARTYPE;
    const ULONG count = v.parray->rgsabound[0].cElements;
    const ArrayAccess access(v.parray);
    if (FAILED(access.hr)) return access.hr;
    w.le<uint16_t>(1);
    w.le<uint32_t>(static_cast<uint32_t>(lower));
    w.le<uint32_t>(count);
    switch (elementSize(element)) {
    case 0:
        for (ULONG i = 0; i < count; ++i) w.text(static_cast<const BSTR*>(access.data)[i]);
        break;
    case 1: writeElements<uint8_t>(w, access.data, count); break;
    case 2: writeElements<uint16_t>(w, access.data, count); break;
    case 4: writeElements<uint32_t>(w, access.data, count); break;
    default: writeElements<uint64_t>(w, access.data, count); break;
    }
    return S_OK;
}

HRESULT saveObject(Writer& w, IUnknown* object, LONG flags, unsigned depth);

HRESULT saveValue(Writer& w, const VARIANT& v, LONG flags, unsigned depth)
{
    w.le<uint16_t>(v.vt);
    if (v.vt & VT_ARRAY) return saveArray(w, v);
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL: return S_OK;
    case VT_UI1: w.le<uint8_t>(v.bVal); return S_OK;
    case VT_I2: w.le<uint16_t>(static_cast<uint16_t>(v.iVal)); return S_OK;
    case VT_BOOL: w.le<uint16_t>(static_cast<uint16_t>(v.boolVal)); return S_OK;
    case VT_I4: w.le<uint32_t>(static_cast<uint32_t>(v.lVal)); return S_OK;
    case VT_ERROR: w.le<uint32_t>(static_cast<uint32_t>(v.scode)); return S_OK;
    case VT_R4: {
        uint32_t bits;
        std::memcpy(&bits, &v.fltVal, 4);
        w.le(bits);
        return S_OK;
    }
    case VT_R8: {
        uint64_t bits;
        std::memcpy(&bits, &v.dblVal, 8);
        w.le(bits);
        return S_OK;
    }
    case VT_BSTR: w.text(v.bstrVal); return S_OK;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        w.le<uint8_t>(v.punkVal ? 1 : 0);
        return v.punkVal ? saveObject(w, v.punkVal, flags, depth + 1) : S_OK;
    default: return DISP_E_BADVARTYPE;
    }
}

HRESULT saveObject(Writer& w, IUnknown* object, LONG flags, unsigned depth)
{
    if (depth > kMaxDepth) return E_UNEXPECTED;
    CLSID clsid;
    HRESULT hr = classOf(object, &clsid);
    if (FAILED(hr)) return hr;
    Ref<IQorPersistArchive> persist;
    hr = object->QueryInterface(IID_IQorPersistArchive, persist.out());
    if (FAILED(hr)) return hr;
    Ref<IQorArchiveStore> store;
    Ref<IQorArchive> archive;
    if (FAILED(hr = newArchive(&store.p))) return hr;
    if (FAILED(hr = store.p->QueryInterface(IID_IQorArchive, archive.out()))) return hr;
    const LONG mode = kPersistSaving | (flags & 0xFFFFFF);
    if (FAILED(hr = store.p->SetMode(mode)) || FAILED(hr = persist.p->Persist(archive.p, mode))) return hr;
    LONG count = 0;
    if (FAILED(hr = archive.p->get_Count(&count))) return hr;
    if (count < 0) return E_UNEXPECTED;
    w.le(kMagic);
    w.le(plat::com::kSerializerVersion);
    w.le(clsid.Data1);
    w.le(clsid.Data2);
    w.le(clsid.Data3);
    w.bytes(clsid.Data4, 8);
    w.le<uint32_t>(static_cast<uint32_t>(count));
    for (LONG i = 0; i < count; ++i) {
        BSTR key = nullptr;
        if (FAILED(hr = archive.p->get_Key(i, &key))) return hr;
        w.text(key);
        SysFreeString(key);
        Variant index, value;
        index.vt = VT_I4;
        index.lVal = i;
        if (FAILED(hr = archive.p->get_Item(index, &value))) return hr;
        if (FAILED(hr = saveValue(w, value, flags, depth))) return hr;
    }
    return S_OK;
}

// Reads exactly what is asked for, or fails with STG_E_READFAULT.
class Reader {
public:
    explicit Reader(IStream* stream)
        : stream_(stream)
    {
    }
    HRESULT bytes(void* p, ULONG n)
    {
        auto* b = static_cast<uint8_t*>(p);
        while (n) {
            ULONG got = 0;
            const HRESULT hr = stream_->Read(b, n, &got);
            if (FAILED(hr)) return hr;
            if (got == 0 || got > n) return STG_E_READFAULT;
            b += got;
            n -= got;
        }
        return S_OK;
    }
    template <class T> HRESULT le(T* value)
    {
        uint8_t b[sizeof(T)];
        const HRESULT hr = bytes(b, sizeof b);
        if (FAILED(hr)) return hr;
        uint64_t v = 0;
        for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(b[i]) << (8 * i);
        *value = static_cast<T>(v);
        return S_OK;
    }
    // Grows with what the stream really holds: a huge count in a short stream allocates little.
    HRESULT text(std::u16string* s, bool* isNull)
    {
        uint32_t n;
        HRESULT hr = le(&n);
        if (FAILED(hr)) return hr;
        *isNull = n == kNullText;
        s->clear();
        if (*isNull) return S_OK;
        uint8_t chunk[4096];
        while (n) {
            const uint32_t units = n < sizeof chunk / 2 ? n : sizeof chunk / 2;
            if (FAILED(hr = bytes(chunk, units * 2))) return hr;
            for (uint32_t i = 0; i < units; ++i) s->push_back(char16_t(chunk[2 * i] | chunk[2 * i + 1] << 8));
            n -= units;
        }
        return S_OK;
    }

private:
    IStream* stream_;
};

struct Parsed;
struct ParsedText {
    std::u16string units;
    bool null = true;
};
struct ParsedItem {
    std::u16string key;
    bool keyNull = true;
    VARTYPE vt = VT_EMPTY;
    uint64_t bits = 0; // scalars
    std::u16string text;
    bool textNull = true;
    std::unique_ptr<Parsed> object; // null for a null interface
    // Arrays: the elements as stored, or their texts.
    bool arrayNull = true;
    int32_t lower = 0;
    uint32_t count = 0;
    std::vector<uint8_t> elements;
    std::vector<ParsedText> texts;
};
struct Parsed {
    CLSID clsid;
    std::vector<ParsedItem> items;
};

// The elements are taken as the stream gives them, so a count beyond its end
// allocates little; running out there is a malformed array, not a short stream.
HRESULT parseArray(Reader& r, ParsedItem* item)
{
    const VARTYPE element = item->vt & ~VT_ARRAY;
    if (!isArrayElement(element)) return STG_E_INVALIDHEADER;
    uint16_t dims;
    uint32_t lower, count;
    HRESULT hr = r.le(&dims);
    if (FAILED(hr) || dims == 0) return hr;
    if (dims != 1) return STG_E_INVALIDHEADER;
    if (FAILED(hr = r.le(&lower)) || FAILED(hr = r.le(&count))) return hr;
    item->arrayNull = false;
    item->lower = static_cast<int32_t>(lower);
    item->count = count;
    // The limits of a SAFEARRAY: an upper bound that fits, at most 2 GiB of elements.
    const uint32_t size = elementSize(element);
    if (int64_t(item->lower) + count - 1 > INT32_MAX
        || uint64_t(count) * (size ? size : sizeof(BSTR)) > 0x7FFFFFFFu)
        return STG_E_INVALIDHEADER;
    auto malformedIfShort = [](HRESULT result) { return result == STG_E_READFAULT ? STG_E_INVALIDHEADER : result; };
    if (size == 0) {
        for (uint32_t i = 0; i < count; ++i) {
            item->texts.emplace_back();
            if (FAILED(hr = r.text(&item->texts.back().units, &item->texts.back().null))) return malformedIfShort(hr);
        }
        return S_OK;
    }
    uint8_t chunk[4096];
    for (uint64_t left = uint64_t(count) * size; left;) {
        const auto n = static_cast<ULONG>(left < sizeof chunk ? left : sizeof chunk);
        if (FAILED(hr = r.bytes(chunk, n))) return malformedIfShort(hr);
        item->elements.insert(item->elements.end(), chunk, chunk + n);
        left -= n;
    }
    return S_OK;
}

HRESULT parseObject(Reader& r, Parsed* object, unsigned depth);

HRESULT parseValue(Reader& r, ParsedItem* item, unsigned depth)
{
    HRESULT hr = r.le(&item->vt);
    if (FAILED(hr)) return hr;
    if (item->vt & VT_ARRAY) return parseArray(r, item);
    switch (item->vt) {
    case VT_EMPTY:
    case VT_NULL: return S_OK;
    case VT_UI1: {
        uint8_t v = 0;
        hr = r.le(&v);
        item->bits = v;
        return hr;
    }
    case VT_I2:
    case VT_BOOL: {
        uint16_t v = 0;
        hr = r.le(&v);
        item->bits = v;
        return hr;
    }
    case VT_I4:
    case VT_ERROR:
    case VT_R4: {
        uint32_t v = 0;
        hr = r.le(&v);
        item->bits = v;
        return hr;
    }
    case VT_R8: return r.le(&item->bits);
    case VT_BSTR: return r.text(&item->text, &item->textNull);
    case VT_UNKNOWN:
    case VT_DISPATCH: {
        uint8_t present;
        if (FAILED(hr = r.le(&present))) return hr;
        if (present > 1) return STG_E_INVALIDHEADER;
        if (!present) return S_OK;
        item->object = std::make_unique<Parsed>();
        return parseObject(r, item->object.get(), depth + 1);
    }
    default: return STG_E_INVALIDHEADER;
    }
}

HRESULT parseObject(Reader& r, Parsed* object, unsigned depth)
{
    if (depth > kMaxDepth) return STG_E_INVALIDHEADER;
    uint32_t magic;
    uint16_t version;
    HRESULT hr;
    if (FAILED(hr = r.le(&magic))) return hr;
    if (magic != kMagic) return STG_E_INVALIDHEADER;
    if (FAILED(hr = r.le(&version))) return hr;
    if (version == 0) return STG_E_INVALIDHEADER;
    if (version > plat::com::kSerializerVersion) return STG_E_OLDDLL;
    CLSID& c = object->clsid;
    if (FAILED(hr = r.le(&c.Data1)) || FAILED(hr = r.le(&c.Data2)) || FAILED(hr = r.le(&c.Data3))
        || FAILED(hr = r.bytes(c.Data4, 8)))
        return hr;
    uint32_t count;
    if (FAILED(hr = r.le(&count))) return hr;
    for (uint32_t i = 0; i < count; ++i) {
        object->items.emplace_back();
        ParsedItem& item = object->items.back();
        if (FAILED(hr = r.text(&item.key, &item.keyNull)) || FAILED(hr = parseValue(r, &item, depth))) return hr;
        // A key is handed on as a terminated text: a NUL inside would cut it.
        if (item.key.find(u'\0') != std::u16string::npos) return STG_E_INVALIDHEADER;
    }
    return S_OK;
}

template <class T> void readElements(const std::vector<uint8_t>& stored, void* data, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i) {
        T value = 0;
        for (size_t b = 0; b < sizeof(T); ++b) value |= T(T(stored[size_t(i) * sizeof(T) + b]) << (8 * b));
        std::memcpy(static_cast<uint8_t*>(data) + size_t(i) * sizeof(T), &value, sizeof(T));
    }
}

HRESULT makeArray(const ParsedItem& item, SAFEARRAY** made)
{
    *made = nullptr;
    if (item.arrayNull) return S_OK;
    const VARTYPE element = item.vt & ~VT_ARRAY;
    const SAFEARRAYBOUND bound{ item.count, item.lower };
    SAFEARRAY* array = SafeArrayCreate(element, 1, &bound);
    if (!array) return E_OUTOFMEMORY;
    void* data = array->pvData; // new and unshared
    switch (elementSize(element)) {
    case 0:
        for (uint32_t i = 0; i < item.count; ++i) {
            const ParsedText& text = item.texts[i];
            if (text.null) continue;
            BSTR copy = SysAllocStringLen(text.units.data(), static_cast<UINT>(text.units.size()));
            if (!copy) {
                (void)SafeArrayDestroy(array); // unlocked: cannot fail
                return E_OUTOFMEMORY;
            }
            static_cast<BSTR*>(data)[i] = copy;
        }
        break;
    case 1: readElements<uint8_t>(item.elements, data, item.count); break;
    case 2: readElements<uint16_t>(item.elements, data, item.count); break;
    case 4: readElements<uint32_t>(item.elements, data, item.count); break;
    default: readElements<uint64_t>(item.elements, data, item.count); break;
    }
    *made = array;
    return S_OK;
}

HRESULT loadParsed(const Parsed& parsed, IUnknown* target, LONG flags)
{
    Ref<IQorPersistArchive> persist;
    HRESULT hr = target->QueryInterface(IID_IQorPersistArchive, persist.out());
    if (FAILED(hr)) return hr;
    Ref<IQorArchiveStore> store;
    Ref<IQorArchive> archive;
    if (FAILED(hr = newArchive(&store.p))) return hr;
    if (FAILED(hr = store.p->QueryInterface(IID_IQorArchive, archive.out()))) return hr;
    for (const ParsedItem& item : parsed.items) {
        Variant v;
        v.vt = item.vt;
        if (item.vt & VT_ARRAY) {
            if (FAILED(hr = makeArray(item, &v.parray))) {
                v.vt = VT_EMPTY;
                return hr;
            }
        }
        switch (item.vt) {
        case VT_UI1: v.bVal = static_cast<BYTE>(item.bits); break;
        case VT_I2:
        case VT_BOOL: v.iVal = static_cast<SHORT>(item.bits); break;
        case VT_I4:
        case VT_ERROR: v.lVal = static_cast<LONG>(static_cast<uint32_t>(item.bits)); break;
        case VT_R4: {
            const auto bits = static_cast<uint32_t>(item.bits);
            std::memcpy(&v.fltVal, &bits, 4);
            break;
        }
        case VT_R8: std::memcpy(&v.dblVal, &item.bits, 8); break;
        case VT_BSTR:
            v.bstrVal = nullptr;
            if (!item.textNull) {
                v.bstrVal = SysAllocStringLen(item.text.data(), static_cast<UINT>(item.text.size()));
                if (!v.bstrVal) return E_OUTOFMEMORY;
            }
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            v.vt = VT_UNKNOWN;
            v.punkVal = nullptr;
            if (item.object) {
                if (FAILED(hr = CoCreateInstance(item.object->clsid, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&v.punkVal))))
                    return hr;
                if (FAILED(hr = loadParsed(*item.object, v.punkVal, flags))) return hr;
            }
            break;
        default: break;
        }
        if (FAILED(hr = store.p->Append(item.keyNull ? nullptr : item.key.c_str(), &v))) return hr;
    }
    const LONG mode = flags & ~kPersistSaving;
    if (FAILED(hr = store.p->SetMode(mode))) return hr;
    return persist.p->Persist(archive.p, mode);
}

class SerializerStandIn final : public plat::com::SimpleObject<IQorPersistSerializer, IID_IQorPersistSerializer> {
public:
    SerializerStandIn() : SimpleObject(0) {}
#define QOR_UNUSED_SLOT(n)                                                                                             \
    HRESULT Reserved##n() override { return E_NOTIMPL; }
    QOR_UNUSED_SLOT(3) QOR_UNUSED_SLOT(4) QOR_UNUSED_SLOT(5) QOR_UNUSED_SLOT(6) QOR_UNUSED_SLOT(7)
    QOR_UNUSED_SLOT(8) QOR_UNUSED_SLOT(9) QOR_UNUSED_SLOT(10) QOR_UNUSED_SLOT(11) QOR_UNUSED_SLOT(12)
    QOR_UNUSED_SLOT(13) QOR_UNUSED_SLOT(14) QOR_UNUSED_SLOT(15) QOR_UNUSED_SLOT(16) QOR_UNUSED_SLOT(17)
    QOR_UNUSED_SLOT(18) QOR_UNUSED_SLOT(19) QOR_UNUSED_SLOT(20) QOR_UNUSED_SLOT(21) QOR_UNUSED_SLOT(22)
    QOR_UNUSED_SLOT(23) QOR_UNUSED_SLOT(24) QOR_UNUSED_SLOT(25) QOR_UNUSED_SLOT(26) QOR_UNUSED_SLOT(27)
#undef QOR_UNUSED_SLOT

    HRESULT SaveObjectToStream(IStream* stream, IUnknown* object, LONG flags, LONG, LONG) override
    {
        if (!stream || !object) return E_POINTER;
        try {
            Writer w;
            const HRESULT hr = saveObject(w, object, flags, 0);
            if (FAILED(hr)) return hr;
            const ULONG size = static_cast<ULONG>(w.out.size());
            ULONG written = 0;
            const HRESULT wrote = stream->Write(w.out.data(), size, &written);
            return SUCCEEDED(wrote) && written != size ? STG_E_MEDIUMFULL : wrote;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    HRESULT LoadObjectFromStream(IStream* stream, IUnknown* object, LONG flags, LONG, LONG, LONG, LONG) override
    {
        if (!stream || !object) return E_POINTER;
        try {
            Reader r(stream);
            Parsed parsed;
            HRESULT hr = parseObject(r, &parsed, 0);
            if (FAILED(hr)) return hr;
            CLSID clsid;
            if (FAILED(hr = classOf(object, &clsid))) return hr;
            if (clsid != parsed.clsid) return E_INVALIDARG;
            return loadParsed(parsed, object, flags);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
};

HRESULT createSerializer(IUnknown* outer, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* s = new (std::nothrow) SerializerStandIn;
    if (!s) return E_OUTOFMEMORY;
    s->AddRef();
    const HRESULT hr = s->QueryInterface(iid, ppv);
    s->Release();
    return hr;
}

} // namespace

namespace plat::com {

HRESULT registerSerializerStandIn(ArchiveFactory factory)
{
    if (!factory) return E_INVALIDARG;
    g_factory.store(factory);
    return registerClass({ CLSID_QorPersistSerializer, &createSerializer, L"", L"" });
}

} // namespace plat::com
