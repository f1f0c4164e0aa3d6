#include "std/searchpath.h"

#include <algorithm>

#include "platform/environment.h"
#include "platform/text.h"

namespace {

std::wstring replaced(std::wstring text, wchar_t from, wchar_t to)
{
    std::replace(text.begin(), text.end(), from, to);
    return text;
}

bool startsWith(const std::wstring& text, const std::wstring& start)
{
    return text.compare(0, start.size(), start) == 0;
}

} // namespace

std::wstring acSystemPath(const std::wstring& path)
{
    return replaced(path, L'\\', L'/');
}

std::wstring acGetModuleDirectory()
{
    // Not cut at 260 characters: a cut path would name another directory.
    return replaced(plat::moduleDirectory(), L'/', L'\\');
}

namespace {

// The system part, then ";" and extra when extra is not null.
std::wstring searchPathWith(const std::wstring* extra)
{
    std::wstring path;
    if (!plat::environmentVariable(L"QORALT_SYSTEM_PATH", &path))
        path = acGetModuleDirectory();
    if (extra)
        path += L";" + *extra;
    return path;
}

} // namespace

std::wstring acGetSearchPath()
{
    std::wstring user;
    return searchPathWith(plat::environmentVariable(L"QORALT_PATH", &user) ? &user : nullptr);
}

void acPopPathElement(std::wstring& path, std::wstring& directory)
{
    const size_t end = path.find(L';');
    if (end == std::wstring::npos) {
        directory = path;
        path.clear();
    } else {
        directory = path.substr(0, end);
        path.erase(0, end + 1);
    }
    directory = replaced(directory, L'/', L'\\');
    if (!directory.empty() && directory.back() != L'\\')
        directory += L'\\';
}

plat::ModuleHandle acLoadLibraryOnPath(const std::wstring& fileName, uint32_t flags)
{
    const auto load = [flags](const std::wstring& name) {
        return (flags & acLoadAsDataFile) != 0 ? plat::loadModuleAsData(acSystemPath(name))
                                               : plat::loadModule(acSystemPath(name));
    };
    // Read once: the choice and the directories come from the same value.
    std::wstring user;
    if (!plat::environmentVariable(L"QORALT_PATH", &user))
        return load(fileName);
    std::wstring path = searchPathWith(&user);
    while (!path.empty()) {
        std::wstring directory;
        acPopPathElement(path, directory);
        if (plat::ModuleHandle module = load(directory + fileName))
            return module;
    }
    return nullptr;
}

void acFindFilesOnPath(const std::wstring& prefix, const std::wstring& suffix, const std::wstring& path,
                       std::vector<std::wstring>& found)
{
    const std::wstring start = plat::foldCase(prefix);
    const std::wstring end = plat::foldCase(suffix);
    std::wstring rest = path;
    while (!rest.empty()) {
        std::wstring directory;
        acPopPathElement(rest, directory);
        bool any = false;
        for (const std::wstring& name : plat::listFiles(directory.empty() ? L"." : acSystemPath(directory))) {
            const std::wstring folded = plat::foldCase(name);
            // The prefix and the suffix may not share characters, as in the pattern prefix*suffix.
            if (folded.size() < start.size() + end.size() || !startsWith(folded, start)
                || folded.compare(folded.size() - end.size(), end.size(), end) != 0)
                continue;
            found.push_back(directory + name);
            any = true;
        }
        if (any)
            return;
    }
}
