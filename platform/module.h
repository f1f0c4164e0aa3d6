// Shared libraries loaded by name, files loaded as data, the directory of the
// platform code itself and the listing of a directory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

struct Module;
using ModuleHandle = Module*;

// The directory of the shared object or executable that holds this code,
// with a trailing "/"; empty when it cannot be found.
std::wstring moduleDirectory();

// A name ending in ".dll" (in any case) is looked for first as the same name
// with ".so", then as given. A name without "/" is searched for as the
// dynamic loader searches. Null when nothing loads.
ModuleHandle loadModule(const std::wstring& path);
// Opens the file only to read from it: the handle holds its path and bytes
// and never runs code. The same ".dll" rule applies, and a name without "/"
// is looked for in the directories the dynamic loader searches for this
// code, in its order (its cache aside), not in the working directory.
ModuleHandle loadModuleAsData(const std::wstring& path);
// Each handle is freed once; false when the loader refused to unload (the
// handle is gone all the same).
bool freeModule(ModuleHandle module);

// Null when the module exports no such symbol or was loaded as data.
void* moduleSymbol(ModuleHandle module, const char* name);
// The file that was loaded (after the ".dll" rule): for a name without "/",
// where the search found it.
std::wstring modulePath(ModuleHandle module);
// The bytes of a module loaded as data; null for a code module.
const std::vector<uint8_t>* moduleData(ModuleHandle module);

// The path of a shared object already loaded in the process whose file name
// is fileName (compared without regard to ASCII case; ".dll" as above);
// false when there is none.
bool findLoadedModule(const std::wstring& fileName, std::wstring* path);

// The names of the regular files in a directory (symbolic links to them
// included), sorted by the bytes of their UTF-8 names; empty when the
// directory is absent or unreadable.
std::vector<std::wstring> listFiles(const std::wstring& directory);

// The process-wide error mode that loaders save, set and restore around a
// load. It is only kept here: no loader of this system reads it.
uint32_t errorMode();
// Returns the mode that was in effect.
uint32_t setErrorMode(uint32_t mode);

} // namespace plat
