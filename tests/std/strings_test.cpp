#include "std/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <optional>
#include <thread>

#include "std/dictionary.h"
#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

const wchar_t kBad = static_cast<wchar_t>(0x110000); // no character in any locale

TEST(Narrow, StaysWithinTheCapacityAndSubstitutesUnconvertibleCharacters)
{
    const std::wstring withBad = std::wstring(L"a") + kBad + L"b";
    const struct {
        const wchar_t* text;
        size_t length; // 0: the terminated form
        size_t capacity;
        const char* written;
    } cases[] = {
        {L"abc", 0, 8, "abc"},          {L"abcdef", 0, 4, "abc"},   {L"", 0, 1, ""},
        {withBad.c_str(), 0, 8, "a?b"}, {L"abcdef", 3, 8, "abc"},   {L"abcdef", 5, 3, "ab"},
        {L"ab\0cd", 5, 8, "ab"},        {nullptr, 0, 8, ""},
    };
    for (const auto& c : cases) {
        char buffer[10];
        std::memset(buffer, 'X', sizeof buffer);
        const size_t count = c.length != 0 ? ccNarrowFromWide(c.text, c.length, buffer, c.capacity)
                                           : ccNarrowFromWide(c.text, buffer, c.capacity);
        EXPECT_STREQ(buffer, c.written);
        EXPECT_EQ(count, std::strlen(c.written));
        EXPECT_EQ(std::string(buffer + c.capacity, buffer + sizeof buffer), std::string(sizeof buffer - c.capacity, 'X'));
    }
    char untouched = 'X';
    EXPECT_EQ(ccNarrowFromWide(L"abc", &untouched, 0), 0u);
    EXPECT_EQ(untouched, 'X');
    EXPECT_EQ(ccNarrowFromWide(withBad), "a?b");
}

TEST(Narrow, StringIsSizedForMultibyteText)
{
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale";
    const std::string narrow = ccNarrowFromWide(L"\u00E9\u00E9\u00E9\u20AC");
    char buffer[6];
    const size_t count = ccNarrowFromWide(L"\u00E9\u00E9\u00E9", buffer, sizeof buffer);
    std::setlocale(LC_CTYPE, previous.c_str());
    EXPECT_EQ(narrow, "\xC3\xA9\xC3\xA9\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(count, 4u); // never half a character
    EXPECT_STREQ(buffer, "\xC3\xA9\xC3\xA9");
}

TEST(Wide, EachByteBecomesOneUnit)
{
    EXPECT_EQ(ccWideFromNarrow("\xE9x"), std::wstring(L"\u00E9x"));
    EXPECT_EQ(ccWideFromNarrow("a\0\xFF", 3), std::wstring(L"a\0\u00FF", 3));
    EXPECT_EQ(ccWideFromNarrow(std::string("\x80")), L"\u0080");
    EXPECT_EQ(ccWideFromNarrow(nullptr), L"");

    wchar_t buffer[4] = {L'X', L'X', L'X', L'X'};
    EXPECT_EQ(ccWStrCopy(L"abcdef", buffer, 3), 2u);
    EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"ab\0X", 4));
    EXPECT_EQ(ccWStrCopy(nullptr, buffer, 4), 0u);
    EXPECT_EQ(buffer[0], L'\0');
    std::wstring target = L"old";
    ccWStrAssign(target, nullptr);
    EXPECT_EQ(target, L"");
    ccWStrAssign(target, L"new");
    EXPECT_EQ(target, L"new");
}

class Language : public ResourceTest {
protected:
    static int lookups;
    static bool countingSource(uint16_t language, std::wstring* abbreviation)
    {
        ++lookups;
        return plat::languageAbbreviation(language, abbreviation);
    }
};
int Language::lookups = 0;

TEST_F(Language, TakenFromTheUserAtFirstUseAndChangedOnlyToKnownLanguages)
{
    plat::setUserLanguageOverride(kGerman);
    EXPECT_EQ(ccGetLanguageId(), kGerman);
    EXPECT_EQ(ccGetLanguageAbbreviation(), L"DEU");
    wchar_t buffer[3];
    EXPECT_EQ(ccGetLanguageAbbreviation(buffer, 3), 2u);
    EXPECT_STREQ(buffer, L"DE");

    lookups = 0;
    ccSetAbbreviationSourceForTesting(&countingSource);
    ccSetLanguageId(kGerman);
    EXPECT_EQ(lookups, 0);
    EXPECT_THROW(ccSetLanguageId(kUnknown), ccDictionary::BadParams);
    EXPECT_EQ(ccGetLanguageId(), kGerman);
    EXPECT_EQ(ccGetLanguageAbbreviation(), L"DEU");
    ccSetLanguageId(kFrench);
    EXPECT_EQ(ccGetLanguageAbbreviation(), L"FRA");
    EXPECT_EQ(lookups, 2);
}

class Literal : public ResourceTest {};

TEST_F(Literal, FollowsTheLanguageAndFallsBackToEnglish)
{
    setPath(L"QORALT_PATH", wide(kLibraryDir));
    ccStringLiteral literal(L"qres_test_");
    literal.followLanguage();
    literal.ensureLoaded();
    EXPECT_EQ(textOf(literal.library()), "ENU");
    ccStringLiteral::setLanguage(kGerman);
    EXPECT_EQ(textOf(literal.library()), "DEU");
    ccStringLiteral::setLanguage(kFrench);
    EXPECT_EQ(textOf(literal.library()), "ENU");
    EXPECT_TRUE(plat::takeEventLines().empty());
}

TEST_F(Literal, FoundBesideItsLoadedModule)
{
    // The module base name + "8u" lies beside the resources.
    TempDir dir;
    const std::string module = dir.path + "qres_test_8u.so";
    std::filesystem::copy_file(kLibraryDir + "qres_test_DEU.so", module); // any shared object
    copyLibrary(dir, "ENU");
    plat::ModuleHandle loaded = plat::loadModule(wide(module));
    ASSERT_NE(loaded, nullptr);
    {
        ccStringLiteral literal(L"qres_test_");
        EXPECT_EQ(plat::modulePath(literal.library()), dir.wide("qres_test_ENU.so"));
    }
    EXPECT_TRUE(plat::freeModule(loaded));
}

TEST_F(Literal, ChangeFailsWhenAFollowingLiteralHasNoLibraryAndTheLanguageStays)
{
    TempDir dir;
    copyLibrary(dir, "ENU");
    setPath(L"QORALT_PATH", dir.wide());
    ccStringLiteral loaded(L"qres_test_");
    loaded.followLanguage();
    const struct {
        const char* name;
        bool removeLibrary; // of the literal that had loaded
        const wchar_t* message;
    } cases[] = {
        {"never loaded", false, L"Unable to load resource dll for current language (qres_absent_DEU.dll)"},
        {"loaded before", true, L"Unable to load resource dll for current language (qres_test_DEU.dll)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(loaded.load()); // for English
        std::optional<ccStringLiteral> absent;
        if (c.removeLibrary)
            std::filesystem::remove(dir.path + "qres_test_ENU.so");
        else
            absent.emplace(L"qres_absent_").followLanguage();
        try {
            ccStringLiteral::setLanguage(kGerman);
            ADD_FAILURE() << "changed";
        } catch (const ccStringLiteral::BadParams& e) {
            EXPECT_EQ(e.text(), c.message);
        }
        EXPECT_EQ(ccGetLanguageId(), kEnglish);
        EXPECT_EQ(ccGetLanguageAbbreviation(), L"ENU");
    }
    EXPECT_EQ(loaded.library(), nullptr); // no stale library of the language that failed
    EXPECT_THROW(ccStringLiteral::setLanguage(kUnknown), ccDictionary::BadParams);
    EXPECT_EQ(ccGetLanguageId(), kEnglish);
}

TEST_F(Literal, TextsReadUnderTheDictionaryMutexWhileAnotherThreadChangesTheLanguage)
{
    setPath(L"QORALT_PATH", wide(kLibraryDir));
    ccStringLiteral literal(L"qres_test_");
    literal.followLanguage();
    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int i = 0; i < 50; ++i)
            ccStringLiteral::setLanguage(i % 2 == 0 ? kGerman : kEnglish);
        done = true;
    });
    while (!done) {
        ccResourceLock hold(ccDictionaryMutex());
        const std::string text = textOf(literal.library());
        EXPECT_EQ(text, ccGetLanguageId() == kGerman ? "DEU" : "ENU");
    }
    changer.join();
}

} // namespace
