#include "std/literal.h"

#include <algorithm>
#include <vector>

#include "std/dictionary.h"
#include "std/internal/dictionary_lock.h"

namespace {

// The literals that follow the language; guarded by the dictionary mutex,
// never destroyed.
std::vector<ccStringLiteral*>& literals()
{
    static auto* list = new std::vector<ccStringLiteral*>;
    return *list;
}

} // namespace

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
