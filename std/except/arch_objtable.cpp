#include "std/except/internal/arch_objtable.h"

#include <new>
#include <set>
#include <string>

#include "std/except/archutil.h"
#include "std/except/internal/arch_record.h"
#include "std/except/internal/archive_tables.h"
#include "std/except/internal/archutil_error.h"
#include "std/except/persist.h"
#include "std/except/resource.h"

namespace {

// Nested objects through pointers and by value. A crafted stream could
// otherwise nest until the stack runs out; an error sent by the board driver
// module or a peer arrives through this code. Storing keeps to the same
// limit, so that whatever is stored loads back.
constexpr int kMaxNesting = 256; // deep enough for real graphs, shallow enough for small thread stacks

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

// Counts the nesting of objects; too deep is a corrupt stream, or a graph
// that no load would accept.
class Nesting {
public:
    explicit Nesting(int& depth) : depth_(depth)
    {
        if (depth_ >= kMaxNesting)
            throw cmArchutilError(BadContent);
        ++depth_;
    }
    ~Nesting() { --depth_; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;

private:
    int& depth_;
};

// Under the archive-table lock.
bool listedInAnyTable(const ccPersistent* object)
{
    for (const cc_detail::ccObjectTable* t : liveTables().tables)
        if (t->lists(object))
            return true;
    return false;
}

} // namespace

// ---- the archive-table lock and the live tables ----

ccArchiveTableLock::ccArchiveTableLock() { liveTables().lock.lock(); }

ccArchiveTableLock::~ccArchiveTableLock() { liveTables().lock.unlock(); }

void ccPersistent::forgetArchived() noexcept
{
    ccArchiveTableLock hold;
    for (cc_detail::ccObjectTable* table : liveTables().tables)
        table->forget(this);
    archivedFlag_ = false;
}

namespace cc_detail {

ccObjectTable::ccObjectTable(ccArchive& ar) : ar_(ar), directory_(ar)
{
    ccArchiveTableLock hold;
    liveTables().tables.insert(this);
}

ccObjectTable::~ccObjectTable()
{
    std::set<ccPersistent*> unclaimed;
    {
        ccArchiveTableLock hold;
        liveTables().tables.erase(this);
        // An object leaves the archived state with the last table that lists it.
        for (const auto& entry : byAddress_)
            if (!listedInAnyTable(entry.first))
                entry.first->archivedFlag_ = false;
        unclaimed.swap(unclaimed_);
    }
    // Nobody else holds these; their destructors run outside the lock.
    for (ccPersistent* object : unclaimed)
        delete object;
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

void ccObjectTable::forgetFrom(uint32_t first)
{
    for (auto it = byNumber_.lower_bound(first); it != byNumber_.end(); it = byNumber_.erase(it)) {
        auto a = byAddress_.find(it->second);
        if (a != byAddress_.end() && a->second == it->first)
            byAddress_.erase(a);
        if (!listedInAnyTable(it->second))
            it->second->archivedFlag_ = false;
    }
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

// ---- the directory, for the archive ----

void ccObjectTable::setUpDirectory()
{
    ccArchiveTableLock hold;
    directory_.setUp();
}

void ccObjectTable::finishDirectory()
{
    ccArchiveTableLock hold;
    directory_.finish();
}

int64_t ccObjectTable::firstRecordPosition()
{
    ccArchiveTableLock hold;
    return directory_.firstRecordPosition();
}

// ---- objects ----

void ccObjectTable::storePointer(const ccPersistent* object)
{
    if (!object) {
        directory_.writeReference(0, 0);
        return;
    }
    auto known = byAddress_.find(object);
    if (known != byAddress_.end()) {
        directory_.writeReference(known->second, 0);
        return;
    }
    if (!ccFindFactory(object->storedTypeName()))
        throw ccArchive::UnknownType("archutil", __LINE__, ccCanonicalTypeName(object->storedTypeName()));
    // Refused before its record is written, as a load would refuse it.
    Nesting nesting(nesting_);
    const uint32_t number = nextNumber_;
    directory_.writeReference(number, 1);
    storeObject(object, number);
}

void ccObjectTable::storeObject(const ccPersistent* object, uint32_t number)
{
    const int64_t first = seekable() ? ar_.tell() : 0;
    ++nextNumber_;
    directory_.writeClassBlock(number, object->storedTypeName());
    ccPersistent* writable = const_cast<ccPersistent*>(object);
    enter(writable, number);
    const ccRecordDirectory::Mark before = directory_.mark();
    try {
        ccArchiveObject(*writable, ar_, false);
    } catch (...) {
        // The object and everything stored inside it: their records belong
        // to a store that failed, and no later reference may lead to them.
        forgetFrom(number);
        directory_.dropFailedClassBlock(first);
        throw;
    }
    setArchived(object);
    if (seekable())
        directory_.finishClassBlock(first, before);
}

ccPersistent* ccObjectTable::loadNewObject(uint32_t number)
{
    Nesting nesting(nesting_);
    record::ClassBlock cb = record::readClassBlock(ar_, false);
    ccPersistentFactory factory = cb.type.empty() ? nullptr : ccFindFactory(cb.type);
    if (!factory) // a "$nt" block: no class to make
        throw cmArchutilError(BadContent);
    ccPersistent* object = factory();
    if (!object)
        throw std::bad_alloc();
    enter(object, number);
    try {
        ccArchiveObject(*object, ar_, false);
    } catch (...) {
        forget(object);
        delete object;
        throw;
    }
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
    record::Reference r = record::readReference(ar_);
    if (r.number == 0)
        return nullptr;
    ccPersistent* object = nullptr;
    auto known = byNumber_.find(r.number);
    if (known != byNumber_.end()) {
        object = known->second;
        if (r.kind == 1) {
            // The object again, with its contents: stepped over. Without a
            // size they cannot be, and the stream would be read off course.
            record::ClassBlock cb = record::readClassBlock(ar_, true);
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
        ccRecordDirectory::Found at = directory_.findClassBlock(r.number);
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
            const uint64_t size = record::sizeOfClassBlockHere(ar_);
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
    Nesting nesting(nesting_);
    const uint32_t firstNumber = nextNumber_;
    record::writeEmbeddedTag(ar_);
    const int64_t first = seekable() ? ar_.tell() : 0;
    if (seekable())
        directory_.writeClassBlock(nextNumber_++, object.storedTypeName());
    const ccRecordDirectory::Mark before = directory_.mark();
    try {
        ccArchiveObject(object, ar_, true);
    } catch (...) {
        forgetFrom(firstNumber);
        directory_.dropFailedClassBlock(first);
        throw;
    }
    if (seekable())
        directory_.finishClassBlock(first, before);
}

void ccObjectTable::loadEmbedded(ccPersistent& object)
{
    Nesting nesting(nesting_);
    bool tagged = false;
    if (ar_.version() != 0) {
        const int64_t at = seekable() ? ar_.tell() : 0;
        tagged = record::readEmbeddedTag(ar_);
        if (!tagged) {
            if (!seekable())
                throw cmArchutilError(NotSeekable);
            ar_.seek(at);
        }
    }
    if (!tagged && object.skipsEmbeddedRecord())
        return;
    record::ClassBlock cb{0, 0, 0, std::string()};
    if (seekable())
        cb = record::readClassBlock(ar_, false);
    ccArchiveObject(object, ar_, true);
    if (seekable())
        seekForward(cb.first + static_cast<int64_t>(cb.size));
}

} // namespace cc_detail
