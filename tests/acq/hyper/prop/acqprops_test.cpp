#include <gtest/gtest.h>

#include "acq/hyper/prop/acqprops.h"
#include "tests/support/fake_acqfifo.h"

namespace {

TEST(AcqProps, AttachAllAttachesEveryPropertyAndNullDetachesThem)
{
    test_acq::FakeAcqFifo board;
    ccAnalogAcqProps props;
    props.attachAll(&board);
    EXPECT_EQ(static_cast<ccSyncProp&>(props).fifo(), &board);
    props.attachAll(nullptr);
    EXPECT_EQ(static_cast<ccSyncProp&>(props).fifo(), nullptr);
}

} // namespace
