// A COM object for tests that lives on the stack and only counts: the count
// shows the references others took and gave back. Invoke answers the value
// property with the VARIANT held in value.
#pragma once
#include "platform/com/variant.h"

class CountedDispatch : public IDispatch {
public:
    HRESULT QueryInterface(REFIID iid, void** ppv) override
    {
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override { return ++count; }
    ULONG Release() override { return --count; }
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_VALUE || flags != DISPATCH_PROPERTYGET)
            return DISP_E_MEMBERNOTFOUND;
        return VariantCopy(result, &value);
    }

    ULONG count = 0;
    VARIANT value = {};
};
