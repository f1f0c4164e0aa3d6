#include "acq/hyper/prop/startup.h"

#include <mutex>

#include "acq/hyper/prop/custom.h"
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
        // Custom properties.
        ccRegisterPersistent<ccCustomProp>();
        ccRegisterPersistent<ccCustomPropertyBag::BadParams>();
    });
}
