#include <gtest/gtest.h>

#include "std/except/status.h"
#include "std/math/matherr.h"
#include "std/math/pel_nonlinear.h"
#include "std/math/startup.h"
#include "std/math/xfcomposed.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"

namespace {

const cc2XformLinear kT(cc2Matrix(2, 0.5, -1, 3), cc2Vect(7, -4));

::testing::AssertionResult sameValue(const cc2XformBase* x, const cc2XformLinear& expected)
{
    const cc2XformLinear* l = dynamic_cast<const cc2XformLinear*>(x);
    if (!l)
        return ::testing::AssertionFailure() << "not linear";
    double a[6], b[6];
    l->value().get(a[0], a[1], a[2], a[3], a[4], a[5]);
    expected.value().get(b[0], b[1], b[2], b[3], b[4], b[5]);
    for (int i = 0; i < 6; ++i)
        if (a[i] != b[i])
            return ::testing::AssertionFailure() << "element " << i << ": " << a[i] << " vs " << b[i];
    return ::testing::AssertionSuccess();
}

void expectNear(const cc2Vect& a, const cc2Vect& b)
{
    EXPECT_NEAR(a.x(), b.x(), 1e-12);
    EXPECT_NEAR(a.y(), b.y(), 1e-12);
}

// x' = 1 + x^2, y' = y + xy.
cc2XformPoly quadratic() { return cc2XformPoly(2, {1, 0, 0, 1, 0, 0}, {0, 0, 1, 0, 1, 0}); }

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

TEST_F(LinearXform, IdentityComposesExactlyAndInverseComposesToIdentity)
{
    const cc2XformLinear& id = *cc2XformLinear::identity();
    EXPECT_EQ(&id, cc2XformLinear::identity().rawPointer());
    EXPECT_TRUE(sameValue(kT.compose(id).rawPointer(), kT));
    EXPECT_TRUE(sameValue(id.compose(kT).rawPointer(), kT));

    const ccPtrHandle<cc2XformBase> i = kT.compose(*kT.inverse());
    const cc2Vect p(3, 9);
    expectNear(i->mapPoint(p), p);
    EXPECT_NEAR(dynamic_cast<const cc2XformLinear&>(*i).matrix().det(), 1, 1e-15);
}

TEST_F(LinearXform, SingularInverseThrowsAndTinyDoesNot)
{
    const cc2XformLinear flat(cc2Matrix(1, 2, 2, 4), cc2Vect(1, 1));
    EXPECT_THROW(flat.inverse(), ccMathError::Singular);
    EXPECT_EQ(flat.matrix().a(), 1);
    EXPECT_NO_THROW(cc2XformLinear(cc2Matrix(1e-300, 0, 0, 1), cc2Vect()).inverse());
}

TEST_F(LinearXform, CloneAndApproximationAreCopies)
{
    const ccPtrHandle<cc2XformBase> c = kT.clone();
    EXPECT_NE(c.rawPointer(), &kT);
    EXPECT_TRUE(sameValue(c.rawPointer(), kT));
    const cc2XformLinear approx = kT.linearApprox(cc2Vect(1e9, -3));
    EXPECT_TRUE(sameValue(&approx, kT));
}

TEST_F(LinearXform, HeapObjectsComeFromTheSharedAllocator)
{
    const uint32_t before = cc2XformLinear::allocator().outstanding();
    ccPtrHandle<cc2XformBase> h(new cc2XformLinear);
    ccPtrHandle<cc2XformBase> i = h->inverse();
    EXPECT_EQ(cc2XformLinear::allocator().outstanding(), before + 2);
}

TEST_F(LinearXform, PolynomialGetsTheLinearStageFoldedIntoACopy)
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
}

TEST_F(LinearXform, DegreeOnePolynomialFoldsIntoItsOnlyStage)
{
    cc2XformPoly p(1, {1, 2, 0}, {-1, 0, 3}); // (1 + 2x, -1 + 3y)
    p.composeLinear(kT);
    EXPECT_TRUE(p.isLinear());
    const cc2Vect q(2, 5);
    expectNear(p.mapPoint(q), kT.mapPoint(cc2Vect(5, 14)));
    expectNear(p.inverse()->mapPoint(p.mapPoint(q)), q);
    EXPECT_THROW(quadratic().inverse(), cc2XformDefs::NotImplemented);
    EXPECT_THROW(cc2XformPoly(0, {1}, {1}), cc2XformPoly::BadParams);
    EXPECT_THROW(cc2XformPoly(2, {1, 0, 0}, {0, 1, 0}), cc2XformPoly::BadParams);
}

TEST_F(LinearXform, OtherTransformsComposeIntoACompositionOfCopies)
{
    const cc2XformComposed inner(kT, quadratic(), true, true);
    const ccPtrHandle<cc2XformBase> h = kT.compose(inner);
    const cc2XformComposed* c = dynamic_cast<const cc2XformComposed*>(h.rawPointer());
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->second().rawPointer(), &inner);
    const cc2Vect q(0.5, 2);
    expectNear(h->mapPoint(q), kT.mapPoint(inner.mapPoint(q)));
}

TEST_F(LinearXform, ApproximationIsTheTangentThroughCompositions)
{
    const cc2XformPoly p = quadratic();
    const cc2Vect at(2, 3);
    const cc2XformLinear t = p.linearApprox(at);
    // [2x 0; y 1 + x] at (2, 3), through p(at).
    EXPECT_TRUE(sameValue(&t, cc2XformLinear(cc2Matrix(4, 0, 3, 3), cc2Vect(5 - 8, 9 - 6 - 9))));
    const cc2XformComposed c(kT, p, true, true);
    const cc2XformLinear ct = c.linearApprox(at);
    EXPECT_TRUE(sameValue(&ct, cc2XformLinear(kT.value() * t.value())));
}

TEST_F(LinearXform, CompositionInvertsPartByPart)
{
    const cc2XformComposed c(kT, cc2XformLinear(cc2Matrix(), cc2Vect(1, 2)), true, true);
    EXPECT_TRUE(c.isLinear());
    const cc2Vect q(4, -6);
    expectNear(c.inverse()->mapPoint(c.mapPoint(q)), q);
}

TEST(XformStatus, Facility44ThrowsTheTransformErrors)
{
    ccStdMathStartup();
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x80000582u)), ccMathError::Singular);
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x80000583u)), ccMathError::Singular);
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x80000585u)), ccPel::NonlinearXform);
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x80000586u)), cc2XformDefs::NotImplemented);
    EXPECT_THROW(ccThrowStatus(csysMakeStatus(0x80000584u)), ccUnknownError);
}

} // namespace
