#include "modules/acqmodule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <typeinfo>
#include <utility>
#include <vector>

#include "acq/hyper/prop/sync.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/board.h"
#include "modules/startup.h"
#include "modules/unknownfg.h"
#include "platform/environment_testing.h"
#include "platform/registry.h"
#include "platform/registry_testing.h"
#include "platform/text.h"
#include "sim/simcontrol.h"
#include "std/deferredinit.h"
#include "std/except/archutil.h"
#include "std/except/resource.h"
#include "tests/support/child_check.h"
#include "tests/support/bytes.h"
#include "tests/support/sim_module.h"
#include "tests/support/temp_dir.h"

// The bridge against the simulated driver module, loaded from its file
// through the real loader.
namespace {

using test_bytes::Bytes;

using sim_module::archived;
using sim_module::audit;
using sim_module::expectAllReleased;
using sim_module::setBoards;
using sim_module::sim;

const std::wstring& kSimPath = sim_module::path();

using Built = std::vector<std::pair<std::wstring, uint32_t>>;
Built built;
uint32_t modeWhileBuilding = 0;

// Records each board and takes nothing: the bridge releases entry and board.
void recordBoard(cc_UnknownModule&, std::unique_ptr<cc_BoardEntry>& entry, cc_ModPtr<ccIUnknown>&)
{
    built.emplace_back(entry->name, entry->index);
    modeWhileBuilding = plat::errorMode();
}

class Bridge : public testing::Test {
protected:
    void SetUp() override
    {
        ccModulesStartup();
        sim().reset();
        plat::clearRegistry();
        plat::unsetEnvironmentVariable(L"QORALT_SYSTEM_PATH");
        plat::unsetEnvironmentVariable(L"QORALT_PATH");
        built.clear();
        previous_ = cc_UnknownModule::setBoardBuilder(&recordBoard);
    }
    void TearDown() override { cc_UnknownModule::setBoardBuilder(previous_); }

private:
    cc_BoardBuilder previous_ = nullptr;
};

// The registry names the simulator's file, which a new registry then loads.
bool nameTheSimulator()
{
    plat::RegistryKey key = 0;
    return plat::createRegistryKey(plat::RegistryRoot::localMachine, L"SOFTWARE\\Qoralt\\QMB\\utconfig\\FGSim", &key)
               == plat::RegistryStatus::ok
           && plat::setRegistryValue(key, L"moduleName", plat::RegistryType::string,
                                     plat::utf16BytesFromWide(kSimPath))
                  == plat::RegistryStatus::ok
           && plat::closeRegistryKey(key) == plat::RegistryStatus::ok;
}

void setPath(const wchar_t* variable, const std::wstring* directory)
{
    if (directory)
        plat::setEnvironmentVariable(variable, *directory);
    else
        plat::unsetEnvironmentVariable(variable);
}

TEST_F(Bridge, TheFirstNameFormWinsAnywhereOnThePathThenTheFirstDirectory)
{
    TempDir system, user;
    const std::wstring own = plat::moduleDirectory();
    const std::wstring sys = system.wide(), usr = user.wide();
    const std::string ownDir(own.begin(), own.end());
    // Directories: 's' system, 'u' user, 'o' this code's own.
    const struct { bool systemSet, userSet; std::vector<std::pair<char, std::string>> files; char foundIn;
                   const char* found; } kCases[] = {
        {true, false, {{'s', "qorxtest_.so"}}, 's', "qorxtest_.so"},
        {true, true, {{'s', "qorxtestr.so"}, {'u', "QORXTEST_.SO"}}, 'u', "QORXTEST_.SO"},
        {true, true, {{'s', "qorxtestr.so"}, {'u', "qorxtestR.so"}}, 's', "qorxtestr.so"},
        {true, false, {{'s', "QorxTest_.so"}, {'s', "qorxtest_.so"}}, 's', "QorxTest_.so"},
        {false, false, {{'o', "qorxtest_.so"}}, 'o', "qorxtest_.so"},
        {true, false, {{'o', "qorxtest_.so"}}, 0, ""},
        {true, false, {{'s', "qorxtest_x.so"}, {'s', "qorxtest.so"}, {'s', "qorxtest_.dll"}}, 0, ""},
    };
    const auto dir = [&](char which) { return which == 's' ? system.path : which == 'u' ? user.path : ownDir; };
    for (const auto& c : kCases) {
        SCOPED_TRACE(&c - kCases);
        setPath(L"QORALT_SYSTEM_PATH", c.systemSet ? &sys : nullptr);
        setPath(L"QORALT_PATH", c.userSet ? &usr : nullptr);
        for (const auto& file : c.files)
            std::ofstream(dir(file.first) + file.second) << "x";
        EXPECT_EQ(cc_UnknownModule::findModuleFile(L"qorxtest"),
                  c.foundIn ? TempDir::ascii(dir(c.foundIn) + c.found) : L"");
        for (const auto& file : c.files)
            std::filesystem::remove(dir(file.first) + file.second);
    }
}

TEST_F(Bridge, AnEmptyNameLoadsNothingAndSucceedsAMissingFileFails)
{
    TempDir empty;
    plat::setEnvironmentVariable(L"QORALT_SYSTEM_PATH", empty.wide());
    cc_UnknownModule registry;
    EXPECT_TRUE(registry.loadByName(L""));
    EXPECT_FALSE(registry.loadByName(L"qorxtest"));
    EXPECT_EQ(audit().roots, 0u);
}

// In a fresh process: the process's registry is the published enumerator
// until the shut-down deletes it, after which it is not made again.
void theProcessRegistryGoesAtShutDown()
{
    setBoards({u"only"});
    REQUIRE(nameTheSimulator());
    cc_UnknownModule* registry = cc_UnknownModule::instance();
    REQUIRE(registry != nullptr && cc_UnknownModule::instance() == registry);
    REQUIRE(cc_BoardEnumerator::published() == registry && built.size() == 1);
    ccDeferredInit::runShutdownList();
    REQUIRE(cc_UnknownModule::instance() == nullptr && cc_BoardEnumerator::published() == nullptr);
    REQUIRE(!cc_UnknownModule::loadModuleByName(L""));
    const ccSimAudit a = audit();
    REQUIRE(a.live == 0 && a.references == 0 && a.overReleases == 0);
    childExit(0);
}

TEST_F(Bridge, TheProcessRegistryGoesAtShutDownAndIsNotMadeAgain)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(theProcessRegistryGoesAtShutDown(), testing::ExitedWithCode(0), "");
}

// In a fresh process: a load through the process's registry waits for a
// board count in progress instead of growing the list the count walks.
void aLoadWaitsForTheBoardCount()
{
    const TempDir dir;
    std::filesystem::create_symlink(QORX_SIM_PATH, dir.path + "qorxsim_.so");
    plat::setEnvironmentVariable(L"QORALT_SYSTEM_PATH", dir.wide());
    sim().setDiscovery(1);
    REQUIRE(cc_UnknownModule::loadModuleByName(L"qorxsim"));
    std::thread counter([] {
        ccResourceLock hold(ccLibraryMutex());
        REQUIRE(cc_UnknownModule::instance()->enumerateBoards(HUGE_VAL));
    });
    while (sim().callCount(ccIidDiscovery, 4) == 0)
        std::this_thread::yield();
    std::thread loader([] { REQUIRE(cc_UnknownModule::loadModuleByName(L"qorxsim")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim().finishDiscovery();
    counter.join();
    loader.join();
    REQUIRE(sim().callCount(ccIidDiscovery, 3) == 2);
    std::filesystem::remove_all(dir.path);
    childExit(0);
}

TEST_F(Bridge, ALoadThroughTheProcessRegistryWaitsForABoardCount)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(aLoadWaitsForTheBoardCount(), testing::ExitedWithCode(0), "");
}

const ccSimFormat kFormats[] = {
    {u"Bridge Cam failing", 1, 1, 8, 0, 0},
    {u"Bridge Cam 640x480", 640, 480, 8, 1, 3},
    {u"Bridge Cam 1024x768", 1024, 768, 16, 0, 0},
};

TEST_F(Bridge, TheRegistrySimulatorIsLoadedWithItsFormatsAndBoardsAndFullyReleasedAfterwards)
{
    // 115 is asked first, 35 only without it.
    for (const auto& [listId, queries] : {std::pair{ccIidFormatList, 1u}, std::pair{ccIidFormatListOld, 2u}}) {
        SCOPED_TRACE(listId);
        SetUp();
        setBoards({u"first", u"second \U0001F600", u"third"});
        sim().setFormats(kFormats, 3, listId);
        sim().failNext(ccIidFormatItem, 3, nullptr, 0, ccSimErrorBytes); // the first item's name
        ASSERT_TRUE(nameTheSimulator());
        plat::setErrorMode(0x1234);
        {
            cc_UnknownModule registry;
            EXPECT_EQ(plat::errorMode(), 0x1234u);
            EXPECT_EQ(modeWhileBuilding, 0x8001u);
            EXPECT_EQ(sim().callCount(ccIidErrorSource, 0), queries);
            EXPECT_EQ(audit().roots, 1u);
            EXPECT_GT(audit().live, 0u); // kept: it has boards
            EXPECT_EQ(built, (Built{{L"first", 0}, {L"second \U0001F600", 1}, {L"third", 2}}));
            // 99 gives the default module code; without it there is none.
            const ccVideoFormat& vga = ccVideoFormat::getFormat(L"Bridge Cam 640x480");
            EXPECT_EQ(std::wstring(vga.cameraModel()), L"Cam"); // the name is parsed
            EXPECT_EQ(vga.description(false).defaultModuleCode(), 3);
            const cs_vidFmtRecord& r = *vga.description(false).record();
            EXPECT_EQ(std::make_tuple(r.width, r.height, r.depth, +r.interlaced, +r.reducedSize, +r.registered,
                                      +r.boardDriven),
                      std::make_tuple(640, 480, 8, 0, 0, 1, 1));
            EXPECT_EQ(ccVideoFormat::getFormat(L"Bridge Cam 1024x768").description(false).defaultModuleCode(), -1);
            EXPECT_THROW(ccVideoFormat::getFormat(L"Bridge Cam failing"), ccVideoFormat::NotFound);
            // The same names again: each format frees only the records made for it.
            registry.loadModule(kSimPath);
        }
        EXPECT_THROW(ccVideoFormat::getFormat(L"Bridge Cam 640x480"), ccVideoFormat::NotFound);
        expectAllReleased();
    }
}

TEST_F(Bridge, ABoardWhoseCallsFailIsLeftOutAndTheOthersAreBuilt)
{
    const struct { int32_t slot; Built built; } kCases[] = {
        {4, {{L"b", 1}, {L"c", 2}}}, // the first board's name
        {5, {{L"b", 1}, {L"c", 2}}}, // the first board's interface
    };
    for (const auto& c : kCases) {
        sim().reset();
        built.clear();
        setBoards({u"a", u"b", u"c"});
        sim().failNext(ccIidBoardList, c.slot, nullptr, 0, ccSimErrorBytes);
        {
            cc_UnknownModule registry;
            registry.loadModule(kSimPath);
            EXPECT_EQ(built, c.built) << c.slot;
        }
        expectAllReleased();
    }
}

TEST_F(Bridge, AModuleWithoutBoardsOrDiscoveryIsUnloadedAtTheEndOfItsLoad)
{
    cc_UnknownModule registry;
    registry.loadModule(kSimPath);
    EXPECT_EQ(audit().roots, 1u);
    expectAllReleased();
}

TEST_F(Bridge, DeferredDiscoveryBuildsTheBoardsOnlyWhenTheModuleIsReady)
{
    setBoards({u"late"});
    sim().setDiscovery(1);
    {
        cc_UnknownModule registry;
        // Whatever fails, the modules' discoveries end before they go.
        const struct Finish { ~Finish() { sim().finishDiscovery(); } } finish;
        registry.loadModule(kSimPath);
        registry.loadModule(kSimPath);
        EXPECT_EQ(sim().callCount(ccIidDiscovery, 3), 2u);
        EXPECT_TRUE(built.empty());
        // The first fails, the second is not ready: both stay pending.
        sim().failNext(ccIidDiscovery, 4, nullptr, 0, ccSimErrorBytes);
        EXPECT_FALSE(registry.enumerateBoards(0.01));
        EXPECT_TRUE(built.empty());
        EXPECT_GT(audit().live, 0u); // still loaded
        std::thread finisher([] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            sim().finishDiscovery();
        });
        EXPECT_TRUE(registry.enumerateBoards(HUGE_VAL));
        finisher.join();
        EXPECT_EQ(built, (Built{{L"late", 0}, {L"late", 0}}));
        // Once enumerated, a module loaded later is not collected.
        registry.loadModule(kSimPath);
        EXPECT_TRUE(registry.enumerateBoards(0.01));
        EXPECT_EQ(built.size(), 2u);
    }
    // Each module waited once more for its discovery before it went.
    EXPECT_EQ(sim().callCount(ccIidDiscovery, 4), 7u);
    expectAllReleased();
}

TEST_F(Bridge, AModuleErrorComesBackAsTheArchivedExceptionOrMissingFunctionality)
{
    const Bytes timeout = archived(ccBoard::Timeout(L"Lost", 5u));
    const Bytes truncated(timeout.begin(), timeout.end() - 3);
    Bytes oversize = timeout;
    oversize.resize((1u << 20) + 1);
    const struct { const char* name; Bytes bytes; int32_t mode; int32_t errorSource; const std::type_info& raised; }
        kCases[] = {
            {"timeout", timeout, ccSimErrorBytes, 1, typeid(ccBoard::Timeout)},
            {"not an exception", archived(ccSyncProp()), ccSimErrorBytes, 1, typeid(ccUnknownFG::MissingFunctionality)},
            {"truncated", truncated, ccSimErrorBytes, 1, typeid(ccUnknownFG::MissingFunctionality)},
            {"oversize", oversize, ccSimErrorBytes, 1, typeid(ccUnknownFG::MissingFunctionality)},
            {"no error source", timeout, ccSimErrorBytes, 0, typeid(ccUnknownFG::MissingFunctionality)},
            {"no data", timeout, ccSimErrorNoData, 1, typeid(ccUnknownFG::MissingFunctionality)},
            {"no object", timeout, ccSimErrorNoObject, 1, typeid(ccUnknownFG::MissingFunctionality)},
        };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        sim().reset();
        sim().setRootOffers(c.errorSource, 1);
        sim().setLastError(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()), c.mode);
        {
            cc_UnknownModule registry;
            const ccPtrHandle<cc_AcqModule> module(new cc_AcqModule(kSimPath, &registry));
            try {
                module->raiseLastError();
            } catch (const ccException& e) {
                EXPECT_TRUE(typeid(e) == c.raised) << typeid(e).name();
                if (auto* t = dynamic_cast<const ccBoard::Timeout*>(&e)) {
                    EXPECT_EQ(t->text(), L"Lost");
                    EXPECT_EQ(t->lastError(), 5u);
                }
            }
        }
        expectAllReleased();
    }
}

} // namespace
