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
    // UTF-8 in each length; what is no character (a surrogate, beyond U+10FFFF, negative) is replaced.
    std::wstring each;
    for (uint32_t c : {0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu, 0xD800u, 0xDFFFu, 0x110000u, 0xFFFFFFFFu})
        each.push_back(static_cast<wchar_t>(c));
    EXPECT_EQ(plat::utf8FromWide(each), "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"
                                        "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
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
