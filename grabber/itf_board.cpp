// Placeholder tables: replaced by the interfaces' own.
#include "grabber/typelib.h"
#include "comframe/objectitfs.h"

namespace cc_grabber_types {
const plat::com::InterfaceEntry kFrameGrabber7320s = {&GUID_NULL, u"kFrameGrabber7320s", nullptr, 0};
const plat::com::InterfaceEntry kFrameGrabber7320 = {&GUID_NULL, u"kFrameGrabber7320", nullptr, 0};
const plat::com::InterfaceEntry kInputLine = {&GUID_NULL, u"kInputLine", nullptr, 0};
const plat::com::InterfaceEntry kOutputLine = {&GUID_NULL, u"kOutputLine", nullptr, 0};
const plat::com::InterfaceEntry kInputLines = {&GUID_NULL, u"kInputLines", nullptr, 0};
const plat::com::InterfaceEntry kOutputLines = {&GUID_NULL, u"kOutputLines", nullptr, 0};
} // namespace cc_grabber_types
