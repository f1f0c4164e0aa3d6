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
    const uint8_t version = ccArchiveVersion(ar, kVersion, "acq/hyper/prop/analog", 28);
    ccAcqProps::archive(ar);
    if (version == 0) {
        // Inside an aggregate of version 1 or later these levels were
        // already read, and each is then passed over.
        cc8BitInputLutProp::archive(ar);
        ccContrastBrightnessProp::archive(ar);
        ccFirstPelOffsetProp::archive(ar);
        ccEncoderControlProp::archive(ar);
        ccEncoderProp::archive(ar);
        ccClippingProp::archive(ar);
        ccAlphaColorProp::archive(ar);
        ccDigitalCameraControlProp::archive(ar);
    }
    ccArchiveVisit::end(this, typeid(ccAnalogAcqProps));
}
