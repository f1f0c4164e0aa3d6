// Two transforms applied one after the other.
#pragma once
#include "std/math/xfbase.h"

class cc2XformComposed : public cc2XformBase {
public:
    static constexpr const char* kStoredName = "class cc2XformComposed";
    // The registry's factory: identity after identity, or null.
    static ccPersistent* cmCreate();

    // Identity after identity.
    cc2XformComposed();
    // Maps through second, then through first. A set flag keeps a clone of
    // that transform; a clear one shares it, so it must already be held by
    // a handle.
    cc2XformComposed(const cc2XformBase& first, const cc2XformBase& second, bool cloneFirst, bool cloneSecond);
    // Shares both parts, which never change.
    cc2XformComposed(const cc2XformComposed&) = default;
    cc2XformComposed& operator=(const cc2XformComposed&) = delete;

    const ccPtrHandle_const<cc2XformBase>& first() const { return first_; }
    const ccPtrHandle_const<cc2XformBase>& second() const { return second_; }

    cc2Vect mapPoint(const cc2Vect& p) const override;
    bool isLinear() const override;
    // First's approximation at second(p) after second's at p.
    cc2XformLinear linearApprox(const cc2Vect& p) const override;
    ccPtrHandle<cc2XformBase> inverse() const override;
    ccPtrHandle<cc2XformBase> clone() const override;

    // The stored form belongs to the geometry engine: raises
    // cc2XformDefs::NotImplemented.
    void archive(ccArchive& ar) override;
    void serializeVersion(ccArchive& ar, uint8_t version) override;
    const char* storedTypeName() const override { return kStoredName; }

private:
    ccPtrHandle_const<cc2XformBase> first_;
    ccPtrHandle_const<cc2XformBase> second_;
};
