#include "platform/com/registrar.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"

namespace {

const std::wstring kClass = L"{5A0B1C2D-3E4F-4061-8293-A4B5C6D7E8F9}";

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
    return {
        {HKEY_CLASSES_ROOT,
         {key(L"Qoralt.Thing.1", none, {key(L"CLSID", none, {}, kClass.c_str())}, L"Thing Class"),
          key(L"CLSID", keep,
              {key(kClass, remove, {key(L"InprocServer32", none, {}, L"%MODULE%", {threading}), key(L"Programmable", none)},
                   L"Thing Class", {flags})})}},
        {HKEY_LOCAL_MACHINE,
         {key(L"Software", keep,
              {key(L"Qoralt", keep, {key(L"FrameGrabbers", keep, {key(kClass, remove, {}, L"Qoralt.Thing")})})})}},
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
    // Another server shares "CLSID" and the list.
    put(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}", L"Other Class");
    put(HKEY_LOCAL_MACHINE, L"Software\\Qoralt\\FrameGrabbers\\{00000000-1111-2222-3333-444444444444}", L"Other");
    const std::string before = snapshot();
    const std::vector<RegistryReplacement> module = {{L"MODULE", L"/opt/qorx/qorx7320.so"}};

    ASSERT_EQ(runRegistryScript(serverScript(), module, true), S_OK);
    const std::wstring classKey = L"CLSID\\" + kClass;
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, (classKey + L"\\InprocServer32").c_str()), L"/opt/qorx/qorx7320.so");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, (classKey + L"\\InprocServer32").c_str(), L"ThreadingModel"), L"Both");
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\Qoralt.Thing.1\\CLSID")), kClass);

    ASSERT_EQ(runRegistryScript(serverScript(), module, false), S_OK);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(runRegistryScript(serverScript(), module, false), S_OK); // nothing left to remove
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

TEST_F(ComRegistrar, ABadReplacementIsRefusedBeforeAnythingIsWritten)
{
    const std::string before = snapshot();
    for (const wchar_t* bad : {L"100% sure", L"%OTHER%"}) {
        RegistryScript script = serverScript();
        script[0].keys[0].defaultValue = bad;
        EXPECT_EQ(runRegistryScript(script, {{L"MODULE", L"m.so"}}, true), E_INVALIDARG);
        EXPECT_EQ(snapshot(), before);
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
}

} // namespace
