#include "acq/image/startup.h"

#include <mutex>

#include "acq/image/acqimage.h"
#include "std/except/persist.h"
#include "std/pelbuf/startup.h"

void ccAcqImageStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdPelbufStartup();
        ccRegisterPersistent<ccAcqImage::NotSupported>();
    });
}
