// The AVX2 kernels of pelconvert.cpp. Plain declarations only: the kernels'
// file is compiled with -mavx2, and anything inline it shared could reach a
// processor without AVX2.
#pragma once
#include <cstddef>
#include <cstdint>

namespace pelconvert_avx2 {

// A window of 32-bit pels to grey, with greyKernel's fixed point: the red and
// blue weights as the 16-bit pair (red << 16 | blue), the green weight, the
// offset, all scaled by 2^shift.
struct GreyJob {
    const void* source;
    ptrdiff_t sourceStride; // bytes between rows
    unsigned char* out;
    ptrdiff_t outStride;
    int32_t width; // a multiple of 4, at least 8
    int32_t height;
    int32_t blueRed;
    int32_t green;
    int32_t offset;
    int32_t shift;
};

// Byte for byte what the SSE2 grey kernel writes.
void grey(const GreyJob& job);

} // namespace pelconvert_avx2
