// Processor and system information: CPUID, processor count, page size,
// processor affinity and the operating-system version.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// ---- CPUID

struct CpuidRegisters {
    uint32_t eax, ebx, ecx, edx;
};

// Reads CPUID on the processor the calling thread runs on. A leaf the
// processor does not have reads as zeros.
CpuidRegisters cpuid(uint32_t leaf, uint32_t subleaf = 0);

// ---- System information

enum class Architecture { x86, other };

struct SystemInfo {
    Architecture architecture;    // x86_64 counts as x86
    uint32_t processorCount;      // online processors
    uint32_t activeProcessorMask; // online processors 0..31
    uint32_t pageSize;
    uint32_t processorType;       // 586 for x86
    uint32_t processorLevel;      // display family
    uint32_t processorRevision;   // (display model << 8) | stepping
    bool sseAvailable;            // the system saves the SSE state
    bool sse2Available;
    bool avxAvailable;            // the system saves the AVX (YMM) state
};

SystemInfo systemInfo();

// ---- Affinity
//
// Records keep 32-bit masks: bit n is processor n, so processors from 32 up
// are not named. A saved thread affinity keeps every processor.

// The processors the process (its main thread) may run on, 0..31; 0 when the
// query fails.
uint32_t processAffinityMask();

// Pins the calling thread to the processors of the mask; false for an empty
// mask or when the system refuses.
bool setThreadAffinityMask(uint32_t mask);

struct ThreadAffinity {
    uint64_t bits[16]; // processors 0..1023
};

bool getThreadAffinity(ThreadAffinity* saved);
bool setThreadAffinity(const ThreadAffinity& saved);

// The processor the calling thread runs on, or -1.
int32_t currentProcessor();

// ---- Operating-system version
//
// The system reports itself as the newest version that the driver's version
// table knows: platform 2 (NT) 6.1, build 7601, "Service Pack 1".

struct OsVersion {
    uint32_t platform; // 0 Win32s, 1 the 9x line, 2 NT
    uint32_t major;
    uint32_t minor;
    uint32_t build;
    std::wstring servicePack;
};

// False when the version cannot be read.
bool osVersion(OsVersion* version);

} // namespace plat
