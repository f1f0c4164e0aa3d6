// Stored forms of single persistent objects, for the property tests: values
// written little-endian, one level behind the archive header, and the code
// of the library error a step throws.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "std/except/except.h"
#include "std/except/persist.h"
#include "tests/support/bytes.h"

namespace test_bytes {

// The low width bytes of v, least significant first.
inline Bytes le(uint64_t v, int width)
{
    Bytes b;
    for (int i = 0; i < width; ++i)
        b.push_back(uint8_t(v >> 8 * i));
    return b;
}

inline Bytes u32(uint32_t v) { return le(v, 4); }

inline Bytes dbl(double d)
{
    uint64_t bits = 0;
    std::memcpy(&bits, &d, 8);
    return le(bits, 8);
}

// A null object reference: tag, version 0, number 0, kind 0, two zero words.
inline const Bytes kNoObject = {0x4F, 0xE5, 0x70, 0x54, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// An object reference: tag, version 0, number, kind, two 32-bit positions.
inline Bytes reference(uint32_t number, uint8_t kind)
{
    return cat({{0x4F, 0xE5, 0x70, 0x54, 0x00}, le(number, 4), {kind}, Bytes(8, 0x00)});
}

// A new object without a directory: its reference; its class block (link,
// form 0, size and position 0, the type name through the name table: ROT47,
// bit 7 on the first byte); its levels.
inline Bytes objectRecord(const std::string& type, const Bytes& levels)
{
    Bytes name = {uint8_t(type.size()), 0x22};
    for (char c : type)
        name.push_back(uint8_t(33 + (c - 33 + 47) % 94));
    name[2] |= 0x80;
    return cat({reference(1, 1), {0x6F, 0x8B, 0x68, 0x44, 0x00, 0x01}, Bytes(31, 0x00), name,
                {0x22, 0x00, 0x00}, levels});
}

// The header, the class level's version byte, the ccPersistent level's byte, the fields.
inline Bytes level(uint8_t version, const Bytes& fields) { return cat({{0x02, 0x01, version, 0x00}, fields}); }

inline Bytes storeObject(ccPersistent& p)
{
    return store(ccArchive::littleEndian, [&](ccArchive& ar) { ccArchiveObject(p, ar, false); });
}

inline void loadObject(ccPersistent& p, const Bytes& bytes)
{
    load(bytes, [&](ccArchive& ar) { ccArchiveObject(p, ar, false); });
}

// The code of the ccException f throws, 0 for none; the file and line an
// archive error names go to *file and *line.
template <class F>
uint32_t codeOf(F f, std::wstring* file = nullptr, uint32_t* line = nullptr)
{
    try {
        f();
    } catch (const ccArchive::Errors& e) {
        if (file)
            *file = e.file();
        if (line)
            *line = e.line();
        return e.code();
    } catch (const ccException& e) {
        return e.code();
    }
    return 0;
}

} // namespace test_bytes
