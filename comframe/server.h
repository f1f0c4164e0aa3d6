// The COM server side of the module: its object map, the class objects it
// hands out, whether it can be unloaded, the registration of its classes and
// the pruning of registry parents that unregistration leaves empty.
#pragma once
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/com/registrar.h"

// One class the module serves.
struct ccObjectMapEntry {
    const CLSID* clsid;
    // The script that registers the class (and whatever it brings along).
    RegistryScript (*script)();
    // Null for a class that cannot be made yet: it is registered, but asking
    // for its class object gives CLASS_E_CLASSNOTAVAILABLE.
    plat::com::CreatorFunction creator;
};

using ccObjectMap = std::vector<ccObjectMapEntry>;

// The type library a server registers with its classes: one loaded in the
// process (LoadRegTypeLib), registered as living in the module's file.
struct ccServerTypeLibrary {
    const GUID* libid;
    WORD major;
    WORD minor;
    std::wstring file;
};

// A class factory for a creatable class of the map.
[[nodiscard]] HRESULT ccGetClassObject(const ccObjectMap& map, REFCLSID clsid, REFIID iid, void** ppv);
// S_OK when no object of the module lives and no client holds it locked.
[[nodiscard]] HRESULT ccCanUnloadNow();

// Runs every entry's script in map order, then registers the type library;
// the first failure is returned at once.
[[nodiscard]] HRESULT ccRegisterServer(const ccObjectMap& map, const std::vector<RegistryReplacement>& replacements,
                                       const ccServerTypeLibrary& typeLibrary);
// Runs every entry's script to unregister, then unregisters the type
// library; the first failure is returned at once and nothing is pruned. On
// success prunePath (below HKEY_LOCAL_MACHINE "SOFTWARE"; empty for none)
// goes with every parent it leaves empty.
[[nodiscard]] HRESULT ccUnregisterServer(const ccObjectMap& map, const std::vector<RegistryReplacement>& replacements,
                                         const ccServerTypeLibrary& typeLibrary, const std::wstring& prunePath);

// Deletes name below the HKEY_LOCAL_MACHINE key parent; false when the
// parent cannot be opened or the key not deleted (it has subkeys, or is not
// there).
bool ccDeleteSubKey(const std::wstring& parent, const std::wstring& name);
// Deletes the key at path (relative to HKEY_LOCAL_MACHINE "SOFTWARE"), then
// its parents from the innermost outwards, and stops at the first that
// cannot be deleted: one still holding another subkey stays.
void ccDeleteKeyAndEmptyParents(const std::wstring& path);
