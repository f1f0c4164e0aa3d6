#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <typeinfo>

#include "acq/acqfifo.h"
#include "acq/camcfg/entry.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/reader.h"
#include "acq/camcfg/strhelper.h"
#include "acq/hyper/prop/bright.h"
#include "acq/hyper/prop/camban.h"
#include "acq/hyper/prop/camctl.h"
#include "acq/hyper/prop/camloc.h"
#include "acq/hyper/prop/camport.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/cti.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/exposure.h"
#include "acq/hyper/prop/horizadj.h"
#include "acq/hyper/prop/ilut8.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/lsprops.h"
#include "acq/hyper/prop/pelpoolprop.h"
#include "acq/hyper/prop/roi.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/hyper/prop/sync.h"
#include "acq/hyper/prop/timeout.h"
#include "acq/hyper/prop/trig.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/image/acqimage.h"
#include "acq/trigmodel.h"
#include "acq/vidfmt/vidfmt.h"
#include "defs/ch_core/rect.h"
#include "grabber/startup.h"
#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/devices.h"
#include "modules/imaging.h"
#include "modules/parallel_io.h"
#include "modules/unknownfg.h"
#include "std/except/archutil.h"
#include "std/except/except.h"
#include "std/except/persist.h"
#include "std/except/resource.h"
#include "std/math/matherr.h"
#include "std/math/xfbase.h"
#include "std/math/xfpoly.h"
#include "std/pelbuf/pel_errors.h"
#include "std/pelbuf/pelfunc.h"
#include "std/pelbuf/pelroot3.h"
#include "std/pelbuf/rootpool.h"
#include "std/rpc/remote.h"
#include "std/rpc/rpc.h"
#include "std/dictionary.h"
#include "std/parseerror.h"
#include "std/literal.h"
#include "std/strings.h"
#include "std/threadid.h"
#include "std/timeout.h"
#include "tests/std/except/archive_support.h"

namespace {

using namespace archive_support;

const std::wstring kNoInfo = L"no further information provided";

Bytes zeros(size_t n) { return Bytes(n, 0x00); }
std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// An empty message (length 0 between the UTF-16 marks), then a zero word:
// the fields of a default archive error (file, line) and module error
// (message, last error).
const Bytes kEmptyText = {0x00, 0xFF, 0xFE, 0xFF, 0xFE};
const Bytes kEmptyTextAndZero = cat(kEmptyText, zeros(4));

// A message as ccExceptionWithString archives it.
Bytes textBytes(const std::wstring& text)
{
    return store(kLittle, [&](ccArchive& ar) {
        std::wstring copy = text;
        ar.archive(copy);
    });
}

// What a newer version byte at one level names; a null file is not checked.
struct Level {
    const char* file;
    uint32_t line;
};

// One registered error class, as the factory makes it.
struct Row {
    uint32_t code;
    std::string name; // stored as "class " + name
    ccPersistentFactory create;
    bool (*raisedAsItself)(ccException*); // caught by its family root
    Bytes contents;                       // archived after its type record: version bytes, then fields
    Level parent;                         // the version byte after its own
    std::wstring text = kNoInfo;          // printed
    Level own = {nullptr, 0};             // null: its name, line 0
};

void PrintTo(const Row& r, std::ostream* os) { *os << r.name; }

// Raises the heap object; true if the family's handler caught exactly T.
template <class T, class Root>
bool raisedAs(ccException* heap)
{
    try {
        heap->raise();
    } catch (const Root& e) {
        return typeid(e) == typeid(T);
    } catch (...) {
    }
    return false;
}

template <class T, class Root>
Row row(uint32_t code, const char* name, Bytes contents, Level parent, std::wstring text = kNoInfo,
        Level own = {nullptr, 0})
{
    return {code, name, &T::cmCreate, &raisedAs<T, Root>, std::move(contents), parent, text, own};
}

// The name a class is written with is its canonical name. Directly below
// ccException: its version byte, ccException's and ccPersistent's; below a
// family root: one more, and the root names its level. The ccArchive::Errors
// level names its source line (checked in tests/std/except).
#define PLAIN(T, code) row<T, ccException>(code, #T, zeros(3), {"std/except/except", 61})
#define MEMBER(T, Root, code) row<T, Root>(code, #T, zeros(4), {#Root, 0})
#define ARCHIVE_ERROR(T, code) \
    row<ccArchive::T, ccArchive::Errors>(code, "ccArchive::" #T, cat(zeros(4), kEmptyTextAndZero), {nullptr, 0})
// A message of its own, archived after ccExceptionWithString's version byte.
#define WITH_TEXT(T, Root, code) row<T, Root>(code, #T, cat(zeros(5), kEmptyText), {#Root, 0})
// A device's error, below the board errors.
#define DEVICE_ERROR(T, code)                                             \
    row<T, ccBoard::Errors>(code, #T, cat(zeros(4), kEmptyTextAndZero), \
                            {"ccBoard::Errors class version mismatch", 0})
#define MODULE_ERROR(Area, T, code)                                                   \
    row<Area::T, Area::Errors>(code, #Area "::" #T, cat(zeros(4), kEmptyTextAndZero), \
                               {#Area "::Errors class version mismatch", 0})

const Row kRows[] = {
    PLAIN(ccInvariantFailure, 0x10000001u), PLAIN(ccBadPointer, 0x10000008u), PLAIN(ccUnsupportedHW, 0x1000000Au),
    // Its message is not archived.
    row<ccUnknownError, ccExceptionWithString>(0x10000004u, "ccUnknownError", zeros(3), {"std/except/except", 61}),
    ARCHIVE_ERROR(Eof, 0x10000100u), ARCHIVE_ERROR(BadBuffer, 0x10000101u), ARCHIVE_ERROR(BadType, 0x10000102u),
    ARCHIVE_ERROR(BadContent, 0x10000103u), ARCHIVE_ERROR(NotFound, 0x10000104u), ARCHIVE_ERROR(Duplicate, 0x10000105u),
    // Its message is the type name, which is not archived.
    row<ccArchive::UnknownType, ccArchive::Errors>(0x10000106u, "ccArchive::UnknownType",
                                                   cat(zeros(4), kEmptyTextAndZero), {nullptr, 0}, L""),
    ARCHIVE_ERROR(UnknownVersion, 0x10000107u), ARCHIVE_ERROR(BadFile, 0x10000109u),
    ARCHIVE_ERROR(UnknownArchiveVersion, 0x1000010Au), ARCHIVE_ERROR(CannotWriteToOldArchive, 0x1000010Bu),
    ARCHIVE_ERROR(NotSeekable, 0x1000010Cu),
    MEMBER(cc_Resource::Timeout, cc_Resource::Errors, 0x10002100u),
    MEMBER(cc_Resource::NamedObjectExists, cc_Resource::Errors, 0x10002102u),
    MEMBER(cc_Resource::NameConflict, cc_Resource::Errors, 0x10002104u),
    MEMBER(cc_Resource::CreateFailed, cc_Resource::Errors, 0x10002105u),
    MEMBER(cc_Resource::BrokenLock, cc_Resource::Errors, 0u),
    // No code of its own; its message is archived by ccExceptionWithString.
    row<cc_ParseError, ccExceptionWithString>(0xFFFFFFFFu, "cc_ParseError", cat(zeros(4), kEmptyText),
                                              {"std/except/except", 98}),
    PLAIN(ccBadUnicodeChar, 0x1000000Bu), MEMBER(ccDictionary::BadParams, ccDictionary::Errors, 0x1000000Cu),
    row<ccStringLiteral::BadParams, ccExceptionWithString>(0x1000000Du, "ccStringLiteral::BadParams",
                                                           cat(zeros(4), kEmptyText), {"std/except/except", 98}),
    PLAIN(ccThreadID::CouldNotRegister, 0x10002101u), PLAIN(ccThreadID::CreateFailed, 0x10002103u),
    PLAIN(ccTimeout::Expired, 0x10001500u), MEMBER(ccTimeout::InternalExpired, ccTimeout::Expired, 0x10001501u),
    MEMBER(ccTimeout::Cancel, ccTimeout::Expired, 0x10001502u),
    MEMBER(ccRectErrors::NoOverlap, ccRectErrors::Errors, 0x10000407u),
    MEMBER(ccRectErrors::NegativeSize, ccRectErrors::Errors, 0x10000408u),
    MEMBER(ccMathError::Singular, ccMathError::Errors, 0x10000F00u),
    MEMBER(ccMathError::NullVector, ccMathError::Errors, 0x10000F01u),
    MEMBER(ccMathError::DivisionByZero, ccMathError::Errors, 0x10000F02u),
    PLAIN(cc2XformPoly::BadParams, 0x10000F20u), PLAIN(cc2XformPoly::IllDefined, 0x10000F21u),
    MEMBER(cc2XformDefs::NotImplemented, cc2XformDefs::Errors, 0x10000F30u),
    PLAIN(ccRemoteObject::ObjectMismatch, 0x10002600u),
    MEMBER(ccPel::UnboundWindow, ccPel::Errors, 0x10000400u), MEMBER(ccPel::BadWindow, ccPel::Errors, 0x10000402u),
    MEMBER(ccPel::DisjointWindows, ccPel::Errors, 0x10000403u), MEMBER(ccPel::Unknown, ccPel::Errors, 0x10000406u),
    MEMBER(ccPel::NonlinearXform, ccPel::Errors, 0x10000409u),
    // Then x and y.
    row<ccPel::BadCoord, ccPel::Errors>(0x10000405u, "ccPel::BadCoord", zeros(4 + 8), {"ccPel::Errors", 0},
                                        L"x=0, y=0", {"std/pelbuf/pbuf_com", 930}),
    MEMBER(ccPelFunc::Range, ccPelFunc::Errors, 0x10000500u), MEMBER(ccPelFunc::Overlap, ccPelFunc::Errors, 0x10000501u),
    MEMBER(ccPelFunc::BadParams, ccPelFunc::Errors, 0x10000502u),
    PLAIN(ccPelRootPool::NotSupported, 0x1000098Cu), PLAIN(ccPelRootPool::Outstanding, 0x1000098Du),
    WITH_TEXT(ccColorSpaceDefs::BadColorSpace, ccColorSpaceDefs::Errors, 0x1000040Au),
    WITH_TEXT(ccAcqImage::NotSupported, ccAcqImage::Errors, 0x100009D0u),
    WITH_TEXT(ccRPC::ObjectMismatch, ccRPC::Errors, 0x10003400u),
    // Its code is not archived: a loaded one has the default.
    WITH_TEXT(ccRPC::RuntimeError, ccRPC::Errors, 0x10003401u),
    WITH_TEXT(ccRPC::UnknownCommunicator, ccRPC::Errors, 0x10003402u),
    WITH_TEXT(ccRPC::UnsupportedFunction, ccRPC::Errors, 0x10003403u),
    WITH_TEXT(ccRPCHandler::DuplicateHandler, ccRPC::Errors, 0x10003404u),
    WITH_TEXT(ccRPC::CouldNotStartService, ccRPC::Errors, 0x10003405u),
    WITH_TEXT(ccRPC::NestedRPC, ccRPC::Errors, 0x10003406u),
    MEMBER(ccParallelIO::BadParams, ccParallelIO::Errors, 0x10003a00u),
    MEMBER(ccParallelIO::CannotEnable, ccParallelIO::Errors, 0x10003a01u),
    MEMBER(ccParallelIO::NotEnabled, ccParallelIO::Errors, 0x10003a03u),
    MEMBER(ccParallelIO::NotImplemented, ccParallelIO::Errors, 0x10003a04u),
    MEMBER(ccParallelIO::Unspecified, ccParallelIO::Errors, 0x10003a05u),
    MODULE_ERROR(ccBoard, BadParams, 0x10002c00u), MODULE_ERROR(ccBoard, StaticInitDisorder, 0x10002c01u),
    MODULE_ERROR(ccBoard, NotSupported, 0x10002c02u), MODULE_ERROR(ccBoard, HardwareNotResponding, 0x10002c03u),
    MODULE_ERROR(ccBoard, Timeout, 0x10002c04u), MODULE_ERROR(ccBoard, HardwareInUse, 0x10002c08u),
    MODULE_ERROR(ccBoard, HardwareNotInitialized, 0x10002c09u), MODULE_ERROR(ccBoard, FpgaLoadFailure, 0x10002c0bu),
    MODULE_ERROR(ccBoard, BadEERAMContents, 0x10002c0cu), MODULE_ERROR(ccBoard, MultiProcessAccessFailed, 0x10002c0du),
    MODULE_ERROR(ccAccelerator, BadFile, 0x10002c05u), MODULE_ERROR(ccAccelerator, BootFailure, 0x10002c06u),
    MODULE_ERROR(ccAccelerator, ConnectionBroken, 0x10002c0au),
    DEVICE_ERROR(ccGigEVisionCamera::NetworkError, 0x10002c0fu),
    DEVICE_ERROR(ccGigEVisionCamera::CameraError, 0x10002c10u),
    DEVICE_ERROR(ccGigEVisionCamera::FeatureError, 0x10002c11u),
    DEVICE_ERROR(ccImagingDevice::FeatureError, 0x10002c12u),
    PLAIN(ccAcqFifo::StartNotAllowed, 0x1000098Eu), PLAIN(ccAcqFifo::InvalidMaster, 0x10000993u),
    PLAIN(ccAcqFifo::CouldNotCreate, 0x100009A3u), PLAIN(ccAcqFifo::BadParams, 0x100009C5u),
    PLAIN(ccTriggerModel::BadParams, 0x100009AFu), PLAIN(ccSyncProp::NoFrameGrabber, 0x10000995u),
    PLAIN(ccFirstPelOffsetProp::BadParams, 0x100009A5u), PLAIN(ccEncoderProp::BadParams, 0x100009A6u),
    PLAIN(ccEncoderProp::NoFrameGrabber, 0x100009A7u),
    PLAIN(ccExposureProp::BadParams, 0x10000985u), PLAIN(ccStrobeProp::BadParams, 0x10000987u),
    PLAIN(ccStrobeDelayProp::BadParams, 0x100009AAu), PLAIN(ccLightProp::BadParams, 0x10000996u),
    PLAIN(ccLightProp::NotSupported, 0x100009A4u),
    PLAIN(ccTriggerProp::BadParams, 0x10000988u), PLAIN(cc8BitInputLutProp::BadParams, 0x100009B9u),
    PLAIN(ccCameraPortProp::BadParams, 0x10000982u), PLAIN(ccCameraPortProp::NoFrameGrabber, 0x10000983u),
    PLAIN(ccContrastBrightnessProp::BadParams, 0x10000984u), PLAIN(ccTimeoutProp::BadParams, 0x10000986u),
    PLAIN(ccCtiProp::BadParams, 0x10000990u), PLAIN(ccCtiProp::NoFrameGrabber, 0x10000992u),
    PLAIN(ccRoiProp::BadParams, 0x10000991u), PLAIN(ccRoiProp::NoFrameGrabber, 0x10000994u),
    PLAIN(ccHorizAdjustProp::BadParams, 0x1000099Au), PLAIN(ccHorizAdjustProp::NoFrameGrabber, 0x1000099Bu),
    PLAIN(ccDigitalCameraControlProp::BadParams, 0x100009A9u), PLAIN(ccTriggerFilterProp::BadParams, 0x100009ADu),
    PLAIN(ccCameraLocationProp::BadParams, 0x100009AEu), PLAIN(ccCustomPropertyBag::BadParams, 0x100009BAu),
    PLAIN(ccCdcCameraCalibrationProp::BadParams, 0x100009C2u), PLAIN(ccPelRootPoolProp::BadParams, 0x100009C3u),
    PLAIN(ccCameraBandwidthProp::BadParams, 0x100009C4u),
    PLAIN(ccVideoFormat::NotSupported, 0x10000981u), PLAIN(ccVideoFormat::NotFound, 0x100009A8u),
    PLAIN(ccUnknownFG::MissingFunctionality, 0x10002c0eu),
    // Stored under the camera's name.
    row<ccCameraPort::BadParams, ccException>(5u, "ccQorLinkCamera::BadParams", zeros(3), {"std/except/except", 61}),
    PLAIN(ccQorLinkFrameGrabber::BadParams, 5u),
    PLAIN(cc_camCfgEntry::BadType, 0x10005a50u), PLAIN(cc_CCFParameterMap::BadIndex, 0x10005A20u),
    row<cc_AcqStringHelper::EqualsNotFound, ccExceptionWithString>(
        0x10005A0Au, "cc_AcqStringHelper::EqualsNotFound", cat(zeros(4), textBytes(L"Equals not found")),
        {"std/except/except", 98}, L"Equals not found"),
    // Then its code (a default one is an integer's).
    row<cc_AcqStringHelper::BadVal, ccExceptionWithString>(0x10005A04u, "cc_AcqStringHelper::BadVal",
                                                           cat(cat(zeros(4), kEmptyText), {0x04, 0x5A, 0x00, 0x10}),
                                                           {"std/except/except", 98}),
    // Its code is not archived: a loaded one has the default.
    row<cc_ccfReader::GeneralError, ccExceptionWithString>(0x10005A31u, "cc_ccfReader::GeneralError",
                                                           cat(zeros(4), kEmptyText), {"std/except/except", 98}),
};

class RegisteredError : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override { ccLibraryStartup(); }
};

TEST_P(RegisteredError, IsStoredByItsNameRecreatedWithCodeAndMessageRaisedAsItselfAndVersioned)
{
    const Row& r = GetParam();
    std::unique_ptr<ccPersistent> original(r.create());
    for (bool seekable : {false, true}) {
        SCOPED_TRACE(seekable);
        // Stored twice: the second record refers to the first.
        Bytes all = storeAll(kLittle, seekable, [&](ccArchive& ar) {
            ccPersistent* unused = nullptr;
            archivePointer(ar, original.get(), unused);
            archivePointer(ar, original.get(), unused);
        });
        if (!seekable) {
            // Header, reference record and class block, the type record, the
            // contents, then the 18-byte second reference.
            std::string stored = "class " + r.name;
            const Bytes type = store(kLittle, [&](ccArchive& ar) { ccArchiveTypeName(ar, stored); });
            const size_t contents = 2 + 18 + 35 + type.size();
            ASSERT_EQ(all.size(), contents + r.contents.size() + 18);
            EXPECT_EQ(Bytes(all.begin() + 2 + 18 + 35, all.begin() + contents), type);
            EXPECT_EQ(Bytes(all.begin() + contents, all.begin() + contents + r.contents.size()), r.contents);
        }

        Loader l(all, seekable);
        ccPersistent* p = nullptr;
        archivePointer(l.ar(), nullptr, p);
        auto* loaded = dynamic_cast<ccException*>(p);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->code(), r.code);
        EXPECT_EQ(loaded->message(true), widen(r.name) + L": " + r.text);
        // Exactly its class; gone with the raise, and with it from the archive's table.
        EXPECT_TRUE(r.raisedAsItself(loaded));
        p = nullptr;
        if (!seekable) {
            EXPECT_THROW(archivePointer(l.ar(), nullptr, p), ccArchive::NotFound);
            continue;
        }
        // Found again through the record directory: a new object.
        archivePointer(l.ar(), nullptr, p);
        ASSERT_NE(dynamic_cast<ccException*>(p), nullptr);
        EXPECT_TRUE(r.raisedAsItself(dynamic_cast<ccException*>(p)));
    }
    // A newer version byte names its level, or its parent's.
    const Level levels[] = {r.own.file ? r.own : Level{r.name.c_str(), 0}, r.parent};
    for (size_t level = 0; level < 2; ++level) {
        if (!levels[level].file)
            continue;
        SCOPED_TRACE(level);
        Bytes bytes = r.contents;
        bytes[level] = 1;
        std::unique_ptr<ccPersistent> target(r.create()); // owned: it is left partly loaded
        Loader l(Loader::framed(bytes));
        try {
            ccArchiveObject(*target, l.ar(), true);
            ADD_FAILURE() << "loaded";
        } catch (const ccArchive::UnknownVersion& v) {
            EXPECT_EQ(v.file(), widen(levels[level].file));
            EXPECT_EQ(v.line(), levels[level].line);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(All, RegisteredError, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name = info.param.name;
                             std::replace(name.begin(), name.end(), ':', '_');
                             return name;
                         });

} // namespace
