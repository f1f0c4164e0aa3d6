#include "acq/camcfg/startup.h"

#include <mutex>

#include "acq/camcfg/parammap.h"
#include "acq/vidfmt/startup.h"
#include "std/except/persist.h"

void ccAcqCamcfgStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqVidfmtStartup();
        ccRegisterPersistent<cc_CCFParameterMap::BadIndex>();
    });
}
