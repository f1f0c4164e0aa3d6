// Test seam, not for callers: changes the environment and the user's language.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Not to be called while other threads read the environment. False for a
// name or value that the system could not hold.
bool setEnvironmentVariable(const std::wstring& name, const std::wstring& value);
bool unsetEnvironmentVariable(const std::wstring& name);

// The user's language from now on; 0 goes back to the environment's.
void setUserLanguageOverride(uint16_t language);

} // namespace plat
