#include "platform/environment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/environment_testing.h"

namespace {

TEST(PlatEnvironment, VariablesReadAsDecodedUtf8)
{
    const std::wstring name = L"QORX_PLAT_TEST_VARIABLE";
    const std::wstring text = L"caf\u00E9;" + std::wstring(1, wchar_t(0x1F600));
    ASSERT_TRUE(plat::setEnvironmentVariable(name, text));
    EXPECT_STREQ(std::getenv("QORX_PLAT_TEST_VARIABLE"), "caf\xC3\xA9;\xF0\x9F\x98\x80");
    std::wstring value;
    ASSERT_TRUE(plat::environmentVariable(name, &value));
    EXPECT_EQ(value, text);

    ASSERT_TRUE(plat::setEnvironmentVariable(name, L""));
    EXPECT_TRUE(plat::isEnvironmentVariableSet(name)); // set, though empty
    ASSERT_TRUE(plat::unsetEnvironmentVariable(name));
    EXPECT_FALSE(plat::environmentVariable(name, &value));
}

TEST(PlatLanguage, TakenFromLangWhenTheTableKnowsItAndAbbreviated)
{
    const struct { const char* lang; /* null: unset */ uint16_t language; } cases[] = {
        {"de_DE.UTF-8", 0x0407}, {"en_GB.UTF-8", 0x0809}, {"pt_BR", 0x0416}, {"fr_FR@euro", 0x040C}, {"es", 0x0C0A},
        {"de_AT.UTF-8", 0x0407}, {"zh_CN.GB2312", 0x0804}, {"nl_NL.UTF-8", 0x0409}, {"C", 0x0409}, {"", 0x0409},
        {nullptr, 0x0409},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.lang ? plat::setEnvironmentVariable(L"LANG", std::wstring(c.lang, c.lang + std::strlen(c.lang)))
                           : plat::unsetEnvironmentVariable(L"LANG"));
        EXPECT_EQ(plat::userLanguage(), c.language) << (c.lang ? c.lang : "unset");
    }

    plat::setUserLanguageOverride(0x0411);
    EXPECT_EQ(plat::userLanguage(), 0x0411);
    plat::setUserLanguageOverride(0);
    EXPECT_EQ(plat::userLanguage(), 0x0409);
    // And the abbreviations of the table.
    const struct { uint16_t language; const wchar_t* abbreviation; /* null: unknown */ } abbreviations[] = {
        {0x0409, L"ENU"}, {0x0407, L"DEU"}, {0x040C, L"FRA"}, {0x0411, L"JPN"}, {0x0C0A, L"ESN"},  {0x0410, L"ITA"},
        {0x0804, L"CHS"}, {0x0412, L"KOR"}, {0x0416, L"PTB"}, {0x0809, L"ENG"}, {0x0413, nullptr}, {0, nullptr},
    };
    for (const auto& c : abbreviations) {
        std::wstring abbreviation = L"old";
        EXPECT_EQ(plat::languageAbbreviation(c.language, &abbreviation), c.abbreviation != nullptr);
        EXPECT_EQ(abbreviation, c.abbreviation ? c.abbreviation : L"old") << std::hex << c.language;
    }
}

} // namespace
