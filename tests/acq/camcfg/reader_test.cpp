#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "acq/camcfg/ccfformat.h"
#include "acq/camcfg/fileinfo.h"
#include "acq/camcfg/parammap.h"
#include "acq/camcfg/reader.h"
#include "acq/camcfg/startup.h"
#include "acq/vidfmt/vidfmt.h"
#include "platform/event_log_testing.h"
#include "std/parseerror.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"

namespace {

std::wstring widen(const std::string& s) { return TempDir::ascii(s); }

// A file defining one format; checksum is the text after "ccf_checksum".
std::string camera(const std::string& name, int width, const std::string& checksum = "0xDEADC0DE")
{
    return "format name = \"" + name + "\"\nformat width = " + std::to_string(width)
           + "\nformat height = 8\nccf_checksum " + checksum + "\n";
}

bool defines(const std::string& name)
{
    try {
        (void)ccVideoFormat::getFormat(widen(name));
        return true;
    } catch (const ccVideoFormat::NotFound&) {
        return false;
    }
}

// The record of text read as the file "f.ccf".
void read(const std::string& text, cc_ccfFileInfo& record, bool keepComments = false)
{
    std::istringstream in(text);
    cc_ccfReader::readStream(in, L"f.ccf", record, keepComments);
}

// The content lines kept, each as "<file line number>:<text>", the
// checksum line's value and whether it is over 32 bits, and (where given)
// the sum of the content: blanks and tabs are skipped, the lines run on, and
// characters shift by their count: 1, 2, 4, 5, ... by 8, 3, 6, 9, 12 by 4,
// 15 by 12 and 0 not at all.
TEST(ReadLines, KeepContentLinesWithTheirFileLineNumbers)
{
    const std::string wide(cc_ccfReader::kMaxLineLength, 'x');
    const int64_t unchecked = -1;
    const struct { std::string text; std::vector<std::wstring> lines; uint32_t checksum = 0; bool tooWide = false;
                   int64_t sum = unchecked; } rows[] = {
        {"", {}, 0, false, 0},
        {"abc\n", {L"1:abc"}, 0, false, 0xC561},
        {"a \tb\nc\n", {L"1:a \tb", L"2:c"}, 0, false, 0xC561},
        {std::string(16, 'a'), {L"1:" + std::wstring(16, L'a')}, 0, false, 0x61 + 10 * 0x6100 + 4 * 0x610 + 0x61000},
        {"a\r junk\n\r\nb\r\n", {L"1:a", L"3:b"}}, // a carriage return ends the text
        {"\"\xe9\"\n", {L"1:\"\u00e9\""}},          // each byte one character
        {std::string("a\0b\n", 4), {std::wstring(L"1:a\0b", 5)}},
        {"a // note\n// only a note\n", {L"1:a "}},
        {"/* c */a\nb\n", {L"2:b"}}, // the rest of the closing line is dropped
        {"/*/ a */ a\nb\n", {L"2:b"}},
        {"\"a/*b\" // c\nd\n", {L"1:\"a/*b\" ", L"2:d"}}, // a line with both takes the "//" rule alone
        {"a /* c\nb\n*/ x\nd\n", {L"1:a ", L"4:d"}},
        {"/* a\nb */\n\n\nc\n\nd\n", {L"5:c", L"7:d"}}, // counted once each (errors name these numbers)
        {"a\n/* open\nb\n", {L"1:a"}},
        {"n = \"ab\ncd\"\ne\n", {L"1:n = \"abcd\"", L"3:e"}}, // an open quote joins the next line
        {wide + "\nb\n", {widen("1:" + wide), L"2:b"}},       // the longest line, read whole
        {"a\nx ccf_checksum \t deadC0de // 34\n", {L"1:a"}, 0xDEADC0DE},
        {"ccf_checksum 0x12\nccf_checksum zz\n", {}, 0x12}, // no number keeps the last
        {"ccf_checksum 0x1DEADC0DE\n", {}, 0xDEADC0DE, true},
        {"ccf_checksum 0x1DEADC0DE\nccf_checksum 7\n", {}, 7, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text.substr(0, 40));
        cc_ccfFileInfo record;
        read(r.text, record);
        std::vector<std::wstring> lines;
        for (size_t i = 0; i < record.numLines(); ++i)
            lines.push_back(std::to_wstring(record.lineNumber(i)) + L":" + record.line(i));
        EXPECT_EQ(lines, r.lines);
        EXPECT_EQ(record.checksum(), r.checksum);
        EXPECT_EQ(record.checksumTooWide(), r.tooWide);
        EXPECT_EQ(record.fileName(), L"f.ccf");
        EXPECT_TRUE(r.sum == unchecked || record.computeChecksum() == r.sum) << std::hex << record.computeChecksum();
    }
}

// A stream of size bytes: head, then filler over and over, handed out in
// small pieces that are counted, so that a test sees how far it was read.
class Generated : public std::streambuf {
public:
    static constexpr size_t kPiece = 512;
    Generated(std::string head, std::string filler, uint64_t size) : head_(head), filler_(filler), size_(size) {}
    uint64_t handed() const { return handed_; }

protected:
    int_type underflow() override
    {
        size_t n = 0;
        for (; n < kPiece && handed_ + n < size_; ++n) {
            const uint64_t at = handed_ + n;
            piece_[n] = at < head_.size() ? head_[at] : filler_[(at - head_.size()) % filler_.size()];
        }
        if (n == 0)
            return traits_type::eof();
        handed_ += n;
        setg(piece_, piece_, piece_ + n);
        return traits_type::to_int_type(piece_[0]);
    }

private:
    std::string head_, filler_;
    uint64_t size_, handed_ = 0;
    char piece_[kPiece];
};

// A file over a limit is refused once the limit is passed, whatever its
// size: what it costs follows the limits, not the file. A quoted value
// joined over lines is one line; a line counts in full, past a carriage
// return and inside a block comment too.
TEST(ReadLines, AFileOverTheLimitsIsRefusedWhereItPassesThem)
{
    const uint64_t big = uint64_t(64) << 20;
    const size_t line = cc_ccfReader::kMaxLineLength, file = cc_ccfReader::kMaxFileSize;
    const std::string comment = "//" + std::string(61, 'c') + "\n"; // 64 bytes: the file limit holds 16384
    const std::wstring tooLong = L"Line longer than 4096 characters", tooLarge = L"File larger than 1048576 bytes";
    const struct { std::string head, filler; uint64_t size; uint32_t line; std::wstring why; uint64_t failsAt; }
        rows[] = {
        {"", "x", big, 1, tooLong, line + 1},
        {"a\r", "x", big, 1, tooLong, line + 1},
        {"a\n/* ", "x", big, 2, tooLong, 2 + line + 1},
        {"format camera_model = \"", std::string(100, 'y') + "\n", big, 41, tooLong, 23 + 41 * 101},
        {"", comment, big, 16385, tooLarge, file + 1},
        {"", comment, file, 0, L"", file}, // the largest file
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.head + r.filler.substr(0, 3));
        Generated source(r.head, r.filler, r.size);
        std::istream in(&source);
        cc_ccfFileInfo record;
        std::wstring message;
        try {
            cc_ccfReader::readStream(in, L"f.ccf", record, false);
        } catch (const cc_ParseError& e) {
            message = e.message();
        }
        const std::wstring expected = L"f.ccf: Parse error on Line [" + std::to_wstring(r.line) + L"]: " + r.why;
        EXPECT_EQ(message, r.why.empty() ? L"" : expected);
        EXPECT_LE(source.handed(), r.failsAt + Generated::kPiece);
    }
}

// Comments kept by line number go to the entry their line sets (each of a
// key given twice); the one before the first line describes the file.
TEST(ReadLines, CommentsGoWithTheirEntries)
{
    cc_ccfFileInfo record;
    read("// head\n/* a\nb */\nformat width = 640 // w\nformat height = 1\nformat width = 768 // x\nformat width = 8\n",
         record, true);
    EXPECT_EQ(record.comment(5), nullptr);
    const ccPtrHandle<cc_camCfgStore> store = cf_buildCamCfgStore(record, nullptr);
    EXPECT_EQ(store->description(), L" head\n a\nb \n");
    EXPECT_EQ(store->entry(cc_CCFParameterMap::kWidth)->comment(), L" w x");
}

class CcfFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ccAcqCamcfgStartup();
        env.unset(L"QORALT_DISALLOW_CCF_READING");
        env.unset(L"QORALT_PATH");
        env.set(L"QORALT_SYSTEM_PATH", first.wide());
        plat::collectEventLines(true);
    }
    void TearDown() override { plat::collectEventLines(false); }

    ScopedEnv env;
    TempDir first;
};

TEST_F(CcfFiles, TheChecksumDecidesWhetherTheFileDefinesItsFormat)
{
    const auto hex = [](uint32_t v) { char t[16]; return std::string(t, std::snprintf(t, sizeof t, "0x%08X", v)); };
    for (int given = 0; given < 5; ++given) {
        const std::string name = "Sum " + std::to_string(given);
        const std::string content = "format name = \"" + name + "\"\nformat width = 64\n";
        cc_ccfFileInfo record;
        read(content, record);
        const std::string sum = hex(record.computeChecksum());
        // Any content, its sum, another, none, and one whose low 32 bits are
        // the sum but which is no 32-bit number: the first two define it.
        const std::string lines[] = {"ccf_checksum 0xDEADC0DE\n", "ccf_checksum " + sum + "\n",
                                     "ccf_checksum " + hex(record.computeChecksum() + 1) + "\n", "",
                                     "ccf_checksum 0x1" + sum.substr(2) + "\n"};
        first.write("sum.ccf", content + lines[given]);
        cc_ccfReader::readOneFile(first.wide("sum.ccf"));
        EXPECT_EQ(defines(name), given < 2) << given;
    }
}

// A directory counts when it has a ".ccf" file, in any case.
TEST_F(CcfFiles, OnlyTheFirstDirectoryWithCcfFilesIsRead)
{
    TempDir second, third;
    env.set(L"QORALT_SYSTEM_PATH", first.wide() + L";" + second.wide());
    env.set(L"QORALT_PATH", third.wide());
    first.write("a.txt", camera("Txt", 8));
    second.write("UPPER.CCF", camera("Upper", 8));
    second.write("upper.ccfx", camera("Upper x", 8));
    third.write("third.ccf", camera("Third", 8));
    cc_ccfReader::readAll();
    EXPECT_TRUE(!defines("Txt") && defines("Upper") && !defines("Upper x") && !defines("Third"));
}

// Of two files naming one format the one read last wins, and the earlier
// format and its records are gone.
TEST_F(CcfFiles, FilesAreReadInTheOrderOfTheirNamesWithoutRegardToCase)
{
    first.write("B.ccf", camera("Twice", 222));
    first.write("a.ccf", camera("Twice", 111));
    first.write("c.ccf", camera("Thrice", 333));
    first.write("C2.ccf", camera("Thrice", 444));
    cc_ccfReader::readAll();
    for (auto [name, width] : {std::pair{L"Twice", 222}, {L"Thrice", 444}}) {
        const cc_VidFmtDesc& description = ccVideoFormat::getFormat(name).description(false);
        EXPECT_EQ(description.record()->width, width);
        EXPECT_TRUE(cc_VidFmtCameraInfo::find(name) == description.cameraInfo()
                    && cc_VidFmtVideoInfo::find(name) == description.videoInfo()
                    && cc_VidFmtSignalInfo::find(name) == description.signalInfo());
        const std::vector<ccVideoFormat*> all = ccVideoFormat::allFormats();
        const auto named = [&](const ccVideoFormat* f) { return f->name() == description.record()->name; };
        EXPECT_EQ(std::count_if(all.begin(), all.end(), named), 1);
    }
}

// A path of 260 characters is still read, one of 261 is not; a value error
// is raised before the checksum is compared.
TEST_F(CcfFiles, AFileThatFailsIsLeftOutAndReportedAndTheOthersAreRead)
{
    const std::string fits = std::string(260 - first.path.size() - 4, 'f') + ".ccf";
    const std::string tooLong = std::string(261 - first.path.size() - 4, 'l') + ".ccf";
    first.write("a_good.ccf", camera("Good A", 8));
    first.write("bad_sum.ccf", camera("Bad sum", 8, "0x1"));
    first.write("bad_value.ccf", "format name = \"Bad value\"\n\nformat width = x\n");
    first.write(fits, camera("Fits", 8));
    first.write(tooLong, camera("Long", 8));
    first.write("no_equals.ccf", "format name = \"No equals\"\nformat width 640\n");
    first.write("over_limit.ccf", "format name = \"Over limit\"\n" + std::string(4097, 'x'));
    first.write("wide_value.ccf", "format name = \"Wide value\"\nformat width = " + std::string(4000, '9') + "x\n");
    first.write("z_good.ccf", camera("Good Z", 8));
    (void)plat::takeEventLines();
    cc_ccfReader::readAll();
    const std::vector<std::wstring> events = plat::takeEventLines();
    EXPECT_TRUE(defines("Good A") && defines("Good Z") && defines("Fits"));
    for (const char* name : {"Bad sum", "Bad value", "Long", "No equals", "Over limit", "Wide value"})
        EXPECT_FALSE(defines(name)) << name;
    const std::wstring at = first.wide();
    const std::vector<std::wstring> expected = {
        at + L"bad_sum.ccf: Parse error on Line [4]: Invalid Checksum",
        at + L"bad_value.ccf: Parse error on Line [3]: Invalid value. Expected integer; read: \"x\"",
        L"File: " + at + widen(tooLong) + L"(path too long)",
        at + L"no_equals.ccf: Parse error on Line [2]: Equals not found",
        at + L"over_limit.ccf: Parse error on Line [2]: Line longer than 4096 characters",
        // What the kept error and the event log quote of a value is short.
        at + L"wide_value.ccf: Parse error on Line [2]: Invalid value. Expected integer; read: \""
            + std::wstring(64, L'9') + L"...\"",
    };
    const std::vector<cc_ParseError> kept = cc_ccfReader::lastErrors();
    ASSERT_TRUE(kept.size() == expected.size() && events.size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(kept[i].message() == expected[i]
                    && events[i] == L"Qoralt: Camera-configuration file left out: " + expected[i]) << i;

    // The next reading keeps only its own errors.
    TempDir clean;
    env.set(L"QORALT_SYSTEM_PATH", clean.wide());
    clean.write("fine.ccf", camera("Fine", 8));
    cc_ccfReader::readAll();
    EXPECT_TRUE(cc_ccfReader::lastErrors().empty());
}

TEST_F(CcfFiles, AFileThatCannotBeOpenedIsNamed)
{
    try {
        cc_ccfReader::readOneFile(first.wide("missing.ccf"));
        ADD_FAILURE() << "read";
    } catch (const cc_ccfReader::GeneralError& e) {
        EXPECT_EQ(e.code(), 0x10005A31u);
        EXPECT_EQ(e.message(), L"File: " + first.wide("missing.ccf") + L"(couldn't be opened)");
    }
}

} // namespace
