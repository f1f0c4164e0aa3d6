// Byte-level helpers shared by the archive and persistence tests.
#pragma once
#include <string>
#include <vector>

#include "std/except/archive.h"
#include "std/except/persistent.h"
#include "tests/support/bytes.h"

namespace archive_support {

using test_bytes::Bytes;
using test_bytes::cat;

constexpr int32_t kLittle = ccArchive::littleEndian;

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
    return test_bytes::store(order, f, seekable);
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

// One class level of an archive routine, as persistent classes write it:
// once per operation, its version byte (an unknown one named by name), the
// ccPersistent level, then fields(). Returns the version archived.
template <class Level, class F>
uint8_t archiveLevel(Level* self, ccArchive& ar, const char* name, F fields, uint8_t version = 0)
{
    if (ccArchiveVisit::begin(self, typeid(Level)))
        return version;
    version = ccArchiveVersion(ar, version, name, 0);
    self->ccPersistent::archive(ar);
    fields();
    ccArchiveVisit::end(self, typeid(Level));
    return version;
}

} // namespace archive_support
