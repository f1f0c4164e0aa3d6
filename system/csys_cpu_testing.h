// Test seam, not for callers: forces the effective processor description so
// that each copy and fill path can be taken on any machine.
#pragma once
#include "system/csys_cpu.h"
#include "system/csys_status.h"

// Makes the effective description this one (after detection) until the next
// csys_resetCpuInfo.
[[nodiscard]] csysStatus csys_overrideCpuInfo(const csysCpuInfo* info);
