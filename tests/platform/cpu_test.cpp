#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "platform/cpu.h"
#include "platform/cpu_testing.h"

namespace {

TEST(Cpuid, HardwareLeavesAndLeavesBeyondTheTop)
{
    plat::CpuidRegisters top = plat::cpuid(0);
    ASSERT_GE(top.eax, 1u);
    EXPECT_NE(top.ebx | top.ecx | top.edx, 0u);
    // SSE2 is part of every x86_64 processor.
    EXPECT_NE(plat::cpuid(1).edx & (1u << 26), 0u);

    // Past the top of the basic and of the extended range (where there is one).
    for (uint32_t range : {0u, 0x80000000u}) {
        const uint32_t last = plat::cpuid(range).eax;
        const plat::CpuidRegisters beyond = last >= range ? plat::cpuid(last + 1) : plat::CpuidRegisters{};
        EXPECT_EQ(beyond.eax | beyond.ebx | beyond.ecx | beyond.edx, 0u) << std::hex << last;
    }
}

TEST(Cpuid, RecordsReplaceTheInstructionUntilCleared)
{
    plat::CpuidRegisters real = plat::cpuid(0);
    plat::setCpuidRecords({{0, 0, -1, {7, 1, 2, 3}}, {4, 1, -1, {9, 9, 9, 9}}, {4, 1, -1, {5, 5, 5, 5}}});
    plat::CpuidRegisters r = plat::cpuid(0);
    EXPECT_EQ(std::tuple(r.eax, r.edx), std::tuple(7u, 3u));
    EXPECT_EQ(plat::cpuid(4, 1).eax, 9u); // the first match
    EXPECT_EQ(plat::cpuid(4, 0).eax, 0u); // unrecorded subleaf
    EXPECT_EQ(plat::cpuid(1).edx, 0u);
    plat::setCpuidRecords({});
    r = plat::cpuid(0);
    EXPECT_EQ(std::tuple(r.eax, r.ebx), std::tuple(real.eax, real.ebx));
}

// The family and revision that the system reports are the processor's
// display family and (display model << 8) | stepping from leaf 1: the
// extended family counts only for family 15, the extended model only from
// family 6 up.
TEST(SystemInfo, ProcessorLevelAndRevisionFollowLeafOne)
{
    const struct {
        uint32_t eax;
        uint32_t level;
        uint32_t revision;
    } cases[] = {
        {0x000306A9u, 6, 0x3A09},    {0x00000F29u, 15, 0x0209}, {0x00A20F10u, 0x19, 0x2100},
        {0x0FF00F00u, 0x10E, 0x0000}, {0x00010543u, 5, 0x0403}, {0x00F00543u, 5, 0x0403},
        {0x00000480u, 4, 0x0800},
    };
    for (const auto& c : cases) {
        plat::setCpuidRecords({{1, 0, -1, {c.eax, 0, 0, 0}}});
        plat::SystemInfo info = plat::systemInfo();
        plat::setCpuidRecords({});
        EXPECT_EQ(std::tuple(info.processorLevel, info.processorRevision), std::tuple(c.level, c.revision))
            << std::hex << c.eax;
    }
}

TEST(Affinity, PinAndRestore)
{
    uint32_t mask = plat::processAffinityMask();
    ASSERT_NE(mask, 0u);
    plat::ThreadAffinity saved;
    ASSERT_TRUE(plat::getThreadAffinity(&saved));

    uint32_t lowest = mask & (~mask + 1);
    ASSERT_TRUE(plat::setThreadAffinityMask(lowest));
    EXPECT_EQ(plat::currentProcessor(), __builtin_ctz(lowest));
    EXPECT_FALSE(plat::setThreadAffinityMask(0));

    ASSERT_TRUE(plat::setThreadAffinity(saved));
    plat::ThreadAffinity now;
    ASSERT_TRUE(plat::getThreadAffinity(&now));
    EXPECT_EQ(std::memcmp(now.bits, saved.bits, sizeof now.bits), 0);
    EXPECT_FALSE(plat::getThreadAffinity(nullptr));
}

} // namespace
