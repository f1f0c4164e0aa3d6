#include "comframe/langsync.h"

#include <gtest/gtest.h>

#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "std/dictionary.h"
#include "std/dictionary_testing.h"

namespace {

constexpr uint16_t kEnglish = 0x0409, kGerman = 0x0407, kNoAbbreviation = 0x0413;

struct Sync : ccLanguageSync {
    void languageChangeComplete() override { ++completes; }
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
    // The source's result and language, the message, then the language and completions it leaves.
    const std::tuple<HRESULT, uint32_t, UINT, uint16_t, int> cases[] = {
        {S_OK, 0x00010000u | kGerman, change, kGerman, 0},
        {E_FAIL, kGerman, change, kEnglish, 0},
        {S_OK, kNoAbbreviation, change, kEnglish, 0},
        {S_OK, kGerman, ccLanguageSync::languageChangeCompleteMessage(), kEnglish, 1},
    };
    for (const auto& [result, language, message, expected, completes] : cases) {
        reset(kEnglish);
        std::tie(gResult, gLanguage) = std::pair(result, language);
        auto sync = std::make_unique<Sync>();
        const HWND window = sync->window();
        ASSERT_TRUE(PostMessage(HWND_BROADCAST, message, 0, 0));
        EXPECT_EQ(ccGetLanguageId(), kEnglish);
        for (MSG queued; PeekMessageW(&queued, nullptr, 0, 0, PM_REMOVE);)
            DispatchMessageW(&queued);
        EXPECT_EQ(ccGetLanguageId(), expected) << language;
        EXPECT_EQ(sync->completes, completes);
        EXPECT_EQ(plat::takeEventLines().empty(), expected != kEnglish || completes); // a refusal is logged
        sync.reset();
        EXPECT_FALSE(IsWindow(window));
    }
    ccLanguageSync::setLanguageSource(nullptr);
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
