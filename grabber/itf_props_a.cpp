// Placeholder tables: replaced by the interfaces' own.
#include "grabber/typelib.h"
#include "comframe/objectitfs.h"

namespace cc_grabber_types {
const plat::com::InterfaceEntry kAcqBrightness = {&GUID_NULL, u"kAcqBrightness", nullptr, 0};
const plat::com::InterfaceEntry kAcqContrast = {&GUID_NULL, u"kAcqContrast", nullptr, 0};
const plat::com::InterfaceEntry kAcqBrightnessMultiChannel = {&GUID_NULL, u"kAcqBrightnessMultiChannel", nullptr, 0};
const plat::com::InterfaceEntry kAcqContrastMultiChannel = {&GUID_NULL, u"kAcqContrastMultiChannel", nullptr, 0};
const plat::com::InterfaceEntry kAcqSync = {&GUID_NULL, u"kAcqSync", nullptr, 0};
const plat::com::InterfaceEntry kAcqLight = {&GUID_NULL, u"kAcqLight", nullptr, 0};
const plat::com::InterfaceEntry kAcqTrigger = {&GUID_NULL, u"kAcqTrigger", nullptr, 0};
const plat::com::InterfaceEntry kAcqHorizontalAdjustment = {&GUID_NULL, u"kAcqHorizontalAdjustment", nullptr, 0};
const plat::com::InterfaceEntry kAcqChargeTransferInterval = {&GUID_NULL, u"kAcqChargeTransferInterval", nullptr, 0};
const plat::com::InterfaceEntry kAcqExposure = {&GUID_NULL, u"kAcqExposure", nullptr, 0};
const plat::com::InterfaceEntry kAcqLookupTable = {&GUID_NULL, u"kAcqLookupTable", nullptr, 0};
const plat::com::InterfaceEntry kAcqStrobe = {&GUID_NULL, u"kAcqStrobe", nullptr, 0};
const plat::com::InterfaceEntry kAcqSettlingTime = {&GUID_NULL, u"kAcqSettlingTime", nullptr, 0};
const plat::com::InterfaceEntry kAcqDigitalCameraGain = {&GUID_NULL, u"kAcqDigitalCameraGain", nullptr, 0};
} // namespace cc_grabber_types
