// One camera-configuration file as read: its content lines with comments
// removed, the file line number of each, the comments by line number (0:
// those before the first content line), the file name and the checksum the
// file gave (0 until its checksum line is read).
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "std/ptrhandle.h"

// The checksum of a file's content: every character but blanks and tabs,
// shifted by a schedule that follows the count of characters added.
class cc_ccfChecksum {
public:
    void add(const std::wstring& text);
    uint32_t value() const { return sum_; }

private:
    uint32_t sum_ = 0;
    uint32_t counter_ = 0;
};

class cc_ccfFileInfo : public virtual ccRepBase {
public:
    size_t numLines() const { return lines_.size(); }
    const std::wstring& line(size_t i) const { return lines_.at(i); }
    uint32_t lineNumber(size_t i) const { return lineNumbers_.at(i); }
    // Null when the line number has none.
    const std::wstring* comment(uint32_t lineNumber) const;
    uint32_t checksum() const { return checksum_; }
    const std::wstring& fileName() const { return fileName_; }

    void addLine(const std::wstring& text, uint32_t lineNumber);
    void appendToLastLine(const std::wstring& text);
    // An empty text for a line number without a comment does nothing; else
    // the text is added, after a line feed when the comment is not empty.
    void addComment(uint32_t lineNumber, const std::wstring& text);
    void setChecksum(uint32_t checksum) { checksum_ = checksum; }
    // The checksum line gave a number wider than 32 bits: it matches no
    // content. A later checksum line replaces it.
    bool checksumTooWide() const { return checksumTooWide_; }
    void setChecksumTooWide(bool tooWide) { checksumTooWide_ = tooWide; }
    // The file line of the last checksum line read; 0 when none.
    uint32_t checksumLine() const { return checksumLine_; }
    void setChecksumLine(uint32_t lineNumber) { checksumLine_ = lineNumber; }
    void setFileName(const std::wstring& name) { fileName_ = name; }

    // The checksum of the stored lines.
    uint32_t computeChecksum() const;

private:
    std::vector<std::wstring> lines_;
    std::vector<uint32_t> lineNumbers_;
    std::map<uint32_t, std::wstring> comments_;
    std::wstring fileName_;
    uint32_t checksum_ = 0;
    bool checksumTooWide_ = false;
    uint32_t checksumLine_ = 0;
};
