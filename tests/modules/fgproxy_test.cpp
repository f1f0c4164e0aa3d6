#include "modules/fgproxy.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <utility>

#include "acq/vidfmt/vidfmt.h"
#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "std/except/archutil.h" // sim_module.h needs it
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

class GrabberProxy : public testing::Test {
protected:
    static void SetUpTestSuite() { ccModulesStartup(); }
    std::unique_ptr<cc_UnknownFrameGrabber> make()
    {
        return std::unique_ptr<cc_UnknownFrameGrabber>(cc_UnknownFrameGrabber::create(board.module, board.board.get()));
    }
    sim_module::Board board;
    cs_vidFmtRecord record{u"Sim 640x480", 640, 480, 8, 0, 0, 1, 1};
    cc_VidFmtDesc description{&record, -1};
};

TEST_F(GrabberProxy, BoardWithoutGrabberCoreIsRefusedAndKeepsNothing)
{
    sim().setOffered(ccIidGrabberCore, 0);
    EXPECT_THROW(make(), ccUnknownFG::MissingFunctionality);
    board.board.reset();
    board.module = nullptr;
    sim_module::expectAllReleased();
}

TEST_F(GrabberProxy, FormatSupportAsksTheCreatorOrForGrey8TheCore)
{
    const struct { int32_t creator, code; bool supported; uint32_t creatorCalls, coreCalls; } cases[] = {
        {1, 8, true, 1, 0}, {0, 8, false, 1, 0}, {0, -1, true, 1, 1}, {0, 0, true, 1, 2}}; // calls so far
    for (const auto& c : cases) {
        sim().setOffered(ccIidFifoCreator, c.creator);
        EXPECT_EQ(make()->isFormatSupported(description, c.code), c.supported);
        EXPECT_EQ(sim().callCount(ccIidFifoCreator, 4), c.creatorCalls) << c.code;
        EXPECT_EQ(sim().callCount(ccIidGrabberCore, 4), c.coreCalls) << c.code;
    }
    double code = 0;
    EXPECT_EQ(sim().lastArgs(ccIidFifoCreator, 4, &code, 1) == 1 ? code : -2.0, 8.0);
    char16_t name[16] = {};
    EXPECT_EQ(std::u16string(name, sim().lastText(ccIidGrabberCore, 4, name, 15)), u"Sim 640x480");
}

TEST_F(GrabberProxy, BoardOperationsGoToTheirInterfacesOrAnswerNeutrally)
{
    for (const auto& [iid, slot, value] : {std::tuple{66, 3, 7}, {23, 3, 42}, {23, 6, 3}, {23, 7, 1}})
        sim().setAnswer(iid, slot, 0, value);
    sim().setText(ccIidGrabberInfo, 4, std::u16string(300, u'x').c_str());
    auto grabber = make();
    EXPECT_EQ(std::make_tuple(grabber->tvmId(), grabber->coreValue(), grabber->numCameraPorts(description),
                              grabber->hasFormatOptions(), grabber->uniqueId()),
              std::make_tuple(7, 42, 3u, true, std::wstring(256, L'x')));
    grabber->disconnect(true);
    double flag = 0;
    EXPECT_EQ(sim().lastArgs(ccIidGrabberInfo, 3, &flag, 1) == 1 ? flag : -1.0, 1.0);
    const std::pair<const cc_fifoKindTag&, int32_t> kinds[] = {{cc_fifoKindTag::threePlane(), 2},
        {cc_fifoKindTag::rgb16(), 8}, {cc_fifoKindTag::rgb32(), 1}, {cc_fifoKindTag::other(), 9},
        {cc_fifoKindTag::grey(), 0}};
    for (const auto& [tag, code] : kinds) { // the module code each FIFO kind is made with
        delete grabber->newAcqFifoImpl(description, tag);
        EXPECT_EQ(sim().lastArgs(ccIidFifoCreator, 3, &flag, 1) == 1 ? flag : -1.0, code);
    }

    sim().setOffered(ccIidGrabberInfo, 0);
    sim().setOffered(ccIidGrabberTvm, 0);
    grabber = make();
    grabber->disconnect(true);
    EXPECT_EQ(std::make_tuple(grabber->tvmId(), grabber->uniqueId()), std::make_tuple(-2, std::wstring()));
    EXPECT_EQ(sim().callCount(ccIidGrabberInfo, 3), 1u);
}

TEST_F(GrabberProxy, ModuleErrorsComeBackAsTheModulesOwnExceptions)
{
    sim_module::failNext(ccIidGrabberCore, 6, ccBoard::Timeout(L"ports", 5));
    const auto grabber = make();
    EXPECT_THROW(grabber->numCameraPorts(description), ccBoard::Timeout); // as the module archived it
    // Copies of frames left in the module raise through the grabber too.
    EXPECT_EQ(grabber->accelerator().fastTransfer()->grabber(), grabber.get());
}

} // namespace
