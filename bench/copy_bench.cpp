// Fast copy and fill against memcpy/memset on buffers from 64 KiB to 128 MiB
// (past any last-level cache): the default route, which takes the cached path
// below the streaming threshold, then each forced route with its kernel at
// every size.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DQORX_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_copy
//   build-bench/bench/bench_copy
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "system/csys_copy.h"
#include "system/csys_copy_testing.h"
#include "system/csys_cpu.h"
#include "system/csys_cpu_testing.h"

namespace {

// Buffers on 64 KiB boundaries share their low 16 address bits, which the
// SSE2 description needs for its aligned copy kernel.
struct Buffers {
    explicit Buffers(size_t bytes) : size(bytes)
    {
        size_t rounded = (bytes + 65535) & ~size_t{65535};
        source = static_cast<unsigned char*>(std::aligned_alloc(65536, rounded));
        destination = static_cast<unsigned char*>(std::aligned_alloc(65536, rounded));
        std::memset(source, 0x5A, bytes);
        std::memset(destination, 0, bytes);
    }
    ~Buffers()
    {
        std::free(source);
        std::free(destination);
    }
    size_t size;
    unsigned char* source;
    unsigned char* destination;
};

constexpr uint32_t kDetected = ~0u;

// The route a description selects, for the life of the object; a forced
// streaming route streams at every size. kDetected keeps the detected route.
class Route {
public:
    explicit Route(uint32_t features) : forced_(features != kDetected)
    {
        if (!forced_)
            return;
        csys_overrideStreamingThreshold(0);
        csysCpuInfo info;
        (void)csys_getCpuInfo(&info); // an x86_64 processor is always described
        info.cpuClass = 1;
        info.features = features;
        (void)csys_overrideCpuInfo(&info); // detected above: cannot fail
    }
    ~Route()
    {
        if (!forced_)
            return;
        csys_overrideStreamingThreshold(-1);
        (void)csys_resetCpuInfo(); // always 0
    }

private:
    bool forced_;
};

constexpr uint32_t kPortable = 0;
constexpr uint32_t kPlans = csysCpuMmx;
constexpr uint32_t kStreamB = csysCpuMmx | csysCpuSse;
constexpr uint32_t kStreamA = csysCpuMmx | csysCpuSse | csysCpuSse2;

void BM_memcpy(benchmark::State& state)
{
    Buffers b(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::memcpy(b.destination, b.source, b.size);
        benchmark::DoNotOptimize(b.destination);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void copyWith(benchmark::State& state, uint32_t features)
{
    Buffers b(static_cast<size_t>(state.range(0)));
    Route route(features);
    for (auto _ : state) {
        if (csys_memCopy(static_cast<int32_t>(b.size), b.source, b.destination) != csysOk)
            state.SkipWithError("copy failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_memset(benchmark::State& state)
{
    Buffers b(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        std::memset(b.destination, 0x33, b.size);
        benchmark::DoNotOptimize(b.destination);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void fillWith(benchmark::State& state, uint32_t features)
{
    Buffers b(static_cast<size_t>(state.range(0)));
    Route route(features);
    for (auto _ : state) {
        if (csys_memSet(0x33, static_cast<int32_t>(b.size), b.destination) != csysOk)
            state.SkipWithError("fill failed");
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->RangeMultiplier(2)->Range(64 << 10, 128 << 20);
}

BENCHMARK(BM_memcpy)->Apply(sizes);
BENCHMARK_CAPTURE(copyWith, default, kDetected)->Apply(sizes);
BENCHMARK_CAPTURE(copyWith, streamA_sse2, kStreamA)->Apply(sizes);
BENCHMARK_CAPTURE(copyWith, streamB_sse, kStreamB)->Apply(sizes);
BENCHMARK_CAPTURE(copyWith, plans_mmx, kPlans)->Apply(sizes);
BENCHMARK_CAPTURE(copyWith, portable, kPortable)->Apply(sizes);
BENCHMARK(BM_memset)->Apply(sizes);
BENCHMARK_CAPTURE(fillWith, default, kDetected)->Apply(sizes);
BENCHMARK_CAPTURE(fillWith, stream_sse, kStreamB)->Apply(sizes);
BENCHMARK_CAPTURE(fillWith, plans_mmx, kPlans)->Apply(sizes);
BENCHMARK_CAPTURE(fillWith, portable, kPortable)->Apply(sizes);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    uint64_t cache = 0;
    (void)csys_lastLevelCacheBytes(&cache); // 0 when unknown
    benchmark::AddCustomContext("last-level cache (CPUID)", std::to_string(cache >> 10) + " KiB");
    benchmark::AddCustomContext("streaming threshold (traffic)",
                                std::to_string(csys_streamingThreshold() >> 10) + " KiB");
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
