// The linear (affine) member of the transform family. Heap objects come from
// one shared fixed-size allocator: they are made for every buffer copy and
// every clone.
#pragma once
#include <cstddef>
#include <new>

#include "std/math/fsalloc.h"
#include "std/math/xfbase.h"
#include "std/math/xform.h"

class cc2XformLinear final : public cc2XformBase {
public:
    static constexpr const char* kStoredName = "class cc2XformLinear";
    // The registry's factory: a new identity, or null when out of memory.
    static ccPersistent* cmCreate();

    enum InverseTag { inverseOf };

    // The identity.
    cc2XformLinear() = default;
    explicit cc2XformLinear(const cc2Xform& value) : value_(value) {}
    cc2XformLinear(const cc2Matrix& matrix, const cc2Vect& translation) : value_(matrix, translation) {}
    cc2XformLinear(const cc2XformLinear&) = default;
    // The inverse of other; ccMathError::Singular when its determinant is 0.
    cc2XformLinear(InverseTag, const cc2XformLinear& other);
    cc2XformLinear& operator=(const cc2XformLinear&) = default;

    const cc2Xform& value() const { return value_; }
    const cc2Vect& translation() const { return value_.offset(); }
    const cc2Matrix& matrix() const { return value_.matrix(); }

    cc2Vect mapPoint(const cc2Vect& p) const override { return value_.mapPoint(p); }
    bool isLinear() const override { return true; }
    // A copy of this transform, wherever p is.
    cc2XformLinear linearApprox(const cc2Vect& p) const override;
    // Linear other: a new cc2XformLinear. A polynomial: a copy of it with
    // this transform folded in as its last stage. Else a composition.
    ccPtrHandle<cc2XformBase> compose(const cc2XformBase& other) const override;
    ccPtrHandle<cc2XformBase> inverse() const override;
    ccPtrHandle<cc2XformBase> clone() const override;

    // Version byte, then serializeVersion with it.
    void archive(ccArchive& ar) override;
    // Version 0: the cc2XformBase level, translation, matrix.
    void serializeVersion(ccArchive& ar, uint8_t version) override;
    const char* storedTypeName() const override { return kStoredName; }

    // The process-wide identity, made at start-up and never released.
    static const ccPtrHandle_const<cc2XformLinear>& identity();
    // The allocator behind every heap cc2XformLinear; never destroyed, so
    // that transforms released late at exit still find it.
    static ccFixedSizeAllocator& allocator();

    static void* operator new(size_t size);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* block) noexcept;
    static void operator delete(void* block, const std::nothrow_t&) noexcept;

private:
    cc2Xform value_;
};
