// The registry as COM servers use it, over the platform registry: the roots
// HKEY_CLASSES_ROOT (the machine's "Software\Classes"), HKEY_LOCAL_MACHINE
// and HKEY_CURRENT_USER, keys opened below them, string and 32-bit values;
// the registrar, which applies a server's declarative registry scripts; and
// the registration of type libraries.
#pragma once
#include <string>
#include <vector>

#include "platform/com/base.h"

struct HKEY__;
struct ITypeLib;
using HKEY = HKEY__*;
using LSTATUS = int32_t;

inline HKEY const HKEY_CLASSES_ROOT = reinterpret_cast<HKEY>(uintptr_t{0x80000000});
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(uintptr_t{0x80000001});
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(uintptr_t{0x80000002});

constexpr LSTATUS ERROR_SUCCESS = 0;
constexpr LSTATUS ERROR_FILE_NOT_FOUND = 2;
constexpr LSTATUS ERROR_ACCESS_DENIED = 5;
constexpr LSTATUS ERROR_INVALID_HANDLE = 6;
constexpr LSTATUS ERROR_INVALID_PARAMETER = 87;
constexpr LSTATUS ERROR_MORE_DATA = 234;

constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_DWORD = 4;

// Access rights are not checked.
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

constexpr HRESULT hresultFromWin32(LSTATUS error)
{
    return error <= 0 ? error : static_cast<HRESULT>((static_cast<uint32_t>(error) & 0xFFFF) | 0x80070000u);
}

// A null or empty subKey opens the key itself again.
LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD options, DWORD access, HKEY* result);
// Makes the missing keys of subKey.
LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, HKEY* result);
LSTATUS RegCloseKey(HKEY key);
// REG_SZ data is UTF-16 with its terminating 0 (plat::utf16BytesFromWide),
// REG_DWORD 4 bytes; other types are kept as given. A null name is the
// default value.
LSTATUS RegSetValueExW(HKEY key, const wchar_t* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
// With a null data only the type and size are given; ERROR_MORE_DATA (and
// the size needed) when size is too small.
LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LSTATUS RegDeleteValueW(HKEY key, const wchar_t* name);
// ERROR_ACCESS_DENIED, and nothing deleted, when the key has subkeys.
LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey);
// The key with everything below it.
LSTATUS RegDeleteTreeW(HKEY key, const wchar_t* subKey);

// A registry script: a tree of keys below a root, each with its default and
// named values. Registration makes every key and value. Unregistration
// deletes, innermost first, each unmarked key that has no subkeys left; a
// `remove` key with everything below it; a `noRemove` key never (only the
// named values the script gives it).
enum class RegistryMark { none, noRemove, remove };

struct RegistryScriptValue {
    std::wstring name;
    bool isNumber = false; // REG_DWORD number, else REG_SZ text
    std::wstring text;
    uint32_t number = 0;
};

struct RegistryScriptKey {
    std::wstring name;
    RegistryMark mark = RegistryMark::none;
    bool hasDefault = false;
    std::wstring defaultValue;
    std::vector<RegistryScriptValue> values;
    std::vector<RegistryScriptKey> keys;
};

struct RegistryScriptRoot {
    HKEY root;
    std::vector<RegistryScriptKey> keys;
};

using RegistryScript = std::vector<RegistryScriptRoot>;

// "%NAME%" in key names, value names and texts is replaced by the value
// given for NAME (such as "MODULE", the module's path); "%%" is one "%".
struct RegistryReplacement {
    std::wstring name;
    std::wstring value;
};

// Registers or unregisters. A script naming an unknown replacement (or a
// lone "%") is refused with E_INVALIDARG before anything is written; a
// registry failure gives its HRESULT. Unregistering what is not there is
// not a failure.
HRESULT runRegistryScript(const RegistryScript& script, const std::vector<RegistryReplacement>& replacements,
                          bool registering);

// Registers a type library as living in the file at fullPath: the keys below
// HKEY_CLASSES_ROOT by which a client finds the library's file and the
// library that describes an interface (loading a library never reads them).
//   "TypeLib\{libid}\<major>.<minor>" = the library's name, with "FLAGS" =
//     its flags and "<lcid>\linux64" = fullPath (numbers in hex);
//   "Interface\{iid}" = the interface's name, with "TypeLib" = "{libid}"
//     and the value "Version" = "<major>.<minor>", for each dispatch
//     interface.
// An interface key that another library or version made, or that names no
// library, is left as it is, so unregistering never takes it away. Like
// "CLSID", "TypeLib" and "Interface" themselves are never removed. A
// failure is returned and leaves nothing of the library written.
[[nodiscard]] HRESULT RegisterTypeLib(ITypeLib* lib, const std::wstring& fullPath);
// Removes what RegisterTypeLib wrote for this library version (the library
// id's key goes once no version is left). The library must be loaded
// (LoadRegTypeLib), for its interfaces.
[[nodiscard]] HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor);
