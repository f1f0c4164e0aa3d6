// Internal to the persistence and exception core, not for callers: the bytes
// of the object records. A link block heads the record directory and every
// class block; a class block adds the size of the object's extent, the
// position of the first reference record inside it and the object's type
// record; a reference record names an object by its number. Positions inside
// records are relative to the record's first byte; 0 means none.
#pragma once
#include <cstdint>
#include <string>

#include "std/except/archive.h"

namespace cc_detail {
namespace record {

// ---- the layout ----

// One field of a record: its first byte, counted from the record's, and its
// width.
struct Field {
    int64_t offset;
    int64_t width;
    constexpr int64_t end() const { return offset + width; }
    // The field of type T right behind this one.
    template <class T>
    constexpr Field then() const
    {
        return Field{end(), static_cast<int64_t>(sizeof(T))};
    }
};

// Every record opens with a tag and a version byte.
struct HeadLayout {
    static constexpr Field tag{0, 4};
    static constexpr Field version = tag.then<uint8_t>();
};

// Each link is a relative position split into 32-bit halves.
struct LinkLayout : HeadLayout {
    static constexpr Field value = version.then<uint32_t>();
    static constexpr Field nextLow = value.then<uint32_t>();
    static constexpr Field previousLow = nextLow.then<uint32_t>();
    static constexpr Field nextHigh = previousLow.then<uint32_t>();
    static constexpr Field previousHigh = nextHigh.then<uint32_t>();
    static constexpr Field last = previousHigh.then<uint8_t>();
    static constexpr int64_t length = last.end();
};

// Position A leads to the next reference record, position B to the previous.
struct ReferenceLayout : HeadLayout {
    static constexpr Field number = version.then<uint32_t>();
    static constexpr Field kind = number.then<uint8_t>();
    // Version 0.
    static constexpr Field positionA = kind.then<int32_t>();
    static constexpr Field positionB = positionA.then<int32_t>();
    static constexpr int64_t length = positionB.end();
    // Version 1. Under the wide tag a version-0 record keeps a 64-bit position
    // A over both 32-bit fields, and no position B.
    static constexpr Field positionA64 = kind.then<long long>();
    static constexpr Field positionB64 = positionA64.then<long long>();
    static constexpr int64_t length64 = positionB64.end();
};

// The size counts the whole extent: block, type record and contents.
struct ClassBlockLayout {
    static constexpr Field link{0, LinkLayout::length};
    static constexpr Field form = link.then<uint8_t>();
    // Form 0.
    static constexpr Field size = form.then<uint32_t>();
    static constexpr Field position = size.then<int32_t>();
    // Form 1. Under the wide tag a form-0 block keeps a 64-bit size over both
    // 32-bit fields, and the position in the extent's last bytes.
    static constexpr Field size64 = form.then<unsigned long long>();
    static constexpr Field position64 = size64.then<long long>();
    static constexpr int64_t trailingPosition = sizeof(long long);
};

static_assert(HeadLayout::version.end() == 5, "tag and version");
static_assert(LinkLayout::length == 26, "link block");
static_assert(ReferenceLayout::length == 18 && ReferenceLayout::length64 == 26, "reference record");
static_assert(ReferenceLayout::positionA64.end() == ReferenceLayout::length,
              "the wide tag rewrites a version-0 record in place");
static_assert(ClassBlockLayout::position.end() == 35 && ClassBlockLayout::position64.end() == 43, "class block");
static_assert(ClassBlockLayout::size64.end() == ClassBlockLayout::position.end(),
              "the wide tag rewrites a form-0 block in place");

// ---- tags ----

inline constexpr unsigned char kReferenceTag[4] = {0x4F, 0xE5, 0x70, 0x54};
// The last tag byte of a reference record whose position A was widened in
// place, and of the record written right after it.
inline constexpr unsigned char kReferenceWideTag = 0x55;
inline constexpr unsigned char kClassWideTag[4] = {0x6F, 0x8B, 0x68, 0x45};
inline constexpr unsigned char kDirectoryTag[4] = {0x61, 0x13, 0x4D, 0x6B};

// ---- positions ----

// An absolute stream position that is not set.
constexpr int64_t kNone = -1;

// The 32-bit record forms hold relative positions in this range (the most
// negative value is not used) and sizes up to 0xFFFFFFFF.
inline bool fits32(int64_t relative) { return relative >= -2147483647LL && relative <= 2147483647LL; }

inline int64_t relativeTo(int64_t target, int64_t record) { return target == kNone ? 0 : target - record; }

// A relative position read from the stream: one that leads before the start
// (or past what 64 bits hold) is corrupt.
int64_t absoluteFrom(int64_t relative, int64_t record);

// A look at another part of a seekable stream: gives the archive back at the
// position and in the mode it found it. On an error the return is tried and
// its own failure dropped, so that the first error passes on.
class Excursion {
public:
    explicit Excursion(ccArchive& ar) : ar_(ar), position_(ar.tell()), mode_(ar.mode()) {}
    ~Excursion();
    Excursion(const Excursion&) = delete;
    Excursion& operator=(const Excursion&) = delete;

    void end();

private:
    void back();

    ccArchive& ar_;
    int64_t position_;
    int32_t mode_;
    bool done_ = false;
};

// ---- records ----

struct Reference {
    uint32_t number;
    uint8_t kind;
    int64_t positionA; // absolute, or kNone
};

// The links stay relative until they are followed: the directory head's are
// read and not used.
struct Link {
    uint32_t value;
    int64_t first;
    int64_t nextRelative;
    int64_t previousRelative;
    int64_t next() const { return absoluteFrom(nextRelative, first); }         // or kNone
    int64_t previous() const { return absoluteFrom(previousRelative, first); } // or kNone
};

struct ClassBlock {
    int64_t first;
    uint32_t number;
    uint64_t size;
    std::string type; // reading form; empty for "$nt"
};

// A reference record with position A 0; version 1 has 64-bit positions.
void putReference(ccArchive& ar, unsigned char lastTagByte, uint8_t version, uint32_t number, uint8_t kind,
                  int64_t positionB);
Reference readReference(ccArchive& ar);

// Both links 0. Without a tag the four tag bytes are stepped over.
void writeLink(ccArchive& ar, const unsigned char* tag, uint32_t value);
// Without an expected tag any tag is taken.
Link readLink(ccArchive& ar, const unsigned char* expectedTag);

// A class block with its links, size and position 0; wide takes form 1.
void putClassBlock(ccArchive& ar, uint32_t number, const std::string& type, bool wide);
ClassBlock readClassBlock(ccArchive& ar, bool tolerateUnknownType);
// The size of the class block at the current position; the position is kept.
uint64_t sizeOfClassBlockHere(ccArchive& ar);

// The tag in front of an embedded object's record.
void writeEmbeddedTag(ccArchive& ar);
// Reads four bytes: true when they are that tag.
bool readEmbeddedTag(ccArchive& ar);

} // namespace record
} // namespace cc_detail
