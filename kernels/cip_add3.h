// Weighted sum of three 8-bit planes, the kernel step over plain arrays:
// out = clamp(w0 a + w1 b + w2 c + offset) in 8-bit fixed point through three
// 256-entry tables (entry v = round half away from zero of v x wi x 256) and
// the offset term round((offset + 0.5) x 256).
#pragma once
#include <cstdint>

#include "kernels/cip_status.h"

// Only mode 2 computes; any other mode writes nothing and returns 0. Checks
// before anything is touched: a negative width or height, or a stride shorter
// than the width, gives csysErrBadGeometry; a weight or offset that is not
// finite cipErrPelFuncBadParams; a null pointer, when pels are to be made,
// csysErrNullArg. Only width bytes of each row are touched. Table entries
// saturate at the 32-bit range, so huge weights clamp instead of wrapping.
// The output may be one of the inputs at the same pels.
[[nodiscard]] csysStatus cip_pelAdd3Weighted8Kernel(int32_t width, int32_t height, const uint8_t* a, int32_t strideA,
                                                    const uint8_t* b, int32_t strideB, const uint8_t* c,
                                                    int32_t strideC, int32_t mode, double w0, double w1, double w2,
                                                    double offset, uint8_t* out, int32_t strideOut);
