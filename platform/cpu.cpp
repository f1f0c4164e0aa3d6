#include "platform/cpu.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "platform/cpu_testing.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define QORX_HAVE_CPUID 1
#else
#define QORX_HAVE_CPUID 0
#endif

namespace plat {
namespace {

// ---- CPUID

std::mutex& recordLock()
{
    static std::mutex* lock = new std::mutex; // never destroyed: late callers at exit
    return *lock;
}
std::vector<CpuidRecord>& records()
{
    static auto* list = new std::vector<CpuidRecord>;
    return *list;
}
std::atomic<bool> gRecorded{false};

CpuidRegisters hardwareCpuid(uint32_t leaf, uint32_t subleaf)
{
    CpuidRegisters r{0, 0, 0, 0};
#if QORX_HAVE_CPUID
    // Beyond the highest leaf of its range a processor repeats another leaf;
    // report nothing instead.
    uint32_t a, b, c, d;
    __cpuid(leaf & 0x80000000u, a, b, c, d);
    if (leaf > a)
        return r;
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#else
    (void)leaf;
    (void)subleaf;
#endif
    return r;
}

CpuidRegisters recordedCpuid(uint32_t leaf, uint32_t subleaf)
{
    int32_t here = currentProcessor();
    std::lock_guard<std::mutex> hold(recordLock());
    for (const CpuidRecord& rec : records()) {
        if (rec.leaf == leaf && rec.subleaf == subleaf && (rec.processor < 0 || rec.processor == here))
            return rec.registers;
    }
    return CpuidRegisters{0, 0, 0, 0};
}

// ---- System information

std::mutex& infoLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}
bool gInfoOverridden = false; // under infoLock
SystemInfo gInfo;

// Bits 0..31 of a list such as "0-3,8,10-11"; false when it cannot be read.
bool parseProcessorList(const char* text, uint32_t* mask)
{
    uint32_t bits = 0;
    const char* p = text;
    while (*p && *p != '\n') {
        char* next = nullptr;
        unsigned long first = std::strtoul(p, &next, 10);
        if (next == p)
            return false;
        unsigned long last = first;
        p = next;
        if (*p == '-') {
            ++p;
            last = std::strtoul(p, &next, 10);
            if (next == p || last < first)
                return false;
            p = next;
        }
        for (unsigned long n = first; n <= last && n < 32; ++n)
            bits |= 1u << n;
        if (*p == ',')
            ++p;
    }
    *mask = bits;
    return true;
}

uint32_t onlineMask(uint32_t count)
{
    uint32_t mask = 0;
    if (FILE* f = std::fopen("/sys/devices/system/cpu/online", "r")) {
        char line[512];
        bool ok = std::fgets(line, sizeof line, f) != nullptr && parseProcessorList(line, &mask);
        std::fclose(f);
        if (ok && mask != 0)
            return mask;
    }
    // Without the list, assume the online processors are the first ones.
    return count >= 32 ? 0xFFFFFFFFu : (1u << count) - 1u;
}

#if QORX_HAVE_CPUID
// The extended control register 0: the register states the system saves.
// Only valid where leaf 1 reports OSXSAVE.
uint64_t xcr0()
{
    uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return uint64_t{high} << 32 | low;
}
#endif

SystemInfo machineInfo()
{
    SystemInfo info{};
#if QORX_HAVE_CPUID
    info.architecture = Architecture::x86;
    info.processorType = 586;
    info.sseAvailable = true; // every x86_64 system saves the SSE state
    info.sse2Available = true;
    CpuidRegisters r = cpuid(1);
    uint32_t family = (r.eax >> 8) & 0xF;
    uint32_t model = (r.eax >> 4) & 0xF;
    if (family == 0xF)
        family += (r.eax >> 20) & 0xFF;
    if (family >= 6)
        model += ((r.eax >> 16) & 0xF) << 4;
    info.processorLevel = family;
    info.processorRevision = (model << 8) | (r.eax & 0xF);
    info.avxAvailable = (r.ecx & (1u << 27)) && (xcr0() & 6u) == 6u; // OSXSAVE, then XMM and YMM state
#else
    info.architecture = Architecture::other;
#endif
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    info.processorCount = n > 0 ? static_cast<uint32_t>(n) : 1u;
    info.activeProcessorMask = onlineMask(info.processorCount);
    long page = sysconf(_SC_PAGESIZE);
    info.pageSize = page > 0 ? static_cast<uint32_t>(page) : 4096u;
    return info;
}

// ---- Version

bool fixedOsVersion(OsVersion* version)
{
    version->platform = 2;
    version->major = 6;
    version->minor = 1;
    version->build = 7601;
    version->servicePack = L"Service Pack 1";
    return true;
}

std::atomic<OsVersionSource> gVersionSource{&fixedOsVersion};

} // namespace

CpuidRegisters cpuid(uint32_t leaf, uint32_t subleaf)
{
    if (gRecorded.load(std::memory_order_acquire))
        return recordedCpuid(leaf, subleaf);
    return hardwareCpuid(leaf, subleaf);
}

void setCpuidRecords(std::vector<CpuidRecord> list)
{
    std::lock_guard<std::mutex> hold(recordLock());
    records() = std::move(list);
    gRecorded.store(!records().empty(), std::memory_order_release);
}

SystemInfo systemInfo()
{
    {
        std::lock_guard<std::mutex> hold(infoLock());
        if (gInfoOverridden)
            return gInfo;
    }
    return machineInfo();
}

void setSystemInfoOverride(const SystemInfo* info)
{
    std::lock_guard<std::mutex> hold(infoLock());
    gInfoOverridden = info != nullptr;
    if (info)
        gInfo = *info;
}

uint32_t processAffinityMask()
{
    // Each thread has its own mask; the main thread's stands for the process.
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(getpid(), sizeof set, &set) != 0)
        return 0;
    uint32_t mask = 0;
    for (int n = 0; n < 32; ++n) {
        if (CPU_ISSET(n, &set))
            mask |= 1u << n;
    }
    return mask;
}

bool setThreadAffinityMask(uint32_t mask)
{
    if (mask == 0)
        return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int n = 0; n < 32; ++n) {
        if (mask & (1u << n))
            CPU_SET(n, &set);
    }
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

static_assert(sizeof(ThreadAffinity::bits) * 8 >= CPU_SETSIZE, "saved affinity must hold a cpu_set_t");

bool getThreadAffinity(ThreadAffinity* saved)
{
    if (!saved)
        return false;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (pthread_getaffinity_np(pthread_self(), sizeof set, &set) != 0)
        return false;
    *saved = ThreadAffinity{};
    for (int n = 0; n < CPU_SETSIZE; ++n) {
        if (CPU_ISSET(n, &set))
            saved->bits[n / 64] |= uint64_t{1} << (n % 64);
    }
    return true;
}

bool setThreadAffinity(const ThreadAffinity& saved)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    for (int n = 0; n < CPU_SETSIZE; ++n) {
        if (saved.bits[n / 64] & (uint64_t{1} << (n % 64)))
            CPU_SET(n, &set);
    }
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

int32_t currentProcessor()
{
    int n = sched_getcpu();
    return n < 0 ? -1 : n;
}

bool osVersion(OsVersion* version)
{
    if (!version)
        return false;
    return gVersionSource.load()(version);
}

void setOsVersionSource(OsVersionSource source)
{
    gVersionSource = source ? source : &fixedOsVersion;
}

} // namespace plat
