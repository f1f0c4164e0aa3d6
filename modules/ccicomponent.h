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

// Each interface is its vtable pointer alone; a virtual destructor would take
// two slots and shift every operation after it.
template <class... I>
constexpr bool ccIsPlainInterface = ((sizeof(I) == sizeof(void*) && !std::has_virtual_destructor<I>::value) && ...);
static_assert(ccIsPlainInterface<ccIUnknown, ccIComponent_Root, ccIComponent_ErrorSource, ccIComponent_ErrorData,
                                 ccIComponent_BoardList, ccIComponent_Discovery, ccIComponent_FormatList,
                                 ccIComponent_FormatItem, ccIComponent_FormatValue>,
              "module interfaces hold nothing but their vtable pointer");

// The one export of a driver module.
extern "C" {
typedef ccIUnknown* (*ccGetComponentInterfaceFunction)();
}
constexpr const char* ccGetComponentInterfaceName = "GetComponentInterface";
