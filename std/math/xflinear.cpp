#include "std/math/xflinear.h"

#include <typeinfo>

#include "std/except/archive.h"
#include "std/except/persist.h"
#include "std/math/xfpoly.h"

namespace {

constexpr uint32_t kFirstChunkBlocks = 256;

} // namespace

ccPersistent* cc2XformLinear::cmCreate() { return new (std::nothrow) cc2XformLinear; }

cc2XformLinear::cc2XformLinear(InverseTag, const cc2XformLinear& other)
{
    const cc2Matrix inv = other.matrix().inverse();
    const cc2Vect t = inv * other.translation();
    value_ = cc2Xform(inv, cc2Vect(-t.x(), -t.y()));
}

cc2XformLinear cc2XformLinear::linearApprox(const cc2Vect&) const { return *this; }

ccPtrHandle<cc2XformBase> cc2XformLinear::compose(const cc2XformBase& other) const
{
    if (other.isLinear())
        return ccPtrHandle<cc2XformBase>(new cc2XformLinear(value_ * other.linearApprox(cc2Vect()).value_));
    if (const cc2XformPoly* poly = dynamic_cast<const cc2XformPoly*>(&other)) {
        // Held before it is changed, so that a failure frees it.
        ccPtrHandle<cc2XformPoly> copy(new cc2XformPoly(*poly));
        copy->composeLinear(*this);
        return copy;
    }
    return cc2XformBase::compose(other);
}

ccPtrHandle<cc2XformBase> cc2XformLinear::inverse() const
{
    return ccPtrHandle<cc2XformBase>(new cc2XformLinear(inverseOf, *this));
}

ccPtrHandle<cc2XformBase> cc2XformLinear::clone() const
{
    return ccPtrHandle<cc2XformBase>(new cc2XformLinear(*this));
}

void cc2XformLinear::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(cc2XformLinear)))
        return;
    uint8_t version = 0;
    ar.archive(version);
    serializeVersion(ar, version);
    ccArchiveVisit::end(this, typeid(cc2XformLinear));
}

void cc2XformLinear::serializeVersion(ccArchive& ar, uint8_t version)
{
    if (version != 0)
        throw ccArchive::UnknownVersion("std/math/xflinear", 51);
    cc2XformBase::archive(ar);
    // Into a copy, so that a short stream leaves the transform as it was.
    // Storing only reads: the shared identity is stored from any thread.
    cc2Vect t = value_.offset();
    cc2Matrix m = value_.matrix();
    t.archive(ar);
    m.archive(ar);
    if (ar.isLoading())
        value_ = cc2Xform(m, t);
}

const ccPtrHandle_const<cc2XformLinear>& cc2XformLinear::identity()
{
    static const auto* shared = new ccPtrHandle_const<cc2XformLinear>(new cc2XformLinear);
    return *shared;
}

ccFixedSizeAllocator& cc2XformLinear::allocator()
{
    static auto* a = new ccFixedSizeAllocator(sizeof(cc2XformLinear), kFirstChunkBlocks, "cc2XformLinear");
    return *a;
}

void* cc2XformLinear::operator new(size_t size)
{
    // final: no derived class asks for more than a block.
    (void)size;
    return allocator().alloc();
}

void* cc2XformLinear::operator new(size_t size, const std::nothrow_t&) noexcept
{
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void cc2XformLinear::operator delete(void* block) noexcept { allocator().free(block); }

void cc2XformLinear::operator delete(void* block, const std::nothrow_t&) noexcept { allocator().free(block); }
