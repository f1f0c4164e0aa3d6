#include "acq/hyper/prop/analog.h"

#include <new>
#include <typeinfo>

#include "std/except/archive.h"
#include "std/except/persist.h"

ccPersistent* ccAnalogAcqProps::cmCreate() { return new (std::nothrow) ccAnalogAcqProps; }

void ccAnalogAcqProps::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccAnalogAcqProps)))
        return;
    Levels levels(*this, ar);
    levels.guard([&] {
        const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/analog", 28);
        archiveAggregate(levels);
        // Inside an aggregate of version 1 or later these levels were already
        // read, and each is then passed over.
        if (version == 0)
            archiveAnalogLevels(levels);
    });
    ccArchiveVisit::end(this, typeid(ccAnalogAcqProps));
}
