#include "modules/parallel_io.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "modules/board.h"
#include "modules/fgproxy.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

TEST(LineHandle, WithoutALineThrowsNotEnabledOrCannotEnable)
{
    const ccOutputLine out;
    EXPECT_THROW(out.value(), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.setValue(true), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.lineNumber(), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.enable(false), ccParallelIO::CannotEnable);
    EXPECT_THROW(out.isEnabled(), ccParallelIO::NotEnabled);
    EXPECT_THROW(out.canBeEnabled(), ccParallelIO::CannotEnable);
    EXPECT_THROW(out.pulse(true, 1, false), ccParallelIO::NotEnabled);
}

// A board whose output line 2 answers no 69; the other lines are the simulator's.
struct Without69 : ccIComponent_ParallelIO {
    int32_t query(ccIUnknown** out, int32_t id) override
    {
        *out = id == ccIidParallelIO ? this : nullptr;
        return 0;
    }
    uint32_t addRef() override { return 1; }
    uint32_t release() override { return 1; }
    int32_t counts(uint32_t* inputs, uint32_t* outputs) override { return io->counts(inputs, outputs); }
    int32_t line(ccIUnknown** line, uint32_t direction, uint32_t number) override
    {
        return direction == 0 && number == 2 ? query(line, ccIidParallelIO) : io->line(line, direction, number);
    }
    cc_ModPtr<ccIComponent_ParallelIO> io;
};

// Outside the code table: every question is Unspecified.
struct Outside : cc_IOTableConfig<Outside, 0> {};

// The parallel I/O under test, building its line table from board at the
// first use, as a board does (again when code changes); every module line it
// took goes back on close.
class ParallelIO : public testing::Test, public ccUnknownPIO {
protected:
    static void SetUpTestSuite() { ccModulesStartup(); }
    ~ParallelIO() override
    {
        closeParallelIO();
        EXPECT_EQ(sim_module::audit().live, live);
    }
    void ensureReady() override
    {
        if (std::exchange(built, code) != code)
            attachLineTable(buildLineTable(board, *grabber), code);
    }
    ccFrameGrabber& ioFrameGrabber() override { throw std::logic_error("not asked here"); }

    sim_module::Board simBoard;
    std::unique_ptr<cc_UnknownFrameGrabber> grabber{
        cc_UnknownFrameGrabber::create(simBoard.module, simBoard.board.get())};
    const uint32_t live = sim_module::audit().live;
    ccIUnknown* board = simBoard.board.get();
    int32_t code = 4;
    int32_t built = -1;
};

TEST_F(ParallelIO, AbsentLinesTablesAndConfigurationsAreBadParams)
{
    Without69 fake;
    fake.io = ccModQuery<ccIComponent_ParallelIO>(board, ccIidParallelIO);
    board = &fake;
    sim_module::failNext(ccIidParallelIO, 4, ccBoard::Timeout(L"Lost", 5));
    EXPECT_THROW(outputLine(0), ccBoard::Timeout);
    code = 0;
    EXPECT_THROW(inputLine(0), ccParallelIO::BadParams);
    EXPECT_THROW(numOutputLines(), ccParallelIO::BadParams);
    code = 4;
    EXPECT_EQ(std::make_tuple(numInputLines(), numOutputLines()), std::make_tuple(16u, 20u));
    EXPECT_THROW(outputLine(2), ccParallelIO::BadParams);
    EXPECT_EQ(outputLine(3).lineNumber(), 3u);
}

TEST_F(ParallelIO, OnlyTableClassesAreToldToTheModule)
{
    sim().setLineCounts(0, 300);
    setIOConfig(Outside());
    EXPECT_EQ(sim().ioCode(), 4);
    EXPECT_THROW(outputLine(264), ccParallelIO::BadParams); // before the 8-bit check would see 8
    EXPECT_THROW(outputLine(255), ccParallelIO::Unspecified);
    EXPECT_EQ(sim().callCount(ccIidParallelIO, 4), 256u); // no line above 255 asked of the module
    setIOConfig(ccIOLightControlOption());
    EXPECT_EQ(sim().ioCode(), 6);
    sim_module::failNext(ccIidIOSetting, 3, ccBoard::Timeout(L"Lost", 5));
    EXPECT_THROW(setIOConfig(ccIO7312()), ccBoard::Timeout);
}

TEST_F(ParallelIO, LinesFrom8WhenTheCoreAnswers105ReachTheModule)
{
    sim().setOffered(ccIidLinesFrom8, 1);
    EXPECT_EQ(inputLine(8).lineNumber(), 8u);
    EXPECT_THROW(inputLine(7), ccParallelIO::BadParams);
    const ccOutputLine out = outputLine(15);
    out.setValue(true);
    EXPECT_TRUE(out.value());
    out.pulse(true, 0.25, false);
    double a[3] = {};
    EXPECT_EQ(std::vector<double>(a, a + sim().lastArgs(ccIidLineIO, 9, a, 3)), (std::vector<double>{1, 0.25, 0}));
    sim_module::failNext(ccIidLineIO, 7, ccBoard::Timeout(L"Lost", 5));
    EXPECT_THROW(out.value(), ccBoard::Timeout);
}

TEST_F(ParallelIO, LineOperationsReachTheirSlotsAndEdgeKindsTravelAsCodes)
{
    const std::unique_ptr<cc_UnknownLineTable> table(buildLineTable(board, *grabber));
    cc_IOLine& line = table->inputLine(0);
    line.enable(true);
    line.toggle();
    sim().setAnswer(ccIidLineIO, 6, 0, 0);
    EXPECT_EQ(std::make_tuple(line.value(), line.canBeEnabled()), std::make_tuple(true, false));
    std::vector<double> codes;
    for (uint32_t kind : {0u, 1u, 2u, 3u, 7u}) {
        line.stopEdgeKind(kind);
        sim().lastArgs(ccIidLineIO, 11, &codes.emplace_back(), 1);
    }
    EXPECT_EQ(codes, (std::vector<double>{1, 2, 3, 4, 4}));
}

// One thread changes a board's configuration while another asks for its
// lines and counts: every answer is one of a configuration in force.
TEST(BoardLines, ConfigurationChangesAndLineLookUpsMeetFromAnyThread)
{
    ccModulesStartup();
    sim_module::Board simBoard;
    cc7320 board(std::make_unique<cc_BoardEntry>(simBoard.module, 0, L"sim0"), std::move(simBoard.board));
    constexpr int kRounds = 1000;
    std::thread changer([&] {
        for (int i = 0; i < kRounds; ++i) {
            board.setIOConfig(ccIOExternalOption()); // 8 inputs
            board.setIOConfig(ccIOStandardOption()); // 16 inputs
        }
    });
    int odd = 0;
    for (int i = 0; i < kRounds; ++i) {
        const uint32_t inputs = board.numInputLines();
        odd += (inputs != 8 && inputs != 16) + (board.ioConfig().numOutputLines() != 20);
        odd += board.outputLine(19).lineNumber() != 19; // an output of both
        try {
            odd += board.inputLine(12).lineNumber() != 12; // an input of the standard option only
        } catch (const ccParallelIO::BadParams&) {
        }
    }
    changer.join();
    EXPECT_EQ(odd, 0);
}

} // namespace
