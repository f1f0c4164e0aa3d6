// Conversions between class-library transforms and the numeric engine's
// counted transform objects, for kernel-layer images.
#pragma once
#include "numeric/cip_geometry.h"
#include "std/math/xfbase.h"

// Puts x's engine form into slot (what the slot held is released): a
// cc2XformLinear becomes an affine object, a cc2XformComposed a composition
// of its converted parts. Any other transform has no engine form here and
// raises cc2XformDefs::NotImplemented; an empty handle raises ccBadPointer;
// engine statuses are thrown through ccThrowStatus.
void cc2XformToCip(const ccPtrHandle_const<cc2XformBase>& x, csys_handle* slot);

// The class-library transform of an engine object, by its kind: affine to
// cc2XformLinear, composition to cc2XformComposed of converted parts; any
// other kind raises cc2XformDefs::NotImplemented. A null object's status is
// thrown through ccThrowStatus.
ccPtrHandle_const<cc2XformBase> cc2XformFromCip(const cip_Xform* xform);
