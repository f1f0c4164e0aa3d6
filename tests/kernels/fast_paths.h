// The plain, the SSE2 and the AVX2 path of a conversion, forced in turn
// through the processor description (AVX2 only where the processor has it),
// compared bit for bit on every small shape, row start alignment and stride,
// with guard bytes around every buffer.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <vector>

#include "kernels/cip_kernels_testing.h"
#include "tests/support/forced_cpu.h"

namespace kernel_test {

// Rows of width bytes, stride apart, the first `shift` bytes past a 16-byte
// boundary (the heap aligns blocks to 16), after 32 guard bytes and before
// `tail` of them; with no tail the block ends with the last row, so that
// AddressSanitizer sees a read past it. Every byte random at first, so that
// two buffers of one seed start alike.
class Fenced {
public:
    Fenced(int32_t width, int32_t height, int32_t stride, int32_t shift, uint32_t seed, int32_t tail = 32)
        : width_(width), height_(height), stride_(stride),
          bytes_(32 + shift + size_t(height - 1) * stride + width + tail), first_(32 + shift)
    {
        uint32_t x = seed * 2654435761u + 1;
        for (uint8_t& b : bytes_) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b = uint8_t(x >> 24);
        }
        initial_ = bytes_;
    }
    uint8_t* p() { return bytes_.data() + first_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    bool unchanged() const { return bytes_ == initial_; }
    // Every byte outside the rows as it was.
    bool fenceKept() const
    {
        auto same = [&](size_t from, size_t to) {
            return std::equal(bytes_.begin() + from, bytes_.begin() + to, initial_.begin() + from);
        };
        size_t at = 0;
        for (int32_t y = 0; y < height_; ++y) {
            const size_t row = first_ + size_t(y) * stride_;
            if (!same(at, row))
                return false;
            at = row + width_;
        }
        return same(at, bytes_.size());
    }

private:
    int32_t width_, height_, stride_;
    std::vector<uint8_t> bytes_, initial_;
    size_t first_;
};

struct Conversion {
    const char* name;
    int planes;                               // destinations written
    bool wide;                                // has an AVX2 kernel
    std::function<int32_t(int32_t)> pels;     // destination row width for a source width
    std::function<bool(int32_t, int32_t)> fast; // shapes the fast kernel serves
    std::function<csysStatus(int32_t w, int32_t h, const uint8_t* s, int32_t ss, uint8_t* const d[3], int32_t ds)>
        run;
    int32_t (*minStride)(int32_t) = nullptr; // when the stride must reach beyond the pels
};

enum class Path { plain, sse2, avx2 };

// Only MMX (the fast kernels decline), SSE2 and below, or AVX2 too.
struct ForcedPath : forced_cpu::ForcedCpu {
    explicit ForcedPath(Path path)
        : ForcedCpu(path == Path::plain ? uint32_t{csysCpuMmx} : uint32_t{csysCpuMmx | csysCpuSse | csysCpuSse2},
                    path == Path::avx2)
    {
    }
};

// The paths this processor can take; without AVX2 a note says once that
// those kernels are not compared.
inline std::vector<Path> paths()
{
    bool avx2 = false;
    EXPECT_EQ(csys_cpuHasAvx2(&avx2), csysOk);
    if (avx2)
        return {Path::plain, Path::sse2, Path::avx2};
    static const bool noted = [] {
        std::printf("[   NOTE   ] no AVX2 here: its kernels are not compared\n");
        return true;
    }();
    (void)noted;
    return {Path::plain, Path::sse2};
}

// Widths 1..maxWidth, strides a few bytes past the rows; up to kEveryShape
// bytes heights 1..5 and row starts 0..15 bytes past a 16-byte boundary,
// wider (only the longer rows' step counts and tails are new there) heights
// 1..2 and two row starts, so that the test stays well under a second.
constexpr int32_t kEveryShape = 136;
inline void expectPathsAlike(const Conversion& c, int32_t maxWidth)
{
    for (int32_t w = 1; w <= maxWidth; ++w)
        for (int32_t h = 1; h <= (w <= kEveryShape ? 5 : 2); ++h)
            for (int32_t shift = 0; shift < 16; shift += w <= kEveryShape ? 1 : 9) {
                const int32_t ss = w + (h + shift) % 7, n = c.pels(w);
                const int32_t ds = (c.minStride ? c.minStride(w) : n) + shift % 3 + 1;
                std::vector<uint8_t> result[3][3];
                for (const Path p : paths()) {
                    const ForcedPath path(p);
                    const int at = static_cast<int>(p);
                    Fenced s(w, h, ss, shift, 1u + w, 0), d[3] = {{n, h, ds, (shift + 5) % 16, 2u + h},
                                                                  {n, h, ds, (shift + 7) % 16, 3u + h},
                                                                  {n, h, ds, shift, 4u + h}};
                    uint8_t* planes[3] = {d[0].p(), d[1].p(), d[2].p()};
                    const uint64_t served = cip_fastKernelCalls(), wide = cip_wideKernelCalls();
                    ASSERT_EQ(c.run(w, h, s.p(), ss, planes, ds), csysOk) << c.name << " " << w << "x" << h;
                    const bool fast = p != Path::plain && c.fast(w, h);
                    EXPECT_EQ(cip_fastKernelCalls() - served, uint64_t(fast)) << c.name << " " << w << "x" << h;
                    EXPECT_EQ(cip_wideKernelCalls() - wide, uint64_t(fast && c.wide && p == Path::avx2))
                        << c.name << " " << w << "x" << h;
                    EXPECT_TRUE(s.unchanged()) << c.name;
                    for (int k = 0; k < c.planes; ++k) {
                        EXPECT_TRUE(d[k].fenceKept()) << c.name << " " << w << "x" << h << " plane " << k;
                        result[at][k] = d[k].bytes();
                    }
                }
                for (int k = 0; k < c.planes; ++k)
                    for (size_t at = 1; at < paths().size(); ++at)
                        ASSERT_EQ(result[0][k], result[at][k])
                            << c.name << " " << w << "x" << h << " shift " << shift << " path " << at;
            }
}

} // namespace kernel_test
