// Placeholder tables: replaced by the interfaces' own.
#include "grabber/typelib.h"
#include "comframe/objectitfs.h"

namespace cc_grabber_types {
const plat::com::InterfaceEntry kAcqFifo7320 = {&GUID_NULL, u"kAcqFifo7320", nullptr, 0};
} // namespace cc_grabber_types
