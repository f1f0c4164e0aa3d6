#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "std/math/matherr.h"
#include "std/math/matrix.h"
#include "std/math/pel_nonlinear.h"
#include "std/math/startup.h"
#include "std/math/xfcache.h"
#include "std/math/xfcip.h"
#include "std/math/xfcomposed.h"
#include "std/math/xflinear.h"
#include "std/math/xform.h"
#include "std/math/xfpoly.h"

namespace {

const cc2XformLinear kT(cc2Matrix(2, 0.5, -1, 3), cc2Vect(7, -4));

::testing::AssertionResult sameValue(const cc2XformBase* x, const cc2XformLinear& expected)
{
    const cc2XformLinear* l = dynamic_cast<const cc2XformLinear*>(x);
    double a[6] = {}, b[6];
    if (l)
        l->value().get(a[0], a[1], a[2], a[3], a[4], a[5]);
    expected.value().get(b[0], b[1], b[2], b[3], b[4], b[5]);
    if (l && std::equal(a, a + 6, b))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (l ? "values differ" : "not linear");
}

void expectNear(const cc2Vect& a, const cc2Vect& b)
{
    EXPECT_NEAR(a.x(), b.x(), 1e-12);
    EXPECT_NEAR(a.y(), b.y(), 1e-12);
}

// x' = 1 + x^2, y' = y + xy.
cc2XformPoly quadratic() { return cc2XformPoly(2, {1, 0, 0, 1, 0, 0}, {0, 0, 1, 0, 1, 0}); }

// Only an exactly zero determinant is singular; a 3 x 3 matrix recomputes
// its determinant whenever an element is set.
TEST(Matrix, InverseAndDeterminants)
{
    const cc2Matrix m(4, 2, 1, 3); // det 10
    EXPECT_EQ(m.det(), 10.0);
    const cc2Matrix inv = m.inverse();
    EXPECT_DOUBLE_EQ(inv.a(), 0.3);
    EXPECT_DOUBLE_EQ(inv.b(), -0.2);
    EXPECT_DOUBLE_EQ(inv.c(), -0.1);
    EXPECT_DOUBLE_EQ(inv.d(), 0.4);
    EXPECT_DOUBLE_EQ(inv.det(), 0.1);
    EXPECT_THROW(cc2Matrix(1, 2, 2, 4).inverse(), ccMathError::Singular);
    EXPECT_THROW(cc2Matrix(0, 0, 0, 0).inverse(), ccMathError::Errors);
    EXPECT_DOUBLE_EQ(cc2Matrix(1e-300, 0, 0, 1).inverse().a(), 1e300);
    EXPECT_TRUE(std::isnan(cc2Matrix(std::nan(""), 0, 0, 1).inverse().a()));

    cc3Matrix m3;
    EXPECT_EQ(m3.det(), 1.0);
    m3.setElement(0, 0, 2);
    m3.setElement(1, 2, 5);
    m3.setElement(2, 1, 3); // [2 0 0; 0 1 5; 0 3 1]
    EXPECT_EQ(m3.det(), -28.0);
    m3.setElement(1, 1, 15);
    EXPECT_EQ(m3.det(), 0.0);
    EXPECT_THROW(m3.setElement(3, 0, 1), ccInvariantFailure);
    EXPECT_THROW(m3.element(0, -1), ccInvariantFailure);
}

// Composition applies this after other; the identity test is exact: the
// smallest change of any element makes a transform other than the identity.
TEST(XformValue, ComposesThisAfterOtherAndIdentityIsExact)
{
    const cc2Xform scale(cc2Matrix(2, 0, 0, 3), cc2Vect());
    const cc2Xform shift(cc2Matrix(), cc2Vect(1, 1));
    const cc2Vect q = (scale * shift).mapPoint(cc2Vect(4, 5)); // (2 * 5, 3 * 6)
    const cc2Vect r = (shift * scale).mapPoint(cc2Vect(4, 5));
    EXPECT_TRUE(q.x() == 10 && q.y() == 18 && r.x() == 9 && r.y() == 16);
    EXPECT_EQ((scale * shift).matrix().det(), 6.0);

    EXPECT_TRUE(cc2Xform().isIdentity());
    EXPECT_TRUE(cc2Xform(cc2Matrix(1, 0, 0, 1), cc2Vect(-0.0, 0)).isIdentity());
    for (int i = 0; i < 6; ++i) {
        double v[6] = {1, 0, 0, 1, 0, 0};
        v[i] = std::nextafter(v[i], HUGE_VAL);
        EXPECT_FALSE(cc2Xform(cc2Matrix(v[0], v[1], v[2], v[3]), cc2Vect(v[4], v[5])).isIdentity()) << i;
    }
}

// Every block taken from the shared allocator in a test is given back.
class LinearXform : public ::testing::Test {
protected:
    void SetUp() override
    {
        ccStdMathStartup();
        before_ = cc2XformLinear::allocator().outstanding();
    }
    void TearDown() override { EXPECT_EQ(cc2XformLinear::allocator().outstanding(), before_); }

private:
    uint32_t before_ = 0;
};

TEST_F(LinearXform, IdentityComposesExactlyInverseComposesToIdentityAndCopiesAreShared)
{
    const cc2XformLinear& id = *cc2XformLinear::identity();
    EXPECT_TRUE(sameValue(kT.compose(id).rawPointer(), kT));
    EXPECT_TRUE(sameValue(id.compose(kT).rawPointer(), kT));

    const ccPtrHandle<cc2XformBase> i = kT.compose(*kT.inverse());
    const cc2Vect p(3, 9);
    expectNear(i->mapPoint(p), p);
    EXPECT_NEAR(dynamic_cast<const cc2XformLinear&>(*i).matrix().det(), 1, 1e-15);
    // The block of a failed inverse goes back to the allocator.
    EXPECT_THROW(cc2XformLinear(cc2Matrix(1, 2, 2, 4), cc2Vect(1, 1)).inverse(), ccMathError::Singular);

    // Copies come from the shared allocator.
    const uint32_t before = cc2XformLinear::allocator().outstanding();
    const ccPtrHandle<cc2XformBase> c = kT.clone();
    EXPECT_TRUE(c.rawPointer() != &kT && sameValue(c.rawPointer(), kT));
    const ccPtrHandle<cc2XformBase> ci = c->inverse();
    EXPECT_EQ(cc2XformLinear::allocator().outstanding(), before + 2);
    const cc2XformLinear approx = kT.linearApprox(cc2Vect(1e9, -3));
    EXPECT_TRUE(sameValue(&approx, kT));
}

TEST_F(LinearXform, PolynomialsFoldTheLinearStageAndOthersComposeIntoCompositions)
{
    const cc2XformPoly p = quadratic();
    const ccPtrHandle<cc2XformBase> once = kT.compose(p);
    ASSERT_NE(dynamic_cast<const cc2XformPoly*>(once.rawPointer()), nullptr);
    const cc2Vect q(1.5, -2);
    expectNear(once->mapPoint(q), kT.mapPoint(p.mapPoint(q)));
    expectNear(p.mapPoint(q), cc2Vect(3.25, -5)); // the original is unchanged

    // A second fold lands on the output stage the first one made.
    const cc2XformLinear shift(cc2Matrix(), cc2Vect(100, 0));
    expectNear(shift.compose(*once)->mapPoint(q), shift.mapPoint(kT.mapPoint(p.mapPoint(q))));

    // Degree one folds into its only stage, and so stays invertible.
    cc2XformPoly one(1, {1, 2, 0}, {-1, 0, 3}); // (1 + 2x, -1 + 3y)
    one.composeLinear(kT);
    EXPECT_TRUE(one.isLinear());
    const cc2Vect r(2, 5);
    expectNear(one.mapPoint(r), kT.mapPoint(cc2Vect(5, 14)));
    expectNear(one.inverse()->mapPoint(one.mapPoint(r)), r);
    EXPECT_THROW(quadratic().inverse(), cc2XformDefs::NotImplemented);
    EXPECT_THROW(cc2XformPoly(0, {1}, {1}), cc2XformPoly::BadParams);
    EXPECT_THROW(cc2XformPoly(2, {1, 0, 0}, {0, 1, 0}), cc2XformPoly::BadParams);

    // Other transforms compose into a composition of copies, which inverts part by part.
    const cc2XformComposed inner(kT, quadratic(), true, true);
    const ccPtrHandle<cc2XformBase> h = kT.compose(inner);
    const cc2XformComposed* c = dynamic_cast<const cc2XformComposed*>(h.rawPointer());
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->second().rawPointer(), &inner);
    const cc2Vect k(0.5, 2);
    expectNear(h->mapPoint(k), kT.mapPoint(inner.mapPoint(k)));

    const cc2XformComposed linear(kT, cc2XformLinear(cc2Matrix(), cc2Vect(1, 2)), true, true);
    EXPECT_TRUE(linear.isLinear());
    expectNear(linear.inverse()->mapPoint(linear.mapPoint(k)), k);

    // The linear approximation is the tangent, also through compositions.
    const cc2Vect at(2, 3);
    const cc2XformLinear t = p.linearApprox(at);
    // [2x 0; y 1 + x] at (2, 3), through p(at).
    EXPECT_TRUE(sameValue(&t, cc2XformLinear(cc2Matrix(4, 0, 3, 3), cc2Vect(5 - 8, 9 - 6 - 9))));
    const cc2XformLinear ct = cc2XformComposed(kT, p, true, true).linearApprox(at);
    EXPECT_TRUE(sameValue(&ct, cc2XformLinear(kT.value() * t.value())));
}

class XformCache : public LinearXform {};
const cc2XformLinear kDiagonal(cc2Matrix(2, 0, 0, 4), cc2Vect(1, -1));

TEST_F(XformCache, HoldsACloneOfWhatItIsGivenOrTheInverseOfAHandle)
{
    cc2XformCache c;
    const cc2XformBase* id = cc2XformLinear::identity().rawPointer();
    EXPECT_TRUE(c.xform().rawPointer() == id && c.inverse().rawPointer() == id && c.linearValue().isIdentity());

    c.set(cc2XformPoly(2, {0, 1, 0, 1, 0, 0}, {0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(c.isLinear());
    EXPECT_THROW(c.linearValue(), ccPel::NonlinearXform);
    c.set(kDiagonal);
    EXPECT_FALSE(c.xform().rawPointer() == &kDiagonal || c.inverse());
    EXPECT_TRUE(c.linearValue().matrix().d() == 4 && c.linearValue().offset().x() == 1);

    // Given as a handle, what it is given is the inverse: held as it is or as
    // a clone, and shared by copies of the cache.
    const ccPtrHandle_const<cc2XformBase> h(kDiagonal.clone());
    c.set(h, false);
    EXPECT_EQ(c.inverse().rawPointer(), h.rawPointer());
    const cc2Xform v = c.linearValue();
    EXPECT_TRUE(v.matrix().a() == 0.5 && v.matrix().d() == 0.25 && v.offset().x() == -0.5 && v.offset().y() == 0.25);

    const cc2XformCache copy(c);
    EXPECT_TRUE(copy.xform().rawPointer() == c.xform().rawPointer() && copy.inverse().rawPointer() == h.rawPointer());
    EXPECT_EQ(copy.linearValue().matrix().a(), 0.5);
    c.set(h, true);
    EXPECT_NE(c.inverse().rawPointer(), h.rawPointer());

    // A failed set changes nothing.
    const cc2XformBase* before = c.xform().rawPointer();
    const cc2XformBase* inverse = c.inverse().rawPointer();
    const ccPtrHandle_const<cc2XformBase> singular(new cc2XformLinear(cc2Matrix(0, 0, 0, 0), cc2Vect()));
    EXPECT_THROW(c.set(singular, true), ccMathError::Singular);
    EXPECT_THROW(c.set(ccPtrHandle_const<cc2XformBase>(), false), ccBadPointer);
    EXPECT_TRUE(c.xform().rawPointer() == before && c.inverse().rawPointer() == inverse);
}

const cc2XformLinear kShift(cc2Matrix(), cc2Vect(1, 2));

// An engine slot released with the test.
struct Slot {
    csys_handle h = nullptr;
    ~Slot() { EXPECT_EQ(csys_handleRelease(&h), csysOk); }
    const cip_Xform* object() const { return static_cast<const cip_Xform*>(h->payload); }
};

class CipBridge : public LinearXform {};

// Unconvertible inputs throw and leave nothing; a linear transform becomes an
// affine object replacing the old one, and a composition round-trips part by part.
TEST_F(CipBridge, ConvertsLinearAndCompositionsAndRefusesTheRest)
{
    Slot s;
    const ccPtrHandle_const<cc2XformBase> poly(new cc2XformPoly(2, {0, 1, 0, 1, 0, 0}, {0, 0, 1, 0, 0, 0}));
    EXPECT_THROW(cc2XformToCip(poly, &s.h), cc2XformDefs::NotImplemented);
    // The converted first part is released again (the leak check sees it).
    const ccPtrHandle_const<cc2XformBase> mixed(new cc2XformComposed(kT, *poly, true, true));
    EXPECT_THROW(cc2XformToCip(mixed, &s.h), cc2XformDefs::NotImplemented);
    EXPECT_EQ(s.h, nullptr);
    EXPECT_THROW(cc2XformToCip(ccPtrHandle_const<cc2XformBase>(), &s.h), ccBadPointer);
    EXPECT_THROW(cc2XformFromCip(nullptr), ccUnknownError);

    cc2XformToCip(kShift.clone(), &s.h);
    cc2XformToCip(kT.clone(), &s.h);
    cip_Affine2 a{};
    ASSERT_EQ(cip_xformGetAffine(s.object(), &a), 0);
    EXPECT_TRUE(a.tx == 7 && a.ty == -4 && a.a == 2 && a.b == 0.5 && a.c == -1 && a.d == 3);

    const ccPtrHandle_const<cc2XformBase> c(new cc2XformComposed(kT, kShift, true, true));
    cc2XformToCip(c, &s.h);
    const ccPtrHandle_const<cc2XformBase> back = cc2XformFromCip(s.object());
    const cc2XformComposed* bc = dynamic_cast<const cc2XformComposed*>(back.rawPointer());
    ASSERT_TRUE(bc && dynamic_cast<const cc2XformLinear*>(bc->first().rawPointer()));
    const cc2Vect p(3, -5);
    EXPECT_TRUE(back->mapPoint(p).x() == c->mapPoint(p).x() && back->mapPoint(p).y() == c->mapPoint(p).y());
}

} // namespace
