#include "modules/family.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <tuple>
#include <typeinfo>

#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "modules/startup.h"
#include "platform/event_log_testing.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

// The board is of class B alone, and the only one in B's table.
template <class B>
bool builtAs(ccBoard& board)
{
    return typeid(board) == typeid(B) && B::numBoards() == 1 && &B::getBoard(0) == &board;
}

bool plain(ccBoard& board)
{
    return typeid(board) == typeid(ccUnknownFG);
}

// The id-117 flag of a 735x; -1 for any other board.
int extraFlag(ccBoard& board)
{
    if (auto* b = dynamic_cast<cc7351*>(&board))
        return b->extraFlag();
    if (auto* b = dynamic_cast<cc7354*>(&board))
        return b->extraFlag();
    return -1;
}

struct Ignored : ccCallback1<const void*> {
    void operator()(const void*) override {}
};

// Each model of the family: the class built, the I/O code its lines are
// bound with (0: none sent), its 735x flag, and the lines its configuration
// has (-1: none). Every module reference goes back once when its registry
// goes, what the model holds of its model interface among them.
const struct Model {
    const char* what;
    ccSimBoardModel model;
    int32_t hidden;    // an id the module does not offer (0: none)
    int32_t coreValue; // 23 slot 3
    bool (*built)(ccBoard&);
    int32_t code;
    int flag;
    int input, output;
} kModels[] = {
    {"7310c", {{ccIid7310}, 1, 0, nullptr}, 0, 0, &builtAs<cc7310c>, 8, -1, -1, 0},
    {"7310m", {{ccIid7310}, 0, 0, nullptr}, 0, 0, &builtAs<cc7310m>, 8, -1, -1, 0},
    {"64 wins over 63", {{ccIid7320, ccIid7310}, 1, 0, nullptr}, 0, 0, &builtAs<cc7310c>, 8, -1, -1, 0},
    {"7310l", {{ccIid7310l}, 0, 0, nullptr}, 0, 0, &builtAs<cc7310l>, 8, -1, -1, 0},
    {"7310d, multi-channel", {{ccIid7310d}, 0, 7, nullptr}, 0, 0, &builtAs<cc7310d>, 11, -1, 0, 0},
    {"7310d, single channel", {{ccIid7310d}, 0, 7, nullptr}, 0, 1, &builtAs<cc7310d>, 9, -1, 0, 0},
    {"7312", {{ccIid7312}, 0, 0, nullptr}, 0, 0, &builtAs<cc7312>, 13, -1, 0, 0},
    {"7320", {{ccIid7320}, 0, 0, nullptr}, 0, 0, &builtAs<cc7320>, 4, -1, 0, 0},
    {"7351", {{ccIid735x}, 0, 0, nullptr}, 0, 0, &builtAs<cc7351>, 14, 1, 0, 0},
    {"7351 without 117", {{ccIid735x}, 0, 0, nullptr}, ccIid735xExtra, 0, &builtAs<cc7351>, 14, 0, 0, 0},
    {"7354, never a 7350l", {{ccIid7350l, ccIid735x}, 1, 0, nullptr}, 0, 0, &builtAs<cc7354>, 15, 1, 0, 0},
    {"7350l", {{ccIid7350l}, 0, 0, nullptr}, 0, 0, &builtAs<cc7350l>, 26, -1, 8, 8},
    {"7370", {{ccIid7370}, 0, 0, nullptr}, 0, 0, &builtAs<cc7370>, 0, -1, -1, -1},
    {"7360", {{ccIid7360}, 0, 0, nullptr}, 0, 0, &builtAs<cc7360>, 1, -1, 0, 0},
    {"7360 without its held ids", {{ccIid7360}, 0, 0, nullptr}, ccIid7360B, 0, &builtAs<cc7360>, 1, -1, 0, 0},
    {"no model", {{0}, 0, 0, nullptr}, 0, 0, &plain, 0, -1, -1, -1},
};

TEST(Family, EachModelIsBuiltWithItsClassAndBindsItsIOCode)
{
    ccModulesStartup();
    for (const Model& c : kModels) {
        SCOPED_TRACE(c.what);
        {
            sim_module::FamilyBoard family(c.model);
            if (c.hidden != 0)
                sim().setOffered(c.hidden, 0);
            sim().setAnswer(ccIidGrabberCore, 3, 0, c.coreValue);
            ccBoard& board = family.load();
            EXPECT_TRUE(c.built(board));
            EXPECT_NE(dynamic_cast<ccFrameGrabber&>(board).frameGrabberImpl(), nullptr); // binds the lines
            EXPECT_EQ(std::make_tuple(extraFlag(board), sim().ioCode()), std::make_tuple(c.flag, c.code));
        }
        sim_module::expectAllReleased();
    }
}

// What a client does with a board: its serial number, a FIFO with a
// property set, one acquisition, both kinds of line (transitions raised on
// the input while it is watched), and the board's close.
void useBoard(ccBoard& board, const Model& m)
{
    (void)board.serialNumber();
    {
        ccStdGreyAcqFifo fifo(ccVidFmtSonyXC75_640x480(), dynamic_cast<ccFrameGrabber&>(board));
        fifo.acqProps().exposure(0.01);
        (void)fifo.start(1);
        ccAcqCompleteArgs args;
        args.timeout = 1.0;
        std::unique_ptr<ccPelBuffer<unsigned char>> frame(fifo.completeToBuffer(args));
    }
    if (auto* io = dynamic_cast<ccParallelIO*>(&board); io && m.output >= 0) {
        io->outputLine(static_cast<uint32_t>(m.output)).setValue(true);
        if (m.input >= 0) {
            ccInputLine line = io->inputLine(static_cast<uint32_t>(m.input));
            const ccInputLine::CallbackHandle handle = line.registerCallback(new Ignored, nullptr, 6, 1);
            sim().raiseEdges(static_cast<uint32_t>(m.input), 2, 2);
            sim().waitEdges();
        }
    }
    dynamic_cast<ccUnknownFG&>(board).close();
}

// Every module call of a board's life fails in turn, until a life passes
// without a failure: whatever fails, each reference the library took goes
// back once.
TEST(Family, EveryCallFailingInTurnLeavesNoReferenceHeldOrReleasedTwice)
{
    ccModulesStartup();
    const test_bytes::Bytes error = sim_module::archived(ccBoard::Timeout(L"failed", 5));
    plat::collectEventLines(true); // what a dispatcher thread meets is logged
    for (const Model& m : kModels) {
        if (m.hidden != 0 || m.coreValue != 0)
            continue;
        bool failed = true, completed = false;
        for (uint32_t n = 1; failed; ++n) {
            SCOPED_TRACE(testing::Message() << m.what << ", call " << n << " fails");
            {
                sim_module::FamilyBoard family(m.model);
                sim().failCall(n, error.data(), static_cast<uint32_t>(error.size()), ccSimErrorBytes);
                try {
                    useBoard(family.load(), m);
                    completed = true;
                } catch (...) {
                    completed = false;
                }
                failed = sim().calls() >= n;
            }
            EXPECT_EQ(sim().liveFifos(), 0u);
            const ccSimAudit a = sim_module::audit();
            ASSERT_EQ(std::make_tuple(a.live, a.references, a.overReleases), std::make_tuple(0u, 0u, 0u));
        }
        EXPECT_TRUE(completed) << m.what; // the life without a failure
    }
    plat::collectEventLines(false);
    (void)plat::takeEventLines();
}

// A release through one interface of an object that pairs with a reference
// taken through another is one too many, although the object's count comes
// out even.
TEST(Family, TheAuditCountsTheReferencesOfEachInterfaceApart)
{
    sim_module::Board simBoard;
    ccIUnknown* core = nullptr;
    ccIUnknown* setting = nullptr;
    ASSERT_EQ(simBoard.board->query(&core, ccIidGrabberCore), 0);
    ASSERT_EQ(core->query(&setting, ccIidIOSetting), 0);
    const ccSimAudit before = sim_module::audit();
    core->release();
    core->release(); // the reference of setting
    const ccSimAudit after = sim_module::audit();
    EXPECT_EQ(std::make_tuple(before.references - after.references, after.overReleases - before.overReleases,
                              after.live),
              std::make_tuple(1u, 1u, before.live));
    setting->release();
}

// A module error while the 7310d reads its channels comes through, and the
// next use makes the cameras.
TEST(Family, A7310dChannelThatFailsRaisesTheModulesErrorUntilTheNextUse)
{
    ccModulesStartup();
    sim_module::FamilyBoard family({{ccIid7310d}, 0, 7, nullptr});
    auto& board = dynamic_cast<cc7310d&>(family.load());
    sim_module::failNext(ccIidLinkCamera, 3, ccBoard::HardwareNotResponding(L"channel", 2u));
    EXPECT_THROW(board.camera(0), ccBoard::HardwareNotResponding);
    EXPECT_NE(board.camera(0), nullptr);
}

// A model whose variant the module fails to give is not built.
TEST(Family, AVariantTheModuleFailsToGiveLeavesTheBoardUnbuilt)
{
    ccModulesStartup();
    for (int32_t iid : {ccIid7310, ccIid735x}) {
        sim_module::FamilyBoard family({{iid}, 1, 0, nullptr});
        sim_module::failNext(iid, 3, ccBoard::HardwareNotResponding(L"variant", 3u));
        EXPECT_THROW(family.load(), std::runtime_error) << iid;
    }
}

} // namespace
