#pragma once
// The base types, status codes and interface conventions of the COM runtime.
// Types keep their COM names and widths; 32-bit integers are int32_t/uint32_t.

#include <cstddef>
#include <cstdint>

using HRESULT = int32_t;
using ULONG = uint32_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using VARIANT_BOOL = int16_t;
using DISPID = int32_t;
using MEMBERID = int32_t;
using LCID = uint32_t;
using LANGID = uint16_t;
using VARTYPE = uint16_t;
using SCODE = int32_t;
using DATE = double;
using OLECHAR = char16_t;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
// Length-prefixed text from SysAllocString*; null means empty.
using BSTR = OLECHAR*;

union LARGE_INTEGER {
    int64_t QuadPart;
};
union ULARGE_INTEGER {
    uint64_t QuadPart;
};

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16, "a GUID is 16 bytes");
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool IsEqualIID(REFIID a, REFIID b)
{
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b)
{
    return IsEqualGUID(a, b);
}
inline bool operator==(REFGUID a, REFGUID b)
{
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b)
{
    return !IsEqualGUID(a, b);
}
// An order for maps keyed by GUID.
inline bool operator<(REFGUID a, REFGUID b)
{
    if (a.Data1 != b.Data1) return a.Data1 < b.Data1;
    if (a.Data2 != b.Data2) return a.Data2 < b.Data2;
    if (a.Data3 != b.Data3) return a.Data3 < b.Data3;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return a.Data4[i] < b.Data4[i];
    return false;
}

constexpr bool SUCCEEDED(HRESULT hr)
{
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr)
{
    return hr < 0;
}
constexpr HRESULT hresultOf(uint32_t code)
{
    return static_cast<HRESULT>(code);
}

// General.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = hresultOf(0x80004001u);
constexpr HRESULT E_NOINTERFACE = hresultOf(0x80004002u);
constexpr HRESULT E_POINTER = hresultOf(0x80004003u);
constexpr HRESULT E_ABORT = hresultOf(0x80004004u);
constexpr HRESULT E_FAIL = hresultOf(0x80004005u);
constexpr HRESULT E_UNEXPECTED = hresultOf(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = hresultOf(0x80070005u);
constexpr HRESULT E_HANDLE = hresultOf(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = hresultOf(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = hresultOf(0x80070057u);

// Dispatch.
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = hresultOf(0x80020001u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = hresultOf(0x80020003u);
constexpr HRESULT DISP_E_PARAMNOTFOUND = hresultOf(0x80020004u);
constexpr HRESULT DISP_E_TYPEMISMATCH = hresultOf(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = hresultOf(0x80020006u);
constexpr HRESULT DISP_E_NONAMEDARGS = hresultOf(0x80020007u);
constexpr HRESULT DISP_E_BADVARTYPE = hresultOf(0x80020008u);
constexpr HRESULT DISP_E_EXCEPTION = hresultOf(0x80020009u);
constexpr HRESULT DISP_E_OVERFLOW = hresultOf(0x8002000Au);
constexpr HRESULT DISP_E_BADINDEX = hresultOf(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = hresultOf(0x8002000Du);
constexpr HRESULT DISP_E_BADPARAMCOUNT = hresultOf(0x8002000Eu);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = hresultOf(0x8002000Fu);
constexpr HRESULT DISP_E_NOTACOLLECTION = hresultOf(0x80020011u);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = hresultOf(0x8002802Bu);

// Connection points.
constexpr HRESULT CONNECT_E_NOCONNECTION = hresultOf(0x80040200u);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = hresultOf(0x80040202u);

// Apartments, classes and registration.
constexpr HRESULT RPC_E_CHANGED_MODE = hresultOf(0x80010106u);
constexpr HRESULT RPC_E_DISCONNECTED = hresultOf(0x80010108u);
constexpr HRESULT RPC_E_WRONG_THREAD = hresultOf(0x8001010Eu);
constexpr HRESULT RPC_S_CALLPENDING = hresultOf(0x80010115u);
constexpr HRESULT CLASS_E_NOAGGREGATION = hresultOf(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = hresultOf(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = hresultOf(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = hresultOf(0x800401F0u);
constexpr HRESULT CO_E_CLASSSTRING = hresultOf(0x800401F3u);
constexpr HRESULT CO_E_BAD_PATH = hresultOf(0x80080004u);

// Interfaces are abstract structs of pure virtuals in slot order, without a
// virtual destructor or data: an object is deleted by its last Release.
struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};

struct VARIANT;
using VARIANTARG = VARIANT;
struct ITypeInfo;

struct DISPPARAMS {
    VARIANTARG* rgvarg; // last argument first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    void* pvReserved;
    HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;
constexpr WORD DISPATCH_PROPERTYPUTREF = 0x8;
constexpr DISPID DISPID_UNKNOWN = -1;
constexpr DISPID DISPID_VALUE = 0;
constexpr DISPID DISPID_PROPERTYPUT = -3;
constexpr DISPID DISPID_NEWENUM = -4;

constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
constexpr LCID LOCALE_USER_DEFAULT = 0x0400;

struct IDispatch : IUnknown {
    virtual HRESULT GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
        = 0;
};

struct IClassFactory : IUnknown {
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) = 0;
    virtual HRESULT LockServer(int32_t fLock) = 0;
};

extern const GUID GUID_NULL;
extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IMarshal;
extern const IID IID_IClassFactory;
extern const IID IID_IGlobalInterfaceTable;
extern const IID IID_IErrorInfo;
extern const IID IID_ICreateErrorInfo;
extern const IID IID_ISupportErrorInfo;
extern const IID IID_IConnectionPoint;
extern const IID IID_IConnectionPointContainer;
extern const IID IID_IEnumConnections;
extern const IID IID_IEnumConnectionPoints;
extern const IID IID_IEnumVARIANT;
extern const IID IID_ISequentialStream;
extern const IID IID_IStream;
extern const IID IID_IPersist;
extern const IID IID_IPersistStream;
extern const IID IID_IPropertyBag;
extern const IID IID_IErrorLog;
extern const IID IID_IProvideClassInfo;
extern const IID IID_IProvideClassInfo2;
extern const IID IID_ITypeLib;
extern const IID IID_ITypeInfo;
extern const IID IID_ITypeComp;
extern const CLSID CLSID_StdGlobalInterfaceTable;
extern const CLSID CLSID_InProcFreeMarshaler;
