#include "std/except/internal/arch_record.h"

#include <cstring>

#include "std/except/internal/archutil_error.h"
#include "std/except/persist.h"

namespace cc_detail {
namespace record {

namespace {

const unsigned char kClassTag[4] = {0x6F, 0x8B, 0x68, 0x44};
const unsigned char kEmbeddedTag[4] = {0xF1, 0x66, 0x4B, 0xDF};

} // namespace

int64_t absoluteFrom(int64_t relative, int64_t record)
{
    if (relative == 0)
        return kNone;
    int64_t target = 0;
    if (__builtin_add_overflow(record, relative, &target) || target < 0)
        throw cmArchutilError(BadContent);
    return target;
}

Excursion::~Excursion()
{
    if (done_)
        return;
    try {
        back();
    } catch (...) {
    }
}

void Excursion::end()
{
    back();
    done_ = true;
}

void Excursion::back()
{
    ar_.setMode(mode_);
    ar_.seek(position_);
}

// ---- reference records ----

void putReference(ccArchive& ar, unsigned char lastTagByte, uint8_t version, uint32_t number, uint8_t kind,
                  int64_t positionB)
{
    unsigned char tag[4] = {kReferenceTag[0], kReferenceTag[1], kReferenceTag[2], lastTagByte};
    ar.archiveBytes(tag, 4).archive(version).archive(number).archive(kind);
    if (version == 1) {
        long long a = 0;
        long long b = positionB;
        ar.archive(a).archive(b);
    } else {
        int32_t a = 0;
        int32_t b = static_cast<int32_t>(positionB);
        ar.archive(a).archive(b);
    }
}

Reference readReference(ccArchive& ar)
{
    const int64_t first = ar.isSeekable() ? ar.tell() : 0;
    unsigned char tag[4];
    ar.archiveBytes(tag, 4);
    if (std::memcmp(tag, kReferenceTag, 3) != 0 || (tag[3] != kReferenceTag[3] && tag[3] != kReferenceWideTag))
        throw cmArchutilError(BadContent);
    uint8_t version = 0;
    ar.archive(version);
    if (version > 1)
        throw cmArchutilError(UnknownVersion);
    Reference r{0, 0, kNone};
    ar.archive(r.number).archive(r.kind);
    if (r.kind > 2)
        throw cmArchutilError(BadContent);
    long long a = 0;
    if (version == 1) {
        long long b = 0;
        ar.archive(a).archive(b);
    } else if (tag[3] == kReferenceTag[3]) {
        int32_t a32 = 0, b32 = 0;
        ar.archive(a32).archive(b32);
        a = a32;
    } else {
        ar.archive(a);
    }
    r.positionA = ar.isSeekable() ? absoluteFrom(a, first) : kNone;
    return r;
}

// ---- link blocks and class blocks ----

void writeLink(ccArchive& ar, const unsigned char* tag, uint32_t value)
{
    if (tag) {
        unsigned char t[4];
        std::memcpy(t, tag, 4);
        ar.archiveBytes(t, 4);
    } else {
        ar.skip4();
    }
    uint8_t version = 0;
    uint32_t zero = 0;
    uint8_t last = 0;
    ar.archive(version).archive(value).archive(zero).archive(zero).archive(zero).archive(zero).archive(last);
}

// The two halves of each link are read together: a link more than 2 GB away
// keeps its high half.
Link readLink(ccArchive& ar, const unsigned char* expectedTag)
{
    const int64_t first = ar.isSeekable() ? ar.tell() : 0;
    unsigned char tag[4];
    ar.archiveBytes(tag, 4);
    if (expectedTag && std::memcmp(tag, expectedTag, 4) != 0)
        throw cmArchutilError(BadContent);
    uint8_t version = 0;
    ar.archive(version);
    if (version != 0)
        throw cmArchutilError(UnknownVersion);
    uint32_t value = 0, nextLow = 0, previousLow = 0, nextHigh = 0, previousHigh = 0;
    uint8_t last = 0;
    ar.archive(value).archive(nextLow).archive(previousLow).archive(nextHigh).archive(previousHigh).archive(last);
    auto join = [](uint32_t low, uint32_t high) {
        return static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | low);
    };
    if (!ar.isSeekable())
        return Link{value, 0, 0, 0};
    return Link{value, first, join(nextLow, nextHigh), join(previousLow, previousHigh)};
}

void putClassBlock(ccArchive& ar, uint32_t number, const std::string& type, bool wide)
{
    writeLink(ar, kClassTag, number);
    uint8_t form = wide ? 1 : 0;
    ar.archive(form);
    if (wide) {
        unsigned long long size = 0;
        long long position = 0;
        ar.archive(size).archive(position);
    } else {
        uint32_t size = 0;
        int32_t position = 0;
        ar.archive(size).archive(position);
    }
    std::string name = type;
    ccArchiveTypeName(ar, name);
}

ClassBlock readClassBlock(ccArchive& ar, bool tolerateUnknownType)
{
    ClassBlock cb{ar.isSeekable() ? ar.tell() : 0, 0, 0, std::string()};
    bool wideTag = false;
    Link link{0, 0, 0, 0};
    try {
        link = readLink(ar, kClassTag);
    } catch (const ccArchive::BadContent&) {
        if (!ar.isSeekable() || !ar.isLoading())
            throw;
        ar.seek(cb.first);
        link = readLink(ar, kClassWideTag);
        wideTag = true;
    }
    cb.number = link.value;
    uint8_t form = 0;
    ar.archive(form);
    if (form > 1)
        throw cmArchutilError(UnknownVersion);
    if (form == 1) {
        unsigned long long size = 0;
        long long position = 0;
        ar.archive(size).archive(position);
        cb.size = size;
    } else if (!wideTag) {
        uint32_t size = 0;
        int32_t position = 0;
        ar.archive(size).archive(position);
        cb.size = size;
    } else {
        unsigned long long size = 0;
        ar.archive(size);
        const int64_t afterSize = ar.tell();
        const int64_t trailing = ClassBlockLayout::trailingPosition;
        if (size > static_cast<unsigned long long>(INT64_MAX - cb.first) ||
            cb.first + static_cast<int64_t>(size) - trailing < afterSize)
            throw cmArchutilError(BadContent);
        long long position = 0;
        ar.seek(cb.first + static_cast<int64_t>(size) - trailing);
        ar.archive(position);
        ar.seek(afterSize);
        cb.size = size;
    }
    if (cb.size > static_cast<uint64_t>(INT64_MAX - cb.first))
        throw cmArchutilError(BadContent);
    try {
        ccArchiveTypeName(ar, cb.type);
    } catch (const ccArchive::UnknownType&) {
        if (!tolerateUnknownType)
            throw;
    }
    return cb;
}

uint64_t sizeOfClassBlockHere(ccArchive& ar)
{
    Excursion excursion(ar);
    ar.setMode(ccArchive::loading);
    const int64_t first = ar.tell();
    bool wideTag = false;
    try {
        readLink(ar, kClassTag);
    } catch (const ccArchive::BadContent&) {
        ar.seek(first);
        readLink(ar, kClassWideTag);
        wideTag = true;
    }
    uint8_t form = 0;
    ar.archive(form);
    if (form > 1)
        throw cmArchutilError(UnknownVersion);
    uint64_t size = 0;
    if (form == 1 || wideTag) {
        unsigned long long s = 0;
        ar.archive(s);
        size = s;
    } else {
        uint32_t s = 0;
        ar.archive(s);
        size = s;
    }
    excursion.end();
    return size;
}

// ---- embedded objects ----

void writeEmbeddedTag(ccArchive& ar)
{
    unsigned char tag[4];
    std::memcpy(tag, kEmbeddedTag, 4);
    ar.archiveBytes(tag, 4);
}

bool readEmbeddedTag(ccArchive& ar)
{
    unsigned char tag[4];
    ar.archiveBytes(tag, 4);
    return std::memcmp(tag, kEmbeddedTag, 4) == 0;
}

} // namespace record
} // namespace cc_detail
