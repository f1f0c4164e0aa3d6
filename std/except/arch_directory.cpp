#include "std/except/internal/arch_directory.h"

#include <cstring>

#include "std/except/internal/archutil_error.h"

namespace cc_detail {

using namespace record;

// ---- the preamble ----

void ccRecordDirectory::setUp()
{
    directoryHead_ = ar_.tell();
    if (ar_.isStoring()) {
        writeLink(ar_, kDirectoryTag, 0);
        classHead_ = ar_.tell();
        writeClassBlock(0, std::string());
        referenceHead_ = ar_.tell();
        putReference(ar_, kReferenceTag[3], 0, 0, 0, 0);
        marker_ = ar_.tell();
        uint32_t marker = 0xFFFFFFFFu;
        ar_.archive(marker);
    } else {
        readLink(ar_, kDirectoryTag);
        classHead_ = ar_.tell();
        readClassBlock(ar_, true);
        referenceHead_ = ar_.tell();
        readReference(ar_);
        marker_ = ar_.tell();
        uint32_t marker = 0;
        ar_.archive(marker);
    }
}

void ccRecordDirectory::finish()
{
    if (referencesWritten_ == 0 || marker_ == kNone)
        return;
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::storing);
    ar_.seek(marker_);
    uint32_t zero = 0;
    ar_.archive(zero);
    excursion.end();
}

int64_t ccRecordDirectory::firstRecordPosition()
{
    // Reading in a storing archive would write.
    if (referenceHead_ == kNone || !ar_.isLoading())
        throw ccInvariantFailure();
    ar_.seek(referenceHead_);
    return readReference(ar_).positionA;
}

// ---- the reference-record chain ----

void ccRecordDirectory::writeReference(uint32_t number, uint8_t kind)
{
    if (!seekable()) {
        putReference(ar_, kReferenceTag[3], 0, number, kind, 0);
        return;
    }
    const int64_t here = ar_.tell();
    const int64_t previous = lastReference_ != kNone ? lastReference_ : referenceHead_;
    int64_t previousOfPrevious = kNone;
    bool escaped = previous != kNone && patchPositionA(previous, here, previousOfPrevious);
    // After an escape the patched record has lost its position B: the new
    // record leads past it to the one before.
    const int64_t b = escaped ? previousOfPrevious : previous;
    putReference(ar_, escaped ? kReferenceWideTag : kReferenceTag[3], wide_ ? 1 : 0, number, kind,
                 relativeTo(b, here));
    lastReference_ = here;
    ++referencesWritten_;
}

// Makes position A of the record lead to target. True when it had to take
// the 64-bit escape; previousOfRecord is then where its position B led.
bool ccRecordDirectory::patchPositionA(int64_t record, int64_t target, int64_t& previousOfRecord)
{
    Excursion excursion(ar_);
    const int64_t relative = target - record;
    ar_.setMode(ccArchive::loading);
    ar_.seek(record + ReferenceLayout::version.offset);
    uint8_t version = 0;
    ar_.archive(version);
    bool escaped = false;
    if (version == 1) {
        long long a = relative;
        ar_.setMode(ccArchive::storing);
        ar_.seek(record + ReferenceLayout::positionA64.offset);
        ar_.archive(a);
    } else if (fits32(relative)) {
        int32_t a = static_cast<int32_t>(relative);
        ar_.setMode(ccArchive::storing);
        ar_.seek(record + ReferenceLayout::positionA.offset);
        ar_.archive(a);
    } else {
        int32_t b = 0;
        ar_.seek(record + ReferenceLayout::positionB.offset);
        ar_.archive(b);
        previousOfRecord = absoluteFrom(b, record);
        unsigned char tag[4] = {kReferenceTag[0], kReferenceTag[1], kReferenceTag[2], kReferenceWideTag};
        long long a = relative;
        ar_.setMode(ccArchive::storing);
        ar_.seek(record);
        ar_.archiveBytes(tag, 4);
        ar_.seek(record + ReferenceLayout::positionA64.offset);
        ar_.archive(a);
        wide_ = true;
        escaped = true;
    }
    excursion.end();
    return escaped;
}

int64_t ccRecordDirectory::positionAOf(int64_t record)
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(record);
    Reference r = readReference(ar_);
    excursion.end();
    return r.positionA;
}

// ---- class blocks ----

void ccRecordDirectory::writeClassBlock(uint32_t number, const std::string& type)
{
    const int64_t first = seekable() ? ar_.tell() : 0;
    putClassBlock(ar_, number, type, wide_);
    if (seekable() && ar_.isStoring() && number != 0) {
        const int64_t after = ar_.tell();
        ar_.seek(first);
        bool last = insertClassBlock(first, lastClassBlock_ != kNone ? lastClassBlock_ : classHead_);
        ar_.seek(after);
        if (last)
            lastClassBlock_ = first;
    }
}

// The block gets its size and the position of the first reference record
// written inside, in 32-bit form while they fit. The archive is left at the
// end of the object's extent.
void ccRecordDirectory::finishClassBlock(int64_t first, Mark before)
{
    const int64_t end = ar_.tell();
    uint64_t size = static_cast<uint64_t>(end - first);
    int64_t position = 0;
    if (referencesWritten_ != before.references) {
        int64_t inside = positionAOf(before.lastReference != kNone ? before.lastReference : referenceHead_);
        position = relativeTo(inside, first);
    }
    const int32_t mode = ar_.mode();
    ar_.setMode(ccArchive::loading);
    ar_.seek(first + ClassBlockLayout::form.offset);
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
        size += ClassBlockLayout::trailingPosition;
        unsigned long long s = size;
        long long p = position;
        ar_.seek(first + ClassBlockLayout::size64.offset);
        ar_.archive(s);
        ar_.seek(first + static_cast<int64_t>(size) - ClassBlockLayout::trailingPosition);
        ar_.archive(p);
    }
    ar_.setMode(mode);
    ar_.seek(first + static_cast<int64_t>(size));
}

void ccRecordDirectory::dropFailedClassBlock(int64_t first) noexcept
{
    if (!seekable())
        return;
    try {
        ar_.seek(first);
        unlinkClassBlock(first);
    } catch (...) {
    }
}

// ---- the class-block chain ----

// Numbers compare as signed 32-bit values. Each step must move strictly in
// its direction: a crafted chain that loops or turns back is refused.
ccRecordDirectory::Found ccRecordDirectory::searchChain(int64_t start, uint32_t wanted)
{
    if (start == kNone)
        throw ccInvariantFailure();
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(start);
    Link link = readLink(ar_, nullptr);
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
            Link next = readLink(ar_, nullptr);
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
            Link previous = readLink(ar_, nullptr);
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
bool ccRecordDirectory::insertClassBlock(int64_t first, int64_t start)
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(first + LinkLayout::value.offset);
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
    const int64_t next = readLink(ar_, nullptr).next();

    ar_.setMode(ccArchive::storing);
    ar_.seek(first);
    writeLink(ar_, nullptr, number);
    patchLink(first, true, next);
    patchLink(first, false, previous);
    patchLink(previous, true, first);
    if (next != kNone)
        patchLink(next, false, first);
    excursion.end();
    return next == kNone;
}

// After a failed store: the block leaves the chain and its tag becomes zero.
void ccRecordDirectory::unlinkClassBlock(int64_t first)
{
    Excursion excursion(ar_);
    ar_.setMode(ccArchive::loading);
    ar_.seek(first);
    const Link link = readLink(ar_, nullptr);
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

void ccRecordDirectory::patchLink(int64_t block, bool next, int64_t target)
{
    const int64_t relative = relativeTo(target, block);
    uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(relative));
    uint32_t high = static_cast<uint32_t>(static_cast<uint64_t>(relative) >> 32);
    ar_.seek(block + (next ? LinkLayout::nextLow : LinkLayout::previousLow).offset);
    ar_.archive(low);
    ar_.seek(block + (next ? LinkLayout::nextHigh : LinkLayout::previousHigh).offset);
    ar_.archive(high);
}

} // namespace cc_detail
