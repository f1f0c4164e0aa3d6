#include "platform/ini.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

namespace {

// Only the first section of a name is read, and a header without its ']'
// names no section.
TEST(PlatIni, FindsKeysOfTheFirstSectionOfItsNameOnly)
{
    const std::string text = "[A]\nK=1\n[B]\nK=b\n[A]\nK=2\nL=3\n[C\nM=4\n"
                             "; comment\r\n[Other]\r\nIOConfig=Wrong\r\n"
                             "  [ Board #1 ]  \r\n# IOConfig=Commented\r\n  ioconfig =  Light Control \r\n"
                             "Empty=\r\nIOConfig=Second\r\n[Board #2]\nIOConfig=Two";
    const struct { const wchar_t* section; const wchar_t* key; bool found; const wchar_t* value; } cases[] = {
        {L"board #1", L"IOConfig", true, L"Light Control"}, // blanks, case, CRLF, comments; the first of two
        {L"Board #1", L"EMPTY", true, L""},
        {L"Board #2", L"IOConfig", true, L"Two"}, // LF only, no line end at the end
        {L"Board #1", L"Missing", false, L""},
        {L"Board", L"IOConfig", false, L""},
        {L"A", L"K", true, L"1"},
        {L"A", L"L", false, L""},
        {L"C", L"M", false, L""},
        {L"[C", L"M", false, L""},
    };
    for (const auto& c : cases) {
        std::wstring value;
        EXPECT_EQ(plat::profileStringInText(text, c.section, c.key, &value), c.found) << c.section << c.key;
        EXPECT_EQ(value, c.value) << c.section << c.key;
    }
}

TEST(PlatIni, TellsAMissingFileFromAMissingKey)
{
    TempDir dir;
    dir.write("a.ini", "[S]\nK=v\n");
    std::wstring value;
    EXPECT_EQ(plat::profileString(dir.wide("a.ini"), L"S", L"K", &value), plat::ProfileLookup::found);
    EXPECT_EQ(value, L"v");
    EXPECT_EQ(plat::profileString(dir.wide("a.ini"), L"S", L"X", &value), plat::ProfileLookup::noKey);
    EXPECT_EQ(plat::profileString(dir.wide("none.ini"), L"S", L"K", &value), plat::ProfileLookup::noFile);
}

} // namespace
