// One property request as it travels to the driver module, and the
// identifiers that name the properties. The same identifiers key the
// property-information records the module describes.
#pragma once
#include <cstddef>
#include <cstdint>

// Built on the sender's stack for each call; the module does not keep its
// address. A set carries the value with valid 0; a get goes out with value
// 0.0 and valid 0, and the module sets valid when it wrote the value.
struct ccAcqPropertyRequest {
    int32_t id = 0;
    int32_t channel = -1; // -1: every channel
    double value = 0.0;
    uint32_t valid = 0;
    uint32_t reserved = 0;
};
static_assert(sizeof(ccAcqPropertyRequest) == 24, "the request record is 24 bytes");
static_assert(offsetof(ccAcqPropertyRequest, id) == 0 && offsetof(ccAcqPropertyRequest, channel) == 4 &&
                  offsetof(ccAcqPropertyRequest, value) == 8 && offsetof(ccAcqPropertyRequest, valid) == 16 &&
                  offsetof(ccAcqPropertyRequest, reserved) == 20,
              "the request record's fields lie where the module reads them");

// Values travel as doubles: a bool as 0.0 or 1.0, an 8-bit value as its
// unsigned value, a 32-bit integer as its value, a sync model as its code.
// Grouped properties send one request per member, in ascending order.
enum ccAcqPropertyId : int32_t {
    ccPropExposure = 1000, // also read back as the exposure default
    ccPropCameraPort = 1001,
    ccPropSettlingTime = 1002,
    ccPropTimeout = 1003,
    ccPropStrobeEnable = 1004,
    ccPropStrobePulseDuration = 1005,
    ccPropStrobePulsePolarityHigh = 1006,
    ccPropStrobeDelay = 1007,
    ccPropTriggerLowToHigh = 1008,
    ccPropChargeTransferInterval = 1009,
    ccPropAlphaColorValue = 1010,
    ccPropHorizontalAdjustment = 1011,
    ccPropAlphaColorEnabled = 1012,
    ccPropAlphaColorMode = 1013, // the mode's low byte
    ccPropClippingEnabled = 1014,
    ccPropClippingLowLevel = 1015,
    ccPropClippingHighLevel = 1016,
    ccPropSyncModel = 1017,
    ccPropCameraBandwidth = 1018,
    ccPropContrast = 1019,   // with a channel; read back as the contrast default
    ccPropBrightness = 1020, // with a channel; read back as the brightness default

    ccPropBrightFieldPowerRatio = 2001,
    ccPropLightPower = 2002,
    ccPropLightDelay = 2003,
    ccPropAuxLightPort = 2004,
    ccPropAuxBrightFieldPowerRatio = 2006,
    ccPropAuxLightPower = 2007,
    ccPropLightEnabled = 2008,

    ccPropDigitalHighGainSelected = 3001,
    ccPropMasterClockFrequency = 3002,
    ccPropCameraTestFirst = 3003,
    ccPropCameraTestSecond = 3004,
    ccPropCameraTestThird = 3005,
    ccPropHorizontalReadoutReversed = 3006,
    ccPropVerticalReadoutReversed = 3007,
    ccPropOutlierPixelCorrection = 3008,
    ccPropCdcCalibrationFirst = 3009,
    ccPropCdcCalibrationSecond = 3010,
    ccPropRowColumnCalibration = 3011,

    ccPropResetCounterOnHardwareTrigger = 5000,
    ccPropTestEncoderEnabled = 5001,
    ccPropTestEncoderDirectionPositive = 5002,
    ccPropEncoderPort = 5003,
    ccPropAcquireDirectionPositive = 5004,
    ccPropEncoderOffset = 5005,
    ccPropFirstPelOffset = 5006,
    ccPropUseSingleChannel = 5007,
    ccPropEncoderResolution = 5008,
    ccPropStartAcqOnEncoderCount = 5009,
    ccPropIgnoreBackwardsMotion = 5010,
    ccPropIgnoreTooFastEncoder = 5011,

    ccPropMinTriggerWidth = 6000,
    ccPropMinTriggerPeriod = 6001,
    ccPropTriggerDelay = 6002,
    ccPropOffsetClamp = 6003,
    ccPropRoiMode = 6006,
    ccPropIgnoreMissedTrigger = 8022,

    ccPropPresence9008 = 9008, // information record only
    ccPropSampleX = 9011,
    ccPropSampleY = 9012,
    ccPropCdcCalibrationDefault = 9013, // read back only; true when not 0.0
};
