#include "platform/ini.h"

#include <fstream>
#include <iterator>

#include "platform/text.h"

namespace plat {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

std::string trimmed(const std::string& text)
{
    size_t begin = 0, end = text.size();
    while (begin < end && isBlank(text[begin])) ++begin;
    while (end > begin && isBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::wstring wide(const std::string& bytes)
{
    std::wstring text;
    for (char c : bytes) text += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return text;
}

bool sameName(const std::string& bytes, const std::wstring& name)
{
    return foldCase(wide(bytes)) == foldCase(name);
}

} // namespace

bool profileStringInText(const std::string& text, const std::wstring& section, const std::wstring& key,
                         std::wstring* value)
{
    bool inSection = false;
    // Editors may begin the file with a UTF-8 byte-order mark.
    size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            if (inSection) return false; // only the first section of the name counts
            inSection = close != std::string::npos && sameName(trimmed(line.substr(1, close - 1)), section);
            continue;
        }
        const size_t equals = line.find('=');
        if (!inSection || equals == std::string::npos || !sameName(trimmed(line.substr(0, equals)), key)) continue;
        *value = wide(trimmed(line.substr(equals + 1)));
        return true;
    }
    return false;
}

ProfileLookup profileString(const std::wstring& path, const std::wstring& section, const std::wstring& key,
                            std::wstring* value)
{
    std::string name;
    if (!systemNameFromWide(path, &name)) return ProfileLookup::noFile;
    std::ifstream in(name, std::ios::binary);
    if (!in) return ProfileLookup::noFile;
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) return ProfileLookup::noFile;
    return profileStringInText(text, section, key, value) ? ProfileLookup::found : ProfileLookup::noKey;
}

} // namespace plat
