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
    ccSimErrorKept = 3,       // failNext only: the thread's last error stays as it is
};

// The failure word of an acquisition's information (its third word).
enum ccSimFailure : uint32_t {
    ccSimFailedOverrun = 1, // no free module buffer, or injected
    ccSimFailedTimeout = 2, // nothing acquired within the FIFO's time-out
};

// Live objects and references, counted over every object the module made
// since the last reset. Each interface of an object counts its own
// references: a release pairs with a reference taken through the same
// interface (its query, or its add-reference).
struct ccSimAudit {
    uint32_t created;      // objects made
    uint32_t live;         // objects not yet destroyed
    uint32_t references;   // references still held on live objects
    uint32_t overReleases; // releases through an interface that held no reference
    uint32_t roots;        // roots handed out by GetComponentInterface
};

// One property request as the module received it (a get or read: before
// the module wrote its answer). A request that failed is not kept.
struct ccSimRequest {
    int32_t slot; // 4 set, 5 get (38), 3 read (92)
    int32_t id;
    int32_t channel;
    double value;
    uint32_t valid;
    uint32_t reserved;
};

// One record of the property-information list (46 and 47).
struct ccSimPropertyInfo {
    uint32_t id;
    double minimum, maximum, defaultValue;
    uint32_t word;
};

// The pels of every simulated frame: channel c of pel (x, y) of the frame
// delivered for ticket. A 16-bit pel is 257 times its 8-bit value; packed
// pels hold channels 0, 1, 2 (and 0 in the fourth byte of 32-bit pels);
// planes are channels 0, 1, 2.
inline uint8_t ccSimPel(uint32_t x, uint32_t y, uint32_t ticket, uint32_t channel)
{
    return static_cast<uint8_t>(x + 2 * y + 3 * ticket + 85 * channel);
}

// One board of the family (version 5).
struct ccSimBoardModel {
    int32_t ids[4];     // the model ids its interface answers; 0 ends them
    uint32_t variant;   // what 64 and 67 slot 3 give
    uint32_t cameras;   // a 72 board: bit i, a camera is present on channel i
    const char* serial; // null: the shared EERAM
};

// An imaging device of the board list (version 6): the board of that index
// answers kind in place of 63, its board interface answers 23 (the core,
// whose slot 8 gives serial) and the ids its class holds: 106 and 103; 97,
// 103, 104 and 107; or 44 (slot 3: sortValue), 77, 85, 88, 94 and 101
// (slot 4: identity). It offers no EERAM and no lines.
struct ccSimDevice {
    uint32_t board;
    int32_t kind; // 106 imaging device, 97 GigE Vision camera, 44 IEEE 1394 camera
    const char16_t* serial;
    const char16_t* identity;
    uint32_t sortValue;
};

// A feature every device knows (version 6): 113 slot 3 lists it under
// parent, slot 4 answers kind, slots 5 and 6 its choices and entries; 103
// slot 4 answers value, which slot 5 replaces. A feature not known, or an
// index past the list, refuses the call. Texts are copied.
struct ccSimFeature {
    const char16_t* name;
    const char16_t* parent;
    int32_t kind;
    const char16_t* value;
    const char16_t* const* choices;
    uint32_t choiceCount;
    const char16_t* const* entries;
    uint32_t entryCount;
};

struct ccSimControl {
    uint32_t version; // 8

    // Back to the defaults: no boards, no formats, no discovery, the root
    // answers 21 and 22, no failures; the audit starts again from zero.
    // Every thread's last error is cleared.
    void (*reset)();

    // Boards of the board list (names copied).
    void (*setBoards)(const char16_t* const* names, uint32_t count);
    // Formats offered under listId (115 or 35; 0: 21 answers neither).
    void (*setFormats)(const ccSimFormat* formats, uint32_t count, int32_t listId);
    // Whether the root answers 21 and 22.
    void (*setRootOffers)(int32_t errorSource, int32_t boardList);

    // Whether the root answers 100. Discovery finishes only after
    // finishDiscovery; until then wait gives ready 0 once its time-out
    // passes (a wait without limit blocks until finishDiscovery). With 2
    // the module runs its own: start begins it on a module thread, which
    // finishes it a few milliseconds later.
    void (*setDiscovery)(int32_t offered);
    void (*finishDiscovery)();

    // The next call of (interface id, slot) fails with status 1, after
    // storing the given last-error bytes (copied) under the given mode as
    // the calling thread's last error (ccSimErrorKept: storing nothing).
    void (*failNext)(int32_t iid, int32_t slot, const uint8_t* bytes, uint32_t count, int32_t mode);
    // Stores the calling thread's last error without failing anything.
    void (*setLastError)(const uint8_t* bytes, uint32_t count, int32_t mode);

    void (*audit)(ccSimAudit* out);
    // Calls of (interface id, slot) since the last reset; the root is id 0.
    uint32_t (*callCount)(int32_t iid, int32_t slot);

    // --- Version 2: boards, FIFOs, acquisitions, lines and EERAM. ---
    //
    // Each board answers 63; that interface answers 23, 116, 113, 80 (on the
    // core), 66 (on the core), 49 (on the core), 52, 81, 54 and, when
    // offered, 105. Module FIFOs answer 24; the core answers 30, 31, 38, 92,
    // 40, 43, 45, 61, 75, 93, 120, 83, 118, 28, 29, 65, 76, 111 and 46. Every
    // id is offered after reset except 105 and 61.
    void (*setOffered)(int32_t iid, int32_t offered);
    // Out value number index (0 first) of (iid, slot) from now on; every out
    // value not set is 0, except 23 slot 4 and 49 slot 4 (supported: 1),
    // 23 slot 6 and 40 slot 7 (ports: 1), 40 slot 4 (channels: 1) and 24
    // slot 3 (accepted: 1); version 5 adds 71 slot 6 and 76 slot 3 (1).
    void (*setAnswer)(int32_t iid, int32_t slot, uint32_t index, double value);
    // Version 4 gives more out values a board's value (see below).
    // The text answered by (iid, slot): 116 slot 4, 118 slot 3, 108 slot 3
    // (version 5: 71 slot 5).
    void (*setText)(int32_t iid, int32_t slot, const char16_t* text);
    // The numeric in-arguments of the last call of (iid, slot), in order
    // (addresses and objects count 1 when not null, else 0); returns how
    // many there were.
    uint32_t (*lastArgs)(int32_t iid, int32_t slot, double* out, uint32_t capacity);
    // The text argument of the last call of (iid, slot) (format names, the
    // custom-property text); returns its length, copying at most capacity.
    uint32_t (*lastText)(int32_t iid, int32_t slot, char16_t* out, uint32_t capacity);

    // Frames of every FIFO (default 640 x 480).
    void (*setFrameSize)(uint32_t width, uint32_t height);
    // When on, a started acquisition waits for softwareTrigger, which
    // releases the oldest waiting one.
    void (*setTriggered)(int32_t on);
    void (*softwareTrigger)();
    // The next n acquisitions to be delivered end in an overrun: no frame,
    // the overrun callbacks run with the ticket, and their completion sets a
    // non-zero status through the arguments and hands out a result without a
    // frame (info third word 1).
    void (*injectOverruns)(uint32_t n);
    // Stored as the last error when a completion finds no acquisition ended
    // within its time-out (none set: the call fails without an error).
    void (*setTimeoutError)(const uint8_t* bytes, uint32_t count);
    // Frames handed to the library and not yet released by it.
    uint32_t (*liveFrames)();
    // Module FIFOs whose worker is running.
    uint32_t (*liveFifos)();

    // Property requests received through 38 and 92, oldest first; returns
    // how many there are, copying at most capacity.
    uint32_t (*requests)(ccSimRequest* out, uint32_t capacity);
    void (*clearRequests)();
    // What a get of id answers; valid 0 leaves the record's valid word 0.
    void (*setPropertyValue)(int32_t id, double value, int32_t valid);
    // Property numbers that 43 answers as supported; count -1: all (reset).
    void (*setSupported)(const int32_t* numbers, int32_t count);
    // What 83 answers for index 0, 1, ...; after the last, 0 (reset: none).
    void (*setSampleValues)(const int32_t* values, uint32_t count);
    // What 46 lists (reset: nothing).
    void (*setPropertyInfos)(const ccSimPropertyInfo* records, uint32_t count);

    // Lines of 54 (reset: 16 inputs, 20 outputs).
    void (*setLineCounts)(uint32_t inputs, uint32_t outputs);
    // The last code received through 80 (0: none).
    int32_t (*ioCode)();
    // EERAM contents (reset: 256 bytes of 0).
    void (*setEERAM)(const uint8_t* bytes, uint32_t count);

    // --- Version 3: FIFOs that behave like a board. Reset restores the
    // defaults, which keep the behaviour of version 2. ---
    //
    // Always: a FIFO's time-out is the value of its last set request of
    // 1003 (seconds; none, or not finite: no limit). A started acquisition
    // not acquired within it ends failed (failure word 2, no frame), its
    // complete callbacks called. The last error is kept per calling thread.
    // A delivery calls the move-part callbacks, makes the acquisition
    // completable, and only then calls the complete or overrun callbacks.
    //
    // Frames per second of every FIFO (0: none, an acquisition is made as
    // soon as it may be). With a rate, a FIFO acquires at most one frame per
    // period, on its own clock.
    void (*setFrameRate)(double perSecond);
    // Module buffers of each FIFO (0: no limit). A frame holds one from its
    // acquisition until the library releases its result; an acquisition due
    // while every buffer is held ends in an overrun (failure word 1), its
    // overrun callbacks called with its ticket.
    void (*setBufferCount)(uint32_t count);
    // When on, each FIFO honours its own trigger: nothing is acquired while
    // its trigger is disabled (24 slot 5); its trigger model says what
    // acquires: Manual (24 slot 7 index 0) the start; Automatic,
    // Semi-Automatic and Slave (1 to 3) a softwareTrigger for each started
    // acquisition; a custom model (slot 8) with flag byte 0 or 3 set the
    // same, else with byte 6 (software start) the start, else free run: a
    // start is not accepted, and the FIFO acquires at the frame rate by
    // itself, the tickets counting its frames from 0 (a frame without a
    // free buffer is lost: the overrun callbacks run with its ticket and
    // nothing is queued). Off (reset): the trigger flag and model are only
    // recorded.
    void (*setTriggerControl)(int32_t on);
    // Lost device: from now on every call but those of 21 and 27 (queries
    // among them) fails with status 1 after storing the bytes as the calling
    // thread's last error, and nothing more is acquired. lost 0 ends it.
    void (*setDeviceLost)(int32_t lost, const uint8_t* bytes, uint32_t count);
    // Module threads that call a FIFO's callbacks: 1 (reset), the worker
    // calls them all; 2, the worker calls move part and a second thread of
    // the FIFO the complete and overrun callbacks, in delivery order.
    void (*setCallbackThreads)(uint32_t count);

    // --- Version 4: a FIFO answers what a board knows of its properties.
    // Reset gives these board values (setAnswer, setPropertyValue,
    // setSampleValues and setPropertyInfos replace them):
    //   40 slot 6 (entries per input table) 256, slot 8 (CTI limit) 1.0,
    //   slot 9 (horizontal adjustment limit) 1.0, slot 10 (region limits)
    //   0, 0 and the frame size; 75 slot 5 (encoder ports) 2;
    //   gets (38 slot 5) of 1000 (2e-5), 1019 and 1020 (0.5) and 9013 (0),
    //   each valid; sample values 1, 2 and 4; the property-information list
    //   1000 {1e-6, 10, 2e-5}, 1004 {0, 1, 0}, 1005 {0, 0.01, 2e-5},
    //   1007 {0, 0.01, 0}, 1019 and 1020 {0, 1, 0.5}, 6002 {0, 0.01, 0},
    //   9011 and 9012 {1, 4, 1} (minimum, maximum, default; word 0).
    // The region (40 slot 3: x, y, width, height) of a FIFO must lie in the
    // frame (checked in 64 bits; else refused); from then on its frames are
    // the region's size and hold the full frame's pels at the region's
    // place. A width or height of 0 asks for the whole frame, as does a
    // region that no longer fits the frame size.
    // ROI modes that 120 slot 3 answers as supported (reset: mode 0).
    void (*setRoiModes)(const int32_t* modes, uint32_t count);
    // The next set (38 slot 4) of property id fails as failNext does; the
    // requests before it, and those of other ids, go through.
    void (*failProperty)(int32_t id, const uint8_t* bytes, uint32_t count, int32_t mode);

    // --- Version 5: the board family. ---
    //
    // What board index of the list is (null: a 7320, as every board after
    // reset). Its interface answers each model id of the model with itself,
    // whatever setOffered says; through it also 117, 74, 87 and 90, each
    // with a new object answering only its id (as offered). 64 and 67
    // slot 3 give the variant. A 72 board's slot 3 gives channel objects
    // for 0 to 2 (a null one beyond); each answers 71 with a camera whose
    // slot 3 says whether it is present (bit i of cameras for channel i),
    // slot 5 gives its name (the 71 slot 5 text, else "camera <i>") and
    // slot 6 whether it takes a format (default 1). With a serial, the
    // board has an EERAM of its own: the contents of the time, the serial
    // written at the serial record; without, the shared one. A 76 location
    // is valid by default (slot 3 answers 1).
    void (*setBoardModel)(uint32_t index, const struct ccSimBoardModel* model);

    // --- Version 6: imaging devices and their features (reset: none). ---
    void (*setDevices)(const ccSimDevice* devices, uint32_t count);
    void (*setFeatures)(const ccSimFeature* features, uint32_t count);

    // --- Version 7: lines as a board has them. Every line object of one
    // direction and number reaches the same line, whose enabled flag and
    // level reset clears. An output outside the configuration of the last
    // code received through 80 (a code outside the table: none) refuses
    // setValue and pulse. ---
    //
    // A module thread raises count transitions of an edge code (1 high to
    // low: level 0; 2 low to high: level 1) on input line, each releasing
    // once every wake object added to that line with that code. Returns at
    // once.
    void (*raiseEdges)(uint32_t line, uint32_t code, uint32_t count);
    // Waits until every transition raised so far has been raised (reset
    // waits too).
    void (*waitEdges)();
    // Transitions raised on input line since the last reset.
    uint32_t (*edges)(uint32_t line);
    // Wake objects input line keeps.
    uint32_t (*wakeObjects)(uint32_t line);

    // --- Version 8: failures by position. ---
    //
    // The n-th module call from now (1: the next; queries and slots from 3,
    // of any object and thread) fails as failNext says; 0 takes back one
    // not yet made. Reset takes it back too.
    void (*failCall)(uint32_t n, const uint8_t* bytes, uint32_t count, int32_t mode);
    // Module calls, counted as failCall counts them, since the last reset.
    uint32_t (*calls)();
};

extern "C" {
typedef const ccSimControl* (*ccSimControlFunction)();
}
constexpr const char* ccSimControlName = "SimControl";
