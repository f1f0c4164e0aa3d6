// Shared by the search-path, string and dictionary tests: a clean language
// and environment, the resource libraries built beside the tests, and the
// text read back out of a library loaded as data.
#pragma once
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "platform/module.h"
#include "std/strings.h"
#include "std/strings_testing.h"
#include "tests/support/temp_dir.h"

namespace resource_support {

constexpr uint16_t kEnglish = 0x0409;
constexpr uint16_t kGerman = 0x0407;
constexpr uint16_t kFrench = 0x040C;
constexpr uint16_t kUnknown = 0x0413; // no abbreviation in the table

inline const std::string kLibraryDir = QRES_DIR "/";

inline std::wstring wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end()); // test names are ASCII
}

// The "\" form the library uses inside.
inline std::wstring backslashed(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// A directory as the library keeps it: "\" and no trailing separator.
inline std::wstring kept(const TempDir& dir)
{
    const std::wstring path = backslashed(dir.wide());
    return path.substr(0, path.size() - 1);
}

// Copies the resource library of a language ("ENU", "DEU") into a directory.
inline void copyLibrary(const TempDir& dir, const std::string& language, const std::string& base = "qres_test_")
{
    std::filesystem::copy_file(kLibraryDir + "qres_test_" + language + ".so", dir.path + base + language + ".so");
}

// The language abbreviation the library holds; empty for none.
inline std::string textOf(plat::ModuleHandle module)
{
    const std::vector<uint8_t>* data = plat::moduleData(module);
    if (data == nullptr)
        return {};
    const std::string marker = "qres text: ";
    const auto at = std::search(data->begin(), data->end(), marker.begin(), marker.end());
    if (data->end() - at < static_cast<std::ptrdiff_t>(marker.size() + 3))
        return {};
    return std::string(at + marker.size(), at + marker.size() + 3);
}

// English, no search-path variables, event lines collected.
class ResourceTest : public testing::Test {
protected:
    void SetUp() override
    {
        ccSetAbbreviationSourceForTesting(nullptr);
        ccResetLanguageForTesting();
        plat::setUserLanguageOverride(kEnglish);
        unsetPaths();
        plat::collectEventLines(true);
        (void)plat::takeEventLines();
    }
    void TearDown() override
    {
        plat::collectEventLines(false);
        (void)plat::takeEventLines();
        unsetPaths();
        plat::setUserLanguageOverride(0);
        ccResetLanguageForTesting();
    }
    static void unsetPaths()
    {
        EXPECT_TRUE(plat::unsetEnvironmentVariable(L"QORALT_PATH"));
        EXPECT_TRUE(plat::unsetEnvironmentVariable(L"QORALT_SYSTEM_PATH"));
    }
    static void setPath(const wchar_t* name, const std::wstring& value)
    {
        ASSERT_TRUE(plat::setEnvironmentVariable(name, value));
    }
};

} // namespace resource_support
