#include "grabber/typelib.h"

#include <iterator>

#include "comframe/classids.h"

namespace cc_grabber_types {
namespace {

using plat::com::InterfaceEntry;

const InterfaceEntry kFifoClass = {&CLSID_QorAcqFifo7320, u"QorAcqFifo7320", nullptr, 0, TKIND_COCLASS};
const InterfaceEntry kCollectionClass = {&CLSID_QorFrameGrabber7320s, u"QorFrameGrabber7320s", nullptr, 0,
                                         TKIND_COCLASS};
const InterfaceEntry kBoardClass = {&CLSID_QorFrameGrabber7320, u"QorFrameGrabber7320", nullptr, 0, TKIND_COCLASS};

const InterfaceEntry* const kInterfaces[] = {
    &kAcqFifo7320,
    &kFrameGrabber7320s, &kFrameGrabber7320, &kInputLine, &kOutputLine, &kInputLines, &kOutputLines, &kInputLineEvents,
    &kAcqBrightness, &kAcqContrast, &kAcqBrightnessMultiChannel, &kAcqContrastMultiChannel, &kAcqSync, &kAcqLight,
    &kAcqTrigger, &kAcqHorizontalAdjustment, &kAcqChargeTransferInterval, &kAcqExposure, &kAcqLookupTable,
    &kAcqStrobe, &kAcqSettlingTime, &kAcqDigitalCameraGain,
    &kAcqMasterClockFrequency, &kAcqROI, &kAcqSimultaneous, &kAcqOffsetClamp, &kAcqSample, &kAcqReadoutDirection,
    &kAcqTriggerFilter, &kAcqStrobeDelay, &kAcqCameraCalibration, &kAcqLineScan, &kAcqStrobePulseDuration,
    &kAcq1394DCAM, &kAcqSettingInfo, &kAcqCustomProperties,
    &kFifoClass, &kCollectionClass, &kBoardClass,
};

const plat::com::TypeLibraryEntry kLibrary = {&LIBID_Qorx7320, 1, 0, kInterfaces, std::size(kInterfaces),
                                              u"Qoralt 7320 Type Library"};

} // namespace
} // namespace cc_grabber_types

void ccRegisterModuleTypeLibrary()
{
    static const bool registered = (plat::com::registerTypeLibrary(cc_grabber_types::kLibrary), true);
    (void)registered;
}
