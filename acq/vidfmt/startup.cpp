#include "acq/vidfmt/startup.h"

#include <mutex>

#include "acq/hyper/prop/startup.h"
#include "acq/vidfmt/builtin.h"
#include "std/except/persist.h"

void ccAcqVidfmtStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccAcqHyperPropStartup();
        ccRegisterPersistent<ccVideoFormat::NotSupported>();
        ccRegisterPersistent<ccVideoFormat::NotFound>();
        for (size_t i = 0; i < kBuiltinVideoFormatCount; ++i)
            (void)ccBuiltinVideoFormat(i);
    });
}
