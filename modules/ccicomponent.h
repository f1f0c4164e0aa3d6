// The component-interface contract between the library and a board driver
// module. The driver module is a separate shared object that exports
// GetComponentInterface; everything else is reached through the interfaces
// below, asked for by integer id. Both sides compile against this header
// alone, so it depends on nothing but the language.
//
// Layout rules, so that slot N is the Nth virtual function on both sides:
// - every interface derives from ccIUnknown alone, declares no virtual
//   destructor and no overloaded virtual;
// - widths are fixed: int32_t, uint32_t, double; a field that carries an
//   address or a handle is pointer-sized;
// - text is UTF-16 (char16_t), lengths are counted in UTF-16 units.
//
// Who references what:
// - query and every operation that hands out an interface give the caller
//   one reference, which the caller gives back with release. The caller
//   zeroes the out pointer first; null after the call means "not offered".
// - objects the library hands to the module (callback wraps, the pel-pool
//   object, completion arguments) stay the library's: the module adds a
//   reference to any it keeps beyond the call and releases it when done.
//   Those objects catch everything: no exception crosses into the module.
// - operations from slot 3 on return a status, 0 for success; on failure
//   the module first stores its last error (an archived library exception,
//   handed out through ccIComponent_ErrorData) and then returns non-zero.
#pragma once
#include <cstdint>
#include <type_traits>

class ccIUnknown {
public:
    // Slot 0. *out is the interface asked for (its ccIUnknown part) with a
    // reference taken, or stays null.
    virtual int32_t query(ccIUnknown** out, int32_t id) = 0;
    // Slot 1. Returns the new count (informational only).
    virtual uint32_t addRef() = 0;
    // Slot 2. Returns the new count (informational only).
    virtual uint32_t release() = 0;

protected:
    ~ccIUnknown() = default;
};

// Interface ids of the driver-module contract.
enum ccIComponentId : int32_t {
    ccIidErrorSource = 21,
    ccIidBoardList = 22,
    ccIidErrorData = 27,
    ccIidFormatListOld = 35,
    ccIidFormatItem = 36,
    ccIidFormatValue = 99,
    ccIidDiscovery = 100,
    ccIidFormatList = 115,

    // Boards: the board interface answers the id of its model.
    ccIid7320 = 63,
    ccIidGrabberCore = 23,
    ccIidGrabberInfo = 116,
    ccIidGrabberFeatures = 113,
    ccIidGrabberTvm = 66,
    ccIidIOSetting = 80,
    ccIidLinesFrom8 = 105,
    ccIidParallelIO = 54,
    ccIidLineIO = 69,
    ccIidEERAM = 52,
    ccIidEERAMAux = 81,

    // FIFOs.
    ccIidFifoCreator = 49,
    ccIidFifoCore = 24,
    ccIidFifoCallbacks = 30,
    ccIidFifoInfoCallbacks = 31,
    ccIidFifoProperties = 38,
    ccIidFifoPropertyRecord = 92,
    ccIidFifoCamera = 40,
    ccIidFifoPropertySupport = 43,
    ccIidFifoExtension = 45,
    ccIidFifoPelPool = 61,
    ccIidFifoEncoder = 75,
    ccIidFifoHooks = 93,
    ccIidFifoRoiModes = 120,
    ccIidFifoSampleValues = 83,
    ccIidFifoPrepare = 118,
    ccIidFifoPrepareBasic = 28,
    ccIidFifoReconfigure = 29,
    ccIidFifoMaster = 65,
    ccIidFifoCameraLocation = 76,
    ccIidFifoCustomProps = 111,
    ccIidFifoPropertyInfoList = 46,
    ccIidFifoPropertyInfo = 47,

    // Results of a completion and the information of an acquisition.
    ccIidResultImage = 25,
    ccIidResultRawPels = 26,
    ccIidResultFormat = 51,
    ccIidResultFastTransfer = 73,
    ccIidInfoCore = 32,
    ccIidInfoMessage = 108,
    ccIidInfoExtra = 96,

    // Objects the library hands to the module.
    ccIidCompleteArgs = 33,
    ccIidTrigCustomV0 = 34,
    ccIidTrigCustomV2 = 91,
    ccIidPelPoolV0 = 59,
    ccIidPelPoolV1 = 114,
    ccIidPoolImageV0 = 60,
    ccIidPoolImageV1 = 79,

    // Imaging devices and cameras: the board interface answers the id of its
    // kind, and the ids its class holds.
    ccIidImagingDevice = 106,
    ccIidGigECamera = 97,
    ccIidDcamCamera = 44,
    ccIidDeviceFeatures = 103,
    ccIidGigEHeldA = 104,
    ccIidGigEHeldB = 107,
    ccIidDcamHeldA = 77,
    ccIidDcamHeldB = 85,
    ccIidDcamHeldC = 88,
    ccIidDcamHeldD = 94,
    ccIidDcamIdentity = 101,
};

// What GetComponentInterface returns, with a reference taken (null: the
// module is unusable). It answers 21, 22 and, when discovery is its own, 100.
class ccIComponent_Root : public ccIUnknown {
protected:
    ~ccIComponent_Root() = default;
};

// 21: the module's last error and its format lists (query 115, else 35).
class ccIComponent_ErrorSource : public ccIUnknown {
public:
    // Slots 3 and 4 are the module's own; the library never calls them.
    virtual int32_t reserved3() = 0;
    virtual int32_t reserved4() = 0;
    // Slot 5: the last error object (it answers 27), or null when none.
    virtual int32_t lastError(ccIUnknown** error) = 0;

protected:
    ~ccIComponent_ErrorSource() = default;
};

// 27: the bytes of an archived library exception.
class ccIComponent_ErrorData : public ccIUnknown {
public:
    // Slot 3. With a null buffer *count receives the number of bytes; with
    // a buffer at most *count bytes are written and *count is set to the
    // number written.
    virtual int32_t bytes(uint32_t* count, uint8_t* buffer) = 0;

protected:
    ~ccIComponent_ErrorData() = default;
};

// 22: the module's boards.
class ccIComponent_BoardList : public ccIUnknown {
public:
    // Slot 3.
    virtual int32_t count(uint32_t* count) = 0;
    // Slot 4. With a null buffer *length receives the name's length in
    // units, without the terminating 0. With a buffer of *length units the
    // name is written (with a terminating 0 when there is room) and *length
    // is set to the units written, without the 0.
    virtual int32_t name(uint32_t index, uint32_t* length, char16_t* buffer) = 0;
    // Slot 5: the board's interface, which the board factories query for
    // their model ids.
    virtual int32_t board(ccIUnknown** board, uint32_t index) = 0;

protected:
    ~ccIComponent_BoardList() = default;
};

// 100: a module that discovers its boards on its own thread.
class ccIComponent_Discovery : public ccIUnknown {
public:
    // Slot 3.
    virtual int32_t start() = 0;
    // Slot 4: *ready is 0 while discovery has not finished within timeout
    // seconds (HUGE_VAL: no limit).
    virtual int32_t wait(double timeout, uint32_t* ready) = 0;

protected:
    ~ccIComponent_Discovery() = default;
};

// 115 (else 35): the video formats the module offers.
class ccIComponent_FormatList : public ccIUnknown {
public:
    // Slot 3: a null item ends the list.
    virtual int32_t item(ccIUnknown** item, uint32_t index) = 0;

protected:
    ~ccIComponent_FormatList() = default;
};

// 36: one format of the list.
class ccIComponent_FormatItem : public ccIUnknown {
public:
    // Slot 3. *length holds the buffer's capacity in units (256) on entry
    // and the name's length, without the 0, on return.
    virtual int32_t name(uint32_t* length, char16_t* buffer) = 0;
    virtual int32_t width(uint32_t* width) = 0;   // slot 4
    virtual int32_t height(uint32_t* height) = 0; // slot 5
    virtual int32_t depth(uint32_t* depth) = 0;   // slot 6

protected:
    ~ccIComponent_FormatItem() = default;
};

// 99: the format's default module pel-format code.
class ccIComponent_FormatValue : public ccIUnknown {
public:
    virtual int32_t value(int32_t* code) = 0; // slot 3

protected:
    ~ccIComponent_FormatValue() = default;
};

// ---------------------------------------------------------------------------
// Boards. The board-list slot 5 interface answers the id of its model (63 for
// the 7320); that interface is the board's, and the ids below are queried on
// it or on the grabber core.

// 23: the board's acquisition engine.
class ccIGrabber_Core : public ccIUnknown {
public:
    virtual int32_t coreValue(int32_t* value) = 0;                                     // slot 3
    virtual int32_t isFormatSupported(const char16_t* format, uint32_t* supported) = 0; // slot 4: any pel format
    virtual int32_t createFifo(ccIUnknown** fifo, const char16_t* format) = 0;         // slot 5: grey 8
    virtual int32_t numCameraPorts(const char16_t* format, uint32_t* count) = 0;       // slot 6
    virtual int32_t hasFormatOptions(uint32_t* flag) = 0;                              // slot 7
    // Slot 8, asked of the core a device interface (106, 97, 44) answers:
    // with a null buffer *length receives the serial number's length in
    // units; with a buffer of *length units the text is written (with a 0
    // when there is room) and *length set to the units written.
    virtual int32_t serialNumber(uint32_t* length, char16_t* buffer) = 0;

protected:
    ~ccIGrabber_Core() = default;
};

// 116 (on the board): board information.
class ccIGrabber_Info : public ccIUnknown {
public:
    virtual int32_t disconnect(uint32_t flag) = 0; // slot 3
    // Slot 4: at most capacity units, with a terminating 0 when there is room.
    virtual int32_t uniqueId(uint32_t capacity, char16_t* buffer) = 0;

protected:
    ~ccIGrabber_Info() = default;
};

// 66 (on the grabber core): the attached vision module.
class ccIGrabber_Tvm : public ccIUnknown {
public:
    virtual int32_t tvmId(int32_t* id) = 0; // slot 3

protected:
    ~ccIGrabber_Tvm() = default;
};

// 113 (on the grabber core): what a device's features are. Names are
// 0-terminated; each buffer holds ccFeatureUnits units, which the module
// fills with at most that many, the 0 included.
constexpr uint32_t ccFeatureUnits = 256;
class ccIGrabber_Features : public ccIUnknown {
public:
    // Slot 3: the index-th feature under name; a failure ends the list.
    virtual int32_t nameAt(const char16_t* name, uint32_t index, char16_t* buffer) = 0;
    // Slot 4: the module's kind of the feature, 1 to 7.
    virtual int32_t kind(const char16_t* name, int32_t* kind) = 0;
    // Slot 5: the index-th choice of the feature; a failure ends the list.
    virtual int32_t choiceAt(const char16_t* name, uint32_t index, char16_t* buffer) = 0;
    // Slot 6: the index-th entry of the feature.
    virtual int32_t entry(const char16_t* name, uint32_t index, char16_t* buffer) = 0;

protected:
    ~ccIGrabber_Features() = default;
};

// 80 (on the grabber core): the I/O configuration in force.
class ccIGrabber_IOSetting : public ccIUnknown {
public:
    virtual int32_t setCode(int32_t code) = 0; // slot 3

protected:
    ~ccIGrabber_IOSetting() = default;
};

// 49 (on the grabber core): FIFOs of any module pel-format code.
class ccIAcqFifo_Creator : public ccIUnknown {
public:
    virtual int32_t create(ccIUnknown** fifo, const char16_t* format, int32_t code) = 0;             // slot 3
    virtual int32_t isSupported(const char16_t* format, int32_t code, uint32_t* supported) = 0;    // slot 4

protected:
    ~ccIAcqFifo_Creator() = default;
};

// What the library gives the module to signal: a line transition or a frame
// going back to a pool releases it count times. Stays the library's.
class ccIWakeObject : public ccIUnknown {
public:
    virtual int32_t signal(uint32_t count) = 0; // slot 3

protected:
    ~ccIWakeObject() = default;
};

// 54 (on the board): the board's discrete lines.
class ccIComponent_ParallelIO : public ccIUnknown {
public:
    virtual int32_t counts(uint32_t* inputs, uint32_t* outputs) = 0; // slot 3
    // Slot 4: direction 0 output, 1 input; the line object answers 69.
    virtual int32_t line(ccIUnknown** line, uint32_t direction, uint32_t number) = 0;

protected:
    ~ccIComponent_ParallelIO() = default;
};

// Edge codes: 1 high to low, 2 low to high, 3 the third kind, 4 none.
// 69: one line.
class ccIComponent_LineIO : public ccIUnknown {
public:
    virtual int32_t lineNumber(uint32_t* number) = 0;                    // slot 3
    virtual int32_t enable(uint32_t flag) = 0;                           // slot 4
    virtual int32_t isEnabled(uint32_t* flag) = 0;                       // slot 5
    virtual int32_t canBeEnabled(uint32_t* flag) = 0;                    // slot 6
    virtual int32_t value(uint32_t* value) = 0;                          // slot 7
    virtual int32_t setValue(uint32_t value) = 0;                        // slot 8
    virtual int32_t pulse(uint32_t level, double seconds, uint32_t flag) = 0; // slot 9
    virtual int32_t supportsEdge(uint32_t code, uint32_t* flag) = 0;     // slot 10
    virtual int32_t stopEdge(uint32_t code) = 0;                         // slot 11
    // Slots 12 and 13: the module adds a reference to a wake object it keeps
    // and releases it at removal.
    virtual int32_t addWake(ccIWakeObject* wake, uint32_t code) = 0;
    virtual int32_t removeWake(ccIWakeObject* wake, uint32_t code) = 0;

protected:
    ~ccIComponent_LineIO() = default;
};

// 52 (on the board): the board's non-volatile memory.
class ccIComponent_EERAM : public ccIUnknown {
public:
    virtual int32_t size(uint32_t* bytes) = 0;                                        // slot 3
    virtual int32_t read(uint32_t offset, uint8_t* buffer, uint32_t count) = 0;        // slot 4
    virtual int32_t write(uint32_t offset, const uint8_t* buffer, uint32_t count) = 0; // slot 5

protected:
    ~ccIComponent_EERAM() = default;
};

// 81 (on the board): the auxiliary store beside the EERAM.
class ccIComponent_EERAMAux : public ccIUnknown {
public:
    virtual int32_t size(uint32_t* bytes) = 0;            // slot 3
    virtual int32_t write(uint32_t a, uint32_t b) = 0;    // slot 4

protected:
    ~ccIComponent_EERAMAux() = default;
};

// Where the board's serial number lies in its EERAM: a fixed record of
// printable bytes, unused bytes 0.
constexpr uint32_t ccEERAMSerialOffset = 0x10;
constexpr uint32_t ccEERAMSerialLength = 16;

// ---------------------------------------------------------------------------
// FIFOs. The module FIFO answers 24; the library keeps only interfaces.

// One property request, built on the sender's stack for each call; the
// module does not keep its address.
struct ccModPropertyRecord {
    int32_t id;
    int32_t channel; // -1: every channel
    double value;
    uint32_t valid;  // set by the module when a get wrote value
    uint32_t reserved;
};
static_assert(sizeof(ccModPropertyRecord) == 24, "the request record is 24 bytes");

class ccITemp_CompleteArgs_v0;
class ccITemp_TrigCustom_v2;

// 24: the FIFO's acquisitions.
class ccIAcqFifo_Core : public ccIUnknown {
public:
    virtual int32_t start(uint32_t ticket, uint32_t* accepted) = 0; // slot 3
    // Slot 4: waits for the oldest acquisition within the arguments' time-out;
    // *result answers 51, 25 and 26.
    virtual int32_t complete(ccITemp_CompleteArgs_v0* args, ccIUnknown** result) = 0;
    virtual int32_t triggerEnable(uint32_t flag) = 0;            // slot 5
    virtual int32_t triggerEnabled(uint32_t* flag) = 0;          // slot 6
    virtual int32_t triggerIndex(uint32_t index) = 0;            // slot 7: a standard model, 0 to 3
    virtual int32_t triggerCustom(ccITemp_TrigCustom_v2* model) = 0; // slot 8
    virtual int32_t flush() = 0;                                 // slot 9
    virtual int32_t stateD(uint32_t* flag) = 0;                  // slot 10
    virtual int32_t stateA(uint32_t* flag) = 0;                  // slot 11
    virtual int32_t stateB(uint32_t* flag) = 0;                  // slot 12
    virtual int32_t isBusy(uint32_t* flag) = 0;                  // slot 13
    virtual int32_t stateC(uint32_t* flag) = 0;                  // slot 14
    virtual int32_t stateE(uint32_t* flag) = 0;                  // slot 15
    virtual int32_t pending(uint32_t* count) = 0;                // slot 16
    virtual int32_t completed(uint32_t* count) = 0;              // slot 17
    virtual int32_t countC(uint32_t* count) = 0;                 // slot 18

protected:
    ~ccIAcqFifo_Core() = default;
};

// What the library gives for the module to call on its own threads. A wrap
// stays valid until the module's last release of the FIFO core returns; the
// module calls none after that.
class ccICallbackFn : public ccIUnknown {
public:
    virtual int32_t call() = 0; // slot 3

protected:
    ~ccICallbackFn() = default;
};

class ccICallbackInfoFn : public ccIUnknown {
public:
    virtual int32_t call(ccIUnknown* info) = 0; // slot 3: info answers 32

protected:
    ~ccICallbackInfoFn() = default;
};

// 30 and 31: slots 3, 4, 5 register the complete, move-part and overrun
// wraps (the module adds a reference to each it keeps).
class ccIAcqFifo_Callbacks : public ccIUnknown {
public:
    virtual int32_t complete(ccICallbackFn* fn) = 0;
    virtual int32_t movePart(ccICallbackFn* fn) = 0;
    virtual int32_t overrun(ccICallbackFn* fn) = 0;

protected:
    ~ccIAcqFifo_Callbacks() = default;
};

class ccIAcqFifo_InfoCallbacks : public ccIUnknown {
public:
    virtual int32_t complete(ccICallbackInfoFn* fn) = 0;
    virtual int32_t movePart(ccICallbackInfoFn* fn) = 0;
    virtual int32_t overrun(ccICallbackInfoFn* fn) = 0;

protected:
    ~ccIAcqFifo_InfoCallbacks() = default;
};

// 38: property requests.
class ccIAcqFifo_Properties : public ccIUnknown {
public:
    virtual int32_t reserved3() = 0;
    virtual int32_t set(ccModPropertyRecord* record) = 0; // slot 4
    virtual int32_t get(ccModPropertyRecord* record) = 0; // slot 5

protected:
    ~ccIAcqFifo_Properties() = default;
};

// 92.
class ccIAcqFifo_PropertyRecord : public ccIUnknown {
public:
    virtual int32_t read(ccModPropertyRecord* record) = 0; // slot 3

protected:
    ~ccIAcqFifo_PropertyRecord() = default;
};

// 40: the camera's geometry and channels.
class ccIAcqFifo_Camera : public ccIUnknown {
public:
    virtual int32_t roi(int32_t x, int32_t y, int32_t width, int32_t height) = 0;      // slot 3
    virtual int32_t numChannels(uint32_t* count) = 0;                                    // slot 4
    virtual int32_t inputLut(const uint8_t* table, uint32_t size, int32_t channel) = 0;  // slot 5
    virtual int32_t numInputLuts(uint32_t* count) = 0;                                   // slot 6
    virtual int32_t numCameraPorts(uint32_t* count) = 0;                                 // slot 7
    virtual int32_t ctiLimit(double* value) = 0;                                         // slot 8
    virtual int32_t horizAdjustLimit(double* value) = 0;                                 // slot 9
    virtual int32_t roiLimits(int32_t* x, int32_t* y, int32_t* width, int32_t* height) = 0; // slot 10
    virtual int32_t actualSync(int32_t* index) = 0;                                      // slot 11
    virtual int32_t defaultSync(int32_t* index) = 0;                                     // slot 12

protected:
    ~ccIAcqFifo_Camera() = default;
};

// 43: which property numbers the FIFO supports.
class ccIAcqFifo_PropertySupport : public ccIUnknown {
public:
    virtual int32_t isSupported(int32_t number, uint32_t* supported) = 0; // slot 3

protected:
    ~ccIAcqFifo_PropertySupport() = default;
};

// 45: answers pass through unchanged (no status).
class ccIAcqFifo_Extension : public ccIUnknown {
public:
    virtual uint32_t queryA() = 0;               // slot 3
    virtual uint32_t queryB(uint32_t value) = 0; // slot 4

protected:
    ~ccIAcqFifo_Extension() = default;
};

// 61: the pool the module allocates frames from (an object answering 59).
class ccIAcqFifo_PelPool : public ccIUnknown {
public:
    virtual int32_t flag(uint32_t* flag) = 0;                   // slot 3
    virtual int32_t words(uint32_t* first, uint32_t* second) = 0; // slot 4
    virtual int32_t setPool(ccIUnknown* pool) = 0;              // slot 5: null, or adds a reference it keeps

protected:
    ~ccIAcqFifo_PelPool() = default;
};

// 75: line-scan encoder.
class ccIAcqFifo_Encoder : public ccIUnknown {
public:
    virtual int32_t triggerFromEncoder(uint32_t first, uint32_t second) = 0; // slot 3
    virtual int32_t stepsPerLine(uint32_t steps, uint32_t sixteenths) = 0;   // slot 4
    virtual int32_t numPorts(uint32_t* count) = 0;                           // slot 5
    virtual int32_t queryA(uint32_t* value) = 0;                             // slot 6
    virtual int32_t count(uint32_t* value) = 0;                              // slot 7
    virtual int32_t resetCounter() = 0;                                      // slot 8

protected:
    ~ccIAcqFifo_Encoder() = default;
};

// 93.
class ccIAcqFifo_Hooks : public ccIUnknown {
public:
    virtual int32_t zeroB(uint32_t* value) = 0; // slot 3
    virtual int32_t noOpC() = 0;                // slot 4
    virtual int32_t zeroA(uint32_t* value) = 0; // slot 5

protected:
    ~ccIAcqFifo_Hooks() = default;
};

// 120.
class ccIAcqFifo_RoiModes : public ccIUnknown {
public:
    virtual int32_t isSupported(uint32_t mode, uint32_t* flag) = 0; // slot 3

protected:
    ~ccIAcqFifo_RoiModes() = default;
};

// 83: supported sample values, index 0, 1, ... until a 0.
class ccIAcqFifo_SampleValues : public ccIUnknown {
public:
    virtual int32_t value(int32_t* value, uint32_t index) = 0; // slot 3

protected:
    ~ccIAcqFifo_SampleValues() = default;
};

// 118 and 28: ready for the next start within seconds (HUGE_VAL: no limit).
class ccIAcqFifo_Prepare : public ccIUnknown {
public:
    // Slot 3: message holds 256 units, written with a terminating 0.
    virtual int32_t prepare(double seconds, uint32_t* ready, char16_t* message) = 0;

protected:
    ~ccIAcqFifo_Prepare() = default;
};

class ccIAcqFifo_PrepareBasic : public ccIUnknown {
public:
    virtual int32_t prepare(double seconds, uint32_t* ready) = 0; // slot 3

protected:
    ~ccIAcqFifo_PrepareBasic() = default;
};

// 29.
class ccIAcqFifo_Reconfigure : public ccIUnknown {
public:
    virtual int32_t reconfigure(const void* object, uint32_t* result) = 0; // slot 3

protected:
    ~ccIAcqFifo_Reconfigure() = default;
};

// 65: trigger masters, named by their FIFO core.
class ccIAcqFifo_Master : public ccIUnknown {
public:
    virtual int32_t isValid(ccIUnknown* masterCore, uint32_t* flag) = 0; // slot 3
    virtual int32_t setMaster(ccIUnknown* masterCore) = 0;               // slot 4: null for none

protected:
    ~ccIAcqFifo_Master() = default;
};

// 76. A location is the 32-bit identity the library gave the camera device
// it made over one of the module's cameras (71); 0 names none.
class ccIAcqFifo_CameraLocation : public ccIUnknown {
public:
    virtual int32_t isValid(uint32_t location, uint32_t* flag) = 0; // slot 3
    virtual int32_t set(uint32_t location) = 0;                     // slot 4

protected:
    ~ccIAcqFifo_CameraLocation() = default;
};

// 111.
class ccIAcqFifo_CustomProps : public ccIUnknown {
public:
    virtual int32_t set(const char16_t* text) = 0; // slot 3: zero-terminated

protected:
    ~ccIAcqFifo_CustomProps() = default;
};

// 46 and 47: what the module knows of each property it supports.
class ccIAcqFifo_PropertyInfoList : public ccIUnknown {
public:
    virtual int32_t item(ccIUnknown** item, uint32_t index) = 0; // slot 3: null ends the list

protected:
    ~ccIAcqFifo_PropertyInfoList() = default;
};

class ccIAcqFifo_PropertyInfo : public ccIUnknown {
public:
    virtual int32_t identifier(uint32_t* id) = 0;     // slot 3
    virtual int32_t minimum(double* value) = 0;       // slot 4
    virtual int32_t maximum(double* value) = 0;       // slot 5
    virtual int32_t defaultValue(double* value) = 0;  // slot 6
    virtual int32_t word(uint32_t* value) = 0;        // slot 7

protected:
    ~ccIAcqFifo_PropertyInfo() = default;
};

// 33: the arguments of one completion, on the completing caller's stack and
// valid only during core slot 4. Answers 0 and 33.
class ccITemp_CompleteArgs_v0 : public ccIUnknown {
public:
    virtual int32_t firstFlag(uint32_t* flag) = 0;   // slot 3: frame wanted in local memory
    virtual int32_t secondFlag(uint32_t* flag) = 0;  // slot 4
    virtual int32_t timeout(double* seconds) = 0;    // slot 5
    virtual int32_t setStatus(uint32_t status) = 0;  // slot 6: non-zero: the acquisition failed
    virtual int32_t readInfo(ccIUnknown* info) = 0;  // slot 7: info answers 32

protected:
    ~ccITemp_CompleteArgs_v0() = default;
};

// 34 and 91: a custom trigger model, valid only during core slot 8; each
// slot gives one of the model's flag bytes 0 to 12.
class ccITemp_TrigCustom_v2 : public ccIUnknown {
public:
    virtual int32_t flag0(uint32_t* value) = 0;
    virtual int32_t flag1(uint32_t* value) = 0;
    virtual int32_t flag2(uint32_t* value) = 0;
    virtual int32_t flag3(uint32_t* value) = 0;
    virtual int32_t flag4(uint32_t* value) = 0;
    virtual int32_t flag5(uint32_t* value) = 0;
    virtual int32_t flag6(uint32_t* value) = 0;
    virtual int32_t flag7(uint32_t* value) = 0;
    virtual int32_t flag8(uint32_t* value) = 0;
    virtual int32_t flag9(uint32_t* value) = 0;
    virtual int32_t flag10(uint32_t* value) = 0;
    virtual int32_t flag11(uint32_t* value) = 0;
    virtual int32_t flag12(uint32_t* value) = 0;

protected:
    ~ccITemp_TrigCustom_v2() = default;
};

// ---------------------------------------------------------------------------
// Results. One object answers 51, 25, 26 (and 73 when the frame can be
// transferred); its frame lives until its last release. Statuses of the
// geometry slots may go unchecked: out values are preset by the caller.

class ccIAcqResult_Geometry : public ccIUnknown {
public:
    virtual int32_t windowOffset(int32_t* x, int32_t* y) = 0;                    // slot 3
    virtual int32_t reserved4() = 0;
    virtual int32_t reserved5() = 0;
    virtual int32_t reserved6() = 0;
    // Slots 7 to 9: of the frame's memory; a raw frame of several bytes per
    // pel reports its stride and width in bytes and its window in pels.
    virtual int32_t stride(int32_t* stride) = 0;
    virtual int32_t height(int32_t* height) = 0;
    virtual int32_t width(int32_t* width) = 0;
    virtual int32_t window(int32_t* x, int32_t* y, int32_t* width, int32_t* height) = 0; // slot 10
    virtual int32_t translation(double* x, double* y) = 0;                               // slot 11
    virtual int32_t matrix(double* a, double* b, double* c, double* d) = 0;              // slot 12
    virtual int32_t offsetPresent(uint32_t* flag) = 0;                                   // slot 13
    virtual int32_t transformPresent(uint32_t* flag) = 0;                                // slot 14
    virtual int32_t framePresent(uint32_t* flag) = 0;                                    // slot 15

protected:
    ~ccIAcqResult_Geometry() = default;
};

// 25.
class ccIAcqResult_Image : public ccIAcqResult_Geometry {
public:
    virtual int32_t isRemote(uint32_t* flag) = 0; // slot 16

protected:
    ~ccIAcqResult_Image() = default;
};

// 26.
class ccIAcqResult_RawPels : public ccIAcqResult_Geometry {
public:
    virtual int32_t reserved16() = 0;
    virtual int32_t pelAddress(void** address) = 0; // slot 17

protected:
    ~ccIAcqResult_RawPels() = default;
};

// 51. Result kinds: 1 packed or raw, 3 three planes; others are read as raw.
class ccIAcqResult_Format : public ccIUnknown {
public:
    virtual int32_t kind(int32_t* kind) = 0;                          // slot 3
    virtual int32_t planeAddress(uint32_t plane, void** address) = 0; // slot 4
    virtual int32_t pelFormat(int32_t* code) = 0;                     // slot 5

protected:
    ~ccIAcqResult_Format() = default;
};

// 73: a window of the frame copied into local memory; the destination's
// stride counts pels.
class ccIAcqResult_FastTransfer : public ccIUnknown {
public:
    virtual int32_t transfer(void* destination, int32_t stride, int32_t alignment, int32_t left, int32_t top,
                             int32_t width, int32_t height, uint32_t flag) = 0; // slot 3

protected:
    ~ccIAcqResult_FastTransfer() = default;
};

// 32, 108, 96: what the module tells of one acquisition.
class ccIAcqInfo_Core : public ccIUnknown {
public:
    virtual int32_t words(uint32_t* third, uint32_t* fourth) = 0; // slot 3: failure flags, second word
    virtual int32_t ticket(uint32_t* ticket) = 0;                 // slot 4
    virtual int32_t triggerNumber(uint32_t* number) = 0;          // slot 5

protected:
    ~ccIAcqInfo_Core() = default;
};

class ccIAcqInfo_Message : public ccIUnknown {
public:
    // Slot 3: *length holds the capacity (256) on entry and the text's
    // length, without the 0, on return.
    virtual int32_t message(uint32_t* length, char16_t* buffer) = 0;

protected:
    ~ccIAcqInfo_Message() = default;
};

class ccIAcqInfo_Extra : public ccIUnknown {
public:
    virtual int32_t extra(uint64_t* value) = 0; // slot 3: low half first

protected:
    ~ccIAcqInfo_Extra() = default;
};

// 59 and 114: the library's pel-root pool offered to the module.
class ccIPelPool_Core_v0 : public ccIUnknown {
public:
    virtual int32_t questionA(uint32_t* answer) = 0; // slot 3
    virtual int32_t questionB(uint32_t* answer) = 0; // slot 4
    // Slot 5: a new image answering 60 and 79 whose rows hold width pels of
    // pelFormat, or null when the pool had none within seconds, or at once
    // when flag (abort) is non-zero. wake (may be null) is signalled on the
    // allocating thread, with no library lock held, each time the allocation
    // wakes because a frame went back to the pool.
    virtual int32_t allocate(ccIUnknown** image, int32_t width, int32_t height, int32_t pelFormat,
                             ccIWakeObject* wake, double seconds, uint32_t flag) = 0;

protected:
    ~ccIPelPool_Core_v0() = default;
};

class ccIPelPool_Core_v1 : public ccIUnknown {
public:
    // Slot 3: the calling module thread ends; the library forgets it.
    virtual int32_t detachThread() = 0;

protected:
    ~ccIPelPool_Core_v1() = default;
};

// 60 and 79: one frame lent from the pool until the module's last release.
class ccIImage_PoolImage_v0 : public ccIUnknown {
public:
    virtual int32_t address(void** address) = 0; // slot 3

protected:
    ~ccIImage_PoolImage_v0() = default;
};

class ccIImage_PoolImage_v1 : public ccIUnknown {
public:
    virtual int32_t address(void** address) = 0; // slot 3
    virtual int32_t stride(int32_t* stride) = 0; // slot 4: in bytes, in pels for formats 8 and 1

protected:
    ~ccIImage_PoolImage_v1() = default;
};

// ---------------------------------------------------------------------------
// Imaging devices and cameras. A device interface (106 on an imaging device,
// 97 on a GigE Vision camera, 44 on an IEEE 1394 camera) answers 23, whose
// slot 8 gives the serial number.

// 103 (on the board interface): features by name, 0-terminated.
class ccIDevice_Features : public ccIUnknown {
public:
    virtual int32_t execute(const char16_t* name) = 0; // slot 3
    // Slot 4: *length holds the capacity (256) on entry and the value's
    // length, without the 0, on return.
    virtual int32_t value(const char16_t* name, uint32_t* length, char16_t* buffer) = 0;
    virtual int32_t setValue(const char16_t* name, const char16_t* value) = 0; // slot 5

protected:
    ~ccIDevice_Features() = default;
};

// 44: an IEEE 1394 camera.
class ccIDcam_Camera : public ccIUnknown {
public:
    virtual int32_t sortValue(uint32_t* value) = 0; // slot 3: orders cameras of one identity

protected:
    ~ccIDcam_Camera() = default;
};

// 101 (on a 1394 camera's board interface).
class ccIDcam_Identity : public ccIUnknown {
public:
    virtual int32_t reserved3() = 0;
    // Slot 4: as the serial number (23 slot 8).
    virtual int32_t identity(uint32_t* length, char16_t* buffer) = 0;

protected:
    ~ccIDcam_Identity() = default;
};

// Each interface is its vtable pointer alone; a virtual destructor would take
// two slots and shift every operation after it.
template <class... I>
constexpr bool ccIsPlainInterface = ((sizeof(I) == sizeof(void*) && !std::has_virtual_destructor<I>::value) && ...);
static_assert(ccIsPlainInterface<ccIUnknown, ccIComponent_Root, ccIComponent_ErrorSource, ccIComponent_ErrorData,
                                 ccIComponent_BoardList, ccIComponent_Discovery, ccIComponent_FormatList,
                                 ccIComponent_FormatItem, ccIComponent_FormatValue, ccIGrabber_Core,
                                 ccIGrabber_Info, ccIGrabber_Tvm, ccIGrabber_IOSetting, ccIAcqFifo_Creator,
                                 ccIWakeObject, ccIComponent_ParallelIO, ccIComponent_LineIO, ccIComponent_EERAM,
                                 ccIComponent_EERAMAux, ccIAcqFifo_Core, ccICallbackFn, ccICallbackInfoFn,
                                 ccIAcqFifo_Callbacks, ccIAcqFifo_InfoCallbacks, ccIAcqFifo_Properties,
                                 ccIAcqFifo_PropertyRecord, ccIAcqFifo_Camera, ccIAcqFifo_PropertySupport,
                                 ccIAcqFifo_Extension, ccIAcqFifo_PelPool, ccIAcqFifo_Encoder, ccIAcqFifo_Hooks,
                                 ccIAcqFifo_RoiModes, ccIAcqFifo_SampleValues, ccIAcqFifo_Prepare,
                                 ccIAcqFifo_PrepareBasic, ccIAcqFifo_Reconfigure, ccIAcqFifo_Master,
                                 ccIAcqFifo_CameraLocation, ccIAcqFifo_CustomProps, ccIAcqFifo_PropertyInfoList,
                                 ccIAcqFifo_PropertyInfo, ccITemp_CompleteArgs_v0, ccITemp_TrigCustom_v2,
                                 ccIAcqResult_Image, ccIAcqResult_RawPels, ccIAcqResult_Format,
                                 ccIAcqResult_FastTransfer, ccIAcqInfo_Core, ccIAcqInfo_Message, ccIAcqInfo_Extra,
                                 ccIPelPool_Core_v0, ccIPelPool_Core_v1, ccIImage_PoolImage_v0,
                                 ccIImage_PoolImage_v1, ccIGrabber_Features, ccIDevice_Features,
                                 ccIDcam_Camera, ccIDcam_Identity>,
              "module interfaces hold nothing but their vtable pointer");

// The one export of a driver module.
extern "C" {
typedef ccIUnknown* (*ccGetComponentInterfaceFunction)();
}
constexpr const char* ccGetComponentInterfaceName = "GetComponentInterface";

// ---------------------------------------------------------------------------
// The rest of the board family. A board interface answers the id of its
// model; the answer is the board's model interface, which the board keeps
// and through which it reaches the ids above.
enum ccIComponentFamilyId : int32_t {
    ccIid7310 = 64,       // a 7310c when its variant is not 0, else a 7310m
    ccIid7310l = 53,
    ccIid7310d = 72,
    ccIid7312 = 70,
    ccIid735x = 67,       // a 7354 when its variant is not 0, else a 7351
    ccIid7350l = 105,     // only when 67 is not answered
    ccIid7370 = 42,
    ccIid7360 = 68,
    ccIid735xExtra = 117, // on a 735x model: only its presence counts
    ccIid7360A = 74,      // on a 7360 model, held by the board
    ccIid7360B = 87,
    ccIid7360C = 90,
    ccIidLinkCamera = 71, // on a 7310d channel: the camera on it
};

// 64 and 67: which variant of the model the board is.
class ccIBoard_Variant : public ccIUnknown {
public:
    virtual int32_t variant(uint32_t* value) = 0; // slot 3

protected:
    ~ccIBoard_Variant() = default;
};

// 72: the camera channels of a 7310d (0 to 2).
class ccIBoard_Channels : public ccIUnknown {
public:
    // Slot 3: the channel object (it answers 71 when a camera may be on it),
    // or null.
    virtual int32_t channel(uint32_t index, ccIUnknown** channel) = 0;

protected:
    ~ccIBoard_Channels() = default;
};

// 71: a camera on a channel.
class ccIQorLink_Camera : public ccIUnknown {
public:
    virtual int32_t present(uint32_t* flag) = 0; // slot 3
    virtual int32_t reserved4() = 0;
    // Slot 5: *length holds the capacity (256) on entry and the name's
    // length, without the 0, on return.
    virtual int32_t name(uint32_t* length, char16_t* buffer) = 0;
    // Slot 6: whether the camera takes the format of that name.
    virtual int32_t supportsFormat(const char16_t* format, uint32_t* flag) = 0;

protected:
    ~ccIQorLink_Camera() = default;
};

static_assert(ccIsPlainInterface<ccIBoard_Variant, ccIBoard_Channels, ccIQorLink_Camera>,
              "module interfaces hold nothing but their vtable pointer");
