// Byte-level helpers shared by the archive and persistence tests.
#pragma once
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "std/except/archive.h"

namespace archive_support {

typedef std::vector<unsigned char> Bytes;

constexpr int32_t kLittle = ccArchive::littleEndian;
constexpr int32_t kBig = ccArchive::bigEndian;

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Runs f on a new storing archive (header written) and returns every byte.
template <class F>
Bytes storeAll(int32_t order, bool seekable, F f)
{
    std::stringbuf sb(std::ios_base::in | std::ios_base::out | std::ios_base::binary);
    ccArchive ar(&sb, ccArchive::storing, order, seekable);
    ar.archiveHeader();
    f(ar);
    return bytesOf(sb.str());
}

// What f stores after the header of a non-seekable archive.
template <class F>
Bytes store(int32_t order, F f)
{
    Bytes all = storeAll(order, false, f);
    return Bytes(all.begin() + 2, all.end());
}

// A memory archive over a heap block of exactly the given bytes, so that
// AddressSanitizer reports any read past it.
class Loader {
public:
    explicit Loader(const Bytes& all, bool seekable = false)
        : data_(all.begin(), all.end()), archive_(data_.data(), static_cast<int32_t>(data_.size()), seekable, false)
    {
    }
    // A header for the byte order, then body.
    static Bytes framed(const Bytes& body, int32_t order = kLittle) { return cat(Bytes{0x02, uint8_t(order)}, body); }
    ccArchive& ar() { return archive_; }

private:
    std::vector<char> data_;
    ccMemoryArchive archive_;
};

template <class T>
T loadOne(const Bytes& body, int32_t order = kLittle)
{
    Loader l(Loader::framed(body, order));
    T v{};
    l.ar().archive(v);
    return v;
}

} // namespace archive_support
