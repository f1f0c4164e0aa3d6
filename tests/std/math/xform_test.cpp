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
    const cc2Matrix inv = cc2Matrix(4, 2, 1, 1).inverse(); // det 2
    EXPECT_TRUE(inv.a() == 0.5 && inv.b() == -1 && inv.c() == -0.5 && inv.d() == 2 && inv.det() == 0.5);
    EXPECT_THROW(cc2Matrix(1, 2, 2, 4).inverse(), ccMathError::Singular);
    EXPECT_TRUE(std::isnan(cc2Matrix(std::nan(""), 0, 0, 1).inverse().a())); // only an exact zero is singular

    cc3Matrix m3;
    m3.setElement(0, 0, 2), m3.setElement(1, 2, 5), m3.setElement(2, 1, 3); // [2 0 0; 0 1 5; 0 3 1]
    EXPECT_EQ(m3.det(), -28.0);
    m3.setElement(1, 1, 15);
    EXPECT_EQ(m3.det(), 0.0);
    EXPECT_THROW(m3.setElement(3, 0, 1), ccInvariantFailure);
    EXPECT_THROW(m3.element(0, -1), ccInvariantFailure);
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
    EXPECT_TRUE(sameValue(kT.compose(id).rawPointer(), kT) && sameValue(id.compose(kT).rawPointer(), kT));

    const ccPtrHandle<cc2XformBase> i = kT.compose(*kT.inverse());
    const cc2Vect p(3, 9);
    expectNear(i->mapPoint(p), p);
    // The block of a failed inverse goes back to the allocator.
    EXPECT_THROW(cc2XformLinear(cc2Matrix(1, 2, 2, 4), cc2Vect(1, 1)).inverse(), ccMathError::Singular);

    // Copies come from the shared allocator.
    const uint32_t before = cc2XformLinear::allocator().outstanding();
    const ccPtrHandle<cc2XformBase> c = kT.clone();
    EXPECT_TRUE(c.rawPointer() != &kT && sameValue(c.rawPointer(), kT));
    const ccPtrHandle<cc2XformBase> ci = c->inverse();
    EXPECT_EQ(cc2XformLinear::allocator().outstanding(), before + 2);
}

TEST_F(LinearXform, PolynomialsFoldTheLinearStageAndOthersComposeIntoCompositions)
{
    const cc2XformPoly p = quadratic();
    const ccPtrHandle<cc2XformBase> once = kT.compose(p);
    ASSERT_NE(dynamic_cast<const cc2XformPoly*>(once.rawPointer()), nullptr);
    const cc2Vect q(1.5, -2);
    expectNear(once->mapPoint(q), kT.mapPoint(p.mapPoint(q)));
    expectNear(p.mapPoint(q), cc2Vect(3.25, -5)); // the original is unchanged

    // Degree one folds into its only stage, and so stays invertible.
    cc2XformPoly one(1, {1, 2, 0}, {-1, 0, 3}); // (1 + 2x, -1 + 3y)
    one.composeLinear(kT);
    EXPECT_TRUE(one.isLinear());
    expectNear(one.inverse()->mapPoint(kT.mapPoint(cc2Vect(5, 14))), cc2Vect(2, 5));
    EXPECT_THROW(quadratic().inverse(), cc2XformDefs::NotImplemented);
    EXPECT_THROW(cc2XformPoly(2, {1, 0, 0}, {0, 1, 0}), cc2XformPoly::BadParams);

    // Other transforms compose into a composition of copies, which inverts part by part.
    const cc2XformComposed inner(kT, quadratic(), true, true);
    const ccPtrHandle<cc2XformBase> h = kT.compose(inner);
    const cc2XformComposed* c = dynamic_cast<const cc2XformComposed*>(h.rawPointer());
    ASSERT_TRUE(c && c->second().rawPointer() != &inner);
    expectNear(h->mapPoint(cc2Vect(0.5, 2)), kT.mapPoint(inner.mapPoint(cc2Vect(0.5, 2))));

    // The linear approximation is the tangent: [2x 0; y 1 + x] at (2, 3), through p(at).
    const cc2XformLinear t = p.linearApprox(cc2Vect(2, 3));
    EXPECT_TRUE(sameValue(&t, cc2XformLinear(cc2Matrix(4, 0, 3, 3), cc2Vect(5 - 8, 9 - 6 - 9))));
}

class XformCache : public LinearXform {};
const cc2XformLinear kDiagonal(cc2Matrix(2, 0, 0, 4), cc2Vect(1, -1));

TEST_F(XformCache, HoldsACloneOfWhatItIsGivenOrTheInverseOfAHandle)
{
    cc2XformCache c;
    const cc2XformBase* id = cc2XformLinear::identity().rawPointer();
    EXPECT_TRUE(c.xform().rawPointer() == id && c.inverse().rawPointer() == id && c.linearValue().isIdentity());

    c.set(quadratic());
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
    // The converted first part of a composition with a polynomial is released again (the leak check sees it).
    const ccPtrHandle_const<cc2XformBase> mixed(new cc2XformComposed(kT, quadratic(), true, true));
    EXPECT_THROW(cc2XformToCip(mixed, &s.h), cc2XformDefs::NotImplemented);
    EXPECT_EQ(s.h, nullptr);
    EXPECT_THROW(cc2XformToCip(ccPtrHandle_const<cc2XformBase>(), &s.h), ccBadPointer);

    cc2XformToCip(kShift.clone(), &s.h);
    cc2XformToCip(kT.clone(), &s.h); // replaces the old object
    cip_Affine2 a{};
    EXPECT_TRUE(cip_xformGetAffine(s.object(), &a) == 0 && a.tx == 7 && a.ty == -4 && a.b == 0.5 && a.c == -1);

    const ccPtrHandle_const<cc2XformBase> c(new cc2XformComposed(kT, kShift, true, true));
    cc2XformToCip(c, &s.h);
    const ccPtrHandle_const<cc2XformBase> back = cc2XformFromCip(s.object());
    const cc2XformComposed* bc = dynamic_cast<const cc2XformComposed*>(back.rawPointer());
    ASSERT_TRUE(bc && dynamic_cast<const cc2XformLinear*>(bc->first().rawPointer()));
    expectNear(back->mapPoint(cc2Vect(3, -5)), c->mapPoint(cc2Vect(3, -5)));
}

} // namespace
