#include <gtest/gtest.h>

#include <string>

#include "std/except/utf16.h"

namespace {

std::wstring wide(std::initializer_list<uint32_t> chars)
{
    std::wstring s;
    for (uint32_t c : chars)
        s.push_back(static_cast<wchar_t>(c));
    return s;
}

TEST(Utf16, ToUnitsAndBack)
{
    const struct {
        std::wstring text;
        std::u16string units;
        bool to, from; // the text converts to the units, the units to the text
    } rows[] = {
        {wide({'a', 0xD7FF, 0xE000, 0xFFFF, 0}), {u'a', 0xD7FF, 0xE000, 0xFFFF, 0}, true, true},
        {wide({0x10000, 'x', 0x10FFFF}), {0xD800, 0xDC00, u'x', 0xDBFF, 0xDFFF}, true, true},
        // Lone surrogates, beyond U+10FFFF, and a negative (signed wchar_t) value.
        {wide({0xD800, 'a', 0xDFFF, 0x110000, 0xFFFFFFFFu}), {0xFFFD, u'a', 0xFFFD, 0xFFFD, 0xFFFD}, true, false},
        // Unpaired on the way in: a high before a non-low (which is kept), a
        // lone low, of two highs before a low the first, a high at the end.
        {wide({0xFFFD, 'b', 0xFFFD, 0xFFFD, 0x1F600, 0xFFFD}), {0xD83D, u'b', 0xDE00, 0xD83D, 0xD83D, 0xDE00, 0xD83D},
         false, true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.to ? ccToUtf16(r.text) : r.units, r.units);
        EXPECT_EQ(r.from ? ccFromUtf16(r.units) : r.text, r.text);
    }
    // A count shorter than the buffer never pairs across it.
    const char16_t units[] = {0xD83D, 0xDE00};
    EXPECT_EQ(ccFromUtf16(units, 1), wide({0xFFFD}));
}

TEST(Utf16, BytesWidenAndNarrowOneForOne)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    // Back unchanged only if no byte was sign-extended.
    EXPECT_EQ(ccNarrowBytes(ccWidenBytes(all)), all);
    EXPECT_EQ(ccNarrowBytes(wide({'a', 0x100, 0x1F600, 0xFFFFFFFFu, 'z'})), "a???z");
}

} // namespace
