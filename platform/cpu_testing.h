// Test seam, not for callers: replaces the CPUID registers, the system
// information and the version source so that detection can be checked
// against recorded machines.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/cpu.h"

namespace plat {

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

// Replaces what systemInfo() reports; null restores the real values.
void setSystemInfoOverride(const SystemInfo* info);

// A version source; false when the version cannot be read.
using OsVersionSource = bool (*)(OsVersion* version);

// Replaces the version source; null restores the fixed version.
void setOsVersionSource(OsVersionSource source);

} // namespace plat
