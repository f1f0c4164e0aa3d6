// Profile strings: the value of a key in a section of an INI text file.
// Sections and keys are matched without regard to case; blanks around
// names and values, comment lines (";" or "#") and CRLF line ends are
// ignored. Each byte of the file is one character.
#pragma once
#include <string>

namespace plat {

enum class ProfileLookup { noFile, noKey, found };

// The first value of key in the first section of that name in the file at
// path (the system's form). noFile when the file cannot be read.
ProfileLookup profileString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                            std::wstring* value);

// The same over the text of a file.
bool profileStringInText(const std::string& text, const std::wstring& section, const std::wstring& key,
                         std::wstring* value);

} // namespace plat
