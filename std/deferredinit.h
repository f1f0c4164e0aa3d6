// Start-up and shut-down lists: plain functions that must run once after the
// module's static objects exist, or just before the module goes away, in an
// order that static initialisation does not give.
//
// List 0 runs once while the module loads, first added first; list 1 runs at
// process exit, last added first; list 2 is kept and never run. The lists
// belong to the module's loading thread and the code it runs: they are not
// locked.
#pragma once
#include <vector>

typedef void (*ccDeferredFunction)();

class ccDeferredInit {
public:
    // Appends to list 1, the shut-down list.
    static void add(ccDeferredFunction function);

    // Each entry is taken off its list before it is called, so that a run
    // started from one of the list's own functions never calls an entry
    // twice, and an entry added meanwhile is still called (on list 1, next).
    // An entry that throws is dropped; the rest still run.
    static void runStartupList();
    static void runShutdownList();

    // Index 0 to 2. Never destroyed: late releases at exit find them alive.
    static std::vector<ccDeferredFunction>& list(int index);
};
