#include "platform/module.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <tuple>
#include <utility>

#include "tests/support/temp_dir.h"

namespace {

const std::string kFixtureDir = PLAT_FIXTURE_DIR "/";

std::wstring wide(const std::string& text) { return TempDir::ascii(text); }

TEST(PlatModule, DllNamesFallBackToSharedObjectsSymbolsAreFoundAndDataRunsNothing)
{
    // The directory of the platform code ends in a slash; the tests link the platform statically, so it is the
    // test program's.
    const std::string program = std::filesystem::canonical("/proc/self/exe").string();
    EXPECT_EQ(plat::moduleDirectory(), wide(program.substr(0, program.rfind('/') + 1)));
    // Absent; cut short by a 0 (which the system would take as the end); not a Unicode name.
    for (const std::wstring& name : {wide(kFixtureDir + "absent.dll"), wide(kFixtureDir + "plat_fixture.so") + L'\0' + L"x",
                                     wide(kFixtureDir + "plat_fixture") + wchar_t(0xD800) + L".so"})
        EXPECT_EQ(plat::loadModule(name), nullptr);
    for (const char* name : {"plat_fixture.DLL", "plat_fixture.so"}) {
        plat::ModuleHandle module = plat::loadModule(wide(kFixtureDir + name));
        ASSERT_NE(module, nullptr) << name;
        EXPECT_EQ(plat::modulePath(module), wide(kFixtureDir + "plat_fixture.so"));
        auto answer = reinterpret_cast<int (*)()>(plat::moduleSymbol(module, "platFixtureAnswer"));
        ASSERT_NE(answer, nullptr);
        EXPECT_EQ(answer(), 7320);
        EXPECT_EQ(std::tuple(plat::moduleSymbol(module, "absentSymbol"), plat::moduleData(module)),
                  std::tuple(nullptr, nullptr));
        std::wstring path;
        ASSERT_TRUE(plat::findLoadedModule(L"PLAT_FIXTURE.dll", &path)); // by its file name
        EXPECT_EQ(path, wide(kFixtureDir + "plat_fixture.so"));
        EXPECT_FALSE(plat::findLoadedModule(L"fixture.so", &path)); // a whole file name only
        EXPECT_TRUE(plat::freeModule(module));
    }

    // Loaded as data, a module holds the bytes and runs nothing.
    TempDir dir;
    dir.write("only.dll", std::string("MZ\0\x01", 4));
    dir.write("both.dll", "dll");
    dir.write("both.so", "so");
    for (const char* name : {"absent.dll", ""}) // "" names the directory itself
        EXPECT_EQ(plat::loadModuleAsData(dir.wide(name)), nullptr) << name;
    const struct { const char* name; const char* path; std::string bytes; } asData[] = {
        {"only.dll", "only.dll", std::string("MZ\0\x01", 4)}, {"both.dll", "both.so", "so"}};
    for (const auto& c : asData) {
        plat::ModuleHandle module = plat::loadModuleAsData(dir.wide(c.name));
        ASSERT_NE(module, nullptr) << c.name;
        EXPECT_EQ(plat::modulePath(module), dir.wide(c.path));
        const std::vector<uint8_t>* data = plat::moduleData(module);
        EXPECT_EQ(data ? std::string(data->begin(), data->end()) : "none", c.bytes);
        EXPECT_EQ(plat::moduleSymbol(module, "platFixtureAnswer"), nullptr);
        EXPECT_TRUE(plat::freeModule(module));
    }
}

// The device and inode of the file at path; none for no file.
std::pair<dev_t, ino_t> fileIdentity(const std::wstring& path)
{
    struct stat info {};
    const std::string name(path.begin(), path.end()); // the loader's paths here are ASCII
    return path.find(L'/') == 0 && ::stat(name.c_str(), &info) == 0 ? std::pair(info.st_dev, info.st_ino)
                                                                     : std::pair(dev_t{}, ino_t{});
}

// A bare name is looked for where the dynamic loader looks, as code and as
// data, and never in the working directory alone; the module names the file
// found, here the one the process already runs with (under whichever of the
// loader's directories names it).
TEST(PlatModule, ABareNameIsFoundWhereTheLoaderLooksAndTheModuleNamesTheFileFound)
{
    std::wstring running;
    ASSERT_TRUE(plat::findLoadedModule(L"libm.so.6", &running));
    const std::pair<dev_t, ino_t> loaded = fileIdentity(running);
    ASSERT_NE(loaded.second, ino_t{});
    TempDir dir;
    dir.write("libm.so.6", "not this one");
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    for (const bool asData : {false, true}) {
        plat::ModuleHandle module = asData ? plat::loadModuleAsData(L"libm.so.6") : plat::loadModule(L"libm.so.6");
        EXPECT_EQ(fileIdentity(plat::modulePath(module)), loaded) << asData;
        EXPECT_EQ(plat::moduleData(module) != nullptr && plat::moduleData(module)->size() > 1000, asData);
        EXPECT_TRUE(module == nullptr || plat::freeModule(module));
    }
    std::filesystem::current_path(previous);
}

TEST(PlatFiles, RegularFilesSortedByTheirUtf8Bytes)
{
    TempDir dir;
    for (const char* name : {"b", "a", "B", "\xC3\xA9", "\xC3\xA4", ".hidden"})
        dir.write(name, "x");
    std::filesystem::create_directory(dir.path + "c");
    std::filesystem::create_symlink(dir.path + "a", dir.path + "link");
    std::filesystem::create_symlink(dir.path + "gone", dir.path + "dangling");
    dir.write("bad\xFF", "x"); // not UTF-8: it could not be named again
    EXPECT_EQ(plat::listFiles(dir.wide()),
              (std::vector<std::wstring>{L".hidden", L"B", L"a", L"b", L"link", L"\u00E4", L"\u00E9"}));
    EXPECT_EQ(plat::listFiles(dir.wide() + L'\0' + L"c"), std::vector<std::wstring>{}); // not the directory before the 0
    // A FIFO is no file to read as data, and opening it must not wait for a writer.
    ASSERT_EQ(::mkfifo((dir.path + "pipe.so").c_str(), 0600), 0);
    EXPECT_EQ(plat::loadModuleAsData(dir.wide("pipe.dll")), nullptr);
    EXPECT_EQ(plat::listFiles(dir.wide("absent")), std::vector<std::wstring>{});
}

} // namespace
