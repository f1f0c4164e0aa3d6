#include "std/strings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <thread>
#include <tuple>

#include "std/dictionary.h"
#include "std/except/resource.h"
#include "std/literal.h"
#include "tests/std/resource_support.h"

namespace {

using namespace resource_support;

// Under a UTF-8 locale: sized for the multibyte form, never half a character, unconvertible characters as "?" and
// nothing written past the capacity. A length of 0: the terminated form.
TEST(Narrow, StaysWithinTheCapacityAndSubstitutesUnconvertibleCharactersAndWideningKeepsEachByte)
{
    const std::string previous = std::setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    const std::wstring withBad = std::wstring(L"a") + static_cast<wchar_t>(0xD800) + L"\u20AC";
    const struct { const wchar_t* text; size_t length; size_t capacity; const char* written; } cases[] = {
        {L"abcdef", 0, 4, "abc"}, {L"", 0, 1, ""}, {withBad.c_str(), 0, 8, "a?\xE2\x82\xAC"},
        {L"\u00E9\u00E9\u00E9", 0, 6, "\xC3\xA9\xC3\xA9"}, {L"abcdef", 5, 3, "ab"}, {L"ab\0cd", 5, 8, "ab"},
        {nullptr, 0, 8, ""}};
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
              std::tuple(size_t(0), 'X', "a?\xE2\x82\xAC"));
    std::setlocale(LC_CTYPE, previous.c_str());

    // Widening makes each byte one unit.
    EXPECT_EQ(ccWideFromNarrow("a\0\xFF", 3) + ccWideFromNarrow(nullptr, 3) + ccWideFromNarrow(nullptr)
                  + ccWideFromNarrow(std::string("\x80")),
              std::wstring(L"a\0\u00FF\u0080", 4));

    wchar_t buffer[4] = {L'X', L'X', L'X', L'X'};
    std::wstring empty = L"old";
    ccWStrAssign(empty, nullptr);
    const size_t copied = ccWStrCopy(L"abcdef", buffer, 3);
    EXPECT_EQ(std::tuple(copied, std::wstring(buffer, 4), empty), std::tuple(2u, std::wstring(L"ab\0X", 4), L""));
}

// The process language as identifier and abbreviation.
std::tuple<uint16_t, std::wstring> language() { return {ccGetLanguageId(), ccGetLanguageAbbreviation()}; }

using Literal = ResourceTest;

// The language is the user's at first use and changes only to a known one with a library.
TEST_F(Literal, FallsBackToEnglishAndAChangeWithoutALibraryFailsAndLeavesTheLanguage)
{
    plat::setUserLanguageOverride(kGerman);
    wchar_t buffer[3];
    EXPECT_EQ(ccGetLanguageAbbreviation(buffer, 3), 2u);
    EXPECT_STREQ(buffer, L"DE");
    EXPECT_THROW(ccSetLanguageId(kUnknown), ccDictionary::BadParams);

    TempDir dir;
    copyLibraries(dir, {"ENU"});
    setPaths(dir.wide());
    ccStringLiteral loaded(L"qres_test_");
    loaded.followLanguage();
    ccStringLiteral::setLanguage(kFrench);
    EXPECT_EQ(textOf(loaded.library()), "ENU");
    std::filesystem::remove(dir.path + "qres_test_ENU.so");
    try {
        ccStringLiteral::setLanguage(kGerman);
        ADD_FAILURE() << "changed";
    } catch (const ccStringLiteral::BadParams& e) {
        EXPECT_EQ(e.text(), L"Unable to load resource dll for current language (qres_test_DEU.dll)");
    }
    // No stale library of the language that failed.
    EXPECT_EQ(std::tuple_cat(language(), std::tuple(loaded.library())), std::tuple(kFrench, L"FRA", nullptr));
    // Once the library is there, the same change is tried again and succeeds.
    copyLibraries(dir, {"DEU"});
    ccStringLiteral::setLanguage(kGerman);
    EXPECT_EQ(plat::modulePath(loaded.library()), dir.wide("qres_test_DEU.so"));
}

// A literal's library is freed at the next language change: texts read under
// the dictionary mutex always match the language, while another thread
// changes it.
TEST_F(Literal, TextsReadUnderTheDictionaryMutexFollowAConcurrentLanguageChange)
{
    setPaths(wide(kLibraryDir));
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
        EXPECT_EQ(textOf(literal.library()), ccGetLanguageId() == kGerman ? "DEU" : "ENU");
    }
    changer.join();
}

} // namespace
