#include "std/dictionary.h"

#include <gtest/gtest.h>

#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

class Dictionary : public ResourceTest {};

const std::wstring kLine = L"Qoralt: Can't load string resources: ";

TEST_F(Dictionary, LoadsTheLanguageThenEnglishFromItsDirectoryThenAlongThePathAndReportsOnlyWhenBothFail)
{
    const struct {
        const char* name;
        uint16_t language;
        std::vector<std::string> inDirectory; // libraries present
        std::vector<std::string> onPath;
        bool withDirectory;
        std::string loaded; // "D..." or "P..." and the language; empty: nothing
    } cases[] = {
        {"language", kGerman, {"ENU", "DEU"}, {}, true, "DDEU"},
        {"English when the language has none", kGerman, {"ENU"}, {}, true, "DENU"},
        {"the language along the path first", kGerman, {"ENU"}, {"DEU"}, true, "PDEU"},
        {"no directory", kGerman, {"ENU", "DEU"}, {"ENU"}, false, "PENU"},
        {"neither", kGerman, {}, {}, true, ""},
        {"neither, no directory", kFrench, {"DEU"}, {"DEU"}, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir directory, path;
        for (const std::string& language : c.inDirectory)
            copyLibrary(directory, language);
        for (const std::string& language : c.onPath)
            copyLibrary(path, language);
        setPath(L"QORALT_PATH", path.wide());
        ccSetLanguageId(c.language);
        ccDictionary dictionary;
        dictionary.add(c.withDirectory ? kept(directory) : L"", L"qres_test_", 1, 9);

        plat::ModuleHandle module = dictionary.libraryFor(5);
        if (c.loaded.empty()) {
            EXPECT_EQ(module, nullptr);
            const std::wstring tried = c.withDirectory ? kept(directory) + L"\\qres_test_ENU.dll" : L"qres_test_ENU.dll";
            EXPECT_EQ(plat::takeEventLines(), std::vector<std::wstring>{kLine + tried});
            continue;
        }
        const TempDir& from = c.loaded[0] == 'D' ? directory : path;
        EXPECT_EQ(plat::modulePath(module), from.wide("qres_test_" + c.loaded.substr(1) + ".so"));
        EXPECT_EQ(textOf(module), c.loaded.substr(1));
        EXPECT_EQ(plat::moduleSymbol(module, "qresText"), nullptr); // data, never code
        EXPECT_TRUE(plat::takeEventLines().empty());
    }
}

TEST_F(Dictionary, TriesOncePerLanguageAndDropsTheLibraryOfTheOldOne)
{
    TempDir dir;
    ccDictionary dictionary;
    dictionary.add(kept(dir), L"qres_test_", 0, 0);
    EXPECT_EQ(dictionary.libraryFor(0), nullptr);
    EXPECT_EQ(plat::takeEventLines().size(), 1u);
    copyLibrary(dir, "ENU");
    EXPECT_EQ(dictionary.libraryFor(0), nullptr); // not tried again in this language
    EXPECT_TRUE(plat::takeEventLines().empty());

    ccSetLanguageId(kGerman);
    plat::ModuleHandle english = dictionary.libraryFor(0);
    EXPECT_EQ(textOf(english), "ENU");
    EXPECT_EQ(dictionary.libraryFor(0), english);
    copyLibrary(dir, "DEU");
    ccSetLanguageId(kFrench);
    EXPECT_EQ(textOf(dictionary.libraryFor(0)), "ENU");
    ccSetLanguageId(kGerman);
    EXPECT_EQ(textOf(dictionary.libraryFor(0)), "DEU");

    std::filesystem::remove(dir.path + "qres_test_ENU.so");
    std::filesystem::remove(dir.path + "qres_test_DEU.so");
    ccSetLanguageId(kEnglish);
    EXPECT_EQ(dictionary.libraryFor(0), nullptr); // not the German one
    EXPECT_EQ(plat::takeEventLines().size(), 1u);
}

TEST_F(Dictionary, FirstRangeThatHoldsTheIdentifierWins)
{
    TempDir first, second;
    copyLibrary(first, "ENU");
    copyLibrary(second, "ENU");
    ccDictionary dictionary;
    dictionary.add(kept(first), L"qres_test_", 10, 20);
    dictionary.add(kept(second), L"qres_test_", 15, 0xFFFFFFFFu);
    const struct {
        uint32_t id;
        const TempDir* from; // null: no range
    } cases[] = {{10, &first}, {20, &first}, {21, &second}, {0xFFFFFFFFu, &second}, {9, nullptr}};
    for (const auto& c : cases) {
        plat::ModuleHandle module = dictionary.libraryFor(c.id);
        EXPECT_EQ(plat::modulePath(module), c.from ? c.from->wide("qres_test_ENU.so") : L"") << c.id;
    }
    EXPECT_TRUE(plat::takeEventLines().empty());
}

TEST_F(Dictionary, ModuleGivesTheDirectoryBeforeTheLastSeparatorOfEitherKindAndTheBaseName)
{
    const struct {
        const wchar_t* file;
        const wchar_t* base;
        const wchar_t* tried; // the library that could not be loaded
    } cases[] = {
        {L"/opt/app\\res/msgs.v2.dll", L"", L"/opt/app\\res\\msgs.v2ENU.dll"},
        {L"/opt/app/res\\msgs", L"", L"/opt/app/res\\msgsENU.dll"},
        {L"/opt/x/module.dll", L"given", L"/opt/x\\givenENU.dll"},
        {L"", L"given", L"givenENU.dll"},
    };
    for (const auto& c : cases) {
        ccDictionary dictionary;
        dictionary.addModuleFile(c.file, c.base, 0, 0);
        EXPECT_EQ(dictionary.libraryFor(0), nullptr);
        EXPECT_EQ(plat::takeEventLines(), std::vector<std::wstring>{kLine + c.tried}) << c.file;
    }
    ccDictionary dictionary;
    EXPECT_THROW(dictionary.addModuleFile(L"", L"", 0, 0), ccDictionary::BadParams);
    EXPECT_THROW(dictionary.add(L"/opt", L"", 0, 0), ccDictionary::BadParams);
    EXPECT_EQ(dictionary.libraryFor(0), nullptr); // nothing added

    plat::ModuleHandle module = plat::loadModuleAsData(wide(kLibraryDir + "qres_test_DEU.so"));
    ASSERT_NE(module, nullptr);
    dictionary.addModule(module, L"qres_test_", 0, 0);
    EXPECT_EQ(plat::modulePath(dictionary.libraryFor(0)), wide(kLibraryDir + "qres_test_ENU.so"));
    EXPECT_TRUE(plat::freeModule(module));
}

} // namespace
