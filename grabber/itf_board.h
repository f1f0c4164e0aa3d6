// The dual interfaces of the frame-grabber collection, the board object, the
// I/O lines and their collections, and the input line's event interface.
#pragma once
#include "platform/com/safearray.h"

struct IQorFrameGrabber7320;
struct IQorInputLine;
struct IQorOutputLine;

// The boards of the 7320 table, in table order; Item takes a 0-based index.
struct IQorFrameGrabber7320s : IDispatch {
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT get_Item(VARIANT index, IQorFrameGrabber7320** board) = 0;
    virtual HRESULT get__NewEnum(IUnknown** enumerator) = 0;
};

struct IQorFrameGrabber7320 : IDispatch {
    virtual HRESULT get_Name(BSTR* name) = 0;
    virtual HRESULT get_SerialNumber(BSTR* serial) = 0;
    virtual HRESULT get_UniqueID(BSTR* id) = 0;
    // The names of the formats the board supports, as an array of BSTR.
    virtual HRESULT get_VideoFormats(SAFEARRAY** names) = 0;
    // The camera ports the board offers for a format (0 when it refuses it).
    virtual HRESULT get_NumCameraPorts(BSTR format, LONG* count) = 0;
    virtual HRESULT CreateAcqFifo(BSTR format, LONG cameraPort, IDispatch** fifo) = 0;
    virtual HRESULT get_InputLines(IDispatch** lines) = 0;
    virtual HRESULT get_OutputLines(IDispatch** lines) = 0;
};

struct IQorInputLine : IDispatch {
    virtual HRESULT get_Value(VARIANT_BOOL* value) = 0;
    virtual HRESULT get_LineNumber(LONG* number) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
};

struct IQorOutputLine : IDispatch {
    virtual HRESULT get_Value(VARIANT_BOOL* value) = 0;
    virtual HRESULT put_Value(VARIANT_BOOL value) = 0;
    virtual HRESULT get_LineNumber(LONG* number) = 0;
    virtual HRESULT get_Enabled(VARIANT_BOOL* enabled) = 0;
    virtual HRESULT put_Enabled(VARIANT_BOOL enabled) = 0;
    // Drives the line to level for milliseconds, then back.
    virtual HRESULT Pulse(VARIANT_BOOL level, double milliseconds) = 0;
};

// The lines a board's I/O configuration permits, in line-number order; Item
// takes a 0-based index.
struct IQorInputLines : IDispatch {
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT get_Item(VARIANT index, IQorInputLine** line) = 0;
};
struct IQorOutputLines : IDispatch {
    virtual HRESULT get_Count(LONG* count) = 0;
    virtual HRESULT get_Item(VARIANT index, IQorOutputLine** line) = 0;
};

extern const IID IID_IQorFrameGrabber7320s, IID_IQorFrameGrabber7320, IID_IQorInputLine, IID_IQorOutputLine,
    IID_IQorInputLines, IID_IQorOutputLines;

// Fired by an input line after each transition: Changed(value), the line's
// new value (VT_BOOL). The sink knows the line by the point it advised.
extern const IID DIID_IQorInputLineEvents;
constexpr DISPID kInputLineChanged = 1;
