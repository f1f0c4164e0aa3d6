#include "std/math/xfcip.h"

#include "std/except/status.h"
#include "std/math/xfcomposed.h"
#include "std/math/xflinear.h"

namespace {

// A handle slot of the engine that releases what it holds.
class EngineRef {
public:
    EngineRef() = default;
    ~EngineRef() { (void)csys_handleRelease(&slot_); } // a destructor drops a release error
    EngineRef(const EngineRef&) = delete;
    EngineRef& operator=(const EngineRef&) = delete;
    csys_handle* slot() { return &slot_; }

private:
    csys_handle slot_ = nullptr;
};

} // namespace

void cc2XformToCip(const ccPtrHandle_const<cc2XformBase>& x, csys_handle* slot)
{
    const cc2XformBase& xform = *x;
    if (const cc2XformLinear* linear = dynamic_cast<const cc2XformLinear*>(&xform)) {
        cip_Affine2 a;
        linear->value().get(a.tx, a.ty, a.a, a.b, a.c, a.d);
        ccThrowStatus(cip_xformCreateAffine(&a, slot));
        return;
    }
    if (const cc2XformComposed* composed = dynamic_cast<const cc2XformComposed*>(&xform)) {
        EngineRef first;
        EngineRef second;
        cc2XformToCip(composed->first(), first.slot());
        cc2XformToCip(composed->second(), second.slot());
        ccThrowStatus(cip_xformCreateComposed(first.slot(), second.slot(), slot));
        return;
    }
    throw cc2XformDefs::NotImplemented();
}

ccPtrHandle_const<cc2XformBase> cc2XformFromCip(const cip_Xform* xform)
{
    int32_t kind = 0;
    ccThrowStatus(cip_xformGetKind(xform, &kind));
    if (kind == cip_xformKindAffine) {
        cip_Affine2 a;
        ccThrowStatus(cip_xformGetAffine(xform, &a));
        return ccPtrHandle_const<cc2XformBase>(
            new cc2XformLinear(cc2Matrix(a.a, a.b, a.c, a.d), cc2Vect(a.tx, a.ty)));
    }
    if (kind == cip_xformKindComposed) {
        const cip_Xform* first = nullptr;
        const cip_Xform* second = nullptr;
        ccThrowStatus(cip_xformGetParts(xform, &first, &second));
        const ccPtrHandle_const<cc2XformBase> f = cc2XformFromCip(first);
        const ccPtrHandle_const<cc2XformBase> s = cc2XformFromCip(second);
        return ccPtrHandle_const<cc2XformBase>(new cc2XformComposed(*f, *s, false, false));
    }
    // Calibration, deformation and perspective objects are not made here.
    throw cc2XformDefs::NotImplemented();
}
