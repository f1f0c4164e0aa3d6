// The processor description and the operating-system version, each read once
// per process.
//
// The layer keeps two descriptions: the detected one and the effective one
// that callers receive. Only a reset (and, in tests, an override) changes the
// effective copy.
#pragma once
#include <cstdint>

#include "system/csys_status.h"

enum : uint32_t {
    csysCpuMmx = 1,
    csysCpuSse = 2,
    csysCpuSse2 = 8,
};

struct csysCpuInfo {
    int32_t cpuClass;        // 1 x86; 0 another architecture
    int32_t generation;      // 1..4 for families 4, 5, 6, 15; else 0
    int32_t family;          // -1 until known
    int32_t revision;        // as the system reports it; -1 until known
    uint32_t features;       // csysCpuMmx | csysCpuSse | csysCpuSse2; no other bit
    int32_t stage;           // 2 once detection has reached the processor
    int32_t processorCount;  // 1 until known
    uint32_t activeMask;     // processors 0..31; 1 until known
    int32_t packageCount;    // 1 until known
    int32_t coreLayout;      // (cores per package << 8) + logical per core; 0 until known
    uint8_t vendor[13];      // 12 characters then 0xFF: not a C string
    char brand[48];          // without leading spaces, NUL-terminated
};
static_assert(sizeof(csysCpuInfo) == 26 * 4, "the description is 26 words");

struct csysOsVersion {
    int32_t filled;      // 1 once read
    int32_t osCode;      // see csys_readOsVersion
    int32_t major;
    int32_t minor;
    int32_t build;
    int32_t servicePack;
    int32_t spare;
};

// Detects once per process, then copies the effective description. On
// failure the record is not written and the next call detects again.
[[nodiscard]] csysStatus csys_getCpuInfo(csysCpuInfo* info);

// Makes the effective description the detected one.
[[nodiscard]] csysStatus csys_resetCpuInfo();

// Reads the version once per process, then copies it; csysErrFail when the
// system refuses the query.
[[nodiscard]] csysStatus csys_getOsVersion(csysOsVersion* version);

// Whether kernels may take their AVX2 twins: the processor has AVX2 (leaf 7)
// and AVX (leaf 1), the system saves the YMM registers, and the effective
// description is of an x86 with SSE2. Kept apart from the description, whose
// features word has no bit for it; detected with it, once per process.
[[nodiscard]] csysStatus csys_cpuHasAvx2(bool* avx2);

// One detection and one version reading, uncached; the functions above run
// them under the once-initialisation.
[[nodiscard]] csysStatus csys_detectCpuInfo(csysCpuInfo* info);
// The same detection, answering what csys_cpuHasAvx2 would after it.
[[nodiscard]] csysStatus csys_detectCpuAvx2(bool* avx2);
// OS codes: 1 Win32s; 2 the 9x line with minor 0, 3 with another minor;
// 5 NT 4; 6 NT 5.0 and 5.2; 7 NT 5.1; 8 NT 6.x; 0 anything else.
[[nodiscard]] csysStatus csys_readOsVersion(csysOsVersion* version);

// The size in bytes of the last-level data cache, read with CPUID beside the
// processor description (once per process); 0 when the processor does not
// tell.
[[nodiscard]] csysStatus csys_lastLevelCacheBytes(uint64_t* bytes);

// One reading, uncached, on the calling thread's processor: leaf 4 on Intel,
// 0x8000001D (else 0x80000006) on AMD and Hygon; 0 for other vendors.
[[nodiscard]] csysStatus csys_detectLastLevelCache(uint64_t* bytes);

// What the copy dispatch needs of the effective description, without copying
// the whole record.
[[nodiscard]] csysStatus csys_cpuDispatchInfo(int32_t* cpuClass, uint32_t* features);
