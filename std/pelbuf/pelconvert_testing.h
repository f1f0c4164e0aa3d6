// Test seam, not for callers: decides which path the split and grey
// conversions take, whatever level ccPelFunc keeps; the grey kernel's AVX2
// twin runs where csys_cpuHasAvx2 answers yes (csys_overrideCpuInfo). The merges
// follow the effective processor description (csys_overrideCpuInfo), and
// stream their stores past the cache by the copy's threshold
// (csys_overrideStreamingThreshold).
#pragma once
#include <cstdint>

enum class ccPelConvertKernels { asked, plain, fast };

// asked (the default) answers with ccPelFunc::useMmx.
void ccPelConvertForceKernels(ccPelConvertKernels choice);

// Calls the AVX2 kernels have served, so that tests see which path ran.
uint64_t ccPelConvertAvx2Calls();
