#include "acq/camcfg/fileinfo.h"

void cc_ccfChecksum::add(const std::wstring& text)
{
    for (const wchar_t c : text) {
        if (c == L' ' || c == L'\t')
            continue;
        const uint32_t unit = static_cast<uint32_t>(c);
        const uint32_t k = counter_;
        if (k % 3 != 0)
            sum_ += unit << 8;
        else if (k % 5 != 0)
            sum_ += unit << 4;
        else if (k % 7 != 0)
            sum_ += unit << 12;
        else
            sum_ += unit;
        ++counter_;
    }
}

const std::wstring* cc_ccfFileInfo::comment(uint32_t lineNumber) const
{
    const auto it = comments_.find(lineNumber);
    return it == comments_.end() ? nullptr : &it->second;
}

void cc_ccfFileInfo::addLine(const std::wstring& text, uint32_t lineNumber)
{
    lines_.push_back(text);
    lineNumbers_.push_back(lineNumber);
}

void cc_ccfFileInfo::appendToLastLine(const std::wstring& text)
{
    // Only a continuation of a stored line comes here; without one there is
    // nothing to continue.
    if (!lines_.empty())
        lines_.back() += text;
}

void cc_ccfFileInfo::addComment(uint32_t lineNumber, const std::wstring& text)
{
    const auto it = comments_.find(lineNumber);
    if (it == comments_.end()) {
        if (!text.empty())
            comments_.emplace(lineNumber, text);
        return;
    }
    if (!it->second.empty())
        it->second += L'\n';
    it->second += text;
}

uint32_t cc_ccfFileInfo::computeChecksum() const
{
    cc_ccfChecksum sum;
    for (const std::wstring& line : lines_)
        sum.add(line);
    return sum.value();
}
