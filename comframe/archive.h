#pragma once
// Saving and restoring objects: the keyed archive every object writes its
// values into and reads them back from (CQorArchive), the object base that
// carries the Tag, Persist and Clone (ccArchiveBase), and IPersistStream
// through the suite's serializer (IPersistStreamImplBase).
//
// One Persist serves both directions: the archive's mode word says which
// (kPersistSaving set: saving). Typed loads never fail for a missing or
// badly typed value: they return S_FALSE, keep the caller's value and record
// the key in the archive's load-failure text.

#include "comframe/agile.h"
#include "comframe/classinfo.h"
#include "comframe/comerror.h"
#include "comframe/coretypes.h"
#include "comframe/dispatch.h"
#include "comframe/objectitfs.h"
#include "comframe/objectroot.h"
#include "platform/com/serializer.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct IQorObject : IDispatch {
    virtual HRESULT GetLocalComputerName(BSTR* name) = 0;
    virtual HRESULT Clone(IQorObject** result) = 0;
    virtual HRESULT CreateObject(BSTR name, IUnknown** object) = 0;
    virtual HRESULT get_Tag(VARIANT* value) = 0;
    virtual HRESULT put_Tag(VARIANT value) = 0;
    virtual HRESULT putref_Tag(VARIANT value) = 0;
    virtual HRESULT Persist(IQorArchive* archive, LONG flags) = 0;
};
extern const IID IID_IQorObject;

// Answered by objects that must be told when they are cloned.
struct IQorCloneBracket : IUnknown {
    virtual HRESULT Reserved3() = 0;
    virtual HRESULT Reserved4() = 0;
    virtual HRESULT Reserved5() = 0;
    virtual HRESULT Reserved6() = 0;
    virtual HRESULT BeginClone() = 0; // operation 7
    virtual HRESULT EndClone() = 0; // operation 8
};
extern const IID IID_IQorCloneBracket;

// Collection failures.
constexpr HRESULT kArchiveBadIndex = hresultOf(0x8004C180u);
constexpr HRESULT kArchiveBadIndexType = hresultOf(0x8004C181u);
constexpr HRESULT kArchiveDuplicateKey = hresultOf(0x8004C184u);
// The message of an invalid key; argument 1 is the key.
constexpr uint32_t kInvalidArchiveKeyMessage = 0x80048202u;
constexpr LONG kArchiveAppend = -1;

// A letter, digit, '_' or ':' first, then letters, digits, '_', ':', '.' or '-' (ASCII only).
bool ccIsValidArchiveKey(const OLECHAR* key);

// The Tag, Persist (the Tag's key) and Clone of every object.
// An object's Tag: none until the first assignment. Safe from any thread:
// its small lock is held only to take the value out or put another in, never
// while the value (another object, often) is copied, counted or released.
class ccObjectTag {
public:
    // VT_EMPTY when there is none; interfaces usable on the calling thread.
    HRESULT get(VARIANT* value) const;
    // Interfaces are kept agile.
    HRESULT put(const VARIANT& value);
    // Saves the Tag under "Tag", or loads it (a missing one is removed
    // unless flags keep it); failures are thrown as ccCOMError.
    void persist(IQorArchive* archive, LONG flags);

private:
    using Held = std::shared_ptr<const ccAgileVariant>;
    Held held() const;
    // Puts tag in place; the old value goes after the lock.
    void replace(Held tag);

    mutable std::mutex lock_;
    Held tag_; // null: no Tag
};

// IDispatch comes from the core library's type information of the
// interfaces dispatchInterfaces() lists, merged.
class ccArchiveBase : public ccComObjectRoot<ccComFreeThreadModel>, public IQorObject {
public:
    ccArchiveBase() { ccRegisterCoreTypeLibrary(); }

    HRESULT GetTypeInfoCount(UINT* count) override;
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID memid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr) override;
    HRESULT GetLocalComputerName(BSTR* name) override;
    HRESULT Clone(IQorObject** result) override;
    HRESULT CreateObject(BSTR name, IUnknown** object) override;
    HRESULT get_Tag(VARIANT* value) override;
    HRESULT put_Tag(VARIANT value) override;
    HRESULT putref_Tag(VARIANT value) override { return put_Tag(value); }
    HRESULT Persist(IQorArchive* archive, LONG flags) override;

protected:
    // The core library's dual interfaces the object answers, ended by
    // GUID_NULL; the first one owns member id 0.
    virtual const IID* dispatchInterfaces() const;
    // The class reported in error objects.
    virtual const CLSID& errorClassId() const { return GUID_NULL; }
    // Saves or loads the Tag; failures are thrown as ccCOMError.
    void PersistTag(IQorArchive* archive, LONG flags);
    ccCOMErrorContext errorContext(const OLECHAR* method) const { return {&errorClassId(), &IID_IQorObject, method}; }

private:
    ccObjectTag tag_;
    ccMergedTypeInfo dispatch_;
};

// IPersistStream over the suite's serializer, and the archive persistence
// each class completes (Persist, the clone notifications).
class IPersistStreamImplBase : public IPersistStream, public IQorPersistArchive {
public:
    HRESULT IsDirty() override { return dirty_ ? S_OK : S_FALSE; }
    HRESULT Load(IStream* stream) override;
    HRESULT Save(IStream* stream, int32_t clearDirty) override;
    HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT BeforeCloneLoad() override { return S_OK; }

protected:
    void setDirty(bool dirty) { dirty_ = dirty ? 1 : 0; }

private:
    uint8_t dirty_ = 0;
};

// An IStream that only counts the bytes written into *size; it lives on the caller's stack.
class ccStreamCounter final : public plat::com::RefusingStream<E_FAIL> {
public:
    explicit ccStreamCounter(uint64_t* size)
        : size_(size)
    {
    }
    HRESULT QueryInterface(REFIID iid, void** ppv) override;
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT Write(const void* data, ULONG count, ULONG* written) override;

private:
    uint64_t* size_;
};

class CQorArchive : public ccArchiveBase,
                    public IProvideClassInfo2Impl<&CLSID_QorArchive, &DIID_IQorCollectionEvents, &LIBID_QoraltCore, 1, 0>,
                    public IQorArchive,
                    public IPropertyBag,
                    public IQorArchiveStore,
                    public IQorComInternal {
public:
    BEGIN_COM_MAP(CQorArchive)
    COM_INTERFACE_ENTRY2(IUnknown, IQorArchive)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IQorArchive)
    COM_INTERFACE_ENTRY2(IDispatch, IQorArchive)
    COM_INTERFACE_ENTRY(IPropertyBag)
    COM_INTERFACE_ENTRY(IQorArchiveStore)
    COM_INTERFACE_ENTRY(IQorComInternal)
    END_COM_MAP()

    CQorArchive() = default;

    // An archive has no library object behind it.
    HRESULT GetImpl(void** impl) override
    {
        if (!impl)
            return E_POINTER;
        *impl = nullptr;
        return E_NOTIMPL;
    }
    HRESULT SetImpl(const std::type_info&, void*) override { return E_NOTIMPL; }
    virtual ~CQorArchive();

    // A new empty archive in mode 0x00FFFFFF (loading).
    static HRESULT create(CQorArchive** archive);

    // IDispatch over IQorArchive and IQorObject, IQorArchive's Item the default member.
    HRESULT GetTypeInfoCount(UINT* count) override { return ccArchiveBase::GetTypeInfoCount(count); }
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override
    {
        return ccArchiveBase::GetTypeInfo(index, lcid, info);
    }
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return ccArchiveBase::GetIDsOfNames(iid, names, count, lcid, ids);
    }
    HRESULT Invoke(DISPID memid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr) override
    {
        return ccArchiveBase::Invoke(memid, iid, lcid, flags, params, result, excepInfo, argErr);
    }

    // The collection form: the Tag, then "Item<n>" and, for a keyed item, "Key<n>".
    HRESULT Persist(IQorArchive* archive, LONG flags) override;

    HRESULT PersistVariant(BSTR key, VARIANT* value) override;
    HRESULT PersistUI1(BSTR key, BYTE* value) override;
    HRESULT PersistI2(BSTR key, SHORT* value) override;
    HRESULT PersistI4(BSTR key, LONG* value) override;
    HRESULT PersistR4(BSTR key, float* value) override;
    HRESULT PersistR8(BSTR key, double* value) override;
    HRESULT PersistBoolean(BSTR key, VARIANT_BOOL* value) override;
    HRESULT PersistString(BSTR key, BSTR* value) override;
    HRESULT LoadObject(BSTR key, IUnknown** value) override;
    HRESULT SaveObject(BSTR key, IUnknown* value) override;
    HRESULT get__NewEnum(IUnknown** enumerator) override;
    HRESULT get_Count(LONG* count) override;
    HRESULT get_Item(VARIANT index, VARIANT* value) override;
    HRESULT FindItem(VARIANT value, LONG* position) override;
    HRESULT get_Key(LONG position, BSTR* key) override;
    HRESULT FindKey(BSTR key, LONG* position) override;
    HRESULT get_Mode(LONG* mode) override;

    HRESULT Read(LPCOLESTR name, VARIANT* value, IErrorLog* errorLog) override;
    HRESULT Write(LPCOLESTR name, VARIANT* value) override;

    HRESULT SetMode(LONG mode) override;
    HRESULT Append(LPCOLESTR key, const VARIANT* value) override;

    // Collection operations; positions count from 0.
    virtual HRESULT AddAt(const VARIANT& value, const OLECHAR* key, LONG position);
    virtual HRESULT Add(const VARIANT& value, LONG position) { return AddAt(value, nullptr, position); }
    virtual void Clear();
    virtual HRESULT GetItem(LONG position, VARIANT* value);
    virtual HRESULT PutItem(VARIANT index, const VARIANT& value);
    virtual HRESULT PutItem(LONG position, const VARIANT& value);
    virtual HRESULT PutKey(LONG position, const OLECHAR* key);
    virtual HRESULT Move(LONG from, LONG to);
    virtual HRESULT Remove(LONG position);
    virtual HRESULT Remove(VARIANT index);
    // Failures are thrown as ccCOMError. The wanted type is result's type on
    // entry; default_ may be result itself.
    virtual HRESULT ReadProperty(const OLECHAR* key, const VARIANT* default_, VARIANT* result);
    virtual HRESULT WriteProperty(const OLECHAR* key, const VARIANT* value, const VARIANT* default_);

    const IID* dispatchInterfaces() const override;

    // The keys that could not be read, joined by ", " (a reason after a blank).
    std::u16string loadFailures() const;
    // How often a read had to search for its key.
    uint32_t keySearches() const;

private:
    // A value is never changed in place: a reader takes it out under state_
    // and copies it afterwards, a writer puts another in its place.
    using Value = std::shared_ptr<const ccAgileVariant>;
    struct Item {
        Value value;
        std::u16string key; // empty: none
    };
    // An index as the caller gave it, made plain before any lock is taken
    // (converting an object runs its code).
    struct Index {
        bool byKey;
        std::u16string key;
        LONG position;
    };

    bool saving() const { return (mode_.load() & kPersistSaving) != 0; }
    void recordFailure(const std::u16string& key, const char16_t* reason);
    static Index indexOf(const VARIANT& index);
    static Value valueOf(const VARIANT& value);
    // Under state_: the item's position, -1 when there is none.
    LONG findKey(const OLECHAR* key) const;
    LONG positionOf(const Index& index, std::u16string* missName) const;
    // Under state_: puts value at position (one past the last appends), old
    // values into dropped; kArchiveBadIndex when out of range.
    HRESULT putAt(LONG position, Value value, const std::u16string* key, std::vector<Item>& dropped);
    Value valueAt(LONG position) const;
    // Every value, taken out under state_ for the caller to copy after it.
    std::vector<Value> values() const;
    // Under state_: removes the item at position and hands its value to the
    // caller to let go after the lock; kArchiveBadIndex when out of range.
    HRESULT removeAt(LONG position, Value& dropped);
    OLECHAR decimalSeparator();
    template <class Body> HRESULT method(const OLECHAR* name, Body&& body);
    // A typed Persist: saves value as vt, or loads it converted to vt.
    template <class T, class Get, class Put>
    HRESULT persistTyped(const OLECHAR* name, BSTR key, T* value, VARTYPE vt, const char16_t* reason, Get get,
                         Put put);

    // One archive may be used from several threads. state_ guards what
    // follows it and is never held while another object is called, counted
    // or released.
    mutable std::mutex state_;
    std::vector<Item> items_;
    uint32_t cursor_ = 0;
    std::u16string failures_;
    OLECHAR decimal_ = 0;
    uint32_t searches_ = 0;
    std::atomic<LONG> mode_{0x00FFFFFF};
};

// A deep copy of source into *target (empty: a new object of source's class),
// sub-objects reached twice cloned once. Failures are thrown as ccCOMError.
void ccCloneObject(IUnknown** target, IUnknown* source);
// IQorObject::Clone of self: the deep copy, as IQorObject. No lock is held
// meanwhile: each object persists itself as it is called. Failures are
// thrown as ccCOMError.
HRESULT ccCloneSelf(IQorObject* self, IQorObject** result);
// The copy itself; list collects (source, clone) pairs, one reference each.
void ccCloneInto(IUnknown** target, IUnknown* source, std::vector<std::pair<IUnknown*, IUnknown*>>* list);

// Registers the serializer stand-in over this framework's archive.
HRESULT ccRegisterSerializer();
