// Pieces every COM class of the module shares: IDispatch of a secondary
// interface handed to the object's own IDispatch, the computer name, and
// object creation by class id text or ProgID.
#pragma once
#include "platform/com/base.h"

// The four IDispatch operations of Itf, answered by whatever IDispatch the
// object hands out for IID_IDispatch.
template <class Itf> class ccDelegateDispatch : public Itf {
public:
    HRESULT GetTypeInfoCount(UINT* count) override
    {
        return forward([&](IDispatch* d) { return d->GetTypeInfoCount(count); });
    }
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override
    {
        return forward([&](IDispatch* d) { return d->GetTypeInfo(index, lcid, info); });
    }
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        return forward([&](IDispatch* d) { return d->GetIDsOfNames(iid, names, count, lcid, ids); });
    }
    HRESULT Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr) override
    {
        return forward([&](IDispatch* d) { return d->Invoke(id, iid, lcid, flags, params, result, excepInfo, argErr); });
    }

private:
    template <class Call> HRESULT forward(Call&& call)
    {
        Itf* self = this;
        IDispatch* d = nullptr;
        HRESULT hr = self->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
        if (FAILED(hr)) return hr;
        // An object whose IDispatch is this very interface would call itself for ever.
        hr = d == static_cast<IDispatch*>(self) ? E_NOTIMPL : call(d);
        d->Release();
        return hr;
    }
};

// The computer's name as a new BSTR, however long; E_POINTER for a null out,
// E_FAIL when the system cannot tell it.
HRESULT ccGetLocalComputerName(BSTR* name);
// An in-process object of the class that name gives, as "{class id}" or a
// ProgID; E_POINTER for a null out, E_INVALIDARG for a null name, else the
// failure of the conversion or the creation.
HRESULT ccCreateObject(BSTR name, IUnknown** object);
