// Test seam, not for callers: which file the job system bound.
#pragma once
#include <string>

// The file of the sibling library as loaded; empty while it is not loaded.
std::wstring csys_jobDataLibraryPath();
