// Small pieces every COM class of the module shares: results, BSTRs,
// VARIANT_BOOLs, property gets and puts through the FIFO's contract, and
// archive values.
#pragma once
#include <new>
#include <string>
#include <typeinfo>

#include "acq/hyper/prop/propquery.h"
#include "comframe/comerror.h"
#include "comframe/objectitfs.h"
#include "platform/com/bstr.h"
#include "platform/com/serializer.h"

namespace cc_grabber {

inline VARIANT_BOOL toVariantBool(bool value) { return value ? VARIANT_TRUE : VARIANT_FALSE; }

// A failed inner call's error travels outward.
inline void check(HRESULT hr)
{
    if (FAILED(hr)) ccThrowCOMError(hr);
}

// IQorComInternal::SetImpl of a class: take(object) when impl is a T, else
// E_INVALIDARG; failures come with error information.
template <class T, class Take>
HRESULT setImpl(const CLSID& clsid, const std::type_info& kind, void* impl, Take&& take)
{
    return ccComMethod({&clsid, &IID_IQorComInternal, u"SetImpl"}, nullptr, [&]() -> HRESULT {
        T* object = ccImplOfKind<T>(kind, impl);
        if (!object) throw ccCOMError(E_INVALIDARG, 0);
        return take(*object);
    });
}

// A new BSTR of text; std::bad_alloc when none can be made.
inline BSTR newBstr(const std::wstring& text)
{
    BSTR made = plat::com::bstrFromWide(text);
    if (!made) throw std::bad_alloc();
    return made;
}

// A BSTR owned for the length of one call: a key made from text, or an out
// parameter's result.
class Key {
public:
    Key() = default;
    explicit Key(const OLECHAR* text) : p_(SysAllocString(text))
    {
        if (!p_) throw std::bad_alloc();
    }
    ~Key() { SysFreeString(p_); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    BSTR get() const { return p_; }
    BSTR* out() { return &p_; }

private:
    BSTR p_ = nullptr;
};

// A get of the FIFO object T: read(query) gives the COM value. A null out is
// E_POINTER with its error object.
template <class T, class V, class Read>
HRESULT get(T& object, const IID& itf, const OLECHAR* method, V* out, Read&& read)
{
    return object.propertyCall(itf, method, [&](ccAcqPropertyQuery& query) {
        if (!out) throw ccCOMError(E_POINTER, 0);
        *out = read(query);
        return S_OK;
    });
}

// A change of the FIFO object T: body(query) makes it and says whether
// anything changed. The change is told after the lock is let go, so that a
// sink may call back.
template <class T, class Body>
HRESULT change(T& object, const IID& itf, const OLECHAR* method, DISPID id, Body&& body)
{
    bool changed = false;
    const HRESULT hr = object.propertyCall(itf, method, [&](ccAcqPropertyQuery& query) {
        changed = body(query);
        return S_OK;
    });
    if (changed) object.propertyChanged(id);
    return hr;
}

// A put: the library is called and the change told only when value differs
// from read(query).
template <class T, class V, class Read, class Write>
HRESULT put(T& object, const IID& itf, const OLECHAR* method, DISPID id, const V& value, Read&& read,
            Write&& write)
{
    return change(object, itf, method, id, [&](ccAcqPropertyQuery& query) {
        if (read(query) == value) return false;
        write(query, value);
        return true;
    });
}

inline HRESULT persistTyped(IQorArchive* archive, BSTR key, double* value) { return archive->PersistR8(key, value); }
inline HRESULT persistTyped(IQorArchive* archive, BSTR key, LONG* value) { return archive->PersistI4(key, value); }
inline HRESULT persistTyped(IQorArchive* archive, BSTR key, VARIANT_BOOL* value)
{
    return archive->PersistBoolean(key, value);
}

// Saves value under key, or loads it and hands it to set (flags tell which);
// a key the archive lacks sets nothing.
template <class V, class Set>
void persistValue(IQorArchive* archive, LONG flags, const OLECHAR* key, V value, Set&& set)
{
    Key k(key);
    const HRESULT hr = persistTyped(archive, k.get(), &value);
    check(hr);
    if (!(flags & kPersistSaving) && hr == S_OK) set(value);
}
template <class Set>
void persistBool(IQorArchive* archive, LONG flags, const OLECHAR* key, bool value, Set&& set)
{
    persistValue(archive, flags, key, toVariantBool(value), [&](VARIANT_BOOL v) { set(v != VARIANT_FALSE); });
}

} // namespace cc_grabber
