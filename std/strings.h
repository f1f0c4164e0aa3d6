// Narrow and wide text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "std/except/except.h"

// The family's error for a character that cannot be converted; the
// conversions below substitute "?" instead of raising it.
cmDeclareException(ccBadUnicodeChar, ccException, 0x1000000Bu, "class ccBadUnicodeChar");

// With the C library's multibyte conversion of the current locale; a
// character it cannot convert becomes "?". At most capacity - 1 bytes and a
// terminator are written (nothing when capacity is 0), never part of a
// character. Answers the bytes written before the terminator.
size_t ccNarrowFromWide(const wchar_t* text, char* buffer, size_t capacity);
// The first length characters of text (fewer at an embedded 0), at most
// length bytes of them.
size_t ccNarrowFromWide(const wchar_t* text, size_t length, char* buffer, size_t capacity);
std::string ccNarrowFromWide(const std::wstring& text);

// Each byte becomes the unit of the same value, whatever the code page. A
// null text is the empty string, whatever the length.
std::wstring ccWideFromNarrow(const char* text);
std::wstring ccWideFromNarrow(const char* text, size_t length);
std::wstring ccWideFromNarrow(const std::string& text);

// Copies at most capacity - 1 characters and a terminator; answers the
// characters copied. A null text copies the empty string.
size_t ccWStrCopy(const wchar_t* text, wchar_t* buffer, size_t capacity);
// A null text assigns the empty string.
void ccWStrAssign(std::wstring& target, const wchar_t* text);
