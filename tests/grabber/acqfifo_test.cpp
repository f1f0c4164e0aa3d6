#include "grabber/acqfifo.h"

#include <gtest/gtest.h>

#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

TEST(AcqFifoObject, Smoke)
{
    sim().reset();
    sim().setFrameSize(16, 8);
    IDispatch* d = nullptr;
    ASSERT_EQ(ccCreateAcqFifoObject(0, L"Sony XC75 640x480", 0, &d), S_OK);
    IQorAcqFifo7320* fifo = nullptr;
    ASSERT_EQ(d->QueryInterface(IID_IQorAcqFifo7320, reinterpret_cast<void**>(&fifo)), S_OK);
    LONG ticket = -1, trigger = -1;
    ASSERT_EQ(fifo->Start(&ticket), S_OK);
    IQorImage* image = nullptr;
    ASSERT_EQ(fifo->Complete(ticket, &trigger, &image), S_OK);
    LONG w = 0, h = 0;
    image->get_Width(&w);
    image->get_Height(&h);
    EXPECT_EQ(w, 16);
    EXPECT_EQ(h, 8);
    EXPECT_EQ(image->pelData()[17], ccSimPel(1, 1, ticket, 0));
    image->Release();
    ASSERT_EQ(fifo->Acquire(&trigger, &image), S_OK);
    image->Release();
    fifo->Release();
    d->Release();
}

} // namespace
