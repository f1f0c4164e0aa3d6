#include "system/csys_handle.h"

#include "system/csys_memory.h"

namespace {

csysStatus defaultRelease(void* payloadField, int32_t) { return csys_cleanupFree(payloadField); }

const csys_recordFunctions kDefaultFunctions = {&defaultRelease, &csys_defaultAddReference,
                                                &csys_defaultDropReference};

csysStatus addReference(csys_record* r)
{
    int32_t n = 0;
    return r->functions->addReference(r->count, &n, r->payload, r->type);
}

// Drops one reference and frees the payload with the last one.
csysStatus releaseRecord(csys_record* r)
{
    int32_t n = 0;
    csysStatus st = r->functions->dropReference(r->count, &n, r->payload, r->type);
    if (st < 0)
        return st;
    if (n == 0)
        return r->functions->releasePayload(&r->payload, r->type);
    return st;
}

} // namespace

csysStatus csys_defaultAddReference(int32_t* count, int32_t* newCount, void*, int32_t)
{
    return csys_atomicIncrement(count, newCount);
}

csysStatus csys_defaultDropReference(int32_t* count, int32_t* newCount, void*, int32_t)
{
    return csys_atomicDecrement(count, newCount);
}

const csys_typeDescription csys_defaultType = {0, nullptr, &kDefaultFunctions};

csysStatus csys_handleInitTyped(csys_record* record, void* payload, const csys_typeDescription* type)
{
    if (!record || !payload)
        return csysErrNullArg;
    if (!type)
        type = &csys_defaultType;
    record->functions = type->functions ? type->functions : &kDefaultFunctions;
    record->payload = payload;
    record->type = type->type;
    // An external counter is shared by every record of its type, so only the
    // record's own word starts at zero.
    record->count = type->externalCount ? type->externalCount : &record->inlineCount;
    record->inlineCount = 0;
    return csysOk;
}

csysStatus csys_handleInit(csys_record* record, void* payload)
{
    return csys_handleInitTyped(record, payload, nullptr);
}

csysStatus csys_handleAttach(csys_handle* slot, csys_record* record)
{
    if (!slot)
        return csysErrNullArg;
    *slot = record;
    return record ? addReference(record) : csysOk;
}

csysStatus csys_handleRelease(csys_handle* slot)
{
    if (!slot)
        return csysErrNullArg;
    csys_record* held = *slot;
    if (!held)
        return csysOk;
    *slot = nullptr;
    return releaseRecord(held);
}

csysStatus csys_handleAssign(csys_handle* slot, csys_record* record)
{
    if (!slot)
        return csysErrNullArg;
    if (*slot == record)
        return csysOk;
    // Reference the new record first: it may be kept alive only by the old.
    if (record) {
        csysStatus st = addReference(record);
        if (st < 0)
            return st;
    }
    csys_record* old = *slot;
    *slot = record;
    if (!old)
        return csysOk;
    csysStatus st = releaseRecord(old);
    if (st < 0) {
        // The old reference is gone either way; the slot ends empty, as a
        // failed release leaves it.
        // The new record is not taken: its count goes back to what it was.
        *slot = nullptr;
        if (record) {
            int32_t n = 0;
            record->functions->dropReference(record->count, &n, record->payload, record->type);
        }
    }
    return st;
}

csysStatus csys_handleCopy(csys_handle* destination, const csys_handle* source)
{
    if (!destination || !source)
        return csysErrNullArg;
    if (destination == source)
        return csysOk;
    return csys_handleAssign(destination, *source);
}

csysStatus csys_handleInitCopy(csys_handle* destination, const csys_handle* source)
{
    if (!destination || !source)
        return csysErrNullArg;
    *destination = nullptr;
    return csys_handleCopy(destination, source);
}

csysStatus csys_handleIsNull(const csys_handle* slot, int32_t* isNull)
{
    if (!slot || !isNull)
        return csysErrNullArg;
    *isNull = *slot ? 0 : 1;
    return csysOk;
}

csysStatus csys_handleGetObject(const csys_handle* slot, void** payload)
{
    if (!slot || !payload)
        return csysErrNullArg;
    *payload = *slot ? (*slot)->payload : nullptr;
    return csysOk;
}
