// Test seam, not for callers: forces the effective processor description so
// that each copy and fill path, and each kernel's, can be taken on any machine.
#pragma once
#include "system/csys_cpu.h"
#include "system/csys_status.h"

// Makes the effective description this one (after detection) until the next
// csys_resetCpuInfo; csys_cpuHasAvx2 then answers avx2, where the forced
// description is of an x86 with SSE2.
[[nodiscard]] csysStatus csys_overrideCpuInfo(const csysCpuInfo* info, bool avx2 = false);
