// The bases COM classes of the module are assembled from: the component
// base (free-threaded root, creation by class, class information, IDispatch
// of the main dual interface), IQorObject, and persistence.
#pragma once
#include "comframe/archive.h"
#include "comframe/classinfo.h"
#include "comframe/connpoint.h"
#include "comframe/dispatch.h"
#include "comframe/objectbase.h"
#include "comframe/objectitfs.h"

#include <utility>
#include <vector>

// The base of a COM class T whose main dual interface is Itf (with id
// ItfIid), of class Clsid described in library Libid, firing Diid.
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid, const IID* Diid,
    class ThreadModel = ccComFreeThreadModel>
class ccComponentBase : public ccComObjectRoot<ThreadModel>,
                        public CComCoClass<T, Clsid>,
                        public IProvideClassInfo2Impl<Clsid, Diid, Libid, 1, 0>,
                        public IDispatchImpl<Itf, ItfIid, Libid, 1, 0>,
                        public IQorComInternal {
public:
    // A class with a library object behind it answers these.
    HRESULT GetImpl(void** impl) override
    {
        if (!impl) return E_POINTER;
        *impl = nullptr;
        return E_NOTIMPL;
    }
    HRESULT SetImpl(const std::type_info&, void*) override { return E_NOTIMPL; }
};

// Adds IPersistStream and IQorPersistArchive; the object starts clean. T's
// Persist serves both IQorObject and IQorPersistArchive.
template <class T, class Base> class ccPersistImpl : public Base, public IPersistStreamImplBase {
public:
    ccPersistImpl() { setDirty(false); }
    HRESULT GetClassID(CLSID* clsid) override
    {
        if (!clsid) return E_POINTER;
        *clsid = T::GetObjectCLSID();
        return S_OK;
    }
};

// Adds IConnectionPointContainer with one free-threaded point for Diid, and
// IQorChangeEventConfiguration.
template <class T, class Base, const IID* Diid> class ccChangeEventImpl
    : public Base,
      public ccConnectionPointContainerImpl<T>,
      public ccDelegateDispatch<IQorChangeEventConfiguration> {
public:
    ccChangeEventImpl()
        : events_(this)
    {
    }
    IConnectionPoint* connectionPointAt(size_t i) { return i == 0 ? &events_ : nullptr; }
    ccConnectionSinks& eventSinks() { return events_.sinks(); }
    // The point's owner; T is whole only once it is called.
    IUnknown* GetUnknown() { return static_cast<T*>(this)->GetUnknown(); }

private:
    ccConnectionPointImpl<ccChangeEventImpl, Diid> events_;
};

// A collection item: an interface pointer the collection holds one
// reference on, and its key.
template <class Item, class Key> struct _ColItem {
    Item* item;
    Key key;
};

// Base plus the items of a collection, each held with one reference until
// the collection goes.
template <class T, class Base, class Item, class Key> class ccCollectionImpl : public Base {
public:
    ccCollectionImpl() = default;
    ~ccCollectionImpl()
    {
        for (_ColItem<Item, Key>& entry : items_)
            if (entry.item) entry.item->Release();
    }
    ccCollectionImpl(const ccCollectionImpl&) = delete;
    ccCollectionImpl& operator=(const ccCollectionImpl&) = delete;

protected:
    // Takes a reference on item; nothing changes when the vector cannot grow.
    void addItem(Item* item, Key key)
    {
        items_.push_back({item, std::move(key)});
        if (item) item->AddRef();
    }
    const std::vector<_ColItem<Item, Key>>& items() const { return items_; }

private:
    std::vector<_ColItem<Item, Key>> items_;
};

// IQorObject's IDispatch, which is the object's own, and the operations
// that need nothing of the object.
class IQorObjectImplBase : public ccDelegateDispatch<IQorObject> {
public:
    HRESULT GetLocalComputerName(BSTR* name) override { return ccGetLocalComputerName(name); }
    HRESULT CreateObject(BSTR name, IUnknown** object) override { return ccCreateObject(name, object); }
};

// Base plus IQorObject: the Tag, cloning, object creation, the computer name
// and persistence of the Tag.
template <class T, class Base> class IQorObjectImpl : public Base, public IQorObjectImplBase {
public:
    // The Tag needs no lock of the object's: see ccObjectTag.
    HRESULT get_Tag(VARIANT* value) override
    {
        return ccComMethod(context(u"get_Tag"), nullptr, [&] {
            if (!value) return E_POINTER;
            return tag_.get(value);
        });
    }
    HRESULT put_Tag(VARIANT value) override
    {
        return ccComMethod(context(u"put_Tag"), nullptr, [&] { return tag_.put(value); });
    }
    HRESULT putref_Tag(VARIANT value) override { return put_Tag(value); }
    HRESULT Clone(IQorObject** result) override
    {
        return ccComMethod(context(u"Clone"), nullptr, [&] { return ccCloneSelf(static_cast<IQorObject*>(this), result); });
    }
    // A class with values of its own saves them after calling this.
    HRESULT Persist(IQorArchive* archive, LONG flags) override
    {
        return ccComMethod(context(u"Persist"), nullptr, [&] {
            if (!archive) return E_POINTER;
            tag_.persist(archive, flags);
            return S_OK;
        });
    }

private:
    static ccCOMErrorContext context(const OLECHAR* method) { return {&T::GetObjectCLSID(), &IID_IQorObject, method}; }
    ccObjectTag tag_;
};

// The plain base of a class without events.
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid,
    class ThreadModel = ccComFreeThreadModel>
using ccStdImpl = IQorObjectImpl<T, ccComponentBase<T, Itf, ItfIid, Clsid, Libid, &GUID_NULL, ThreadModel>>;

// The base of a class that tells of its changes (the I/O lines).
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid,
    class ThreadModel = ccComFreeThreadModel>
using ccStdChangeImpl = IQorObjectImpl<T,
    ccChangeEventImpl<T, ccComponentBase<T, Itf, ItfIid, Clsid, Libid, &DIID_IQorChangeEvent, ThreadModel>,
        &DIID_IQorChangeEvent>>;

// The base of a persistent class with events (the acquisition FIFO).
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid, const IID* Diid,
    class ThreadModel = ccComFreeThreadModel>
using ccStdPersistAndChangeImpl = IQorObjectImpl<T,
    ccChangeEventImpl<T, ccPersistImpl<T, ccComponentBase<T, Itf, ItfIid, Clsid, Libid, Diid, ThreadModel>>, Diid>>;

// The FIFO base: a persistent class with events that also answers the
// property interfaces Props, one IDispatch for all of them from the merged
// type information of the interfaces in Iids (ended by GUID_NULL).
template <class Base, class... Props> class ccWithInterfaces : public Base, public Props... {
};
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid, const IID* Diid,
    const IID* Iids, class... Props>
class CQorAcqFifoBase : public ccDynamicDispatchImpl<T,
                            ccWithInterfaces<ccStdPersistAndChangeImpl<T, Itf, ItfIid, Clsid, Libid, Diid>, Props...>,
                            Iids, Libid, 1, 0> {
};

// The board's discrete-I/O layer: IQorDiscreteIO, and the collections of its
// input and output lines, made on first use and held until the board goes.
template <class T, class Base> class ccQorDiscreteIOQMB : public Base, public ccDelegateDispatch<IQorDiscreteIO> {
public:
    ccQorDiscreteIOQMB() = default;
    ~ccQorDiscreteIOQMB()
    {
        if (inputLines_) inputLines_->Release();
        if (outputLines_) outputLines_->Release();
    }
    ccQorDiscreteIOQMB(const ccQorDiscreteIOQMB&) = delete;
    ccQorDiscreteIOQMB& operator=(const ccQorDiscreteIOQMB&) = delete;

protected:
    // Null until set; a collection set takes a reference in place of the one
    // held before. The caller holds the object's lock. A take hands the
    // held reference to the caller, to release once the lock is let go.
    IDispatch* inputLines() const { return inputLines_; }
    IDispatch* outputLines() const { return outputLines_; }
    void setInputLines(IDispatch* lines) { hold(inputLines_, lines); }
    void setOutputLines(IDispatch* lines) { hold(outputLines_, lines); }
    [[nodiscard]] IDispatch* takeInputLines() { return std::exchange(inputLines_, nullptr); }
    [[nodiscard]] IDispatch* takeOutputLines() { return std::exchange(outputLines_, nullptr); }

private:
    static void hold(IDispatch*& held, IDispatch* lines)
    {
        if (lines) lines->AddRef();
        if (held) held->Release();
        held = lines;
    }
    IDispatch* inputLines_ = nullptr;
    IDispatch* outputLines_ = nullptr;
};
