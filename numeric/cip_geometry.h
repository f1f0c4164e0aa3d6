// The numeric engine's geometry helpers that the kernel layer, the job system
// and the transform bridge call: element initialisers, integer rectangles,
// rounding, and the counted transform object cip_Xform.
//
// The signatures are fixed: the full geometry engine replaces the bodies
// without touching its callers. Every function that returns csysStatus gives
// 0x80000002 for a null required pointer.
#pragma once
#include <cstdint>

#include "system/csys_array.h"
#include "system/csys_handle.h"
#include "system/csys_status.h"

// The engine's affine transform: p maps to [a b; c d] p + (tx, ty).
struct cip_Affine2 {
    double tx;
    double ty;
    double a;
    double b;
    double c;
    double d;
};

// A range of values; flag 1 marks it unset.
struct cip_Range {
    int32_t flag;
    double low;
    double high;
};

// The same layout for angles in radians.
struct cip_AngleRange {
    int32_t flag;
    double low;
    double high;
};

// Integer rectangle of the kernel layer.
struct cip_Rect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// Kinds of transform object this engine makes.
enum : int32_t {
    cip_xformKindAffine = 1,
    cip_xformKindComposed = 2,
};

// A counted transform object: the counted-record header first, so that a
// csys_handle holds it; the record's payload is the object itself.
struct cip_Xform {
    csys_record record;
    int32_t kind;
    cip_Affine2 affine;  // cip_xformKindAffine
    csys_handle first;   // cip_xformKindComposed: first applied after second
    csys_handle second;
};

// ---- element initialisers ----

// Makes the reference empty without releasing what it held.
csysStatus cip_xformRefInit(csys_handle* slot);
// Offset (0, 0), matrix [1 0; 0 1].
csysStatus cip_affineSetIdentity(cip_Affine2* affine);
// Flag 1, low = high = minus infinity.
csysStatus cip_rangeInitUnset(cip_Range* range);
// Flag 1, low = high = minus pi.
csysStatus cip_angleRangeInitUnset(cip_AngleRange* range);

// Sets the element count, growing the array when needed.
csysStatus cip_arraySetSize(csys_array* array, int64_t count);

// ---- rectangles ----

csysStatus cip_rectSet(cip_Rect* rect, int32_t x, int32_t y, int32_t width, int32_t height);
// rect becomes the common part of both; when they share no pel it keeps the
// larger of the two origins with width and height 0.
csysStatus cip_rectIntersect(cip_Rect* rect, const cip_Rect* other);
// 1 when the rectangle covers no pel (width or height 0 or below), else 0.
csysStatus cip_rectIsEmpty(const cip_Rect* rect, int32_t* isEmpty);

// ---- numbers ----

// 1 when |a - b| < tolerance, else 0.
int32_t cip_nearlyEqual(double a, double b, double tolerance);
// Half away from zero (x + 0.5 or x - 0.5, then truncation). NaN and values
// outside the signed 32-bit range give INT32_MIN, as the processor's own
// conversion does.
int32_t cip_roundToInt(double x);
// The floor; NaN and out-of-range values give INT32_MIN.
int32_t cip_floorToInt(double x);
// The first when first < second (cip_minDouble) or first > second
// (cip_maxDouble), else the second.
double cip_minDouble(double first, double second);
double cip_maxDouble(double first, double second);

// ---- transform objects ----

// A new affine object in slot (what the slot held is released).
csysStatus cip_xformCreateAffine(const cip_Affine2* affine, csys_handle* slot);
// A new composition that maps through second, then first; both must hold an
// object (else 0x80000002). The composition keeps a reference to each.
csysStatus cip_xformCreateComposed(const csys_handle* first, const csys_handle* second, csys_handle* slot);
csysStatus cip_xformGetKind(const cip_Xform* xform, int32_t* kind);
// 0x80000000 when the object is not affine.
csysStatus cip_xformGetAffine(const cip_Xform* xform, cip_Affine2* affine);
// The two parts of a composition, borrowed (no reference is added);
// 0x80000000 when the object is not a composition.
csysStatus cip_xformGetParts(const cip_Xform* xform, const cip_Xform** first, const cip_Xform** second);
