#include "comframe/archive.h"
#include "comframe/coretypes.h"
#include "comframe/objectbase.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"

#include "comframe/internal/archive_util.h"

#include <new>

using namespace cc_archive;

const IID IID_IQorObject = { 0x6E1A3C30, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };
const IID IID_IQorCloneBracket = { 0x6E1A3C31, 0x7320, 0x4A51, { 0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01 } };

namespace {

bool isAsciiAlnum(OLECHAR c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

bool isObject(VARTYPE vt)
{
    const VARTYPE base = vt & ~VT_BYREF;
    return base == VT_UNKNOWN || base == VT_DISPATCH;
}

} // namespace

bool ccIsValidArchiveKey(const OLECHAR* key)
{
    if (!key || !*key) return false;
    if (!isAsciiAlnum(*key) && *key != u'_' && *key != u':') return false;
    for (const OLECHAR* c = key + 1; *c; ++c)
        if (!isAsciiAlnum(*c) && *c != u'_' && *c != u':' && *c != u'.' && *c != u'-') return false;
    return true;
}

// ---- ccArchiveBase -------------------------------------------------------

HRESULT ccArchiveBase::GetLocalComputerName(BSTR* name)
{
    return ccGetLocalComputerName(name);
}

HRESULT ccArchiveBase::CreateObject(BSTR name, IUnknown** object)
{
    return ccCreateObject(name, object);
}

const IID* ccArchiveBase::dispatchInterfaces() const
{
    static const IID interfaces[] = {IID_IQorObject, GUID_NULL};
    return interfaces;
}

HRESULT ccArchiveBase::GetTypeInfoCount(UINT* count)
{
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ccArchiveBase::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    return dispatch_.getTypeInfo(static_cast<IQorObject*>(this), dispatchInterfaces(), LIBID_QoraltCore, 1, 0, info);
}

HRESULT ccArchiveBase::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return dispatch_.getIDsOfNames(static_cast<IQorObject*>(this), dispatchInterfaces(), LIBID_QoraltCore, 1, 0, names, count, ids);
}

HRESULT ccArchiveBase::Invoke(DISPID memid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    return dispatch_.invoke(static_cast<IQorObject*>(this), dispatchInterfaces(), LIBID_QoraltCore, 1, 0, memid, flags, params, result,
        excepInfo, argErr);
}

ccObjectTag::Held ccObjectTag::held() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return tag_;
}

void ccObjectTag::replace(Held tag)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        tag_.swap(tag);
    }
    // tag, the old value, goes here
}

HRESULT ccObjectTag::get(VARIANT* value) const
{
    VariantInit(value);
    const Held tag = held();
    return tag ? tag->copyToNew(value) : S_OK;
}

HRESULT ccObjectTag::put(const VARIANT& value)
{
    auto tag = std::make_shared<ccAgileVariant>();
    const HRESULT hr = tag->assign(value);
    if (FAILED(hr)) return hr;
    replace(std::move(tag));
    return S_OK;
}

void ccObjectTag::persist(IQorArchive* archive, LONG flags)
{
    Bstr key(u"Tag");
    if (flags & kPersistSaving) {
        const Held tag = held();
        if (!tag) return;
        Variant value;
        check(tag->copyToNew(&value));
        check(archive->PersistVariant(key.p, &value));
        return;
    }
    LONG position = -1;
    check(archive->FindKey(key.p, &position));
    if (position < 0) {
        if (!(flags & kPersistKeepMissing)) replace(nullptr);
        return;
    }
    Variant index, value;
    index.vt = VT_I4;
    index.lVal = position;
    check(archive->get_Item(index, &value));
    auto tag = std::make_shared<ccAgileVariant>();
    check(tag->assign(value));
    replace(std::move(tag));
}

HRESULT ccArchiveBase::get_Tag(VARIANT* value)
{
    return ccComMethod(errorContext(u"get_Tag"), nullptr, [&] {
        if (!value) return E_POINTER;
        return tag_.get(value);
    });
}

HRESULT ccArchiveBase::put_Tag(VARIANT value)
{
    return ccComMethod(errorContext(u"put_Tag"), nullptr, [&] { return tag_.put(value); });
}

HRESULT ccArchiveBase::Persist(IQorArchive* archive, LONG flags)
{
    return ccComMethod(errorContext(u"Persist"), nullptr, [&] {
        if (!archive) return E_POINTER;
        PersistTag(archive, flags);
        return S_OK;
    });
}

void ccArchiveBase::PersistTag(IQorArchive* archive, LONG flags)
{
    tag_.persist(archive, flags);
}

HRESULT ccArchiveBase::Clone(IQorObject** result)
{
    return ccComMethod(errorContext(u"Clone"), nullptr,
        [&] { return ccCloneSelf(static_cast<IQorObject*>(this), result); });
}

HRESULT ccCloneSelf(IQorObject* self, IQorObject** result)
{
    if (!result) return E_POINTER;
    *result = nullptr;
    Ref<IUnknown> clone;
    ccCloneObject(&clone.p, self);
    return clone.p->QueryInterface(IID_IQorObject, reinterpret_cast<void**>(result));
}

// ---- Cloning ---------------------------------------------------------------

void ccCloneObject(IUnknown** target, IUnknown* source)
{
    if (!target || !source) ccThrowCOMError(E_POINTER);
    Ref<IQorCloneBracket> bracket;
    if (FAILED(source->QueryInterface(IID_IQorCloneBracket, bracket.out()))) bracket.p = nullptr;
    if (bracket.p) check(bracket.p->BeginClone());
    std::vector<std::pair<IUnknown*, IUnknown*>> list;
    struct Pairs {
        std::vector<std::pair<IUnknown*, IUnknown*>>& list;
        ~Pairs()
        {
            for (auto& pair : list) pair.first->Release(), pair.second->Release();
        }
    } pairs{list};
    ccCloneInto(target, source, &list);
    for (size_t i = list.size(); i-- > 0;) {
        Ref<IQorPersistArchive> clone;
        if (FAILED(list[i].second->QueryInterface(IID_IQorPersistArchive, clone.out())) || !clone.p) continue;
        check(clone.p->CloneCopied(i == 0 ? VARIANT_FALSE : VARIANT_TRUE));
        check(clone.p->CloneFinished(-1));
    }
    if (bracket.p) check(bracket.p->EndClone());
}

void ccCloneInto(IUnknown** target, IUnknown* source, std::vector<std::pair<IUnknown*, IUnknown*>>* list)
{
    if (!target || !source || !list) ccThrowCOMError(E_POINTER);
    CLSID clsid;
    {
        Ref<IPersist> persist;
        Ref<IPersistStream> stream;
        if (SUCCEEDED(source->QueryInterface(IID_IPersist, persist.out())) && persist.p)
            check(persist.p->GetClassID(&clsid));
        else if (SUCCEEDED(source->QueryInterface(IID_IPersistStream, stream.out())) && stream.p)
            check(stream.p->GetClassID(&clsid));
        else
            ccThrowCOMError(E_NOINTERFACE);
    }
    Ref<IUnknown> made;
    if (!*target) {
        check(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, made.out()));
    } else {
        Ref<IPersist> persist;
        CLSID other;
        if (FAILED((*target)->QueryInterface(IID_IPersist, persist.out())) || !persist.p
            || FAILED(persist.p->GetClassID(&other)) || other != clsid)
            ccThrowCOMError(E_INVALIDARG);
        check((*target)->QueryInterface(IID_IUnknown, made.out()));
    }
    Ref<IUnknown> sourceIdentity;
    check(source->QueryInterface(IID_IUnknown, sourceIdentity.out()));
    list->reserve(list->size() + 1);
    sourceIdentity.p->AddRef();
    made.p->AddRef();
    list->emplace_back(sourceIdentity.p, made.p);

    Ref<IQorPersistArchive> sourcePersist;
    if (SUCCEEDED(source->QueryInterface(IID_IQorPersistArchive, sourcePersist.out())) && sourcePersist.p) {
        CQorArchive* archive = nullptr;
        check(CQorArchive::create(&archive));
        Ref<IQorArchive> held;
        held.p = archive;
        held.p->AddRef();
        check(archive->SetMode(0x40FFFFFF));
        check(sourcePersist.p->Persist(archive, 0x40FFFFFF));
        LONG count = 0;
        check(archive->get_Count(&count));
        for (LONG i = 0; i < count; ++i) {
            Variant value;
            check(archive->GetItem(i, &value));
            if (!isObject(value.vt) || !value.punkVal) continue;
            Ref<IUnknown> identity;
            check(value.punkVal->QueryInterface(IID_IUnknown, identity.out()));
            Ref<IUnknown> clone;
            for (auto& pair : *list)
                if (pair.first == identity.p) {
                    clone.p = pair.second;
                    clone.p->AddRef();
                    break;
                }
            if (!clone.p) ccCloneInto(&clone.p, identity.p, list);
            Variant replaced;
            replaced.vt = VT_UNKNOWN;
            replaced.punkVal = clone.p;
            clone.p->AddRef();
            check(archive->PutItem(i, replaced));
        }
        check(archive->SetMode(0x00FFFFFF));
        Ref<IQorPersistArchive> targetPersist;
        if (FAILED(made.p->QueryInterface(IID_IQorPersistArchive, targetPersist.out())) || !targetPersist.p)
            ccThrowCOMError(E_UNEXPECTED);
        check(targetPersist.p->BeforeCloneLoad());
        check(targetPersist.p->Persist(archive, 0x00FFFFFF));
    } else {
        Ref<IQorPersistSerializer> serializer;
        if (FAILED(CoCreateInstance(CLSID_QorPersistSerializer, nullptr, CLSCTX_ALL, IID_IQorPersistSerializer,
                serializer.out())))
            ccThrowCOMError(E_FAIL);
        Ref<IStream> stream;
        check(CreateStreamOnHGlobal(nullptr, 1, &stream.p));
        check(serializer.p->SaveObjectToStream(stream.p, source, 0xFFFFFF, 0, 0));
        LARGE_INTEGER start{0};
        check(stream.p->Seek(start, STREAM_SEEK_SET, nullptr));
        check(serializer.p->LoadObjectFromStream(stream.p, made.p, 0x20FFFFFF, 0, 0, 0, 0));
    }
    if (*target) (*target)->Release();
    *target = made.p;
    made.p = nullptr;
}

// ---- IPersistStream ---------------------------------------------------------

namespace {
HRESULT createSerializer(IQorPersistSerializer** serializer)
{
    return CoCreateInstance(CLSID_QorPersistSerializer, nullptr, CLSCTX_ALL, IID_IQorPersistSerializer,
        reinterpret_cast<void**>(serializer));
}
} // namespace

HRESULT IPersistStreamImplBase::Load(IStream* stream)
{
    Ref<IQorPersistSerializer> serializer;
    if (FAILED(createSerializer(&serializer.p))) return E_FAIL;
    return serializer.p->LoadObjectFromStream(stream, static_cast<IPersistStream*>(this), 0xFFFFFF, 0, 0, 0, 0);
}

HRESULT IPersistStreamImplBase::Save(IStream* stream, int32_t clearDirty)
{
    Ref<IQorPersistSerializer> serializer;
    if (FAILED(createSerializer(&serializer.p))) return E_FAIL;
    const HRESULT hr = serializer.p->SaveObjectToStream(stream, static_cast<IPersistStream*>(this), 0xFFFFFF, 0, 0);
    // A saved object is clean when the caller says so.
    if (SUCCEEDED(hr) && clearDirty) dirty_ = 0;
    return hr;
}

HRESULT IPersistStreamImplBase::GetSizeMax(ULARGE_INTEGER* size)
{
    if (!size) return E_POINTER;
    size->QuadPart = 0;
    ccStreamCounter counter(&size->QuadPart);
    return Save(&counter, 0);
}

HRESULT ccStreamCounter::QueryInterface(REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    const bool known = iid == IID_IUnknown || iid == IID_IStream;
    *ppv = known ? static_cast<IStream*>(this) : nullptr;
    return known ? S_OK : E_NOINTERFACE;
}

HRESULT ccStreamCounter::Write(const void*, ULONG count, ULONG* written)
{
    *size_ += count;
    if (written) *written = count; // a null "written" is allowed
    return S_OK;
}
