// Handing interfaces between threads within the process: the Global
// Interface Table, inter-thread marshalling through a stream and the
// free-threaded marshaler that marks an object as usable on any thread.
//
// An object registered (or marshalled) from an STA is handed to other threads
// as a proxy that carries each call to the STA's thread; every other object
// (registered from the multithreaded apartment, or free-threaded) is handed
// out as itself. README.md says what a proxy offers. A refusal leaves the
// out value empty (a null pointer, cookie 0).
#pragma once
#include "platform/com/base.h"

struct STATSTG; // the stream statistics: no stream here fills them

struct ISequentialStream : IUnknown {
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};

struct IStream : ISequentialStream {
    virtual HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) = 0;
    virtual HRESULT SetSize(ULARGE_INTEGER libNewSize) = 0;
    virtual HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) = 0;
    virtual HRESULT Commit(DWORD grfCommitFlags) = 0;
    virtual HRESULT Revert() = 0;
    virtual HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) = 0;
    virtual HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) = 0;
    virtual HRESULT Clone(IStream** ppstm) = 0;
};

namespace plat::com {

// A stream whose every operation fails with one code: for streams that do
// one thing, or nothing but carry something else, and override only that.
template <HRESULT Refusal>
struct RefusingStream : IStream {
    HRESULT Read(void*, ULONG, ULONG*) override { return Refusal; }
    HRESULT Write(const void*, ULONG, ULONG*) override { return Refusal; }
    HRESULT Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return Refusal; }
    HRESULT SetSize(ULARGE_INTEGER) override { return Refusal; }
    HRESULT CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override { return Refusal; }
    HRESULT Commit(DWORD) override { return Refusal; }
    HRESULT Revert() override { return Refusal; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Refusal; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return Refusal; }
    HRESULT Stat(STATSTG*, DWORD) override { return Refusal; }
    HRESULT Clone(IStream**) override { return Refusal; }
};

} // namespace plat::com

constexpr DWORD MSHCTX_INPROC = 3;
constexpr DWORD MSHLFLAGS_NORMAL = 0;
constexpr DWORD MSHLFLAGS_TABLESTRONG = 1;

struct IMarshal : IUnknown {
    virtual HRESULT GetUnmarshalClass(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                      DWORD mshlflags, CLSID* pCid) = 0;
    virtual HRESULT GetMarshalSizeMax(REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                      DWORD mshlflags, DWORD* pSize) = 0;
    virtual HRESULT MarshalInterface(IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
                                     DWORD mshlflags) = 0;
    virtual HRESULT UnmarshalInterface(IStream* pStm, REFIID riid, void** ppv) = 0;
    virtual HRESULT ReleaseMarshalData(IStream* pStm) = 0;
    virtual HRESULT DisconnectObject(DWORD dwReserved) = 0;
};

struct IGlobalInterfaceTable : IUnknown {
    // Keeps a reference; the cookie is never 0 (nor 0xFFFFFFFF).
    virtual HRESULT RegisterInterfaceInGlobal(IUnknown* pUnk, REFIID riid, DWORD* pdwCookie) = 0;
    // Releases the table's reference; E_INVALIDARG for an unknown cookie.
    virtual HRESULT RevokeInterfaceFromGlobal(DWORD dwCookie) = 0;
    // The interface riid for the calling thread, one reference added;
    // E_INVALIDARG for an unknown cookie, RPC_E_DISCONNECTED once the STA it
    // was registered from has ended.
    virtual HRESULT GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid, void** ppv) = 0;
};

// The process's table, never destroyed, for CoCreateInstance of
// CLSID_StdGlobalInterfaceTable (the class table's creator).
HRESULT createGlobalInterfaceTable(IUnknown* outer, REFIID iid, void** ppv);

// Marshals pUnk for another thread into a new stream, which the receiving
// thread passes to CoGetInterfaceAndReleaseStream once.
HRESULT CoMarshalInterThreadInterfaceInStream(REFIID riid, IUnknown* pUnk, IStream** ppStm);
// The interface for the calling thread; releases the stream in any case.
// E_INVALIDARG for a stream that CoMarshalInterThreadInterfaceInStream did
// not make.
HRESULT CoGetInterfaceAndReleaseStream(IStream* pStm, REFIID iid, void** ppv);

// A new free-threaded marshaler whose IMarshal delegates its references to
// outer (null: to itself): *inner is its own unknown, for aggregation. Its
// GetUnmarshalClass names CLSID_InProcFreeMarshaler.
HRESULT CoCreateFreeThreadedMarshaler(IUnknown* outer, IUnknown** inner);
