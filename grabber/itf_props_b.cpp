// Placeholder tables: replaced by the interfaces' own.
#include "grabber/typelib.h"
#include "comframe/objectitfs.h"

namespace cc_grabber_types {
const plat::com::InterfaceEntry kAcqMasterClockFrequency = {&GUID_NULL, u"kAcqMasterClockFrequency", nullptr, 0};
const plat::com::InterfaceEntry kAcqROI = {&GUID_NULL, u"kAcqROI", nullptr, 0};
const plat::com::InterfaceEntry kAcqSimultaneous = {&GUID_NULL, u"kAcqSimultaneous", nullptr, 0};
const plat::com::InterfaceEntry kAcqOffsetClamp = {&GUID_NULL, u"kAcqOffsetClamp", nullptr, 0};
const plat::com::InterfaceEntry kAcqSample = {&GUID_NULL, u"kAcqSample", nullptr, 0};
const plat::com::InterfaceEntry kAcqReadoutDirection = {&GUID_NULL, u"kAcqReadoutDirection", nullptr, 0};
const plat::com::InterfaceEntry kAcqTriggerFilter = {&GUID_NULL, u"kAcqTriggerFilter", nullptr, 0};
const plat::com::InterfaceEntry kAcqStrobeDelay = {&GUID_NULL, u"kAcqStrobeDelay", nullptr, 0};
const plat::com::InterfaceEntry kAcqCameraCalibration = {&GUID_NULL, u"kAcqCameraCalibration", nullptr, 0};
const plat::com::InterfaceEntry kAcqLineScan = {&GUID_NULL, u"kAcqLineScan", nullptr, 0};
const plat::com::InterfaceEntry kAcqStrobePulseDuration = {&GUID_NULL, u"kAcqStrobePulseDuration", nullptr, 0};
const plat::com::InterfaceEntry kAcq1394DCAM = {&GUID_NULL, u"kAcq1394DCAM", nullptr, 0};
const plat::com::InterfaceEntry kAcqSettingInfo = {&GUID_NULL, u"kAcqSettingInfo", nullptr, 0};
const plat::com::InterfaceEntry kAcqCustomProperties = {&GUID_NULL, u"kAcqCustomProperties", nullptr, 0};
} // namespace cc_grabber_types
