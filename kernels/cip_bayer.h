// Bayer demosaicing: an 8-bit mosaic (one colour sample per pel in a 2 x 2
// pattern) into three 8-bit planes, or into one grey plane with three colour
// weights.
//
// At phase 0, even rows sample the first colour at odd columns and the second
// colour at even ones; odd rows the third colour at even columns and the second
// at odd ones. Phase 1 swaps the column roles, 2 the row roles, 3 both.
// Images are plain arrays: width in pels, height in rows, strides in bytes;
// the planes share one stride. Arguments are checked before anything is
// touched: width, height, strides, then (grey) each weight, their sum, the
// phase, then the pointers (csysErrNullArg). Nothing between the width and
// the stride is read or written. A single column gives both its row's colours
// its one sample; a single row gives the colour it does not sample the
// values of the second colour.
//
// Widths that are multiples of 8 from 16 on (for colour, from 4 rows on)
// run an SSE2 kernel when the processor has SSE; it gives the plain kernel's
// bytes, and any other shape runs the plain kernel.
#pragma once
#include <cstdint>

#include "kernels/cip_status.h"

// Phase 0 into three planes (first, second, third colour).
[[nodiscard]] csysStatus cip_convertBayer8ToRGBTyped(int32_t width, int32_t height, const uint8_t* source,
                                                     int32_t sourceStride, uint8_t* first, uint8_t* second,
                                                     uint8_t* third, int32_t destinationStride);

// One grey plane: (f W1 + g W2 + t W3) >> 8 with Wi = floor(weight i x 256 + 0.5).
// Weights must be >= 0 and sum to 1.
[[nodiscard]] csysStatus cip_convertBayer8ToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                                           int32_t sourceStride, int32_t phase, double weight1,
                                                           double weight2, double weight3, uint8_t* destination,
                                                           int32_t destinationStride);

// The same at phase 0.
[[nodiscard]] csysStatus cip_convertBayer8ToGreyscale(int32_t width, int32_t height, const uint8_t* source,
                                                      int32_t sourceStride, double weight1, double weight2,
                                                      double weight3, uint8_t* destination,
                                                      int32_t destinationStride);
