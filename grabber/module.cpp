// The module's load-time start-up.
#include "std/startup.h"

namespace {

struct ModuleStartup {
    ModuleStartup() { ccLibraryStartup(); }
};

const ModuleStartup gStartup;

} // namespace
