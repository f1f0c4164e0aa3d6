// Narrow and wide text, the process language and string literals backed by
// per-language resource libraries (std/dictionary.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/module.h"
#include "std/except/except.h"
#include "std/except/resource.h"

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

// Each byte becomes the unit of the same value, whatever the code page.
std::wstring ccWideFromNarrow(const char* text);
std::wstring ccWideFromNarrow(const char* text, size_t length);
std::wstring ccWideFromNarrow(const std::string& text);

// Copies at most capacity - 1 characters and a terminator; answers the
// characters copied. A null text copies the empty string.
size_t ccWStrCopy(const wchar_t* text, wchar_t* buffer, size_t capacity);
// A null text assigns the empty string.
void ccWStrAssign(std::wstring& target, const wchar_t* text);

// The process-wide recursive mutex that guards the language, every
// dictionary and every literal. Made at the first call, never destroyed.
ccMutex& ccDictionaryMutex();

// The process language identifier; the first call takes the user's language.
uint16_t ccGetLanguageId();
// Takes the identifier and its three-letter abbreviation; an identifier
// without one throws ccDictionary::BadParams and changes nothing. The
// current identifier is kept without looking anything up.
void ccSetLanguageId(uint16_t language);
std::wstring ccGetLanguageAbbreviation();
// Into a caller's buffer, as ccWStrCopy.
size_t ccGetLanguageAbbreviation(wchar_t* buffer, size_t capacity);

class ccDictionary;

// A text source backed by the resource library base name + abbreviation +
// ".dll" of the current language (or "ENU"), found beside the loaded module
// base name + "8u" or along the module search path.
class ccStringLiteral {
public:
    cmDeclareException(BadParams, ccExceptionWithString, 0x1000000Du, "class ccStringLiteral::BadParams");

    explicit ccStringLiteral(const std::wstring& baseName);
    ccStringLiteral(const ccStringLiteral&) = delete;
    ccStringLiteral& operator=(const ccStringLiteral&) = delete;
    ~ccStringLiteral(); // leaves the registry

    // Joins the literals that setLanguage reloads.
    void followLanguage();

    // Whether the library of the current language (or "ENU") is loaded.
    bool load();
    // Throws BadParams naming the library of the current language when
    // load() fails.
    void ensureLoaded();
    // The library for the current language, loaded when needed; null when
    // it cannot be. It is freed when the language changes: read from it
    // under ccDictionaryMutex().
    plat::ModuleHandle library();

    const std::wstring& baseName() const { return base_; }

    // Changes the language and makes sure every following literal's library
    // loads for it; on any failure the previous language comes back and the
    // same exception goes on.
    static void setLanguage(uint16_t language);

private:
    ccDictionary& dictionary();

    std::wstring base_;
    std::unique_ptr<ccDictionary> dictionary_;
};
