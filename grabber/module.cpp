// The module's load-time start-up.
#include <mutex>

#include "acq/hyper/prop/startup.h"
#include "acq/image/startup.h"
#include "acq/startup.h"
#include "acq/vidfmt/startup.h"
#include "defs/ch_core/startup.h"
#include "grabber/startup.h"
#include "modules/acqmodule.h"
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
        ccAcqVidfmtStartup();
        ccModulesStartup();
    });
}

namespace {

struct ModuleStartup {
    ModuleStartup()
    {
        ccLibraryStartup();
        // The board driver module (and the simulator the registry names).
        // A module that cannot be used leaves the library loaded with no
        // boards; nothing may escape a static initialiser.
        try {
            (void)cc_UnknownModule::loadModuleByName(L"qornv7320");
        } catch (...) {
        }
    }
};

const ModuleStartup gStartup;

} // namespace
