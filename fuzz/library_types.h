// Registers every persistent class of the library (the folders' start-ups in
// the module's order), for the archive targets and their seed generator.
#pragma once
#include "acq/camcfg/startup.h"
#include "modules/startup.h"
#include "std/pelbuf/startup.h"

inline void registerLibraryTypes()
{
    ccStdPelbufStartup();
    ccAcqLibraryStartup();
    ccAcqCamcfgStartup();
    ccModulesStartup();
}
