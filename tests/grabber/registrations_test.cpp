#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <typeinfo>
#include <vector>

#include "acq/hyper/prop/sync.h"
#include "acq/image/acqimage.h"
#include "defs/ch_core/rect.h"
#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/parallel_io.h"
#include "std/dictionary.h"
#include "std/except/archutil.h"
#include "std/except/persist_testing.h"
#include "std/except/resource.h"
#include "std/literal.h"
#include "std/math/matherr.h"
#include "std/math/pel_nonlinear.h"
#include "std/math/xfbase.h"
#include "std/math/xfcomposed.h"
#include "std/math/xferrors.h"
#include "std/math/xflinear.h"
#include "std/math/xfpoly.h"
#include "std/parseerror.h"
#include "std/pelbuf/pelcvt.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/rootpool.h"
#include "std/rpc/rpc.h"
#include "std/strings.h"
#include "std/threadid.h"
#include "std/timeout.h"
#include "tests/support/bytes.h"
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
// factory of its stored name; and every registration's factory makes the class
// stored under its name.
TEST(Registrations, EveryLibraryClassIsMadeByItsStoredName)
{
    expectRegistered<ccInvariantFailure, ccBadPointer, ccUnsupportedHW, ccUnknownError, ccParallelIO::CannotEnable,
                     ccParallelIO::NotEnabled, ccParallelIO::BadParams, ccParallelIO::NotImplemented,
                     ccParallelIO::Unspecified, ccAcqImage::NotSupported, ccBoard::BadParams,
                     ccBoard::StaticInitDisorder, ccBoard::NotSupported, ccBoard::HardwareNotResponding,
                     ccBoard::HardwareNotInitialized, ccBoard::HardwareInUse, ccBoard::Timeout,
                     ccBoard::FpgaLoadFailure, ccBoard::BadEERAMContents, ccBoard::MultiProcessAccessFailed,
                     ccAccelerator::BadFile, ccAccelerator::BootFailure, ccAccelerator::ConnectionBroken,
                     ccBadUnicodeChar, ccStringLiteral::BadParams, ccDictionary::BadParams, cc_PelRoot,
                     ccPel::UnboundWindow, ccPel::BadWindow, ccPel::DisjointWindows, ccPel::BadCoord, ccPel::Unknown,
                     ccPel::NonlinearXform, cc2XformDefs::NotImplemented, cc2XformLinear,
                     ccColorSpaceDefs::BadColorSpace, ccPelRoot<cc3PlanePel>, ccArchive::Eof, ccArchive::BadBuffer,
                     ccArchive::BadFile, ccArchive::BadType, ccArchive::BadContent, ccArchive::NotFound,
                     ccArchive::Duplicate, ccArchive::UnknownType, ccArchive::UnknownVersion, ccArchive::NotSeekable,
                     ccArchive::UnknownArchiveVersion, ccArchive::CannotWriteToOldArchive, ccPelRoot<unsigned char>,
                     ccPelRoot<unsigned short>, ccPelRoot<uint32_t>, ccPelRoot<double>, ccPelRoot<signed char>,
                     ccPelRoot<int32_t>, ccPelRoot<short>, ccPelRoot<ccPackedRGB16Pel>, ccPelRoot<ccPackedRGB32Pel>,
                     cc_ParseError, cc_Resource::Timeout, cc_Resource::NamedObjectExists, cc_Resource::BrokenLock,
                     cc_Resource::NameConflict, cc_Resource::CreateFailed, ccThreadID::CouldNotRegister,
                     ccThreadID::CreateFailed, ccPelRootCvt<unsigned char>, ccPelRootCvt<short>,
                     ccPelRootCvt<unsigned short>, ccPelRootCvt<uint32_t>, ccPelRootCvt<double>,
                     ccRectErrors::NoOverlap, ccRectErrors::NegativeSize, ccPelRootPool::NotSupported,
                     ccPelRootPool::Outstanding, ccRemoteObject::ObjectMismatch, ccRPC::ObjectMismatch,
                     ccRPC::UnknownCommunicator, ccRPC::UnsupportedFunction, ccRPC::CouldNotStartService,
                     ccRPC::NestedRPC, ccRPCHandler::DuplicateHandler, ccRPC::RuntimeError, ccMathError::Singular,
                     ccMathError::NullVector, ccMathError::DivisionByZero, cc2XformComposed, cc2XformPoly::BadParams,
                     cc2XformPoly::IllDefined, cc2XformPoly, ccPelFunc::Range, ccPelFunc::Overlap, ccPelFunc::BadParams,
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

TEST(Registrations, AnArchivedSyncPropertyIsMadeAgainByItsFactory)
{
    ccSyncProp stored;
    stored.syncModel(ccSyncModel::externalPixelDrive());
    ccPersistent* loaded = nullptr;
    const auto bytes = test_bytes::store(ccArchive::littleEndian, [&](ccArchive& ar) {
        archivePointer(ar, &stored, loaded);
        ar.flush();
    });
    test_bytes::load(bytes, [&](ccArchive& ar) { archivePointer(ar, nullptr, loaded); });
    const std::unique_ptr<ccPersistent> held(loaded);
    const auto* sync = dynamic_cast<ccSyncProp*>(loaded);
    EXPECT_TRUE(sync && typeid(*sync) == typeid(ccSyncProp) && sync->syncModel() == ccSyncModel::externalPixelDrive());
}

// Each status of the thrower table, and statuses no thrower knows.
TEST(Registrations, EachStatusOfTheTableRaisesItsClass)
{
    const std::type_info* const unknown = &typeid(ccUnknownError);
    const struct {
        uint32_t status;
        const std::type_info* type;
        const wchar_t* text = nullptr; // null: not checked
    } rows[] = {
        {0x80000023u, &typeid(ccBadAllocation), L"bad allocation"}, {0x80000061u, &typeid(ccTimeout::Expired)},
        {0x80000062u, &typeid(ccTimeout::Cancel)}, {0x80000064u, &typeid(ccTimeout::InternalExpired)},
        {0x800003C3u, &typeid(ccPel::UnboundWindow)}, {0x800003CAu, &typeid(ccPel::NonlinearXform)},
        {0x80000582u, &typeid(ccMathError::Singular)}, {0x80000583u, &typeid(ccMathError::Singular)},
        {0x80000585u, &typeid(ccPel::NonlinearXform)}, {0x80000586u, &typeid(cc2XformDefs::NotImplemented)},
        {0x80000587u, &typeid(cc2XformDeformDefs::BadParams), L"Bad Params: Negative smoothness"},
        {0x80000588u, &typeid(cc2XformDeformDefs::BadParams), L"Bad Params: Less than 3 points"},
        {0x8000058Cu, &typeid(cc2XformCalib2Defs::BadParams), L"Bad Points"},
        {0x800006A1u, &typeid(ccPelFunc::Overlap)}, {0x800006A2u, &typeid(ccPelFunc::BadParams)},
        {0x800006A5u, &typeid(ccPelFunc::BadParams)}, {0x80000584u, unknown}, {0x80000589u, unknown},
        {0x8000058Bu, unknown}, {0x800006A6u, unknown}, {0x800007C1u, unknown}, // 62: no calibration engine here
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
