#include "std/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <thread>
#include <tuple>

#include "std/dictionary.h"
#include "std/literal.h"
#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

const wchar_t kBad = static_cast<wchar_t>(0x110000); // no character in any locale

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
    // Never half a character.
    EXPECT_EQ(std::pair(count, std::string(buffer)), std::pair(size_t(4), std::string("\xC3\xA9\xC3\xA9")));
}

TEST(Narrow, StaysWithinTheCapacityAndSubstitutesUnconvertibleCharactersAndWideningKeepsEachByte)
{
    const std::wstring withBad = std::wstring(L"a") + kBad + L"b";
    // A length of 0: the terminated form.
    const struct { const wchar_t* text; size_t length; size_t capacity; const char* written; } cases[] = {
        {L"abc", 0, 8, "abc"}, {L"abcdef", 0, 4, "abc"}, {L"", 0, 1, ""}, {withBad.c_str(), 0, 8, "a?b"},
        {L"abcdef", 3, 8, "abc"}, {L"abcdef", 5, 3, "ab"}, {L"ab\0cd", 5, 8, "ab"}, {nullptr, 0, 8, ""}};
    for (const auto& c : cases) {
        char buffer[10];
        std::memset(buffer, 'X', sizeof buffer);
        const size_t count = c.length != 0 ? ccNarrowFromWide(c.text, c.length, buffer, c.capacity)
                                           : ccNarrowFromWide(c.text, buffer, c.capacity);
        const std::string after(buffer + c.capacity, buffer + sizeof buffer); // untouched
        EXPECT_EQ(std::tuple(std::string(buffer), count, after),
                  std::tuple(std::string(c.written), std::strlen(c.written), std::string(after.size(), 'X')));
    }
    char untouched = 'X';
    EXPECT_EQ((std::tuple{ccNarrowFromWide(L"abc", &untouched, 0), untouched, ccNarrowFromWide(withBad)}),
              std::tuple(size_t(0), 'X', "a?b"));

    // Widening makes each byte one unit.
    EXPECT_EQ(std::tuple(ccWideFromNarrow("\xE9x"), ccWideFromNarrow(nullptr), ccWideFromNarrow(std::string("\x80"))),
              std::tuple(L"\u00E9x", L"", L"\u0080"));
    EXPECT_EQ(ccWideFromNarrow("a\0\xFF", 3) + ccWideFromNarrow(nullptr, 3), std::wstring(L"a\0\u00FF", 3));

    wchar_t buffer[4] = {L'X', L'X', L'X', L'X'};
    EXPECT_EQ(ccWStrCopy(L"abcdef", buffer, 3), 2u);
    EXPECT_EQ(std::wstring(buffer, 4), std::wstring(L"ab\0X", 4));
    EXPECT_EQ((std::pair{ccWStrCopy(nullptr, buffer, 4), buffer[0]}), std::pair(size_t(0), L'\0'));
    std::wstring target = L"old", empty = L"old";
    ccWStrAssign(target, L"new"), ccWStrAssign(empty, nullptr);
    EXPECT_EQ(target + L"|" + empty, L"new|");
}

using Language = ResourceTest;

// The process language as identifier and abbreviation.
std::tuple<uint16_t, std::wstring> language() { return {ccGetLanguageId(), ccGetLanguageAbbreviation()}; }

TEST_F(Language, TakenFromTheUserAtFirstUseAndChangedOnlyToKnownLanguages)
{
    plat::setUserLanguageOverride(kGerman);
    EXPECT_EQ(language(), std::tuple(kGerman, L"DEU"));
    wchar_t buffer[3];
    EXPECT_EQ(ccGetLanguageAbbreviation(buffer, 3), 2u);
    EXPECT_STREQ(buffer, L"DE");

    static int lookups = 0;
    ccSetAbbreviationSourceForTesting([](uint16_t id, std::wstring* abbreviation) {
        ++lookups;
        return plat::languageAbbreviation(id, abbreviation);
    });
    ccSetLanguageId(kGerman); // the current one: no lookup
    EXPECT_THROW(ccSetLanguageId(kUnknown), ccDictionary::BadParams);
    EXPECT_EQ(language(), std::tuple(kGerman, L"DEU"));
    ccSetLanguageId(kFrench);
    EXPECT_EQ(std::tuple_cat(language(), std::tuple(lookups)), std::tuple(kFrench, L"FRA", 2));
}

using Literal = ResourceTest;

TEST_F(Literal, FoundBesideItsLoadedModuleAndChangeFailsWhenAFollowingLiteralHasNoLibraryAndTheLanguageStays)
{
    // With no path, the library lies beside the loaded module of the base name + "8u".
    TempDir dir;
    const std::string module = dir.path + "qres_test_8u.so";
    std::filesystem::copy_file(kLibraryDir + "qres_test_DEU.so", module); // any shared object
    copyLibraries(dir, {"ENU"});
    plat::ModuleHandle beside = plat::loadModule(wide(module));
    EXPECT_EQ(plat::modulePath(ccStringLiteral(L"qres_test_").library()), dir.wide("qres_test_ENU.so"));
    EXPECT_TRUE(plat::freeModule(beside));

    setPaths(dir.wide());
    ccStringLiteral loaded(L"qres_test_");
    loaded.followLanguage();
    // A literal never loaded has no library; then the one that had loaded loses its library.
    for (const wchar_t* failing : {L"qres_absent_", L"qres_test_"}) {
        ASSERT_TRUE(loaded.load()); // for English
        std::optional<ccStringLiteral> absent;
        if (failing == std::wstring(L"qres_test_"))
            std::filesystem::remove(dir.path + "qres_test_ENU.so");
        else
            absent.emplace(failing).followLanguage();
        try {
            ccStringLiteral::setLanguage(kGerman);
            ADD_FAILURE() << "changed";
        } catch (const ccStringLiteral::BadParams& e) {
            EXPECT_EQ(e.text(), L"Unable to load resource dll for current language (" + std::wstring(failing)
                                    + L"DEU.dll)");
        }
        EXPECT_EQ(language(), std::tuple(kEnglish, L"ENU"));
    }
    EXPECT_EQ(loaded.library(), nullptr); // no stale library of the language that failed
    // Once the library is there, the same change is tried again and succeeds.
    copyLibraries(dir, {"DEU"});
    ccStringLiteral::setLanguage(kGerman);
    EXPECT_EQ(plat::modulePath(loaded.library()), dir.wide("qres_test_DEU.so"));
}

TEST_F(Literal, FollowsTheLanguageAndFallsBackToEnglishAlsoWhileAnotherThreadChangesIt)
{
    setPaths(wide(kLibraryDir));
    ccStringLiteral literal(L"qres_test_");
    literal.followLanguage();
    ccStringLiteral::setLanguage(kFrench);
    EXPECT_EQ(textOf(literal.library()), "ENU");
    EXPECT_TRUE(plat::takeEventLines().empty());
    // Texts read under the dictionary mutex.
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
