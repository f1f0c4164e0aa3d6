#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/cpu.h"
#include "platform/cpu_testing.h"
#include "system/csys_copy.h"
#include "system/csys_cpu.h"
#include "system/csys_cpu_testing.h"
#include "tests/support/child_check.h"
#include "tests/support/child_exit.h"

namespace {

// A recorded machine: the register sets that detection reads.
struct Machine {
    uint32_t maxLeaf = 0xD;
    const char* vendor = "GenuineIntel";
    uint32_t family = 6;
    uint32_t edx1 = (1u << 23) | (1u << 25) | (1u << 26); // MMX, SSE, SSE2
    uint32_t logicalPerPackage = 0;                        // EBX[23:16] of leaf 1
    uint32_t coresPerPackage = 1;                          // leaf 4
    uint32_t maxExtended = 0x80000008u;
    std::string brand = "Test Processor";                  // up to 48 bytes, padded with NUL
    int32_t processor = -1;

    std::vector<plat::CpuidRecord> records() const
    {
        plat::CpuidRegisters leaf0{maxLeaf, 0, 0, 0};
        std::memcpy(&leaf0.ebx, vendor + 0, 4);
        std::memcpy(&leaf0.edx, vendor + 4, 4);
        std::memcpy(&leaf0.ecx, vendor + 8, 4);
        std::vector<plat::CpuidRecord> r;
        r.push_back({0, 0, processor, leaf0});
        r.push_back({1, 0, processor, {family << 8, logicalPerPackage << 16, 0, edx1}});
        r.push_back({4, 0, processor, {(coresPerPackage - 1) << 26, 0, 0, 0}});
        r.push_back({0x80000000u, 0, processor, {maxExtended, 0, 0, 0}});
        char text[48] = {};
        std::memcpy(text, brand.data(), brand.size() < 48 ? brand.size() : 48);
        for (uint32_t i = 0; i < 3; ++i) {
            plat::CpuidRegisters b;
            std::memcpy(&b.eax, text + 16 * i + 0, 4);
            std::memcpy(&b.ebx, text + 16 * i + 4, 4);
            std::memcpy(&b.ecx, text + 16 * i + 8, 4);
            std::memcpy(&b.edx, text + 16 * i + 12, 4);
            r.push_back({0x80000002u + i, 0, processor, b});
        }
        return r;
    }
};

plat::SystemInfo recordedSystem(uint32_t processors)
{
    plat::SystemInfo s{};
    s.architecture = plat::Architecture::x86;
    s.processorCount = processors;
    s.activeProcessorMask = processors >= 32 ? 0xFFFFFFFFu : (1u << processors) - 1u;
    s.pageSize = 4096;
    s.processorType = 586;
    s.processorLevel = 6;
    s.processorRevision = 0x3A09;
    s.sseAvailable = true;
    s.sse2Available = true;
    return s;
}

// Detection against recorded registers and system information; the real ones
// come back at the end of the scope.
class Recorded {
public:
    explicit Recorded(const std::vector<plat::CpuidRecord>& records, const plat::SystemInfo& system)
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

csysCpuInfo detect(const Machine& m, uint32_t processors = 8)
{
    Recorded rec(m.records(), recordedSystem(processors));
    csysCpuInfo info;
    std::memset(&info, 0xCC, sizeof info);
    EXPECT_EQ(csys_detectCpuInfo(&info), csysOk);
    return info;
}

TEST(CpuDetection, GenerationFollowsFamily)
{
    const int32_t expected[][2] = {{4, 1}, {5, 2}, {6, 3}, {15, 4}, {3, 0}, {7, 0}};
    for (const auto& e : expected) {
        Machine m;
        m.family = static_cast<uint32_t>(e[0]);
        csysCpuInfo info = detect(m);
        EXPECT_EQ(info.family, e[0]);
        EXPECT_EQ(info.generation, e[1]) << "family " << e[0];
        EXPECT_EQ(info.cpuClass, 1);
        EXPECT_EQ(info.stage, 2);
    }
}

TEST(CpuDetection, FeaturesFromLeafOneAndTheSystem)
{
    Machine m;
    m.edx1 = 1u << 23;
    EXPECT_EQ(detect(m).features, csysCpuMmx);
    m.edx1 = (1u << 23) | (1u << 25);
    EXPECT_EQ(detect(m).features, csysCpuMmx | csysCpuSse);
    m.edx1 = 0xFFFFFFFFu; // every other bit stays out of the word
    EXPECT_EQ(detect(m).features, csysCpuMmx | csysCpuSse | csysCpuSse2);

    // Extensions the system does not save are not offered.
    plat::SystemInfo sys = recordedSystem(8);
    sys.sseAvailable = false;
    sys.sse2Available = false;
    Recorded rec(m.records(), sys);
    csysCpuInfo info;
    ASSERT_EQ(csys_detectCpuInfo(&info), csysOk);
    EXPECT_EQ(info.features, csysCpuMmx);
}

TEST(CpuDetection, RecordFieldsFromTheSystem)
{
    Machine m;
    m.family = 15; // leaf 1 wins over the system's level
    csysCpuInfo info = detect(m, 6);
    EXPECT_EQ(info.processorCount, 6);
    EXPECT_EQ(info.activeMask, 0x3Fu);
    EXPECT_EQ(info.revision, 0x3A09);
    EXPECT_EQ(info.family, 15);
}

TEST(CpuDetection, VendorIsTwelveCharactersAndOneFFByte)
{
    Machine m;
    m.vendor = "AuthenticAMD";
    csysCpuInfo info = detect(m);
    EXPECT_EQ(std::memcmp(info.vendor, "AuthenticAMD", 12), 0);
    EXPECT_EQ(info.vendor[12], 0xFF);
}

TEST(CpuDetection, CoreLayoutAndPackages)
{
    Machine m;
    m.edx1 |= 1u << 28;
    m.coresPerPackage = 4;
    m.logicalPerPackage = 8;
    csysCpuInfo info = detect(m, 16);
    EXPECT_EQ(info.coreLayout, (4 << 8) + 2);
    EXPECT_EQ(info.packageCount, 2);

    // Without the multi-thread bit, or below leaf 4, nothing is reported.
    Machine single = m;
    single.edx1 &= ~(1u << 28);
    info = detect(single, 16);
    EXPECT_EQ(info.coreLayout, 0x101);
    EXPECT_EQ(info.packageCount, 16);
    Machine old = m;
    old.maxLeaf = 3;
    EXPECT_EQ(detect(old, 16).coreLayout, 0x101);
}

TEST(CpuDetection, FewerLogicalProcessorsThanCoresGivesTheFlatLayout)
{
    Machine m;
    m.edx1 |= 1u << 28;
    m.coresPerPackage = 8;
    m.logicalPerPackage = 4; // logical per core would be 0
    csysCpuInfo info = detect(m, 4);
    EXPECT_EQ(info.coreLayout, 0x101);
    EXPECT_EQ(info.packageCount, 4);

    m.logicalPerPackage = 0;
    EXPECT_EQ(detect(m, 4).coreLayout, 0x101);
}

TEST(CpuDetection, PackageCountIsAtLeastOne)
{
    // Fewer processors online than one package claims.
    Machine m;
    m.edx1 |= 1u << 28;
    m.coresPerPackage = 8;
    m.logicalPerPackage = 16;
    csysCpuInfo info = detect(m, 4);
    EXPECT_EQ(info.coreLayout, (8 << 8) + 2);
    EXPECT_EQ(info.packageCount, 1);
}

TEST(CpuDetection, BrandString)
{
    Machine m;
    m.brand = "      Leading Spaces CPU @ 2.00GHz";
    EXPECT_STREQ(detect(m).brand, "Leading Spaces CPU @ 2.00GHz");

    // All 48 bytes used: the string is cut to keep its terminator.
    m.brand = std::string(48, 'X');
    csysCpuInfo info = detect(m);
    EXPECT_EQ(std::string(info.brand), std::string(47, 'X'));

    m.brand = std::string(48, ' ');
    EXPECT_STREQ(detect(m).brand, "");

    // Without the brand leaves the field stays zero.
    m.brand = "Hidden";
    m.maxExtended = 0x80000003u;
    info = detect(m);
    EXPECT_EQ(info.brand[0], '\0');
    EXPECT_EQ(std::memcmp(info.brand, std::string(48, '\0').data(), 48), 0);
}

TEST(CpuDetection, AnotherArchitectureFailsWithoutWritingTheRecord)
{
    plat::SystemInfo sys = recordedSystem(2);
    sys.architecture = plat::Architecture::other;
    Recorded rec(Machine().records(), sys);
    csysCpuInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(csys_detectCpuInfo(&info), csysErrNotX86);
    EXPECT_EQ(info.cpuClass, 0x5A5A5A5A);
}

std::vector<int32_t> processorsOfProcess()
{
    std::vector<int32_t> list;
    uint32_t mask = plat::processAffinityMask();
    for (int32_t n = 0; n < 32; ++n) {
        if (mask & (1u << n))
            list.push_back(n);
    }
    return list;
}

bool sameAffinity(const plat::ThreadAffinity& a, const plat::ThreadAffinity& b)
{
    return std::memcmp(a.bits, b.bits, sizeof a.bits) == 0;
}

TEST(CpuDetection, ReadsOnTheProcessorWithTheHighestBasicLeaf)
{
    std::vector<int32_t> cpus = processorsOfProcess();
    if (cpus.size() < 3)
        GTEST_SKIP() << "needs three processors";
    // The second and third report the same highest leaf: the first of them wins.
    std::vector<plat::CpuidRecord> records;
    for (size_t i = 0; i < cpus.size(); ++i) {
        Machine m;
        m.processor = cpus[i];
        m.maxLeaf = i == 1 || i == 2 ? 0x20 : 0x10;
        m.vendor = i == 1 ? "WinnerVendor" : i == 2 ? "TiedVendor.." : "OtherVendor.";
        for (const auto& r : m.records())
            records.push_back(r);
    }
    Recorded rec(records, recordedSystem(static_cast<uint32_t>(cpus.size())));
    csysCpuInfo info;
    ASSERT_EQ(csys_detectCpuInfo(&info), csysOk);
    EXPECT_EQ(std::memcmp(info.vendor, "WinnerVendor", 12), 0);
}

TEST(CpuDetection, RestoresTheCallersAffinity)
{
    std::vector<int32_t> cpus = processorsOfProcess();
    ASSERT_FALSE(cpus.empty());
    plat::ThreadAffinity original;
    ASSERT_TRUE(plat::getThreadAffinity(&original));

    // A caller pinned to one processor stays pinned there.
    ASSERT_TRUE(plat::setThreadAffinityMask(1u << cpus.back()));
    plat::ThreadAffinity pinned;
    ASSERT_TRUE(plat::getThreadAffinity(&pinned));
    csysCpuInfo info;
    ASSERT_EQ(csys_detectCpuInfo(&info), csysOk);
    plat::ThreadAffinity after;
    ASSERT_TRUE(plat::getThreadAffinity(&after));
    EXPECT_TRUE(sameAffinity(after, pinned));

    ASSERT_TRUE(plat::setThreadAffinity(original));
    ASSERT_EQ(csys_detectCpuInfo(&info), csysOk);
    ASSERT_TRUE(plat::getThreadAffinity(&after));
    EXPECT_TRUE(sameAffinity(after, original));
}

// The process's first call detects; a failed detection writes nothing and
// the next call detects again; the description then stays what was detected.
// Runs in a fresh process, so that no other test has detected first.
void theFirstSuccessfulDetectionIsKept()
{
    Machine m;
    m.vendor = "AuthenticAMD";
    m.family = 15;
    m.edx1 = (1u << 23) | (1u << 25); // no SSE2
    m.brand = "  Recorded Processor";
    plat::SystemInfo other = recordedSystem(4);
    other.architecture = plat::Architecture::other;
    csysCpuInfo info;
    std::memset(&info, 0x5A, sizeof info);
    {
        Recorded rec(m.records(), other);
        REQUIRE(csys_getCpuInfo(&info) == csysErrNotX86);
        REQUIRE(info.cpuClass == 0x5A5A5A5A);
    }
    {
        Recorded rec(m.records(), recordedSystem(4));
        REQUIRE(csys_getCpuInfo(&info) == csysOk);
    }
    REQUIRE(info.cpuClass == 1);
    REQUIRE(info.family == 15 && info.generation == 4);
    REQUIRE(info.revision == 0x3A09);
    REQUIRE(info.features == (csysCpuMmx | csysCpuSse));
    REQUIRE(info.stage == 2);
    REQUIRE(info.processorCount == 4 && info.activeMask == 0xFu);
    REQUIRE(std::memcmp(info.vendor, "AuthenticAMD", 12) == 0 && info.vendor[12] == 0xFF);
    REQUIRE(std::string(info.brand) == "Recorded Processor");
    int32_t cpuClass = 0;
    uint32_t features = 0;
    REQUIRE(csys_cpuDispatchInfo(&cpuClass, &features) == csysOk);
    REQUIRE(cpuClass == 1 && features == (csysCpuMmx | csysCpuSse));

    // Back on the real processor nothing is detected again.
    csysCpuInfo later;
    REQUIRE(csys_getCpuInfo(&later) == csysOk);
    REQUIRE(std::memcmp(&later, &info, sizeof info) == 0);
    REQUIRE(csys_resetCpuInfo() == csysOk);
    REQUIRE(csys_getCpuInfo(&later) == csysOk);
    REQUIRE(std::memcmp(&later, &info, sizeof info) == 0);
    REQUIRE(csys_getCpuInfo(nullptr) == csysErrNullArg);
    childExit(0);
}

TEST(CpuInfo, TheFirstSuccessfulDetectionIsKeptForTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(theFirstSuccessfulDetectionIsKept(), ::testing::ExitedWithCode(0), "");
}

TEST(CpuInfo, OverrideLastsUntilReset)
{
    csysCpuInfo detected;
    ASSERT_EQ(csys_getCpuInfo(&detected), csysOk);
    csysCpuInfo forced = detected;
    forced.features = csysCpuMmx;
    forced.family = 5;
    ASSERT_EQ(csys_overrideCpuInfo(&forced), csysOk);

    csysCpuInfo now;
    ASSERT_EQ(csys_getCpuInfo(&now), csysOk);
    EXPECT_EQ(now.features, csysCpuMmx);
    EXPECT_EQ(now.family, 5);
    int32_t cpuClass = 0;
    uint32_t features = 0;
    ASSERT_EQ(csys_cpuDispatchInfo(&cpuClass, &features), csysOk);
    EXPECT_EQ(features, csysCpuMmx);

    ASSERT_EQ(csys_resetCpuInfo(), csysOk);
    ASSERT_EQ(csys_getCpuInfo(&now), csysOk);
    EXPECT_EQ(std::memcmp(&now, &detected, sizeof now), 0);
    ASSERT_EQ(csys_cpuDispatchInfo(&cpuClass, &features), csysOk);
    EXPECT_EQ(features, detected.features);
    EXPECT_EQ(cpuClass, 1);
}

TEST(CpuInfo, ConcurrentFirstCallersShareOneDescription)
{
    // Each test runs in a process of its own, so the first detection happens
    // here, raced by every thread, while others reset the effective copy.
    constexpr int kThreads = 6;
    csysCpuInfo seen[kThreads];
    csysStatus status[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen, &status] {
            unsigned char src[200], dst[200];
            std::memset(src, t, sizeof src);
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
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(status[t], csysOk);
        EXPECT_EQ(std::memcmp(&seen[t], &seen[0], sizeof seen[0]), 0);
    }
}

// ---- Operating-system version

plat::OsVersion gVersion;
bool gRefuse = false;

bool recordedVersion(plat::OsVersion* v)
{
    if (gRefuse)
        return false;
    *v = gVersion;
    return true;
}

class OsVersionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gRefuse = false;
        plat::setOsVersionSource(&recordedVersion);
    }
    void TearDown() override { plat::setOsVersionSource(nullptr); }

    csysOsVersion read(uint32_t platform, uint32_t major, uint32_t minor, const wchar_t* servicePack = L"")
    {
        gVersion = plat::OsVersion{platform, major, minor, 1234, servicePack};
        csysOsVersion v;
        EXPECT_EQ(csys_readOsVersion(&v), csysOk);
        return v;
    }
};

TEST_F(OsVersionTest, OsCodes)
{
    struct Case {
        uint32_t platform, major, minor;
        int32_t code;
    };
    const Case cases[] = {
        {0, 3, 11, 1}, {1, 4, 0, 2}, {1, 4, 10, 3}, {1, 4, 90, 3}, {2, 4, 0, 5}, {2, 5, 0, 6},
        {2, 5, 2, 6},  {2, 5, 1, 7}, {2, 6, 0, 8},  {2, 6, 3, 8},  {2, 10, 0, 0}, {2, 3, 51, 0},
    };
    for (const Case& c : cases) {
        csysOsVersion v = read(c.platform, c.major, c.minor);
        EXPECT_EQ(v.osCode, c.code) << c.platform << " " << c.major << "." << c.minor;
        EXPECT_EQ(v.filled, 1);
        EXPECT_EQ(v.major, static_cast<int32_t>(c.major));
        EXPECT_EQ(v.build, 1234);
    }
}

TEST_F(OsVersionTest, ServicePackNumber)
{
    EXPECT_EQ(read(2, 5, 1, L"Service Pack 3").servicePack, 3);
    EXPECT_EQ(read(2, 5, 1, L"SP12a").servicePack, 12);
    EXPECT_EQ(read(2, 5, 1, L"Beta").servicePack, 0);
    EXPECT_EQ(read(2, 5, 1, L"").servicePack, -1);
    EXPECT_EQ(read(2, 5, 1, L"Pack 99999999999").servicePack, INT32_MAX);
    // Old NT stops after the numbers.
    csysOsVersion old = read(2, 3, 51, L"Service Pack 5");
    EXPECT_EQ(old.minor, 51);
    EXPECT_EQ(old.servicePack, -1);
    EXPECT_EQ(old.spare, -1);
}

TEST_F(OsVersionTest, UnknownPlatformAndRefusal)
{
    csysOsVersion v = read(7, 1, 2, L"SP 1");
    EXPECT_EQ(v.filled, 1);
    EXPECT_EQ(v.osCode, 0);
    EXPECT_EQ(v.major, -1);
    EXPECT_EQ(v.servicePack, -1);

    gRefuse = true;
    EXPECT_EQ(csys_readOsVersion(&v), csysErrFail);
    EXPECT_EQ(csys_readOsVersion(nullptr), csysErrNullArg);
}

// The version is read through the system's query once per process; a
// refusal writes nothing and the next call asks again. In a fresh process.
void theVersionIsReadOnce()
{
    plat::setOsVersionSource(&recordedVersion);
    gRefuse = true;
    csysOsVersion v;
    std::memset(&v, 0x5A, sizeof v);
    REQUIRE(csys_getOsVersion(&v) == csysErrFail);
    REQUIRE(v.filled == 0x5A5A5A5A);

    gRefuse = false;
    gVersion = plat::OsVersion{2, 5, 1, 2600, L"Service Pack 3"};
    REQUIRE(csys_getOsVersion(&v) == csysOk);
    REQUIRE(v.filled == 1 && v.osCode == 7);
    REQUIRE(v.major == 5 && v.minor == 1 && v.build == 2600 && v.servicePack == 3);

    gVersion = plat::OsVersion{2, 6, 1, 7601, L"Service Pack 1"};
    csysOsVersion later;
    REQUIRE(csys_getOsVersion(&later) == csysOk);
    REQUIRE(std::memcmp(&later, &v, sizeof v) == 0);
    REQUIRE(csys_getOsVersion(nullptr) == csysErrNullArg);
    childExit(0);
}

TEST(OsVersion, TheSystemsVersionIsReadOncePerProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(theVersionIsReadOnce(), ::testing::ExitedWithCode(0), "");
}

} // namespace
