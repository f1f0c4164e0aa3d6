#include "platform/com/registrar.h"

#include <cstring>
#include <cwchar>
#include <mutex>
#include <new>
#include <set>

#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/typeinfo.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

struct OpenKey {
    plat::RegistryRoot root;
    std::wstring path;
    plat::RegistryKey key;
};

// Opened keys, so that a closed or made-up handle is refused, not followed.
struct OpenKeys {
    std::mutex lock;
    std::set<OpenKey*> live;
};

OpenKeys& openKeys()
{
    static OpenKeys* instance = new OpenKeys;
    return *instance;
}

// The root and path a handle stands for; false for an unknown handle.
bool resolve(HKEY key, plat::RegistryRoot* root, std::wstring* path)
{
    if (key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE) {
        *root = plat::RegistryRoot::localMachine;
        *path = key == HKEY_CLASSES_ROOT ? L"Software\\Classes" : L"";
        return true;
    }
    if (key == HKEY_CURRENT_USER) {
        *root = plat::RegistryRoot::currentUser;
        path->clear();
        return true;
    }
    OpenKeys& keys = openKeys();
    std::lock_guard<std::mutex> guard(keys.lock);
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (keys.live.count(open) == 0)
        return false;
    *root = open->root;
    *path = open->path;
    return true;
}

std::wstring join(const std::wstring& path, const wchar_t* subKey)
{
    if (subKey == nullptr || *subKey == L'\0')
        return path;
    return path.empty() ? std::wstring(subKey) : path + L'\\' + subKey;
}

LSTATUS errorOf(plat::RegistryStatus status)
{
    switch (status) {
    case plat::RegistryStatus::ok:
        return ERROR_SUCCESS;
    case plat::RegistryStatus::notFound:
        return ERROR_FILE_NOT_FOUND;
    case plat::RegistryStatus::badHandle:
        return ERROR_INVALID_HANDLE;
    case plat::RegistryStatus::badArgument:
        return ERROR_INVALID_PARAMETER;
    case plat::RegistryStatus::hasSubkeys:
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_INVALID_PARAMETER;
}

LSTATUS openOrCreate(HKEY key, const wchar_t* subKey, HKEY* result, bool create)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    plat::RegistryRoot root;
    std::wstring path;
    if (!resolve(key, &root, &path))
        return ERROR_INVALID_HANDLE;
    path = join(path, subKey);
    plat::RegistryKey opened = 0;
    const plat::RegistryStatus status =
        create ? plat::createRegistryKey(root, path, &opened) : plat::openRegistryKey(root, path, &opened);
    if (status != plat::RegistryStatus::ok)
        return errorOf(status);
    auto* open = new (std::nothrow) OpenKey{root, path, opened};
    if (open == nullptr) {
        (void)plat::closeRegistryKey(opened); // just opened
        return ERROR_INVALID_PARAMETER;
    }
    OpenKeys& keys = openKeys();
    std::lock_guard<std::mutex> guard(keys.lock);
    keys.live.insert(open);
    *result = reinterpret_cast<HKEY>(open);
    return ERROR_SUCCESS;
}

// Runs use with the platform key behind a handle (a root is opened for it).
template <typename Use>
LSTATUS withKey(HKEY key, Use&& use)
{
    HKEY opened = nullptr;
    const LSTATUS error = openOrCreate(key, nullptr, &opened, false);
    if (error != ERROR_SUCCESS)
        return error;
    const LSTATUS result = use(reinterpret_cast<OpenKey*>(opened)->key);
    (void)RegCloseKey(opened); // just opened
    return result;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY key, const wchar_t* subKey, DWORD, DWORD, HKEY* result)
{
    return openOrCreate(key, subKey, result, false);
}

LSTATUS RegCreateKeyExW(HKEY key, const wchar_t* subKey, HKEY* result)
{
    return openOrCreate(key, subKey, result, true);
}

LSTATUS RegCloseKey(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT || key == HKEY_LOCAL_MACHINE || key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    auto* open = reinterpret_cast<OpenKey*>(key);
    {
        OpenKeys& keys = openKeys();
        std::lock_guard<std::mutex> guard(keys.lock);
        if (keys.live.erase(open) == 0)
            return ERROR_INVALID_HANDLE;
    }
    (void)plat::closeRegistryKey(open->key); // open until now
    delete open;
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY key, const wchar_t* name, DWORD, DWORD type, const BYTE* data, DWORD size)
{
    if (data == nullptr && size != 0)
        return ERROR_INVALID_PARAMETER;
    const std::vector<uint8_t> bytes(data, data + size);
    return withKey(key, [&](plat::RegistryKey opened) {
        return errorOf(plat::setRegistryValue(opened, name != nullptr ? name : L"", plat::RegistryType(type), bytes));
    });
}

LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD*, DWORD* type, BYTE* data, DWORD* size)
{
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    return withKey(key, [&](plat::RegistryKey opened) {
        plat::RegistryValue value;
        const plat::RegistryStatus status = plat::queryRegistryValue(opened, name != nullptr ? name : L"", &value);
        if (status != plat::RegistryStatus::ok)
            return errorOf(status);
        if (type != nullptr)
            *type = static_cast<DWORD>(value.type);
        if (size == nullptr)
            return ERROR_SUCCESS;
        const DWORD capacity = *size;
        *size = static_cast<DWORD>(value.bytes.size());
        if (data == nullptr)
            return ERROR_SUCCESS;
        if (capacity < value.bytes.size())
            return ERROR_MORE_DATA;
        if (!value.bytes.empty())
            std::memcpy(data, value.bytes.data(), value.bytes.size());
        return ERROR_SUCCESS;
    });
}

LSTATUS RegDeleteValueW(HKEY key, const wchar_t* name)
{
    return withKey(key, [&](plat::RegistryKey opened) {
        return errorOf(plat::deleteRegistryValue(opened, name != nullptr ? name : L""));
    });
}

namespace {

LSTATUS deleteKey(HKEY key, const wchar_t* subKey, bool withSubkeys)
{
    plat::RegistryRoot root;
    std::wstring path;
    if (!resolve(key, &root, &path))
        return ERROR_INVALID_HANDLE;
    if (subKey == nullptr || *subKey == L'\0')
        return ERROR_INVALID_PARAMETER;
    return errorOf(plat::deleteRegistryKey(root, join(path, subKey), withSubkeys));
}

bool expand(const std::wstring& text, const std::vector<RegistryReplacement>& replacements, std::wstring* out)
{
    out->clear();
    for (size_t at = 0; at < text.size();) {
        const size_t percent = text.find(L'%', at);
        if (percent == std::wstring::npos) {
            out->append(text, at, std::wstring::npos);
            break;
        }
        out->append(text, at, percent - at);
        const size_t close = text.find(L'%', percent + 1);
        if (close == std::wstring::npos)
            return false;
        const std::wstring name = text.substr(percent + 1, close - percent - 1);
        if (name.empty()) {
            out->push_back(L'%');
        } else {
            const RegistryReplacement* found = nullptr;
            for (const RegistryReplacement& replacement : replacements)
                if (plat::foldCase(replacement.name) == plat::foldCase(name))
                    found = &replacement;
            if (found == nullptr)
                return false;
            out->append(found->value);
        }
        at = close + 1;
    }
    return true;
}

bool expandKey(RegistryScriptKey* key, const std::vector<RegistryReplacement>& replacements)
{
    std::wstring text;
    if (!expand(key->name, replacements, &text) || text.empty())
        return false;
    key->name = text;
    if (!expand(key->defaultValue, replacements, &text))
        return false;
    key->defaultValue = text;
    for (RegistryScriptValue& value : key->values) {
        if (!expand(value.name, replacements, &text) || text.empty())
            return false;
        value.name = text;
        if (!expand(value.text, replacements, &text))
            return false;
        value.text = text;
    }
    for (RegistryScriptKey& child : key->keys)
        if (!expandKey(&child, replacements))
            return false;
    return true;
}

LSTATUS setValue(HKEY key, const wchar_t* name, const RegistryScriptValue& value)
{
    if (value.isNumber) {
        BYTE bytes[4];
        std::memcpy(bytes, &value.number, sizeof bytes);
        return RegSetValueExW(key, name, 0, REG_DWORD, bytes, sizeof bytes);
    }
    const std::vector<uint8_t> bytes = plat::utf16BytesFromWide(value.text);
    return RegSetValueExW(key, name, 0, REG_SZ, bytes.data(), static_cast<DWORD>(bytes.size()));
}

LSTATUS registerKey(HKEY parent, const RegistryScriptKey& script)
{
    HKEY key = nullptr;
    LSTATUS error = RegCreateKeyExW(parent, script.name.c_str(), &key);
    if (error != ERROR_SUCCESS)
        return error;
    if (script.hasDefault) {
        RegistryScriptValue value;
        value.text = script.defaultValue;
        error = setValue(key, nullptr, value);
    }
    for (size_t i = 0; i < script.values.size() && error == ERROR_SUCCESS; ++i)
        error = setValue(key, script.values[i].name.c_str(), script.values[i]);
    for (size_t i = 0; i < script.keys.size() && error == ERROR_SUCCESS; ++i)
        error = registerKey(key, script.keys[i]);
    (void)RegCloseKey(key); // just opened
    return error;
}

LSTATUS unregisterKey(HKEY parent, const RegistryScriptKey& script)
{
    if (script.mark == RegistryMark::remove) {
        const LSTATUS error = RegDeleteTreeW(parent, script.name.c_str());
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    HKEY key = nullptr;
    LSTATUS error = RegOpenKeyExW(parent, script.name.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (error != ERROR_SUCCESS)
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    for (size_t i = 0; i < script.keys.size() && error == ERROR_SUCCESS; ++i)
        error = unregisterKey(key, script.keys[i]);
    if (script.mark == RegistryMark::noRemove) {
        for (size_t i = 0; i < script.values.size() && error == ERROR_SUCCESS; ++i) {
            error = RegDeleteValueW(key, script.values[i].name.c_str());
            error = error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
        }
    }
    (void)RegCloseKey(key); // just opened
    if (error != ERROR_SUCCESS || script.mark == RegistryMark::noRemove)
        return error;
    // A key that others still use keeps its subkeys and stays.
    error = RegDeleteKeyW(parent, script.name.c_str());
    return error == ERROR_ACCESS_DENIED ? ERROR_SUCCESS : error;
}

} // namespace

LSTATUS RegDeleteKeyW(HKEY key, const wchar_t* subKey)
{
    return deleteKey(key, subKey, false);
}

LSTATUS RegDeleteTreeW(HKEY key, const wchar_t* subKey)
{
    return deleteKey(key, subKey, true);
}

HRESULT runRegistryScript(const RegistryScript& script, const std::vector<RegistryReplacement>& replacements,
                          bool registering)
{
    RegistryScript expanded = script;
    for (RegistryScriptRoot& root : expanded)
        for (RegistryScriptKey& key : root.keys)
            if (!expandKey(&key, replacements))
                return E_INVALIDARG;
    for (const RegistryScriptRoot& root : expanded) {
        for (const RegistryScriptKey& key : root.keys) {
            const LSTATUS error = registering ? registerKey(root.root, key) : unregisterKey(root.root, key);
            if (error != ERROR_SUCCESS)
                return hresultFromWin32(error);
        }
    }
    return S_OK;
}

namespace {

std::wstring guidText(REFGUID guid)
{
    OLECHAR buffer[40] = {};
    const int units = StringFromGUID2(guid, buffer, 40);
    return plat::wideFromUtf16(buffer, units > 0 ? units - 1 : 0);
}

std::wstring hexText(uint32_t number)
{
    wchar_t buffer[12];
    std::swprintf(buffer, 12, L"%x", number);
    return buffer;
}

// The text as a script writes it, whatever "%" it holds.
std::wstring literal(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        out += c;
        if (c == L'%') out += c;
    }
    return out;
}

// The text of a string value below key; empty when there is none.
std::wstring textValue(HKEY key, const wchar_t* subKey, const wchar_t* name)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(key, subKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) return L"";
    DWORD type = 0, size = 0;
    std::wstring text;
    if (RegQueryValueExW(opened, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        std::vector<uint8_t> bytes(size);
        if (RegQueryValueExW(opened, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS
            || !plat::wideFromUtf16Bytes(bytes, &text))
            text.clear();
    }
    (void)RegCloseKey(opened); // just opened
    return text;
}

// Whether this library version may have the interface's key: none is there
// yet, or it already names this library and version.
bool interfaceKeyIsOurs(const std::wstring& iid, const std::wstring& libid, const std::wstring& version)
{
    const std::wstring path = L"Interface\\" + iid;
    HKEY key = nullptr;
    const LSTATUS error = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
    if (error != ERROR_SUCCESS) return error == ERROR_FILE_NOT_FOUND;
    const bool ours = plat::foldCase(textValue(key, L"TypeLib", nullptr)) == plat::foldCase(libid)
                      && textValue(key, L"TypeLib", L"Version") == version;
    (void)RegCloseKey(key); // just opened
    return ours;
}

RegistryScriptKey scriptKey(const std::wstring& name, RegistryMark mark, const std::wstring* defaultValue,
                            std::vector<RegistryScriptKey> keys = {}, std::vector<RegistryScriptValue> values = {})
{
    return {literal(name), mark, defaultValue != nullptr, defaultValue ? literal(*defaultValue) : L"",
            std::move(values), std::move(keys)};
}

// The id and name of a type a library describes.
HRESULT idAndName(ITypeInfo* info, std::wstring* id, std::wstring* name)
{
    TYPEATTR* attr = nullptr;
    HRESULT hr = info->GetTypeAttr(&attr);
    if (FAILED(hr)) return hr;
    *id = guidText(attr->guid);
    info->ReleaseTypeAttr(attr);
    BSTR text = nullptr;
    if (FAILED(hr = info->GetDocumentation(MEMBERID_NIL, &text, nullptr, nullptr, nullptr))) return hr;
    *name = plat::com::wideFromBstr(text);
    SysFreeString(text);
    return S_OK;
}

// The keys of a library version (by default the library's own), found from
// the library itself: everything is asked before anything is written.
HRESULT typeLibraryScript(ITypeLib* lib, const std::wstring& fullPath, const WORD* majorMinor,
                          RegistryScript* script)
{
    TLIBATTR* attr = nullptr;
    HRESULT hr = lib->GetLibAttr(&attr);
    if (FAILED(hr)) return hr;
    const std::wstring libid = guidText(attr->guid);
    const std::wstring version = majorMinor ? hexText(majorMinor[0]) + L"." + hexText(majorMinor[1])
                                            : hexText(attr->wMajorVerNum) + L"." + hexText(attr->wMinorVerNum);
    const std::wstring flags = hexText(attr->wLibFlags);
    const std::wstring lcid = hexText(attr->lcid);
    lib->ReleaseTLibAttr(attr);
    BSTR name = nullptr;
    if (FAILED(hr = lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr))) return hr;
    const std::wstring libraryName = plat::com::wideFromBstr(name);
    SysFreeString(name);

    std::vector<RegistryScriptKey> interfaces;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        TYPEKIND kind = TKIND_DISPATCH;
        if (FAILED(hr = lib->GetTypeInfoType(i, &kind))) return hr;
        if (kind != TKIND_DISPATCH) continue;
        ITypeInfo* info = nullptr;
        if (FAILED(hr = lib->GetTypeInfo(i, &info))) return hr;
        std::wstring iid, interfaceName;
        hr = idAndName(info, &iid, &interfaceName);
        info->Release();
        if (FAILED(hr)) return hr;
        if (interfaceKeyIsOurs(iid, libid, version))
            interfaces.push_back(scriptKey(iid, RegistryMark::remove, &interfaceName,
                                           {scriptKey(L"TypeLib", RegistryMark::none, &libid, {},
                                                      {{L"Version", false, version, 0}})}));
    }

    RegistryScriptKey platformKey = scriptKey(L"linux64", RegistryMark::none, &fullPath);
    RegistryScriptKey versionKey = scriptKey(
        version, RegistryMark::remove, &libraryName,
        {scriptKey(L"FLAGS", RegistryMark::none, &flags), scriptKey(lcid, RegistryMark::none, nullptr, {platformKey})});
    RegistryScriptRoot root{HKEY_CLASSES_ROOT,
                            {scriptKey(L"TypeLib", RegistryMark::noRemove, nullptr,
                                       {scriptKey(libid, RegistryMark::none, nullptr, {versionKey})})}};
    if (!interfaces.empty())
        root.keys.push_back(scriptKey(L"Interface", RegistryMark::noRemove, nullptr, std::move(interfaces)));
    *script = {root};
    return S_OK;
}

} // namespace

HRESULT RegisterTypeLib(ITypeLib* lib, const std::wstring& fullPath)
{
    if (!lib || fullPath.empty()) return E_INVALIDARG;
    RegistryScript script;
    HRESULT hr = typeLibraryScript(lib, fullPath, nullptr, &script);
    if (FAILED(hr)) return hr;
    hr = runRegistryScript(script, {}, true);
    // Nothing half-written stays behind.
    if (FAILED(hr)) (void)runRegistryScript(script, {}, false);
    return hr;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor)
{
    ITypeLib* lib = nullptr;
    HRESULT hr = LoadRegTypeLib(libid, major, minor, 0, &lib);
    if (FAILED(hr)) return hr;
    RegistryScript script;
    const WORD version[] = {major, minor};
    hr = typeLibraryScript(lib, L"", version, &script);
    lib->Release();
    return FAILED(hr) ? hr : runRegistryScript(script, {}, false);
}
