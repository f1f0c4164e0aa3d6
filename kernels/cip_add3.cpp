#include "kernels/cip_add3.h"

#include <cmath>
#include <initializer_list>

#include "kernels/internal/cip_work.h"
#include "numeric/cip_geometry.h"

using cip_work::rowAt;

namespace {

// Table entries saturate at the 32-bit range and the sum is taken in 64 bits,
// so that large weights clamp instead of overflowing.
int64_t accumulate(const int32_t* tables, int32_t offsetTerm, uint8_t a, uint8_t b, uint8_t c)
{
    return static_cast<int64_t>(tables[a]) + tables[256 + b] + tables[512 + c] + offsetTerm;
}

} // namespace

csysStatus cip_pelAdd3Weighted8Kernel(int32_t width, int32_t height, const uint8_t* a, int32_t strideA,
                                      const uint8_t* b, int32_t strideB, const uint8_t* c, int32_t strideC,
                                      int32_t mode, double w0, double w1, double w2, double offset, uint8_t* out,
                                      int32_t strideOut)
{
    if (width < 0 || height < 0)
        return csysErrBadGeometry;
    if (strideA < width || strideB < width || strideC < width || strideOut < width)
        return csysErrBadGeometry;
    if (!std::isfinite(w0) || !std::isfinite(w1) || !std::isfinite(w2) || !std::isfinite(offset))
        return cipErrPelFuncBadParams;
    const bool computes = mode == 2 && width > 0 && height > 0;
    if (computes && (!a || !b || !c || !out))
        return csysErrNullArg;

    csys_cleanupStack<1> cleanup;
    uint8_t* block = nullptr;
    csysStatus status = cip_work::allocWork(cleanup, 3 * 256 * static_cast<int64_t>(sizeof(int32_t)), &block);
    if (status < 0)
        return cleanup.finish(status);
    int32_t* tables = reinterpret_cast<int32_t*>(block);
    const double weights[3] = {w0, w1, w2};
    for (int i = 0; i < 3; ++i)
        for (int v = 0; v < 256; ++v)
            tables[256 * i + v] = cip_work::roundSaturated(v * weights[i] * 256);
    const int32_t offsetTerm = cip_work::roundSaturated((offset + 0.5) * 256);

    if (computes) {
        for (int32_t y = 0; y < height; ++y) {
            const uint8_t* ra = rowAt(a, y, strideA);
            const uint8_t* rb = rowAt(b, y, strideB);
            const uint8_t* rc = rowAt(c, y, strideC);
            uint8_t* ro = rowAt(out, y, strideOut);
            for (int32_t x = 0; x < width; ++x) {
                const int64_t acc = accumulate(tables, offsetTerm, ra[x], rb[x], rc[x]);
                ro[x] = acc < 0 ? 0 : (acc >> 8) > 255 ? 255 : static_cast<uint8_t>(acc >> 8);
            }
        }
    }
    return cleanup.finish(csysOk);
}

namespace {

cip_Rect clientRect(const cip_ImageDesc& d)
{
    cip_Rect r;
    (void)cip_rectSet(&r, d.offsetX, d.offsetY, d.width, d.height); // r is not null
    return r;
}

bool isEmpty(const cip_Rect& r)
{
    int32_t empty = 1;
    (void)cip_rectIsEmpty(&r, &empty); // not null
    return empty != 0;
}

// The pel of an image at client point (x, y), which lies in its window.
uint8_t* pelAt(const cip_ImageDesc& d, int32_t x, int32_t y)
{
    const ptrdiff_t row = static_cast<ptrdiff_t>(y) - d.offsetY;
    const ptrdiff_t pel = row * d.storageStride + (static_cast<ptrdiff_t>(x) - d.offsetX);
    return static_cast<uint8_t*>(d.first) + pel * d.pelSize;
}

// The storage's first pel, from the window's first pel and position.
const uint8_t* storageOrigin(const cip_ImageDesc& d)
{
    const ptrdiff_t pel = static_cast<ptrdiff_t>(d.windowY) * d.storageStride + d.windowX;
    return static_cast<const uint8_t*>(d.first) - pel * d.pelSize;
}

// 0, or cipErrOverlapping when both lie on one storage and the common window
// covers some storage pel in both.
csysStatus overlapTest(const cip_ImageDesc& output, const cip_ImageDesc& input, const cip_Rect& common)
{
    if (storageOrigin(output) != storageOrigin(input))
        return csysOk;
    auto inStorage = [&](const cip_ImageDesc& d) {
        cip_Rect r;
        (void)cip_rectSet(&r, common.x - d.offsetX + d.windowX, common.y - d.offsetY + d.windowY, common.width,
                          common.height); // not null
        return r;
    };
    cip_Rect a = inStorage(output);
    const cip_Rect b = inStorage(input);
    (void)cip_rectIntersect(&a, &b); // not null
    return isEmpty(a) ? csysOk : cipErrOverlapping;
}

// The client rectangles of the three inputs and, when given, the output, intersected.
cip_Rect commonWindow(const cip_ImageDesc* inputs, const cip_ImageDesc* output)
{
    cip_Rect common = clientRect(output ? *output : inputs[0]);
    for (int i = 0; i < 3; ++i) {
        const cip_Rect r = clientRect(inputs[i]);
        (void)cip_rectIntersect(&common, &r); // not null
    }
    return common;
}

} // namespace

csysStatus cip_pelAdd3Weighted8(const cip_ImageDesc* first, const cip_ImageDesc* second, const cip_ImageDesc* third,
                                int32_t mode, double w0, double w1, double w2, double offset,
                                const cip_ImageDesc* output)
{
    if (!first || !second || !third || !output)
        return cipErrImageBadArg;
    const cip_ImageDesc* inputs[3] = {first, second, third};
    for (const cip_ImageDesc* d : inputs)
        if (!d->first)
            return cipErrNoStorage;
    if (!output->first)
        return cipErrImageBadArg;
    // Other pel sizes would be read and written as bytes.
    for (const cip_ImageDesc* d : {first, second, third, output})
        if (d->pelSize != 1)
            return cipErrImageBadArg;

    const cip_ImageDesc described[3] = {*first, *second, *third};
    const cip_Rect common = commonWindow(described, output);
    if (isEmpty(common))
        return csysOk;
    uint8_t* out = pelAt(*output, common.x, common.y);
    const uint8_t* pels[3];
    for (int i = 0; i < 3; ++i) {
        pels[i] = pelAt(*inputs[i], common.x, common.y);
        if (pels[i] != out) {
            const csysStatus status = overlapTest(*output, *inputs[i], common);
            if (status < 0)
                return status;
        }
    }
    auto stride = [](const cip_ImageDesc* d) { return d->storageStride; }; // 8-bit pels: bytes
    return cip_pelAdd3Weighted8Kernel(common.width, common.height, pels[0], stride(first), pels[1], stride(second),
                                      pels[2], stride(third), mode, w0, w1, w2, offset, out, stride(output));
}

csysStatus cip_pelAdd3Weighted8Image(const cip_Image* first, const cip_Image* second, const cip_Image* third,
                                     int32_t mode, double w0, double w1, double w2, double offset, cip_Image* output)
{
    if (!first || !second || !third || !output)
        return cipErrImageBadArg;
    const cip_Image* inputs[3] = {first, second, third};
    cip_ImageDesc described[3];
    for (int i = 0; i < 3; ++i) {
        int32_t has = 0;
        (void)cip_imageHasStorage(inputs[i], &has); // not null
        if (!has)
            return cipErrNoStorage;
    }
    for (int i = 0; i < 3; ++i) {
        const csysStatus status = cip_imageDescribe(&described[i], inputs[i]);
        if (status < 0)
            return status;
    }
    int32_t hasStorage = 0;
    (void)cip_imageHasStorage(output, &hasStorage); // not null
    // Only mode 2 computes: no storage is made that would stay unwritten.
    if (mode != 2 && !hasStorage)
        return csysOk;
    // A new output is made aside and given to the caller's record only on
    // success, so that a failure leaves the record as it was.
    cip_Image made;
    (void)cip_imageInit(&made); // not null
    cip_Image* target = output;
    if (!hasStorage) {
        const cip_Rect common = commonWindow(described, nullptr);
        if (isEmpty(common))
            return csysOk;
        const csysStatus status = cip_imageCreateAligned32(&made, described[0].pelSize, common.width, common.height);
        if (status < 0)
            return status;
        made.offsetX = common.x;
        made.offsetY = common.y;
        target = &made;
    }

    cip_ImageDesc out;
    csysStatus status = cip_imageDescribe(&out, target);
    if (status >= 0)
        status = cip_pelAdd3Weighted8(&described[0], &described[1], &described[2], mode, w0, w1, w2, offset, &out);
    if (status >= 0 && target == &made)
        status = cip_imageCopy(output, &made);
    if (status >= 0 && !isEmpty(commonWindow(described, &out)))
        status = csys_handleCopy(&output->xform, &first->xform);
    (void)cip_imageRelease(&made); // the output, when made, holds a reference of its own
    return status;
}
