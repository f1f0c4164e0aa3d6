#include "comframe/objectitfs.h"

// The suite's core ids, told apart by the first word.
#define CC_CORE_IID(n) {0x6E1A3C00u + (n), 0x7320, 0x4A51, {0x9B, 0x41, 0x51, 0x6F, 0x72, 0x41, 0x72, 0x01}}

const IID IID_IQorComInternal = CC_CORE_IID(0x60);
const IID IID_IQorChangeEventConfiguration = CC_CORE_IID(0x61);
const IID IID_IQorDiscreteIO = CC_CORE_IID(0x62);

const IID IID_IQorAcqBrightness = CC_CORE_IID(0x80);
const IID IID_IQorAcqContrast = CC_CORE_IID(0x81);
const IID IID_IQorAcqBrightnessMultiChannel = CC_CORE_IID(0x82);
const IID IID_IQorAcqContrastMultiChannel = CC_CORE_IID(0x83);
const IID IID_IQorAcqSync = CC_CORE_IID(0x84);
const IID IID_IQorAcqLight = CC_CORE_IID(0x85);
const IID IID_IQorAcqTrigger = CC_CORE_IID(0x86);
const IID IID_IQorAcqHorizontalAdjustment = CC_CORE_IID(0x87);
const IID IID_IQorAcqChargeTransferInterval = CC_CORE_IID(0x88);
const IID IID_IQorAcqExposure = CC_CORE_IID(0x89);
const IID IID_IQorAcqLookupTable = CC_CORE_IID(0x8A);
const IID IID_IQorAcqStrobe = CC_CORE_IID(0x8B);
const IID IID_IQorAcqSettlingTime = CC_CORE_IID(0x8C);
const IID IID_IQorAcqDigitalCameraGain = CC_CORE_IID(0x8D);
const IID IID_IQorAcqMasterClockFrequency = CC_CORE_IID(0x8E);
const IID IID_IQorAcqROI = CC_CORE_IID(0x8F);
const IID IID_IQorAcqSimultaneous = CC_CORE_IID(0x90);
const IID IID_IQorAcqOffsetClamp = CC_CORE_IID(0x91);
const IID IID_IQorAcqSample = CC_CORE_IID(0x92);
const IID IID_IQorAcqReadoutDirection = CC_CORE_IID(0x93);
const IID IID_IQorAcqTriggerFilter = CC_CORE_IID(0x94);
const IID IID_IQorAcqStrobeDelay = CC_CORE_IID(0x95);
const IID IID_IQorAcqCameraCalibration = CC_CORE_IID(0x96);
const IID IID_IQorAcqLineScan = CC_CORE_IID(0x97);
const IID IID_IQorAcqStrobePulseDuration = CC_CORE_IID(0x98);
const IID IID_IQorAcq1394DCAM = CC_CORE_IID(0x99);
const IID IID_IQorAcqSettingInfo = CC_CORE_IID(0x9A);
const IID IID_IQorAcqCustomProperties = CC_CORE_IID(0x9B);

const IID kQorAcqFifoPropertyIids[29] = {CC_CORE_IID(0x80), CC_CORE_IID(0x81), CC_CORE_IID(0x82), CC_CORE_IID(0x83),
    CC_CORE_IID(0x84), CC_CORE_IID(0x85), CC_CORE_IID(0x86), CC_CORE_IID(0x87), CC_CORE_IID(0x88), CC_CORE_IID(0x89),
    CC_CORE_IID(0x8A), CC_CORE_IID(0x8B), CC_CORE_IID(0x8C), CC_CORE_IID(0x8D), CC_CORE_IID(0x8E), CC_CORE_IID(0x8F),
    CC_CORE_IID(0x90), CC_CORE_IID(0x91), CC_CORE_IID(0x92), CC_CORE_IID(0x93), CC_CORE_IID(0x94), CC_CORE_IID(0x95),
    CC_CORE_IID(0x96), CC_CORE_IID(0x97), CC_CORE_IID(0x98), CC_CORE_IID(0x99), CC_CORE_IID(0x9A), CC_CORE_IID(0x9B),
    {}};
