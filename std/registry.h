// Configuration values kept in the registry, read and written through small
// value objects. Failures answer false; nothing throws. A persistent value
// that could not be read writes its default back when it goes, creating the
// key on the way.
#pragma once
#include <cstdint>
#include <string>

#include "platform/registry.h"

class acRegistryValue {
public:
    acRegistryValue(const acRegistryValue&) = delete;
    acRegistryValue& operator=(const acRegistryValue&) = delete;
    virtual ~acRegistryValue(); // closes the key

    // Opens the key when needed, then reads; a successful read clears the
    // dirty flag.
    bool load();

    bool isOpen() const { return open_; }
    bool isDirty() const { return dirty_; }

protected:
    acRegistryValue(plat::RegistryRoot root, const std::wstring& keyPath, const std::wstring& valueName);

    // From the open key; false leaves the value as it was.
    virtual bool read() = 0;
    virtual bool write() = 0;
    // For the destructors of the value classes, while write() is still theirs.
    void writeBackIfDirty(bool persist) noexcept;

    plat::RegistryKey key_ = 0;
    bool open_ = false;
    plat::RegistryRoot root_;
    std::wstring keyPath_;
    std::wstring valueName_;
    bool dirty_ = true;
};

class acRegistryInt32 : public acRegistryValue {
public:
    // With persist, loads at once.
    acRegistryInt32(plat::RegistryRoot root, const std::wstring& keyPath, const std::wstring& valueName,
                    int32_t defaultValue, bool persist);
    ~acRegistryInt32() override;

    int32_t value() const { return value_; }

protected:
    bool read() override;  // only a 4-byte 32-bit value
    bool write() override;

private:
    int32_t value_;
    bool persist_;
};

class acRegistryString : public acRegistryValue {
public:
    acRegistryString(plat::RegistryRoot root, const std::wstring& keyPath, const std::wstring& valueName,
                     const std::wstring& defaultValue, bool persist);
    ~acRegistryString() override;

    const std::wstring& value() const { return value_; }

protected:
    // Only a string of whole UTF-16 units holding a terminator; the text ends
    // at the first one.
    bool read() override;
    bool write() override; // with its terminator
private:
    std::wstring value_;
    bool persist_;
};
