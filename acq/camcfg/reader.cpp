#include "acq/camcfg/reader.h"

#include <algorithm>
#include <exception>
#include <mutex>
#include <string>

#include "acq/camcfg/ccfformat.h"
#include "acq/camcfg/entry.h"
#include "platform/environment.h"
#include "platform/event_log.h"
#include "platform/text.h"
#include "std/filestream.h"
#include "std/searchpath.h"

namespace {

const wchar_t* const kDisallowVariable = L"QORALT_DISALLOW_CCF_READING";
const wchar_t* const kChecksumWord = L"ccf_checksum";

// Created on first use and never destroyed: a late reader at exit finds them.
struct KeptErrors {
    std::mutex mutex;
    std::vector<cc_ParseError> errors;
};
KeptErrors& keptErrors()
{
    static KeptErrors* const kept = new KeptErrors;
    return *kept;
}

int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

bool isSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r'; }

// The hexadecimal number at the start of text (white space, then an optional
// "0x"). False when there is none; wide when it needs more than 32 bits.
bool readChecksum(const std::wstring& text, uint32_t& value, bool& wide)
{
    size_t i = 0;
    while (i < text.size() && isSpace(text[i]))
        ++i;
    if (i + 2 < text.size() && text[i] == L'0' && (text[i + 1] == L'x' || text[i + 1] == L'X')
        && hexDigit(text[i + 2]) >= 0)
        i += 2;
    if (i >= text.size() || hexDigit(text[i]) < 0)
        return false;
    uint64_t number = 0;
    wide = false;
    for (; i < text.size() && hexDigit(text[i]) >= 0; ++i) {
        number = number << 4 | static_cast<uint64_t>(hexDigit(text[i]));
        if (number > 0xFFFFFFFFu) {
            wide = true;
            number &= 0xFFFFFFFFu; // only the flag matters from here on
        }
    }
    value = static_cast<uint32_t>(number);
    return true;
}

void checkPathLength(const std::wstring& path)
{
    if (plat::utf16FromWide(path).size() > cc_ccfReader::kMaxPath)
        throw cc_ccfReader::GeneralError(L"File: " + path + L"(path too long)", cc_ccfReader::GeneralError::kCode);
}

void keep(std::vector<cc_ParseError>& errors, const std::wstring& message)
{
    errors.emplace_back(message);
    plat::reportEvent(L"Qoralt", L"Camera-configuration file left out: " + message);
}

std::wstring onLine(const std::wstring& file, uint32_t line, const std::wstring& message)
{
    return file + L": Parse error on Line [" + std::to_wstring(line) + L"]: " + message;
}

// The physical lines of one file, none read past the limits: a line (or the
// file) that goes on beyond them is refused as soon as it is, so a file costs
// at most what the limits allow, whatever its size.
class Lines {
public:
    // The first line of in is numbered linesBefore + 1.
    Lines(std::istream& in, const std::wstring& name, uint32_t linesBefore = 0)
        : in_(in), name_(name), number_(linesBefore)
    {
    }

    // The next line's text, cut at its first carriage return, each byte one
    // character. False at the end of the stream.
    bool next(std::wstring& line)
    {
        typedef std::char_traits<char> Traits;
        std::streambuf* const buffer = in_.rdbuf();
        line.clear();
        if (!buffer || !in_.good())
            return false;
        Traits::int_type c = buffer->sbumpc();
        if (Traits::eq_int_type(c, Traits::eof())) {
            in_.setstate(std::ios_base::eofbit);
            return false;
        }
        ++number_;
        size_t length = 0;
        bool cut = false;
        for (; !Traits::eq_int_type(c, Traits::eof()); c = buffer->sbumpc()) {
            if (++bytes_ > cc_ccfReader::kMaxFileSize)
                refuse(L"File larger than " + std::to_wstring(cc_ccfReader::kMaxFileSize) + L" bytes");
            if (c == '\n')
                return true;
            checkLength(++length);
            cut = cut || c == '\r';
            if (!cut)
                line += static_cast<wchar_t>(static_cast<unsigned char>(Traits::to_char_type(c)));
        }
        in_.setstate(std::ios_base::eofbit);
        return true;
    }

    // A line's length, also of lines joined into one, within the limit.
    void checkLength(size_t length) const
    {
        if (length > cc_ccfReader::kMaxLineLength)
            refuse(L"Line longer than " + std::to_wstring(cc_ccfReader::kMaxLineLength) + L" characters");
    }

private:
    [[noreturn]] void refuse(const std::wstring& why) const { throw cc_ParseError(onLine(name_, number_, why)); }

    std::istream& in_;
    const std::wstring name_;
    uint64_t bytes_ = 0;
    uint32_t number_;
};

// cc_ccfReader::stripComment, reading from lines.
uint32_t takeComment(std::wstring& line, Lines& lines, std::wstring& comment)
{
    comment.clear();
    const size_t slashes = line.find(L"//");
    if (slashes != std::wstring::npos) {
        comment = line.substr(slashes + 2);
        line.erase(slashes);
        return 0;
    }
    const size_t open = line.find(L"/*");
    if (open == std::wstring::npos)
        return 0;
    std::wstring piece = line.substr(open + 2);
    line.erase(open);
    const auto add = [&comment](const std::wstring& text, bool closed) {
        comment += text;
        if (text.size() < 72 && (!text.empty() || !closed))
            comment += L'\n';
    };
    // The close is looked for after the "/*": "/*/" opens a comment.
    size_t close = piece.find(L"*/");
    if (close != std::wstring::npos) {
        add(piece.substr(0, close), true);
        return 0;
    }
    add(piece, false);
    uint32_t extraLines = 0;
    while (lines.next(piece)) {
        ++extraLines;
        close = piece.find(L"*/");
        if (close != std::wstring::npos) {
            add(piece.substr(0, close), true);
            break;
        }
        add(piece, false);
    }
    return extraLines;
}

// readOneFile, keeping the file's error instead of ending the reading.
void readKeepingErrors(const std::wstring& path, std::vector<cc_ParseError>& errors)
{
    uint32_t failedLine = 0;
    try {
        checkPathLength(path);
        ccPtrHandle<cc_ccfFileInfo> record(new cc_ccfFileInfo);
        cc_ccfReader::readFile(path, *record, false);
        if (!cc_ccfReader::loadFormat(*record, &failedLine)) {
            const uint32_t line = record->checksumLine();
            keep(errors, line ? onLine(path, line, L"Invalid Checksum") : path + L": Invalid Checksum");
        }
    } catch (const cc_ccfReader::GeneralError& e) {
        keep(errors, e.message()); // names the file already
    } catch (const cc_ParseError& e) {
        keep(errors, e.message()); // names the file and line already
    } catch (const ccException& e) {
        keep(errors, failedLine ? onLine(path, failedLine, e.message()) : path + L": " + e.message());
    } catch (const std::exception& e) {
        const std::string what = e.what();
        keep(errors, path + L": " + std::wstring(what.begin(), what.end()));
    }
}

} // namespace

bool cc_ccfReader::readIfAllowed()
{
    if (plat::isEnvironmentVariableSet(kDisallowVariable))
        return false;
    readAll();
    return true;
}

void cc_ccfReader::readAll()
{
    std::vector<std::wstring> files;
    acFindFilesOnPath(L"", L".ccf", acGetSearchPath(), files);
    // Listing order is arbitrary here, and it decides which of two files of
    // one format name wins: read in the order of the names.
    std::vector<std::pair<std::wstring, std::wstring>> ordered;
    ordered.reserve(files.size());
    for (const std::wstring& file : files)
        ordered.emplace_back(plat::foldCase(file), acSystemPath(file));
    std::sort(ordered.begin(), ordered.end());

    std::vector<cc_ParseError> errors;
    for (const auto& file : ordered)
        readKeepingErrors(file.second, errors);

    KeptErrors& kept = keptErrors();
    std::lock_guard<std::mutex> hold(kept.mutex);
    kept.errors.swap(errors);
}

std::vector<cc_ParseError> cc_ccfReader::lastErrors()
{
    KeptErrors& kept = keptErrors();
    std::lock_guard<std::mutex> hold(kept.mutex);
    return kept.errors;
}

void cc_ccfReader::readOneFile(const std::wstring& path)
{
    checkPathLength(path);
    ccPtrHandle<cc_ccfFileInfo> record(new cc_ccfFileInfo);
    readFile(path, *record, false);
    (void)loadFormat(*record); // a mismatch is reported on the file's store
}

void cc_ccfReader::readFile(const std::wstring& path, cc_ccfFileInfo& record, bool keepComments)
{
    ccBasic_IFstream<char> in(path, std::ios_base::in | std::ios_base::binary);
    if (!in.is_open() || in.fail())
        throw GeneralError(L"File: " + path + L"(couldn't be opened)", GeneralError::kCode);
    readStream(in, path, record, keepComments);
}

void cc_ccfReader::readStream(std::istream& in, const std::wstring& name, cc_ccfFileInfo& record, bool keepComments)
{
    record.setFileName(name);
    bool contentSeen = false;
    uint32_t quotes = 0; // only its parity matters
    uint32_t extraLines = 0;
    uint32_t lineNumber = 0;
    Lines lines(in, name);
    std::wstring line;
    while (lines.next(line)) {
        // Lines a block comment swallowed count once, here.
        lineNumber += extraLines + 1;
        extraLines = 0;
        if (line.empty())
            continue;
        std::wstring comment;
        extraLines = takeComment(line, lines, comment);
        if (line.empty()) {
            if (keepComments && !contentSeen)
                record.addComment(0, comment);
            continue;
        }
        contentSeen = true;
        const size_t at = line.find(kChecksumWord);
        if (at != std::wstring::npos) {
            uint32_t value = 0;
            bool wide = false;
            // Without a number the checksum read before stays.
            if (readChecksum(line.substr(at + std::char_traits<wchar_t>::length(kChecksumWord)), value, wide)) {
                record.setChecksum(value);
                record.setChecksumTooWide(wide);
                record.setChecksumLine(lineNumber);
            }
            continue;
        }
        if (keepComments)
            record.addComment(lineNumber, comment);
        if (quotes % 2 == 0) {
            record.addLine(line, lineNumber);
        } else {
            if (record.numLines() != 0)
                lines.checkLength(record.line(record.numLines() - 1).size() + line.size());
            record.appendToLastLine(line);
        }
        quotes += countQuotes(line);
    }
}

uint32_t cc_ccfReader::stripComment(std::wstring& line, std::istream& in, std::wstring& comment)
{
    Lines lines(in, L"", 1);
    return takeComment(line, lines, comment);
}

uint32_t cc_ccfReader::countQuotes(const std::wstring& line)
{
    return static_cast<uint32_t>(std::count(line.begin(), line.end(), L'"'));
}

bool cc_ccfReader::loadFormat(const cc_ccfFileInfo& record, uint32_t* failedLine)
{
    // The entries are parsed first: a bad value is reported even in a file
    // whose checksum is wrong.
    ccPtrHandle<cc_camCfgStore> store = cf_buildCamCfgStore(record, nullptr, failedLine);
    const uint32_t given = record.checksum();
    if (record.checksumTooWide() || (given != kAnyChecksum && given != record.computeChecksum())) {
        store->addError(L"ccf_checksum", L"", record.fileName() + L": Invalid Checksum");
        return false;
    }
    (void)cf_formatFromStore(*store); // a file without a name defines no format
    return true;
}
