// Reading and seeding the registry through the COM runtime's calls, and the
// whole registry as text to compare before and after.
#pragma once
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com/registrar.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "tests/support/temp_dir.h"

namespace com_registry {

// A key with a default text.
inline void put(HKEY root, const std::wstring& path, const std::wstring& text)
{
    HKEY opened = nullptr;
    ASSERT_EQ(RegCreateKeyExW(root, path.c_str(), &opened), ERROR_SUCCESS);
    const std::vector<uint8_t> bytes = plat::utf16BytesFromWide(text);
    EXPECT_EQ(RegSetValueExW(opened, nullptr, 0, REG_SZ, bytes.data(), DWORD(bytes.size())), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
}

inline bool exists(HKEY root, const std::wstring& path)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    return true;
}

// A text value (the default when name is empty); "(none)" when the key or
// value is missing.
inline std::wstring text(HKEY root, const std::wstring& path, const std::wstring& name = L"")
{
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return L"(none)";
    BYTE data[1024];
    DWORD size = sizeof data, type = 0;
    std::wstring value = L"(none)";
    if (RegQueryValueExW(opened, name.empty() ? nullptr : name.c_str(), nullptr, &type, data, &size) == ERROR_SUCCESS
        && type == REG_SZ)
        (void)plat::wideFromUtf16Bytes(std::vector<uint8_t>(data, data + size), &value);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    return value;
}

// The whole registry as the text of its file.
inline std::string snapshot(const TempDir& dir)
{
    std::wstring error;
    EXPECT_TRUE(plat::saveRegistryFile(dir.wide("registry"), &error));
    return dir.read("registry");
}

} // namespace com_registry
