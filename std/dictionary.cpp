#include "std/dictionary.h"

#include <algorithm>

#include "platform/environment.h"
#include "platform/event_log.h"
#include "std/dictionary_testing.h"
#include "std/internal/dictionary_lock.h"
#include "std/searchpath.h"
#include "std/strings.h"

namespace {

struct LanguageState {
    bool initialised = false;
    uint16_t language = 0;
    std::wstring abbreviation;
    ccAbbreviationSource source = nullptr;
};

// Guarded by the dictionary mutex; never destroyed.
LanguageState& languageState()
{
    static LanguageState* state = new LanguageState;
    return *state;
}

} // namespace

ccMutex& ccDictionaryMutex()
{
    static ccMutex* mutex = new ccMutex;
    return *mutex;
}

uint16_t ccGetLanguageId()
{
    ccResourceLock hold(ccDictionaryMutex());
    if (!languageState().initialised)
        ccSetLanguageId(plat::userLanguage());
    return languageState().language;
}

void ccSetLanguageId(uint16_t language)
{
    ccResourceLock hold(ccDictionaryMutex());
    LanguageState& state = languageState();
    if (state.initialised && state.language == language)
        return;
    std::wstring abbreviation;
    const bool known = state.source != nullptr ? state.source(language, &abbreviation)
                                               : plat::languageAbbreviation(language, &abbreviation);
    if (!known)
        throw ccDictionary::BadParams();
    state.abbreviation = abbreviation;
    state.language = language;
    state.initialised = true;
}

std::wstring ccGetLanguageAbbreviation()
{
    ccResourceLock hold(ccDictionaryMutex());
    ccGetLanguageId();
    return languageState().abbreviation;
}

size_t ccGetLanguageAbbreviation(wchar_t* buffer, size_t capacity)
{
    return ccWStrCopy(ccGetLanguageAbbreviation().c_str(), buffer, capacity);
}

void ccResetLanguageForTesting()
{
    ccResourceLock hold(ccDictionaryMutex());
    languageState().initialised = false;
    languageState().language = 0;
    languageState().abbreviation.clear();
}

void ccSetAbbreviationSourceForTesting(ccAbbreviationSource source)
{
    ccResourceLock hold(ccDictionaryMutex());
    languageState().source = source;
}

ccDictionary::ccDictionary()
{
    ccGetLanguageId();
}

ccDictionary::~ccDictionary()
{
    ccDictionaryReleaseLock hold;
    for (Library& library : libraries_)
        (void)plat::freeModule(library.module); // gone either way
}

void ccDictionary::add(const std::wstring& directory, const std::wstring& baseName, uint32_t first, uint32_t last)
{
    if (baseName.empty())
        throw BadParams();
    ccResourceLock hold(ccDictionaryMutex());
    libraries_.push_back({directory, baseName, nullptr, first, last, 0});
}

void ccDictionary::addModule(plat::ModuleHandle module, const std::wstring& baseName, uint32_t first, uint32_t last)
{
    addModuleFile(module != nullptr ? plat::modulePath(module) : std::wstring(), baseName, first, last);
}

void ccDictionary::addModuleFile(const std::wstring& fileName, const std::wstring& baseName, uint32_t first,
                                 uint32_t last)
{
    std::wstring directory;
    std::wstring base = baseName;
    if (!fileName.empty()) {
        const size_t cut = fileName.find_last_of(L"/\\");
        // A module in the root keeps "/" as its directory rather than none.
        directory = cut == std::wstring::npos ? std::wstring() : fileName.substr(0, cut == 0 ? 1 : cut);
        if (base.empty()) {
            base = cut == std::wstring::npos ? fileName : fileName.substr(cut + 1);
            base = base.substr(0, base.rfind(L'.'));
        }
    }
    add(directory, base, first, last);
}

plat::ModuleHandle ccDictionary::libraryFor(uint32_t id)
{
    ccResourceLock hold(ccDictionaryMutex());
    const auto found = std::find_if(libraries_.begin(), libraries_.end(),
                                    [id](const Library& l) { return l.first <= id && id <= l.last; });
    if (found == libraries_.end())
        return nullptr;
    if (found->language != ccGetLanguageId())
        load(*found);
    return found->module;
}

void ccDictionary::load(Library& library)
{
    // Read first: nothing below may fail once a library is loaded.
    const uint16_t language = ccGetLanguageId();
    const std::wstring current = ccGetLanguageAbbreviation();
    plat::ModuleHandle loaded = nullptr;
    std::wstring tried;
    for (const std::wstring& abbreviation : {current, std::wstring(L"ENU")}) {
        const std::wstring name = library.base + abbreviation + L".dll";
        tried = name;
        if (!library.directory.empty()) {
            const wchar_t last = library.directory.back();
            tried = library.directory + (last == L'\\' || last == L'/' ? L"" : L"\\") + name;
            loaded = plat::loadModuleAsData(acSystemPath(tried));
        }
        if (loaded == nullptr)
            loaded = acLoadLibraryOnPath(name, acLoadAsDataFile);
        if (loaded != nullptr || abbreviation == L"ENU")
            break;
    }
    library.language = language; // not tried again in this language
    // A failed reload leaves no library: the old one is of another language.
    (void)plat::freeModule(library.module);
    library.module = loaded;
    if (loaded == nullptr)
        plat::reportEvent(L"Qoralt", L"Can't load string resources: " + tried);
}

void ccDictionary::forgetLanguage()
{
    ccResourceLock hold(ccDictionaryMutex());
    for (Library& library : libraries_)
        library.language = 0;
}
