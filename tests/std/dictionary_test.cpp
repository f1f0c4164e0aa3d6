#include "std/dictionary.h"

#include <gtest/gtest.h>

#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

using Dictionary = ResourceTest;

const std::wstring kLine = L"Qoralt: Can't load string resources: ";

TEST_F(Dictionary, LoadsTheLanguageThenEnglishFromItsDirectoryThenThePathReportsWhenBothFailTriesOnceAndNamesModules)
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
        TempDir directory, path;
        copyLibraries(directory, c.inDirectory), copyLibraries(path, c.onPath);
        setPaths(path.wide()), ccSetLanguageId(c.language);
        ccDictionary dictionary;
        dictionary.add(c.withDirectory ? kept(directory) : L"", L"qres_test_", 1, 9);
        const plat::ModuleHandle module = dictionary.libraryFor(5); // read as data, so never run
        const std::string language = c.loaded.empty() ? "" : c.loaded.substr(1);
        const std::wstring from = (c.loaded[0] == 'D' ? directory : path).wide("qres_test_" + language + ".so");
        const std::wstring tried = (c.withDirectory ? kept(directory) + L"\\" : L"") + L"qres_test_ENU.dll";
        EXPECT_EQ(std::tuple(plat::modulePath(module), textOf(module), plat::takeEventLines()),
                  std::tuple(language.empty() ? L"" : from, language,
                             language.empty() ? std::vector{kLine + tried} : std::vector<std::wstring>{})) << c.name;
    }

    // Tries once per language.
    ccSetLanguageId(kEnglish);
    TempDir dir;
    ccDictionary dictionary;
    dictionary.add(kept(dir), L"qres_test_", 0, 0);
    EXPECT_EQ(dictionary.libraryFor(0), nullptr);
    copyLibraries(dir, {"ENU", "DEU"});
    EXPECT_EQ(dictionary.libraryFor(0), nullptr); // not tried again in this language
    ccSetLanguageId(kGerman);
    EXPECT_EQ((std::pair{textOf(dictionary.libraryFor(0)), plat::takeEventLines().size()}),
              std::pair(std::string("DEU"), size_t(1)));

    // A module gives the directory before the last separator of either kind and the base name (the root is a
    // directory too). The library that could not be loaded is named in the line.
    const struct { const wchar_t* file; const wchar_t* base; const wchar_t* tried; } modules[] = {
        {L"/opt/app\\res/msgs.v2.dll", L"", L"/opt/app\\res\\msgs.v2ENU.dll"},
        {L"/opt/x/module.dll", L"given", L"/opt/x\\givenENU.dll"}, {L"/msgs.dll", L"", L"/msgsENU.dll"}};
    for (const auto& c : modules) {
        ccDictionary dictionary;
        dictionary.addModuleFile(c.file, c.base, 0, 0);
        EXPECT_EQ(dictionary.libraryFor(0), nullptr);
        EXPECT_EQ(plat::takeEventLines(), std::vector<std::wstring>{kLine + c.tried}) << c.file;
    }
    // A refused module adds nothing.
    ccSetLanguageId(kEnglish);
    ccDictionary refusing;
    EXPECT_THROW(refusing.addModuleFile(L"", L"", 0, 0), ccDictionary::BadParams);
    plat::ModuleHandle module = plat::loadModuleAsData(wide(kLibraryDir + "qres_test_DEU.so"));
    refusing.addModule(module, L"qres_test_", 0, 0);
    EXPECT_EQ(plat::modulePath(refusing.libraryFor(0)), wide(kLibraryDir + "qres_test_ENU.so"));
    EXPECT_TRUE(plat::freeModule(module));
}

} // namespace
