// The module's load-time start-up.
#include <cstdlib>
#include <mutex>

#include "acq/hyper/prop/startup.h"
#include "acq/image/startup.h"
#include "acq/startup.h"
#include "acq/camcfg/startup.h"
#include "acq/vidfmt/startup.h"
#include "defs/ch_core/startup.h"
#include "grabber/lines.h"
#include "grabber/startup.h"
#include "modules/acqmodule.h"
#include "modules/startup.h"
#include "std/deferredinit.h"
#include "std/except/startup.h"
#include "std/math/startup.h"
#include "std/pelbuf/startup.h"
#include "std/rpc/startup.h"
#include "std/startup.h"
#include "std/threadid.h"
#include "system/csys_shutdown.h"

namespace {

// The library's own end, after the shut-down list: its threads, then the
// system layer's lists.
void libraryShutdown()
{
    try {
        ccStopAllThreads();
    } catch (...) {
        // Nothing may escape an exit handler; the system layer still ends.
    }
    // Pending (a thread still attached ends it) or already done: nothing is
    // left to do about either this late.
    (void)csys_shutdown();
}

} // namespace

void ccLibraryStartup()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // Exit runs these in reverse: whatever the registrations below make
        // goes first, then the shut-down list, then the library's threads and
        // the system layer.
        std::atexit(&libraryShutdown);
        ccDeferredInit::runStartupList();
        std::atexit(&ccDeferredInit::runShutdownList);
        ccStdExceptStartup();
        ccStdStartup();
        ccChCoreStartup();
        ccStdMathStartup();
        ccStdRpcStartup();
        ccStdPelbufStartup();
        ccAcqImageStartup();
        // The acquisition library's classes and objects in their fixed
        // order; the folders' registrations below add the rest.
        ccAcqLibraryStartup();
        ccAcqStartup();
        ccAcqHyperPropStartup();
        ccAcqVidfmtStartup();
        ccAcqCamcfgStartup();
        ccModulesStartup();
    });
}

namespace {

struct ModuleStartup {
    ModuleStartup()
    {
        ccLibraryStartup();
        try {
            ccComServerStartup();
        } catch (...) {
        }
        // The board driver module (and the simulator the registry names).
        // A module that cannot be used leaves the library loaded with no
        // boards; nothing may escape a static initialiser.
        try {
            (void)cc_UnknownModule::loadModuleByName(L"qornv7320");
        } catch (...) {
        }
    }
    // Before the library's own end: no line object may keep a line of it.
    ~ModuleStartup() { ccReleaseLineCollections(); }
};

const ModuleStartup gStartup;

} // namespace
