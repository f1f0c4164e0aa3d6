// Shared by the search-path, string and dictionary tests: a clean language
// and environment, the resource libraries built beside the tests, and the
// text read back out of a library loaded as data.
#pragma once
#include <algorithm>
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "platform/environment.h"
#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "platform/module.h"
#include "std/dictionary.h"
#include "std/dictionary_testing.h"
#include "tests/support/temp_dir.h"

namespace resource_support {

// kUnknown has no abbreviation in the table.
constexpr uint16_t kEnglish = 0x0409, kGerman = 0x0407, kFrench = 0x040C, kUnknown = 0x0413;

inline const std::string kLibraryDir = QRES_DIR "/";

inline std::wstring wide(const std::string& text) { return TempDir::ascii(text); }

// The "\" form the library uses inside.
inline std::wstring backslashed(std::wstring path) { return std::replace(path.begin(), path.end(), L'/', L'\\'), path; }

// A directory as the library keeps it: "\" and no trailing separator.
inline std::wstring kept(const TempDir& dir) { return backslashed(dir.wide()).substr(0, dir.path.size() - 1); }

// Copies the resource libraries of languages ("ENU", "DEU") into a directory.
inline void copyLibraries(const TempDir& dir, const std::vector<std::string>& languages)
{
    for (const std::string& language : languages)
        std::filesystem::copy_file(kLibraryDir + "qres_test_" + language + ".so",
                                   dir.path + "qres_test_" + language + ".so");
}

// The language abbreviation the library holds; empty for none.
inline std::string textOf(plat::ModuleHandle module)
{
    const std::vector<uint8_t>* data = plat::moduleData(module);
    const std::string bytes = data ? std::string(data->begin(), data->end()) : "", marker = "qres text: ";
    const size_t at = bytes.find(marker);
    return at == std::string::npos ? "" : bytes.substr(at + marker.size(), 3);
}

// English, no search-path variables, event lines collected.
class ResourceTest : public testing::Test {
protected:
    void SetUp() override { reset(kEnglish, true); }
    void TearDown() override { reset(0, false); }
    static void reset(uint16_t userLanguage, bool collect)
    {
        ccResetLanguageForTesting();
        plat::setUserLanguageOverride(userLanguage);
        setPaths({});
        plat::collectEventLines(collect);
        (void)plat::takeEventLines();
    }
    // The user path, and the system path; each unset when none.
    static void setPaths(const std::optional<std::wstring>& user, const std::optional<std::wstring>& system = {})
    {
        for (const auto& [name, value] : {std::pair(L"QORALT_PATH", user), std::pair(L"QORALT_SYSTEM_PATH", system)})
            EXPECT_TRUE(value ? plat::setEnvironmentVariable(name, *value) : plat::unsetEnvironmentVariable(name));
    }
};

} // namespace resource_support
