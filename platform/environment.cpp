#include "platform/environment.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "platform/environment_testing.h"
#include "platform/text.h"

namespace plat {
namespace {

struct Language {
    uint16_t id;
    const char* locale; // language_territory of LANG
    const wchar_t* abbreviation;
};

// A language alone (LANG "de" or "de_AT") takes the first row of that language.
const Language kLanguages[] = {
    {0x0409, "en_US", L"ENU"}, {0x0809, "en_GB", L"ENG"}, {0x0407, "de_DE", L"DEU"}, {0x040C, "fr_FR", L"FRA"},
    {0x0411, "ja_JP", L"JPN"}, {0x0C0A, "es_ES", L"ESN"}, {0x0410, "it_IT", L"ITA"}, {0x0804, "zh_CN", L"CHS"},
    {0x0412, "ko_KR", L"KOR"}, {0x0416, "pt_BR", L"PTB"},
};

std::atomic<uint16_t> languageOverride{0};

uint16_t languageFromLocale(const std::string& locale)
{
    // "de_DE.UTF-8@euro" -> "de_DE"
    const std::string name = locale.substr(0, locale.find_first_of(".@"));
    const std::string language = name.substr(0, name.find('_'));
    for (const Language& row : kLanguages)
        if (name == row.locale)
            return row.id;
    for (const Language& row : kLanguages)
        if (language == std::string(row.locale, std::strchr(row.locale, '_')))
            return row.id;
    return kLanguageUsEnglish;
}

} // namespace

bool environmentVariable(const std::wstring& name, std::wstring* value)
{
    std::string system;
    const char* text = systemNameFromWide(name, &system) ? std::getenv(system.c_str()) : nullptr;
    if (text == nullptr)
        return false;
    if (value != nullptr)
        *value = wideFromUtf8(text);
    return true;
}

bool isEnvironmentVariableSet(const std::wstring& name)
{
    return environmentVariable(name, nullptr);
}

bool setEnvironmentVariable(const std::wstring& name, const std::wstring& value)
{
    std::string systemName, systemValue;
    return systemNameFromWide(name, &systemName) && systemNameFromWide(value, &systemValue)
        && ::setenv(systemName.c_str(), systemValue.c_str(), 1) == 0;
}

bool unsetEnvironmentVariable(const std::wstring& name)
{
    std::string system;
    return systemNameFromWide(name, &system) && ::unsetenv(system.c_str()) == 0;
}

uint16_t userLanguage()
{
    if (const uint16_t forced = languageOverride.load())
        return forced;
    const char* lang = std::getenv("LANG");
    return lang == nullptr ? kLanguageUsEnglish : languageFromLocale(lang);
}

void setUserLanguageOverride(uint16_t language)
{
    languageOverride.store(language);
}

bool languageAbbreviation(uint16_t language, std::wstring* abbreviation)
{
    for (const Language& row : kLanguages) {
        if (row.id == language) {
            *abbreviation = row.abbreviation;
            return true;
        }
    }
    return false;
}

bool computerName(std::wstring* name)
{
    char buffer[1025] = {}; // beyond any host name the system allows
    if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
    if (name) *name = wideFromUtf8(buffer);
    return true;
}

} // namespace plat
