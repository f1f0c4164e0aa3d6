// The EERAM accessor's calls, with and without the module's optional
// auxiliary store.
#include "modules/eeram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "modules/board.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

std::vector<double> lastArgs(int32_t iid, int32_t slot)
{
    double out[16] = {};
    return std::vector<double>(out, out + std::min(sim().lastArgs(iid, slot, out, 16), 16u));
}

TEST(EERAMAccessor, ForwardsEachCallAndAnswersNeutrallyWithoutTheAuxiliaryStore)
{
    ccModulesStartup();
    for (const bool aux : {true, false}) {
        {
            sim_module::Board board;
            const std::unique_ptr<cc_UnknownFrameGrabber> grabber(
                cc_UnknownFrameGrabber::create(board.module, board.board.get()));
            const std::vector<uint8_t> contents = {1, 2, 3, 4, 5, 6, 7, 8};
            sim().setEERAM(contents.data(), static_cast<uint32_t>(contents.size()));
            sim().setAnswer(ccIidEERAMAux, 3, 0, 64);
            sim().setOffered(ccIidEERAMAux, aux);
            const std::unique_ptr<cc_Info> eeram = ccCreateEERAMAccessor(board.board.get(), *grabber);
            ASSERT_NE(eeram, nullptr);
            EXPECT_TRUE(eeram->isAvailable());
            EXPECT_EQ(eeram->size(), 8u);
            uint8_t block[3] = {};
            eeram->read(2, block, 3);
            EXPECT_EQ(std::vector<uint8_t>(block, block + 3), (std::vector<uint8_t>{3, 4, 5}));
            const uint8_t written[2] = {9, 9};
            eeram->write(6, written, 2);
            eeram->read(5, block, 3);
            EXPECT_EQ(std::vector<uint8_t>(block, block + 3), (std::vector<uint8_t>{6, 9, 9}));

            EXPECT_EQ(eeram->auxSize(), aux ? 64u : 0u);
            const uint32_t writes = sim().callCount(ccIidEERAMAux, 4);
            eeram->auxWrite(5, 6);
            EXPECT_EQ(sim().callCount(ccIidEERAMAux, 4) - writes, uint32_t(aux));
            if (aux) {
                EXPECT_EQ(lastArgs(ccIidEERAMAux, 4), (std::vector<double>{5, 6}));
                sim_module::failNext(ccIidEERAMAux, 3, ccBoard::HardwareNotResponding(L"gone", 7u));
                EXPECT_THROW(eeram->auxSize(), ccBoard::HardwareNotResponding);
            }
            sim_module::failNext(ccIidEERAM, 5, ccBoard::HardwareNotResponding(L"gone", 7u));
            EXPECT_THROW(eeram->write(0, written, 2), ccBoard::HardwareNotResponding);
        }
        sim_module::expectAllReleased();
    }
}

} // namespace
