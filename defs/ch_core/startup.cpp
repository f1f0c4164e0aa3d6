#include "defs/ch_core/startup.h"

#include <mutex>

#include "defs/ch_core/rect.h"
#include "std/except/persist.h"
#include "std/except/startup.h"

void ccChCoreStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdExceptStartup();
        ccRegisterPersistent<ccRectErrors::NoOverlap>();
        ccRegisterPersistent<ccRectErrors::NegativeSize>();
    });
}
