#include "system/csys_cpu.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <mutex>

#include "platform/clock.h"
#include "platform/cpu.h"
#include "system/csys_cpu_testing.h"
#include "system/csys_sync.h"

namespace {

std::mutex& recordLock()
{
    static std::mutex* lock = new std::mutex; // never destroyed: late callers at exit
    return *lock;
}

csysCpuInfo gDetected;  // under recordLock
csysCpuInfo gEffective; // under recordLock
// Class in the high word, features in the low: read by every copy call.
std::atomic<uint64_t> gDispatch{0};
bool gDetectedAvx2 = false;            // under recordLock
std::atomic<bool> gEffectiveAvx2{false}; // read by the kernels
uint64_t gLastLevelCache = 0; // under recordLock
int32_t gCpuOnce = 0;

csysOsVersion gOsVersion;
int32_t gOsOnce = 0;

void setInitial(csysCpuInfo* r)
{
    std::memset(r, 0, sizeof *r);
    r->family = -1;
    r->revision = -1;
    r->processorCount = 1;
    r->activeMask = 1;
    r->packageCount = 1;
    std::memset(r->vendor, 0xFF, sizeof r->vendor);
}

void setInitial(csysOsVersion* v)
{
    *v = csysOsVersion{0, 0, -1, -1, -1, -1, -1};
}

// Caller holds recordLock.
void publishEffective(const csysCpuInfo& info, bool avx2)
{
    gEffective = info;
    gDispatch.store((static_cast<uint64_t>(static_cast<uint32_t>(info.cpuClass)) << 32) | info.features,
                    std::memory_order_release);
    gEffectiveAvx2.store(avx2 && info.cpuClass == 1 && (info.features & csysCpuSse2), std::memory_order_release);
}

int32_t clampToInt32(uint32_t value)
{
    return value > static_cast<uint32_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(value);
}

// The decimal number that starts at the first digit; 0 without digits.
int32_t servicePackNumber(const std::wstring& text)
{
    size_t i = 0;
    while (i < text.size() && !(text[i] >= L'0' && text[i] <= L'9'))
        ++i;
    int64_t n = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        n = n * 10 + (text[i] - L'0');
        if (n > INT32_MAX)
            return INT32_MAX;
    }
    return static_cast<int32_t>(n);
}

int32_t generationOf(int32_t family)
{
    switch (family) {
    case 4: return 1;
    case 5: return 2;
    case 6: return 3;
    case 15: return 4;
    default: return 0;
    }
}

// The 12 vendor characters of leaf 0, in the order EBX, EDX, ECX.
void copyVendor(const plat::CpuidRegisters& leaf0, void* vendor)
{
    unsigned char* out = static_cast<unsigned char*>(vendor);
    std::memcpy(out + 0, &leaf0.ebx, 4);
    std::memcpy(out + 4, &leaf0.edx, 4);
    std::memcpy(out + 8, &leaf0.ecx, 4);
}

// Pins the calling thread to the processor reporting the highest basic leaf,
// reads the identification there and puts the thread's own affinity back.
void identifyProcessor(csysCpuInfo* r, bool* avx2, bool sseOff, bool sse2Off, bool avxOff)
{
    plat::ThreadAffinity saved;
    bool haveSaved = plat::getThreadAffinity(&saved);
    uint32_t processMask = plat::processAffinityMask();

    int32_t best = -1;
    uint32_t bestLeaf = 0;
    for (int32_t n = 0; n < 32; ++n) {
        if (!(processMask & (1u << n)) || !plat::setThreadAffinityMask(1u << n))
            continue;
        plat::sleepMilliseconds(0);
        uint32_t maxLeaf = plat::cpuid(0).eax;
        if (maxLeaf > bestLeaf) {
            best = n;
            bestLeaf = maxLeaf;
        }
    }
    if (best >= 0 && plat::setThreadAffinityMask(1u << best))
        plat::sleepMilliseconds(0);

    plat::CpuidRegisters leaf0 = plat::cpuid(0);
    uint32_t maxLeaf = leaf0.eax;
    copyVendor(leaf0, r->vendor);

    plat::CpuidRegisters leaf1 = plat::cpuid(1);
    r->family = static_cast<int32_t>((leaf1.eax >> 8) & 0xF);
    uint32_t features = 0;
    if (leaf1.edx & (1u << 23))
        features |= csysCpuMmx;
    if ((leaf1.edx & (1u << 25)) && !sseOff)
        features |= csysCpuSse;
    if ((leaf1.edx & (1u << 26)) && !sse2Off)
        features |= csysCpuSse2;
    r->features = features;
    // AVX2 (leaf 7) needs AVX (leaf 1) and the system saving the YMM registers.
    *avx2 = (features & csysCpuSse2) && !avxOff && maxLeaf >= 7 && (leaf1.ecx & (1u << 28)) &&
            (plat::cpuid(7, 0).ebx & (1u << 5));

    r->coreLayout = 0x101;
    r->packageCount = r->processorCount;
    if (maxLeaf >= 4 && (leaf1.edx & (1u << 28))) {
        int32_t cores = static_cast<int32_t>(plat::cpuid(4, 0).eax >> 26) + 1;
        int32_t logical = static_cast<int32_t>((leaf1.ebx >> 16) & 0xFF);
        int32_t perCore = logical / cores;
        // Fewer logical processors than cores says nothing usable about the
        // layout; keep 0x101 rather than divide by zero.
        if (perCore > 0) {
            r->coreLayout = (cores << 8) + perCore;
            int32_t packages = r->processorCount / cores / perCore;
            r->packageCount = packages > 0 ? packages : 1; // a package is there
        }
    }

    if (plat::cpuid(0x80000000u).eax >= 0x80000004u) {
        char text[48];
        for (uint32_t i = 0; i < 3; ++i) {
            plat::CpuidRegisters b = plat::cpuid(0x80000002u + i);
            std::memcpy(text + 16 * i + 0, &b.eax, 4);
            std::memcpy(text + 16 * i + 4, &b.ebx, 4);
            std::memcpy(text + 16 * i + 8, &b.ecx, 4);
            std::memcpy(text + 16 * i + 12, &b.edx, 4);
        }
        size_t start = 0;
        while (start < sizeof text && text[start] == ' ')
            ++start;
        // A string that fills all 48 bytes loses its last character to the NUL.
        size_t n = 0;
        while (start + n < sizeof text && text[start + n] != '\0' && n < sizeof r->brand - 1)
            ++n;
        std::memcpy(r->brand, text + start, n);
        r->brand[n] = '\0';
    }

    if (haveSaved)
        plat::setThreadAffinity(saved);
    else
        plat::setThreadAffinityMask(processMask);
}

// The largest data or unified cache of the highest level in a list laid out
// as leaf 4 (Intel) or 0x8000001D (AMD): ways x partitions x line x sets.
uint64_t lastLevelOfList(uint32_t leaf)
{
    uint64_t bytes = 0;
    uint32_t highest = 0;
    for (uint32_t i = 0; i < 32; ++i) {
        plat::CpuidRegisters r = plat::cpuid(leaf, i);
        uint32_t type = r.eax & 0x1F;
        if (type == 0)
            break;
        if (type == 2) // instructions
            continue;
        uint32_t level = (r.eax >> 5) & 7;
        uint64_t size = uint64_t{(r.ebx >> 22) + 1} * (((r.ebx >> 12) & 0x3FF) + 1) * ((r.ebx & 0xFFF) + 1) *
                        (uint64_t{r.ecx} + 1);
        if (level > highest || (level == highest && size > bytes)) {
            highest = level;
            bytes = size;
        }
    }
    return bytes;
}

csysStatus detect(csysCpuInfo* info, bool* avx2);

csysStatus detectOnce(void*)
{
    csysCpuInfo info;
    bool avx2 = false;
    csysStatus st = detect(&info, &avx2);
    if (st < 0)
        return st;
    uint64_t cache = 0;
    st = csys_detectLastLevelCache(&cache);
    if (st < 0)
        return st;
    std::lock_guard<std::mutex> hold(recordLock());
    gDetected = info;
    gDetectedAvx2 = avx2;
    gLastLevelCache = cache;
    publishEffective(info, avx2);
    return csysOk;
}

csysStatus readOsOnce(void*)
{
    csysOsVersion v;
    csysStatus st = csys_readOsVersion(&v);
    if (st < 0)
        return st;
    std::lock_guard<std::mutex> hold(recordLock());
    gOsVersion = v;
    return csysOk;
}

} // namespace

csysStatus csys_readOsVersion(csysOsVersion* version)
{
    if (!version)
        return csysErrNullArg;
    plat::OsVersion os;
    if (!plat::osVersion(&os))
        return csysErrFail;
    csysOsVersion v;
    setInitial(&v);
    v.filled = 1;
    switch (os.platform) {
    case 0: v.osCode = 1; break;
    case 1: v.osCode = os.minor == 0 ? 2 : 3; break;
    case 2:
        if (os.major == 4)
            v.osCode = 5;
        else if (os.major == 5)
            v.osCode = os.minor == 1 ? 7 : 6;
        else if (os.major == 6)
            v.osCode = 8;
        break;
    default:
        *version = v;
        return csysOk;
    }
    v.major = clampToInt32(os.major);
    v.minor = clampToInt32(os.minor);
    v.build = clampToInt32(os.build);
    if (!(os.platform == 2 && os.major < 4) && !os.servicePack.empty())
        v.servicePack = servicePackNumber(os.servicePack);
    *version = v;
    return csysOk;
}

namespace {

// Makes the record once, then hands out a copy taken under the record lock.
template <class Record>
csysStatus copyOnceMade(Record* out, csysStatus (*make)(void*), int32_t* once, const Record& source)
{
    if (!out)
        return csysErrNullArg;
    csysStatus st = csys_once(make, nullptr, once);
    if (st < 0)
        return st;
    std::lock_guard<std::mutex> hold(recordLock());
    *out = source;
    return csysOk;
}

} // namespace

csysStatus csys_getOsVersion(csysOsVersion* version)
{
    return copyOnceMade(version, &readOsOnce, &gOsOnce, gOsVersion);
}

namespace {

csysStatus detect(csysCpuInfo* info, bool* avx2)
{
    csysCpuInfo r;
    setInitial(&r);

    plat::SystemInfo sys = plat::systemInfo();
    r.processorCount = clampToInt32(sys.processorCount);
    r.activeMask = sys.activeProcessorMask;
    if (sys.architecture != plat::Architecture::x86)
        return csysErrNotX86;
    r.cpuClass = 1;

    csysOsVersion os;
    csysStatus st = csys_getOsVersion(&os);
    if (st < 0)
        return st;
    bool sseOff = false;
    bool sse2Off = false;
    if (os.osCode != 0) {
        if (os.osCode == 2 || os.osCode == 3) {
            if (sys.processorType == 586)
                r.family = 5;
        } else {
            if (sys.processorLevel == 5 || sys.processorLevel == 6)
                r.family = static_cast<int32_t>(sys.processorLevel);
            r.revision = clampToInt32(sys.processorRevision);
        }
        sseOff = !sys.sseAvailable;
        sse2Off = !sys.sse2Available;
    }
    r.stage = 2;

    identifyProcessor(&r, avx2, sseOff, sse2Off, !sys.avxAvailable);
    r.generation = generationOf(r.family);
    *info = r;
    return csysOk;
}

} // namespace

csysStatus csys_detectCpuInfo(csysCpuInfo* info)
{
    if (!info)
        return csysErrNullArg;
    bool avx2 = false;
    return detect(info, &avx2);
}

csysStatus csys_detectCpuAvx2(bool* avx2)
{
    if (!avx2)
        return csysErrNullArg;
    csysCpuInfo info;
    return detect(&info, avx2);
}

csysStatus csys_detectLastLevelCache(uint64_t* bytes)
{
    if (!bytes)
        return csysErrNullArg;
    plat::CpuidRegisters leaf0 = plat::cpuid(0);
    char vendor[12];
    copyVendor(leaf0, vendor);
    *bytes = 0;
    if (std::memcmp(vendor, "GenuineIntel", 12) == 0) {
        if (leaf0.eax >= 4)
            *bytes = lastLevelOfList(4);
    } else if (std::memcmp(vendor, "AuthenticAMD", 12) == 0 || std::memcmp(vendor, "HygonGenuine", 12) == 0) {
        uint32_t maxExtended = plat::cpuid(0x80000000u).eax;
        bool topology = (plat::cpuid(0x80000001u).ecx & (1u << 22)) != 0;
        if (maxExtended >= 0x8000001Du && topology)
            *bytes = lastLevelOfList(0x8000001Du);
        if (*bytes == 0 && maxExtended >= 0x80000006u) {
            // L3 in 512 KiB units in EDX[31:18], else L2 in KiB in ECX[31:16].
            plat::CpuidRegisters r = plat::cpuid(0x80000006u);
            *bytes = r.edx >> 18 ? uint64_t{r.edx >> 18} << 19 : uint64_t{r.ecx >> 16} << 10;
        }
    }
    return csysOk;
}

csysStatus csys_lastLevelCacheBytes(uint64_t* bytes)
{
    return copyOnceMade(bytes, &detectOnce, &gCpuOnce, gLastLevelCache);
}

csysStatus csys_getCpuInfo(csysCpuInfo* info)
{
    return copyOnceMade(info, &detectOnce, &gCpuOnce, gEffective);
}

csysStatus csys_resetCpuInfo()
{
    std::lock_guard<std::mutex> hold(recordLock());
    if (gDetected.stage != 0) // detected; before that both copies are unset
        publishEffective(gDetected, gDetectedAvx2);
    return csysOk;
}

csysStatus csys_overrideCpuInfo(const csysCpuInfo* info, bool avx2)
{
    if (!info)
        return csysErrNullArg;
    // Detect first, so that a later first detection cannot undo the override.
    csysStatus st = csys_once(&detectOnce, nullptr, &gCpuOnce);
    if (st < 0)
        return st;
    std::lock_guard<std::mutex> hold(recordLock());
    publishEffective(*info, avx2);
    return csysOk;
}

csysStatus csys_cpuDispatchInfo(int32_t* cpuClass, uint32_t* features)
{
    if (!cpuClass || !features)
        return csysErrNullArg;
    csysStatus st = csys_once(&detectOnce, nullptr, &gCpuOnce);
    if (st < 0)
        return st;
    uint64_t word = gDispatch.load(std::memory_order_acquire);
    *cpuClass = static_cast<int32_t>(static_cast<uint32_t>(word >> 32));
    *features = static_cast<uint32_t>(word);
    return csysOk;
}

csysStatus csys_cpuHasAvx2(bool* avx2)
{
    if (!avx2)
        return csysErrNullArg;
    csysStatus st = csys_once(&detectOnce, nullptr, &gCpuOnce);
    if (st < 0)
        return st;
    *avx2 = gEffectiveAvx2.load(std::memory_order_acquire);
    return csysOk;
}
