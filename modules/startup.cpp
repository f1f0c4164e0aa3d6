#include "modules/startup.h"

#include <mutex>

#include "acq/acqfifo.h"
#include "acq/camcfg/entry.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/strhelper.h"
#include "acq/hyper/prop/acqprops.h"
#include "acq/hyper/prop/alpha.h"
#include "acq/hyper/prop/analog.h"
#include "acq/hyper/prop/bright.h"
#include "acq/hyper/prop/callback.h"
#include "acq/hyper/prop/camban.h"
#include "acq/hyper/prop/camctl.h"
#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/camloc.h"
#include "acq/hyper/prop/camport.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/clip.h"
#include "acq/hyper/prop/cti.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/exposure.h"
#include "acq/hyper/prop/horizadj.h"
#include "acq/hyper/prop/ilut8.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/lsprops.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/pelpoolprop.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/roi.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/settletm.h"
#include "acq/hyper/prop/strobe.h"
#include "acq/hyper/prop/sync.h"
#include "acq/hyper/prop/timeout.h"
#include "acq/hyper/prop/trig.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/image/startup.h"
#include "acq/trigmodel.h"
#include "acq/vidfmt/builtin.h"
#include "acq/vidfmt/startup.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/accelerator.h"
#include "modules/board.h"
#include "modules/devices.h"
#include "modules/imaging.h"
#include "modules/parallel_io.h"
#include "modules/unknownfg.h"
#include "std/except/persist.h"

void ccModulesStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqVidfmtStartup();

        ccRegisterPersistent<ccParallelIO::CannotEnable>();
        ccRegisterPersistent<ccParallelIO::NotEnabled>();
        ccRegisterPersistent<ccParallelIO::BadParams>();
        ccRegisterPersistent<ccParallelIO::NotImplemented>();
        ccRegisterPersistent<ccParallelIO::Unspecified>();

        ccRegisterPersistent<ccBoard::BadParams>();
        ccRegisterPersistent<ccBoard::StaticInitDisorder>();
        ccRegisterPersistent<ccBoard::NotSupported>();
        ccRegisterPersistent<ccBoard::HardwareNotResponding>();
        ccRegisterPersistent<ccBoard::HardwareNotInitialized>();
        ccRegisterPersistent<ccBoard::HardwareInUse>();
        ccRegisterPersistent<ccBoard::Timeout>();
        ccRegisterPersistent<ccBoard::FpgaLoadFailure>();
        ccRegisterPersistent<ccBoard::BadEERAMContents>();
        ccRegisterPersistent<ccBoard::MultiProcessAccessFailed>();

        ccRegisterPersistent<ccAccelerator::BadFile>();
        ccRegisterPersistent<ccAccelerator::BootFailure>();
        ccRegisterPersistent<ccAccelerator::ConnectionBroken>();

        // A driver module may send it too.
        ccRegisterPersistent<ccUnknownFG::MissingFunctionality>();

        ccRegisterPersistent<ccCameraPort::BadParams>();
        ccRegisterPersistent<ccQorLinkFrameGrabber::BadParams>();

        ccRegisterPersistent<ccGigEVisionCamera::NetworkError>();
        ccRegisterPersistent<ccGigEVisionCamera::CameraError>();
        ccRegisterPersistent<ccGigEVisionCamera::FeatureError>();
        ccRegisterPersistent<ccImagingDevice::FeatureError>();

        // Before any module is loaded: boards are built as it loads.
        (void)cc_UnknownModule::setBoardBuilder(&ccBuildModuleBoard);
    });
}

void ccAcqLibraryStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqImageStartup();

        // A class's place in the registry is that of its first registration,
        // so this list, not the folders', decides it. The infinite defaults
        // of the charge transfer interval, horizontal adjustment and time-out,
        // the sync models' records and the trigger filter's limits are
        // constants, there before anything runs: nothing to build for them.
        ccRegisterPersistent<ccAcqFifo::StartNotAllowed>();
        ccRegisterPersistent<ccAcqFifo::InvalidMaster>();
        ccRegisterPersistent<ccAcqFifo::CouldNotCreate>();
        ccRegisterPersistent<ccAcqFifo::BadParams>();
        ccRegisterPersistent<ccTriggerProp>();
        ccRegisterPersistent<ccTriggerProp::BadParams>();
        ccRegisterPersistent<cc8BitInputLutProp>();
        ccRegisterPersistent<cc8BitInputLutProp::BadParams>();
        ccRegisterPersistent<ccFirstPelOffsetProp>();
        ccRegisterPersistent<ccFirstPelOffsetProp::BadParams>();
        ccRegisterPersistent<ccEncoderProp>();
        ccRegisterPersistent<ccEncoderProp::BadParams>();
        ccRegisterPersistent<ccEncoderProp::NoFrameGrabber>();
        ccRegisterPersistent<ccEncoderControlProp>();
        ccRegisterPersistent<ccRoiProp>();
        ccRegisterPersistent<ccRoiProp::BadParams>();
        ccRegisterPersistent<ccRoiProp::NoFrameGrabber>();
        ccRegisterPersistent<ccCustomProp>();
        ccRegisterPersistent<ccCustomPropertyBag::BadParams>();
        ccRegisterPersistent<ccCtiProp>();
        ccRegisterPersistent<ccCtiProp::BadParams>();
        ccRegisterPersistent<ccCtiProp::NoFrameGrabber>();
        ccRegisterPersistent<ccHorizAdjustProp>();
        ccRegisterPersistent<ccHorizAdjustProp::BadParams>();
        ccRegisterPersistent<ccHorizAdjustProp::NoFrameGrabber>();
        ccRegisterPersistent<ccSyncProp>();
        ccRegisterPersistent<ccSyncProp::NoFrameGrabber>();
        ccRegisterPersistent<ccContrastBrightnessProp>();
        ccRegisterPersistent<ccContrastBrightnessProp::BadParams>();
        ccRegisterPersistent<ccVideoFormat::NotSupported>();
        ccRegisterPersistent<ccVideoFormat::NotFound>();
        ccRegisterPersistent<ccTriggerModel::BadParams>();

        (void)ccTriggerModel::automatic();
        (void)ccTriggerModel::semiAutomatic();
        (void)ccTriggerModel::manual();
        (void)ccTriggerModel::freeRun();
        (void)ccTriggerModel::slave();

        ccRegisterPersistent<ccCameraPortProp>();
        ccRegisterPersistent<ccCameraPortProp::BadParams>();
        ccRegisterPersistent<ccCameraPortProp::NoFrameGrabber>();
        ccRegisterPersistent<ccCameraLocationProp::BadParams>();
        ccRegisterPersistent<ccLightProp>();
        ccRegisterPersistent<ccLightProp::BadParams>();
        ccRegisterPersistent<ccLightProp::NotSupported>();
        ccRegisterPersistent<ccExposureProp>();
        ccRegisterPersistent<ccExposureProp::BadParams>();
        ccRegisterPersistent<ccCameraBandwidthProp>();
        ccRegisterPersistent<ccCameraBandwidthProp::BadParams>();
        ccRegisterPersistent<ccStrobeProp>();
        ccRegisterPersistent<ccStrobeProp::BadParams>();
        ccRegisterPersistent<ccStrobeDelayProp>();
        ccRegisterPersistent<ccStrobeDelayProp::BadParams>();
        ccRegisterPersistent<ccSettlingTimeProp>();
        ccRegisterPersistent<ccDigitalCameraControlProp>();
        ccRegisterPersistent<ccDigitalCameraControlProp::BadParams>();
        ccRegisterPersistent<ccOffsetClampProp>();
        ccRegisterPersistent<ccSampleProp>();
        ccRegisterPersistent<ccReadoutDirectionProp>();
        ccRegisterPersistent<ccTriggerFilterProp>();
        ccRegisterPersistent<ccTriggerFilterProp::BadParams>();
        ccRegisterPersistent<ccCdcCameraCalibrationProp>();
        ccRegisterPersistent<ccCdcCameraCalibrationProp::BadParams>();
        ccRegisterPersistent<ccPelRootPoolProp::BadParams>();

        for (size_t i = 0; i < kBuiltinVideoFormatCount; ++i)
            (void)ccBuiltinVideoFormat(i);

        ccRegisterPersistent<cc_camCfgEntry::BadType>();

        (void)cc_fifoKindTag::grey();
        (void)cc_fifoKindTag::other();
        (void)cc_fifoKindTag::rgb16();
        (void)cc_fifoKindTag::rgb32();
        (void)cc_fifoKindTag::threePlane();

        ccRegisterPersistent<ccTimeoutProp>();
        ccRegisterPersistent<ccTimeoutProp::BadParams>();
        ccRegisterPersistent<ccAlphaColorProp>();
        ccRegisterPersistent<ccCameraTestProp>();
        ccRegisterPersistent<ccClippingProp>();
        ccRegisterPersistent<ccMovePartCallbackProp>();
        ccRegisterPersistent<ccCompleteCallbackProp>();
        ccRegisterPersistent<ccOverrunCallbackProp>();
        ccRegisterPersistent<ccAcqProps>();
        ccRegisterPersistent<ccAnalogAcqProps>();
        ccRegisterPersistent<cc_AcqStringHelper::EqualsNotFound>();

        (void)cc_CCFParameterMap::rows();

        ccRegisterPersistent<cc_CCFParameterMap::BadIndex>();

        (void)ccQorDeviceRoot::instance();

        ccRegisterPersistent<ccCameraPort::BadParams>();
        ccRegisterPersistent<ccQorLinkFrameGrabber::BadParams>();
        ccRegisterPersistent<ccUnknownFG::MissingFunctionality>();
    });
}
