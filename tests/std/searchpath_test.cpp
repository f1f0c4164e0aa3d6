#include "std/searchpath.h"

#include <gtest/gtest.h>

#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

using SearchPath = ResourceTest;

// Every directory the path gives, in order; each replaces what the string held.
std::vector<std::wstring> directories(std::wstring path)
{
    std::vector<std::wstring> all;
    for (std::wstring directory = L"stale"; !path.empty(); all.push_back(directory), directory = L"stale")
        acPopPathElement(path, directory);
    return all;
}

// Elements end in a backslash; the system path or the module directory is searched, then the user path.
TEST_F(SearchPath, TheSystemPathOrModuleDirectoryThenTheUserPathAreSearchedAndBareNamesOnlyWithoutAUserPath)
{
    const std::wstring module = acGetModuleDirectory();
    ASSERT_TRUE(module.back() == L'\\' && module.find(L'/') == std::wstring::npos);
    const std::optional<std::wstring> unset;
    // "M": the module directory.
    const struct { std::optional<std::wstring> system, user; std::vector<std::wstring> directories; } cases[] = {
        {unset, unset, {L"M"}}, {unset, L"/opt/cam;;D:\\res\\", {L"M", L"\\opt\\cam\\", L"", L"D:\\res\\"}},
        {L"/sys", unset, {L"\\sys\\"}}, {L"/sys", L"u", {L"\\sys\\", L"u\\"}}};
    for (const auto& c : cases) {
        setPaths(c.user, c.system);
        std::vector<std::wstring> expected = c.directories;
        std::replace(expected.begin(), expected.end(), std::wstring(L"M"), module);
        EXPECT_EQ(directories(acGetSearchPath()), expected) << c.system.value_or(L"-") << c.user.value_or(L"-");
    }

    // Loads by bare name without a user path, else only from its directories (the path walk as data files is the
    // dictionaries').
    TempDir empty, first;
    copyLibraries(first, {"ENU"});
    std::wstring libm; // where the loader found it
    ASSERT_TRUE(plat::findLoadedModule(L"libm.so.6", &libm));
    // Loaded: empty for nothing.
    const struct { const char* name; std::optional<std::wstring> system, user; const wchar_t* file; uint32_t flags;
                   std::wstring loaded; } loads[] = {
        {"bare name, system path ignored", empty.wide(), unset, L"libm.so.6", 0, libm}, // found by the loader
        {"bare name not in the working directory", first.wide(), unset, L"qres_test_ENU.dll", acLoadAsDataFile, L""},
        {"directories only", empty.wide(), empty.wide(), L"libm.so.6", 0, L""}};
    for (const auto& c : loads) {
        SCOPED_TRACE(c.name);
        setPaths(c.user, c.system);
        plat::ModuleHandle module = acLoadLibraryOnPath(c.file, c.flags);
        EXPECT_EQ(plat::modulePath(module), c.loaded);
        EXPECT_EQ(plat::moduleData(module) != nullptr, module != nullptr && c.flags == acLoadAsDataFile);
        EXPECT_TRUE(module == nullptr || plat::freeModule(module));
    }
}

TEST(SearchPathFiles, PrefixAndSuffixIgnoreCaseAndTheFirstDirectoryWithMatchesEndsTheWalk)
{
    TempDir none, some, later;
    none.write("other.ccf", "");
    for (const char* name :
         {"camA.CCF", "CAMERA.ccf", "cam.ccf", "camb.ccf", "cam.ccfx", "other.ccf", "ca.ccf", "cam.ccf.bak"})
        some.write(name, "");
    later.write("camC.ccf", "");
    const std::wstring path = none.wide() + L";" + some.wide() + L";" + later.wide();
    const std::wstring in = backslashed(some.wide());
    const struct { const wchar_t* prefix; const wchar_t* suffix; std::vector<std::wstring> found; } cases[] = {
        {L"cam", L".CCF", {in + L"CAMERA.ccf", in + L"cam.ccf", in + L"camA.CCF", in + L"camb.ccf"}},
        {L"CAMA", L"", {in + L"camA.CCF"}}, {L"camC", L".ccf", {backslashed(later.wide()) + L"camC.ccf"}},
        {L"absent", L"", {}}, {L"cam.c", L".ccf", {}}}; // the prefix and the suffix would overlap
    for (const auto& c : cases) {
        std::vector<std::wstring> found{L"kept"}, expected{L"kept"}; // appended to what the list held
        acFindFilesOnPath(c.prefix, c.suffix, path, found);
        expected.insert(expected.end(), c.found.begin(), c.found.end());
        EXPECT_EQ(found, expected) << c.prefix << c.suffix;
    }
}

} // namespace
