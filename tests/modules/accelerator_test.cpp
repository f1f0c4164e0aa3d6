#include "modules/accelerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "modules/startup.h"
#include "std/except/resource.h"

// Copies through the proxy are tested with the remote frames that use them.
namespace {

TEST(ModAcceleratorProxy, OpensNothingAndWaitsForNothing)
{
    ccModulesStartup();
    cc_ModAcceleratorProxy proxy(std::make_unique<cc_ModFastImageTransfer>());
    const struct { int32_t from, to; bool supported; } depths[] = {
        {8, 8, true}, {8, 16, true}, {8, 32, true}, {16, 32, true}, {16, 16, false}, {32, 8, false}};
    for (const auto& d : depths)
        EXPECT_EQ(proxy.supportsDepths(d.from, d.to), d.supported) << d.from << "->" << d.to;
    std::unique_ptr<ccCommStreambuf> reading, storing;
    EXPECT_THROW(proxy.connect(0, reading, storing, 1.0), cc_Resource::BrokenLock);
    proxy.openChannel(0, reading, storing, 1.0);
    EXPECT_FALSE(reading || storing);
    EXPECT_TRUE(proxy.isClosed() && proxy.isSecondary() && proxy.imageTransfer() == proxy.fastTransfer());
    EXPECT_FALSE(proxy.setTimeout(1.0));
    EXPECT_FALSE(proxy.waitFor(HUGE_VAL)); // at once
}

} // namespace
