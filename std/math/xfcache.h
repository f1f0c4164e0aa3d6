// A pel buffer's client transform: the transform, optionally its inverse,
// and a linear snapshot so that pixel code reads the transform without a
// virtual call or an allocation.
#pragma once
#include "std/math/xfbase.h"
#include "std/math/xflinear.h"

class cc2XformCache : public ccRepBase {
public:
    // The shared identity in both handles, linear.
    cc2XformCache();
    // Copies share the transforms.
    cc2XformCache(const cc2XformCache&) = default;
    cc2XformCache& operator=(const cc2XformCache&) = default;

    // Holds a clone of x and no inverse.
    void set(const cc2XformBase& x);
    // For a transform that maps the other way (as a board image brings it):
    // holds x's inverse as the transform and x itself, or a clone of it, as
    // the inverse. An empty handle raises ccBadPointer; nothing changes when
    // x cannot be inverted.
    void set(const ccPtrHandle_const<cc2XformBase>& x, bool clone);
    // Takes the linear flag again, and the snapshot when linear (a non-linear
    // transform leaves the last snapshot). ccBadPointer without a transform.
    void refresh();

    // The transform as a linear value; ccPel::NonlinearXform when the
    // transform is not linear.
    cc2Xform linearValue() const;

    const ccPtrHandle_const<cc2XformBase>& xform() const { return xform_; }
    // Empty unless set from a transform that maps the other way.
    const ccPtrHandle_const<cc2XformBase>& inverse() const { return inverse_; }
    bool isLinear() const { return linear_; }

private:
    ccPtrHandle_const<cc2XformBase> xform_;
    ccPtrHandle_const<cc2XformBase> inverse_;
    bool linear_ = true;
    cc2XformLinear snapshot_;
};
