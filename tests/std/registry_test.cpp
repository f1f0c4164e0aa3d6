#include "std/registry.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <utility>
#include <variant>

#include "platform/registry_testing.h"
#include "platform/text.h"

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
    if (plat::openRegistryKey(kRoot, kKey, &key) != RegistryStatus::ok)
        return std::nullopt;
    const bool found = plat::queryRegistryValue(key, L"Limit", &value) == RegistryStatus::ok;
    EXPECT_EQ(plat::closeRegistryKey(key), RegistryStatus::ok);
    return found ? std::optional(Stored{value.type, value.bytes}) : std::nullopt;
}

void store(const std::optional<Stored>& value)
{
    plat::RegistryKey key = 0;
    ASSERT_TRUE(!value || (plat::createRegistryKey(kRoot, kKey, &key) == RegistryStatus::ok
                           && plat::setRegistryValue(key, L"Limit", value->first, value->second) == RegistryStatus::ok
                           && plat::closeRegistryKey(key) == RegistryStatus::ok));
}

Bytes utf16(const std::wstring& text) { return plat::utf16BytesFromWide(text); }

// What a persistent string or 32-bit value read when it was made, and what stays stored after it went: the stored
// value when the read succeeded, else its default written back (with the terminator for a string).
TEST(RegistryValue, ReadsOnlyWellFormedValuesAndWritesItsDefaultBackOtherwiseUnlessNotPersistent)
{
    // The string or the 32-bit value after the read.
    using Value = std::variant<std::wstring, int32_t>;
    const RegistryType str = RegistryType::string, int32 = RegistryType::int32;
    const struct { const char* name; std::optional<Stored> before; bool read; Value value; } cases[] = {
        {"absent", std::nullopt, false, L"default"}, {"terminated", Stored{str, utf16(L"PAL")}, true, L"PAL"},
        {"surrogate pair", Stored{str, utf16(L"x\U0001F600")}, true, L"x\U0001F600"},
        {"ends at the first terminator", Stored{str, {'a', 0, 0, 0, 'b', 0, 0, 0}}, true, L"a"},
        {"empty", Stored{str, {0, 0}}, true, L""}, {"no terminator", Stored{str, {'a', 0, 'b', 0}}, false, L"default"},
        {"odd size", Stored{str, {'a', 0, 0, 0, 0}}, false, L"default"},
        {"no bytes", Stored{str, {}}, false, L"default"},
        {"32-bit", Stored{int32, {1, 0, 0, 0}}, false, L"default"}, {"absent", std::nullopt, false, 7320},
        {"little-endian", Stored{int32, {0x78, 0x56, 0x34, 0x12}}, true, 0x12345678},
        {"negative", Stored{int32, {0xFE, 0xFF, 0xFF, 0xFF}}, true, -2},
        {"string", Stored{str, utf16(L"12")}, false, 7320}, {"two bytes", Stored{int32, {1, 0}}, false, 7320},
        {"eight bytes", Stored{int32, {1, 0, 0, 0, 0, 0, 0, 0}}, false, 7320}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        plat::clearRegistry(); // also of what tests before left
        store(c.before);
        const std::wstring* text = std::get_if<std::wstring>(&c.value);
        if (text) {
            acRegistryString value(kRoot, kKey, L"Limit", L"default", true);
            EXPECT_EQ(std::tuple(value.value(), value.isDirty(), value.isOpen()),
                      std::tuple(*text, !c.read, c.before.has_value()));
        } else {
            EXPECT_EQ(acRegistryInt32(kRoot, kKey, L"Limit", 7320, true).value(), std::get<int32_t>(c.value));
        }
        // When absent, the key is made on the way.
        const Stored written{text ? str : int32, text ? utf16(L"default") : Bytes{0x98, 0x1C, 0, 0}};
        EXPECT_EQ(stored(), (c.read ? c.before : written));
    }

    // Not persistent, a value reads only when loaded and never writes.
    store(Stored{RegistryType::int32, {5, 0, 0, 0}});
    {
        acRegistryInt32 present(kRoot, kKey, L"Limit", 1, false);
        EXPECT_EQ((std::tuple{present.value(), present.load(), present.value()}), std::tuple(1, true, 5));
        acRegistryString absent(kRoot, L"Software\\Qoralt\\Absent", L"Limit", L"text", false);
        EXPECT_EQ((std::tuple{absent.load(), absent.isOpen(), absent.isDirty()}), std::tuple(false, false, true));
    }
    plat::RegistryKey key = 0;
    EXPECT_EQ(plat::openRegistryKey(kRoot, L"Software\\Qoralt\\Absent", &key), RegistryStatus::notFound);
    plat::clearRegistry();
}

} // namespace
