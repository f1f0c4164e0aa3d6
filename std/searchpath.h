// The module search path: "QORALT_SYSTEM_PATH" (else the directory of this
// module), then ";" and "QORALT_PATH". Paths here use "\" as separator and
// ";" between directories; they are turned into the system's form only when
// handed to it. No state; the environment is read at each call.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/module.h"

// Load flag: open the library as a data file, never running its code.
constexpr uint32_t acLoadAsDataFile = 2;

// The directory of this module with a trailing "\" (empty when unknown).
std::wstring acGetModuleDirectory();
std::wstring acGetSearchPath();
// A path in the system's form: every "\" becomes "/".
std::wstring acSystemPath(const std::wstring& path);

// Takes the text before the first ";" (or all of it) out of path into
// directory, with every "/" as "\" and a "\" at the end unless empty.
void acPopPathElement(std::wstring& path, std::wstring& directory);

// With "QORALT_PATH" unset, the bare name as the loader searches; else each
// directory of the search path in order. Null when none holds it. An empty
// directory in the path means the bare name.
plat::ModuleHandle acLoadLibraryOnPath(const std::wstring& fileName, uint32_t flags = 0);

// Appends directory + file name for every file of a directory whose name
// starts with prefix and ends with suffix (both without regard to case),
// stopping after the first directory that gave any.
void acFindFilesOnPath(const std::wstring& prefix, const std::wstring& suffix, const std::wstring& path,
                       std::vector<std::wstring>& found);
