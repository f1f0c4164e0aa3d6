// String literals: text sources backed by per-language resource libraries,
// which follow the process language.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/module.h"
#include "std/except/except.h"

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
