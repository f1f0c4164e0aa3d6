// The registry: two trees of keys, the machine's and the current user's,
// holding named values, each a type number and bytes (32-bit integers and
// strings among them). Process-wide, in
// memory, thread-safe. Key paths separate names with "\"; key and value names
// compare without regard to case and keep the case they were made with.
//
// The file named by "QORALT_REGISTRY_FILE", when that variable is set, is
// loaded at the first use (a file that cannot be loaded is reported to the
// event log and the registry starts empty). Nothing is saved unless a caller
// saves.
//
// The file is UTF-8 text, one line per value:
//   <root>\<key path>;<value name>=int32:<8 hex digits>
//   <root>\<key path>;<value name>=string:<text>
//   <root>\<key path>;<value name>=bytes(<type>):<hex bytes>
// and a line "<root>\<key path>" for a key without values. Roots are
// "HKEY_LOCAL_MACHINE" and "HKEY_CURRENT_USER". Names and text escape "%",
// "\", ";", "=" and control characters as "%" and two hex digits of each
// UTF-8 byte. Values of any other type, and values that are not a well-formed
// terminated string (or a 4-byte integer), keep their type number (decimal)
// and exact bytes in the "bytes" form. Blank lines and lines
// that begin with "#" are skipped.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

enum class RegistryRoot { localMachine, currentUser };

// The numbers are those the stored type fields carry. Any other number is a
// type too: its values are kept as set, and readers asking for one of these
// types find them of another.
enum class RegistryType : uint32_t { string = 1, expandString = 2, binary = 3, int32 = 4 };

enum class RegistryStatus { ok, notFound, badHandle, badArgument, hasSubkeys };

// An open key; 0 is none. Each open key is closed once. A null pointer for
// the key or value out is a bad argument.
using RegistryKey = uint32_t;

// A path whose names are empty ("a\\b", "\a") is a bad argument; one "\" at
// the end is allowed, and the empty path names the root itself.
[[nodiscard]] RegistryStatus openRegistryKey(RegistryRoot root, const std::wstring& path, RegistryKey* key);
[[nodiscard]] RegistryStatus createRegistryKey(RegistryRoot root, const std::wstring& path, RegistryKey* key);
[[nodiscard]] RegistryStatus closeRegistryKey(RegistryKey key);

struct RegistryValue {
    RegistryType type;
    // As set. A string set by the library is little-endian UTF-16 with a
    // terminating 0 unit (2 bytes per unit plus 2); a caller may have set it
    // unterminated or of odd size, and readers must cope.
    std::vector<uint8_t> bytes;
};

// The empty name is the key's default value.
[[nodiscard]] RegistryStatus queryRegistryValue(RegistryKey key, const std::wstring& name, RegistryValue* value);
// Stored as given, whatever the type.
[[nodiscard]] RegistryStatus setRegistryValue(RegistryKey key, const std::wstring& name, RegistryType type,
                                              const std::vector<uint8_t>& bytes);

// Deletes the key at path with its values; one that has subkeys is deleted
// (with them) only when withSubkeys is set, else hasSubkeys. A root itself is
// not deleted (bad argument). Keys still open stay usable and hold nothing
// that the tree can reach.
[[nodiscard]] RegistryStatus deleteRegistryKey(RegistryRoot root, const std::wstring& path, bool withSubkeys);
[[nodiscard]] RegistryStatus deleteRegistryValue(RegistryKey key, const std::wstring& name);

// Values of the file are added to the registry (replacing values of the same
// key and name); a file that cannot be read or parsed changes nothing, and
// error then tells why (with the line number).
bool loadRegistryFile(const std::wstring& path, std::wstring* error);
// The whole registry, written to a new file that then replaces the old one.
bool saveRegistryFile(const std::wstring& path, std::wstring* error);

} // namespace plat
