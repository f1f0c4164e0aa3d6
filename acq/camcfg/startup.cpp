#include "acq/camcfg/startup.h"

#include <mutex>

#include "acq/vidfmt/startup.h"

void ccAcqCamcfgStartup()
{
    static std::once_flag once;
    std::call_once(once, [] { ccAcqVidfmtStartup(); });
}
