// Every module call of a board's life failing in turn, on every model of the
// family: whatever fails, each reference the library took goes back once.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>

#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/stdacqfifo.h"
#include "modules/family.h"
#include "modules/startup.h"
#include "platform/event_log_testing.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

// A release through one interface of an object that pairs with a reference
// taken through another is one too many, although the object's count comes
// out even.
TEST(ModuleFailures, TheAuditCountsTheReferencesOfEachInterfaceApart)
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

struct Ignored : ccCallback1<const void*> {
    void operator()(const void*) override {}
};

// What a client does with a board: its serial number, a FIFO with a
// property set, one acquisition, both kinds of line (transitions raised on
// the input while it is watched), and the board's close.
void useBoard(ccBoard& board, int input, int output)
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
    if (auto* io = dynamic_cast<ccParallelIO*>(&board); io && input >= 0) {
        io->outputLine(static_cast<uint32_t>(output)).setValue(true);
        ccInputLine line = io->inputLine(static_cast<uint32_t>(input));
        const ccInputLine::CallbackHandle handle = line.registerCallback(new Ignored, nullptr, 6, 1);
        sim().raiseEdges(static_cast<uint32_t>(input), 2, 2);
        sim().waitEdges();
    }
    dynamic_cast<ccUnknownFG&>(board).close();
}

TEST(ModuleFailures, EveryCallFailingInTurnLeavesNoReferenceHeldOrReleasedTwice)
{
    ccModulesStartup();
    const struct {
        const char* what;
        ccSimBoardModel model;
        int input, output; // lines of its configuration (-1: none)
    } kModels[] = {
        {"7310c", {{ccIid7310}, 1, 0, "SN"}, -1, 0},    {"7310m", {{ccIid7310}, 0, 0, "SN"}, -1, 0},
        {"7310l", {{ccIid7310l}, 0, 0, "SN"}, -1, 0},   {"7310d", {{ccIid7310d}, 0, 7, "SN"}, 0, 0},
        {"7312", {{ccIid7312}, 0, 0, "SN"}, 0, 0},      {"7320", {{ccIid7320}, 0, 0, "SN"}, 0, 0},
        {"7351", {{ccIid735x}, 0, 0, "SN"}, 0, 0},      {"7354", {{ccIid735x}, 1, 0, "SN"}, 0, 0},
        {"7350l", {{ccIid7350l}, 0, 0, "SN"}, 8, 8},    {"7360", {{ccIid7360}, 0, 0, "SN"}, 0, 0},
        {"7370", {{ccIid7370}, 0, 0, "SN"}, -1, -1},    {"no model", {{0}, 0, 0, "SN"}, -1, -1},
    };
    const test_bytes::Bytes error = sim_module::archived(ccBoard::Timeout(L"failed", 5));
    plat::collectEventLines(true); // what a dispatcher thread meets is logged
    for (const auto& m : kModels) {
        bool failed = true, completed = false;
        for (uint32_t n = 1; failed; ++n) {
            SCOPED_TRACE(testing::Message() << m.what << ", call " << n << " fails");
            {
                sim_module::FamilyBoard family(m.model);
                sim().failCall(n, error.data(), static_cast<uint32_t>(error.size()), ccSimErrorBytes);
                try {
                    useBoard(family.load(), m.input, m.output);
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
        EXPECT_TRUE(completed) << m.what; // the run without a failure
    }
    plat::collectEventLines(false);
    (void)plat::takeEventLines();
}

} // namespace
