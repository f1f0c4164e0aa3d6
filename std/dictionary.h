// String-resource dictionaries: ranges of message identifiers mapped to
// resource libraries named base name + language abbreviation + ".dll",
// loaded as data for the process language, with "ENU" as fall-back.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/module.h"
#include "std/except/except.h"
#include "std/except/resource.h"

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

class ccDictionary {
public:
    cmDeclareErrorFamily(Errors, ccException, "class ccDictionary::Errors");
    // An empty base name, or a language without an abbreviation.
    cmDeclareException(BadParams, Errors, 0x1000000Cu, "class ccDictionary::BadParams");

    // Makes sure the process language is set.
    ccDictionary();
    ccDictionary(const ccDictionary&) = delete;
    ccDictionary& operator=(const ccDictionary&) = delete;
    ~ccDictionary(); // frees the libraries

    // An empty directory: the library is looked for along the search path.
    void add(const std::wstring& directory, const std::wstring& baseName, uint32_t first, uint32_t last);
    // The directory of the module's file (none for a null module); an empty
    // base name is the file name without its last extension.
    void addModule(plat::ModuleHandle module, const std::wstring& baseName, uint32_t first, uint32_t last);
    // The same from the module's file name, where "/" and "\" both separate.
    void addModuleFile(const std::wstring& fileName, const std::wstring& baseName, uint32_t first, uint32_t last);
    // Every library is loaded again at its next request, whatever the
    // language: after a language change that was taken back.
    void forgetLanguage();

    // The library of the first range that holds the identifier, loaded for
    // the current language when it was last loaded for another; null when
    // no range holds it or it could not be loaded (reported to the event
    // log once per language).
    plat::ModuleHandle libraryFor(uint32_t id);

private:
    struct Library {
        std::wstring directory;
        std::wstring base;
        plat::ModuleHandle module;
        uint32_t first;
        uint32_t last;
        uint16_t language; // 0: never loaded
    };
    void load(Library& library);

    std::vector<Library> libraries_;
};
