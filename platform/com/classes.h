#pragma once
// The in-process class table: classes registered by class id, each with a
// creator and optional ProgIDs (version-dependent "Lib.Class.1" and
// version-independent "Lib.Class"), and the text forms of GUIDs.

#include "platform/com/object.h"

#include <string>

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL = 0x17;

// Every context that includes in-process creation finds the table's classes.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** ppv);
HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, void* reserved, REFIID iid, void** ppv);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper-case hex, braces required.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);
// Either ProgID of a registered class (letter case ignored).
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// The version-dependent ProgID in CoTaskMem memory; REGDB_E_CLASSNOTREG for a class without one.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);
// The braced text in CoTaskMem memory.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
// The braced text into a buffer of size units; the units written with the NUL, 0 when too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size);

namespace plat::com {

struct ClassRegistration {
    CLSID clsid;
    CreatorFunction creator;
    std::wstring progId; // version-dependent; empty for none
    std::wstring versionIndependentProgId; // empty for none
};

// Adds or replaces a class; E_INVALIDARG without a creator or with a ProgID another class has.
HRESULT registerClass(const ClassRegistration& registration);
// S_FALSE when the class was not registered.
HRESULT unregisterClass(REFCLSID clsid);

} // namespace plat::com
