#include "acq/hyper/prop/startup.h"

#include <mutex>

#include "acq/hyper/prop/lsprops.h"
#include "acq/hyper/prop/sync.h"
#include "acq/startup.h"
#include "std/except/persist.h"

void ccAcqHyperPropStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqStartup();
        ccRegisterPersistent<ccSyncProp>();
        ccRegisterPersistent<ccSyncProp::NoFrameGrabber>();
        // Line-scan properties.
        ccRegisterPersistent<ccFirstPelOffsetProp>();
        ccRegisterPersistent<ccFirstPelOffsetProp::BadParams>();
        ccRegisterPersistent<ccEncoderControlProp>();
        ccRegisterPersistent<ccEncoderProp>();
        ccRegisterPersistent<ccEncoderProp::BadParams>();
        ccRegisterPersistent<ccEncoderProp::NoFrameGrabber>();
    });
}
