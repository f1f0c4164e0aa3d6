#include "acq/hyper/prop/startup.h"

#include <mutex>

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
#include "acq/startup.h"
#include "std/except/persist.h"

void ccAcqHyperPropStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqStartup();
        ccRegisterPersistent<ccSyncProp>();
        ccRegisterPersistent<ccSyncProp::NoFrameGrabber>();
        // Trigger and 8-bit input lookup table.
        ccRegisterPersistent<ccTriggerProp>();
        ccRegisterPersistent<ccTriggerProp::BadParams>();
        ccRegisterPersistent<cc8BitInputLutProp>();
        ccRegisterPersistent<cc8BitInputLutProp::BadParams>();
        // Line-scan properties.
        ccRegisterPersistent<ccFirstPelOffsetProp>();
        ccRegisterPersistent<ccFirstPelOffsetProp::BadParams>();
        ccRegisterPersistent<ccEncoderControlProp>();
        ccRegisterPersistent<ccEncoderProp>();
        ccRegisterPersistent<ccEncoderProp::BadParams>();
        ccRegisterPersistent<ccEncoderProp::NoFrameGrabber>();
        // Region of interest, offset clamp, sample, readout direction, trigger filter, CDC calibration.
        ccRegisterPersistent<ccRoiProp>();
        ccRegisterPersistent<ccRoiProp::BadParams>();
        ccRegisterPersistent<ccRoiProp::NoFrameGrabber>();
        ccRegisterPersistent<ccOffsetClampProp>();
        ccRegisterPersistent<ccSampleProp>();
        ccRegisterPersistent<ccReadoutDirectionProp>();
        ccRegisterPersistent<ccTriggerFilterProp>();
        ccRegisterPersistent<ccTriggerFilterProp::BadParams>();
        ccRegisterPersistent<ccCdcCameraCalibrationProp>();
        ccRegisterPersistent<ccCdcCameraCalibrationProp::BadParams>();
        // Exposure, strobe, strobe delay, settling time and light.
        ccRegisterPersistent<ccLightProp>();
        ccRegisterPersistent<ccLightProp::BadParams>();
        ccRegisterPersistent<ccLightProp::NotSupported>();
        ccRegisterPersistent<ccExposureProp>();
        ccRegisterPersistent<ccExposureProp::BadParams>();
        ccRegisterPersistent<ccStrobeProp>();
        ccRegisterPersistent<ccStrobeProp::BadParams>();
        ccRegisterPersistent<ccStrobeDelayProp>();
        ccRegisterPersistent<ccStrobeDelayProp::BadParams>();
        ccRegisterPersistent<ccSettlingTimeProp>();
        // Camera front end: contrast and brightness, port, location, bandwidth, control, CTI, horizontal adjust.
        ccRegisterPersistent<ccContrastBrightnessProp>();
        ccRegisterPersistent<ccContrastBrightnessProp::BadParams>();
        ccRegisterPersistent<ccCameraPortProp>();
        ccRegisterPersistent<ccCameraPortProp::BadParams>();
        ccRegisterPersistent<ccCameraPortProp::NoFrameGrabber>();
        ccRegisterPersistent<ccCameraLocationProp::BadParams>();
        ccRegisterPersistent<ccCameraBandwidthProp>();
        ccRegisterPersistent<ccCameraBandwidthProp::BadParams>();
        ccRegisterPersistent<ccDigitalCameraControlProp>();
        ccRegisterPersistent<ccDigitalCameraControlProp::BadParams>();
        ccRegisterPersistent<ccCtiProp>();
        ccRegisterPersistent<ccCtiProp::BadParams>();
        ccRegisterPersistent<ccCtiProp::NoFrameGrabber>();
        ccRegisterPersistent<ccHorizAdjustProp>();
        ccRegisterPersistent<ccHorizAdjustProp::BadParams>();
        ccRegisterPersistent<ccHorizAdjustProp::NoFrameGrabber>();
        // Pel-root pool, time-out, alpha colour, camera test, clipping, callbacks.
        ccRegisterPersistent<ccPelRootPoolProp::BadParams>();
        ccRegisterPersistent<ccTimeoutProp>();
        ccRegisterPersistent<ccTimeoutProp::BadParams>();
        ccRegisterPersistent<ccAlphaColorProp>();
        ccRegisterPersistent<ccCameraTestProp>();
        ccRegisterPersistent<ccClippingProp>();
        ccRegisterPersistent<ccMovePartCallbackProp>();
        ccRegisterPersistent<ccCompleteCallbackProp>();
        ccRegisterPersistent<ccOverrunCallbackProp>();
        // Custom properties.
        ccRegisterPersistent<ccCustomProp>();
        ccRegisterPersistent<ccCustomPropertyBag::BadParams>();
        // The aggregates.
        ccRegisterPersistent<ccAcqProps>();
        ccRegisterPersistent<ccAnalogAcqProps>();
    });
}
