#include "comframe/langsync.h"

#include <gtest/gtest.h>

#include <locale>

#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "std/dictionary.h"
#include "std/dictionary_testing.h"

namespace {

constexpr uint16_t kEnglish = 0x0409, kGerman = 0x0407, kFrench = 0x040C, kNoAbbreviation = 0x0413;

HRESULT gSourceResult = S_OK;
uint32_t gSourceLanguage = 0;

HRESULT fakeSource(uint32_t* language)
{
    *language = gSourceLanguage;
    return gSourceResult;
}

class Sync : public ccLanguageSync {
public:
    void languageChangeComplete() override { ++completes; }
    int completes = 0;
};

void pump()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
}

class LanguageSync : public testing::Test {
protected:
    void SetUp() override { reset(kEnglish, true); }
    void TearDown() override
    {
        ccLanguageSync::setLanguageSource(nullptr);
        reset(0, false);
    }
    static void reset(uint16_t userLanguage, bool collect)
    {
        ccResetLanguageForTesting();
        plat::setUserLanguageOverride(userLanguage);
        plat::collectEventLines(collect);
        (void)plat::takeEventLines();
    }
};

TEST_F(LanguageSync, BroadcastMessagesFollowTheSuitesLanguageOnTheTargetsThread)
{
    const UINT change = ccLanguageSync::languageChangeMessage();
    const UINT complete = ccLanguageSync::languageChangeCompleteMessage();
    const struct {
        const char* name;
        bool hasSource;
        HRESULT result;
        uint32_t language;
        UINT message;
        uint16_t expected;
        int completes;
        size_t logged;
    } cases[] = {
        {"the source's language, its low 16 bits", true, S_OK, 0x00010000u | kGerman, change, kGerman, 0, 0},
        {"a failing source keeps the language", true, E_FAIL, kGerman, change, kEnglish, 0, 1},
        {"a language the library cannot take is kept out", true, S_OK, kNoAbbreviation, change, kEnglish, 0, 1},
        {"no source keeps the language", false, S_OK, kGerman, change, kEnglish, 0, 1},
        {"the change is complete", true, S_OK, kGerman, complete, kEnglish, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        reset(kEnglish, true);
        gSourceResult = c.result;
        gSourceLanguage = c.language;
        ccLanguageSync::setLanguageSource(c.hasSource ? &fakeSource : nullptr);
        HWND window = nullptr;
        {
            Sync sync;
            window = sync.window();
            ASSERT_NE(window, nullptr);
            ASSERT_TRUE(PostMessage(HWND_BROADCAST, c.message, 0, 0));
            EXPECT_EQ(ccGetLanguageId(), kEnglish); // nothing happens until the thread pumps
            pump();
            EXPECT_EQ(ccGetLanguageId(), c.expected);
            EXPECT_EQ(sync.completes, c.completes);
            EXPECT_EQ(plat::takeEventLines().size(), c.logged);
        }
        EXPECT_FALSE(IsWindow(window));
    }
}

TEST_F(LanguageSync, StartsInTheUsersLanguageOrEnglishAndKeepsAnUnknownLocale)
{
    const std::string globalBefore = std::locale().name();
    const struct {
        uint16_t user;
        uint16_t expected;
        std::string localeText;
    } cases[] = {
        {kGerman, kGerman, "German_DEU.1252"},
        {kNoAbbreviation, kEnglish, ""},
    };
    for (const auto& c : cases) {
        reset(c.user, true);
        ccSetLanguageId(kFrench); // neither of the expected ones
        Sync sync;
        EXPECT_EQ(ccGetLanguageId(), c.expected);
        EXPECT_EQ(ccLocaleText(c.user), c.localeText);
        // The runtime here has no locale of that name.
        EXPECT_EQ(std::locale().name(), globalBefore);
    }
}

} // namespace
