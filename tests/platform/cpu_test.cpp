#include <gtest/gtest.h>

#include <tuple>

#include "platform/cpu.h"
#include "platform/cpu_testing.h"

namespace {

TEST(Cpuid, HardwareLeavesAndLeavesBeyondTheTop)
{
    ASSERT_GE(plat::cpuid(0).eax, 1u);
    // Past the top of the basic and of the extended range (where there is one).
    for (uint32_t range : {0u, 0x80000000u}) {
        const uint32_t last = plat::cpuid(range).eax;
        const plat::CpuidRegisters beyond = last >= range ? plat::cpuid(last + 1) : plat::CpuidRegisters{};
        EXPECT_EQ(beyond.eax | beyond.ebx | beyond.ecx | beyond.edx, 0u) << std::hex << last;
    }
}

// The family and revision that the system reports are the processor's
// display family and (display model << 8) | stepping from leaf 1: the
// extended family counts only for family 15, the extended model only from
// family 6 up.
TEST(SystemInfo, ProcessorLevelAndRevisionFollowLeafOne)
{
    const struct { uint32_t eax, level, revision; } cases[] = {
        {0x000306A9u, 6, 0x3A09}, {0x00000F29u, 15, 0x0209}, {0x00A20F10u, 0x19, 0x2100},
        {0x0FF00F00u, 0x10E, 0x0000}, {0x00010543u, 5, 0x0403}, {0x00F00543u, 5, 0x0403},
    };
    for (const auto& c : cases) {
        plat::setCpuidRecords({{1, 0, -1, {c.eax, 0, 0, 0}}, {1, 0, -1, {}}}); // the first match answers
        const plat::SystemInfo info = plat::systemInfo();
        plat::setCpuidRecords({});
        EXPECT_EQ(std::tuple(info.processorLevel, info.processorRevision), std::tuple(c.level, c.revision))
            << std::hex << c.eax;
    }
    // Cleared records give the instruction back: SSE2 is part of every x86_64 processor.
    EXPECT_NE(plat::cpuid(1).edx & (1u << 26), 0u);
}

// Restoring a saved affinity is the system layer's test (CpuDetection).
TEST(Affinity, APinnedThreadRunsOnItsProcessorAndNoProcessorOrNoRecordFails)
{
    const uint32_t mask = plat::processAffinityMask();
    plat::ThreadAffinity saved;
    ASSERT_TRUE(mask != 0 && plat::getThreadAffinity(&saved));
    ASSERT_TRUE(plat::setThreadAffinityMask(mask & (~mask + 1)));
    EXPECT_EQ(plat::currentProcessor(), __builtin_ctz(mask));
    EXPECT_FALSE(plat::setThreadAffinityMask(0) || plat::getThreadAffinity(nullptr));
    ASSERT_TRUE(plat::setThreadAffinity(saved));
}

} // namespace
