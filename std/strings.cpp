#include "std/strings.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <vector>

#include "platform/environment.h"
#include "std/dictionary.h"
#include "std/internal/dictionary_lock.h"
#include "std/strings_testing.h"

namespace {

// Converts characters until the terminator, maxCharacters or maxBytes,
// handing each character's bytes to put whole.
template <class Put>
void narrowEach(const wchar_t* text, size_t maxCharacters, size_t maxBytes, Put put)
{
    if (text == nullptr)
        return;
    std::mbstate_t state{};
    size_t used = 0;
    for (size_t i = 0; i < maxCharacters && text[i] != 0; ++i) {
        char bytes[MB_LEN_MAX];
        size_t count = std::wcrtomb(bytes, text[i], &state);
        if (count == static_cast<size_t>(-1)) {
            state = std::mbstate_t{};
            bytes[0] = '?';
            count = 1;
        }
        if (count > maxBytes - used)
            return;
        put(bytes, count);
        used += count;
    }
}

size_t narrowInto(const wchar_t* text, size_t maxCharacters, size_t maxBytes, char* buffer, size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    size_t used = 0;
    narrowEach(text, maxCharacters, std::min(maxBytes, capacity - 1), [&](const char* bytes, size_t count) {
        std::memcpy(buffer + used, bytes, count);
        used += count;
    });
    buffer[used] = 0;
    return used;
}

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

// The literals that follow the language; never destroyed.
std::vector<ccStringLiteral*>& literals()
{
    static auto* list = new std::vector<ccStringLiteral*>;
    return *list;
}

} // namespace

size_t ccNarrowFromWide(const wchar_t* text, char* buffer, size_t capacity)
{
    return narrowInto(text, SIZE_MAX, SIZE_MAX, buffer, capacity);
}

size_t ccNarrowFromWide(const wchar_t* text, size_t length, char* buffer, size_t capacity)
{
    return narrowInto(text, length, length, buffer, capacity);
}

std::string ccNarrowFromWide(const std::wstring& text)
{
    std::string narrow;
    narrowEach(text.c_str(), text.size(), SIZE_MAX,
               [&](const char* bytes, size_t count) { narrow.append(bytes, count); });
    return narrow;
}

std::wstring ccWideFromNarrow(const char* text)
{
    return text != nullptr ? ccWideFromNarrow(text, std::strlen(text)) : std::wstring();
}

std::wstring ccWideFromNarrow(const char* text, size_t length)
{
    std::wstring wide(length, L'\0');
    for (size_t i = 0; i < length; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    return wide;
}

std::wstring ccWideFromNarrow(const std::string& text)
{
    return ccWideFromNarrow(text.data(), text.size());
}

size_t ccWStrCopy(const wchar_t* text, wchar_t* buffer, size_t capacity)
{
    if (buffer == nullptr || capacity == 0)
        return 0;
    size_t i = 0;
    for (; text != nullptr && i + 1 < capacity && text[i] != 0; ++i)
        buffer[i] = text[i];
    buffer[i] = 0;
    return i;
}

void ccWStrAssign(std::wstring& target, const wchar_t* text)
{
    target = text != nullptr ? text : L"";
}

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

ccStringLiteral::ccStringLiteral(const std::wstring& baseName) : base_(baseName) {}

ccStringLiteral::~ccStringLiteral()
{
    ccDictionaryReleaseLock hold;
    auto& list = literals();
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void ccStringLiteral::followLanguage()
{
    ccResourceLock hold(ccDictionaryMutex());
    auto& list = literals();
    if (std::find(list.begin(), list.end(), this) == list.end())
        list.push_back(this);
}

ccDictionary& ccStringLiteral::dictionary()
{
    if (!dictionary_) {
        auto made = std::make_unique<ccDictionary>();
        std::wstring module;
        if (plat::findLoadedModule(base_ + L"8u.dll", &module))
            made->addModuleFile(module, base_, 0, 0xFFFFFFFFu);
        else
            made->add(L"", base_, 0, 0xFFFFFFFFu);
        dictionary_ = std::move(made);
    }
    return *dictionary_;
}

bool ccStringLiteral::load()
{
    return library() != nullptr;
}

plat::ModuleHandle ccStringLiteral::library()
{
    ccResourceLock hold(ccDictionaryMutex());
    return dictionary().libraryFor(0);
}

void ccStringLiteral::ensureLoaded()
{
    ccResourceLock hold(ccDictionaryMutex());
    if (!load())
        throw BadParams(L"Unable to load resource dll for current language (" + base_ + ccGetLanguageAbbreviation()
                        + L".dll)");
}

void ccStringLiteral::setLanguage(uint16_t language)
{
    ccResourceLock hold(ccDictionaryMutex());
    const uint16_t previous = ccGetLanguageId();
    try {
        ccSetLanguageId(language);
        for (ccStringLiteral* literal : literals())
            literal->ensureLoaded();
    } catch (...) {
        try {
            ccSetLanguageId(previous);
            // Libraries tried for the new language would not be tried in it
            // again; a later change to it must load them afresh.
            for (ccStringLiteral* literal : literals())
                if (literal->dictionary_)
                    literal->dictionary_->forgetLanguage();
        } catch (...) {
            // The previous language had its abbreviation a moment ago; the
            // first failure is the one to report.
        }
        throw;
    }
}
