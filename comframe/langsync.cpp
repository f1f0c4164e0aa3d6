#include "comframe/langsync.h"

#include <atomic>
#include <cstdio>
#include <locale>

#include "comframe/messagesource.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "std/literal.h"

namespace {

struct Messages {
    UINT change;
    UINT complete;
};

const Messages& messages()
{
    static const Messages registered = [] {
        const UINT change = RegisterWindowMessageW(L"QorDictionaryLangChange");
        const UINT complete = RegisterWindowMessageW(L"QorDictionaryLangChangeComplete");
        return Messages{change ? change : WM_SETTINGCHANGE, complete ? complete : WM_SETTINGCHANGE};
    }();
    return registered;
}

std::atomic<ccLanguageSync::LanguageSource> gSource{nullptr};

void report(const std::wstring& message)
{
    plat::reportEvent(L"qorx7320", message);
}

std::wstring hex(HRESULT hr)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(hr));
    return text;
}

// Keeps the previous language when the new one cannot be had; nothing may
// leave a window procedure or a static initialiser.
bool trySetLanguage(uint16_t language)
{
    try {
        ccStringLiteral::setLanguage(language);
        return true;
    } catch (const ccException& failure) {
        report(L"language " + hex(language) + L" not taken: " + failure.message(true));
    } catch (...) {
        report(L"language " + hex(language) + L" not taken");
    }
    return false;
}

struct LocaleName {
    uint16_t language;
    const char* text;
};

const LocaleName kLocales[] = {
    {0x0409, "English_USA.1252"}, {0x0809, "English_GBR.1252"}, {0x0407, "German_DEU.1252"},
    {0x040C, "French_FRA.1252"},  {0x0411, "Japanese_JPN.932"}, {0x0C0A, "Spanish_ESP.1252"},
    {0x0410, "Italian_ITA.1252"}, {0x0804, "Chinese_CHN.936"},  {0x0412, "Korean_KOR.949"},
    {0x0416, "Portuguese_BRA.1252"},
};

// English language name, abbreviated country name and ANSI code page. A
// text the runtime does not know leaves the global locale as it was.
void setGlobalLocale(uint16_t language)
{
    const LocaleName* name = nullptr;
    for (const LocaleName& entry : kLocales)
        if (entry.language == language) name = &entry;
    if (!name) return;
    try {
        std::locale::global(std::locale(name->text));
    } catch (const std::exception&) {
    }
}

} // namespace

UINT ccLanguageSync::languageChangeMessage()
{
    return messages().change;
}

UINT ccLanguageSync::languageChangeCompleteMessage()
{
    return messages().complete;
}

void ccLanguageSync::setLanguageSource(LanguageSource source)
{
    gSource.store(source);
}

ccLanguageSync::ccLanguageSync()
{
    messages();
    const uint16_t language = plat::userLanguage();
    if (!trySetLanguage(language) && language != plat::kLanguageUsEnglish)
        (void)trySetLanguage(plat::kLanguageUsEnglish); // reported when it fails too
    setGlobalLocale(language);
    window_ = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&windowProcedure));
    }
}

ccLanguageSync::~ccLanguageSync()
{
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
}

LRESULT ccLanguageSync::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == languageChangeMessage()) {
        const LanguageSource source = gSource.load();
        uint32_t language = 0;
        const HRESULT hr = source ? source(&language) : ccMessageSourceLanguage(&language);
        if (SUCCEEDED(hr))
            (void)trySetLanguage(static_cast<uint16_t>(language & 0xFFFF));
        else
            report(L"the suite's language is unknown (" + hex(hr) + L"); the language stays");
    } else if (message == languageChangeCompleteMessage()) {
        auto* self = reinterpret_cast<ccLanguageSync*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self) {
            try {
                self->languageChangeComplete();
            } catch (...) {
                report(L"a language change could not be completed");
            }
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

ccLanguageSync& ccProcessLanguageSync()
{
    static ccLanguageSync sync;
    return sync;
}
