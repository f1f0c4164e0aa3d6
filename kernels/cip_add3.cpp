#include "kernels/cip_add3.h"

#include <cmath>

#include "kernels/internal/cip_work.h"

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
