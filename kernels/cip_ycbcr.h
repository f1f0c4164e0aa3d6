// Packed YCbCr camera formats (UYV 4:4:4, UYVY 4:2:2, UYYVYY 4:1:1) into R, G,
// B planes or into one grey plane (BT.601, luma from 16, 13-bit fixed point),
// and the split of packed 3-byte pels into three planes.
//
// width counts SOURCE bytes per row; only bytes within it are read. Output
// pels per row: width / 3 (UYV, packed 24-bit), width / 2 (UYVY),
// 4 x (width / 6) for UYYVYY colour and 2 x width / 3 for UYYVYY grey.
// The destination stride must reach the output width (2 x width / 3 for both
// UYYVYY conversions). Checks: width, height, strides, in that order, then
// the pointers (csysErrNullArg). A row too short for one whole colour pel
// (UYVY: two bytes, without a V) writes nothing. Rows of 16 pels or more run
// an SSE2 kernel when the processor has SSE2; it gives the plain kernel's
// bytes.
#pragma once
#include <cstdint>

#include "kernels/cip_status.h"

[[nodiscard]] csysStatus cip_convertUYVToRGBTyped(int32_t width, int32_t height, const uint8_t* source,
                                                  int32_t sourceStride, uint8_t* red, uint8_t* green, uint8_t* blue,
                                                  int32_t destinationStride);
[[nodiscard]] csysStatus cip_convertUYVToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                                        int32_t sourceStride, uint8_t* destination,
                                                        int32_t destinationStride);

[[nodiscard]] csysStatus cip_convertUYVYToRGBTyped(int32_t width, int32_t height, const uint8_t* source,
                                                   int32_t sourceStride, uint8_t* red, uint8_t* green, uint8_t* blue,
                                                   int32_t destinationStride);
[[nodiscard]] csysStatus cip_convertUYVYToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                                         int32_t sourceStride, uint8_t* destination,
                                                         int32_t destinationStride);

[[nodiscard]] csysStatus cip_convertUYYVYYToRGBTyped(int32_t width, int32_t height, const uint8_t* source,
                                                     int32_t sourceStride, uint8_t* red, uint8_t* green,
                                                     uint8_t* blue, int32_t destinationStride);
[[nodiscard]] csysStatus cip_convertUYYVYYToGreyscaleTyped(int32_t width, int32_t height, const uint8_t* source,
                                                           int32_t sourceStride, uint8_t* destination,
                                                           int32_t destinationStride);

// Byte 0 of each pel to the first plane, byte 1 to the second, byte 2 to the third.
[[nodiscard]] csysStatus cip_convertPacked24ToPlanesTyped(int32_t width, int32_t height, const uint8_t* source,
                                                          int32_t sourceStride, uint8_t* first, uint8_t* second,
                                                          uint8_t* third, int32_t destinationStride);
