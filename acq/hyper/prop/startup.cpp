#include "acq/hyper/prop/startup.h"

#include <mutex>

#include "acq/hyper/prop/exposure.h"
#include "acq/hyper/prop/light.h"
#include "acq/hyper/prop/settletm.h"
#include "acq/hyper/prop/strobe.h"
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
    });
}
