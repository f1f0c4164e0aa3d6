#include "std/registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/registry_testing.h"
#include "platform/text.h"

namespace {

using plat::RegistryStatus;
using plat::RegistryType;
using Bytes = std::vector<uint8_t>;

constexpr plat::RegistryRoot kRoot = plat::RegistryRoot::currentUser;
const std::wstring kKey = L"Software\\Qoralt\\Formats";

struct Stored {
    RegistryType type;
    Bytes bytes;
};

// The value as stored; none when the key or the value is absent.
std::optional<Stored> stored()
{
    plat::RegistryKey key = 0;
    if (plat::openRegistryKey(kRoot, kKey, &key) != RegistryStatus::ok)
        return std::nullopt;
    plat::RegistryValue value{};
    const bool found = plat::queryRegistryValue(key, L"Limit", &value) == RegistryStatus::ok;
    EXPECT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
    return found ? std::optional<Stored>(Stored{value.type, value.bytes}) : std::nullopt;
}

void store(const std::optional<Stored>& value)
{
    if (!value)
        return;
    plat::RegistryKey key = 0;
    ASSERT_EQ(plat::createRegistryKey(kRoot, kKey, &key), RegistryStatus::ok);
    ASSERT_EQ(plat::setRegistryValue(key, L"Limit", value->type, value->bytes), RegistryStatus::ok);
    ASSERT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
}

Bytes utf16(const std::wstring& text)
{
    return plat::utf16BytesFromWide(text);
}

// What a persistent value read when it was made, and what stays stored after it
// went: the stored value when the read succeeded, else its default written back.
struct Case {
    const char* name;
    std::optional<Stored> before;
    bool read;
    std::wstring text; // the string value after the read
    int32_t number;    // the 32-bit value after the read
};

class RegistryValue : public testing::Test {
protected:
    void SetUp() override { plat::clearRegistry(); }
    void TearDown() override { plat::clearRegistry(); }
};

TEST_F(RegistryValue, StringReadsOnlyTerminatedWholeUnitsAndWritesItsDefaultBackWithTheTerminator)
{
    const Case cases[] = {
        {"absent", std::nullopt, false, L"default", 0},
        {"terminated", Stored{RegistryType::string, utf16(L"PAL")}, true, L"PAL", 0},
        {"surrogate pair", Stored{RegistryType::string, utf16(L"x\U0001F600")}, true, L"x\U0001F600", 0},
        {"ends at the first terminator", Stored{RegistryType::string, {'a', 0, 0, 0, 'b', 0, 0, 0}}, true, L"a", 0},
        {"empty", Stored{RegistryType::string, {0, 0}}, true, L"", 0},
        {"no terminator", Stored{RegistryType::string, {'a', 0, 'b', 0}}, false, L"default", 0},
        {"odd size", Stored{RegistryType::string, {'a', 0, 0}}, false, L"default", 0},
        {"no bytes", Stored{RegistryType::string, {}}, false, L"default", 0},
        {"32-bit", Stored{RegistryType::int32, {1, 0, 0, 0}}, false, L"default", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plat::clearRegistry();
        store(c.before);
        {
            acRegistryString value(kRoot, kKey, L"Limit", L"default", true);
            EXPECT_EQ(value.value(), c.text);
            EXPECT_EQ(value.isDirty(), !c.read);
            EXPECT_EQ(value.isOpen(), c.before.has_value());
        }
        const std::optional<Stored> after = stored();
        ASSERT_TRUE(after.has_value()); // the key made on the way when absent
        EXPECT_EQ(after->type, c.read ? c.before->type : RegistryType::string);
        EXPECT_EQ(after->bytes, c.read ? c.before->bytes : utf16(L"default"));
    }
}

TEST_F(RegistryValue, Int32ReadsOnlyFourByteValuesAndOverwritesOthersWithItsDefault)
{
    const Case cases[] = {
        {"absent", std::nullopt, false, L"", 7320},
        {"little-endian", Stored{RegistryType::int32, {0x78, 0x56, 0x34, 0x12}}, true, L"", 0x12345678},
        {"negative", Stored{RegistryType::int32, {0xFE, 0xFF, 0xFF, 0xFF}}, true, L"", -2},
        {"string", Stored{RegistryType::string, utf16(L"12")}, false, L"", 7320},
        {"two bytes", Stored{RegistryType::int32, {1, 0}}, false, L"", 7320},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        plat::clearRegistry();
        store(c.before);
        { EXPECT_EQ(acRegistryInt32(kRoot, kKey, L"Limit", 7320, true).value(), c.number); }
        const std::optional<Stored> after = stored();
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->type, c.read ? c.before->type : RegistryType::int32);
        EXPECT_EQ(after->bytes, c.read ? c.before->bytes : Bytes({0x98, 0x1C, 0, 0}));
    }
}

TEST_F(RegistryValue, NotPersistentReadsOnlyWhenLoadedAndNeverWrites)
{
    store(Stored{RegistryType::int32, {5, 0, 0, 0}});
    {
        acRegistryInt32 present(kRoot, kKey, L"Limit", 1, false);
        EXPECT_EQ(present.value(), 1);
        EXPECT_TRUE(present.load());
        EXPECT_EQ(present.value(), 5);
        acRegistryString absent(kRoot, L"Software\\Qoralt\\Absent", L"Limit", L"text", false);
        EXPECT_FALSE(absent.load());
        EXPECT_FALSE(absent.isOpen());
        EXPECT_TRUE(absent.isDirty());
    }
    plat::RegistryKey key = 0;
    EXPECT_EQ(plat::openRegistryKey(kRoot, L"Software\\Qoralt\\Absent", &key), RegistryStatus::notFound);
}

} // namespace
