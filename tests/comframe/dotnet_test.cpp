#include "comframe/dotnet.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "comframe/dotnet_testing.h"
#include "comframe/objectroot.h"
#include "platform/com/classes.h"

namespace {

const IID IID_IThing = {0x2f90c6d1, 0x4a3e, 0x4c27, {0x85, 0x0b, 0x9e, 0x13, 0x7a, 0x64, 0xd2, 0x5c}};

struct IThing : IUnknown {};

// A module object with a companion, strong while anyone but the companion holds it.
class Thing : public ccComObjectRoot<ccComFreeThreadModel>, public IThing {
public:
    CC_COM_COMPANION_COUNTING(companion)
    BEGIN_COM_MAP(Thing)
    COM_INTERFACE_ENTRY(IThing)
    END_COM_MAP()
    void FinalRelease() { companion.release(); }
    ccDotNetCompanion companion;
};

class DotNet : public testing::Test {
protected:
    void SetUp() override
    {
        ccDotNetResetForTesting();
        (void)ccDotNetStandInLogged(true);
        ASSERT_EQ(ccDotNetRegisterStandInBridge(), S_OK);
    }
    void TearDown() override { ccDotNetResetForTesting(); }
};

// The failure a step throws; S_OK when none.
HRESULT thrownBy(const std::function<void()>& step)
try {
    step();
    return S_OK;
} catch (const ccCOMError& e) {
    return e.hr();
}

TEST_F(DotNet, RegistrationFollowsShutdownAndRestart)
{
    ccDotNetCompanion companion;
    int dummy = 0;
    IUnknown* object = reinterpret_cast<IUnknown*>(&dummy); // the stand-in only counts it
    const std::function<void()> attachWeak = [&] { companion.attach(companion.handle(), false); };
    const std::function<void()> attachWeak77 = [&] { companion.attach(77, false); };
    const std::function<void()> obtain = [&] { (void)ccDotNetHelper::obtainCompanion(ccDotNetClass::acqFifo, object); };
    const std::function<void()> restart = [] { EXPECT_EQ(ccDotNetStandInRestart(), S_OK); };
    const std::function<void()> shutdown = [] { EXPECT_EQ(ccDotNetStandInShutdown(), S_OK); };
    const struct {
        const std::function<void()>* step;
        HRESULT thrown;
        uint32_t state;
        int first, registrations, bridges, factories;
        uint32_t generation;
    } steps[] = {
        {&attachWeak, S_OK, ccDotNetHelper::kRegistered, 1, 1, 1, 0, 1},
        {&attachWeak, S_OK, ccDotNetHelper::kRegistered, 1, 1, 1, 0, 1},
        {&obtain, S_OK, ccDotNetHelper::kRegistered, 1, 1, 1, 1, 1},
        {&obtain, S_OK, ccDotNetHelper::kRegistered, 1, 1, 1, 1, 1},
        {&restart, S_OK, ccDotNetHelper::kRestarted, 1, 1, 1, 1, 2},
        {&obtain, S_OK, ccDotNetHelper::kRegistered, 1, 2, 2, 2, 2},
        {&shutdown, S_OK, ccDotNetHelper::kShutDown, 1, 2, 2, 2, 2},
        {&obtain, E_FAIL, ccDotNetHelper::kShutDown, 1, 2, 2, 2, 2},
        {&attachWeak77, E_FAIL, ccDotNetHelper::kShutDown, 1, 2, 2, 2, 2},
    };
    for (const auto& s : steps) {
        EXPECT_EQ(thrownBy(*s.step), s.thrown);
        const ccDotNetStandInLog log = ccDotNetStandInLogged();
        EXPECT_EQ(ccDotNetHelper::state(), s.state);
        EXPECT_EQ(log.firstRegistrations, s.first);
        EXPECT_EQ(log.registrations, s.registrations);
        EXPECT_EQ(log.bridges, s.bridges);
        EXPECT_EQ(log.factories, s.factories);
        EXPECT_EQ(ccDotNetHelper::generation(), s.generation);
    }
    EXPECT_EQ(companion.handle(), 77u); // stored even though the registration failed
}

enum Action { weak, strong, shutDown, release, failingRelease, failingWeak, reattach };

TEST_F(DotNet, ACompanionChangesStrengthOnceAndReleasesQuietly)
{
    const struct {
        std::vector<Action> actions;
        bool handleLeft;
        int strengthChanges, releases;
    } cases[] = {
        {{weak, weak}, true, 1, 0},
        {{weak, strong, strong}, true, 2, 0},
        {{shutDown, weak}, false, 0, 0},
        {{release, release}, false, 0, 1},
        {{failingRelease}, false, 0, 0},
        {{shutDown, release}, false, 0, 0}, // the bridge is no longer asked
        {{failingWeak}, false, 0, 0}, // handle and strength are cleared
        {{reattach}, true, 0, 1}, // the old handle is released
    };
    int dummy = 0;
    for (const auto& c : cases) {
        SetUp();
        ccDotNetCompanion companion;
        companion.attach(ccDotNetHelper::obtainCompanion(ccDotNetClass::inputLine, reinterpret_cast<IUnknown*>(&dummy)),
                         true);
        for (Action a : c.actions) {
            if (a == shutDown)
                EXPECT_EQ(ccDotNetStandInShutdown(), S_OK);
            else if (a == weak || a == strong)
                companion.setStrong(a == strong);
            else if (a == failingWeak) {
                ccDotNetStandInFail(E_UNEXPECTED);
                EXPECT_EQ(thrownBy([&] { companion.setStrong(false); }), E_UNEXPECTED);
                EXPECT_FALSE(companion.strong());
                ccDotNetStandInFail(S_OK);
            } else if (a == reattach)
                companion.attach(ccDotNetHelper::obtainCompanion(ccDotNetClass::inputLine,
                                     reinterpret_cast<IUnknown*>(&dummy)), true);
            else {
                ccDotNetStandInFail(a == failingRelease ? E_UNEXPECTED : S_OK);
                companion.release();
            }
        }
        EXPECT_EQ(companion.handle() != 0, c.handleLeft);
        bool held = false;
        EXPECT_EQ(ccDotNetStandInHandle(companion.handle(), &held) && held == companion.strong(), c.handleLeft);
        const ccDotNetStandInLog log = ccDotNetStandInLogged();
        EXPECT_EQ(log.strengthChanges, c.strengthChanges);
        EXPECT_EQ(log.releases, c.releases);
    }
}

// Each class's companion comes from its assembly's type of the class.
TEST_F(DotNet, EachClassHasItsAssemblyAndType)
{
    const std::wstring fg = L"Qoralt.Marlume.FG7320, Version=47.0.0.0, Culture=neutral, PublicKeyToken=5d8a13c6f0b927e4";
    const std::wstring core = L"Qoralt.Marlume.Core, Version=47.0.0.0, Culture=neutral, PublicKeyToken=5d8a13c6f0b927e4";
    const struct {
        ccDotNetClass cls;
        const std::wstring& assembly;
        std::wstring type;
    } rows[] = {
        {ccDotNetClass::frameGrabber, fg, L"Qoralt.Marlume.FG7320.Implementation.Internal.QorFrameGrabber7320"},
        {ccDotNetClass::frameGrabbers, fg, L"Qoralt.Marlume.FG7320.QorFrameGrabber7320s"},
        {ccDotNetClass::acqFifo, fg, L"Qoralt.Marlume.FG7320.Implementation.Internal.QorAcqFifo7320"},
        {ccDotNetClass::inputLine, core, L"Qoralt.Marlume.QorInputLine"},
        {ccDotNetClass::outputLine, core, L"Qoralt.Marlume.QorOutputLine"},
    };
    int dummy = 0;
    for (const auto& row : rows) {
        EXPECT_EQ(ccDotNetHelper::assemblyName(row.cls), row.assembly);
        EXPECT_EQ(ccDotNetHelper::typeName(row.cls), row.type);
        (void)ccDotNetHelper::obtainCompanion(row.cls, reinterpret_cast<IUnknown*>(&dummy));
        const ccDotNetStandInLog log = ccDotNetStandInLogged();
        EXPECT_EQ(std::make_pair(log.lastAssembly, log.lastType), std::make_pair(row.assembly, row.type));
    }
}

// The strength follows the count (tested with the object root); here the
// companion takes a restart while other threads change the count.
TEST_F(DotNet, AnObjectsCompanionSurvivesARestartUnderLoad)
{
    CComObject<Thing>* thing = nullptr;
    ASSERT_EQ(CComObject<Thing>::CreateInstance(&thing), S_OK);
    thing->AddRef(); // the companion's own reference
    thing->companion.attach(ccDotNetHelper::obtainCompanion(ccDotNetClass::acqFifo, thing->GetUnknown()), true);
    std::vector<std::thread> users;
    for (int t = 0; t < 4; ++t)
        users.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                thing->AddRef();
                thing->Release();
            }
        });
    EXPECT_EQ(ccDotNetStandInRestart(), S_OK);
    for (std::thread& user : users)
        user.join();
    thing->AddRef();
    thing->Release();
    EXPECT_EQ(thing->companion.handle(), 0u); // no longer registered: no handle to change
    EXPECT_EQ(thing->Release(), 0u);
}

// Without the suite's bridge an object lives without a companion; any other
// bridge failure is the object's construction failure.
TEST_F(DotNet, AttachingWithoutABridgeIsNoErrorButAFailingBridgeIs)
{
    int dummy = 0;
    IUnknown* object = reinterpret_cast<IUnknown*>(&dummy);
    const struct {
        bool registered;
        HRESULT failure; // of the bridge's operations
        HRESULT hr;
        bool attached;
    } rows[] = {
        {true, S_OK, S_OK, true},
        {false, S_OK, S_OK, false},
        {true, E_ACCESSDENIED, E_ACCESSDENIED, false},
    };
    for (const auto& row : rows) {
        SetUp();
        if (!row.registered) {
            ASSERT_EQ(plat::com::unregisterClass(CLSID_QorDotNetBridge), S_OK);
        }
        ccDotNetStandInFail(row.failure);
        ccDotNetCompanion companion;
        EXPECT_EQ(ccAttachCompanionResult(ccDotNetClass::outputLine, object, companion), row.hr);
        EXPECT_EQ(companion.handle() != 0, row.attached);
        EXPECT_EQ(companion.strong(), row.attached);
        if (row.attached) {
            EXPECT_EQ(ccDotNetStandInLogged().lastType, L"Qoralt.Marlume.QorOutputLine");
        }
        companion.release();
    }
}

} // namespace
