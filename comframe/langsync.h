// Following the suite's language: a hidden message target on the thread that
// makes it receives the registered messages "QorDictionaryLangChange" and
// "QorDictionaryLangChangeComplete" (broadcast to every target). The first
// switches the library's string resources to the language the suite's
// dictionary now has; the second calls languageChangeComplete.
#pragma once
#include <cstdint>

#include "platform/com/message.h"

class ccLanguageSync {
public:
    // Where the suite's current language comes from (the message source);
    // the low 16 bits are the language id.
    using LanguageSource = HRESULT (*)(uint32_t* language);

    // Takes the user's language and locale, then makes the hidden target. A
    // target that cannot be made is no error: changes are then not followed.
    ccLanguageSync();
    virtual ~ccLanguageSync();
    ccLanguageSync(const ccLanguageSync&) = delete;
    ccLanguageSync& operator=(const ccLanguageSync&) = delete;

    // On the target's thread, after the change-complete message.
    virtual void languageChangeComplete() { }

    HWND window() const { return window_; }

    // The registered numbers (WM_SETTINGCHANGE for one that cannot be
    // registered), the same for the life of the process.
    static UINT languageChangeMessage();
    static UINT languageChangeCompleteMessage();

    // For tests; null (the default) asks the suite's message source.
    static void setLanguageSource(LanguageSource source);

private:
    static LRESULT windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
};

// The process's object, made on the first call (on the thread that is to
// pump its messages) and destroyed at exit.
ccLanguageSync& ccProcessLanguageSync();
