#include "std/dictionary.h"

#include <gtest/gtest.h>

#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

using Dictionary = ResourceTest;

const std::wstring kLine = L"Qoralt: Can't load string resources: ";

TEST_F(Dictionary, LoadsTheLanguageThenEnglishFromItsDirectoryThenAlongThePathReportsOnlyWhenBothFailAndTriesOnce)
{
    // The libraries present in the directory and along the path; loaded: "D..." or "P..." and the language, or empty.
    const struct { const char* name; uint16_t language; std::vector<std::string> inDirectory, onPath;
                   bool withDirectory; std::string loaded; } cases[] = {
        {"language", kGerman, {"ENU", "DEU"}, {}, true, "DDEU"},
        {"English when the language has none", kGerman, {"ENU"}, {}, true, "DENU"},
        {"the language along the path first", kGerman, {"ENU"}, {"DEU"}, true, "PDEU"},
        {"no directory", kGerman, {"ENU", "DEU"}, {"ENU"}, false, "PENU"},
        {"neither", kGerman, {}, {}, true, ""}, {"neither, no directory", kFrench, {"DEU"}, {"DEU"}, false, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir directory, path;
        copyLibraries(directory, c.inDirectory), copyLibraries(path, c.onPath);
        setPaths(path.wide());
        ccSetLanguageId(c.language);
        ccDictionary dictionary;
        dictionary.add(c.withDirectory ? kept(directory) : L"", L"qres_test_", 1, 9);

        plat::ModuleHandle module = dictionary.libraryFor(5);
        const std::string language = c.loaded.empty() ? "" : c.loaded.substr(1);
        const TempDir& from = c.loaded[0] == 'D' ? directory : path;
        EXPECT_EQ(plat::modulePath(module), language.empty() ? L"" : from.wide("qres_test_" + language + ".so"));
        EXPECT_EQ(textOf(module), language); // read as data, so never run
        const std::wstring tried = (c.withDirectory ? kept(directory) + L"\\" : L"") + L"qres_test_ENU.dll";
        EXPECT_EQ(plat::takeEventLines(), language.empty() ? std::vector{kLine + tried} : std::vector<std::wstring>{});
    }

    // Tries once per language, and drops the library of the old one.
    ccSetLanguageId(kEnglish);
    TempDir dir;
    ccDictionary dictionary;
    dictionary.add(kept(dir), L"qres_test_", 0, 0);
    EXPECT_EQ(dictionary.libraryFor(0), nullptr);
    copyLibraries(dir, {"ENU"});
    EXPECT_EQ(dictionary.libraryFor(0), nullptr); // not tried again in this language
    EXPECT_EQ(plat::takeEventLines().size(), 1u);

    ccSetLanguageId(kGerman);
    plat::ModuleHandle english = dictionary.libraryFor(0);
    EXPECT_EQ(std::pair(textOf(english), dictionary.libraryFor(0)), std::pair(std::string("ENU"), english));
    copyLibraries(dir, {"DEU"});
    ccSetLanguageId(kFrench);
    EXPECT_EQ(textOf(dictionary.libraryFor(0)), "ENU");
    ccSetLanguageId(kGerman);
    EXPECT_EQ(textOf(dictionary.libraryFor(0)), "DEU");

    for (const char* file : {"qres_test_ENU.so", "qres_test_DEU.so"})
        std::filesystem::remove(dir.path + file);
    ccSetLanguageId(kEnglish);
    EXPECT_EQ(dictionary.libraryFor(0), nullptr); // not the German one
    EXPECT_EQ(plat::takeEventLines().size(), 1u);
}

TEST_F(Dictionary, FirstRangeThatHoldsTheIdentifierWinsAndModulesGiveDirectoryAndBaseName)
{
    TempDir first, second;
    copyLibraries(first, {"ENU"}), copyLibraries(second, {"ENU"});
    ccDictionary dictionary;
    dictionary.add(kept(first), L"qres_test_", 10, 20);
    dictionary.add(kept(second), L"qres_test_", 15, 0xFFFFFFFFu);
    const struct { uint32_t id; const TempDir* from; /* null: no range */ } cases[] = {
        {10, &first}, {20, &first}, {21, &second}, {0xFFFFFFFFu, &second}, {9, nullptr}};
    for (const auto& c : cases)
        EXPECT_EQ(plat::modulePath(dictionary.libraryFor(c.id)), c.from ? c.from->wide("qres_test_ENU.so") : L"")
            << c.id;
    EXPECT_TRUE(plat::takeEventLines().empty());

    // A module gives the directory before the last separator of either kind and the base name. The library that
    // could not be loaded is named in the line.
    const struct { const wchar_t* file; const wchar_t* base; const wchar_t* tried; } modules[] = {
        {L"/opt/app\\res/msgs.v2.dll", L"", L"/opt/app\\res\\msgs.v2ENU.dll"},
        {L"/opt/app/res\\msgs", L"", L"/opt/app/res\\msgsENU.dll"},
        {L"/opt/x/module.dll", L"given", L"/opt/x\\givenENU.dll"}, {L"", L"given", L"givenENU.dll"},
        {L"/msgs.dll", L"", L"/msgsENU.dll"}, // the root is a directory too
        {L"/opt/res/", L"x", L"/opt/res/xENU.dll"}}; // added as a directory: its separator gets no second one
    for (const auto& c : modules) {
        ccDictionary dictionary;
        if (c.base == std::wstring(L"x"))
            dictionary.add(c.file, c.base, 0, 0);
        else
            dictionary.addModuleFile(c.file, c.base, 0, 0);
        EXPECT_EQ(dictionary.libraryFor(0), nullptr);
        EXPECT_EQ(plat::takeEventLines(), std::vector<std::wstring>{kLine + c.tried}) << c.file;
    }
    ccDictionary refusing;
    EXPECT_THROW(refusing.addModuleFile(L"", L"", 0, 0), ccDictionary::BadParams);
    EXPECT_EQ(refusing.libraryFor(0), nullptr); // nothing added

    plat::ModuleHandle module = plat::loadModuleAsData(wide(kLibraryDir + "qres_test_DEU.so"));
    refusing.addModule(module, L"qres_test_", 0, 0);
    EXPECT_EQ(plat::modulePath(refusing.libraryFor(0)), wide(kLibraryDir + "qres_test_ENU.so"));
    EXPECT_TRUE(plat::freeModule(module));
}

} // namespace
