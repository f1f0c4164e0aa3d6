// Finds the camera-configuration files (".ccf") along the search path, reads
// each into a file record with its comments removed, checks its checksum and
// makes its video format.
//
// A file that cannot be read or holds a bad value is left out: its error is
// kept (a cc_ParseError naming the file and, where there is one, the line)
// and written to the event log, and the other files are read all the same.
#pragma once
#include <cstdint>
#include <istream>
#include <string>
#include <vector>

#include "acq/camcfg/fileinfo.h"
#include "std/except/except.h"
#include "std/parseerror.h"

class cc_ccfReader {
public:
    // The reader's own error; the code is kept in the object (it is not
    // archived: a loaded one has kCode).
    class GeneralError : public ccExceptionWithString {
    public:
        static constexpr uint32_t kCode = 0x10005A31u;
        static constexpr const char* kStoredName = "class cc_ccfReader::GeneralError";

        GeneralError() = default;
        GeneralError(const std::wstring& message, uint32_t code) : ccExceptionWithString(message), code_(code) {}

        uint32_t code() const override { return code_; }
        const char* storedTypeName() const override { return kStoredName; }
        [[noreturn]] void raise() override
        {
            GeneralError copy(*this);
            delete this;
            throw copy;
        }
        static ccPersistent* cmCreate() { return new (std::nothrow) GeneralError; }
        cmExceptionArchiveLevel(GeneralError, ccExceptionWithString, "class cc_ccfReader::GeneralError")

    private:
        uint32_t code_ = kCode;
    };

    // The checksum that accepts any content.
    static constexpr uint32_t kAnyChecksum = 0xDEADC0DEu;
    // Longest path a file may have (in characters).
    static constexpr size_t kMaxPath = 260;
    // What one file may cost. A line longer than this (in characters, each
    // byte one; a quoted value joined over lines counts as one line), or a
    // file larger than kMaxFileSize bytes, is refused with a cc_ParseError
    // naming the file and the line, read no further than the limit.
    static constexpr size_t kMaxLineLength = 4096;
    static constexpr size_t kMaxFileSize = size_t(1) << 20;

    // False, reading nothing, while "QORALT_DISALLOW_CCF_READING" is set;
    // else reads every file and answers true.
    static bool readIfAllowed();
    // Reads the ".ccf" files (any case) of the first directory of the search
    // path that has any, in the order of their names without regard to case.
    // A file that fails is skipped; its error is kept.
    static void readAll();
    // Reads one file and makes its format. GeneralError for a path too long
    // or a file that cannot be opened, cc_ParseError for one over the limits;
    // the value errors of the line parsing propagate.
    static void readOneFile(const std::wstring& path);
    // Fills the record from the file (opened as bytes).
    static void readFile(const std::wstring& path, cc_ccfFileInfo& record, bool keepComments);
    // The same from a stream, the record named name: what readFile does
    // after opening the file.
    static void readStream(std::istream& in, const std::wstring& name, cc_ccfFileInfo& record, bool keepComments);
    // Takes the comment out of line into comment; a block comment left open
    // goes on over the following lines of in. The number of lines it read.
    // A line over the limit is refused naming its number, line being 1.
    static uint32_t stripComment(std::wstring& line, std::istream& in, std::wstring& comment);
    static uint32_t countQuotes(const std::wstring& line);
    // Builds the record's store and, when its checksum matches, makes its
    // format. A mismatch is reported on the store and answers false. When a
    // line's value error leaves, failedLine (if given) holds its number.
    static bool loadFormat(const cc_ccfFileInfo& record, uint32_t* failedLine = nullptr);

    // The errors of the files that the last reading left out, in reading order.
    static std::vector<cc_ParseError> lastErrors();
};
