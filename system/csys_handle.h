// Counted object records and the handle slots that share them.
//
// A record names its payload, a type word, and the counter that its handles
// share (its own inline count or an external one named by its type). Each
// slot that holds a record owns one reference; the last release frees the
// payload through the type's function table.
#pragma once
#include <cstdint>

#include "system/csys_status.h"

struct csys_recordFunctions {
    // Receives the address of the record's payload field.
    csysStatus (*releasePayload)(void* payloadField, int32_t type);
    csysStatus (*addReference)(int32_t* count, int32_t* newCount, void* payload, int32_t type);
    csysStatus (*dropReference)(int32_t* count, int32_t* newCount, void* payload, int32_t type);
};

struct csys_typeDescription {
    int32_t type;
    int32_t* externalCount; // null: each record counts inline
    const csys_recordFunctions* functions;
};

// An owner may place fields of its own after these.
struct csys_record {
    const csys_recordFunctions* functions;
    void* payload;
    int32_t type;
    int32_t* count;
    int32_t inlineCount;
};

typedef csys_record* csys_handle;

// Type word 0, no external counter, payload freed from the process heap.
extern const csys_typeDescription csys_defaultType;

// The default type's reference functions (atomic increment and decrement of
// *count), for types that only release their payload their own way.
[[nodiscard]] csysStatus csys_defaultAddReference(int32_t* count, int32_t* newCount, void* payload, int32_t type);
[[nodiscard]] csysStatus csys_defaultDropReference(int32_t* count, int32_t* newCount, void* payload, int32_t type);

[[nodiscard]] csysStatus csys_handleInitTyped(csys_record* record, void* payload, const csys_typeDescription* type);
[[nodiscard]] csysStatus csys_handleInit(csys_record* record, void* payload);

[[nodiscard]] csysStatus csys_handleAttach(csys_handle* slot, csys_record* record);
[[nodiscard]] csysStatus csys_handleAssign(csys_handle* slot, csys_record* record);
[[nodiscard]] csysStatus csys_handleRelease(csys_handle* slot);
[[nodiscard]] csysStatus csys_handleCopy(csys_handle* destination, const csys_handle* source);
[[nodiscard]] csysStatus csys_handleInitCopy(csys_handle* destination, const csys_handle* source);
[[nodiscard]] csysStatus csys_handleIsNull(const csys_handle* slot, int32_t* isNull);
[[nodiscard]] csysStatus csys_handleGetObject(const csys_handle* slot, void** payload);
