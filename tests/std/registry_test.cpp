#include "std/registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <variant>

#include "platform/registry_testing.h"

namespace {

using plat::RegistryStatus;
using plat::RegistryType;
using Bytes = std::vector<uint8_t>;

constexpr plat::RegistryRoot kRoot = plat::RegistryRoot::currentUser;
const std::wstring kKey = L"Software\\Qoralt\\Formats";

using Stored = std::pair<RegistryType, Bytes>;

// The value as stored; none when the key or the value is absent.
std::optional<Stored> stored()
{
    plat::RegistryKey key = 0;
    plat::RegistryValue value{};
    const bool found = plat::openRegistryKey(kRoot, kKey, &key) == RegistryStatus::ok
                       && plat::queryRegistryValue(key, L"Limit", &value) == RegistryStatus::ok;
    EXPECT_TRUE(key == 0 || plat::closeRegistryKey(key) == RegistryStatus::ok);
    return found ? std::optional(Stored{value.type, value.bytes}) : std::nullopt;
}

void store(const Stored& value)
{
    plat::RegistryKey key = 0;
    ASSERT_TRUE(plat::createRegistryKey(kRoot, kKey, &key) == RegistryStatus::ok
                && plat::setRegistryValue(key, L"Limit", value.first, value.second) == RegistryStatus::ok
                && plat::closeRegistryKey(key) == RegistryStatus::ok);
}

// What a persistent string or 32-bit value read when it was made, and what stays stored after it went: the stored
// value when the read succeeded, else its default written back (with the terminator for a string).
TEST(RegistryValue, ReadsOnlyWellFormedValuesAndWritesItsDefaultBackOtherwiseUnlessNotPersistent)
{
    // The string or the 32-bit value after the read.
    using Value = std::variant<std::wstring, int32_t>;
    const RegistryType str = RegistryType::string, int32 = RegistryType::int32;
    const struct { const char* name; std::optional<Stored> before; bool read; Value value; } cases[] = {
        {"absent", std::nullopt, false, L"default"},
        {"terminated", Stored{str, {'P', 0, 'A', 0, 'L', 0, 0, 0}}, true, L"PAL"},
        {"ends at the first terminator", Stored{str, {'a', 0, 0, 0, 'b', 0, 0, 0}}, true, L"a"},
        {"empty", Stored{str, {0, 0}}, true, L""}, {"no terminator", Stored{str, {'a', 0, 'b', 0}}, false, L"default"},
        {"odd size", Stored{str, {'a', 0, 0, 0, 0}}, false, L"default"},
        {"32-bit", Stored{int32, {1, 0, 0, 0}}, false, L"default"},
        {"expandable string", Stored{RegistryType::expandString, {'a', 0, 0, 0}}, false, L"default"},
        {"absent", std::nullopt, false, 7320}, {"binary", Stored{RegistryType::binary, {1, 0, 0, 0}}, false, 7320},
        {"little-endian", Stored{int32, {0x78, 0x56, 0x34, 0x12}}, true, 0x12345678},
        {"negative", Stored{int32, {0xFE, 0xFF, 0xFF, 0xFF}}, true, -2},
        {"string", Stored{str, {'1', 0, 0, 0}}, false, 7320}, {"two bytes", Stored{int32, {1, 0}}, false, 7320},
        {"eight bytes", Stored{int32, {1, 0, 0, 0, 0, 0, 0, 0}}, false, 7320}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plat::clearRegistry(); // also of what tests before left
        if (c.before)
            store(*c.before);
        const std::wstring* text = std::get_if<std::wstring>(&c.value);
        if (text) {
            acRegistryString value(kRoot, kKey, L"Limit", L"default", true);
            EXPECT_EQ(std::tuple(value.value(), value.isDirty(), value.isOpen()),
                      std::tuple(*text, !c.read, c.before.has_value()));
        } else {
            EXPECT_EQ(acRegistryInt32(kRoot, kKey, L"Limit", 7320, true).value(), std::get<int32_t>(c.value));
        }
        // When absent, the key is made on the way; strings are stored in UTF-16 with their terminator.
        const Bytes text16 = {'d', 0, 'e', 0, 'f', 0, 'a', 0, 'u', 0, 'l', 0, 't', 0, 0, 0};
        const Stored written{text ? str : int32, text ? text16 : Bytes{0x98, 0x1C, 0, 0}};
        EXPECT_EQ(stored(), (c.read ? c.before : written));
    }

    // Not persistent, a value never writes its default.
    plat::clearRegistry();
    {
        acRegistryString absent(kRoot, kKey, L"Limit", L"text", false);
        EXPECT_EQ((std::tuple{absent.load(), absent.isOpen(), absent.isDirty()}), std::tuple(false, false, true));
    }
    EXPECT_EQ(stored(), std::nullopt);
}

} // namespace
