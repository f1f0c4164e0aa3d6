#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "std/math/matherr.h"
#include "std/math/matrix.h"
#include "std/math/xform.h"

namespace {

double up(double v) { return std::nextafter(v, HUGE_VAL); }

TEST(Matrix2, InverseAndItsDeterminant)
{
    const cc2Matrix m(4, 2, 1, 3); // det 10
    EXPECT_EQ(m.det(), 10.0);
    const cc2Matrix inv = m.inverse();
    EXPECT_DOUBLE_EQ(inv.a(), 0.3);
    EXPECT_DOUBLE_EQ(inv.b(), -0.2);
    EXPECT_DOUBLE_EQ(inv.c(), -0.1);
    EXPECT_DOUBLE_EQ(inv.d(), 0.4);
    EXPECT_EQ(inv.det(), inv.a() * inv.d() - inv.c() * inv.b());
}

TEST(Matrix2, OnlyAnExactlyZeroDeterminantIsSingular)
{
    EXPECT_THROW(cc2Matrix(1, 2, 2, 4).inverse(), ccMathError::Singular);
    EXPECT_THROW(cc2Matrix(0, 0, 0, 0).inverse(), ccMathError::Errors);
    EXPECT_DOUBLE_EQ(cc2Matrix(1e-300, 0, 0, 1).inverse().a(), 1e300);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(std::isnan(cc2Matrix(nan, 0, 0, 1).inverse().a()));
}

TEST(Matrix3, SettingAnElementRecomputesTheDeterminant)
{
    cc3Matrix m;
    EXPECT_EQ(m.det(), 1.0);
    m.setElement(0, 0, 2);
    m.setElement(1, 2, 5);
    m.setElement(2, 1, 3); // [2 0 0; 0 1 5; 0 3 1]
    EXPECT_EQ(m.det(), -28.0);
    m.setElement(1, 1, 15);
    EXPECT_EQ(m.det(), 0.0);
    EXPECT_THROW(m.setElement(3, 0, 1), ccInvariantFailure);
    EXPECT_THROW(m.element(0, -1), ccInvariantFailure);
}

TEST(XformValue, ComposesThisAfterOther)
{
    const cc2Xform scale(cc2Matrix(2, 0, 0, 3), cc2Vect());
    const cc2Xform shift(cc2Matrix(), cc2Vect(1, 1));
    const cc2Vect p(4, 5);
    const cc2Vect q = (scale * shift).mapPoint(p); // (2 * 5, 3 * 6)
    EXPECT_EQ(q.x(), 10);
    EXPECT_EQ(q.y(), 18);
    const cc2Vect r = (shift * scale).mapPoint(p);
    EXPECT_EQ(r.x(), 9);
    EXPECT_EQ(r.y(), 16);
    EXPECT_EQ((scale * shift).matrix().det(), 6.0);
}

TEST(XformValue, IdentityTestIsExact)
{
    EXPECT_TRUE(cc2Xform().isIdentity());
    EXPECT_TRUE(cc2Xform(cc2Matrix(1, 0, 0, 1), cc2Vect(-0.0, 0)).isIdentity());
    const cc2Xform nearly[] = {
        cc2Xform(cc2Matrix(up(1), 0, 0, 1), cc2Vect()), cc2Xform(cc2Matrix(1, up(0), 0, 1), cc2Vect()),
        cc2Xform(cc2Matrix(1, 0, up(0), 1), cc2Vect()), cc2Xform(cc2Matrix(1, 0, 0, up(1)), cc2Vect()),
        cc2Xform(cc2Matrix(), cc2Vect(up(0), 0)),       cc2Xform(cc2Matrix(), cc2Vect(0, up(0))),
    };
    for (const cc2Xform& x : nearly)
        EXPECT_FALSE(x.isIdentity());
}

} // namespace
