#include <gtest/gtest.h>

#include "defs/ch_core/rect.h"
#include "tests/support/bytes.h"

namespace {

using test_bytes::Bytes;

::testing::AssertionResult corners(const ccPelRect& r, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    if (r.x0() == x0 && r.y0() == y0 && r.x1() == x1 && r.y1() == y1)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << r.x0() << ", " << r.y0() << ", " << r.x1() << ", " << r.y1() << ")";
}

template <class F>
ccPelRect after(ccPelRect r, F change)
{
    change(r);
    return r;
}

// Sizes normalise and moves keep them; far edges past the 32-bit range,
// which would wrap in 32 bits, stop at its end.
TEST(PelRect, ConstructionAndChangesNormaliseAndStopAtThe32BitRange)
{
    const struct {
        ccPelRect r;
        int32_t x0, y0, x1, y1;
    } cases[] = {
        {ccPelRect(10, 10, -4, 3), 6, 10, 10, 13},
        {ccPelRect(-5, -7), -5, -7, 0, 0},
        {after(ccPelRect(10, 10, 4, 4), [](ccPelRect& r) { r.setWidth(-6); }), 4, 10, 10, 14},
        {after(ccPelRect(10, 10, 4, 4), [](ccPelRect& r) { r.setHeight(-1); }), 10, 9, 14, 10},
        {after(ccPelRect(4, 9, 6, 1), [](ccPelRect& r) { r.moveTo({-10, 20}); }), -10, 20, -4, 21},
        {after(ccPelRect(-10, 20, 6, 1), [](ccPelRect& r) { r += ccPelPoint{5, -5}; }), -5, 15, 1, 16},
        {ccPelRect(INT32_MAX - 5, 0, 100, 1), INT32_MAX - 5, 0, INT32_MAX, 1},
        {ccPelRect(INT32_MIN + 3, 0, -10, 1), INT32_MIN, 0, INT32_MIN + 3, 1},
        {after(ccPelRect(10, 0, 1, 1), [](ccPelRect& r) { r.setWidth(INT32_MAX); }), 10, 0, INT32_MAX, 1},
        {after(ccPelRect(0, 0, 100, 1), [](ccPelRect& r) { r.moveTo({INT32_MAX - 10, 0}); }), INT32_MAX - 10, 0,
         INT32_MAX, 1},
        {after(ccPelRect(INT32_MIN, 0, 10, 1), [](ccPelRect& r) { r += ccPelPoint{-1, 0}; }), INT32_MIN, 0,
         INT32_MIN + 9, 1},
    };
    for (const auto& c : cases)
        EXPECT_TRUE(corners(c.r, c.x0, c.y0, c.x1, c.y1)) << "case " << &c - cases;
}

TEST(PelRect, ContainmentAndOverlap)
{
    const ccPelRect a(0, 0, 10, 10);
    EXPECT_TRUE(a.contains(a) && a.contains(ccPelRect(10, 10, 0, 0)));
    EXPECT_FALSE(a.contains(ccPelRect(1, 1, 10, 1)) || a.contains(ccPelRect(-1, 0, 2, 2)));

    const ccPelRect right(10, 0, 10, 10);
    EXPECT_TRUE(a.overlaps(right, true) && a.overlaps(ccPelRect(10, 10, 5, 5), true)); // an edge, a corner
    EXPECT_FALSE(a.overlaps(right, false) || a.overlaps(ccPelRect(11, 0, 5, 5), true));
    EXPECT_TRUE(a != right);
}

TEST(PelRect, IntersectionTouchingDisjointAndInPlace)
{
    const ccPelRect a(0, 0, 10, 10);
    EXPECT_TRUE(corners(a.intersect(ccPelRect(10, 0, 10, 10), true), 10, 0, 10, 10));
    EXPECT_TRUE(corners(a.intersect(ccPelRect(4, -2, 20, 5), true), 4, 0, 10, 3));

    const ccPelRect b(12, 0, 8, 10);
    EXPECT_THROW(a.intersect(b, true), ccRectErrors::NoOverlap); // its code is in the module's error catalogue
    EXPECT_TRUE(corners(a.intersect(b, false), 12, 0, 12, 0));
    EXPECT_TRUE(corners(a.intersect(ccPelRect(2, 30, 3, 3), false), 2, 30, 2, 30));
    EXPECT_TRUE(corners(after(a, [&](ccPelRect& r) { r &= b; }), 12, 0, 12, 0));
}

// The rectangle at (-1, 2) sized 3 x 4: version 0, then x0, y0, x1, y1.
const Bytes kLittle = {0x02, 0x01, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00,
                       0x02, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00};
const Bytes kBig = {0x02, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02,
                    0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x06};

TEST(PelRectArchive, MatchesTheGoldenBytes)
{
    ccPelRect r(-1, 2, 3, 4);
    EXPECT_EQ(test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) { r.archive(ar); }), kLittle);
    EXPECT_EQ(test_bytes::store(ccArchive::bigEndian, [&](ccArchive& ar) { r.archive(ar); }), kBig);
    for (const Bytes* golden : {&kLittle, &kBig}) {
        ccPelRect loaded;
        test_bytes::load(*golden, [&](ccArchive& ar) { loaded.archive(ar); });
        EXPECT_TRUE(loaded == r);
    }
}

TEST(PelRectArchive, LoadedCornersAreNormalisedAndMeasuredIn64Bits)
{
    // x0 = 5 > x1 = 1.
    const Bytes swapped = {0x02, 0x01, 0x00, 0x05, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
    ccPelRect r;
    test_bytes::load(swapped, [&](ccArchive& ar) { r.archive(ar); });
    EXPECT_TRUE(corners(r, 1, 0, 5, 0));

    const Bytes whole = {0x02, 0x01, 0x00, 0, 0, 0, 0x80, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0};
    test_bytes::load(whole, [&](ccArchive& ar) { r.archive(ar); });
    EXPECT_EQ(r.width(), int64_t{0xFFFFFFFF});
}

TEST(PelRectArchive, FailedLoadsLeaveTheRectangle)
{
    const ccPelRect before(1, 2, 3, 4);
    ccPelRect r = before;
    Bytes v1 = kLittle;
    v1[2] = 1;
    try {
        test_bytes::load(v1, [&](ccArchive& ar) { r.archive(ar); });
        FAIL() << "no exception";
    } catch (const ccArchive::UnknownVersion& e) {
        EXPECT_EQ(e.file(), L"defs/ch_core/rect");
        EXPECT_EQ(e.line(), 247u);
    }
    const Bytes cut(kLittle.begin(), kLittle.end() - 1);
    EXPECT_THROW(test_bytes::load(cut, [&](ccArchive& ar) { r.archive(ar); }), ccArchive::Eof);
    EXPECT_TRUE(r == before);
}

} // namespace
