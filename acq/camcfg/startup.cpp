#include "acq/camcfg/startup.h"

#include <mutex>

#include "acq/camcfg/entry.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/reader.h"
#include "acq/camcfg/strhelper.h"
#include "acq/vidfmt/startup.h"
#include "acq/vidfmt/vidfmt.h"
#include "std/except/persist.h"

void ccAcqCamcfgStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqVidfmtStartup();
        ccRegisterPersistent<cc_camCfgEntry::BadType>();
        ccRegisterPersistent<cc_AcqStringHelper::EqualsNotFound>();
        ccRegisterPersistent<cc_AcqStringHelper::BadVal>();
        ccRegisterPersistent<cc_CCFParameterMap::BadIndex>();
        ccRegisterPersistent<cc_ccfReader::GeneralError>();
        ccVideoFormat::installCcfReader(&cc_ccfReader::readIfAllowed);
    });
}
