#include "std/except/except.h"

#include <sstream>

#include "std/except/archive.h"

namespace {

const wchar_t kNoInformation[] = L"no further information provided";

} // namespace

void ccException::printOn(std::wostream& os) const { os << kNoInformation; }

// The source name and lines that other implementations of the format report
// for these two levels.
void ccException::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccException)))
        return;
    ccArchiveVersion(ar, 0, "std/except/except", 61);
    ccPersistent::archive(ar);
    ccArchiveVisit::end(this, typeid(ccException));
}

void ccExceptionWithString::archive(ccArchive& ar)
{
    if (ccArchiveVisit::begin(this, typeid(ccExceptionWithString)))
        return;
    ccArchiveVersion(ar, 0, "std/except/except", 98);
    ccException::archive(ar);
    ar.archive(message_);
    ccArchiveVisit::end(this, typeid(ccExceptionWithString));
}

void ccException::message(std::wstring& out, bool withType) const
{
    std::wostringstream os;
    if (withType) {
        // Names are ASCII; each byte becomes one character.
        for (char c : ccCanonicalTypeName(storedTypeName()))
            os << static_cast<wchar_t>(static_cast<unsigned char>(c));
        os << L": ";
    }
    printOn(os);
    out = os.str();
}

std::wstring ccException::message(bool withType) const
{
    std::wstring s;
    message(s, withType);
    return s;
}

std::wostream& operator<<(std::wostream& os, const ccException& e)
{
    e.printOn(os);
    return os;
}

void ccExceptionWithString::printOn(std::wostream& os) const
{
    if (message_.empty())
        os << kNoInformation;
    else
        os << message_;
}

ccUnknownError::ccUnknownError(int32_t status)
{
    if (status != 0)
        message_ = L"Internal error code: " + ccFormatHex(static_cast<uint32_t>(status), 8);
}

std::wstring ccFormatDecimal(int32_t value, int width)
{
    // 64-bit so that the most negative value negates safely.
    int64_t v = value;
    bool negative = v < 0;
    if (negative)
        v = -v;
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + v % 10));
        v /= 10;
    } while (v != 0);
    std::wstring sign = negative ? L"-" : L"";
    int len = static_cast<int>(sign.size() + digits.size());
    if (len < width)
        digits.insert(0, static_cast<size_t>(width - len), L'0');
    return sign + digits;
}

std::wstring ccFormatHex(uint64_t value, int width)
{
    static const wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring digits;
    do {
        digits.insert(digits.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (static_cast<int>(digits.size()) < width)
        digits.insert(0, static_cast<size_t>(width) - digits.size(), L'0');
    return L"0x" + digits;
}
