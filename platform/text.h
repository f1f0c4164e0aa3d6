// Text conversions, in one place for every layer: UTF-16 for the byte
// formats (archives, remote calls, registry strings), UTF-8 for the
// system's names and files. An unpaired surrogate or a value that is no
// Unicode character becomes U+FFFD.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

std::u16string utf16FromWide(const std::wstring& text);
std::wstring wideFromUtf16(const char16_t* units, std::size_t count);

// Malformed sequences become U+FFFD, one per offending byte.
std::wstring wideFromUtf8(const std::string& text);
// Characters that are not Unicode scalar values become U+FFFD.
std::string utf8FromWide(const std::wstring& text);

// Strict decoding: false at the first malformed sequence.
bool wideFromUtf8Strict(const std::string& text, std::wstring* wide);

// Strict encoding: false when a character is not a Unicode scalar value.
bool utf8FromWideStrict(const std::wstring& text, std::string* utf8);

// A name or path for the system: strict, and false also for a 0 character,
// which the system would take as the end of the name.
bool systemNameFromWide(const std::wstring& text, std::string* utf8);

// Little-endian UTF-16 code units with a terminating 0 unit.
std::vector<uint8_t> utf16BytesFromWide(const std::wstring& text);
// Strict: false unless the bytes are whole units ending in the only 0 unit,
// with every surrogate paired.
bool wideFromUtf16Bytes(const std::vector<uint8_t>& bytes, std::wstring* text);

// Case folding for names compared without regard to case (ASCII, Latin-1,
// Latin Extended-A, Greek and Cyrillic letters).
std::wstring foldCase(const std::wstring& name);

} // namespace plat
