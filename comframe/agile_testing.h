// Test seam of agile holders: the interface table they use.
#pragma once
#include "platform/com/git.h"

// Puts table in place of the process's table and returns the one in use
// (null when it could not be created). The caller keeps its reference.
IGlobalInterfaceTable* ccAgileSwapGlobalInterfaceTable(IGlobalInterfaceTable* table);
