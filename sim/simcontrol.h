// The test-only control entry of the simulated driver module. The library
// never calls it: tests open the simulator's file themselves (the same
// handle the library's loader gets), fetch SimControl and set up what the
// next roots will offer, inject failures and read the audit of live objects
// and references. Plain C types only, so that both sides agree on the layout.
#pragma once
#include <cstdint>

// One video format the module offers through its format list.
struct ccSimFormat {
    const char16_t* name; // copied; at most 255 units are offered
    uint32_t width;
    uint32_t height;
    uint32_t depth;
    int32_t hasValue;    // the item answers 99
    int32_t defaultCode; // what 99 gives
};

// Ways the last error is handed out after a failure.
enum ccSimErrorMode : int32_t {
    ccSimErrorBytes = 0,      // an error object answering 27 with the bytes
    ccSimErrorNoData = 1,     // an error object that does not answer 27
    ccSimErrorNoObject = 2,   // lastError gives null
};

// Live objects and references, counted over every object the module made
// since the last reset.
struct ccSimAudit {
    uint32_t created;      // objects made
    uint32_t live;         // objects not yet destroyed
    uint32_t references;   // references still held on live objects
    uint32_t overReleases; // releases of an object whose count was already 0
    uint32_t roots;        // roots handed out by GetComponentInterface
};

struct ccSimControl {
    uint32_t version; // 1

    // Back to the defaults: no boards, no formats, no discovery, the root
    // answers 21 and 22, no failures; the audit starts again from zero.
    void (*reset)();

    // Boards of the board list (names copied).
    void (*setBoards)(const char16_t* const* names, uint32_t count);
    // Formats offered under listId (115 or 35; 0: 21 answers neither).
    void (*setFormats)(const ccSimFormat* formats, uint32_t count, int32_t listId);
    // Whether the root answers 21 and 22.
    void (*setRootOffers)(int32_t errorSource, int32_t boardList);

    // Whether the root answers 100. Discovery finishes only after
    // finishDiscovery; until then wait gives ready 0 once its time-out
    // passes (a wait without limit blocks until finishDiscovery).
    void (*setDiscovery)(int32_t offered);
    void (*finishDiscovery)();

    // The next call of (interface id, slot) fails with status 1, after
    // storing the given last-error bytes (copied) under the given mode.
    void (*failNext)(int32_t iid, int32_t slot, const uint8_t* bytes, uint32_t count, int32_t mode);
    // Stores a last error without failing anything.
    void (*setLastError)(const uint8_t* bytes, uint32_t count, int32_t mode);

    void (*audit)(ccSimAudit* out);
    // Calls of (interface id, slot) since the last reset; the root is id 0.
    uint32_t (*callCount)(int32_t iid, int32_t slot);
};

extern "C" {
typedef const ccSimControl* (*ccSimControlFunction)();
}
constexpr const char* ccSimControlName = "SimControl";
