#include "acq/startup.h"

#include <mutex>

#include "acq/acqfifo.h"
#include "acq/image/startup.h"
#include "acq/trigmodel.h"
#include "std/except/persist.h"

void ccAcqStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqImageStartup();

        ccRegisterPersistent<ccAcqFifo::StartNotAllowed>();
        ccRegisterPersistent<ccAcqFifo::InvalidMaster>();
        ccRegisterPersistent<ccAcqFifo::CouldNotCreate>();
        ccRegisterPersistent<ccAcqFifo::BadParams>();
        ccRegisterPersistent<ccTriggerModel::BadParams>();
    });
}
