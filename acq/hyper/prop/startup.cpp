#include "acq/hyper/prop/startup.h"

#include <mutex>

#include "acq/hyper/prop/alpha.h"
#include "acq/hyper/prop/callback.h"
#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/clip.h"
#include "acq/hyper/prop/pelpoolprop.h"
#include "acq/hyper/prop/sync.h"
#include "acq/hyper/prop/timeout.h"
#include "acq/startup.h"
#include "std/except/persist.h"

void ccAcqHyperPropStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqStartup();
        ccRegisterPersistent<ccSyncProp>();
        ccRegisterPersistent<ccSyncProp::NoFrameGrabber>();
        // Pel-root pool, time-out, alpha colour, camera test, clipping, callbacks.
        ccRegisterPersistent<ccPelRootPoolProp::BadParams>();
        ccRegisterPersistent<ccTimeoutProp>();
        ccRegisterPersistent<ccTimeoutProp::BadParams>();
        ccRegisterPersistent<ccAlphaColorProp>();
        ccRegisterPersistent<ccCameraTestProp>();
        ccRegisterPersistent<ccClippingProp>();
        ccRegisterPersistent<ccMovePartCallbackProp>();
        ccRegisterPersistent<ccCompleteCallbackProp>();
        ccRegisterPersistent<ccOverrunCallbackProp>();
    });
}
