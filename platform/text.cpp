#include "platform/text.h"

namespace plat {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

bool isScalar(uint32_t c)
{
    return c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
}

// Decodes one sequence at text[i]; 0 length when malformed.
size_t decodeOne(const std::string& text, size_t i, uint32_t* out)
{
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t lead = byte(i);
    size_t length;
    uint32_t c;
    uint32_t minimum;
    if (lead < 0x80) {
        *out = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms and encoded surrogates are malformed.
    if (c < minimum || !isScalar(c))
        return 0;
    *out = c;
    return length;
}

bool decode(const std::string& text, std::wstring* wide, bool strict)
{
    wide->clear();
    wide->reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        const size_t length = decodeOne(text, i, &c);
        if (length == 0) {
            if (strict)
                return false;
            wide->push_back(kReplacement);
            ++i;
            continue;
        }
        wide->push_back(static_cast<wchar_t>(c));
        i += length;
    }
    return true;
}

} // namespace

std::wstring wideFromUtf8(const std::string& text)
{
    std::wstring wide;
    decode(text, &wide, false);
    return wide;
}

bool wideFromUtf8Strict(const std::string& text, std::wstring* wide)
{
    return decode(text, wide, true);
}

std::string utf8FromWide(const std::wstring& text)
{
    std::string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        uint32_t c = static_cast<uint32_t>(w);
        if (!isScalar(c))
            c = kReplacement;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

bool utf8FromWideStrict(const std::wstring& text, std::string* utf8)
{
    for (wchar_t w : text) {
        if (!isScalar(static_cast<uint32_t>(w)))
            return false;
    }
    *utf8 = utf8FromWide(text);
    return true;
}

bool systemNameFromWide(const std::wstring& text, std::string* utf8)
{
    return text.find(L'\0') == std::wstring::npos && utf8FromWideStrict(text, utf8);
}

std::u16string utf16FromWide(const std::wstring& text)
{
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t w : text) {
        // wchar_t is signed here: a negative value is out of range too.
        uint32_t c = static_cast<uint32_t>(w);
        if (!isScalar(c))
            c = kReplacement;
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::wstring wideFromUtf16(const char16_t* units, std::size_t count)
{
    std::wstring out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const uint32_t u = units[i];
        const bool high = u >= 0xD800 && u <= 0xDBFF;
        if (high && i + 1 < count && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            const uint32_t low = units[++i];
            out.push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
        } else {
            out.push_back(static_cast<wchar_t>(high || (u >= 0xDC00 && u <= 0xDFFF) ? kReplacement : u));
        }
    }
    return out;
}

std::vector<uint8_t> utf16BytesFromWide(const std::wstring& text)
{
    std::u16string units = utf16FromWide(text);
    units.push_back(0);
    std::vector<uint8_t> bytes;
    bytes.reserve(2 * units.size());
    for (char16_t u : units) {
        bytes.push_back(static_cast<uint8_t>(u));
        bytes.push_back(static_cast<uint8_t>(u >> 8));
    }
    return bytes;
}

bool wideFromUtf16Bytes(const std::vector<uint8_t>& bytes, std::wstring* text)
{
    text->clear();
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return false;
    const size_t units = bytes.size() / 2;
    const auto unitAt = [&](size_t k) { return static_cast<uint32_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8)); };
    if (unitAt(units - 1) != 0)
        return false;
    for (size_t k = 0; k + 1 < units; ++k) {
        const uint32_t u = unitAt(k);
        if (u == 0 || (u >= 0xDC00 && u <= 0xDFFF))
            return false;
        if (u >= 0xD800 && u <= 0xDBFF) {
            const uint32_t low = unitAt(k + 1);
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            text->push_back(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00)));
            ++k;
        } else {
            text->push_back(static_cast<wchar_t>(u));
        }
    }
    return true;
}

std::wstring foldCase(const std::wstring& name)
{
    std::wstring folded(name);
    for (wchar_t& w : folded) {
        const uint32_t c = static_cast<uint32_t>(w);
        uint32_t up = c;
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2)
            || (c >= 0x430 && c <= 0x44F))
            up = c - 0x20;
        else if (c == 0xFF)
            up = 0x178;
        else if (c == 0x3C2)
            up = 0x3A3; // final sigma
        else if (c == 0x3AC)
            up = 0x386;
        else if (c >= 0x3AD && c <= 0x3AF)
            up = c - 0x25;
        else if (c == 0x3CC)
            up = 0x38C;
        else if (c == 0x3CD || c == 0x3CE)
            up = c - 0x3F;
        else if (c >= 0x450 && c <= 0x45F)
            up = c - 0x50;
        else if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F)
            // Latin Extended-A pairs capital and small letters; the pairs
            // start on even code points except in 0x139..0x148 and 0x179..0x17E.
            up = ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) ? ((c & 1) ? c : c - 1) : (c & ~1u);
        w = static_cast<wchar_t>(up);
    }
    return folded;
}

} // namespace plat
