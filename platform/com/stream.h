#pragma once
// Streams and the persistence interfaces: a growable memory stream, IPersist,
// IPersistStream, IPropertyBag with its error log, and IEnumVARIANT.

#include "platform/com/git.h"
#include "platform/com/variant.h"

constexpr DWORD STREAM_SEEK_SET = 0;
constexpr DWORD STREAM_SEEK_CUR = 1;
constexpr DWORD STREAM_SEEK_END = 2;
constexpr DWORD STGTY_STREAM = 2;
constexpr DWORD STATFLAG_DEFAULT = 0;
constexpr DWORD STATFLAG_NONAME = 1;

constexpr HRESULT STG_E_INVALIDFUNCTION = hresultOf(0x80030001u);
constexpr HRESULT STG_E_MEDIUMFULL = hresultOf(0x80030070u);
constexpr HRESULT STG_E_INVALIDHEADER = hresultOf(0x800300FBu);
constexpr HRESULT STG_E_READFAULT = hresultOf(0x8003001Eu);
constexpr HRESULT STG_E_OLDDLL = hresultOf(0x80030105u); // written by a newer version

struct STATSTG {
    LPOLESTR pwcsName; // CoTaskMem text; null under STATFLAG_NONAME
    DWORD type;
    ULARGE_INTEGER cbSize;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};

struct IPersist : IUnknown {
    virtual HRESULT GetClassID(CLSID* clsid) = 0;
};

struct IPersistStream : IPersist {
    virtual HRESULT IsDirty() = 0;
    virtual HRESULT Load(IStream* stream) = 0;
    virtual HRESULT Save(IStream* stream, int32_t clearDirty) = 0;
    virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
};

struct IErrorLog : IUnknown {
    virtual HRESULT AddError(LPCOLESTR propertyName, EXCEPINFO* excepInfo) = 0;
};

struct IPropertyBag : IUnknown {
    virtual HRESULT Read(LPCOLESTR propertyName, VARIANT* value, IErrorLog* errorLog) = 0;
    virtual HRESULT Write(LPCOLESTR propertyName, VARIANT* value) = 0;
};

struct IEnumVARIANT : IUnknown {
    virtual HRESULT Next(ULONG count, VARIANT* values, ULONG* fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumVARIANT** copy) = 0;
};

// A growable stream in process memory, freed on its last release. Only a
// null memory block is taken (the stream makes its own); deleteOnRelease is
// kept for the call's shape. Reading past the end reads what there is;
// writing past the end grows the stream, filling any gap with zeros.
HRESULT CreateStreamOnHGlobal(void* memory, int32_t deleteOnRelease, IStream** stream);

namespace plat::com {
// An enumerator that owns copies of values (VariantCopy each).
HRESULT createVariantEnumerator(const VARIANT* values, ULONG count, IEnumVARIANT** out);
} // namespace plat::com
