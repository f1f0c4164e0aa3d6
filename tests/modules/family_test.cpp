#include "modules/family.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <typeinfo>
#include <vector>

#include "modules/internal/board_testing.h"
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

// Each model of the family: the class built, the I/O code its lines are
// bound with (0: none sent), its serial number, and every module reference
// given back exactly once after an explicit close and the registry's
// (the 7360 holds three interfaces of its model, and every model with
// lines holds its model interface twice).
TEST(Family, EachModelIsBuiltWithItsClassBindsItsIOCodeReadsItsSerialAndReleasesEverything)
{
    ccModulesStartup();
    const struct {
        const char* what;
        ccSimBoardModel model;
        int32_t hidden;    // an id the module does not offer (0: none)
        int32_t coreValue; // 23 slot 3
        bool (*built)(ccBoard&);
        int32_t code;
        int flag;
    } kCases[] = {
        {"7310c", {{ccIid7310}, 1, 0, "SN-7310C"}, 0, 0, &builtAs<cc7310c>, 8, -1},
        {"7310m", {{ccIid7310}, 0, 0, "SN-7310M"}, 0, 0, &builtAs<cc7310m>, 8, -1},
        {"64 wins over 63", {{ccIid7320, ccIid7310}, 1, 0, "SN-1"}, 0, 0, &builtAs<cc7310c>, 8, -1},
        {"7310l", {{ccIid7310l}, 0, 0, "SN-7310L"}, 0, 0, &builtAs<cc7310l>, 8, -1},
        {"7310d, multi-channel", {{ccIid7310d}, 0, 7, "SN-7310D"}, 0, 0, &builtAs<cc7310d>, 11, -1},
        {"7310d, single channel", {{ccIid7310d}, 0, 7, "SN-7310D"}, 0, 1, &builtAs<cc7310d>, 9, -1},
        {"7312", {{ccIid7312}, 0, 0, "SN-7312"}, 0, 0, &builtAs<cc7312>, 13, -1},
        {"7320", {{ccIid7320}, 0, 0, "SN-7320"}, 0, 0, &builtAs<cc7320>, 4, -1},
        {"7351", {{ccIid735x}, 0, 0, "SN-7351"}, 0, 0, &builtAs<cc7351>, 14, 1},
        {"7351 without 117", {{ccIid735x}, 0, 0, "SN-7351"}, ccIid735xExtra, 0, &builtAs<cc7351>, 14, 0},
        {"7354, never a 7350l", {{ccIid7350l, ccIid735x}, 1, 0, "SN-7354"}, 0, 0, &builtAs<cc7354>, 15, 1},
        {"7350l", {{ccIid7350l}, 0, 0, "SN-7350L"}, 0, 0, &builtAs<cc7350l>, 26, -1},
        {"7370", {{ccIid7370}, 0, 0, "SN-7370"}, 0, 0, &builtAs<cc7370>, 0, -1},
        {"7360", {{ccIid7360}, 0, 0, "SN-7360"}, 0, 0, &builtAs<cc7360>, 1, -1},
        {"7360 without its held ids", {{ccIid7360}, 0, 0, "SN-7360"}, ccIid7360B, 0, &builtAs<cc7360>, 1, -1},
        {"no model", {{0}, 0, 0, "SN-0"}, 0, 0, &plain, 0, -1},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        {
            sim_module::FamilyBoard family(c.model);
            if (c.hidden != 0)
                sim().setOffered(c.hidden, 0);
            sim().setAnswer(ccIidGrabberCore, 3, 0, c.coreValue);
            ccBoard& board = family.load();
            EXPECT_TRUE(c.built(board));
            EXPECT_EQ(extraFlag(board), c.flag);
            EXPECT_NE(dynamic_cast<ccFrameGrabber&>(board).frameGrabberImpl(), nullptr);
            EXPECT_EQ(sim().ioCode(), c.code);
            EXPECT_EQ(board.serialNumber(), std::wstring(c.model.serial, c.model.serial + std::strlen(c.model.serial)));
            dynamic_cast<ccUnknownFG&>(board).close();
        }
        sim_module::expectAllReleased();
    }
}

// A module error while the 7310d reads its channels comes through, and what
// it had reached of the module goes back.
TEST(Family, A7310dChannelThatFailsRaisesTheModulesErrorAndLeaksNothing)
{
    ccModulesStartup();
    const struct {
        int32_t iid, slot;
    } kCases[] = {{ccIid7310d, 3}, {ccIidLinkCamera, 3}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.iid);
        {
            sim_module::FamilyBoard family({{ccIid7310d}, 0, 7, nullptr});
            auto& board = dynamic_cast<cc7310d&>(family.load());
            sim_module::failNext(c.iid, c.slot, ccBoard::HardwareNotResponding(L"channel", 2u));
            EXPECT_THROW(board.camera(0), ccBoard::HardwareNotResponding);
            // The next use makes the cameras.
            EXPECT_NE(board.camera(0), nullptr);
        }
        sim_module::expectAllReleased();
    }
}

// A model whose variant the module fails to give is not built, and nothing
// of the board stays.
TEST(Family, AVariantTheModuleFailsToGiveLeavesTheBoardUnbuilt)
{
    ccModulesStartup();
    for (int32_t iid : {ccIid7310, ccIid735x}) {
        SCOPED_TRACE(iid);
        {
            sim_module::FamilyBoard family({{iid}, 1, 0, "SN"});
            sim_module::failNext(iid, 3, ccBoard::HardwareNotResponding(L"variant", 3u));
            family.registry = std::make_unique<cc_UnknownModule>();
            family.registry->loadModule(sim_module::path());
            EXPECT_TRUE(cc_BoardRegistryTesting::entries().empty());
            EXPECT_EQ(cc7310c::numBoards() + cc7310m::numBoards() + cc7351::numBoards() + cc7354::numBoards(), 0u);
        }
        sim_module::expectAllReleased();
    }
}

// A model's table lists its first 16 boards in the order they were built;
// the 17th is built but left out, which the event log tells; indexes outside
// the table are refused. Each board leaves its table as it goes.
TEST(Family, ATableListsItsFirstSixteenBoardsAndTellsOfTheRest)
{
    ccModulesStartup();
    const ccSimBoardModel model{{ccIid7312}, 0, 0, "SN-7312"};
    {
        sim_module::FamilyBoard family(model);
        std::vector<std::u16string> names;
        for (char16_t i = 0; i <= cc7312::kTableSize; ++i)
            names.push_back(u"b" + std::u16string(1, static_cast<char16_t>(u'a' + i)));
        sim_module::setBoards(names);
        for (uint32_t i = 0; i < names.size(); ++i)
            sim().setBoardModel(i, &model);
        plat::collectEventLines(true);
        family.registry = std::make_unique<cc_UnknownModule>();
        family.registry->loadModule(sim_module::path());
        const std::vector<std::wstring> lines = plat::takeEventLines();
        plat::collectEventLines(false);

        EXPECT_EQ(cc_BoardRegistryTesting::entries().size(), names.size());
        ASSERT_EQ(cc7312::numBoards(), cc7312::kTableSize);
        for (uint32_t i = 0; i < cc7312::kTableSize; ++i)
            EXPECT_EQ(cc7312::getBoard(static_cast<int>(i)).name(), L"b" + std::wstring(1, static_cast<wchar_t>(L'a' + i)));
        for (int bad : {-1, 16})
            EXPECT_THROW(cc7312::getBoard(bad), ccBoard::BadParams) << bad;
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find(L"More than 16 7312 boards: \"bq\" is not listed"), std::wstring::npos);
    }
    EXPECT_EQ(cc7312::numBoards(), 0u);
    sim_module::expectAllReleased();
}

} // namespace
