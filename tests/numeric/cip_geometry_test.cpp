#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "numeric/cip_geometry.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(CipNumbers, RoundingIsHalfAwayFromZeroAndOutOfRangeGivesTheMostNegative)
{
    const struct {
        double x;
        int32_t round, floor;
    } cases[] = {
        {0.5, 1, 0},
        {-0.5, -1, -1},
        {2.4999, 2, 2},
        {0.49999999999999994, 1, 0}, // x + 0.5 rounds up in double; the tables rely on it
        {2147483647.4, INT32_MAX, INT32_MAX},
        {2147483647.5, INT32_MIN, INT32_MAX},
        {2147483648.0, INT32_MIN, INT32_MIN},
        {-2147483648.4, INT32_MIN, INT32_MIN},
        {-2147483648.6, INT32_MIN, INT32_MIN},
        {kNaN, INT32_MIN, INT32_MIN},
        {-kInf, INT32_MIN, INT32_MIN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cip_roundToInt(c.x), c.round) << c.x;
        EXPECT_EQ(cip_floorToInt(c.x), c.floor) << c.x;
    }
}

TEST(CipNumbers, ComparisonsFollowTheirExactRules)
{
    EXPECT_EQ(cip_nearlyEqual(1.0, 1.5, 0.5), 0); // strict
    EXPECT_EQ(cip_nearlyEqual(1.0, 1.25, 0.5), 1);
    // Unordered pairs give the second.
    EXPECT_EQ(cip_minDouble(kNaN, 2.0), 2.0);
    EXPECT_TRUE(std::isnan(cip_maxDouble(2.0, kNaN)));
}

TEST(CipInit, RecordsTakeTheirUnsetValues)
{
    cip_Affine2 a{9, 9, 9, 9, 9, 9};
    cip_Range r{0, 1, 2};
    cip_AngleRange ar{0, 1, 2};
    ASSERT_TRUE(cip_affineSetIdentity(&a) == 0 && cip_rangeInitUnset(&r) == 0 && cip_angleRangeInitUnset(&ar) == 0);
    EXPECT_TRUE(a.tx == 0 && a.ty == 0 && a.a == 1 && a.b == 0 && a.c == 0 && a.d == 1);
    EXPECT_TRUE(r.flag == 1 && r.low == -kInf && r.high == -kInf);
    EXPECT_TRUE(ar.flag == 1 && ar.low == -M_PI && ar.high == -M_PI);
    EXPECT_EQ(cip_affineSetIdentity(nullptr), csysErrNullArg);
    EXPECT_EQ(cip_xformRefInit(nullptr), csysErrNullArg);

    // A reference slot is uninitialised: what it holds is not released.
    csys_handle held = nullptr;
    ASSERT_EQ(cip_xformCreateAffine(&a, &held), 0);
    csys_handle slot = held;
    ASSERT_EQ(cip_xformRefInit(&slot), 0);
    EXPECT_EQ(slot, nullptr);
    EXPECT_EQ(*held->count, 1);
    EXPECT_EQ(csys_handleRelease(&held), csysOk);
}

cip_Rect rect(int32_t x, int32_t y, int32_t w, int32_t h) { return cip_Rect{x, y, w, h}; }

TEST(CipRect, IntersectionAndItsEmptyForm)
{
    const struct {
        cip_Rect a, b, result;
    } cases[] = {
        {rect(0, 0, 10, 10), rect(4, -3, 20, 8), rect(4, 0, 6, 5)},
        {rect(0, 5, 10, 10), rect(20, 1, 5, 5), rect(20, 5, 0, 0)}, // disjoint: larger origins
        {rect(0, 0, 10, 10), rect(10, 2, 5, 5), rect(10, 2, 0, 0)}, // touching
        // Far edges past the 32-bit range must not wrap.
        {rect(INT32_MAX - 10, 0, 100, 10), rect(INT32_MAX - 5, 0, 100, 10), rect(INT32_MAX - 5, 0, 95, 10)},
    };
    for (const auto& c : cases) {
        cip_Rect r;
        ASSERT_EQ(cip_rectSet(&r, c.a.x, c.a.y, c.a.width, c.a.height), 0);
        ASSERT_EQ(cip_rectIntersect(&r, &c.b), 0);
        EXPECT_EQ(std::tuple(r.x, r.y, r.width, r.height),
                  std::tuple(c.result.x, c.result.y, c.result.width, c.result.height));
    }
    EXPECT_EQ(cip_rectIntersect(nullptr, &cases[0].a), csysErrNullArg);
    EXPECT_EQ(cip_rectSet(nullptr, 0, 0, 0, 0), csysErrNullArg);
}

// Empty means no pel: either size at most zero.
TEST(CipRect, EmptyMeansNoPel)
{
    for (const auto& [r, expected] : {std::pair{rect(3, 3, 2, 0), 1}, std::pair{rect(3, 3, 0, 2), 1},
                                      std::pair{rect(3, 3, -2, 4), 1}, std::pair{rect(3, 3, 2, 1), 0}}) {
        int32_t empty = -1;
        ASSERT_EQ(cip_rectIsEmpty(&r, &empty), 0);
        EXPECT_EQ(empty, expected) << r.width << "x" << r.height;
    }
    const cip_Rect r = rect(3, 3, 2, 1);
    EXPECT_EQ(cip_rectIsEmpty(&r, nullptr), csysErrNullArg);
}

TEST(CipXform, CompositionHoldsItsPartsUntilItGoes)
{
    cip_Affine2 a{7, 0, 1, 0, 0, 1};
    csys_handle first = nullptr, second = nullptr, both = nullptr;
    ASSERT_TRUE(cip_xformCreateAffine(&a, &first) == 0 && cip_xformCreateAffine(&a, &second) == 0);
    EXPECT_EQ(cip_xformCreateComposed(&first, &both, &both), csysErrNullArg); // an empty part
    ASSERT_EQ(cip_xformCreateComposed(&first, &second, &both), 0);
    EXPECT_EQ(*first->count, 2);

    // The parts outlive their own handles; AddressSanitizer reports otherwise.
    EXPECT_TRUE(csys_handleRelease(&first) == csysOk && csys_handleRelease(&second) == csysOk);
    const cip_Xform* x = static_cast<const cip_Xform*>(both->payload);
    const cip_Xform* parts[2];
    cip_Affine2 out{};
    ASSERT_TRUE(cip_xformGetParts(x, &parts[0], &parts[1]) == 0 && cip_xformGetAffine(parts[1], &out) == 0);
    EXPECT_EQ(out.tx, 7);
    EXPECT_EQ(cip_xformGetAffine(x, &out), csysErrFail);
    EXPECT_EQ(cip_xformGetParts(parts[0], &parts[0], &parts[1]), csysErrFail);
    // The last release frees the parts too; the leak check sees otherwise.
    EXPECT_EQ(csys_handleRelease(&both), 0);
}

} // namespace
