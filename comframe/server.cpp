#include "comframe/server.h"

#include "platform/com/typeinfo.h"

HRESULT ccGetClassObject(const ccObjectMap& map, REFCLSID clsid, REFIID iid, void** ppv)
{
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ccObjectMapEntry& entry : map) {
        if (IsEqualCLSID(*entry.clsid, clsid) && entry.creator)
            return plat::com::createClassFactory(entry.creator, iid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT ccCanUnloadNow()
{
    return plat::com::moduleLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT ccRegisterServer(const ccObjectMap& map, const std::vector<RegistryReplacement>& replacements,
                         const ccServerTypeLibrary& typeLibrary)
{
    for (const ccObjectMapEntry& entry : map) {
        const HRESULT hr = runRegistryScript(entry.script(), replacements, true);
        if (FAILED(hr)) return hr;
    }
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(*typeLibrary.libid, typeLibrary.major, typeLibrary.minor, 0, &lib);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(lib, typeLibrary.file);
    lib->Release();
    return hr;
}

HRESULT ccUnregisterServer(const ccObjectMap& map, const std::vector<RegistryReplacement>& replacements,
                           const ccServerTypeLibrary& typeLibrary, const std::wstring& prunePath)
{
    for (const ccObjectMapEntry& entry : map) {
        const HRESULT hr = runRegistryScript(entry.script(), replacements, false);
        if (FAILED(hr)) return hr;
    }
    const HRESULT hr = UnRegisterTypeLib(*typeLibrary.libid, typeLibrary.major, typeLibrary.minor);
    if (FAILED(hr)) return hr;
    if (!prunePath.empty()) ccDeleteKeyAndEmptyParents(prunePath);
    return S_OK;
}

bool ccDeleteSubKey(const std::wstring& parent, const std::wstring& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, parent.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const bool deleted = RegDeleteKeyW(key, name.c_str()) == ERROR_SUCCESS;
    // Closing the key just opened cannot fail.
    (void)RegCloseKey(key);
    return deleted;
}

void ccDeleteKeyAndEmptyParents(const std::wstring& path)
{
    // The path is held whole, so no length cuts it short.
    std::wstring rest = path;
    for (;;) {
        const size_t split = rest.rfind(L'\\');
        const std::wstring parent = split == std::wstring::npos ? L"" : rest.substr(0, split);
        const std::wstring name = split == std::wstring::npos ? rest : rest.substr(split + 1);
        const std::wstring parentKey = parent.empty() ? L"SOFTWARE" : L"SOFTWARE\\" + parent;
        // An empty name would name the parent itself.
        if (name.empty() || !ccDeleteSubKey(parentKey, name) || parent.empty()) return;
        rest = parent;
    }
}
