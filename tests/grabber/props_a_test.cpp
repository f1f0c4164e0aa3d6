#include <gtest/gtest.h>

#include "grabber/itf_props_a.h"
#include "tests/support/com_prop_host.h"

namespace {

using Host = ccComPropHost<IQorAcqBrightnessImpl, IQorAcqContrastImpl, IQorAcqBrightnessMultiChannelImpl,
    IQorAcqContrastMultiChannelImpl, IQorAcqSyncImpl, IQorAcqLightImpl, IQorAcqTriggerImpl,
    IQorAcqHorizontalAdjustmentImpl, IQorAcqChargeTransferIntervalImpl, IQorAcqExposureImpl, IQorAcqLookupTableImpl,
    IQorAcqStrobeImpl, IQorAcqSettlingTimeImpl, IQorAcqDigitalCameraGainImpl>;

TEST(PropsA, Builds)
{
    Host host;
    double v = 0;
    EXPECT_EQ(host.put_Exposure(0.01), S_OK);
    EXPECT_EQ(host.get_Exposure(&v), S_OK);
    EXPECT_EQ(v, 0.01);
}

} // namespace
