#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "std/except/persist_testing.h"
#include "std/math/xfcomposed.h"
#include "std/math/xferrors.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"
#include "std/pelbuf/pelcvt.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/pelroot3.h"
#include "tests/support/thrown.h"

namespace {

template <class... T>
void expectRegistered()
{
    const auto check = [](const char* name, const std::type_info& type) {
        const std::unique_ptr<ccPersistent> made(ccFindFactory(name) ? ccFindFactory(name)() : nullptr);
        EXPECT_TRUE(made && typeid(*made) == type) << name;
    };
    (check(T::kStoredName, typeid(T)), ...);
}

// Every class the library re-creates from an archive is made, exactly, by the
// factory of its stored name (the error classes errors_test loads by theirs);
// and every registration's factory makes the class stored under its name.
TEST(Registrations, EveryLibraryClassIsMadeByItsStoredName)
{
    expectRegistered<cc_PelRoot, cc2XformLinear, ccPelRoot<cc3PlanePel>, ccPelRoot<unsigned char>,
                     ccPelRoot<unsigned short>, ccPelRoot<uint32_t>, ccPelRoot<double>, ccPelRoot<signed char>,
                     ccPelRoot<int32_t>, ccPelRoot<short>, ccPelRoot<ccPackedRGB16Pel>, ccPelRoot<ccPackedRGB32Pel>,
                     ccPelRootCvt<unsigned char>, ccPelRootCvt<short>, ccPelRootCvt<unsigned short>,
                     ccPelRootCvt<uint32_t>, ccPelRootCvt<double>, cc2XformComposed, cc2XformPoly,
                     cc2XformDeformDefs::BadParams, cc2XformCalib2Defs::BadParams>();

    std::set<std::string> names;
    for (const auto& r : ccRegisteredPersistentTypes()) {
        EXPECT_TRUE(names.insert(r.first).second) << r.first; // a second one would never be used
        const std::unique_ptr<ccPersistent> made(r.second());
        EXPECT_TRUE(made && ccFindFactory(made->storedTypeName()) == r.second) << r.first;
    }
}

// The acquisition library's classes stand in the registry in the order of its
// start-up, not in the orders of its folders' registrations. By stored name:
// ccCameraPort::BadParams is stored as ccQorLinkCamera::BadParams.
TEST(Registrations, TheAcquisitionLibrarysClassesInTheirOrder)
{
    const std::vector<std::string> expected = {
        "ccAcqFifo::StartNotAllowed", "ccAcqFifo::InvalidMaster", "ccAcqFifo::CouldNotCreate", "ccAcqFifo::BadParams",
        "ccTriggerProp", "ccTriggerProp::BadParams", "cc8BitInputLutProp", "cc8BitInputLutProp::BadParams",
        "ccFirstPelOffsetProp", "ccFirstPelOffsetProp::BadParams", "ccEncoderProp", "ccEncoderProp::BadParams",
        "ccEncoderProp::NoFrameGrabber", "ccEncoderControlProp", "ccRoiProp", "ccRoiProp::BadParams",
        "ccRoiProp::NoFrameGrabber", "ccCustomProp", "ccCustomPropertyBag::BadParams", "ccCtiProp",
        "ccCtiProp::BadParams", "ccCtiProp::NoFrameGrabber", "ccHorizAdjustProp", "ccHorizAdjustProp::BadParams",
        "ccHorizAdjustProp::NoFrameGrabber", "ccSyncProp", "ccSyncProp::NoFrameGrabber", "ccContrastBrightnessProp",
        "ccContrastBrightnessProp::BadParams", "ccVideoFormat::NotSupported", "ccVideoFormat::NotFound",
        "ccTriggerModel::BadParams", "ccCameraPortProp", "ccCameraPortProp::BadParams",
        "ccCameraPortProp::NoFrameGrabber", "ccCameraLocationProp::BadParams", "ccLightProp", "ccLightProp::BadParams",
        "ccLightProp::NotSupported", "ccExposureProp", "ccExposureProp::BadParams", "ccCameraBandwidthProp",
        "ccCameraBandwidthProp::BadParams", "ccStrobeProp", "ccStrobeProp::BadParams", "ccStrobeDelayProp",
        "ccStrobeDelayProp::BadParams", "ccSettlingTimeProp", "ccDigitalCameraControlProp",
        "ccDigitalCameraControlProp::BadParams", "ccOffsetClampProp", "ccSampleProp", "ccReadoutDirectionProp",
        "ccTriggerFilterProp", "ccTriggerFilterProp::BadParams", "ccCdcCameraCalibrationProp",
        "ccCdcCameraCalibrationProp::BadParams", "ccPelRootPoolProp::BadParams", "cc_camCfgEntry::BadType",
        "ccTimeoutProp", "ccTimeoutProp::BadParams", "ccAlphaColorProp", "ccCameraTestProp", "ccClippingProp",
        "ccMovePartCallbackProp", "ccCompleteCallbackProp", "ccOverrunCallbackProp", "ccAcqProps", "ccAnalogAcqProps",
        "cc_AcqStringHelper::EqualsNotFound", "cc_CCFParameterMap::BadIndex", "ccQorLinkCamera::BadParams",
        "ccQorLinkFrameGrabber::BadParams", "ccUnknownFG::MissingFunctionality"};
    const std::set<std::string> wanted(expected.begin(), expected.end());
    std::vector<std::string> found;
    for (const auto& r : ccRegisteredPersistentTypes())
        if (wanted.count(r.first.substr(6)))
            found.push_back(r.first.substr(6));
    EXPECT_EQ(found, expected);
}

// The transforms' statuses the start-up test leaves, and
// facilities 53 and 62 (no calibration engine here) thrown through the
// start-up (the rest of 53's table is its own folder's).
TEST(Registrations, EachStatusOfTheTableRaisesItsClass)
{
    const struct {
        uint32_t status;
        const std::type_info* type;
        const wchar_t* text = nullptr; // null: not checked
    } rows[] = {
        {0x80000587u, &typeid(cc2XformDeformDefs::BadParams), L"Bad Params: Negative smoothness"},
        {0x80000588u, &typeid(cc2XformDeformDefs::BadParams), L"Bad Params: Less than 3 points"},
        {0x8000058Cu, &typeid(cc2XformCalib2Defs::BadParams), L"Bad Points"},
        {0x800006A1u, &typeid(ccPelFunc::Overlap)}, {0x800007C1u, &typeid(ccUnknownError)},
    };
    for (const auto& r : rows) {
        std::wstring message;
        const std::type_info* thrown = thrown::thrownBy(thrown::st(r.status), &message);
        EXPECT_TRUE(thrown && *thrown == *r.type) << std::hex << r.status;
        if (r.text) {
            EXPECT_EQ(message, r.text) << std::hex << r.status;
        }
    }
}

} // namespace
