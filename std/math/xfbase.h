// The 2-D transform interface: a mapping between a pel buffer's image
// coordinates and its client's coordinates. Transforms are shared through
// ccPtrHandle/ccPtrHandle_const and are not changed once shared.
#pragma once
#include <cstdint>

#include "std/except/except.h"
#include "std/except/persistent.h"
#include "std/math/vector.h"
#include "std/ptrhandle.h"
#include "system/csys_status.h"

class ccArchive;
class cc2XformLinear;

namespace cc2XformDefs {
cmDeclareErrorFamily(Errors, ccException, "class cc2XformDefs::Errors");
cmDeclareException(NotImplemented, Errors, 0x10000F30u, "class cc2XformDefs::NotImplemented");
} // namespace cc2XformDefs

class cc2XformBase : public virtual ccPersistent, public ccRepBase {
public:
    cc2XformBase() = default;
    cc2XformBase(const cc2XformBase&) = default;
    cc2XformBase& operator=(const cc2XformBase&) = default;
    ~cc2XformBase() override = default;

    // This level: version byte 0, then the ccPersistent level.
    void archive(ccArchive& ar) override;

    virtual cc2Vect mapPoint(const cc2Vect& p) const = 0;
    virtual bool isLinear() const = 0;
    // The linear transform that best approximates this one about p.
    virtual cc2XformLinear linearApprox(const cc2Vect& p) const = 0;
    // This transform applied after other, as a new transform. Here: a
    // cc2XformComposed of copies of the two.
    virtual ccPtrHandle<cc2XformBase> compose(const cc2XformBase& other) const;
    virtual ccPtrHandle<cc2XformBase> inverse() const = 0;
    virtual ccPtrHandle<cc2XformBase> clone() const = 0;
    // The class's fields for an archive version the class has read.
    virtual void serializeVersion(ccArchive& ar, uint8_t version) = 0;

    const char* storedTypeName() const override { return "class cc2XformBase"; }
};

// Thrower of facility 44 (2-D transforms): numeric, transform, deformation
// and calibration errors.
void cc2XformStatusThrower(csysStatus status);
