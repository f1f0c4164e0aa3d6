#include "comframe/objectbase.h"

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/environment.h"

#include <string>

HRESULT ccGetLocalComputerName(BSTR* name)
{
    if (!name) return E_POINTER;
    *name = nullptr;
    std::wstring text;
    if (!plat::computerName(&text)) return E_FAIL;
    *name = plat::com::bstrFromWide(text);
    return *name ? S_OK : E_OUTOFMEMORY;
}

HRESULT ccCreateObject(BSTR name, IUnknown** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!name) return E_INVALIDARG;
    CLSID clsid{};
    const HRESULT hr = name[0] == u'{' ? CLSIDFromString(name, &clsid) : CLSIDFromProgID(name, &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(object));
}
