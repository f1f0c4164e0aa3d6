// The YCbCr conversions' fixed point, shared by every twin of a kernel:
// constants only, so that the AVX2 file may include it.
#pragma once
#include <cstdint>

namespace cip_ycbcr {

// 13 fractional bits, each the rounded product with 8192.
struct Coefficients {
    int32_t cy, crv, cgv, cgu, cbu;
};
constexpr Coefficients kFull{9535, 13074, -6660, -3203, 16531};   // 1.164, 1.596, -0.813, -0.391, 2.018
constexpr Coefficients kHalved{9535, 6537, -3330, -1602, 8266};   // chroma of two neighbours summed
constexpr Coefficients kQuartered{9535, 3269, -1665, -801, 4133}; // chroma sums of weight 4

// What each channel's sum adds: 16 off Y and 128 off each chroma (at full
// weight, whatever the coefficients), and half of 2^13 to round.
constexpr int32_t kOffsetR = 4096 - 16 * kFull.cy - 128 * kFull.crv;
constexpr int32_t kOffsetG = 4096 - 16 * kFull.cy - 128 * kFull.cgu - 128 * kFull.cgv;
constexpr int32_t kOffsetB = 4096 - 16 * kFull.cy - 128 * kFull.cbu;

// The grey table as max(0, Y x 149 - 2321) >> 7 saturated at 255: the
// formula gives every entry, so the fast steps write the table's bytes.
constexpr int kGreyFactor = 149, kGreyBias = 2321, kGreyShift = 7;

} // namespace cip_ycbcr
