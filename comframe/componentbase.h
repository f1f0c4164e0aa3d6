// The bases COM classes of the module are assembled from: the component
// base (free-threaded root, creation by class, class information, IDispatch
// of the main dual interface), IQorObject, and persistence.
#pragma once
#include "comframe/archive.h"
#include "comframe/classinfo.h"
#include "comframe/objectbase.h"

// The base of a COM class T whose main dual interface is Itf (with id
// ItfIid), of class Clsid described in library Libid, firing Diid.
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid, const IID* Diid,
    class ThreadModel = ccComFreeThreadModel>
class ccComponentBase : public ccComObjectRoot<ThreadModel>,
                        public CComCoClass<T, Clsid>,
                        public IProvideClassInfo2Impl<Clsid, Diid, Libid, 1, 0>,
                        public IDispatchImpl<Itf, ItfIid, Libid, 1, 0> {
};

// Adds IPersistStream and IQorPersistArchive; the object starts clean.
template <class T, class Base> class ccPersistImpl : public Base, public IPersistStreamImplBase {
public:
    ccPersistImpl() { setDirty(false); }
};

// Base plus IQorObject: the Tag, cloning, object creation, the computer name
// and persistence of the Tag. IQorObject's IDispatch is the object's own.
template <class T, class Base> class IQorObjectImpl : public Base, public ccDelegateDispatch<IQorObject> {
public:
    HRESULT GetLocalComputerName(BSTR* name) override { return ccGetLocalComputerName(name); }
    HRESULT CreateObject(BSTR name, IUnknown** object) override { return ccCreateObject(name, object); }
    HRESULT get_Tag(VARIANT* value) override
    {
        return ccComMethod(context(u"get_Tag"), nullptr, [&] {
            if (!value) return E_POINTER;
            VariantInit(value);
            ccThreadOwnerLockGuard guard(&this->ownerLock());
            return tag_.get(value);
        });
    }
    HRESULT put_Tag(VARIANT value) override
    {
        return ccComMethod(context(u"put_Tag"), nullptr, [&] {
            ccThreadOwnerLockGuard guard(&this->ownerLock());
            return tag_.put(value);
        });
    }
    HRESULT putref_Tag(VARIANT value) override { return put_Tag(value); }
    HRESULT Clone(IQorObject** result) override
    {
        return ccComMethod(context(u"Clone"), nullptr, [&] {
            if (!result) return E_POINTER;
            *result = nullptr;
            struct Held {
                IUnknown* p = nullptr;
                ~Held()
                {
                    if (p) p->Release();
                }
            } clone;
            {
                ccThreadOwnerLockGuard guard(&this->ownerLock());
                ccCloneObject(&clone.p, static_cast<IQorObject*>(this));
            }
            return clone.p->QueryInterface(IID_IQorObject, reinterpret_cast<void**>(result));
        });
    }
    // A class with values of its own saves them after calling this.
    HRESULT Persist(IQorArchive* archive, LONG flags) override
    {
        return ccComMethod(context(u"Persist"), nullptr, [&] {
            if (!archive) return E_POINTER;
            ccThreadOwnerLockGuard guard(&this->ownerLock());
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
