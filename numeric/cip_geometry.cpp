#include "numeric/cip_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "system/csys_memory.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Bounds of the values whose truncation fits a signed 32-bit integer.
constexpr double kAboveInt32 = 2147483648.0;
constexpr double kBelowInt32 = -2147483649.0;

int32_t clampToInt32(int64_t v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

// ---- the counted transform record ----

// A composition holds references to its parts: release them with the object.
csysStatus releaseXform(void* payloadField, int32_t)
{
    cip_Xform* x = *static_cast<cip_Xform**>(payloadField);
    csysStatus first = csys_handleRelease(&x->first);
    csysStatus second = csys_handleRelease(&x->second);
    csysStatus freed = csys_cleanupFree(payloadField);
    if (first < 0)
        return first;
    return second < 0 ? second : freed;
}

csysStatus addXformRef(int32_t* count, int32_t* newCount, void*, int32_t)
{
    return csys_atomicIncrement(count, newCount);
}

csysStatus dropXformRef(int32_t* count, int32_t* newCount, void*, int32_t)
{
    return csys_atomicDecrement(count, newCount);
}

const csys_recordFunctions kXformFunctions = {&releaseXform, &addXformRef, &dropXformRef};
const csys_typeDescription kXformType = {0, nullptr, &kXformFunctions};

// A zeroed object of the kind, not yet held by any slot.
csysStatus newXform(int32_t kind, cip_Xform** out)
{
    void* block = nullptr;
    csysStatus st = csys_allocZeroed(static_cast<int32_t>(sizeof(cip_Xform)), &block);
    if (st < 0)
        return st;
    cip_Xform* x = static_cast<cip_Xform*>(block);
    st = csys_handleInitTyped(&x->record, x, &kXformType);
    if (st < 0) {
        (void)csys_free(&block); // the slot exists: cannot fail
        return st;
    }
    x->kind = kind;
    *out = x;
    return csysOk;
}

// Hands a new object to the slot; on failure the object is freed.
csysStatus install(cip_Xform* x, csys_handle* slot)
{
    csysStatus st = csys_handleAssign(slot, &x->record);
    if (st < 0) {
        // The slot did not take it; make it counted once so that the release
        // path frees it and its parts.
        csys_handle own = nullptr;
        (void)csys_handleAttach(&own, &x->record); // default counts: cannot fail
        (void)csys_handleRelease(&own);            // st is the failure to report
    }
    return st;
}

} // namespace

// ---- element initialisers ----

csysStatus cip_xformRefInit(csys_handle* slot) { return csys_handleAttach(slot, nullptr); }

csysStatus cip_affineSetIdentity(cip_Affine2* affine)
{
    if (!affine)
        return csysErrNullArg;
    *affine = cip_Affine2{0.0, 0.0, 1.0, 0.0, 0.0, 1.0};
    return csysOk;
}

csysStatus cip_rangeInitUnset(cip_Range* range)
{
    if (!range)
        return csysErrNullArg;
    range->flag = 1;
    range->low = range->high = -std::numeric_limits<double>::infinity();
    return csysOk;
}

csysStatus cip_angleRangeInitUnset(cip_AngleRange* range)
{
    if (!range)
        return csysErrNullArg;
    range->flag = 1;
    range->low = range->high = -kPi;
    return csysOk;
}

csysStatus cip_arraySetSize(csys_array* array, int64_t count) { return csys_arrayResize(array, count); }

// ---- rectangles ----

csysStatus cip_rectSet(cip_Rect* rect, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (!rect)
        return csysErrNullArg;
    *rect = cip_Rect{x, y, width, height};
    return csysOk;
}

csysStatus cip_rectIntersect(cip_Rect* rect, const cip_Rect* other)
{
    if (!rect || !other)
        return csysErrNullArg;
    // Far edges in 64 bits: x + width may pass the 32-bit range.
    const int64_t x0 = std::max<int64_t>(rect->x, other->x);
    const int64_t y0 = std::max<int64_t>(rect->y, other->y);
    const int64_t x1 = std::min(int64_t{rect->x} + rect->width, int64_t{other->x} + other->width);
    const int64_t y1 = std::min(int64_t{rect->y} + rect->height, int64_t{other->y} + other->height);
    rect->x = static_cast<int32_t>(x0);
    rect->y = static_cast<int32_t>(y0);
    if (x1 <= x0 || y1 <= y0) {
        rect->width = rect->height = 0;
    } else {
        rect->width = clampToInt32(x1 - x0);
        rect->height = clampToInt32(y1 - y0);
    }
    return csysOk;
}

csysStatus cip_rectIsEmpty(const cip_Rect* rect, int32_t* isEmpty)
{
    if (!rect || !isEmpty)
        return csysErrNullArg;
    *isEmpty = rect->width <= 0 || rect->height <= 0 ? 1 : 0;
    return csysOk;
}

// ---- numbers ----

int32_t cip_nearlyEqual(double a, double b, double tolerance) { return std::fabs(a - b) < tolerance ? 1 : 0; }

int32_t cip_roundToInt(double x)
{
    const double v = x >= 0 ? x + 0.5 : x - 0.5;
    // Written so that NaN fails the test too.
    if (!(v > kBelowInt32 && v < kAboveInt32))
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

int32_t cip_floorToInt(double x)
{
    const double f = std::floor(x);
    if (!(f > kBelowInt32 && f < kAboveInt32))
        return INT32_MIN;
    return static_cast<int32_t>(f);
}

double cip_minDouble(double first, double second) { return first < second ? first : second; }

double cip_maxDouble(double first, double second) { return first > second ? first : second; }

// ---- transform objects ----

csysStatus cip_xformCreateAffine(const cip_Affine2* affine, csys_handle* slot)
{
    if (!affine || !slot)
        return csysErrNullArg;
    cip_Xform* x = nullptr;
    csysStatus st = newXform(cip_xformKindAffine, &x);
    if (st < 0)
        return st;
    x->affine = *affine;
    return install(x, slot);
}

csysStatus cip_xformCreateComposed(const csys_handle* first, const csys_handle* second, csys_handle* slot)
{
    if (!first || !second || !slot || !*first || !*second)
        return csysErrNullArg;
    cip_Xform* x = nullptr;
    csysStatus st = newXform(cip_xformKindComposed, &x);
    if (st < 0)
        return st;
    // Attaching only adds references; it cannot fail with the default counts.
    (void)csys_handleAttach(&x->first, *first);
    (void)csys_handleAttach(&x->second, *second);
    return install(x, slot);
}

csysStatus cip_xformGetKind(const cip_Xform* xform, int32_t* kind)
{
    if (!xform || !kind)
        return csysErrNullArg;
    *kind = xform->kind;
    return csysOk;
}

csysStatus cip_xformGetAffine(const cip_Xform* xform, cip_Affine2* affine)
{
    if (!xform || !affine)
        return csysErrNullArg;
    if (xform->kind != cip_xformKindAffine)
        return csysErrFail;
    *affine = xform->affine;
    return csysOk;
}

csysStatus cip_xformGetParts(const cip_Xform* xform, const cip_Xform** first, const cip_Xform** second)
{
    if (!xform || !first || !second)
        return csysErrNullArg;
    if (xform->kind != cip_xformKindComposed)
        return csysErrFail;
    *first = static_cast<const cip_Xform*>(xform->first->payload);
    *second = static_cast<const cip_Xform*>(xform->second->payload);
    return csysOk;
}
