#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/cpu.h"
#include "platform/cpu_testing.h"
#include "system/csys_copy.h"
#include "system/csys_cpu.h"
#include "system/csys_cpu_testing.h"
#include "tests/support/child_check.h"

namespace {

constexpr uint32_t kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;
// The only bits the description's features word has.
constexpr uint32_t kDescribed = csysCpuMmx | csysCpuSse | csysCpuSse2;

// A recorded machine: the register sets that detection reads.
struct Machine {
    uint32_t maxLeaf = 0xD;
    const char* vendor = "GenuineIntel";
    uint32_t family = 6;
    uint32_t edx1 = kMmx | kSse | kSse2;
    uint32_t logicalPerPackage = 0; // EBX[23:16] of leaf 1
    uint32_t coresPerPackage = 1;   // leaf 4
    uint32_t maxExtended = 0x80000008u;
    std::string brand = "Test Processor";
    uint32_t ecx1 = 0; // AVX at bit 28
    uint32_t ebx7 = 0; // AVX2 at bit 5

    std::vector<plat::CpuidRecord> records() const
    {
        plat::CpuidRegisters leaf0{maxLeaf, 0, 0, 0};
        std::memcpy(&leaf0.ebx, vendor + 0, 4);
        std::memcpy(&leaf0.edx, vendor + 4, 4);
        std::memcpy(&leaf0.ecx, vendor + 8, 4);
        std::vector<plat::CpuidRecord> r = {{0, 0, -1, leaf0},
                                            {1, 0, -1, {family << 8, logicalPerPackage << 16, ecx1, edx1}},
                                            {7, 0, -1, {0, ebx7, 0, 0}},
                                            {4, 0, -1, {(coresPerPackage - 1) << 26, 0, 0, 0}},
                                            {0x80000000u, 0, -1, {maxExtended, 0, 0, 0}}};
        char text[48] = {};
        std::memcpy(text, brand.data(), std::min<size_t>(brand.size(), 48));
        for (uint32_t i = 0; i < 3; ++i) {
            plat::CpuidRegisters b; // eax, ebx, ecx, edx in order
            std::memcpy(&b, text + 16 * i, 16);
            r.push_back({0x80000002u + i, 0, -1, b});
        }
        return r;
    }
};

// Type 586, level 6, revision 0x3A09.
plat::SystemInfo recordedSystem(uint32_t processors, bool sseSaved = true, bool avxSaved = true)
{
    const uint32_t mask = processors >= 32 ? 0xFFFFFFFFu : (1u << processors) - 1u;
    return {plat::Architecture::x86, processors, mask, 4096, 586, 6, 0x3A09, sseSaved, sseSaved, avxSaved};
}

// Detection against recorded registers and system information until the end of the scope.
struct Recorded {
    Recorded(const std::vector<plat::CpuidRecord>& records, const plat::SystemInfo& system)
    {
        plat::setCpuidRecords(records);
        plat::setSystemInfoOverride(&system);
    }
    ~Recorded()
    {
        plat::setCpuidRecords({});
        plat::setSystemInfoOverride(nullptr);
    }
};

csysCpuInfo detect(const Machine& m, uint32_t processors = 8, bool sseSaved = true, bool avxSaved = true)
{
    Recorded rec(m.records(), recordedSystem(processors, sseSaved, avxSaved));
    csysCpuInfo info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(csys_detectCpuInfo(&info), csysOk);
    return info;
}

// Leaf 1 gives the family and the extensions (those the system does not save
// are not offered), leaf 4 with the multi-thread bit the core layout.
TEST(CpuDetection, FamilyFeaturesAndCoreLayout)
{
    constexpr uint32_t kMultiThread = 1u << 28, kAll = ~0u;
    const struct {
        uint32_t family, edx1;
        bool sseSaved;
        uint32_t maxLeaf, cores, logical, processors;
        std::array<int32_t, 4> generationFeaturesLayoutPackages;
    } cases[] = {
        {4, kMmx | kMultiThread, true, 0xD, 4, 8, 16, {1, csysCpuMmx, (4 << 8) + 2, 2}},
        {5, kMmx | kSse, true, 0xD, 4, 8, 16, {2, csysCpuMmx | csysCpuSse, 0x101, 16}}, // no multi-thread bit
        {6, kAll, true, 3, 4, 8, 16, {3, csysCpuMmx | csysCpuSse | csysCpuSse2, 0x101, 16}}, // below leaf 4
        {15, kAll, false, 0xD, 8, 4, 4, {4, csysCpuMmx, 0x101, 4}}, // fewer logical than cores
        {3, kMmx | kSse2 | kMultiThread, true, 0xD, 8, 16, 4, {0, csysCpuMmx | csysCpuSse2, (8 << 8) + 2, 1}},
    };
    for (const auto& c : cases) {
        const csysCpuInfo info = detect(Machine{c.maxLeaf, "GenuineIntel", c.family, c.edx1, c.logical, c.cores},
                                        c.processors, c.sseSaved);
        EXPECT_EQ(info.family, static_cast<int32_t>(c.family));
        EXPECT_EQ((std::array<int32_t, 4>{info.generation, static_cast<int32_t>(info.features), info.coreLayout,
                                          info.packageCount}),
                  c.generationFeaturesLayoutPackages) << "family " << c.family;
    }
}

// AVX2 needs leaf 7's bit, AVX in leaf 1, SSE2, and the system saving the
// YMM registers. It is answered apart: the features word has no bit for it.
TEST(CpuDetection, Avx2)
{
    constexpr uint32_t kAvx = 1u << 28, kAvx2 = 1u << 5;
    const struct {
        const char* name;
        uint32_t maxLeaf, edx1, ecx1, ebx7;
        bool avxSaved, offered;
    } cases[] = {
        {"everything", 0xD, kMmx | kSse | kSse2, kAvx, kAvx2, true, true},
        {"state not saved", 0xD, kMmx | kSse | kSse2, kAvx, kAvx2, false, false},
        {"no AVX", 0xD, kMmx | kSse | kSse2, 0, kAvx2, true, false},
        {"no AVX2", 0xD, kMmx | kSse | kSse2, kAvx, 0, true, false},
        {"no leaf 7", 6, kMmx | kSse | kSse2, kAvx, kAvx2, true, false},
        {"no SSE2", 0xD, kMmx | kSse, kAvx, kAvx2, true, false},
    };
    for (const auto& c : cases) {
        Machine m;
        m.maxLeaf = c.maxLeaf;
        m.edx1 = c.edx1;
        m.ecx1 = c.ecx1;
        m.ebx7 = c.ebx7;
        const csysCpuInfo info = detect(m, 8, true, c.avxSaved);
        bool avx2 = !c.offered;
        {
            Recorded rec(m.records(), recordedSystem(8, true, c.avxSaved));
            EXPECT_EQ(csys_detectCpuAvx2(&avx2), csysOk);
        }
        EXPECT_EQ(std::tuple(avx2, info.features & ~kDescribed), std::tuple(c.offered, 0u)) << c.name;
    }
    EXPECT_EQ(csys_detectCpuAvx2(nullptr), csysErrNullArg);
}

// On the machine itself: AVX2 exactly where the compiler's own run-time check
// (the processor bit and the system's saved state) finds it.
TEST(CpuDetection, Avx2OfThisMachine)
{
    csysCpuInfo info;
    bool avx2 = false;
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    ASSERT_EQ(csys_detectCpuAvx2(&avx2), csysOk);
    __builtin_cpu_init();
    EXPECT_EQ(std::tuple(avx2, info.features & ~kDescribed), std::tuple(__builtin_cpu_supports("avx2") != 0, 0u));
}

// The kernels' question follows the effective description: an override
// answers AVX2 or not (for an x86 with SSE2 alone), a reset the detected one.
TEST(CpuInfo, Avx2FollowsTheOverrideAndTheReset)
{
    bool detected = false, avx2 = false;
    csysCpuInfo info{};
    ASSERT_EQ(csys_detectCpuAvx2(&detected), csysOk);
    ASSERT_EQ(csys_getCpuInfo(&info), csysOk);
    const struct { int32_t cpuClass; uint32_t features; bool forced, answered; } cases[] = {
        {1, kDescribed, true, true},  {1, kDescribed, false, false},
        {1, csysCpuMmx | csysCpuSse, true, false}, {0, kDescribed, true, false}};
    for (const auto& c : cases) {
        info.cpuClass = c.cpuClass, info.features = c.features;
        ASSERT_EQ(csys_overrideCpuInfo(&info, c.forced), csysOk);
        EXPECT_EQ(std::tuple(csys_cpuHasAvx2(&avx2), avx2), std::tuple(csysOk, c.answered)) << &c - cases;
    }
    ASSERT_EQ(csys_resetCpuInfo(), csysOk);
    EXPECT_EQ(std::tuple(csys_cpuHasAvx2(&avx2), avx2), std::tuple(csysOk, detected));
    EXPECT_EQ(csys_cpuHasAvx2(nullptr), csysErrNullArg);
}

TEST(CpuDetection, BrandString)
{
    const struct { std::string brand; uint32_t maxExtended; std::string expected; } cases[] = {
        {"      Leading Spaces CPU @ 2.00GHz", 0x80000004u, "Leading Spaces CPU @ 2.00GHz"},
        {std::string(48, 'X'), 0x80000008u, std::string(47, 'X')}, // cut to keep its terminator
        {std::string(48, ' '), 0x80000008u, ""},
        {"Hidden", 0x80000003u, ""}, // without the brand leaves
    };
    for (const auto& c : cases) {
        Machine m;
        m.brand = c.brand;
        m.maxExtended = c.maxExtended;
        const csysCpuInfo info = detect(m);
        EXPECT_EQ(std::string(info.brand), c.expected);
        EXPECT_EQ(std::string(info.brand + c.expected.size(), 48 - c.expected.size()),
                  std::string(48 - c.expected.size(), '\0')) << "the rest of the field stays zero";
    }
}

// A cache in the layout of leaf 4 and 0x8000001D (64-byte lines); type 1
// data, 2 instructions, 3 unified.
plat::CpuidRegisters cacheEntry(uint32_t type, uint32_t level, uint32_t ways, uint32_t partitions, uint32_t sets)
{
    return {type | level << 5, (ways - 1) << 22 | (partitions - 1) << 12 | 63, sets - 1, 0};
}

// The last-level size comes from the vendor's own leaves: the highest level
// of the list (not an instruction cache), or AMD's older summary leaf.
TEST(CpuDetection, LastLevelCacheFromTheVendorsLeaves)
{
    constexpr uint32_t kTopology = 1u << 22; // ECX of 0x80000001: AMD's list is there
    const plat::CpuidRegisters list[] = {
        cacheEntry(1, 1, 12, 1, 64),   // 48 KiB
        cacheEntry(2, 1, 8, 1, 64),    // 32 KiB
        cacheEntry(3, 3, 12, 2, 8192), // 12 MiB
        cacheEntry(3, 2, 16, 1, 2048), // 2 MiB
        cacheEntry(2, 4, 16, 1, 8192), // 8 MiB of instructions
    };
    const struct {
        const char* vendor;
        uint32_t maxLeaf, maxExtended, ecxExtended1, listLeaf, listLength;
        uint32_t ecx6, edx6; // of 0x80000006
        uint64_t expected;
    } cases[] = {
        {"GenuineIntel", 4, 0x80000008u, 0, 4, 5, 0, 0, 12u << 20},
        {"GenuineIntel", 3, 0x80000008u, 0, 4, 5, 0, 0, 0},
        {"GenuineIntel", 4, 0x80000008u, 0, 0x8000001Du, 5, 512u << 16, 16u << 18, 0},
        {"AuthenticAMD", 0x10, 0x80000020u, kTopology, 0x8000001Du, 5, 0, 0, 12u << 20},
        {"HygonGenuine", 0x10, 0x80000020u, kTopology, 0x8000001Du, 5, 0, 0, 12u << 20},
        {"AuthenticAMD", 0x10, 0x80000020u, 0, 0x8000001Du, 5, 512u << 16, 16u << 18, 8u << 20},
        {"AuthenticAMD", 0x10, 0x80000006u, 0, 0x8000001Du, 5, 512u << 16, 0, 512u << 10},
        {"AuthenticAMD", 0x10, 0x80000005u, 0, 0x8000001Du, 5, 512u << 16, 16u << 18, 0},
        {"AuthenticAMD", 0x10, 0x8000001Cu, kTopology, 0x8000001Du, 5, 0, 0, 0},
        {"AuthenticAMD", 0x10, 0x80000020u, kTopology, 0x8000001Du, 0, 512u << 16, 16u << 18, 8u << 20},
        {"CentaurHauls", 4, 0x80000008u, 0, 4, 5, 512u << 16, 16u << 18, 0},
    };
    for (const auto& c : cases) {
        Machine m{c.maxLeaf, c.vendor};
        m.maxExtended = c.maxExtended;
        std::vector<plat::CpuidRecord> records = {{0x80000001u, 0, -1, {0, 0, c.ecxExtended1, 0}},
                                                  {0x80000006u, 0, -1, {0, 0, c.ecx6, c.edx6}}};
        for (uint32_t i = 0; i < c.listLength; ++i)
            records.push_back({c.listLeaf, i, -1, list[i]});
        for (const auto& r : m.records()) // after the list: the first match answers
            records.push_back(r);
        Recorded rec(records, recordedSystem(8));
        uint64_t bytes = 1;
        EXPECT_EQ((std::tuple{csys_detectLastLevelCache(&bytes), bytes}), std::tuple(csysOk, c.expected))
            << c.vendor << " leaf " << std::hex << c.listLeaf << " of " << c.maxLeaf << "/" << c.maxExtended;
    }
    EXPECT_EQ(csys_detectLastLevelCache(nullptr), csysErrNullArg);
}

// Detection reads on the processor that reports the highest basic leaf (the
// first of equals) and puts the caller's affinity back, pinned or not.
TEST(CpuDetection, ReadsOnTheProcessorWithTheHighestBasicLeafAndRestoresTheAffinity)
{
    std::vector<int32_t> cpus;
    for (int32_t n = 0; n < 32; ++n)
        if (plat::processAffinityMask() & (1u << n))
            cpus.push_back(n);
    plat::ThreadAffinity original, before, after;
    ASSERT_TRUE(plat::getThreadAffinity(&original));
    std::vector<plat::CpuidRecord> records; // the real processor when there are fewer than three
    for (size_t i = 0; cpus.size() >= 3 && i < cpus.size(); ++i) {
        Machine m{i == 1 || i == 2 ? 0x20u : 0x10u, i == 1 ? "WinnerVendor" : i == 2 ? "TiedVendor.." : "OtherVendor."};
        for (plat::CpuidRecord r : m.records())
            records.push_back({r.leaf, r.subleaf, cpus[i], r.registers});
    }
    for (bool pin : {false, true}) {
        Recorded rec(records, recordedSystem(static_cast<uint32_t>(cpus.size())));
        ASSERT_TRUE(!pin || plat::setThreadAffinityMask(1u << cpus.back()));
        ASSERT_TRUE(plat::getThreadAffinity(&before));
        csysCpuInfo info;
        ASSERT_EQ(csys_detectCpuInfo(&info), csysOk);
        EXPECT_TRUE(records.empty() || pin || std::memcmp(info.vendor, "WinnerVendor", 12) == 0);
        EXPECT_TRUE(plat::getThreadAffinity(&after) && std::memcmp(after.bits, before.bits, sizeof after.bits) == 0);
    }
    ASSERT_TRUE(plat::setThreadAffinity(original));
}

plat::OsVersion gVersion;
bool gRefuse = false;

bool recordedVersion(plat::OsVersion* v)
{
    if (!gRefuse)
        *v = gVersion;
    return !gRefuse;
}

// The process's first calls read the version and detect; a failed reading
// writes nothing and the next call reads again; the records then stay what
// was read, and an override lasts until the next reset. In a fresh process,
// so that no other test has read first.
void theFirstSuccessfulReadingsAreKept()
{
    plat::setOsVersionSource(&recordedVersion);
    gRefuse = true;
    csysOsVersion v, again;
    csysCpuInfo info, later;
    std::memset(&v, 0x5A, sizeof v);
    std::memset(&info, 0x5A, sizeof info);
    REQUIRE(csys_getOsVersion(&v) == csysErrFail && v.filled == 0x5A5A5A5A);
    REQUIRE(csys_getCpuInfo(&info) == csysErrFail); // detection needs the version
    gRefuse = false;
    gVersion = plat::OsVersion{2, 5, 1, 2600, L"Service Pack 3"};
    REQUIRE(csys_getOsVersion(&v) == csysOk && v.filled == 1 && v.osCode == 7);
    gVersion = plat::OsVersion{2, 6, 1, 7601, L"Service Pack 1"};
    REQUIRE(csys_getOsVersion(&again) == csysOk && std::memcmp(&again, &v, sizeof v) == 0);

    const Machine m{0xD, "AuthenticAMD", 15, kMmx | kSse}; // no SSE2
    plat::SystemInfo other = recordedSystem(4);
    other.architecture = plat::Architecture::other;
    std::vector<plat::CpuidRecord> records = m.records();
    records.push_back({0x80000006u, 0, -1, {0, 0, 0, 16u << 18}}); // 8 MiB
    plat::setCpuidRecords(records);
    plat::setSystemInfoOverride(&other);
    REQUIRE(csys_getCpuInfo(&info) == csysErrNotX86 && info.cpuClass == 0x5A5A5A5A);
    const plat::SystemInfo x86 = recordedSystem(4);
    plat::setSystemInfoOverride(&x86);
    REQUIRE(csys_getCpuInfo(&info) == csysOk);
    Recorded back({}, x86); // the real processor from here on
    REQUIRE(info.cpuClass == 1 && info.revision == 0x3A09 && info.stage == 2);
    REQUIRE(info.features == (csysCpuMmx | csysCpuSse));
    REQUIRE(info.processorCount == 4 && info.activeMask == 0xFu);
    REQUIRE(std::memcmp(info.vendor, "AuthenticAMD", 12) == 0 && info.vendor[12] == 0xFF);

    int32_t cpuClass = 0;
    uint32_t features = 0;
    uint64_t bytes = 0;
    REQUIRE(csys_getCpuInfo(&later) == csysOk && std::memcmp(&later, &info, sizeof info) == 0);
    REQUIRE(csys_lastLevelCacheBytes(&bytes) == csysOk && bytes == 8u << 20);
    csysCpuInfo forced = info;
    forced.cpuClass = 0;
    forced.features = csysCpuMmx;
    REQUIRE(csys_overrideCpuInfo(&forced) == csysOk);
    REQUIRE(csys_getCpuInfo(&later) == csysOk && std::memcmp(&later, &forced, sizeof info) == 0);
    REQUIRE(csys_cpuDispatchInfo(&cpuClass, &features) == csysOk && cpuClass == 0 && features == csysCpuMmx);
    REQUIRE(csys_resetCpuInfo() == csysOk);
    REQUIRE(csys_getCpuInfo(&later) == csysOk && std::memcmp(&later, &info, sizeof info) == 0);
    REQUIRE(csys_getCpuInfo(nullptr) == csysErrNullArg && csys_overrideCpuInfo(nullptr) == csysErrNullArg);
    REQUIRE(csys_getOsVersion(nullptr) == csysErrNullArg && csys_lastLevelCacheBytes(nullptr) == csysErrNullArg);
    childExit(0);
}

TEST(CpuInfo, TheFirstSuccessfulReadingsAreKeptForTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(theFirstSuccessfulReadingsAreKept(), ::testing::ExitedWithCode(0), "");
}

// The first detection of this process happens here, raced by every thread,
// while others reset the effective copy.
TEST(CpuInfo, ConcurrentFirstCallersShareOneDescription)
{
    constexpr int kThreads = 6;
    csysCpuInfo seen[kThreads];
    csysStatus status[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen, &status] {
            unsigned char src[200] = {}, dst[200];
            status[t] = csys_getCpuInfo(&seen[t]);
            for (int i = 0; i < 200 && status[t] == csysOk; ++i) {
                status[t] = csys_memCopy(static_cast<int32_t>(sizeof src) - i % 7, src, dst);
                if (i % 50 == 0 && status[t] == csysOk)
                    status[t] = csys_resetCpuInfo();
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(std::tuple(status[t], std::memcmp(&seen[t], &seen[0], sizeof seen[0])), std::tuple(csysOk, 0));
}

TEST(OsVersion, CodesAndServicePacks)
{
    const struct {
        uint32_t platform, major, minor;
        const wchar_t* servicePack;
        int32_t code, servicePackNumber;
    } cases[] = {
        {0, 3, 11, L"", 1, -1}, {1, 4, 0, L"Service Pack 3", 2, 3}, {1, 4, 10, L"SP12a", 3, 12},
        {1, 4, 90, L"Beta", 3, 0}, {2, 4, 0, L"Pack 99999999999", 5, INT32_MAX},
        {2, 5, 2, L"", 6, -1}, {2, 5, 1, L"", 7, -1}, {2, 6, 0, L"", 8, -1},
        {2, 3, 51, L"Service Pack 5", 0, -1}, // old NT stops after the numbers
        {7, 1, 2, L"SP 1", 0, -1},             // an unknown platform gives nothing more
    };
    plat::setOsVersionSource(&recordedVersion);
    for (const auto& c : cases) {
        gVersion = plat::OsVersion{c.platform, c.major, c.minor, 1234, c.servicePack};
        csysOsVersion v;
        ASSERT_EQ(csys_readOsVersion(&v), csysOk);
        auto ifKnown = [&c](uint32_t n) { return c.platform <= 2 ? static_cast<int32_t>(n) : -1; };
        std::array<int32_t, 7> got; // filled, code, major, minor, build, service pack, spare
        std::memcpy(got.data(), &v, sizeof got);
        EXPECT_EQ(got, (std::array<int32_t, 7>{1, c.code, ifKnown(c.major), ifKnown(c.minor), ifKnown(1234),
                                               c.servicePackNumber, -1}))
            << c.platform << " " << c.major << "." << c.minor;
    }
    EXPECT_EQ(csys_readOsVersion(nullptr), csysErrNullArg);
    plat::setOsVersionSource(nullptr);
}

} // namespace
