#include "platform/com/registrar.h"

#include <gtest/gtest.h>

#include "platform/com/simpleobject.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_typelib.h"

namespace {

const std::wstring kClass = L"{5A0B1C2D-3E4F-4061-8293-A4B5C6D7E8F9}";
const CLSID kClassId = {0x5A0B1C2D, 0x3E4F, 0x4061, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};

// The server's type library: two dispatch interfaces and its class.
const GUID kLibId = {0x5A0B1C2E, 0x3E4F, 0x4061, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
const std::wstring kLib = L"{5A0B1C2E-3E4F-4061-8293-A4B5C6D7E8F9}";
const std::wstring kOne = L"{5C0E7A11-4B21-4F63-9A0D-612E338C7001}", kTwo = L"{5C0E7A12-4B21-4F63-9A0D-612E338C7001}";
const plat::com::InterfaceEntry kThingClass = {&kClassId, u"Thing", nullptr, 0, TKIND_COCLASS};
const plat::com::InterfaceEntry* const kThingTypes[] = {&test_typelib::kOneEntry, &test_typelib::kTwoEntry,
                                                        &kThingClass};
const plat::com::TypeLibraryEntry kThingLibrary = {&kLibId, 1, 0, kThingTypes, 3, u"Thing 1.0 Type Library"};

ITypeLib* thingLibrary()
{
    plat::com::registerTypeLibrary(kThingLibrary);
    ITypeLib* lib = nullptr;
    EXPECT_EQ(LoadRegTypeLib(kLibId, 1, 0, 0, &lib), S_OK);
    return lib;
}

// A library whose types from the given index on cannot be read.
class UnreadableTypes final : public plat::com::SimpleObject<ITypeLib, IID_ITypeLib> {
public:
    UnreadableTypes(ITypeLib* lib, UINT from) : lib_(lib), from_(from) {}
    UINT GetTypeInfoCount() override { return lib_->GetTypeInfoCount(); }
    HRESULT GetTypeInfo(UINT index, ITypeInfo** info) override
    {
        return index < from_ ? lib_->GetTypeInfo(index, info) : E_OUTOFMEMORY;
    }
    HRESULT GetTypeInfoType(UINT index, TYPEKIND* kind) override { return lib_->GetTypeInfoType(index, kind); }
    HRESULT GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** info) override { return lib_->GetTypeInfoOfGuid(guid, info); }
    HRESULT GetLibAttr(TLIBATTR** attr) override { return lib_->GetLibAttr(attr); }
    HRESULT GetDocumentation(int32_t index, BSTR* name, BSTR* doc, DWORD* context, BSTR* file) override
    {
        return lib_->GetDocumentation(index, name, doc, context, file);
    }
    void ReleaseTLibAttr(TLIBATTR* attr) override { lib_->ReleaseTLibAttr(attr); }

private:
    ITypeLib* lib_;
    UINT from_;
};

RegistryScriptKey key(const std::wstring& name, RegistryMark mark, std::vector<RegistryScriptKey> keys = {},
                      const wchar_t* defaultValue = nullptr, std::vector<RegistryScriptValue> values = {})
{
    return {name, mark, defaultValue != nullptr, defaultValue != nullptr ? defaultValue : L"", std::move(values),
            std::move(keys)};
}

// A server's script: ProgID keys, its class key below the shared "CLSID",
// and its entry in a shared list below HKEY_LOCAL_MACHINE.
RegistryScript serverScript()
{
    const RegistryMark none = RegistryMark::none, keep = RegistryMark::noRemove, remove = RegistryMark::remove;
    RegistryScriptValue threading{L"ThreadingModel", false, L"Both", 0};
    RegistryScriptValue flags{L"Flags", true, L"", 7};
    RegistryScriptValue module{L"Thing", false, L"%MODULE%", 0}; // a named value of a key kept
    return {
        {HKEY_CLASSES_ROOT,
         {key(L"Qoralt.Thing.1", none, {key(L"CLSID", none, {}, kClass.c_str())}, L"Thing Class"),
          key(L"CLSID", keep,
              {key(kClass, remove, {key(L"InprocServer32", none, {}, L"%MODULE%", {threading}), key(L"Programmable", none)},
                   L"Thing Class", {flags})})}},
        {HKEY_LOCAL_MACHINE,
         {key(L"Software", keep,
              {key(L"Qoralt", keep,
                   {key(L"FrameGrabbers", keep, {key(kClass, remove, {}, L"Qoralt.Thing")}, nullptr, {module})})})}},
    };
}

class ComRegistrar : public testing::Test {
protected:
    void SetUp() override { plat::clearRegistry(); }

    // The whole registry as text.
    std::string snapshot()
    {
        std::wstring error;
        EXPECT_TRUE(plat::saveRegistryFile(dir.wide("registry"), &error));
        return dir.read("registry");
    }
    static void put(HKEY root, const wchar_t* path, const wchar_t* text)
    {
        HKEY opened = nullptr;
        ASSERT_EQ(RegCreateKeyExW(root, path, &opened), ERROR_SUCCESS);
        const std::vector<uint8_t> bytes = plat::utf16BytesFromWide(text);
        EXPECT_EQ(RegSetValueExW(opened, nullptr, 0, REG_SZ, bytes.data(), DWORD(bytes.size())), ERROR_SUCCESS);
        EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    }
    // The default value's text; "(none)" when the key or value is missing.
    static std::wstring text(HKEY root, const wchar_t* path, const wchar_t* name = nullptr)
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExW(root, path, 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return L"(none)";
        BYTE data[256];
        DWORD size = sizeof data, type = 0;
        std::wstring value = L"(none)";
        if (RegQueryValueExW(opened, name, nullptr, &type, data, &size) == ERROR_SUCCESS && type == REG_SZ)
            (void)plat::wideFromUtf16Bytes(std::vector<uint8_t>(data, data + size), &value);
        EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
        return value;
    }

    TempDir dir;
};

TEST_F(ComRegistrar, RegisterThenUnregisterLeavesTheRegistryAsItWas)
{
    // Another server shares "CLSID" and the list; another library, which
    // already has the key of an interface this one describes too, and
    // another version of this one share "TypeLib" and "Interface".
    const std::wstring other = L"{00000000-1111-2222-3333-444444444444}";
    put(HKEY_CLASSES_ROOT, (L"CLSID\\" + other).c_str(), L"Other Class");
    put(HKEY_LOCAL_MACHINE, (L"Software\\Qoralt\\FrameGrabbers\\" + other).c_str(), L"Other");
    put(HKEY_CLASSES_ROOT, (L"TypeLib\\" + other + L"\\1.0").c_str(), L"Other Type Library");
    put(HKEY_CLASSES_ROOT, (L"Interface\\" + kTwo + L"\\TypeLib").c_str(), other.c_str());
    put(HKEY_CLASSES_ROOT, (L"TypeLib\\" + kLib + L"\\2.0").c_str(), L"Thing 2.0 Type Library");
    const std::string before = snapshot();
    const std::vector<RegistryReplacement> module = {{L"MODULE", L"/opt/qorx/qorx7320.so"}};

    ASSERT_EQ(runRegistryScript(serverScript(), module, true), S_OK);
    ASSERT_EQ(RegisterTypeLib(thingLibrary(), L"/opt/qorx/100%/qorx7320.so"), S_OK);
    const std::wstring classKey = L"CLSID\\" + kClass, version = L"TypeLib\\" + kLib + L"\\1.0";
    const std::wstring one = L"Interface\\" + kOne, two = L"Interface\\" + kTwo;
    const struct {
        std::wstring path;
        const wchar_t* name;
        std::wstring text;
    } rows[] = {
        {classKey + L"\\InprocServer32", nullptr, L"/opt/qorx/qorx7320.so"},
        {classKey + L"\\InprocServer32", L"ThreadingModel", L"Both"},
        {version, nullptr, L"Thing 1.0 Type Library"},
        {version + L"\\FLAGS", nullptr, L"0"},
        {version + L"\\0\\linux64", nullptr, L"/opt/qorx/100%/qorx7320.so"},
        {one, nullptr, L"ITestOne"},
        {one + L"\\TypeLib", nullptr, kLib},
        {one + L"\\TypeLib", L"Version", L"1.0"},
        {two + L"\\TypeLib", nullptr, other}, // not taken over
        {two + L"\\TypeLib", L"Version", L"(none)"},
        {L"Interface\\" + kClass, nullptr, L"(none)"}, // a class is no interface
    };
    for (const auto& row : rows)
        EXPECT_EQ(text(HKEY_CLASSES_ROOT, row.path.c_str(), row.name), row.text) << plat::utf8FromWide(row.path);
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\Qoralt.Thing.1\\CLSID")), kClass);

    ASSERT_EQ(runRegistryScript(serverScript(), module, false), S_OK);
    ASSERT_EQ(UnRegisterTypeLib(kLibId, 1, 0), S_OK);
    EXPECT_EQ(snapshot(), before);
    // Nothing left to remove.
    EXPECT_EQ(runRegistryScript(serverScript(), module, false), S_OK);
    EXPECT_EQ(UnRegisterTypeLib(kLibId, 1, 0), S_OK);
}

TEST_F(ComRegistrar, ATypeLibraryThatCannotBeRegisteredLeavesNothingAndSaysWhy)
{
    const std::string before = snapshot();
    auto* unreadable = new UnreadableTypes(thingLibrary(), 1);
    const struct {
        ITypeLib* lib;
        const wchar_t* path;
        HRESULT hr;
    } rows[] = {
        {nullptr, L"m.so", E_INVALIDARG},
        {thingLibrary(), L"", E_INVALIDARG},
        {unreadable, L"m.so", E_OUTOFMEMORY}, // after its first interface
    };
    for (const auto& row : rows) {
        EXPECT_EQ(RegisterTypeLib(row.lib, row.path), row.hr);
        EXPECT_EQ(snapshot(), before);
    }
    unreadable->Release();
    EXPECT_EQ(UnRegisterTypeLib(kClassId, 1, 0), TYPE_E_LIBNOTREGISTERED);
}

TEST_F(ComRegistrar, NoRemoveKeysStayWhenEmptiedAndUnmarkedOnesGo)
{
    ASSERT_EQ(runRegistryScript(serverScript(), {{L"module", L"m.so"}}, true), S_OK);
    ASSERT_EQ(runRegistryScript(serverScript(), {{L"module", L"m.so"}}, false), S_OK);
    const std::wstring classKey = L"CLSID\\" + kClass;
    const struct {
        HKEY root;
        const wchar_t* path;
        LSTATUS open;
    } cases[] = {
        {HKEY_CLASSES_ROOT, L"CLSID", ERROR_SUCCESS},
        {HKEY_LOCAL_MACHINE, L"Software\\Qoralt\\FrameGrabbers", ERROR_SUCCESS},
        {HKEY_CLASSES_ROOT, L"Qoralt.Thing.1", ERROR_FILE_NOT_FOUND},
        {HKEY_CLASSES_ROOT, classKey.c_str(), ERROR_FILE_NOT_FOUND},
    };
    for (const auto& c : cases) {
        HKEY opened = nullptr;
        EXPECT_EQ(RegOpenKeyExW(c.root, c.path, 0, KEY_READ, &opened), c.open) << plat::utf8FromWide(c.path);
        if (opened != nullptr) {
            EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
        }
    }
}

// A bad replacement anywhere, or a name that comes out empty, is refused
// before anything is written; a name the registry refuses gives its code.
TEST_F(ComRegistrar, ABadScriptIsRefusedBeforeAnythingIsWritten)
{
    const std::string before = snapshot();
    const struct {
        const char* what;
        void (*change)(RegistryScript& script);
        HRESULT hr;
    } rows[] = {
        {"a lone %", [](RegistryScript& s) { s[0].keys[0].defaultValue = L"100% sure"; }, E_INVALIDARG},
        {"an unknown replacement", [](RegistryScript& s) { s[0].keys[0].defaultValue = L"%OTHER%"; }, E_INVALIDARG},
        {"one in a value's name", [](RegistryScript& s) { s[0].keys[1].keys[0].values[0].name = L"%OTHER%"; },
         E_INVALIDARG},
        {"one in a value's text", [](RegistryScript& s) { s[0].keys[1].keys[0].keys[0].values[0].text = L"%OTHER%"; },
         E_INVALIDARG},
        {"one in a subkey's name", [](RegistryScript& s) { s[0].keys[0].keys[0].name = L"%OTHER%"; }, E_INVALIDARG},
        {"a key's name that comes out empty", [](RegistryScript& s) { s[0].keys[0].name = L"%EMPTY%"; },
         E_INVALIDARG},
        {"a value's name that comes out empty", [](RegistryScript& s) { s[0].keys[1].keys[0].values[0].name = L""; },
         E_INVALIDARG},
        {"a key's name the registry refuses", [](RegistryScript& s) { s[0].keys[0].name = L"Qoralt\\\\Thing"; },
         hresultFromWin32(ERROR_INVALID_PARAMETER)},
    };
    for (const auto& row : rows) {
        RegistryScript script = serverScript();
        row.change(script);
        EXPECT_EQ(runRegistryScript(script, {{L"MODULE", L"m.so"}, {L"EMPTY", L""}}, true), row.hr) << row.what;
        EXPECT_EQ(snapshot(), before) << row.what;
    }
}

TEST_F(ComRegistrar, RegistryStatusesAndUnknownHandlesGiveTheirErrors)
{
    put(HKEY_CLASSES_ROOT, L"A\\B", L"b");
    HKEY closed = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"K", &closed), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
    const struct {
        LSTATUS (*remove)(HKEY, const wchar_t*);
        HKEY key;
        const wchar_t* path;
        LSTATUS result;
    } cases[] = {
        {RegDeleteKeyW, HKEY_CLASSES_ROOT, L"A", ERROR_ACCESS_DENIED},
        {RegDeleteKeyW, HKEY_CLASSES_ROOT, L"", ERROR_INVALID_PARAMETER},
        {RegDeleteTreeW, HKEY_CLASSES_ROOT, L"A", ERROR_SUCCESS},
        {RegDeleteKeyW, HKEY_CLASSES_ROOT, L"A", ERROR_FILE_NOT_FOUND},
        {RegDeleteKeyW, closed, L"X", ERROR_INVALID_HANDLE},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.remove(c.key, c.path), c.result) << plat::utf8FromWide(c.path);
    EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);

    // A query may ask the type and size alone; a short buffer learns the size it needs.
    struct Keys {
        HKEY open, madeUp;
        DWORD size;
    } keys{nullptr, reinterpret_cast<HKEY>(uintptr_t{0x1234}), 1};
    put(HKEY_CLASSES_ROOT, L"A", L"a"); // "a" and its NUL: 4 bytes
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"A", 0, KEY_ALL_ACCESS, &keys.open), ERROR_SUCCESS);
    const struct {
        const char* what;
        LSTATUS (*use)(Keys& k);
        LSTATUS result;
        DWORD size;
    } uses[] = {
        {"opening without a result", [](Keys&) { return RegOpenKeyExW(HKEY_CLASSES_ROOT, L"A", 0, KEY_READ, nullptr); },
         ERROR_INVALID_PARAMETER, 1},
        {"opening below a made-up key", [](Keys& k) {
            HKEY opened = nullptr;
            return RegOpenKeyExW(k.madeUp, nullptr, 0, KEY_READ, &opened); }, ERROR_INVALID_HANDLE, 1},
        {"setting a size without data", [](Keys& k) { return RegSetValueExW(k.open, L"v", 0, REG_SZ, nullptr, 4); },
         ERROR_INVALID_PARAMETER, 1},
        {"setting a value of a made-up key", [](Keys& k) { return RegSetValueExW(k.madeUp, L"v", 0, REG_SZ, nullptr, 0); },
         ERROR_INVALID_HANDLE, 1},
        {"querying data without its size", [](Keys& k) {
            BYTE data[8];
            return RegQueryValueExW(k.open, nullptr, nullptr, nullptr, data, nullptr); }, ERROR_INVALID_PARAMETER, 1},
        {"querying the type alone", [](Keys& k) {
            DWORD type = 0;
            const LSTATUS e = RegQueryValueExW(k.open, nullptr, nullptr, &type, nullptr, nullptr);
            return type == REG_SZ ? e : LSTATUS{-1}; }, ERROR_SUCCESS, 1},
        {"querying the size", [](Keys& k) { return RegQueryValueExW(k.open, nullptr, nullptr, nullptr, nullptr, &k.size); },
         ERROR_SUCCESS, 4},
        {"querying into a short buffer", [](Keys& k) {
            BYTE data[2];
            k.size = sizeof data;
            return RegQueryValueExW(k.open, nullptr, nullptr, nullptr, data, &k.size); }, ERROR_MORE_DATA, 4},
        {"deleting a value that is not there", [](Keys& k) { return RegDeleteValueW(k.open, L"v"); },
         ERROR_FILE_NOT_FOUND, 4},
        {"closing a root", [](Keys&) { return RegCloseKey(HKEY_CLASSES_ROOT); }, ERROR_SUCCESS, 4},
    };
    for (const auto& use : uses) {
        EXPECT_EQ(use.use(keys), use.result) << use.what;
        EXPECT_EQ(keys.size, use.size) << use.what;
    }
    EXPECT_EQ(RegCloseKey(keys.open), ERROR_SUCCESS);
}

} // namespace
