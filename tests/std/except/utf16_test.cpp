#include <gtest/gtest.h>

#include <string>

#include "std/except/utf16.h"

namespace {

const uint32_t kReplacement = 0xFFFD;

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
        bool back; // the units convert back to the text
    } rows[] = {
        {wide({'a', 0x00E9, 0x20AC, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0}),
         {u'a', 0x00E9, 0x20AC, 0xD7FF, 0xE000, 0xFFFD, 0xFFFF, 0}, true},
        {wide({0x10000, 'x', 0x1F600, 0x10FFFF}), {0xD800, 0xDC00, u'x', 0xD83D, 0xDE00, 0xDBFF, 0xDFFF}, true},
        // Lone surrogates, beyond U+10FFFF, and a negative (signed wchar_t) value.
        {wide({0xD800, 'a', 0xDFFF, 0x110000, 0xFFFFFFFFu}), {0xFFFD, u'a', 0xFFFD, 0xFFFD, 0xFFFD}, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(ccToUtf16(r.text), r.units);
        if (r.back) {
            EXPECT_EQ(ccFromUtf16(r.units), r.text);
        }
    }
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementOnTheWayIn)
{
    // High at the end.
    EXPECT_EQ(ccFromUtf16(std::u16string{u'a', 0xD83D}), wide({'a', kReplacement}));
    // High followed by something other than a low: the follower is kept.
    EXPECT_EQ(ccFromUtf16(std::u16string{0xD83D, u'b'}), wide({kReplacement, 'b'}));
    // Lone low.
    EXPECT_EQ(ccFromUtf16(std::u16string{0xDE00, u'c'}), wide({kReplacement, 'c'}));
    // Reversed pair: two lone surrogates.
    EXPECT_EQ(ccFromUtf16(std::u16string{0xDE00, 0xD83D}), wide({kReplacement, kReplacement}));
    // Two highs then a low: the second high pairs.
    EXPECT_EQ(ccFromUtf16(std::u16string{0xD83D, 0xD83D, 0xDE00}), wide({kReplacement, 0x1F600}));
    // A count shorter than the buffer never pairs across it.
    const char16_t units[] = {0xD83D, 0xDE00};
    EXPECT_EQ(ccFromUtf16(units, 1), wide({kReplacement}));
    EXPECT_EQ(ccFromUtf16(units, 0), L"");
}

TEST(Utf16, BytesWidenAndNarrowOneForOne)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    const std::wstring widened = ccWidenBytes(all);
    ASSERT_EQ(widened.size(), 256u);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(static_cast<uint32_t>(widened[b]), static_cast<uint32_t>(b));
    EXPECT_EQ(ccNarrowBytes(widened), all);
    EXPECT_EQ(ccNarrowBytes(wide({'a', 0x100, 0x1F600, 0xFFFFFFFFu, 'z'})), "a???z");
}

} // namespace
