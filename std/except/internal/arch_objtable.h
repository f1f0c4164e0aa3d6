// Internal to the persistence and exception core, not for callers: the object
// table of one archive. It numbers the objects stored or loaded through
// pointers, keeps the record directory of a seekable archive, and is listed
// among the live tables from which a changed or dying object is forgotten.
// Every call but the constructor and destructor is made under the
// archive-table lock.
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <unordered_map>

#include "std/except/archive.h"
#include "std/except/internal/arch_directory.h"
#include "std/except/persistent.h"

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

    // A new object that a typed load refused: kept listed, and destroyed
    // with the table unless a later load hands it out (claim).
    void keepUnclaimed(ccPersistent* object) { unclaimed_.insert(object); }
    void claim(ccPersistent* object) { unclaimed_.erase(object); }

    // Removes the object from both maps; true when it was listed.
    bool forget(const ccPersistent* object);
    bool lists(const ccPersistent* object) const { return byAddress_.count(object) != 0; }

private:
    bool seekable() const { return ar_.isSeekable(); }
    void seekForward(int64_t target);

    void storeObject(const ccPersistent* object, uint32_t number);
    ccPersistent* loadNewObject(uint32_t number);
    void enter(ccPersistent* object, uint32_t number);
    // Drops every object numbered first or later (what a failed store
    // entered); one that no other table lists leaves the archived state.
    void forgetFrom(uint32_t first);
    void setArchived(const ccPersistent* object) { object->archivedFlag_ = true; }

    ccArchive& ar_;
    ccRecordDirectory directory_;
    std::map<uint32_t, ccPersistent*> byNumber_;
    std::unordered_map<const ccPersistent*, uint32_t> byAddress_;
    std::set<ccPersistent*> unclaimed_;
    uint32_t nextNumber_ = 1;
    int nesting_ = 0;
};

} // namespace cc_detail
