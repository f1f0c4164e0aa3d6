// Test seam, not for callers: the process language state.
#pragma once
#include <cstdint>
#include <string>

// Forgets the language, so that the next use takes the user's language again.
void ccResetLanguageForTesting();

// Where abbreviations are looked up from now on; null goes back to the
// platform's table.
typedef bool (*ccAbbreviationSource)(uint16_t language, std::wstring* abbreviation);
void ccSetAbbreviationSourceForTesting(ccAbbreviationSource source);
