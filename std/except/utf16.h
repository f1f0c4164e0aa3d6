// Text crossing a byte format: the library's wide strings (32-bit wchar_t
// here) against the UTF-16 code units that every format carries, and the
// byte-per-character conversions for narrow text.
#pragma once
#include <cstddef>
#include <string>

// Characters above U+FFFF become surrogate pairs. A lone surrogate or a value
// beyond U+10FFFF cannot be represented and becomes U+FFFD.
std::u16string ccToUtf16(const std::wstring& text);

// Surrogate pairs become one character; an unpaired surrogate becomes U+FFFD.
std::wstring ccFromUtf16(const char16_t* units, std::size_t count);
inline std::wstring ccFromUtf16(const std::u16string& units) { return ccFromUtf16(units.data(), units.size()); }

// Each byte becomes the character of the same value (0..255).
std::wstring ccWidenBytes(const std::string& bytes);

// The inverse of ccWidenBytes: characters up to U+00FF become that byte, any
// other becomes '?'. Independent of the process locale.
std::string ccNarrowBytes(const std::wstring& text);
