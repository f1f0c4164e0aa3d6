// Forces the effective processor description for the life of the object and
// puts the detected one back however the test leaves (a failed ASSERT
// included), so that no later test runs on a forced path.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>

#include "system/csys_cpu_testing.h"

namespace forced_cpu {

class ForcedCpu {
public:
    // An x86 processor with exactly these feature bits, and AVX2 or not.
    explicit ForcedCpu(uint32_t features, bool avx2 = false)
    {
        csysCpuInfo info{};
        EXPECT_EQ(csys_getCpuInfo(&info), csysOk);
        info.cpuClass = 1;
        info.features = features;
        EXPECT_EQ(csys_overrideCpuInfo(&info, avx2), csysOk);
    }
    ~ForcedCpu() { EXPECT_EQ(csys_resetCpuInfo(), csysOk); }
    ForcedCpu(const ForcedCpu&) = delete;
    ForcedCpu& operator=(const ForcedCpu&) = delete;
};

} // namespace forced_cpu
