// Processor and system information: CPUID, processor count, page size,
// processor affinity and the operating-system version. Tests replace the
// CPUID registers, the system information and the version source so that
// detection can be checked against recorded machines.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// ---- CPUID

struct CpuidRegisters {
    uint32_t eax, ebx, ecx, edx;
};

// Reads CPUID on the processor the calling thread runs on. A leaf the
// processor does not have reads as zeros.
CpuidRegisters cpuid(uint32_t leaf, uint32_t subleaf = 0);

// A recorded register set. processor -1 answers on every processor; another
// value only while the calling thread runs on that processor, so that a
// machine whose processors differ can be recorded.
struct CpuidRecord {
    uint32_t leaf;
    uint32_t subleaf;
    int32_t processor;
    CpuidRegisters registers;
};

// While records are set, cpuid() answers from them only: the first record
// that matches leaf, subleaf and processor; anything else reads as zeros.
// An empty list restores the real instruction.
void setCpuidRecords(std::vector<CpuidRecord> records);

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
};

SystemInfo systemInfo();

// Replaces what systemInfo() reports; null restores the real values.
void setSystemInfoOverride(const SystemInfo* info);

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
using OsVersionSource = bool (*)(OsVersion* version);

bool osVersion(OsVersion* version);

// Replaces the version source; null restores the fixed version.
void setOsVersionSource(OsVersionSource source);

} // namespace plat
