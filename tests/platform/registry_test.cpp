#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <thread>
#include <tuple>

#include "platform/environment_testing.h"
#include "platform/event_log_testing.h"
#include "platform/registry_testing.h"
#include "tests/support/temp_dir.h"

namespace {

using plat::RegistryRoot;
using plat::RegistryStatus;
using plat::RegistryType;
using Bytes = std::vector<uint8_t>;

constexpr RegistryRoot kMachine = RegistryRoot::localMachine;
constexpr RegistryRoot kUser = RegistryRoot::currentUser;

class PlatRegistry : public testing::Test {
protected:
    void SetUp() override { plat::clearRegistry(); }

    static plat::RegistryKey create(RegistryRoot root, const std::wstring& path)
    {
        plat::RegistryKey key = 0;
        EXPECT_EQ(plat::createRegistryKey(root, path, &key), RegistryStatus::ok);
        return key;
    }
    // Makes the key if need be and sets the value.
    static void put(RegistryRoot root, const std::wstring& path, const std::wstring& name, RegistryType type,
                    const Bytes& bytes)
    {
        const plat::RegistryKey key = create(root, path);
        EXPECT_EQ(plat::setRegistryValue(key, name, type, bytes), RegistryStatus::ok);
        EXPECT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
    }
    // The value; type 0 and the bytes "absent" when there is none.
    static plat::RegistryValue query(RegistryRoot root, const std::wstring& path, const std::wstring& name)
    {
        plat::RegistryKey key = 0;
        plat::RegistryValue value{RegistryType(0), {'a', 'b', 's', 'e', 'n', 't'}};
        if (plat::openRegistryKey(root, path, &key) == RegistryStatus::ok) {
            (void)plat::queryRegistryValue(key, name, &value); // absent leaves the marker
            EXPECT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
        }
        return value;
    }
};

TEST_F(PlatRegistry, KeysOpenOnlyWhenPresentAndNamesIgnoreCase)
{
    const RegistryStatus ok = RegistryStatus::ok, absent = RegistryStatus::notFound, bad = RegistryStatus::badArgument;
    // A lone surrogate would come back from the file as U+FFFD, the same as another name.
    const std::wstring lone(1, wchar_t(0xD800));
    const plat::RegistryKey made = create(kMachine, L"Software\\Qoralt\\Boards");
    ASSERT_EQ(plat::setRegistryValue(made, L"Count", RegistryType::int32, {1, 0, 0, 0}), ok);
    EXPECT_EQ(plat::setRegistryValue(made, lone, RegistryType::int32, {1, 0, 0, 0}), bad);
    EXPECT_EQ(plat::queryRegistryValue(made, L"Count", nullptr), bad);
    EXPECT_EQ(plat::closeRegistryKey(made), ok);
    EXPECT_EQ(plat::setRegistryValue(made, L"Late", RegistryType::int32, {0, 0, 0, 0}), RegistryStatus::badHandle);
    EXPECT_EQ(query(kMachine, L"software\\QORALT\\boards", L"COUNT").bytes, Bytes({1, 0, 0, 0}));
    const struct { RegistryRoot root; std::wstring path; RegistryStatus status; } cases[] = {
        {kMachine, L"SOFTWARE\\qoralt", ok}, {kMachine, L"", ok}, {kMachine, L"Software\\Qoralt\\", ok},
        {kMachine, L"Software\\Other", absent}, {kUser, L"Software", absent}, {kMachine, L"Software\\\\Qoralt", bad},
        {kMachine, L"\\Software", bad}, {RegistryRoot(2), L"Software", bad}, {kMachine, L"A" + lone, bad},
    };
    for (const auto& c : cases) {
        plat::RegistryKey key = 7;
        EXPECT_EQ(plat::openRegistryKey(c.root, c.path, &key), c.status) << testing::PrintToString(c.path);
        EXPECT_EQ(plat::closeRegistryKey(key), key != 0 ? ok : RegistryStatus::badHandle);
        EXPECT_EQ(std::tuple(key != 0, plat::closeRegistryKey(key)), std::tuple(c.status == ok, RegistryStatus::badHandle));
    }
    EXPECT_EQ(plat::createRegistryKey(kMachine, L"Software", nullptr), bad);
}

// Values of any type are kept as set, and so through the file too.
TEST_F(PlatRegistry, ValuesAndTheFileKeepAnyTypeAnyTextAndExactBytes)
{
    const std::wstring smile(1, wchar_t(0x1F600));
    const RegistryType str = RegistryType::string, int32 = RegistryType::int32;
    const struct { RegistryRoot root; std::wstring path, name; RegistryType type; Bytes bytes; } cases[] = {
        {kMachine, L"Software\\Qoralt", L"Count", int32, {0x2A, 0, 0, 0x80}},
        {kMachine, L"Software\\Qoralt", L"Face " + smile, str, {'a', 0, 0x3D, 0xD8, 0x00, 0xDE, 0, 0}},
        {kMachine, L"Software\\Qoralt", L"a;b=c%d\\e\nf", str, {';', 0, '=', 0, '\n', 0, 0, 0}},
        {kUser, L"Caf\u00E9;=%\\Key", L"", str, {0xE9, 0, '%', 0, 0, 0}},
        {kUser, L"Software", L"Unterminated", str, {'h', 0, 'i', 0}}, {kUser, L"Software", L"Odd", str, {'h', 0, 'i'}},
        {kUser, L"Software", L"Lone", str, {0x3D, 0xD8, 0, 0}}, {kUser, L"Software", L"ShortInt", int32, {1, 2}},
        {kUser, L"Software", L"Inner", str, {'a', 0, 0, 0, 'b', 0, 0, 0}}, {kUser, L"Software", L"Empty", str, {}},
        {kUser, L"", L"OnTheRoot", int32, {1, 2, 3, 4}},
        {kUser, L"Software", L"Expand", RegistryType::expandString, {'%', 0, 'H', 0, '%', 0, 0, 0}},
        {kUser, L"Software", L"Binary", RegistryType::binary, {1, 0, 0, 0}},
        {kUser, L"Software", L"Large", RegistryType(0xFFFFFFFF), {}},
    };
    for (const auto& c : cases)
        put(c.root, c.path, c.name, c.type, c.bytes);
    const auto expectAll = [&] {
        for (const auto& c : cases) {
            const plat::RegistryValue value = query(c.root, c.path, c.name);
            EXPECT_EQ(std::tuple(value.type, value.bytes), std::tuple(c.type, c.bytes)) << c.name.size();
        }
    };
    expectAll();
    EXPECT_EQ(plat::closeRegistryKey(create(kMachine, L"Empty\\Key")), RegistryStatus::ok);

    TempDir dir;
    std::wstring error;
    ASSERT_TRUE(plat::saveRegistryFile(dir.wide("registry.txt"), &error)) << error.size();
    const std::string text = dir.read("registry.txt");
    for (const char* line : {"HKEY_LOCAL_MACHINE\\Software\\Qoralt;Face \xF0\x9F\x98\x80=string:a\xF0\x9F\x98\x80\n",
                             "HKEY_CURRENT_USER\\Caf\xC3\xA9%3b%3d%25\\Key;=string:\xC3\xA9%25\n",
                             "HKEY_CURRENT_USER\\Software;Expand=bytes(2):2500480025000000\n",
                             "HKEY_CURRENT_USER\\Software;Large=bytes(4294967295):\n"})
        EXPECT_NE(text.find(line), std::string::npos) << text;
    EXPECT_EQ(text.find("\r"), std::string::npos);

    plat::clearRegistry();
    ASSERT_TRUE(plat::loadRegistryFile(dir.wide("registry.txt"), &error));
    expectAll();
    plat::RegistryKey key = 0;
    EXPECT_EQ(plat::openRegistryKey(kMachine, L"Empty\\Key", &key), RegistryStatus::ok); // made empty, saved, loaded
    EXPECT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
}

TEST_F(PlatRegistry, AMalformedFileChangesNothingAndNamesItsLineAlsoWhenTheEnvironmentNamesIt)
{
    const std::string good = "HKEY_CURRENT_USER\\Software;New=int32:00000001\n";
    const char* const bad[] = {
        "HKEY_USERS\\Software;A=int32:00000001", "HKEY_CURRENT_USER\\Software;A=int32:0000001",
        "HKEY_CURRENT_USER\\Software;A=bytes(4294967296):00", "HKEY_CURRENT_USER\\Software;A=bytes(x3):00",
        "HKEY_CURRENT_USER\\Software;A=string:%4", "HKEY_CURRENT_USER\\Software;A=string:\xC3",
        "HKEY_CURRENT_USER\\Software;A", "HKEY_CURRENT_USER\\Software\\;A=int32:00000001",
    };
    TempDir dir;
    put(kUser, L"Software", L"Old", RegistryType::int32, {9, 0, 0, 0});
    for (const char* line : bad) {
        dir.write("bad.txt", "# comment\n" + good + line + "\n");
        std::wstring error;
        EXPECT_FALSE(plat::loadRegistryFile(dir.wide("bad.txt"), &error)) << line;
        EXPECT_NE(error.find(L": line 3: "), std::wstring::npos) << line;
        EXPECT_EQ(query(kUser, L"Software", L"New").type, RegistryType(0)) << line;
        EXPECT_EQ(query(kUser, L"Software", L"Old").bytes, Bytes({9, 0, 0, 0})) << line;
    }
    std::wstring error;
    // Absent; a directory reads as nothing; a FIFO would wait for a writer.
    ASSERT_EQ(::mkfifo((dir.path + "pipe").c_str(), 0600), 0);
    for (const std::wstring& unreadable : {dir.wide("absent.txt"), dir.wide(), dir.wide("pipe")}) {
        error.clear();
        EXPECT_FALSE(plat::loadRegistryFile(unreadable, &error)) << unreadable.size();
        EXPECT_EQ(error, L"cannot read " + unreadable);
    }
    EXPECT_FALSE(plat::saveRegistryFile(dir.wide("absent/registry.txt"), &error));
    EXPECT_FALSE(plat::saveRegistryFile(dir.wide("cut") + L'\0' + L"x", &error)); // not a file "cut"
    EXPECT_FALSE(std::filesystem::exists(dir.path + "cut"));

    // The environment's file is loaded at first use; a bad one is reported.
    dir.write("good.txt", "\xEF\xBB\xBFHKEY_LOCAL_MACHINE\\Software;N=int32:0000002a\r\n\r\n");
    dir.write("bad.txt", "HKEY_LOCAL_MACHINE\\Software;N=int32:2a\n");
    ASSERT_TRUE(plat::setEnvironmentVariable(L"QORALT_REGISTRY_FILE", dir.wide("good.txt")));
    plat::clearRegistry();
    EXPECT_EQ(query(kMachine, L"Software", L"N").bytes, Bytes({0x2A, 0, 0, 0}));

    ASSERT_TRUE(plat::setEnvironmentVariable(L"QORALT_REGISTRY_FILE", dir.wide("bad.txt")));
    plat::clearRegistry();
    plat::collectEventLines(true);
    EXPECT_EQ(query(kMachine, L"Software", L"N").type, RegistryType(0));
    plat::collectEventLines(false);
    ASSERT_TRUE(plat::unsetEnvironmentVariable(L"QORALT_REGISTRY_FILE"));
    EXPECT_EQ(plat::takeEventLines(),
              std::vector<std::wstring>{L"Qoralt: Can't load the registry: " + dir.wide("bad.txt") + L": line 1: bad int32"});
}

// Saves of one file from several threads each write a whole file of their own, while other threads create and set.
TEST_F(PlatRegistry, ThreadsSaveCreateAndSetTogether)
{
    TempDir dir;
    put(kMachine, L"Saved", L"v", RegistryType::int32, {1, 2, 3, 4});
    const auto key = [](uint8_t i) { return L"Shared\\Key" + std::to_wstring(i % 5); };
    const auto name = [](uint8_t t, uint8_t i) { return std::to_wstring(t) + L"_" + std::to_wstring(i); };
    std::vector<std::thread> threads;
    for (uint8_t t = 0; t < 7; ++t)
        threads.emplace_back([&, t] {
            for (uint8_t i = 0; i < 50; ++i) {
                std::wstring error;
                if (t >= 4)
                    EXPECT_TRUE(plat::saveRegistryFile(dir.wide("r.txt"), &error)) << error.size();
                else
                    put(kMachine, key(i), name(t, i), RegistryType::int32, {t, i, 0, 0});
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (uint8_t t = 0; t < 4; ++t)
        for (uint8_t i = 0; i < 50; ++i)
            EXPECT_EQ(query(kMachine, key(i), name(t, i)).bytes, Bytes({t, i, 0, 0}));
    std::wstring error;
    plat::clearRegistry();
    EXPECT_TRUE(plat::loadRegistryFile(dir.wide("r.txt"), &error));
    EXPECT_EQ(query(kMachine, L"Saved", L"v").bytes, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 1); // no temporary left
}

TEST_F(PlatRegistry, AKeyWithSubkeysIsDeletedOnlyWithThem)
{
    put(kMachine, L"A\\B", L"v", RegistryType::int32, {1, 0, 0, 0});
    const struct {
        const wchar_t* path;
        bool withSubkeys;
        RegistryStatus status;
    } cases[] = {
        {L"A", false, RegistryStatus::hasSubkeys}, {L"", true, RegistryStatus::badArgument},
        {L"a\\b", false, RegistryStatus::ok},      {L"A\\B", false, RegistryStatus::notFound},
        {L"A", false, RegistryStatus::ok},         {L"A", true, RegistryStatus::notFound},
    };
    for (const auto& c : cases)
        EXPECT_EQ(plat::deleteRegistryKey(kMachine, c.path, c.withSubkeys), c.status);
    put(kUser, L"T\\U\\V", L"", RegistryType::string, {0, 0});
    EXPECT_EQ(plat::deleteRegistryKey(kUser, L"T", true), RegistryStatus::ok);
    plat::RegistryKey key = 0;
    EXPECT_EQ(plat::openRegistryKey(kUser, L"T\\U", &key), RegistryStatus::notFound);
    key = create(kUser, L"W");
    ASSERT_EQ(plat::setRegistryValue(key, L"n", RegistryType::int32, {2, 0, 0, 0}), RegistryStatus::ok);
    EXPECT_EQ(plat::deleteRegistryValue(key, L"N"), RegistryStatus::ok);
    EXPECT_EQ(plat::deleteRegistryValue(key, L"n"), RegistryStatus::notFound);
    EXPECT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
    EXPECT_EQ(plat::deleteRegistryValue(key, L"n"), RegistryStatus::badHandle);
}

} // namespace
