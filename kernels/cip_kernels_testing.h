// Test seam, not for callers: how many calls the SSE2 and AVX2 kernels of this folder
// have served (rather than declined), so that tests see which path ran. The
// path itself follows the effective processor description and its AVX2
// answer (csys_overrideCpuInfo).
#pragma once
#include <cstdint>

#include "kernels/internal/cip_simd.h"

inline uint64_t cip_fastKernelCalls() { return cip_simd::servedCalls().load(std::memory_order_relaxed); }
// Of those, the calls an AVX2 kernel served.
inline uint64_t cip_wideKernelCalls() { return cip_simd::servedWideCalls().load(std::memory_order_relaxed); }
