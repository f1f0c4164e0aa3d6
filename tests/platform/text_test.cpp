#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(PlatText, Utf8DecodingReplacesEachMalformedByteAndFoldingMakesLettersEqual)
{
    const struct { const char* utf8; std::wstring wide; } cases[] = {
        {"a\xC3\xA9", L"a\u00E9"}, {"\xF0\x9F\x98\x80", std::wstring(1, wchar_t(0x1F600))},
        // Overlong, an encoded surrogate, cut short.
        {"\xC0\xAF", L"\uFFFD\uFFFD"}, {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"}, {"x\xE2\x82", L"x\uFFFD\uFFFD"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(plat::wideFromUtf8(c.utf8), c.wide) << c.utf8;
        std::wstring strict;
        EXPECT_EQ(plat::wideFromUtf8Strict(c.utf8, &strict), c.wide.find(L'\uFFFD') == std::wstring::npos);
    }
    EXPECT_EQ(plat::utf8FromWide(std::wstring(1, wchar_t(0xD800)) + wchar_t(0x1F600)), "\xEF\xBF\xBD\xF0\x9F\x98\x80");
    // Folding makes capital and small letters equal.
    const struct { wchar_t small, capital; } pairs[] = {
        {L'a', L'A'},   {0xE9, 0xC9},   {0xFF, 0x178},  {0x105, 0x104}, {0x142, 0x141}, {0x17E, 0x17D}, {0x3B1, 0x391},
        {0x44F, 0x42F}, {0x451, 0x401}, {0xDF, 0xDF},   {0x3C2, 0x3A3}, {0x3AC, 0x386}, {0x3AD, 0x388}, {0x3CC, 0x38C},
        {0x3CE, 0x38F}};
    for (const auto& p : pairs) {
        EXPECT_EQ(plat::foldCase(std::wstring(1, p.small)), std::wstring(1, p.capital)) << std::hex << p.small;
        EXPECT_EQ(plat::foldCase(std::wstring(1, p.capital)), std::wstring(1, p.capital));
    }
}

} // namespace
