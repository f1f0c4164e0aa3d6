#include "platform/module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>

#include "platform/descriptor_io.h"
#include "platform/text.h"

namespace plat {

struct Module {
    std::string path;
    void* library; // null for a module loaded as data
    std::vector<uint8_t> data;
};

namespace {

bool equalIgnoringAsciiCase(const std::string& a, const std::string& b)
{
    const auto lower = [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(x) == lower(y);
           });
}

// The names to try, in order; none for a name the system could not hold.
std::vector<std::string> candidates(const std::wstring& path)
{
    std::string name;
    if (!systemNameFromWide(path, &name))
        return {};
    if (name.size() > 4 && equalIgnoringAsciiCase(name.substr(name.size() - 4), ".dll"))
        return {name.substr(0, name.size() - 4) + ".so", name};
    return {name};
}

struct Search {
    std::vector<std::string> names;
    std::string found;
};

int visitObject(dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<Search*>(data);
    const std::string path = info->dlpi_name != nullptr ? info->dlpi_name : "";
    const std::string file = path.substr(path.rfind('/') + 1);
    for (const std::string& name : search->names) {
        if (!path.empty() && equalIgnoringAsciiCase(file, name)) {
            search->found = path;
            return 1;
        }
    }
    return 0;
}

// The directories the dynamic loader searches for a bare name loaded by this
// code, in its order: run paths, LD_LIBRARY_PATH, the system directories
// (its cache is not read). Empty when the loader cannot tell.
std::vector<std::string> loaderDirectories()
{
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&loaderDirectories), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP)
            == 0
        || map == nullptr)
        return {};
    // The main program has no name of its own in the loader's list.
    void* self = map->l_name != nullptr && map->l_name[0] != 0 ? ::dlopen(map->l_name, RTLD_LAZY | RTLD_NOLOAD)
                                                                : ::dlopen(nullptr, RTLD_LAZY);
    if (self == nullptr)
        return {};
    std::vector<std::string> directories;
    Dl_serinfo size{};
    if (::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
        std::vector<std::max_align_t> buffer((size.dls_size + sizeof(std::max_align_t) - 1)
                                             / sizeof(std::max_align_t));
        auto* list = reinterpret_cast<Dl_serinfo*>(buffer.data());
        list->dls_size = size.dls_size;
        list->dls_cnt = size.dls_cnt;
        if (::dlinfo(self, RTLD_DI_SERINFO, list) == 0)
            for (unsigned i = 0; i < list->dls_cnt; ++i)
                directories.emplace_back(list->dls_serpath[i].dls_name);
    }
    ::dlclose(self);
    return directories;
}

// The file the loader took for a library it opened; the name given when it
// cannot tell.
std::string loadedFile(void* library, const std::string& name)
{
    link_map* map = nullptr;
    if (::dlinfo(library, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr && map->l_name != nullptr
        && map->l_name[0] != 0)
        return map->l_name;
    return name;
}

} // namespace

std::wstring moduleDirectory()
{
    Dl_info info{};
    link_map* map = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&moduleDirectory), &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)
            == 0
        || map == nullptr)
        return {};
    // The main program has no name of its own in the loader's list.
    std::string path = map->l_name != nullptr && map->l_name[0] != 0 ? map->l_name : "/proc/self/exe";
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return {};
    path = resolved;
    return wideFromUtf8(path.substr(0, path.rfind('/') + 1));
}

ModuleHandle loadModule(const std::wstring& path)
{
    for (const std::string& name : candidates(path)) {
        if (void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL))
            return new Module{loadedFile(library, name), library, {}};
    }
    return nullptr;
}

ModuleHandle loadModuleAsData(const std::wstring& path)
{
    // A bare name is looked for as the loader would look for it as code.
    std::vector<std::string> bareDirectories;
    bool searched = false;
    for (const std::string& name : candidates(path)) {
        std::vector<std::string> files{name};
        if (name.find('/') == std::string::npos) {
            if (!searched)
                bareDirectories = loaderDirectories(), searched = true;
            files.clear();
            for (const std::string& directory : bareDirectories)
                // An empty directory stands for the working directory, as for the loader.
                files.push_back(directory.empty() ? name : directory + '/' + name);
        }
        for (const std::string& file : files) {
            std::vector<uint8_t> data;
            if (detail::readRegularFile(file, &data))
                return new Module{file, nullptr, std::move(data)};
        }
    }
    return nullptr;
}

bool freeModule(ModuleHandle module)
{
    if (module == nullptr)
        return false;
    const bool unloaded = module->library == nullptr || ::dlclose(module->library) == 0;
    delete module;
    return unloaded;
}

void* moduleSymbol(ModuleHandle module, const char* name)
{
    if (module == nullptr || module->library == nullptr || name == nullptr)
        return nullptr;
    return ::dlsym(module->library, name);
}

std::wstring modulePath(ModuleHandle module)
{
    return module != nullptr ? wideFromUtf8(module->path) : std::wstring();
}

const std::vector<uint8_t>* moduleData(ModuleHandle module)
{
    return module != nullptr && module->library == nullptr ? &module->data : nullptr;
}

bool findLoadedModule(const std::wstring& fileName, std::wstring* path)
{
    Search search{candidates(fileName), {}};
    if (::dl_iterate_phdr(visitObject, &search) == 0)
        return false;
    *path = wideFromUtf8(search.found);
    return true;
}

std::vector<std::wstring> listFiles(const std::wstring& directory)
{
    std::string base;
    DIR* dir = systemNameFromWide(directory, &base) ? ::opendir(base.c_str()) : nullptr;
    if (dir == nullptr)
        return {};
    if (!base.empty() && base.back() != '/')
        base += '/';
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        bool regular = entry->d_type == DT_REG;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status{};
            regular = ::stat((base + entry->d_name).c_str(), &status) == 0 && S_ISREG(status.st_mode);
        }
        if (regular)
            names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    std::vector<std::wstring> files;
    std::wstring wide;
    for (const std::string& name : names) {
        // A name that is not UTF-8 could not be opened again from its wide form.
        if (wideFromUtf8Strict(name, &wide))
            files.push_back(wide);
    }
    return files;
}

namespace {
std::atomic<uint32_t> processErrorMode{0};
}

uint32_t errorMode()
{
    return processErrorMode.load();
}

uint32_t setErrorMode(uint32_t mode)
{
    return processErrorMode.exchange(mode);
}

} // namespace plat
