#include "modules/imaging.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "modules/internal/board_testing.h"
#include "modules/startup.h"
#include "platform/registry_testing.h"
#include "std/except/archutil.h" // sim_module.h needs it
#include "tests/support/sim_module.h"

namespace {

using sim_module::sim;

const char16_t* const kChoices[] = {u"Mono8", u"Mono16"};
const char16_t* const kEntries[] = {u"first", u"second"};
const ccSimFeature kFeatures[] = {
    {u"Width", u"Root", 2, u"640", nullptr, 0, nullptr, 0},
    {u"PixelFormat", u"Root", 5, u"Mono8", kChoices, 2, kEntries, 2},
    {u"Reset", u"Commands", 7, u"", nullptr, 0, nullptr, 0},
};

// The boards of a reset simulator, one per row, each built by the first
// factory that recognises it (else a plain board), without an engine yet.
struct Boards {
    explicit Boards(const std::vector<ccSimDevice>& devices, uint32_t count = 1,
                    const std::function<void()>& setUp = {})
    {
        ccModulesStartup();
        sim().reset();
        if (setUp)
            setUp();
        sim_module::setBoards(std::vector<std::u16string>(count, u"dev"));
        sim().setDevices(devices.data(), static_cast<uint32_t>(devices.size()));
        sim().setFeatures(kFeatures, static_cast<uint32_t>(std::size(kFeatures)));
        module = ccPtrHandle<cc_AcqModule>(new cc_AcqModule(sim_module::path(), nullptr));
        for (uint32_t i = 0; i < count; ++i) {
            cc_ModPtr<ccIUnknown> listed;
            EXPECT_EQ(module->boardList()->board(listed.put(), i), 0);
            auto entry = std::make_unique<cc_BoardEntry>(module, i, L"dev");
            std::unique_ptr<ccUnknownFG> made;
            for (auto f : {&cc1394DCAM::make, &ccGigEVisionCamera::make, &ccImagingDevice::make})
                if (!made)
                    made = f(entry, listed.get());
            if (!made)
                made = std::make_unique<ccUnknownFG>(std::move(entry), std::move(listed));
            boards.push_back(std::move(made));
        }
    }
    ~Boards()
    {
        boards.clear();
        module = nullptr;
        sim_module::expectAllReleased();
    }
    ccPtrHandle<cc_AcqModule> module;
    std::vector<std::unique_ptr<ccUnknownFG>> boards;
};

ccUnknownFeatureAccess& features(Boards& b)
{
    return dynamic_cast<ccUnknownFeatureAccess&>(*b.boards.at(0));
}

// Through the board builder: each kind gets its class, enters its class's
// list, and every interface goes back once when the boards go.
TEST(Devices, TheBuilderMakesEachKindItsClassAndReleasesEverythingOnce)
{
    ccModulesStartup();
    cc_UnknownModule::setBoardBuilder(&ccBuildModuleBoard);
    sim().reset();
    plat::clearRegistry();
    cc_BoardRegistryTesting::reset();
    sim_module::setBoards({u"b0", u"b1", u"b2", u"b3"});
    const ccSimDevice devices[] = {{1, ccIidImagingDevice, u"", nullptr, 0}, {2, ccIidGigECamera, u"", nullptr, 0},
                                   {3, ccIidDcamCamera, u"", u"", 0}};
    sim().setDevices(devices, 3);
    {
        cc_UnknownModule registry;
        registry.loadModule(sim_module::path());
        ASSERT_EQ(std::make_tuple(cc7320::numBoards(), ccImagingDevice::numDevices(), ccGigEVisionCamera::numCameras(),
                                  cc1394DCAM::numCameras()),
                  std::make_tuple(1u, 1u, 1u, 1u));
    }
    EXPECT_EQ(ccImagingDevice::numDevices() + ccGigEVisionCamera::numCameras() + cc1394DCAM::numCameras(), 0u);
    sim_module::expectAllReleased();
}

// Each kind reads its serial number from the core its device interface
// answers (expected null: refused); the boards' going checks that the core
// went back.
TEST(Devices, SerialNumbersComeFromTheCoreOfTheDevice)
{
    const struct { int32_t kind; const char16_t* serial; bool offered; const wchar_t* expected; } kCases[] = {
        {ccIidImagingDevice, u"SN-42", true, L"SN-42"},
        {ccIidGigECamera, u"", true, L""},
        {ccIidDcamCamera, u"x", false, nullptr},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.kind);
        Boards b({{0, c.kind, c.serial, nullptr, 0}});
        sim().setOffered(ccIidGrabberCore, c.offered);
        if (c.expected)
            EXPECT_EQ(b.boards[0]->serialNumber(), c.expected);
        else
            EXPECT_THROW(b.boards[0]->serialNumber(), ccUnknownFG::MissingFunctionality);
    }
}

TEST(Devices, WithoutTheirInterfacesFeaturesRaiseOrAnswerNothing)
{
    for (int32_t kind : {ccIidImagingDevice, ccIidGigECamera}) {
        Boards b({{0, kind, u"", nullptr, 0}}, 1, [] {
            sim().setOffered(ccIidDeviceFeatures, 0);
            sim().setOffered(ccIidGrabberFeatures, 0);
        });
        ccUnknownFeatureAccess& f = features(b);
        EXPECT_THROW(f.executeFeature(L"Reset"), ccUnknownFG::MissingFunctionality);
        EXPECT_THROW(f.featureValue(L"Width"), ccUnknownFG::MissingFunctionality);
        EXPECT_THROW(f.setFeatureValue(L"Width", L"1"), ccUnknownFG::MissingFunctionality);
        EXPECT_EQ(f.featureNames(L"Root").size() + f.featureChoices(L"PixelFormat").size(), 0u);
        EXPECT_EQ(f.featureKind(L"Width"), -1);
        EXPECT_EQ(f.featureEntry(L"PixelFormat", 0), L"");
    }
}

TEST(Devices, KindsMapOneToSevenOntoZeroToSixAndANameOver256UnitsIsNotAsked)
{
    Boards b({{0, ccIidImagingDevice, u"", nullptr, 0}});
    // A 256-unit name reaches the module as its first 255.
    const std::u16string known(255, u'a');
    const ccSimFeature feature = {known.c_str(), u"", 1, u"", nullptr, 0, nullptr, 0};
    sim().setFeatures(&feature, 1);
    const int32_t kMapped[][2] = {{1, 0}, {7, 6}, {0, -1}, {8, -1}};
    for (const auto& m : kMapped) {
        sim().setAnswer(ccIidGrabberFeatures, 4, 0, m[0]);
        EXPECT_EQ(features(b).featureKind(std::wstring(256, L'a')), m[1]) << m[0];
    }
    EXPECT_THROW(features(b).featureKind(std::wstring(257, L'a')), ccBoard::BadParams);
    EXPECT_EQ(sim().callCount(ccIidGrabberFeatures, 4), 4u);
}

TEST(Devices, NamesGoToTheModuleCutTo255UnitsNeverInsideASurrogatePair)
{
    const struct { std::wstring name; std::u16string sent; } kCases[] = {
        {std::wstring(254, L'a') + L"\U0001F600", std::u16string(254, u'a')},
        {std::wstring(253, L'a') + L"\U0001F600", std::u16string(253, u'a') + u"\U0001F600"},
    };
    Boards b({{0, ccIidGigECamera, u"", nullptr, 0}});
    for (const auto& c : kCases) {
        // Not a feature the module knows: refused, but received.
        EXPECT_THROW(features(b).executeFeature(c.name), ccUnknownFG::MissingFunctionality);
        std::u16string received(512, u'\0');
        received.resize(sim().lastText(ccIidDeviceFeatures, 3, received.data(), 512));
        EXPECT_EQ(received, c.sent);
    }
}

TEST(Devices, ListsEndAtTheFirstFailureAtTheCapAndTextsAtTheirLastUnit)
{
    const std::u16string wide(300, u'x');
    std::vector<const char16_t*> pointers(5000, u"c");
    pointers[0] = wide.c_str();
    Boards b({{0, ccIidImagingDevice, u"", nullptr, 0}});
    const ccSimFeature endless = {u"Endless", u"Root", 1, u"", pointers.data(), 5000, pointers.data(), 1};
    sim().setFeatures(&endless, 1);
    const std::vector<std::wstring> choices = features(b).featureChoices(L"Endless");
    ASSERT_EQ(choices.size(), cc_ModFeatures::kMaxListed);
    EXPECT_EQ(choices[0], std::wstring(255, L'x'));
    EXPECT_EQ(features(b).featureEntry(L"Endless", 0), std::wstring(255, L'x'));
    // The first call fails: an empty list, and no error.
    sim().failNext(ccIidGrabberFeatures, 3, nullptr, 0, ccSimErrorKept);
    EXPECT_TRUE(features(b).featureNames(L"Root").empty());
}

TEST(Devices, IEEE1394CamerasSortByIdentityThenSortValueAndEqualAgainstOtherBoards)
{
    const struct { const char* what; const char16_t* identity[2]; uint32_t sort[2]; int32_t expected; bool offered; }
        kCases[] = {
        {"identities differ", {u"A", u"B"}, {9, 1}, -1, true},
        {"one identity, smaller sort value", {u"A", u"A"}, {1, 2}, -1, true},
        {"one identity, larger sort value", {u"A", u"A"}, {2, 1}, 1, true},
        {"one identity, one sort value", {u"A", u"A"}, {3, 3}, 0, true},
        {"no identity interface: the sort values decide", {u"A", u"B"}, {2, 1}, 1, false},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.what);
        Boards b({{0, ccIidDcamCamera, u"", c.identity[0], c.sort[0]},
                  {1, ccIidDcamCamera, u"", c.identity[1], c.sort[1]},
                  {2, ccIidImagingDevice, u"", nullptr, 0}},
                 4, [&] { sim().setOffered(ccIidDcamIdentity, c.offered); });
        EXPECT_EQ(b.boards[0]->compare(*b.boards[1]), c.expected);
        // Against an imaging device and a plain board.
        EXPECT_EQ(b.boards[0]->compare(*b.boards[2]), 0);
        EXPECT_EQ(b.boards[3]->compare(*b.boards[0]), 0);
    }
}

// Once a device is closed, every feature operation raises; none answers
// from what the device held.
TEST(Devices, AClosedDevicesFeaturesAllRaise)
{
    const std::function<void(ccUnknownFeatureAccess&)> kOperations[] = {
        [](ccUnknownFeatureAccess& f) { f.executeFeature(L"Reset"); },
        [](ccUnknownFeatureAccess& f) { f.featureValue(L"Width"); },
        [](ccUnknownFeatureAccess& f) { f.setFeatureValue(L"Width", L"1"); },
        [](ccUnknownFeatureAccess& f) { f.featureNames(L"Root"); },
        [](ccUnknownFeatureAccess& f) { f.featureKind(L"Width"); },
        [](ccUnknownFeatureAccess& f) { f.featureChoices(L"PixelFormat"); },
        [](ccUnknownFeatureAccess& f) { f.featureEntry(L"PixelFormat", 0); },
    };
    for (int32_t kind : {ccIidImagingDevice, ccIidGigECamera}) {
        Boards b({{0, kind, u"", nullptr, 0}});
        EXPECT_EQ(features(b).featureNames(L"Root").size(), 2u); // the engine exists
        b.boards[0]->close();
        for (size_t i = 0; i < std::size(kOperations); ++i)
            EXPECT_THROW(kOperations[i](features(b)), ccUnknownFG::MissingFunctionality) << kind << " op " << i;
    }
}

// A value set is read back, as at most the module's 256 units, with or
// without its 0; a serial number and an identity, read in two calls, come
// back whole.
TEST(Devices, ValuesAreReadUpToTheirLastUnitAndTwoCallTextsWhole)
{
    Boards b({{0, ccIidGigECamera, u"", nullptr, 0}});
    features(b).setFeatureValue(L"Width", L"1024");
    EXPECT_EQ(features(b).featureValue(L"Width"), L"1024");
    const std::u16string full(ccFeatureUnits, u'f'), over(300, u'o');
    const ccSimFeature long_[] = {{u"Full", u"Root", 1, full.c_str(), nullptr, 0, nullptr, 0},
                                  {u"Over", u"Root", 1, over.c_str(), nullptr, 0, nullptr, 0}};
    sim().setFeatures(long_, 2);
    EXPECT_EQ(features(b).featureValue(L"Full"), std::wstring(ccFeatureUnits, L'f'));
    EXPECT_EQ(features(b).featureValue(L"Over"), std::wstring(ccFeatureUnits, L'o'));
    const std::u16string serial(1000, u's');
    Boards d({{0, ccIidDcamCamera, serial.c_str(), serial.c_str(), 1}, {1, ccIidDcamCamera, u"", serial.c_str(), 2}},
             2);
    EXPECT_EQ(d.boards[0]->serialNumber(), std::wstring(1000, L's'));
    EXPECT_EQ(d.boards[0]->compare(*d.boards[1]), -1); // the whole identities are equal
}

// A module error while an IEEE 1394 camera reads its identity comes back
// from the comparison as the module's own.
TEST(Devices, IEEE1394ComparisonRaisesTheModulesError)
{
    Boards b({{0, ccIidDcamCamera, u"", u"A", 1}, {1, ccIidDcamCamera, u"", u"A", 2}}, 2);
    sim_module::failNext(ccIidDcamIdentity, 4, ccBoard::Timeout(L"Lost", 5));
    EXPECT_THROW(b.boards[0]->compare(*b.boards[1]), ccBoard::Timeout);
}

} // namespace
