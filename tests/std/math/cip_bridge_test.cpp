#include <gtest/gtest.h>

#include "std/math/startup.h"
#include "std/math/xfcip.h"
#include "std/math/xfcomposed.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"

namespace {

const cc2XformLinear kT(cc2Matrix(2, 0.5, -1, 3), cc2Vect(7, -4));
const cc2XformLinear kShift(cc2Matrix(), cc2Vect(1, 2));

// An engine slot released with the test.
struct Slot {
    csys_handle h = nullptr;
    ~Slot() { EXPECT_EQ(csys_handleRelease(&h), csysOk); }
    const cip_Xform* object() const { return static_cast<const cip_Xform*>(h->payload); }
};

class CipBridge : public ::testing::Test {
protected:
    void SetUp() override { ccStdMathStartup(); }
};

TEST_F(CipBridge, LinearBecomesAnAffineObjectReplacingTheOld)
{
    Slot s;
    cc2XformToCip(kShift.clone(), &s.h);
    cc2XformToCip(kT.clone(), &s.h);
    cip_Affine2 a{};
    ASSERT_EQ(cip_xformGetAffine(s.object(), &a), 0);
    EXPECT_TRUE(a.tx == 7 && a.ty == -4 && a.a == 2 && a.b == 0.5 && a.c == -1 && a.d == 3);
}

TEST_F(CipBridge, CompositionRoundTripsPartByPart)
{
    const ccPtrHandle_const<cc2XformBase> c(new cc2XformComposed(kT, kShift, true, true));
    Slot s;
    cc2XformToCip(c, &s.h);
    const ccPtrHandle_const<cc2XformBase> back = cc2XformFromCip(s.object());
    const cc2XformComposed* bc = dynamic_cast<const cc2XformComposed*>(back.rawPointer());
    ASSERT_NE(bc, nullptr);
    ASSERT_NE(dynamic_cast<const cc2XformLinear*>(bc->first().rawPointer()), nullptr);
    const cc2Vect p(3, -5);
    EXPECT_EQ(back->mapPoint(p).x(), c->mapPoint(p).x());
    EXPECT_EQ(back->mapPoint(p).y(), c->mapPoint(p).y());
}

TEST_F(CipBridge, UnconvertibleInputsThrowAndLeaveNothing)
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
}

} // namespace
