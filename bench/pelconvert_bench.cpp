// The packed colour conversions on one 1920 x 1080 frame, in pels per
// second: each conversion's plain loop, then its SSE2 kernel (and for grey
// the widest the processor takes, `fast`: AVX2 where offered), then, where
// libyuv was found at configure time, libyuv's closest conversion on the same
// pels. libyuv's "ARGB" is our packed 32-bit pel (byte 0 blue, 3 the fourth
// value); libyuv picks its own widest kernels (AVX2 where present).
// libyuv's headers come with Debian's libyuv-dev.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQORX_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_pelconvert
//   build-bench/bench/bench_pelconvert
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench/frame_bench.h"
#include "std/pelbuf/pelbuf.h"
#include "std/pelbuf/pelconvert_testing.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/startup.h"

#ifdef QORX_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace {

using frame_bench::kHeight;
using frame_bench::kPels;
using frame_bench::kWidth;
using frame_bench::Path;

typedef unsigned char Byte;

void set(Byte& pel, uint32_t bits) { pel = static_cast<Byte>(bits >> 8); }
template <class Packed>
void set(Packed& pel, uint32_t bits)
{
    pel.value = static_cast<decltype(pel.value)>(bits);
}

// Every pel of the frame from the sequence that seed starts.
template <class T>
void fill(ccPelBuffer<T>& buffer, uint32_t seed)
{
    uint32_t x = seed;
    for (int32_t y = 0; y < kHeight; ++y) {
        T* row = buffer.row(y);
        for (int32_t i = 0; i < kWidth; ++i)
            set(row[i], frame_bench::next(x));
    }
}

// The three planes and the packed frame the conversions read, and the
// buffers they write in place.
struct Frame {
    Frame()
    {
        fill(red, 1);
        fill(green, 2);
        fill(blue, 3);
        fill(packed, 4);
    }
    ccPelBuffer<Byte> red{kWidth, kHeight, 32}, green{kWidth, kHeight, 32}, blue{kWidth, kHeight, 32};
    ccPelBuffer<ccPackedRGB32Pel> packed{kWidth, kHeight, 32};
    ccPelBuffer<ccPackedRGB16Pel> out16{kWidth, kHeight, 32};
    ccPelBuffer<ccPackedRGB32Pel> out32{kWidth, kHeight, 32};
    ccPelBuffer<Byte> outRed{kWidth, kHeight, 32}, outGreen{kWidth, kHeight, 32}, outBlue{kWidth, kHeight, 32};
    ccPelBuffer<Byte> grey{kWidth, kHeight, 32};
};

Frame& frame()
{
    static Frame f;
    return f;
}

// The bytes between rows of a buffer, as libyuv takes them.
template <class T>
int byteStride(const ccPelBuffer<T>& b)
{
    return static_cast<int>(b.typedRoot().stride() * static_cast<int32_t>(sizeof(T)));
}

// The path every conversion takes, for the life of the object: the merges
// follow the effective processor description (no SSE: plain loops), the split
// and grey conversions the kernel seam.
class Kernels {
public:
    explicit Kernels(Path path) : processor_(path)
    {
        ccPelConvertForceKernels(path == Path::plain ? ccPelConvertKernels::plain : ccPelConvertKernels::fast);
    }
    ~Kernels() { ccPelConvertForceKernels(ccPelConvertKernels::asked); }

private:
    frame_bench::Processor processor_;
};

// Runs one conversion per iteration; a destination that does not stay the
// same pels means the conversion allocated, which is not what is measured.
template <class T, class Body>
void run(benchmark::State& state, ccPelBuffer<T>& destination, Body body)
{
    const T* before = destination.windowStart();
    for (auto _ : state) {
        body();
        benchmark::ClobberMemory();
    }
    if (destination.windowStart() != before)
        state.SkipWithError("the destination was not written in place");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPels);
}

void mergeRGB16(benchmark::State& state, Path path)
{
    Frame& f = frame();
    Kernels kernels(path);
    run(state, f.out16, [&] { ccPelFunc::mergePlanesToPackedRGB16(f.red, f.green, f.blue, f.out16); });
}

void mergeRGB32(benchmark::State& state, Path path)
{
    Frame& f = frame();
    Kernels kernels(path);
    run(state, f.out32,
        [&] { ccPelFunc::mergePlanesToPackedRGB32(f.red, f.green, f.blue, f.out32, 0xFF); });
}

void split(benchmark::State& state, Path path)
{
    Frame& f = frame();
    Kernels kernels(path);
    run(state, f.outRed,
        [&] { ccPelFunc::splitPackedRGB32ToPlanes(f.packed, &f.outRed, &f.outGreen, &f.outBlue); });
}

// Full-range luma weights: the fixed-point kernel.
void grey(benchmark::State& state, Path path)
{
    Frame& f = frame();
    Kernels kernels(path);
    run(state, f.grey, [&] { ccPelFunc::packedRGB32ToGrey(f.packed, 0.299, 0.587, 0.114, f.grey); });
}

// Studio-range luma: 16 + 0.257 R + 0.504 G + 0.098 B.
void greyWeighted(benchmark::State& state, Path path)
{
    Frame& f = frame();
    Kernels kernels(path);
    run(state, f.grey,
        [&] { ccPelFunc::packedRGB32ToGreyWeighted(f.packed, 0.257, 0.504, 0.098, 16.0, f.grey); });
}

BENCHMARK_CAPTURE(mergeRGB16, plain, Path::plain);
BENCHMARK_CAPTURE(mergeRGB16, fast, Path::fast);
#ifdef QORX_HAVE_LIBYUV
// libyuv has no planes-to-RGB565 conversion: MergeARGBPlane (no alpha plane,
// so the fourth byte is 255) into one row kept in cache, then ARGBToRGB565
// (truncating, undithered, as ours), row by row. Two passes where ours is one.
void mergeRGB16_libyuv(benchmark::State& state)
{
    Frame& f = frame();
    std::vector<uint8_t> argb(size_t{kWidth} * 4);
    const Byte* planes[3] = {f.red.windowStart(), f.green.windowStart(), f.blue.windowStart()};
    const int planeStride = byteStride(f.red);
    uint8_t* out = reinterpret_cast<uint8_t*>(f.out16.windowStart());
    const int outStride = byteStride(f.out16);
    run(state, f.out16, [&] {
        for (int32_t y = 0; y < kHeight; ++y) {
            const ptrdiff_t at = ptrdiff_t{y} * planeStride;
            libyuv::MergeARGBPlane(planes[0] + at, 0, planes[1] + at, 0, planes[2] + at, 0, nullptr, 0, argb.data(),
                                   0, kWidth, 1);
            libyuv::ARGBToRGB565(argb.data(), 0, out + ptrdiff_t{y} * outStride, 0, kWidth, 1);
        }
    });
}
BENCHMARK(mergeRGB16_libyuv);
#endif

BENCHMARK_CAPTURE(mergeRGB32, plain, Path::plain);
BENCHMARK_CAPTURE(mergeRGB32, fast, Path::fast);
#ifdef QORX_HAVE_LIBYUV
// MergeARGBPlane with no alpha plane: the fourth byte is 255, as asked of ours.
void mergeRGB32_libyuv(benchmark::State& state)
{
    Frame& f = frame();
    uint8_t* out = reinterpret_cast<uint8_t*>(f.out32.windowStart());
    run(state, f.out32, [&] {
        libyuv::MergeARGBPlane(f.red.windowStart(), byteStride(f.red), f.green.windowStart(), byteStride(f.green),
                               f.blue.windowStart(), byteStride(f.blue), nullptr, 0, out, byteStride(f.out32), kWidth,
                               kHeight);
    });
}
BENCHMARK(mergeRGB32_libyuv);
#endif

BENCHMARK_CAPTURE(split, plain, Path::plain);
BENCHMARK_CAPTURE(split, fast, Path::fast);
#ifdef QORX_HAVE_LIBYUV
// SplitARGBPlane with no alpha plane: the same three planes.
void split_libyuv(benchmark::State& state)
{
    Frame& f = frame();
    const uint8_t* in = reinterpret_cast<const uint8_t*>(f.packed.windowStart());
    run(state, f.outRed, [&] {
        libyuv::SplitARGBPlane(in, byteStride(f.packed), f.outRed.windowStart(), byteStride(f.outRed),
                               f.outGreen.windowStart(), byteStride(f.outGreen), f.outBlue.windowStart(),
                               byteStride(f.outBlue), nullptr, 0, kWidth, kHeight);
    });
}
BENCHMARK(split_libyuv);
#endif

BENCHMARK_CAPTURE(grey, plain, Path::plain);
BENCHMARK_CAPTURE(grey, sse2, Path::sse2);
BENCHMARK_CAPTURE(grey, fast, Path::fast);
#ifdef QORX_HAVE_LIBYUV
// libyuv's luma in 8-bit fixed point, rounded; ours has 14-bit weights and
// drops the fraction, so its grey is equal or one below.
void grey_libyuv(benchmark::State& state, int (*toGrey)(const uint8_t*, int, uint8_t*, int, int, int))
{
    Frame& f = frame();
    const uint8_t* in = reinterpret_cast<const uint8_t*>(f.packed.windowStart());
    run(state, f.grey,
        [&] { (void)toGrey(in, byteStride(f.packed), f.grey.windowStart(), byteStride(f.grey), kWidth, kHeight); });
}
// ARGBToJ400 ("JPeg full range"): the same full-range luma.
BENCHMARK_CAPTURE(grey_libyuv, J400, libyuv::ARGBToJ400);
#endif

BENCHMARK_CAPTURE(greyWeighted, plain, Path::plain);
BENCHMARK_CAPTURE(greyWeighted, sse2, Path::sse2);
BENCHMARK_CAPTURE(greyWeighted, fast, Path::fast);
#ifdef QORX_HAVE_LIBYUV
// ARGBToI400: studio-range luma (16 + BT.601 weights).
BENCHMARK_CAPTURE(grey_libyuv, I400, libyuv::ARGBToI400);
#endif

} // namespace

int main(int argc, char** argv)
{
    ccStdPelbufStartup();
    // Keeps the level now, so that no later first use resets a forced description.
    ccPelFunc::initCpuLevel();
    return frame_bench::run(argc, argv, {{"libyuv", frame_bench::kLibyuv}});
}
