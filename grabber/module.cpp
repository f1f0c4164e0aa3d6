// The module's load-time start-up.
#include <mutex>

#include "acq/hyper/prop/startup.h"
#include "acq/image/startup.h"
#include "acq/startup.h"
#include "defs/ch_core/startup.h"
#include "grabber/startup.h"
#include "modules/startup.h"
#include "std/except/startup.h"
#include "std/math/startup.h"
#include "std/pelbuf/startup.h"
#include "std/rpc/startup.h"
#include "std/startup.h"

void ccLibraryStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        ccStdExceptStartup();
        ccStdStartup();
        ccChCoreStartup();
        ccStdMathStartup();
        ccStdRpcStartup();
        ccStdPelbufStartup();
        ccAcqImageStartup();
        ccAcqStartup();
        ccAcqHyperPropStartup();
        ccModulesStartup();
    });
}

namespace {

struct ModuleStartup {
    ModuleStartup() { ccLibraryStartup(); }
};

const ModuleStartup gStartup;

} // namespace
