#include "std/math/xfcomposed.h"

#include <new>

#include "std/math/xflinear.h"

namespace {

ccPtrHandle_const<cc2XformBase> keep(const cc2XformBase& x, bool clone)
{
    if (clone)
        return x.clone();
    return ccPtrHandle_const<cc2XformBase>(&x);
}

} // namespace

ccPersistent* cc2XformComposed::cmCreate() { return new (std::nothrow) cc2XformComposed; }

cc2XformComposed::cc2XformComposed() : first_(cc2XformLinear::identity()), second_(cc2XformLinear::identity()) {}

cc2XformComposed::cc2XformComposed(const cc2XformBase& first, const cc2XformBase& second, bool cloneFirst,
                                   bool cloneSecond)
    : first_(keep(first, cloneFirst)), second_(keep(second, cloneSecond))
{
}

cc2Vect cc2XformComposed::mapPoint(const cc2Vect& p) const { return first_->mapPoint(second_->mapPoint(p)); }

bool cc2XformComposed::isLinear() const { return first_->isLinear() && second_->isLinear(); }

cc2XformLinear cc2XformComposed::linearApprox(const cc2Vect& p) const
{
    const cc2XformLinear inner = second_->linearApprox(p);
    const cc2XformLinear outer = first_->linearApprox(second_->mapPoint(p));
    return cc2XformLinear(outer.value() * inner.value());
}

ccPtrHandle<cc2XformBase> cc2XformComposed::inverse() const
{
    // (f after s) inverted is s inverted after f inverted.
    const ccPtrHandle<cc2XformBase> firstInverse = first_->inverse();
    const ccPtrHandle<cc2XformBase> secondInverse = second_->inverse();
    return ccPtrHandle<cc2XformBase>(new cc2XformComposed(*secondInverse, *firstInverse, false, false));
}

ccPtrHandle<cc2XformBase> cc2XformComposed::clone() const
{
    return ccPtrHandle<cc2XformBase>(new cc2XformComposed(*this));
}

void cc2XformComposed::archive(ccArchive&) { throw cc2XformDefs::NotImplemented(); }

void cc2XformComposed::serializeVersion(ccArchive&, uint8_t) { throw cc2XformDefs::NotImplemented(); }
