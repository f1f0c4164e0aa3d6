// Test seam, not for callers: which file the job system bound.
#pragma once
#include <string>

// The name the sibling library was loaded by; empty while it is not loaded.
std::wstring csys_jobDataLibraryPath();
