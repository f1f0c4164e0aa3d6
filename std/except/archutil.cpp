#include "std/except/archutil.h"

#include <cstring>
#include <map>
#include <new>
#include <set>
#include <string>
#include <unordered_map>

#include "std/except/persist.h"
#include "std/except/resource.h"

#define cmArchutilError(Name) ccArchive::Name("archutil", __LINE__)

namespace {

// An absolute stream position that is not set.
constexpr int64_t kNone = -1;

const unsigned char kReferenceTag[4] = {0x4F, 0xE5, 0x70, 0x54};
const unsigned char kReferenceWideTag = 0x55;
const unsigned char kClassTag[4] = {0x6F, 0x8B, 0x68, 0x44};
const unsigned char kClassWideTag[4] = {0x6F, 0x8B, 0x68, 0x45};
const unsigned char kDirectoryTag[4] = {0x61, 0x13, 0x4D, 0x6B};
const unsigned char kEmbeddedTag[4] = {0xF1, 0x66, 0x4B, 0xDF};

// Offsets inside a link block and a reference record.
constexpr int64_t kLinkValue = 5;
constexpr int64_t kLinkNextLow = 9;
constexpr int64_t kLinkPreviousLow = 13;
constexpr int64_t kLinkNextHigh = 17;
constexpr int64_t kLinkPreviousHigh = 21;
constexpr int64_t kLinkSize = 26;
constexpr int64_t kReferenceVersion = 4;
constexpr int64_t kReferencePositionA = 10;
constexpr int64_t kReferencePositionB = 14;

// Nested loads of objects through pointers and by value. A crafted stream
// could otherwise nest until the stack runs out; an error sent by the board
// driver module or a peer arrives through this code.
constexpr int kMaxLoadNesting = 256; // deep enough for real graphs, shallow enough for small thread stacks

// The 32-bit record forms hold relative positions in this range (the most
// negative value is not used) and sizes up to 0xFFFFFFFF.
bool fits32(int64_t relative) { return relative >= -2147483647LL && relative <= 2147483647LL; }

int64_t relativeTo(int64_t target, int64_t record) { return target == kNone ? 0 : target - record; }

// A relative position read from the stream: one that leads before the start
// (or past what 64 bits hold) is corrupt.
int64_t absoluteFrom(int64_t relative, int64_t record)
{
    if (relative == 0)
        return kNone;
    int64_t target = 0;
    if (__builtin_add_overflow(record, relative, &target) || target < 0)
        throw cmArchutilError(BadContent);
    return target;
}

struct LiveTables {
    ccCriticalSection lock;
    std::set<cc_detail::ccObjectTable*> tables;
};

// Never destroyed: objects are forgotten by destructors that run at exit.
LiveTables& liveTables()
{
    static auto* t = new LiveTables;
    return *t;
}

// A look at another part of a seekable stream: gives the archive back at the
// position and in the mode it found it. On an error the return is tried and
// its own failure dropped, so that the first error passes on.
class Excursion {
public:
    explicit Excursion(ccArchive& ar) : ar_(ar), position_(ar.tell()), mode_(ar.mode()) {}
    ~Excursion()
    {
        if (done_)
            return;
        try {
            back();
        } catch (...) {
        }
    }
    Excursion(const Excursion&) = delete;
    Excursion& operator=(const Excursion&) = delete;

    void end()
    {
        back();
        done_ = true;
    }

private:
    void back()
    {
        ar_.setMode(mode_);
        ar_.seek(position_);
    }

    ccArchive& ar_;
    int64_t position_;
    int32_t mode_;
    bool done_ = false;
};

// Counts the nesting of loads; too deep is a corrupt stream.
class LoadNesting {
public:
    explicit LoadNesting(int& depth) : depth_(depth)
    {
        if (depth_ >= kMaxLoadNesting)
            throw cmArchutilError(BadContent);
        ++depth_;
    }
    ~LoadNesting() { --depth_; }
    LoadNesting(const LoadNesting&) = delete;
    LoadNesting& operator=(const LoadNesting&) = delete;

private:
    int& depth_;
};

} // namespace

namespace cc_detail {

class ccObjectTable : public ccArchiveObjectTable {
public:
    explicit ccObjectTable(ccArchive& ar);
    ~ccObjectTable() override;

    void setUpDirectory() override;
    void finishDirectory() override;
    int64_t firstRecordPosition() override;

    void storePointer(const ccPersistent* object);
    // made: the object was created by this load.
    ccPersistent* loadPointer(bool& made);
    void storeEmbedded(ccPersistent& object);
    void loadEmbedded(ccPersistent& object);

    // Removes the object from both maps; true when it was listed.
    bool forget(const ccPersistent* object);
    bool lists(const ccPersistent* object) const { return byAddress_.count(object) != 0; }

private:
    struct Reference {
        uint32_t number;
        uint8_t kind;
        int64_t positionA; // absolute, or kNone
    };
    // The links stay relative until they are followed: the directory head's
    // are read and not used.
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
    struct Found {
        int64_t position;
        bool found;
    };

    bool seekable() const { return ar_.isSeekable(); }
    void seekForward(int64_t target);

    // Records.
    void putReference(unsigned char lastTagByte, uint8_t version, uint32_t number, uint8_t kind, int64_t positionB);
    void writeReference(uint32_t number, uint8_t kind);
    bool patchPositionA(int64_t record, int64_t target, int64_t& previousOfRecord);
    Reference readReference();
    void writeLink(const unsigned char* tag, uint32_t value);
    Link readLink(const unsigned char* expectedTag);
    void writeClassBlock(uint32_t number, const std::string& type);
    ClassBlock readClassBlock(bool tolerateUnknownType);
    void finishClassBlock(int64_t first, uint64_t referencesBefore, int64_t lastReferenceBefore);

    // The class-block chain.
    Found searchChain(int64_t start, uint32_t wanted);
    bool insertClassBlock(int64_t first, int64_t start);
    void unlinkClassBlock(int64_t first);
    void dropFailedClassBlock(int64_t first) noexcept;
    void patchLink(int64_t block, bool next, int64_t target);
    int64_t positionAOf(int64_t record);
    uint64_t sizeOfClassBlockHere();

    void storeObject(const ccPersistent* object, uint32_t number);
    ccPersistent* loadNewObject(uint32_t number);
    void enter(ccPersistent* object, uint32_t number);
    void setArchived(const ccPersistent* object) { const_cast<ccPersistent*>(object)->archivedFlag_ = true; }

    ccArchive& ar_;
    std::map<uint32_t, ccPersistent*> byNumber_;
    std::unordered_map<const ccPersistent*, uint32_t> byAddress_;
    uint32_t nextNumber_ = 1;
    const ccPersistent* current_ = nullptr;
    int loadNesting_ = 0;

    int64_t directoryHead_ = kNone;
    int64_t classHead_ = kNone;
    int64_t referenceHead_ = kNone;
    int64_t marker_ = kNone;
    int64_t lastClassBlock_ = kNone;
    int64_t lastReference_ = kNone;
    uint64_t referencesWritten_ = 0; // after the preamble
    bool wide_ = false;
};

ccObjectTable::ccObjectTable(ccArchive& ar) : ar_(ar)
{
    ccArchiveTableLock hold;
    liveTables().tables.insert(this);
}

ccObjectTable::~ccObjectTable()
{
    ccArchiveTableLock hold;
    std::set<ccObjectTable*>& tables = liveTables().tables;
    tables.erase(this);
    // An object leaves the archived state with the last table that lists it.
    for (const auto& entry : byAddress_) {
        bool elsewhere = false;
        for (ccObjectTable* t : tables)
            elsewhere = elsewhere || t->lists(entry.first);
        if (!elsewhere)
            const_cast<ccPersistent*>(entry.first)->archivedFlag_ = false;
    }
}

bool ccObjectTable::forget(const ccPersistent* object)
{
    auto it = byAddress_.find(object);
    if (it == byAddress_.end())
        return false;
    auto n = byNumber_.find(it->second);
    if (n != byNumber_.end() && n->second == object)
        byNumber_.erase(n);
    byAddress_.erase(it);
    return true;
}

void ccObjectTable::enter(ccPersistent* object, uint32_t number)
{
    byNumber_[number] = object;
    byAddress_[object] = number;
}

// Moves on to the end of an object's extent; a stream whose sizes lead
// backwards would be read again and again.
void ccObjectTable::seekForward(int64_t target)
{
    if (target < ar_.tell())
        throw cmArchutilError(BadContent);
    ar_.seek(target);
}

// ---- reference records ----

void ccObjectTable::putReference(unsigned char lastTagByte, uint8_t version, uint32_t number, uint8_t kind,
                                 int64_t positionB)
{
    unsigned char tag[4] = {kReferenceTag[0], kReferenceTag[1], kReferenceTag[2], lastTagByte};
    ar_.archiveBytes(tag, 4).archive(version).archive(number).archive(kind);
    if (version == 1) {
        long long a = 0;
        long long b = positionB;
        ar_.archive(a).archive(b);
    } else {
        int32_t a = 0;
        int32_t b = static_cast<int32_t>(positionB);
        ar_.archive(a).archive(b);
    }
}

void ccObjectTable::writeReference(uint32_t number, uint8_t kind)
{
    if (!seekable()) {
        putReference(kReferenceTag[3], 0, number, kind, 0);
        return;
    }
    const int64_t here = ar_.tell();
    const int64_t previous = lastReference_ != kNone ? lastReference_ : referenceHead_;
    int64_t previousOfPrevious = kNone;
    bool escaped = previous != kNone && patchPositionA(previous, here, previousOfPrevious);
    // After an escape the patched record has lost its position B: the new
    // record leads past it to the one before.
    const int64_t b = escaped ? previousOfPrevious : previous;
    putReference(escaped ? kReferenceWideTag : kReferenceTag[3], wide_ ? 1 : 0, number, kind, relativeTo(b, here));
    lastReference_ = here;
    ++referencesWritten_;
}

// Makes position A of the record lead to target. True when it had to take
// the 64-bit escape; previousOfRecord is then where its position B led.
bool ccObjectTable::patchPositionA(int64_t record, int64_t target, int64_t& previousOfRecord)
{
    Excursion excursion(ar_);
    const int64_t relative = target - record;
    ar_.setMode(ccArchive::loading);
    ar_.seek(record + kReferenceVersion);
    uint8_t version = 0;
    ar_.archive(version);
    bool escaped = false;
    if (version == 1) {
        long long a = relative;
        ar_.setMode(ccArchive::storing);
        ar_.seek(record + kReferencePositionA);
        ar_.archive(a);
    } else if (fits32(relative)) {
        int32_t a = static_cast<int32_t>(relative);
        ar_.setMode(ccArchive::storing);
        ar_.seek(record + kReferencePositionA);
        ar_.archive(a);
    } else {
        int32_t b = 0;
        ar_.seek(record + kReferencePositionB);
        ar_.archive(b);
        previousOfRecord = absoluteFrom(b, record);
        unsigned char tag[4] = {kReferenceTag[0], kReferenceTag[1], kReferenceTag[2], kReferenceWideTag};
        long long a = relative;
        ar_.setMode(ccArchive::storing);
        ar_.seek(record);
        ar_.archiveBytes(tag, 4);
        ar_.seek(record + kReferencePositionA);
        ar_.archive(a);
        wide_ = true;
        escaped = true;
    }
    excursion.end();
    return escaped;
}

ccObjectTable::Reference ccObjectTable::readReference()
{
    const int64_t first = seekable() ? ar_.tell() : 0;
    unsigned char tag[4];
    ar_.archiveBytes(tag, 4);
    if (std::memcmp(tag, kReferenceTag, 3) != 0 || (tag[3] != kReferenceTag[3] && tag[3] != kReferenceWideTag))
        throw cmArchutilError(BadContent);
    uint8_t version = 0;
    ar_.archive(version);
    if (version > 1)
        throw cmArchutilError(UnknownVersion);
    Reference r{0, 0, kNone};
    ar_.archive(r.number).archive(r.kind);
    if (r.kind > 2)
        throw cmArchutilError(BadContent);
    long long a = 0;
    if (version == 1) {
        long long b = 0;
        ar_.archive(a).archive(b);
    } else if (tag[3] == kReferenceTag[3]) {
        int32_t a32 = 0, b32 = 0;
        ar_.archive(a32).archive(b32);
        a = a32;
    } else {
        ar_.archive(a);
    }
    r.positionA = seekable() ? absoluteFrom(a, first) : kNone;
    return r;
}

int64_t ccObjectTable::positionAOf(int64_t record)
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(record);
    Reference r = readReference();
    excursion.end();
    return r.positionA;
}

// ---- link blocks and class blocks ----

// Both links 0. Without a tag the four tag bytes are stepped over.
void ccObjectTable::writeLink(const unsigned char* tag, uint32_t value)
{
    if (tag) {
        unsigned char t[4];
        std::memcpy(t, tag, 4);
        ar_.archiveBytes(t, 4);
    } else {
        ar_.skip4();
    }
    uint8_t version = 0;
    uint32_t zero = 0;
    uint8_t last = 0;
    ar_.archive(version).archive(value).archive(zero).archive(zero).archive(zero).archive(zero).archive(last);
}

// The two halves of each link are read together: a link more than 2 GB away
// keeps its high half.
ccObjectTable::Link ccObjectTable::readLink(const unsigned char* expectedTag)
{
    const int64_t first = seekable() ? ar_.tell() : 0;
    unsigned char tag[4];
    ar_.archiveBytes(tag, 4);
    if (expectedTag && std::memcmp(tag, expectedTag, 4) != 0)
        throw cmArchutilError(BadContent);
    uint8_t version = 0;
    ar_.archive(version);
    if (version != 0)
        throw cmArchutilError(UnknownVersion);
    uint32_t value = 0, nextLow = 0, previousLow = 0, nextHigh = 0, previousHigh = 0;
    uint8_t last = 0;
    ar_.archive(value).archive(nextLow).archive(previousLow).archive(nextHigh).archive(previousHigh).archive(last);
    auto join = [](uint32_t low, uint32_t high) {
        return static_cast<int64_t>(static_cast<uint64_t>(high) << 32 | low);
    };
    if (!seekable())
        return Link{value, 0, 0, 0};
    return Link{value, first, join(nextLow, nextHigh), join(previousLow, previousHigh)};
}

void ccObjectTable::patchLink(int64_t block, bool next, int64_t target)
{
    const int64_t relative = relativeTo(target, block);
    uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(relative));
    uint32_t high = static_cast<uint32_t>(static_cast<uint64_t>(relative) >> 32);
    ar_.seek(block + (next ? kLinkNextLow : kLinkPreviousLow));
    ar_.archive(low);
    ar_.seek(block + (next ? kLinkNextHigh : kLinkPreviousHigh));
    ar_.archive(high);
}

void ccObjectTable::writeClassBlock(uint32_t number, const std::string& type)
{
    const int64_t first = seekable() ? ar_.tell() : 0;
    writeLink(kClassTag, number);
    uint8_t form = wide_ ? 1 : 0;
    ar_.archive(form);
    if (wide_) {
        unsigned long long size = 0;
        long long position = 0;
        ar_.archive(size).archive(position);
    } else {
        uint32_t size = 0;
        int32_t position = 0;
        ar_.archive(size).archive(position);
    }
    std::string name = type;
    ccArchiveTypeName(ar_, name);
    if (seekable() && ar_.isStoring() && number != 0) {
        const int64_t after = ar_.tell();
        ar_.seek(first);
        bool last = insertClassBlock(first, lastClassBlock_ != kNone ? lastClassBlock_ : classHead_);
        ar_.seek(after);
        if (last)
            lastClassBlock_ = first;
    }
}

ccObjectTable::ClassBlock ccObjectTable::readClassBlock(bool tolerateUnknownType)
{
    ClassBlock cb{seekable() ? ar_.tell() : 0, 0, 0, std::string()};
    bool wideTag = false;
    Link link{0, 0, 0, 0};
    try {
        link = readLink(kClassTag);
    } catch (const ccArchive::BadContent&) {
        if (!seekable() || !ar_.isLoading())
            throw;
        ar_.seek(cb.first);
        link = readLink(kClassWideTag);
        wideTag = true;
    }
    cb.number = link.value;
    uint8_t form = 0;
    ar_.archive(form);
    if (form > 1)
        throw cmArchutilError(UnknownVersion);
    if (form == 1) {
        unsigned long long size = 0;
        long long position = 0;
        ar_.archive(size).archive(position);
        cb.size = size;
    } else if (!wideTag) {
        uint32_t size = 0;
        int32_t position = 0;
        ar_.archive(size).archive(position);
        cb.size = size;
    } else {
        unsigned long long size = 0;
        ar_.archive(size);
        const int64_t afterSize = ar_.tell();
        // The position stands in the last 8 bytes of the extent.
        if (size > static_cast<unsigned long long>(INT64_MAX - cb.first) ||
            cb.first + static_cast<int64_t>(size) - 8 < afterSize)
            throw cmArchutilError(BadContent);
        long long position = 0;
        ar_.seek(cb.first + static_cast<int64_t>(size) - 8);
        ar_.archive(position);
        ar_.seek(afterSize);
        cb.size = size;
    }
    if (cb.size > static_cast<uint64_t>(INT64_MAX - cb.first))
        throw cmArchutilError(BadContent);
    try {
        ccArchiveTypeName(ar_, cb.type);
    } catch (const ccArchive::UnknownType&) {
        if (!tolerateUnknownType)
            throw;
    }
    return cb;
}

// The size of the class block at the current position; the position is kept.
uint64_t ccObjectTable::sizeOfClassBlockHere()
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    const int64_t first = ar_.tell();
    bool wideTag = false;
    try {
        readLink(kClassTag);
    } catch (const ccArchive::BadContent&) {
        ar_.seek(first);
        readLink(kClassWideTag);
        wideTag = true;
    }
    uint8_t form = 0;
    ar_.archive(form);
    if (form > 1)
        throw cmArchutilError(UnknownVersion);
    uint64_t size = 0;
    if (form == 1 || wideTag) {
        unsigned long long s = 0;
        ar_.archive(s);
        size = s;
    } else {
        uint32_t s = 0;
        ar_.archive(s);
        size = s;
    }
    excursion.end();
    return size;
}

// The contents of the object whose class block starts at first are written
// and the archive stands at their end: the block gets its size and the
// position of the first reference record written inside, in 32-bit form
// while they fit. The archive is left at the end of the object's extent.
void ccObjectTable::finishClassBlock(int64_t first, uint64_t referencesBefore, int64_t lastReferenceBefore)
{
    const int64_t end = ar_.tell();
    uint64_t size = static_cast<uint64_t>(end - first);
    int64_t position = 0;
    if (referencesWritten_ != referencesBefore) {
        int64_t inside = positionAOf(lastReferenceBefore != kNone ? lastReferenceBefore : referenceHead_);
        position = relativeTo(inside, first);
    }
    const int32_t mode = ar_.mode();
    ar_.setMode(ccArchive::loading);
    ar_.seek(first + kLinkSize);
    uint8_t form = 0;
    ar_.archive(form);
    ar_.setMode(ccArchive::storing);
    if (form == 1) {
        unsigned long long s = size;
        long long p = position;
        ar_.archive(s).archive(p);
    } else if (size <= 0xFFFFFFFFu && fits32(position)) {
        uint32_t s = static_cast<uint32_t>(size);
        int32_t p = static_cast<int32_t>(position);
        ar_.archive(s).archive(p);
    } else {
        // 64-bit size over both 32-bit fields; the position after the
        // contents, counted in the size.
        wide_ = true;
        unsigned char tag[4];
        std::memcpy(tag, kClassWideTag, 4);
        ar_.seek(first);
        ar_.archiveBytes(tag, 4);
        size += 8;
        unsigned long long s = size;
        long long p = position;
        ar_.seek(first + kLinkSize + 1);
        ar_.archive(s);
        ar_.seek(first + static_cast<int64_t>(size) - 8);
        ar_.archive(p);
    }
    ar_.setMode(mode);
    ar_.seek(first + static_cast<int64_t>(size));
}

// ---- the class-block chain ----

// Numbers compare as signed 32-bit values. Each step must move strictly in
// its direction: a crafted chain that loops or turns back is refused.
ccObjectTable::Found ccObjectTable::searchChain(int64_t start, uint32_t wanted)
{
    if (start == kNone)
        throw ccInvariantFailure();
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(start);
    Link link = readLink(nullptr);
    const int32_t want = static_cast<int32_t>(wanted);
    int64_t at = start;
    int32_t number = static_cast<int32_t>(link.value);
    Found result{start, number == want};
    if (number < want) {
        for (;;) {
            const int64_t nextAt = link.next();
            if (nextAt == kNone)
                break;
            ar_.seek(nextAt);
            Link next = readLink(nullptr);
            const int32_t n = static_cast<int32_t>(next.value);
            if (n <= number)
                throw cmArchutilError(BadContent);
            if (n >= want) {
                if (n == want)
                    result = Found{nextAt, true};
                break;
            }
            at = nextAt;
            number = n;
            link = next;
        }
        if (!result.found)
            result.position = at;
    } else if (number > want) {
        result.position = classHead_;
        for (int64_t previousAt = link.previous(); previousAt != kNone; previousAt = link.previous()) {
            ar_.seek(previousAt);
            Link previous = readLink(nullptr);
            const int32_t n = static_cast<int32_t>(previous.value);
            if (n >= number)
                throw cmArchutilError(BadContent);
            if (n <= want) {
                result = Found{previousAt, n == want};
                break;
            }
            number = n;
            link = previous;
        }
    }
    excursion.end();
    return result;
}

// The class block at first (its link block written) joins the chain after
// the block with the next smaller number. True when no block follows it.
bool ccObjectTable::insertClassBlock(int64_t first, int64_t start)
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(first + kLinkValue);
    uint32_t number = 0;
    ar_.archive(number);
    if (number == 0) {
        excursion.end();
        return false;
    }
    Found at = searchChain(start, number);
    if (at.found)
        throw cmArchutilError(Duplicate);
    const int64_t previous = at.position;
    ar_.seek(previous);
    const int64_t next = readLink(nullptr).next();

    ar_.setMode(ccArchive::storing);
    ar_.seek(first);
    writeLink(nullptr, number);
    patchLink(first, true, next);
    patchLink(first, false, previous);
    patchLink(previous, true, first);
    if (next != kNone)
        patchLink(next, false, first);
    excursion.end();
    return next == kNone;
}

// On the way out of a failed store: the original error is what the caller
// sees, so an error while unlinking is dropped.
void ccObjectTable::dropFailedClassBlock(int64_t first) noexcept
{
    if (!seekable())
        return;
    try {
        ar_.seek(first);
        unlinkClassBlock(first);
    } catch (...) {
    }
}

// After a failed store: the block leaves the chain and its tag becomes zero.
void ccObjectTable::unlinkClassBlock(int64_t first)
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(first);
    const Link link = readLink(nullptr);
    const int64_t previous = link.previous();
    const int64_t next = link.next();
    ar_.setMode(ccArchive::storing);
    ar_.seek(first);
    unsigned char zero[4] = {0, 0, 0, 0};
    ar_.archiveBytes(zero, 4);
    if (previous != kNone)
        patchLink(previous, true, next);
    if (next != kNone)
        patchLink(next, false, previous);
    if (lastClassBlock_ == first)
        lastClassBlock_ = previous;
    excursion.end();
}

// ---- the directory ----

void ccObjectTable::setUpDirectory()
{
    ccArchiveTableLock hold;
    directoryHead_ = ar_.tell();
    if (ar_.isStoring()) {
        writeLink(kDirectoryTag, 0);
        classHead_ = ar_.tell();
        writeClassBlock(0, std::string());
        referenceHead_ = ar_.tell();
        putReference(kReferenceTag[3], 0, 0, 0, 0);
        marker_ = ar_.tell();
        uint32_t marker = 0xFFFFFFFFu;
        ar_.archive(marker);
    } else {
        readLink(kDirectoryTag);
        classHead_ = ar_.tell();
        readClassBlock(true);
        referenceHead_ = ar_.tell();
        readReference();
        marker_ = ar_.tell();
        uint32_t marker = 0;
        ar_.archive(marker);
    }
}

void ccObjectTable::finishDirectory()
{
    ccArchiveTableLock hold;
    if (referencesWritten_ == 0 || marker_ == kNone)
        return;
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::storing);
    ar_.seek(marker_);
    uint32_t zero = 0;
    ar_.archive(zero);
    excursion.end();
}

int64_t ccObjectTable::firstRecordPosition()
{
    ccArchiveTableLock hold;
    // Reading in a storing archive would write.
    if (referenceHead_ == kNone || !ar_.isLoading())
        throw ccInvariantFailure();
    ar_.seek(referenceHead_);
    return readReference().positionA;
}

// ---- objects ----

void ccObjectTable::storePointer(const ccPersistent* object)
{
    if (!object) {
        writeReference(0, 0);
        return;
    }
    auto known = byAddress_.find(object);
    if (known != byAddress_.end()) {
        writeReference(known->second, 0);
        return;
    }
    if (!ccFindFactory(object->storedTypeName()))
        throw ccArchive::UnknownType("archutil", __LINE__, ccCanonicalTypeName(object->storedTypeName()));
    const uint32_t number = nextNumber_;
    writeReference(number, 1);
    storeObject(object, number);
}

void ccObjectTable::storeObject(const ccPersistent* object, uint32_t number)
{
    const int64_t first = seekable() ? ar_.tell() : 0;
    ++nextNumber_;
    writeClassBlock(number, object->storedTypeName());
    ccPersistent* writable = const_cast<ccPersistent*>(object);
    enter(writable, number);
    const ccPersistent* outer = current_;
    current_ = object;
    const uint64_t referencesBefore = referencesWritten_;
    const int64_t lastReferenceBefore = lastReference_;
    try {
        ccArchiveObject(*writable, ar_, false);
    } catch (...) {
        current_ = outer;
        forget(object);
        dropFailedClassBlock(first);
        throw;
    }
    current_ = outer;
    setArchived(object);
    if (seekable())
        finishClassBlock(first, referencesBefore, lastReferenceBefore);
}

ccPersistent* ccObjectTable::loadNewObject(uint32_t number)
{
    LoadNesting nesting(loadNesting_);
    ClassBlock cb = readClassBlock(false);
    ccPersistentFactory factory = cb.type.empty() ? nullptr : ccFindFactory(cb.type);
    if (!factory) // a "$nt" block: no class to make
        throw cmArchutilError(BadContent);
    ccPersistent* object = factory();
    if (!object)
        throw std::bad_alloc();
    enter(object, number);
    const ccPersistent* outer = current_;
    current_ = object;
    try {
        ccArchiveObject(*object, ar_, false);
    } catch (...) {
        current_ = outer;
        forget(object);
        delete object;
        throw;
    }
    current_ = outer;
    setArchived(object);
    if (seekable()) {
        try {
            seekForward(cb.first + static_cast<int64_t>(cb.size));
        } catch (...) {
            delete object; // forgets it
            throw;
        }
    }
    return object;
}

ccPersistent* ccObjectTable::loadPointer(bool& made)
{
    made = false;
    Reference r = readReference();
    if (r.number == 0)
        return nullptr;
    ccPersistent* object = nullptr;
    auto known = byNumber_.find(r.number);
    if (known != byNumber_.end()) {
        object = known->second;
        if (r.kind == 1) {
            // The object again, with its contents: stepped over. Without a
            // size they cannot be, and the stream would be read off course.
            ClassBlock cb = readClassBlock(true);
            if (cb.size == 0)
                throw cmArchutilError(BadContent);
            seekForward(cb.first + static_cast<int64_t>(cb.size));
        }
    } else if (r.kind == 1) {
        object = loadNewObject(r.number);
        made = true;
    } else {
        if (!seekable())
            throw cmArchutilError(NotFound);
        const int64_t saved = ar_.tell();
        Found at = searchChain(classHead_, r.number);
        if (!at.found)
            throw cmArchutilError(NotFound);
        ar_.seek(at.position);
        object = loadNewObject(r.number);
        made = true;
        try {
            ar_.seek(saved);
        } catch (...) {
            delete object;
            throw;
        }
    }
    if (r.kind == 2) {
        try {
            const int64_t at = ar_.tell();
            const uint64_t size = sizeOfClassBlockHere();
            ar_.seek(at);
            ar_.seekRelative(static_cast<int64_t>(size & 0xFFFFFFFFu), std::ios_base::cur);
        } catch (...) {
            if (made)
                delete object;
            throw;
        }
    }
    return object;
}

void ccObjectTable::storeEmbedded(ccPersistent& object)
{
    if (ar_.version() == 0)
        throw cmArchutilError(CannotWriteToOldArchive);
    if (!ccFindFactory(object.storedTypeName()))
        throw ccArchive::UnknownType("archutil", __LINE__, ccCanonicalTypeName(object.storedTypeName()));
    unsigned char tag[4];
    std::memcpy(tag, kEmbeddedTag, 4);
    ar_.archiveBytes(tag, 4);
    const int64_t first = seekable() ? ar_.tell() : 0;
    if (seekable())
        writeClassBlock(nextNumber_++, object.storedTypeName());
    const uint64_t referencesBefore = referencesWritten_;
    const int64_t lastReferenceBefore = lastReference_;
    try {
        ccArchiveObject(object, ar_, true);
    } catch (...) {
        dropFailedClassBlock(first);
        throw;
    }
    if (seekable())
        finishClassBlock(first, referencesBefore, lastReferenceBefore);
}

void ccObjectTable::loadEmbedded(ccPersistent& object)
{
    LoadNesting nesting(loadNesting_);
    bool tagged = false;
    if (ar_.version() != 0) {
        const int64_t at = seekable() ? ar_.tell() : 0;
        unsigned char tag[4];
        ar_.archiveBytes(tag, 4);
        tagged = std::memcmp(tag, kEmbeddedTag, 4) == 0;
        if (!tagged) {
            if (!seekable())
                throw cmArchutilError(NotSeekable);
            ar_.seek(at);
        }
    }
    if (!tagged && object.skipsEmbeddedRecord())
        return;
    ClassBlock cb{0, 0, 0, std::string()};
    if (seekable())
        cb = readClassBlock(false);
    ccArchiveObject(object, ar_, true);
    if (seekable())
        seekForward(cb.first + static_cast<int64_t>(cb.size));
}

} // namespace cc_detail

namespace {

cc_detail::ccObjectTable& tableOf(ccArchive& ar)
{
    auto* table = dynamic_cast<cc_detail::ccObjectTable*>(ar.objectTable());
    if (!table)
        throw ccInvariantFailure();
    return *table;
}

} // namespace

// ---- entry points ----

ccArchiveTableLock::ccArchiveTableLock() { liveTables().lock.lock(); }

ccArchiveTableLock::~ccArchiveTableLock() { liveTables().lock.unlock(); }

std::unique_ptr<ccArchiveObjectTable> ccMakeArchiveObjectTable(ccArchive& ar)
{
    return std::unique_ptr<ccArchiveObjectTable>(new cc_detail::ccObjectTable(ar));
}

void archivePointer(ccArchive& ar, const ccPersistent* stored, ccPersistent*& loaded)
{
    ccArchiveTableLock hold;
    cc_detail::ccObjectTable& table = tableOf(ar);
    if (ar.isStoring()) {
        table.storePointer(stored);
        return;
    }
    bool made = false;
    loaded = table.loadPointer(made);
}

void cc_detail::archiveCheckedPointer(ccArchive& ar, const ccPersistent* stored, ccPersistent*& loaded,
                                      bool (*isExpected)(const ccPersistent*))
{
    ccArchiveTableLock hold;
    cc_detail::ccObjectTable& table = tableOf(ar);
    if (ar.isStoring()) {
        table.storePointer(stored);
        return;
    }
    bool made = false;
    ccPersistent* p = table.loadPointer(made);
    if (p && !isExpected(p)) {
        // Nobody else can hold an object this load made.
        if (made)
            delete p;
        p = nullptr;
    }
    loaded = p;
}

// Embedded operations take the table lock too, so that the lock always comes
// before the archive mutex, also when an embedded object stores a pointer.
void archiveEmbedded(ccArchive& ar, ccPersistent& object)
{
    ccArchiveTableLock hold;
    cc_detail::ccObjectTable& table = tableOf(ar);
    if (ar.isStoring())
        table.storeEmbedded(object);
    else
        table.loadEmbedded(object);
}

ccArchive& operator<<(ccArchive& ar, const ccPersistent* object)
{
    if (!object)
        throw ccBadPointer();
    archiveEmbedded(ar, const_cast<ccPersistent&>(*object));
    return ar;
}

ccArchive& operator>>(ccArchive& ar, ccPersistent*& object)
{
    archivePointer(ar, object, object);
    return ar;
}

void ccPersistent::forgetArchived() noexcept
{
    ccArchiveTableLock hold;
    for (cc_detail::ccObjectTable* table : liveTables().tables)
        table->forget(this);
    archivedFlag_ = false;
}
