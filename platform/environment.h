// Environment variables (UTF-8 in the environment) and the user's language.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// False when the variable is not set or the name is none the system could
// hold (a 0 character, a lone surrogate); value (if not null) gets its text.
bool environmentVariable(const std::wstring& name, std::wstring* value);
bool isEnvironmentVariableSet(const std::wstring& name);

constexpr uint16_t kLanguageUsEnglish = 0x0409;

// The 16-bit language identifier of the user: the one that LANG names
// (language, then territory, as in "de_DE.UTF-8") when the table knows it,
// else U.S. English.
uint16_t userLanguage();

// The three-letter abbreviation of a language identifier ("ENU" for U.S.
// English); false for an identifier the table lacks.
bool languageAbbreviation(uint16_t language, std::wstring* abbreviation);

// The name of this computer, whole however long; false when the system
// cannot tell it.
bool computerName(std::wstring* name);

} // namespace plat
