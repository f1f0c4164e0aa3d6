// Byte images of archives for the golden-format tests.
#pragma once
#include <initializer_list>
#include <sstream>
#include <vector>

#include "std/except/archive.h"

namespace test_bytes {

typedef std::vector<unsigned char> Bytes;

// Everything f stores into a new archive, header included.
template <class F>
Bytes store(int32_t byteOrder, F f, bool seekable = false)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, byteOrder, seekable);
    ar.archiveHeader();
    f(ar);
    const std::string s = sb.str();
    return Bytes(s.begin(), s.end());
}

// f on a loading archive over a heap copy of exactly these bytes, so that
// AddressSanitizer sees any read past them.
template <class F>
void load(const Bytes& bytes, F f)
{
    std::vector<char> copy(bytes.begin(), bytes.end());
    ccMemoryArchive ar(copy.data(), static_cast<int32_t>(copy.size()), false, false);
    f(static_cast<ccArchive&>(ar));
}

inline Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

} // namespace test_bytes
