#include "comframe/langsync.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "std/dictionary.h"
#include "std/dictionary_testing.h"

namespace {

constexpr uint16_t kEnglish = 0x0409, kGerman = 0x0407, kNoAbbreviation = 0x0413;

bool gCompletionFails = false;

struct Sync : ccLanguageSync {
    void languageChangeComplete() override
    {
        ++completes;
        if (gCompletionFails) throw std::runtime_error("not completed");
    }
    int completes = 0;
};

// The user's language; 0 ends the test's changes.
void reset(uint16_t language)
{
    ccResetLanguageForTesting();
    plat::setUserLanguageOverride(language);
    plat::collectEventLines(language != 0);
    (void)plat::takeEventLines();
}

HRESULT gResult = S_OK;
uint32_t gLanguage = 0;

// A failure is logged and keeps the language: nothing may leave a window procedure.
TEST(LanguageSync, BroadcastMessagesFollowTheSuitesLanguageWhenTheTargetsThreadPumps)
{
    ccLanguageSync::setLanguageSource([](uint32_t* language) { return *language = gLanguage, gResult; });
    const UINT change = ccLanguageSync::languageChangeMessage();
    const UINT complete = ccLanguageSync::languageChangeCompleteMessage();
    // The source's result and language, whether the completion fails, the
    // message, then the language and completions it leaves, and whether it is logged.
    const std::tuple<HRESULT, uint32_t, bool, UINT, uint16_t, int, bool> cases[] = {
        {S_OK, 0x00010000u | kGerman, false, change, kGerman, 0, false},
        {E_FAIL, kGerman, false, change, kEnglish, 0, true},
        {S_OK, kNoAbbreviation, false, change, kEnglish, 0, true},
        {S_OK, kGerman, false, complete, kEnglish, 1, false},
        {S_OK, kGerman, true, complete, kEnglish, 1, true},
    };
    for (const auto& [result, language, fails, message, expected, completes, logged] : cases) {
        reset(kEnglish);
        std::tie(gResult, gLanguage, gCompletionFails) = std::tuple(result, language, fails);
        auto sync = std::make_unique<Sync>();
        const HWND window = sync->window();
        ASSERT_TRUE(PostMessage(HWND_BROADCAST, message, 0, 0));
        EXPECT_EQ(ccGetLanguageId(), kEnglish);
        for (MSG queued; PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&queued);
        EXPECT_EQ(ccGetLanguageId(), expected) << language;
        EXPECT_EQ(sync->completes, completes);
        EXPECT_EQ(!plat::takeEventLines().empty(), logged); // a refusal or failure is logged
        sync.reset();
        EXPECT_FALSE(IsWindow(window));
    }
    ccLanguageSync::setLanguageSource(nullptr);
    gCompletionFails = false;
    reset(0);
}

// A language the library cannot take gives English, not a throw from a static initialiser.
TEST(LanguageSync, StartsInTheUsersLanguageOrElseInEnglish)
{
    reset(kNoAbbreviation);
    ccSetLanguageId(kGerman);
    Sync sync;
    EXPECT_EQ(ccGetLanguageId(), kEnglish);
    reset(0);
}

} // namespace
