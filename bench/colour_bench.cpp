// The Bayer and YCbCr colour kernels on one 1920 x 1080 frame, each first on
// its plain path, then on its SSE2 path, then on the widest the processor
// takes (`fast`: AVX2 for the YCbCr kernels where offered), then beside the
// closest conversion of a library where it was found at configure time:
//
// - Bayer 8-bit mosaic to colour: OpenCV's bilinear demosaic
//   (cv::cvtColor, COLOR_BayerBG2BGR), which writes packed BGR, alone and
//   followed by cv::split into three planes as ours writes them; OpenCV runs
//   on one thread here, as our kernels do (libopencv-dev);
// - UYVY to colour planes: libyuv's UYVYToARGB followed by SplitARGBPlane
//   (alpha dropped), with its widest kernels and held to SSSE3, and, as a
//   floor, UYVYToI422, which only sorts the bytes into Y, U and V planes
//   without any colour arithmetic (libyuv-dev);
// - UYV and UYYVYY to colour planes: no library conversion to set beside
//   them; their plain, SSE2 and AVX2 paths only.
//
// libyuv and OpenCV pick their own widest kernels (AVX2 where present) unless
// held back. Each case reports pels per second and ns_per_pel.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQORX_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_colour
//   build-bench/bench/bench_colour
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "bench/frame_bench.h"
#include "kernels/cip_bayer.h"
#include "kernels/cip_ycbcr.h"

#ifdef QORX_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#ifdef QORX_HAVE_LIBYUV
#include <libyuv.h>
#endif

namespace {

using frame_bench::kHeight;
using frame_bench::kPels;
using frame_bench::kWidth;
using frame_bench::Path;

// A 64-byte aligned plane of rows `stride` bytes apart.
class Plane {
public:
    Plane(int32_t stride, int32_t rows, uint32_t seed) : stride(stride), bytes_(size_t(stride) * rows + 64)
    {
        uint32_t x = seed;
        for (uint8_t& b : bytes_)
            b = static_cast<uint8_t>(frame_bench::next(x) >> 8);
    }
    uint8_t* p() { return bytes_.data() + (64 - reinterpret_cast<uintptr_t>(bytes_.data()) % 64) % 64; }
    const int32_t stride;

private:
    std::vector<uint8_t> bytes_;
};

struct Frame {
    Plane mosaic{kWidth, kHeight, 1}, uyvy{2 * kWidth, kHeight, 2}, uyv{3 * kWidth, kHeight, 7};
    Plane out[4] = {{kWidth, kHeight, 3}, {kWidth, kHeight, 4}, {kWidth, kHeight, 5}, {4 * kWidth, kHeight, 6}};
};

Frame& frame()
{
    static Frame f;
    return f;
}

// Wall time per pel is timed here, so that the counter reads in plain ns.
template <class Body>
void run(benchmark::State& state, Body body)
{
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        body();
        benchmark::ClobberMemory();
    }
    const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kPels);
    if (state.iterations() > 0)
        state.counters["ns_per_pel"] = elapsed.count() / (double(state.iterations()) * kPels);
}

void bayerToPlanes(benchmark::State& state, Path path)
{
    Frame& f = frame();
    const frame_bench::Processor processor(path);
    run(state, [&] {
        if (cip_convertBayer8ToRGBTyped(kWidth, kHeight, f.mosaic.p(), kWidth, f.out[0].p(), f.out[1].p(),
                                        f.out[2].p(), kWidth) != csysOk)
            state.SkipWithError("the conversion failed");
    });
}
BENCHMARK_CAPTURE(bayerToPlanes, plain, Path::plain);
BENCHMARK_CAPTURE(bayerToPlanes, fast, Path::fast);

#ifdef QORX_HAVE_OPENCV
void bayerToBGR_opencv(benchmark::State& state, bool split)
{
    Frame& f = frame();
    const cv::Mat mosaic(kHeight, kWidth, CV_8UC1, f.mosaic.p(), kWidth);
    cv::Mat bgr(kHeight, kWidth, CV_8UC3, f.out[3].p(), 3 * kWidth);
    std::vector<cv::Mat> planes;
    for (int i = 0; i < 3; ++i)
        planes.emplace_back(kHeight, kWidth, CV_8UC1, f.out[i].p(), kWidth);
    run(state, [&] {
        cv::cvtColor(mosaic, bgr, cv::COLOR_BayerBG2BGR);
        if (split)
            cv::split(bgr, planes);
    });
    if (bgr.data != f.out[3].p() || planes[0].data != f.out[0].p())
        state.SkipWithError("OpenCV did not write in place");
}
BENCHMARK_CAPTURE(bayerToBGR_opencv, packed, false);
BENCHMARK_CAPTURE(bayerToBGR_opencv, then_split, true);
#endif

typedef csysStatus (*ToPlanes)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, uint8_t*, uint8_t*, int32_t);
typedef csysStatus (*ToGrey)(int32_t, int32_t, const uint8_t*, int32_t, uint8_t*, int32_t);

// The YCbCr conversions on 1920-pel rows of `bytes` each: UYV (5760 bytes a
// row) from a frame of its own, UYVY and UYYVYY from the UYVY frame's bytes
// (3840 and 2880 bytes a row).
const uint8_t* packedRows(Frame& f, int32_t bytes) { return bytes == 3 * kWidth ? f.uyv.p() : f.uyvy.p(); }

void planes(benchmark::State& state, Path path, ToPlanes convert, int32_t bytes)
{
    Frame& f = frame();
    const frame_bench::Processor processor(path);
    const uint8_t* source = packedRows(f, bytes);
    run(state, [&] {
        if (convert(bytes, kHeight, source, bytes, f.out[0].p(), f.out[1].p(), f.out[2].p(), kWidth) != csysOk)
            state.SkipWithError("the conversion failed");
    });
}

void grey(benchmark::State& state, Path path, ToGrey convert, int32_t bytes)
{
    Frame& f = frame();
    const frame_bench::Processor processor(path);
    const uint8_t* source = packedRows(f, bytes);
    run(state, [&] {
        if (convert(bytes, kHeight, source, bytes, f.out[0].p(), kWidth) != csysOk)
            state.SkipWithError("the conversion failed");
    });
}

void uyvyToPlanes(benchmark::State& state, Path path)
{
    planes(state, path, cip_convertUYVYToRGBTyped, 2 * kWidth);
}
void uyvyToGrey(benchmark::State& state, Path path) { grey(state, path, cip_convertUYVYToGreyscaleTyped, 2 * kWidth); }
void uyvToPlanes(benchmark::State& state, Path path) { planes(state, path, cip_convertUYVToRGBTyped, 3 * kWidth); }
void uyvToGrey(benchmark::State& state, Path path) { grey(state, path, cip_convertUYVToGreyscaleTyped, 3 * kWidth); }
void uyyvyyToPlanes(benchmark::State& state, Path path)
{
    planes(state, path, cip_convertUYYVYYToRGBTyped, 3 * kWidth / 2);
}
void uyyvyyToGrey(benchmark::State& state, Path path)
{
    grey(state, path, cip_convertUYYVYYToGreyscaleTyped, 3 * kWidth / 2);
}

// Each on its plain, SSE2 and widest path.
#define YCBCR_PATHS(name)                                                                                              \
    BENCHMARK_CAPTURE(name, plain, Path::plain);                                                                       \
    BENCHMARK_CAPTURE(name, sse2, Path::sse2);                                                                         \
    BENCHMARK_CAPTURE(name, fast, Path::fast)
YCBCR_PATHS(uyvyToPlanes);
YCBCR_PATHS(uyvyToGrey);
YCBCR_PATHS(uyvToPlanes);
YCBCR_PATHS(uyvToGrey);
YCBCR_PATHS(uyyvyyToPlanes);
YCBCR_PATHS(uyyvyyToGrey);

#ifdef QORX_HAVE_LIBYUV
// With ssse3 libyuv is held to SSE2 and SSSE3, its narrowest x86 kernels, the
// nearest to ours.
void uyvyToPlanes_libyuv(benchmark::State& state, bool ssse3)
{
    Frame& f = frame();
    if (ssse3)
        (void)libyuv::MaskCpuFlags(libyuv::kCpuInitialized | libyuv::kCpuHasX86 | libyuv::kCpuHasSSE2 |
                                   libyuv::kCpuHasSSSE3);
    run(state, [&] {
        (void)libyuv::UYVYToARGB(f.uyvy.p(), 2 * kWidth, f.out[3].p(), 4 * kWidth, kWidth, kHeight);
        libyuv::SplitARGBPlane(f.out[3].p(), 4 * kWidth, f.out[0].p(), kWidth, f.out[1].p(), kWidth, f.out[2].p(),
                               kWidth, nullptr, 0, kWidth, kHeight);
    });
    (void)libyuv::MaskCpuFlags(-1); // every kernel again
}
BENCHMARK_CAPTURE(uyvyToPlanes_libyuv, widest, false);
BENCHMARK_CAPTURE(uyvyToPlanes_libyuv, ssse3, true);

void uyvyToI422_libyuv(benchmark::State& state)
{
    Frame& f = frame();
    run(state, [&] {
        (void)libyuv::UYVYToI422(f.uyvy.p(), 2 * kWidth, f.out[0].p(), kWidth, f.out[1].p(), kWidth / 2,
                                 f.out[2].p(), kWidth / 2, kWidth, kHeight);
    });
}
BENCHMARK(uyvyToI422_libyuv);
#endif

} // namespace

int main(int argc, char** argv)
{
#ifdef QORX_HAVE_OPENCV
    cv::setNumThreads(1);
    const char* opencv = CV_VERSION;
#else
    const char* opencv = nullptr;
#endif
    return frame_bench::run(argc, argv, {{"opencv", opencv}, {"libyuv", frame_bench::kLibyuv}});
}
