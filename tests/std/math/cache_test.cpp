#include <gtest/gtest.h>

#include "std/math/matherr.h"
#include "std/math/pel_nonlinear.h"
#include "std/math/startup.h"
#include "std/math/xfcache.h"
#include "std/math/xfpoly.h"

namespace {

const cc2XformLinear kT(cc2Matrix(2, 0, 0, 4), cc2Vect(1, -1));

class XformCache : public ::testing::Test {
protected:
    void SetUp() override { ccStdMathStartup(); }
};

TEST_F(XformCache, StartsWithTheSharedIdentity)
{
    const cc2XformCache c;
    EXPECT_EQ(c.xform().rawPointer(), cc2XformLinear::identity().rawPointer());
    EXPECT_EQ(c.inverse().rawPointer(), cc2XformLinear::identity().rawPointer());
    EXPECT_TRUE(c.linearValue().isIdentity());
}

TEST_F(XformCache, SetFromAnObjectHoldsAClone)
{
    cc2XformCache c;
    c.set(kT);
    EXPECT_NE(c.xform().rawPointer(), &kT);
    EXPECT_FALSE(c.inverse());
    EXPECT_EQ(c.linearValue().matrix().d(), 4);
}

TEST_F(XformCache, SetFromAHandleHoldsTheInverseAndShares)
{
    const ccPtrHandle_const<cc2XformBase> h(kT.clone());
    cc2XformCache c;
    c.set(h, false);
    EXPECT_EQ(c.inverse().rawPointer(), h.rawPointer());
    const cc2Xform v = c.linearValue();
    EXPECT_TRUE(v.matrix().a() == 0.5 && v.matrix().d() == 0.25 && v.offset().x() == -0.5 && v.offset().y() == 0.25);

    const cc2XformCache copy(c);
    EXPECT_EQ(copy.xform().rawPointer(), c.xform().rawPointer());
    EXPECT_EQ(copy.inverse().rawPointer(), h.rawPointer());
    EXPECT_EQ(copy.linearValue().matrix().a(), 0.5);

    c.set(h, true);
    EXPECT_NE(c.inverse().rawPointer(), h.rawPointer());
}

TEST_F(XformCache, FailedSetChangesNothing)
{
    cc2XformCache c;
    c.set(kT);
    const cc2XformBase* before = c.xform().rawPointer();
    const ccPtrHandle_const<cc2XformBase> singular(new cc2XformLinear(cc2Matrix(0, 0, 0, 0), cc2Vect()));
    EXPECT_THROW(c.set(singular, true), ccMathError::Singular);
    EXPECT_THROW(c.set(ccPtrHandle_const<cc2XformBase>(), false), ccBadPointer);
    EXPECT_EQ(c.xform().rawPointer(), before);
    EXPECT_FALSE(c.inverse());
}

TEST_F(XformCache, NonLinearTransformRefusesTheLinearValue)
{
    cc2XformCache c;
    c.set(cc2XformPoly(2, {0, 1, 0, 1, 0, 0}, {0, 0, 1, 0, 0, 0}));
    EXPECT_FALSE(c.isLinear());
    EXPECT_THROW(c.linearValue(), ccPel::NonlinearXform);
    c.set(kT);
    EXPECT_EQ(c.linearValue().offset().x(), 1);
}

} // namespace
