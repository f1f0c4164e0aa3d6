#include <gtest/gtest.h>

#include <tuple>

#include "platform/text.h"
#include "std/filestream.h"
#include "tests/support/temp_dir.h"

namespace {

using std::ios_base;

// Names are opened through their UTF-8 form, written here as the system sees it.
TEST(FileStream, OnlyTheTableModesHaveATextOpenFailuresSetFailbitAndAnyOtherNameOpensOnce)
{
    const ios_base::openmode in = ios_base::in, out = ios_base::out, trunc = ios_base::trunc, app = ios_base::app,
                             bin = ios_base::binary, ate = ios_base::ate;
    // The at-end bit is left out of the lookup; the last rows are not in the table, though the standard buffer takes
    // some of them.
    const struct { ios_base::openmode mode; const char* text; } rows[] = {
        {out | trunc, "w"}, {out | app, "a"}, {in | out, "r+"}, {in | out | app | bin | ate, "a+b"}, {in | bin, "rb"},
        {in | app, nullptr}, {out | trunc | app, nullptr}, {bin | ate, nullptr}};
    for (const auto& r : rows)
        EXPECT_STREQ(ccBasic_filebuf<char>::modeText(r.mode), r.text) << static_cast<int>(r.mode);

    TempDir dir;
    const auto write = [&](const std::wstring& name, const std::string& bytes) {
        dir.write(plat::utf8FromWide(name), bytes);
        return dir.wide() + name;
    };
    ccBasic_IFstream<char> missing(dir.wide("missing.txt"));
    EXPECT_EQ(std::pair(missing.fail(), missing.is_open()), std::pair(true, false));
    // Not in the table; cut at a 0; a lone surrogate has no UTF-8 form: it would have named "\uFFFD".
    write(L"\uFFFD", "x");
    const std::wstring p = write(L"f.txt", "one "), lone = dir.wide() + wchar_t(0xD800);
    for (const std::wstring& name : {p, p + std::wstring(1, L'\0') + L"more", lone})
        EXPECT_FALSE(ccBasic_IFstream<char>(name, name == p ? ios_base::app : ios_base::in).is_open());
    ccBasic_IFstream<char> named(write(L"cam\u00e9ra \u65e5\u672c \U0001F600.txt", "12 34"));
    int a = 0, b = 0;
    named >> a >> b;
    EXPECT_EQ(std::tuple(a, b), std::tuple(12, 34));

    // The buffer opens once and writes with the table mode.
    ccBasic_filebuf<char> buf;
    ASSERT_EQ(buf.open(p, ios_base::out | ios_base::app), &buf);
    EXPECT_EQ(buf.open(p, ios_base::in), nullptr);
    buf.sputn("two", 3);
    ASSERT_NE(buf.close(), nullptr);
    EXPECT_EQ(dir.read("f.txt"), "one two");
}

} // namespace
