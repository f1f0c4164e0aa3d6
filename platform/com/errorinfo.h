#pragma once
// Error information: an object that describes the last failure, kept in a
// slot of the calling thread. GetErrorInfo hands the object out and clears
// the slot.

#include "platform/com/base.h"

struct IErrorInfo : IUnknown {
    virtual HRESULT GetGUID(GUID* guid) = 0;
    virtual HRESULT GetSource(BSTR* source) = 0;
    virtual HRESULT GetDescription(BSTR* description) = 0;
    virtual HRESULT GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT GetHelpContext(DWORD* helpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT SetGUID(REFGUID guid) = 0;
    virtual HRESULT SetSource(LPOLESTR source) = 0;
    virtual HRESULT SetDescription(LPOLESTR description) = 0;
    virtual HRESULT SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT SetHelpContext(DWORD helpContext) = 0;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT InterfaceSupportsErrorInfo(REFIID iid) = 0;
};

// A new, empty error object that answers both interfaces.
HRESULT CreateErrorInfo(ICreateErrorInfo** info);
// Replaces the thread's error object (AddRef'd); null clears it.
HRESULT SetErrorInfo(ULONG reserved, IErrorInfo* info);
// Hands out the thread's error object and clears the slot; S_FALSE and null when there is none.
HRESULT GetErrorInfo(ULONG reserved, IErrorInfo** info);
