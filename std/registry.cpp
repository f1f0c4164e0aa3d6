#include "std/registry.h"

#include <vector>

#include "platform/text.h"

acRegistryValue::acRegistryValue(plat::RegistryRoot root, const std::wstring& keyPath, const std::wstring& valueName)
    : root_(root), keyPath_(keyPath), valueName_(valueName)
{
}

acRegistryValue::~acRegistryValue()
{
    if (open_)
        (void)plat::closeRegistryKey(key_); // nothing to do about a failed close
}

bool acRegistryValue::load()
{
    if (!open_) {
        if (plat::openRegistryKey(root_, keyPath_, &key_) != plat::RegistryStatus::ok)
            return false;
        open_ = true;
    }
    const bool done = read();
    if (done)
        dirty_ = false;
    return done;
}

void acRegistryValue::writeBackIfDirty(bool persist) noexcept
{
    if (!persist || !dirty_)
        return;
    try {
        if (!open_ && plat::createRegistryKey(root_, keyPath_, &key_) == plat::RegistryStatus::ok)
            open_ = true;
        if (open_ && write())
            dirty_ = false;
    } catch (...) {
        // Out of memory in a destructor: the default is not written back.
    }
}

acRegistryInt32::acRegistryInt32(plat::RegistryRoot root, const std::wstring& keyPath, const std::wstring& valueName,
                                 int32_t defaultValue, bool persist)
    : acRegistryValue(root, keyPath, valueName), value_(defaultValue), persist_(persist)
{
    if (persist_)
        (void)load(); // a missing value keeps the default, written back later
}

acRegistryInt32::~acRegistryInt32()
{
    writeBackIfDirty(persist_);
}

bool acRegistryInt32::read()
{
    plat::RegistryValue stored{};
    if (plat::queryRegistryValue(key_, valueName_, &stored) != plat::RegistryStatus::ok
        || stored.type != plat::RegistryType::int32 || stored.bytes.size() != 4)
        return false;
    const auto& b = stored.bytes;
    value_ = static_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    return true;
}

bool acRegistryInt32::write()
{
    const auto v = static_cast<uint32_t>(value_);
    const std::vector<uint8_t> bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return plat::setRegistryValue(key_, valueName_, plat::RegistryType::int32, bytes) == plat::RegistryStatus::ok;
}

acRegistryString::acRegistryString(plat::RegistryRoot root, const std::wstring& keyPath,
                                   const std::wstring& valueName, const std::wstring& defaultValue, bool persist)
    : acRegistryValue(root, keyPath, valueName), value_(defaultValue), persist_(persist)
{
    if (persist_)
        (void)load();
}

acRegistryString::~acRegistryString()
{
    writeBackIfDirty(persist_);
}

bool acRegistryString::read()
{
    plat::RegistryValue stored{};
    if (plat::queryRegistryValue(key_, valueName_, &stored) != plat::RegistryStatus::ok
        || stored.type != plat::RegistryType::string || stored.bytes.size() % 2 != 0)
        return false;
    // Bounded by the byte count: a value without a terminator is not a string.
    std::vector<char16_t> units(stored.bytes.size() / 2);
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(stored.bytes[2 * i] | stored.bytes[2 * i + 1] << 8);
    size_t length = 0;
    while (length < units.size() && units[length] != 0)
        ++length;
    if (length == units.size())
        return false;
    value_ = plat::wideFromUtf16(units.data(), length);
    return true;
}

bool acRegistryString::write()
{
    return plat::setRegistryValue(key_, valueName_, plat::RegistryType::string, plat::utf16BytesFromWide(value_))
        == plat::RegistryStatus::ok;
}
