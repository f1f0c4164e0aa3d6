#include "modules/board.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/propreq.h"
#include "acq/trigmodel.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/fgproxy.h"
#include "modules/internal/board_testing.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "platform/registry_testing.h"
#include "std/deferredinit.h"
#include "std/pelbuf/pelpool.h"
#include "tests/support/child_check.h"
#include "tests/support/sim_module.h"
#include "tests/support/temp_dir.h"

namespace {

// Sorts before the boards named in beats ("*": every board; "!": throws).
struct Ranked : ccBoard {
    Ranked(const std::wstring& name, const std::wstring& beats) : ccBoard(name), beats(beats) {}
    int32_t compare(const ccBoard& other) const override
    {
        if (beats == L"!")
            throw ccBoard::NotSupported();
        return beats == L"*" || beats.find(other.name()) != std::wstring::npos ? -1 : 0;
    }
    std::wstring beats;
};

// The registration indexes of the registry's entries, in its order.
std::wstring order()
{
    std::wstring text;
    for (ccBoard* board : cc_BoardRegistryTesting::entries())
        text += (text.empty() ? L"" : L",") + std::to_wstring(board->registrationIndex());
    return text;
}

// Counts its calls; adds a board to into, then says it is not ready.
struct Enumerator : cc_BoardEnumerator {
    bool enumerateBoards(double timeout) override
    {
        EXPECT_EQ(timeout, HUGE_VAL);
        if (++calls, into)
            into->addBoard(std::make_unique<Ranked>(L"late", L""));
        return false;
    }
    int calls = 0;
    cc_BoardModule* into = nullptr;
};

class Registry : public testing::Test {
protected:
    void SetUp() override { cc_BoardEnumerator::publish(&enumerator); }
    void TearDown() override
    {
        cc_BoardEnumerator::publish(previous_);
        cc_BoardRegistryTesting::reset();
    }
    Enumerator enumerator;
    cc_BoardEnumerator* const previous_ = cc_BoardEnumerator::published();
};

TEST_F(Registry, TheFirstCountSortsByCompareThenNameThenRegistration)
{
    const struct {
        const char* what;
        std::vector<std::pair<std::wstring, std::wstring>> boards; // name, beats
        const wchar_t* sorted;
    } kCases[] = {
        {"equal keys keep registration order", {{L"B", L""}, {L"A", L""}, {L"B", L""}}, L"1,0,2"},
        {"a prefix goes first", {{L"AB", L""}, {L"A", L""}}, L"1,0"},
        {"a negative compare wins, asked either way", {{L"m", L""}, {L"z", L"*"}, {L"a", L""}}, L"1,2,0"},
        {"a compare that throws leaves it to the names", {{L"b", L"!"}, {L"a", L""}}, L"1,0"},
        {"a contradicting cycle", {{L"z", L"a"}, {L"m", L""}, {L"a", L""}}, L"1,0,2"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        cc_BoardRegistryTesting::reset();
        cc_BoardModule boards;
        for (const auto& b : c.boards)
            boards.addBoard(std::make_unique<Ranked>(b.first, b.second));
        ASSERT_EQ(cc_BoardRegistry::numBoards(), c.boards.size());
        EXPECT_EQ(order(), c.sorted);
    }
}

TEST_F(Registry, TheFirstCountEnumeratesOnceEvenWhenNotReadyAndLaterBoardModulesAreRefused)
{
    cc_BoardModule boards;
    enumerator.into = &boards;
    EXPECT_EQ(cc_BoardRegistry::numBoards(), 1u);
    EXPECT_EQ(cc_BoardRegistry::numBoards(), 1u);
    EXPECT_EQ(enumerator.calls, 1);
    EXPECT_THROW(cc_BoardModule{}, ccBoard::StaticInitDisorder);
}

// Through a module registry and the board builder.
TEST(Board7320, TheBuilderOwnsEveryBoardAndListsTheFirstSixteen)
{
    ccModulesStartup();
    cc_UnknownModule::setBoardBuilder(&ccBuildModuleBoard); // another test may have left its own
    const struct {
        const char* what;
        uint32_t boards;
        int32_t missing; // an id the boards do not answer
        uint32_t listed, registered;
    } kCases[] = {
        {"seventeen boards", 17, 0, 16, 17},
        {"boards whose engine cannot be made are left out", 2, ccIidGrabberCore, 0, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        sim_module::sim().reset();
        plat::clearRegistry();
        cc_BoardRegistryTesting::reset();
        std::vector<std::u16string> names;
        for (uint32_t i = 0; i < c.boards; ++i)
            names.push_back(u"b" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
        sim_module::setBoards(names);
        if (c.missing != 0)
            sim_module::sim().setOffered(c.missing, 0);
        {
            cc_UnknownModule registry;
            plat::collectEventLines(true);
            registry.loadModule(sim_module::path());
            plat::collectEventLines(false);
            std::wstring told;
            for (const std::wstring& line : plat::takeEventLines())
                told += line;
            EXPECT_EQ(told.find(L"More than 16 7320 boards: \"bq\" is not listed") != std::wstring::npos,
                      c.registered > c.listed);
            EXPECT_EQ(cc7320::numBoards(), c.listed);
            EXPECT_EQ(cc_BoardRegistryTesting::entries().size(), c.registered);
            for (uint32_t i = 0; i < c.listed; ++i)
                EXPECT_EQ(cc7320::getBoard(static_cast<int>(i)).name(), std::wstring(names[i].begin(), names[i].end()));
            EXPECT_THROW(cc7320::getBoard(-1), ccBoard::BadParams);
            EXPECT_THROW(cc7320::getBoard(static_cast<int>(c.listed)), ccBoard::BadParams);
            if (c.listed != 0) {
                cc7320& board = cc7320::getBoard(0);
                board.ensureReady(); // binds its lines, with the standard configuration
                EXPECT_EQ(sim_module::sim().ioCode(), 4);
                // A closed board has no engine left to reach.
                board.close();
                EXPECT_THROW(board.uniqueId(), ccUnknownFG::MissingFunctionality);
            }
        }
        EXPECT_EQ(cc7320::numBoards(), 0u);
        EXPECT_TRUE(cc_BoardRegistryTesting::entries().empty());
        sim_module::expectAllReleased();
    }
}

// What a client may keep of a board beyond the board's life: a FIFO of its
// engine and two of its lines.
struct Kept {
    explicit Kept(cc7320& board)
        : fifo(board.frameGrabberImpl()->newAcqFifoImpl(description, 0)), out(board.outputLine(19)),
          in(board.inputLine(0))
    {
    }
    cs_vidFmtRecord record{u"Sim Cam 640x480", 640, 480, 8, 0, 0, 1, 1};
    cc_VidFmtDesc description{&record, 0};
    std::unique_ptr<cc_AcqFifo> fifo;
    ccOutputLine out;
    ccInputLine in;
};

const uint8_t kTable[256] = {};

// Every setter of the FIFO (each a setting no board would receive) and its
// acquisitions, then the lines; the FIFO's callbacks are let go of at its end
// and take any board's state.
#define FIFO_USE(call) {#call, [](Kept& k) { (void)k.fifo->call; }}
const std::pair<const char*, std::function<void(Kept&)>> kLateUses[] = {
    FIFO_USE(start(1)), FIFO_USE(completeAcq8(ccAcqCompleteArgs())),
    FIFO_USE(sendPropertyRequest({ccPropExposure, -1, 0.5, 0, 0})), FIFO_USE(contrast(0.5, 0)),
    FIFO_USE(brightness(0.5, 0)), FIFO_USE(inputLut(kTable, 256, 0)), FIFO_USE(cameraPort(0)),
    FIFO_USE(exposure(0.01)), FIFO_USE(settlingTime(0)), FIFO_USE(pelRootPool(ccDefaultPelRootPool::instance())),
    FIFO_USE(timeout(1)), FIFO_USE(strobeEnable(true)), FIFO_USE(strobePulseDuration(1e-3)),
    FIFO_USE(strobePulsePolarityHigh(true)), FIFO_USE(strobeDelay(0)), FIFO_USE(cameraBandwidth(1)),
    FIFO_USE(syncModel(ccSyncModel())), FIFO_USE(triggerEnable(true)),
    FIFO_USE(triggerModel(ccTriggerModel::manual()->record())), FIFO_USE(triggerLowToHigh(true)),
    FIFO_USE(triggerMaster(nullptr)), FIFO_USE(chargeTransferInterval(0)), FIFO_USE(horizontalAdjustment(0)),
    FIFO_USE(roi(ccPelRect(0, 0, 8, 8))), FIFO_USE(roiMode(0)), FIFO_USE(lightEnabled(true)),
    FIFO_USE(brightFieldPowerRatio(0)), FIFO_USE(lightPower(0)), FIFO_USE(lightDelay(0)), FIFO_USE(auxLightPort(0)),
    FIFO_USE(auxBrightFieldPowerRatio(0)), FIFO_USE(auxLightPower(0)), FIFO_USE(clippingEnabled(1)),
    FIFO_USE(clippingLowLevel(0)), FIFO_USE(clippingHighLevel(255)), FIFO_USE(alphaColorEnabled(0)),
    FIFO_USE(alphaColorValue(0)), FIFO_USE(alphaColorMode(0)), FIFO_USE(digitalHighGainSelected(true)),
    FIFO_USE(masterClockFrequency(20)), FIFO_USE(cdcCameraCalibration(ccCdcCameraCalibrationProp())),
    FIFO_USE(readoutDirection(ccReadoutDirectionProp())), FIFO_USE(sample(ccSampleProp())),
    FIFO_USE(cameraTest(ccCameraTestProp())), FIFO_USE(offsetClamp(ccOffsetClampProp())),
    FIFO_USE(triggerFilter(ccTriggerFilterProp())), FIFO_USE(customProps(ccCustomPropertyBag())),
    FIFO_USE(firstPelOffset(0)), FIFO_USE(resetCounterOnHardwareTrigger(true)), FIFO_USE(testEncoderEnabled(true)),
    FIFO_USE(testEncoderDirectionPositive(true)), FIFO_USE(triggerFromEncoder(true, false)),
    FIFO_USE(stepsPerLine(3, 0)), FIFO_USE(encoderPort(0)), FIFO_USE(encoderOffset(0)),
    FIFO_USE(acquireDirectionPositive(true)), FIFO_USE(useSingleChannel(true)), FIFO_USE(encoderResolution(0)),
    FIFO_USE(startAcqOnEncoderCount(0)), FIFO_USE(ignoreBackwardsMotionBetweenAcquires(true)),
    FIFO_USE(ignoreTooFastEncoder(true)), FIFO_USE(resetCounter()), FIFO_USE(cameraLocation(nullptr)),
    {"out.value()", [](Kept& k) { (void)k.out.value(); }},
    {"out.setValue(true)", [](Kept& k) { k.out.setValue(true); }},
    {"in.enable(true)", [](Kept& k) { k.in.enable(true); }},
};
#undef FIFO_USE

// The late uses that do not raise MissingFunctionality; there should be none.
std::vector<std::string> notRefused(Kept& kept)
{
    std::vector<std::string> passed;
    for (const auto& [name, use] : kLateUses) {
        try {
            use(kept);
            passed.push_back(name);
        } catch (const ccUnknownFG::MissingFunctionality&) {
        } catch (...) {
            passed.push_back(name + std::string(" (another error)"));
        }
    }
    return passed;
}

TEST(Board7320, WhatAClientKeepsOfAClosedBoardRaisesAndReleasesNothingTwice)
{
    ccModulesStartup();
    sim_module::Board simBoard;
    {
        cc7320 board(std::make_unique<cc_BoardEntry>(simBoard.module, 0, L"sim0"), std::move(simBoard.board));
        Kept kept(board);
        board.close();
        EXPECT_EQ(notRefused(kept), std::vector<std::string>());
    }
    simBoard.module = nullptr;
    sim_module::expectAllReleased();
}

// In a fresh process: the same past the library's shut-down list, which
// deletes the boards and lets go of the module.
void aClientOutlivesTheShutDown()
{
    ccModulesStartup();
    cc_UnknownModule::setBoardBuilder(&ccBuildModuleBoard);
    sim_module::sim().reset();
    sim_module::setBoards({u"b0"});
    const TempDir dir;
    std::filesystem::create_symlink(QORX_SIM_PATH, dir.path + "qorxsim_.so");
    plat::setEnvironmentVariable(L"QORALT_SYSTEM_PATH", dir.wide());
    REQUIRE(cc_UnknownModule::loadModuleByName(L"qorxsim") && cc7320::numBoards() == 1);
    Kept kept(cc7320::getBoard(0));
    ccDeferredInit::runShutdownList();
    REQUIRE(notRefused(kept).empty());
    kept.fifo.reset();
    const ccSimAudit a = sim_module::audit();
    REQUIRE(a.live == 0 && a.references == 0 && a.overReleases == 0);
    std::filesystem::remove_all(dir.path);
    childExit(0);
}

TEST(Board7320, WhatAClientKeepsPastTheShutDownRaisesAndReleasesNothingTwice)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(aClientOutlivesTheShutDown(), testing::ExitedWithCode(0), "");
}

} // namespace
