#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "std/except/utf16.h"
#include "std/filestream.h"

namespace {

using std::ios_base;

// A fresh directory per test; its files are given by wide name.
class FileStream : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/qorx_filestream_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override
    {
        for (const std::string& f : files_)
            std::remove(f.c_str());
        rmdir(dir_.c_str());
    }
    std::wstring path(const std::wstring& name)
    {
        files_.push_back(dir_ + "/" + ccToUtf8(name));
        return std::wstring(dir_.begin(), dir_.end()) + L"/" + name;
    }
    // Written through the narrow UTF-8 name, as the system sees it.
    std::wstring write(const std::wstring& name, const std::string& bytes)
    {
        std::wstring p = path(name);
        std::ofstream(files_.back(), ios_base::binary) << bytes;
        return p;
    }

    std::string dir_;
    std::vector<std::string> files_;
};

TEST(FileMode, OnlyTheTableCombinationsHaveAText)
{
    const ios_base::openmode in = ios_base::in, out = ios_base::out, trunc = ios_base::trunc, app = ios_base::app,
                             bin = ios_base::binary, ate = ios_base::ate;
    const struct {
        ios_base::openmode mode;
        const char* text;
    } rows[] = {
        {in, "r"}, {out, "w"}, {out | trunc, "w"}, {out | app, "a"}, {in | out, "r+"}, {in | out | trunc, "w+"},
        {in | out | app, "a+"}, {in | bin, "rb"}, {in | out | bin, "r+b"},
        // The at-end bit is left out of the lookup.
        {in | out | app | bin | ate, "a+b"},
        // Not in the table, though the standard buffer takes some of them.
        {in | app, nullptr}, {app, nullptr}, {out | trunc | app, nullptr}, {bin, nullptr}, {ate, nullptr},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(static_cast<int>(r.mode));
        const char* text = ccBasic_filebuf<char>::modeText(r.mode);
        if (r.text)
            EXPECT_STREQ(text, r.text);
        else
            EXPECT_EQ(text, nullptr);
    }
}

TEST_F(FileStream, AMissingFileSetsFailbitAndReadsNothing)
{
    ccBasic_IFstream<char> in(path(L"missing.txt"));
    EXPECT_TRUE(in.fail());
    EXPECT_FALSE(in.is_open());
    EXPECT_EQ(in.get(), std::char_traits<char>::eof());
    EXPECT_EQ(in.gcount(), 0);
}

TEST_F(FileStream, ANameOutsideLatin1OpensThroughItsUtf8Name)
{
    const std::wstring name = L"cam\u00e9ra \u65e5\u672c \U0001F600.txt";
    ccBasic_IFstream<char> in(write(name, "12 34"));
    ASSERT_TRUE(in.is_open());
    int a = 0, b = 0;
    in >> a >> b;
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, 34);
}

TEST_F(FileStream, InputWithAppendOrANullInThePathFailsThoughTheFileExists)
{
    const std::wstring p = write(L"f.txt", "x");
    ccBasic_IFstream<char> append(p, ios_base::app);
    EXPECT_TRUE(append.fail());
    EXPECT_FALSE(append.is_open());
    ccBasic_IFstream<char> cut(p + std::wstring(1, L'\0') + L"more");
    EXPECT_FALSE(cut.is_open());
    // A lone surrogate has no UTF-8 form: it would have named "\uFFFD".
    write(L"\uFFFD", "x");
    ccBasic_IFstream<char> lone(std::wstring(dir_.begin(), dir_.end()) + L"/" + std::wstring(1, wchar_t(0xD800)));
    EXPECT_FALSE(lone.is_open());
}

TEST_F(FileStream, AtEndStartsAtTheEnd)
{
    ccBasic_IFstream<char> in(write(L"f.txt", "abcdef"), ios_base::ate | ios_base::binary);
    ASSERT_TRUE(in.is_open());
    EXPECT_EQ(in.tellg(), 6);
}

TEST_F(FileStream, ReadsThroughItsOwn4096ByteBuffer)
{
    ccBasic_IFstream<char> in(write(L"big.bin", std::string(10000, 'z')), ios_base::binary);
    ASSERT_EQ(in.get(), 'z');
    // The rest of the first fill, less one place the buffer may keep back.
    const std::streamsize rest = in.rdbuf()->in_avail();
    EXPECT_LE(rest, 4095);
    EXPECT_GE(rest, 4094);
}

TEST_F(FileStream, BufferOpensOnceAndWritesWithTheTableMode)
{
    const std::wstring p = write(L"log.txt", "one ");
    ccBasic_filebuf<char> buf;
    ASSERT_EQ(buf.open(p, ios_base::out | ios_base::app), &buf);
    EXPECT_EQ(buf.open(p, ios_base::in), nullptr);
    buf.sputn("two", 3);
    ASSERT_NE(buf.close(), nullptr);
    std::ifstream written(files_.back());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "one two");
}

TEST_F(FileStream, ClosingNothingFailsAndOpeningClearsTheState)
{
    ccBasic_ifstream<char> in;
    in.close();
    EXPECT_TRUE(in.fail());
    in.open(write(L"f.txt", "7"));
    EXPECT_TRUE(in.good());
}

} // namespace
