#include "std/math/xfcache.h"

#include "std/math/pel_nonlinear.h"

cc2XformCache::cc2XformCache() : xform_(cc2XformLinear::identity()), inverse_(cc2XformLinear::identity()) {}

void cc2XformCache::set(const cc2XformBase& x)
{
    xform_ = x.clone();
    inverse_ = nullptr;
    refresh();
}

void cc2XformCache::set(const ccPtrHandle_const<cc2XformBase>& x, bool clone)
{
    if (!x)
        throw ccBadPointer();
    // Both made before either is stored: a singular x changes nothing.
    ccPtrHandle_const<cc2XformBase> forward = x->inverse();
    ccPtrHandle_const<cc2XformBase> backward = clone ? ccPtrHandle_const<cc2XformBase>(x->clone()) : x;
    xform_ = forward;
    inverse_ = backward;
    refresh();
}

void cc2XformCache::refresh()
{
    if (!xform_)
        throw ccBadPointer();
    const bool linear = xform_->isLinear();
    if (linear)
        snapshot_ = xform_->linearApprox(cc2Vect());
    linear_ = linear;
}

cc2Xform cc2XformCache::linearValue() const
{
    if (!linear_)
        throw ccPel::NonlinearXform();
    return snapshot_.value();
}
