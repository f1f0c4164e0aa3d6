#pragma once
// Type information described by static tables in the code: type libraries
// registered by library id and version, a type description per interface,
// names to dispatch ids, and ITypeInfo::Invoke. Each function entry carries
// a thunk that calls the C++ method; no call is built at run time.
//
// Invoke is strict: by-value arguments are coerced with VariantChangeType, a
// by-reference parameter needs exactly its by-reference type, an array
// parameter exactly its element type; a property get without parameters
// called with arguments gives DISP_E_NOTACOLLECTION; a failing method gives
// DISP_E_EXCEPTION with EXCEPINFO taken from the thread's error object.

#include "platform/com/variant.h"

#include <array>
#include <cstddef>

enum TYPEKIND { TKIND_ENUM, TKIND_RECORD, TKIND_MODULE, TKIND_INTERFACE, TKIND_DISPATCH, TKIND_COCLASS };
enum INVOKEKIND { INVOKE_FUNC = 1, INVOKE_PROPERTYGET = 2, INVOKE_PROPERTYPUT = 4, INVOKE_PROPERTYPUTREF = 8 };
enum FUNCKIND { FUNC_VIRTUAL, FUNC_PUREVIRTUAL, FUNC_NONVIRTUAL, FUNC_STATIC, FUNC_DISPATCH };
enum DESCKIND { DESCKIND_NONE, DESCKIND_FUNCDESC, DESCKIND_VARDESC, DESCKIND_TYPECOMP, DESCKIND_IMPLICITAPPOBJ };

constexpr USHORT PARAMFLAG_NONE = 0x00;
constexpr USHORT PARAMFLAG_FIN = 0x01;
constexpr USHORT PARAMFLAG_FOUT = 0x02;
constexpr USHORT PARAMFLAG_FLCID = 0x04;
constexpr USHORT PARAMFLAG_FRETVAL = 0x08;
constexpr USHORT PARAMFLAG_FOPT = 0x10;
constexpr USHORT PARAMFLAG_FHASDEFAULT = 0x20;

constexpr MEMBERID MEMBERID_NIL = -1;
constexpr HRESULT TYPE_E_LIBNOTREGISTERED = hresultOf(0x8002801Du);

using HREFTYPE = DWORD;

struct TYPEDESC {
    union {
        TYPEDESC* lptdesc; // VT_PTR, VT_SAFEARRAY
        HREFTYPE hreftype; // VT_USERDEFINED
    };
    VARTYPE vt;
};

struct PARAMDESC {
    void* pparamdescex;
    USHORT wParamFlags;
};

struct ELEMDESC {
    TYPEDESC tdesc;
    PARAMDESC paramdesc;
};

struct FUNCDESC {
    MEMBERID memid;
    ELEMDESC* lprgelemdescParam;
    FUNCKIND funckind;
    INVOKEKIND invkind;
    SHORT cParams;
    SHORT cParamsOpt;
    ELEMDESC elemdescFunc;
    WORD wFuncFlags;
};

struct TYPEATTR {
    GUID guid;
    LCID lcid;
    MEMBERID memidConstructor;
    MEMBERID memidDestructor;
    TYPEKIND typekind;
    WORD cFuncs;
    WORD cVars;
    WORD cImplTypes;
    WORD wTypeFlags;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
};

struct ITypeLib;
struct ITypeComp;
struct VARDESC;

union BINDPTR {
    FUNCDESC* lpfuncdesc;
    VARDESC* lpvardesc;
    ITypeComp* lptcomp;
};

struct ITypeInfo : IUnknown {
    virtual HRESULT GetTypeAttr(TYPEATTR** attr) = 0;
    virtual HRESULT GetTypeComp(ITypeComp** comp) = 0;
    virtual HRESULT GetFuncDesc(UINT index, FUNCDESC** desc) = 0;
    virtual HRESULT GetVarDesc(UINT index, VARDESC** desc) = 0;
    virtual HRESULT GetNames(MEMBERID memid, BSTR* names, UINT maxNames, UINT* count) = 0;
    virtual HRESULT GetRefTypeOfImplType(UINT index, HREFTYPE* ref) = 0;
    virtual HRESULT GetImplTypeFlags(UINT index, int32_t* flags) = 0;
    virtual HRESULT GetIDsOfNames(LPOLESTR* names, UINT count, MEMBERID* ids) = 0;
    virtual HRESULT Invoke(void* instance, MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr)
        = 0;
    virtual HRESULT GetDocumentation(MEMBERID memid, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) = 0;
    virtual HRESULT GetDllEntry(MEMBERID memid, INVOKEKIND kind, BSTR* dll, BSTR* name, WORD* ordinal) = 0;
    virtual HRESULT GetRefTypeInfo(HREFTYPE ref, ITypeInfo** info) = 0;
    virtual HRESULT AddressOfMember(MEMBERID memid, INVOKEKIND kind, void** address) = 0;
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** ppv) = 0;
    virtual HRESULT GetMops(MEMBERID memid, BSTR* mops) = 0;
    virtual HRESULT GetContainingTypeLib(ITypeLib** lib, UINT* index) = 0;
    virtual void ReleaseTypeAttr(TYPEATTR* attr) = 0;
    virtual void ReleaseFuncDesc(FUNCDESC* desc) = 0;
    virtual void ReleaseVarDesc(VARDESC* desc) = 0;
};

struct ITypeComp : IUnknown {
    virtual HRESULT Bind(LPOLESTR name, ULONG hash, WORD flags, ITypeInfo** info, DESCKIND* kind, BINDPTR* bind) = 0;
    virtual HRESULT BindType(LPOLESTR name, ULONG hash, ITypeInfo** info, ITypeComp** comp) = 0;
};

// A library's id, locale and version. There is one platform, so no system
// kind; no library flag is defined (wLibFlags is 0).
struct TLIBATTR {
    GUID guid;
    LCID lcid;
    WORD wMajorVerNum;
    WORD wMinorVerNum;
    WORD wLibFlags;
};

struct ITypeLib : IUnknown {
    virtual UINT GetTypeInfoCount() = 0;
    virtual HRESULT GetTypeInfo(UINT index, ITypeInfo** info) = 0;
    virtual HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
    virtual HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) = 0;
    virtual HRESULT GetLibAttr(TLIBATTR** attr) = 0;
    // Index -1 is the library itself.
    virtual HRESULT GetDocumentation(int32_t index, BSTR* name, BSTR* doc, DWORD* helpContext, BSTR* helpFile) = 0;
    virtual void ReleaseTLibAttr(TLIBATTR* attr) = 0;
};

// The class an object belongs to, and the event interface it fires.
struct IProvideClassInfo : IUnknown {
    virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;
};
constexpr DWORD GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1;
struct IProvideClassInfo2 : IProvideClassInfo {
    virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;
};

// Finds a registered library; the locale is ignored.
HRESULT LoadRegTypeLib(REFGUID libid, WORD major, WORD minor, LCID lcid, ITypeLib** lib);
LCID GetUserDefaultLCID();

namespace plat::com {

// Calls the method: args holds the parameters in declared order, coerced
// to their types (by-reference ones as VT_BYREF values), without the
// return value, which the thunk stores into result.
using InvokerThunk = HRESULT (*)(void* itf, VARIANT* args, VARIANT* result);

// A parameter's type as a chain: {VT_I4}, {VT_PTR, VT_I4}, {VT_SAFEARRAY, VT_R8},
// {VT_PTR, VT_SAFEARRAY, VT_R8}, {VT_PTR, VT_USERDEFINED} (an interface pointer).
struct ParamEntry {
    const OLECHAR* name;
    std::array<VARTYPE, 3> type;
    USHORT flags;
};

struct FunctionEntry {
    const OLECHAR* name;
    MEMBERID memid;
    INVOKEKIND invkind;
    const ParamEntry* params;
    size_t paramCount;
    InvokerThunk invoke;
};

struct InterfaceEntry {
    const IID* iid;
    const OLECHAR* name;
    const FunctionEntry* functions;
    size_t functionCount;
    // TKIND_COCLASS for a class (its class id in iid, no functions).
    TYPEKIND kind = TKIND_DISPATCH;
};

struct TypeLibraryEntry {
    const GUID* libid;
    WORD major;
    WORD minor;
    const InterfaceEntry* const* interfaces;
    size_t interfaceCount;
    // What a registration shows for the library.
    const OLECHAR* name = nullptr;
};

// Registers a library for LoadRegTypeLib; the entry must outlive the
// process. Registering the same entry again does nothing.
void registerTypeLibrary(const TypeLibraryEntry& library);

} // namespace plat::com
