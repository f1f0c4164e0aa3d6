// Test seam of .NET companions: fresh process state, and what the stand-in
// bridge was asked.
#pragma once
#include <cstdint>
#include <string>

#include "platform/com/base.h"

// Back to unregistered, generation 1, no bridge and no type factories.
void ccDotNetResetForTesting();

struct ccDotNetStandInLog {
    int bridges = 0; // created
    int factories = 0;
    int companions = 0;
    int strengthChanges = 0;
    int releases = 0;
    int firstRegistrations = 0; // position 7
    int registrations = 0; // position 8
    std::wstring lastAssembly, lastType; // of the last factory
};

// The log so far; reset clears it, the handles and the registered shutdown object.
ccDotNetStandInLog ccDotNetStandInLogged(bool reset = false);
// Whether handle is live, and how it is held.
bool ccDotNetStandInHandle(uint32_t handle, bool* strong);
// The managed side's announcements, through the last registered shutdown object.
HRESULT ccDotNetStandInShutdown();
HRESULT ccDotNetStandInRestart();
// The bridge's operations fail with hr from now on (S_OK: they succeed).
void ccDotNetStandInFail(HRESULT hr);
