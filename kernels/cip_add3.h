// Weighted sum of three 8-bit planes, over plain arrays (the kernel step) and
// over kernel-layer images: out = clamp(w0 a + w1 b + w2 c + offset) in 8-bit
// fixed point through three 256-entry tables (entry v = round half away from
// zero of v x wi x 256) and the offset term round((offset + 0.5) x 256).
#pragma once
#include <cstdint>

#include "kernels/cip_image.h"
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

// ---- over kernel-layer images ----

constexpr csysStatus cipErrNoStorage = csysMakeStatus(0x800003C3u);   // an input image holds no storage
constexpr csysStatus cipErrOverlapping = csysMakeStatus(0x800006A1u); // an input shares the output's pels elsewhere

// The weighted sum over the common window of three 8-bit images, in image
// (client) coordinates; the output's pels outside it are not touched. An
// output without storage is given 32-aligned storage over the inputs' common
// window; when the inputs do not meet it is left as it is and 0 returned. On
// success over a common window that is not empty, the output (whether it had
// storage or not) refers to the first input's transform. Checks, before any
// pel is written (storage made for the output is dropped again when one
// fails): null records (cipErrImageBadArg), each input's storage
// (cipErrNoStorage), windows inside their storages and 8-bit pels on all four
// images (cipErrImageBadArg), weights and offset as the kernel's, and
// overlap: an input may be the output only at the very same pels (else
// cipErrOverlapping). A mode other than 2 writes no pel and makes no storage.
// On failure the output is left as it was.
[[nodiscard]] csysStatus cip_pelAdd3Weighted8Image(const cip_Image* first, const cip_Image* second,
                                                   const cip_Image* third, int32_t mode, double w0, double w1,
                                                   double w2, double offset, cip_Image* output);

// The same over descriptions: the common window of all four, each image's
// first pel in it, the overlap checks, then the kernel. An empty common
// window returns 0 without work.
[[nodiscard]] csysStatus cip_pelAdd3Weighted8(const cip_ImageDesc* first, const cip_ImageDesc* second,
                                              const cip_ImageDesc* third, int32_t mode, double w0, double w1,
                                              double w2, double offset, const cip_ImageDesc* output);
