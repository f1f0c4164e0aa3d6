// Test seam of agile holders: the interface table they use, and how many
// threads' pointers a holder keeps.
#pragma once
#include "comframe/agile.h"
#include "platform/com/git.h"

// Puts table in place of the process's table and returns the one in use
// (null when it could not be created). The caller keeps its reference.
IGlobalInterfaceTable* ccAgileSwapGlobalInterfaceTable(IGlobalInterfaceTable* table);

// The per-thread pointers holder keeps now.
size_t ccAgileThreadEntries(ccAgileInterfacePtr& holder);
