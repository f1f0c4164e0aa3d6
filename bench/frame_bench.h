// What the frame benchmarks share: the frame they convert, bytes that are not
// all alike (so that no kernel meets a constant), the plain path forced
// through the processor description, and a main that names the frame and the
// yardstick libraries in the context.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "system/csys_cpu.h"
#include "system/csys_cpu_testing.h"

namespace frame_bench {

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr int64_t kPels = int64_t{kWidth} * kHeight;

// The next value of a xorshift sequence.
inline uint32_t next(uint32_t& x)
{
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x;
}

enum class Path { plain, sse2, fast };

// For the life of the object: on the plain path a processor description
// without SSE, which the fast kernels decline; on the SSE2 path one without
// AVX2; the fast path keeps the detected one (the widest kernels).
class Processor {
public:
    explicit Processor(Path path)
    {
        if (path == Path::fast)
            return;
        csysCpuInfo info;
        (void)csys_getCpuInfo(&info); // an x86_64 processor is always described
        if (path == Path::plain)
            info.features = 0;
        (void)csys_overrideCpuInfo(&info); // detected above: cannot fail; without AVX2
    }
    ~Processor() { (void)csys_resetCpuInfo(); } // always 0
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;
};

// libyuv as configure found it, for run().
#ifdef QORX_HAVE_LIBYUV
constexpr const char* kLibyuv = "yes";
#else
constexpr const char* kLibyuv = nullptr;
#endif

// The benchmarks' main; each library is named with what was found of it
// (null: not found).
inline int run(int argc, char** argv, std::initializer_list<std::pair<const char*, const char*>> libraries)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::AddCustomContext("frame", std::to_string(kWidth) + " x " + std::to_string(kHeight));
    for (const auto& [name, found] : libraries)
        benchmark::AddCustomContext(name, found ? found : "not found at configure time");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace frame_bench
