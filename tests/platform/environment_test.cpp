#include "platform/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/environment_testing.h"

namespace {

TEST(PlatEnvironment, VariablesReadAsDecodedUtf8AndNamesTheSystemCannotHoldAreRefused)
{
    const std::wstring name = L"QORX_PLAT_TEST_VARIABLE";
    const std::wstring text = L"caf\u00E9;" + std::wstring(1, wchar_t(0x1F600));
    ASSERT_TRUE(plat::setEnvironmentVariable(name, text));
    EXPECT_STREQ(std::getenv("QORX_PLAT_TEST_VARIABLE"), "caf\xC3\xA9;\xF0\x9F\x98\x80");
    std::wstring value;
    ASSERT_TRUE(plat::environmentVariable(name, &value));
    EXPECT_EQ(value, text);
    // A 0 would cut the name or value short, a lone surrogate would become U+FFFD.
    const std::wstring cut = name + L'\0' + L"X", lone = name + wchar_t(0xD800);
    EXPECT_FALSE(plat::environmentVariable(cut, &value) || plat::environmentVariable(lone, &value) ||
                 plat::setEnvironmentVariable(name, L"a" + std::wstring(1, L'\0')) ||
                 plat::setEnvironmentVariable(lone, L"a") || plat::unsetEnvironmentVariable(cut));

    ASSERT_TRUE(plat::setEnvironmentVariable(name, L""));
    EXPECT_TRUE(plat::isEnvironmentVariableSet(name)); // set, though empty
    ASSERT_TRUE(plat::unsetEnvironmentVariable(name));
    EXPECT_FALSE(plat::environmentVariable(name, &value));
}

TEST(PlatLanguage, TakenFromLangWhenTheTableKnowsItAndAbbreviated)
{
    const struct { const char* lang; /* null: unset */ uint16_t language; } cases[] = {
        {"de_DE.UTF-8", 0x0407}, {"en_GB.UTF-8", 0x0809}, {"pt_BR", 0x0416}, {"fr_FR@euro", 0x040C},
        {"es", 0x0C0A}, {"de_AT.UTF-8", 0x0407}, {"nl_NL.UTF-8", 0x0409}, {nullptr, 0x0409},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.lang ? plat::setEnvironmentVariable(L"LANG", std::wstring(c.lang, c.lang + std::strlen(c.lang)))
                           : plat::unsetEnvironmentVariable(L"LANG"));
        EXPECT_EQ(plat::userLanguage(), c.language) << (c.lang ? c.lang : "unset");
    }
    // The override is the language tests' seam, and their fixtures show it working.
    std::wstring abbreviation = L"old";
    EXPECT_FALSE(plat::languageAbbreviation(0x0413, &abbreviation) || plat::languageAbbreviation(0, &abbreviation));
    EXPECT_EQ(abbreviation, L"old");
    EXPECT_TRUE(plat::languageAbbreviation(0x0809, &abbreviation));
    EXPECT_EQ(abbreviation, L"ENG");
}

} // namespace
