#pragma once
// Object support: a root that counts references, an interface table that
// answers QueryInterface, the object template that deletes itself at its last
// Release (calling FinalConstruct after construction and FinalRelease before
// any member goes), the inner object of an aggregate, a class factory, and the
// module lock count that objects and LockServer raise and lower.
//
//   class Thing : public CComObjectRootEx<CComMultiThreadModel>, public IThing {
//    public:
//     BEGIN_COM_MAP(Thing)
//       COM_INTERFACE_ENTRY(IThing)
//     END_COM_MAP()
//   };
//   CComObject<Thing>* thing; CComObject<Thing>::CreateInstance(&thing);

#include "platform/com/base.h"

#include <new>

namespace plat::com {

// The module lock count: live objects plus LockServer(TRUE) calls.
void moduleLock();
void moduleUnlock();
ULONG moduleLockCount();

struct ComInterfaceEntry {
    const IID* iid; // null ends the table
    void* (*cast)(void* self); // a plain interface of the object
    HRESULT (*query)(void* self, REFIID, void**); // else: asks an inner unknown
};

template <class T, class I> void* interfaceOf(void* self)
{
    return static_cast<I*>(static_cast<T*>(self));
}

template <class T, class I, class Via> void* interfaceVia(void* self)
{
    return static_cast<I*>(static_cast<Via*>(static_cast<T*>(self)));
}

template <class T, IUnknown* T::*Inner> HRESULT queryInner(void* self, REFIID iid, void** ppv)
{
    IUnknown* inner = static_cast<T*>(self)->*Inner;
    return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
}

// IUnknown is the first entry's interface; a miss sets *ppv to null.
HRESULT queryTable(void* self, const ComInterfaceEntry* table, REFIID iid, void** ppv);

} // namespace plat::com

#define BEGIN_COM_MAP(cls)                                                                                             \
public:                                                                                                                \
    using ComMapClass = cls;                                                                                           \
    HRESULT _InternalQueryInterface(REFIID iid, void** ppv)                                                            \
    {                                                                                                                  \
        return ::plat::com::queryTable(static_cast<void*>(this), _GetEntries(), iid, ppv);                             \
    }                                                                                                                  \
    IUnknown* GetUnknown()                                                                                             \
    {                                                                                                                  \
        return static_cast<IUnknown*>(_GetEntries()[0].cast(static_cast<void*>(this)));                                \
    }                                                                                                                  \
    static const ::plat::com::ComInterfaceEntry* _GetEntries()                                                         \
    {                                                                                                                  \
        static const ::plat::com::ComInterfaceEntry entries[] = {
#define COM_INTERFACE_ENTRY(I) { &IID_##I, &::plat::com::interfaceOf<ComMapClass, I>, nullptr },
#define COM_INTERFACE_ENTRY_IID(iid, I) { &iid, &::plat::com::interfaceOf<ComMapClass, I>, nullptr },
#define COM_INTERFACE_ENTRY2(I, Via) { &IID_##I, &::plat::com::interfaceVia<ComMapClass, I, Via>, nullptr },
#define COM_INTERFACE_ENTRY_AGGREGATE(iid, member)                                                                     \
    { &iid, nullptr, &::plat::com::queryInner<ComMapClass, &ComMapClass::member> },
#define END_COM_MAP()                                                                                                  \
    {                                                                                                                  \
        nullptr, nullptr, nullptr                                                                                      \
    }                                                                                                                  \
    }                                                                                                                  \
    ;                                                                                                                  \
    return entries;                                                                                                    \
    }

struct CComMultiThreadModel {
    static ULONG Increment(ULONG* count) { return __atomic_add_fetch(count, 1, __ATOMIC_SEQ_CST); }
    static ULONG Decrement(ULONG* count) { return __atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST); }
};

struct CComSingleThreadModel {
    static ULONG Increment(ULONG* count) { return ++*count; }
    static ULONG Decrement(ULONG* count) { return --*count; }
};

template <class ThreadModel> class CComObjectRootEx {
public:
    using ThreadModelType = ThreadModel;

    ULONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
    ULONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() { }

protected:
    ULONG m_dwRef = 0;
    IUnknown* m_pOuterUnknown = nullptr; // set only in an aggregate's inner object
};

namespace plat::com {

template <class Base, bool LocksModule> class ComObject final : public Base {
public:
    ComObject()
    {
        if (LocksModule) moduleLock();
    }
    ~ComObject()
    {
        this->m_dwRef = 0x40000000; // an AddRef/Release pair inside FinalRelease must not delete again
        this->FinalRelease();
        if (LocksModule) moduleUnlock();
    }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    HRESULT QueryInterface(REFIID iid, void** ppv) override { return this->_InternalQueryInterface(iid, ppv); }
    ULONG AddRef() override { return this->InternalAddRef(); }
    ULONG Release() override
    {
        const ULONG count = this->InternalRelease();
        if (count == 0) delete this;
        return count;
    }

    // A new object with count 0, or null and the failure of FinalConstruct.
    static HRESULT CreateInstance(ComObject** object)
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        auto* created = new (std::nothrow) ComObject;
        if (!created) return E_OUTOFMEMORY;
        created->InternalAddRef(); // FinalConstruct may hand out and drop references
        const HRESULT hr = created->FinalConstruct();
        created->InternalRelease();
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        *object = created;
        return S_OK;
    }
};

// The interfaces of an aggregate's inner object, which answer for the outer one.
template <class Base> class ComContainedObject final : public Base {
public:
    explicit ComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }
    HRESULT QueryInterface(REFIID iid, void** ppv) override { return this->m_pOuterUnknown->QueryInterface(iid, ppv); }
    ULONG AddRef() override { return this->m_pOuterUnknown->AddRef(); }
    ULONG Release() override { return this->m_pOuterUnknown->Release(); }
};

} // namespace plat::com

template <class Base> using CComObject = plat::com::ComObject<Base, true>;
// For objects that must not keep the module loaded, such as class factories.
template <class Base> using CComObjectNoLock = plat::com::ComObject<Base, false>;

// The inner object of an aggregate: its own IUnknown counts and deletes it,
// while the interfaces it hands out count the outer object.
template <class Base> class CComAggObject final : public IUnknown {
public:
    explicit CComAggObject(IUnknown* outer)
        : m_contained(outer)
    {
        plat::com::moduleLock();
    }
    ~CComAggObject()
    {
        m_dwRef = 0x40000000;
        m_contained.FinalRelease();
        plat::com::moduleUnlock();
    }
    CComAggObject(const CComAggObject&) = delete;
    CComAggObject& operator=(const CComAggObject&) = delete;

    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        if (!ppv) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained._InternalQueryInterface(iid, ppv);
    }
    ULONG AddRef() override { return CComMultiThreadModel::Increment(&m_dwRef); }
    ULONG Release() override
    {
        const ULONG count = CComMultiThreadModel::Decrement(&m_dwRef);
        if (count == 0) delete this;
        return count;
    }

    static HRESULT CreateInstance(IUnknown* outer, CComAggObject** object)
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (!outer) return E_INVALIDARG;
        auto* created = new (std::nothrow) CComAggObject(outer);
        if (!created) return E_OUTOFMEMORY;
        created->AddRef();
        const HRESULT hr = created->m_contained.FinalConstruct();
        created->m_dwRef = 0;
        if (FAILED(hr)) {
            delete created;
            return hr;
        }
        *object = created;
        return S_OK;
    }

    Base* contained() { return &m_contained; }

private:
    ULONG m_dwRef = 0;
    plat::com::ComContainedObject<Base> m_contained;
};

namespace plat::com {

// Makes an object of class T and asks it for iid; T cannot be aggregated.
template <class T> HRESULT createInstance(IUnknown* outer, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    CComObject<T>* object = nullptr;
    const HRESULT hr = CComObject<T>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    const HRESULT query = object->QueryInterface(iid, ppv);
    object->Release();
    return query;
}

using CreatorFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** ppv);

// A class object over a creator; it never aggregates.
HRESULT createClassFactory(CreatorFunction creator, REFIID iid, void** ppv);

} // namespace plat::com
