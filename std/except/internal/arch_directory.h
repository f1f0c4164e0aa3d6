// Internal to the persistence and exception core, not for callers: the record
// directory of a seekable archive. After the header stands a preamble
// (directory head, an empty class block, an empty reference record, a
// marker); the class blocks form a chain sorted by object number and the
// reference records a chain in writing order, both patched in place as later
// records are written. An unseekable archive has no directory: its records
// go out plain.
#pragma once
#include <cstdint>
#include <string>

#include "std/except/archive.h"
#include "std/except/internal/arch_record.h"

namespace cc_detail {

class ccRecordDirectory {
public:
    explicit ccRecordDirectory(ccArchive& ar) : ar_(ar) {}
    ccRecordDirectory(const ccRecordDirectory&) = delete;
    ccRecordDirectory& operator=(const ccRecordDirectory&) = delete;

    // Writes or reads the preamble; the archive stands right after the header.
    void setUp();
    // Clears the marker once reference records follow the preamble.
    void finish();
    // Where the preamble's reference record leads; the archive must be loading.
    int64_t firstRecordPosition();

    // The reference records written so far, taken before an object's
    // contents so that its class block can name the first one inside.
    struct Mark {
        uint64_t references;
        int64_t lastReference;
    };
    Mark mark() const { return Mark{referencesWritten_, lastReference_}; }

    // Appends a reference record to the chain.
    void writeReference(uint32_t number, uint8_t kind);
    // Writes a class block; an object's (number not 0) joins the chain.
    void writeClassBlock(uint32_t number, const std::string& type);
    // The contents of the object whose class block starts at first are
    // written and the archive stands at their end.
    void finishClassBlock(int64_t first, Mark before);
    // On the way out of a failed store: the original error is what the caller
    // sees, so an error while unlinking is dropped.
    void dropFailedClassBlock(int64_t first) noexcept;

    struct Found {
        int64_t position;
        bool found;
    };
    // The class block of the object numbered number in the chain; when there
    // is none, the block it would follow.
    Found findClassBlock(uint32_t number) { return searchChain(classHead_, number); }

private:
    bool seekable() const { return ar_.isSeekable(); }

    bool patchPositionA(int64_t record, int64_t target, int64_t& previousOfRecord);
    int64_t positionAOf(int64_t record);
    Found searchChain(int64_t start, uint32_t wanted);
    bool insertClassBlock(int64_t first, int64_t start);
    void unlinkClassBlock(int64_t first);
    void patchLink(int64_t block, bool next, int64_t target);

    ccArchive& ar_;
    int64_t directoryHead_ = record::kNone;
    int64_t classHead_ = record::kNone;
    int64_t referenceHead_ = record::kNone;
    int64_t marker_ = record::kNone;
    int64_t lastClassBlock_ = record::kNone;
    int64_t lastReference_ = record::kNone;
    uint64_t referencesWritten_ = 0; // after the preamble
    // Set by the first escape to 64 bits: later records are written wide.
    bool wide_ = false;
};

} // namespace cc_detail
