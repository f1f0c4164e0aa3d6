// The frame-grabber collection "Qoralt.QorFrameGrabber7320s" and the board
// objects it makes, one per board of the 7320 table.
#pragma once
#include <cstdint>
#include <string>

#include "comframe/classids.h"
#include "comframe/comerror.h"
#include "comframe/componentbase.h"
#include "comframe/dotnet.h"
#include "grabber/itf_board.h"

class cc7320;
class ccFrameGrabber;
class ccIOConfig;

// The I/O option the product file "Marlume.INI" (the first along the module
// search path) names for board boardIndex: section "QorFrameGrabber7320 #<i>",
// key "IOConfig", one of "Standard", "LightControl" and "External" (letter
// case ignored). No file or key gives the standard option, and so does an
// unknown value, which the event log reports.
const ccIOConfig& ccBoardIOConfig(int32_t boardIndex);

// The index of grabber's board in the 7320 table; -1 for a board outside it.
int32_t ccBoardIndexOf(const ccFrameGrabber& grabber);

// A collection position from an index VARIANT (by reference too, checked
// as the value it refers to): 0x8004C181 when it is not a number (objects
// and VT_EMPTY included, which are never converted or counted), 0x8004C180
// outside 0 to count - 1. No client code runs.
size_t ccCollectionPosition(const VARIANT& index, size_t count);

// out, checked: E_POINTER (thrown as ccCOMError) when it is null.
template <class T> T* checkedOut(T* out)
{
    if (!out) throw ccCOMError(E_POINTER, 0);
    return out;
}

// *out = value(), out checked and cleared first: nothing is made, nor asked
// of the library, for a null one, and a failure leaves it cleared.
template <class T, class Value> void setOut(T* out, Value&& value)
{
    *checkedOut(out) = T{};
    *out = value();
}

// The board object's base: the plain base with the board's discrete I/O.
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid>
using ccFrameGrabberBase = ccQorDiscreteIOQMB<T, ccStdImpl<T, Itf, ItfIid, Clsid, Libid>>;

// The board collection's base: one Board item per board, keyed by its index.
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid, const GUID* Libid, class Board>
using ccFrameGrabbersImpl = ccCollectionImpl<T, ccStdImpl<T, Itf, ItfIid, Clsid, Libid>, Board, int32_t>;

// One board of the 7320 table. Made only by the collection.
class CQorFrameGrabber7320 : public ccFrameGrabberBase<CQorFrameGrabber7320, IQorFrameGrabber7320,
                                 &IID_IQorFrameGrabber7320, &CLSID_QorFrameGrabber7320, &LIBID_Qorx7320> {
public:
    CC_COM_COMPANION_COUNTING(companion_)
    BEGIN_COM_MAP(CQorFrameGrabber7320)
    COM_INTERFACE_ENTRY2(IUnknown, IQorFrameGrabber7320)
    COM_INTERFACE_ENTRY2(IDispatch, IQorFrameGrabber7320)
    COM_INTERFACE_ENTRY(IQorFrameGrabber7320)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(IQorDiscreteIO)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IQorComInternal)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease() { companion_.release(); }

    // Binds the object to board index of the table and puts the I/O option
    // of the product file in force on it.
    void attach(int32_t index);

    HRESULT get_Name(BSTR* name) override;
    HRESULT get_SerialNumber(BSTR* serial) override;
    HRESULT get_UniqueID(BSTR* id) override;
    HRESULT get_VideoFormats(SAFEARRAY** names) override;
    HRESULT get_NumCameraPorts(BSTR format, LONG* count) override;
    HRESULT CreateAcqFifo(BSTR format, LONG cameraPort, IDispatch** fifo) override;
    HRESULT get_InputLines(IDispatch** lines) override;
    HRESULT get_OutputLines(IDispatch** lines) override;

    // The library board (the module's code reaches it, not clients).
    cc7320& board() const { return *board_; }
    // The cc7320 behind the object; another board of the table replaces it
    // as the collection attached this one, and the line collections follow it.
    HRESULT GetImpl(void** impl) override;
    HRESULT SetImpl(const std::type_info& kind, void* impl) override;

private:
    template <class Body> HRESULT method(const OLECHAR* name, Body&& body);
    HRESULT lines(const OLECHAR* name, bool input, IDispatch** out);

    int32_t index_ = -1;
    cc7320* board_ = nullptr;
    ccDotNetCompanion companion_;
};

class CQorFrameGrabber7320s
    : public ccFrameGrabbersImpl<CQorFrameGrabber7320s, IQorFrameGrabber7320s, &IID_IQorFrameGrabber7320s,
          &CLSID_QorFrameGrabber7320s, &LIBID_Qorx7320, IQorFrameGrabber7320> {
public:
    CC_COM_COMPANION_COUNTING(companion_)
    BEGIN_COM_MAP(CQorFrameGrabber7320s)
    COM_INTERFACE_ENTRY2(IUnknown, IQorFrameGrabber7320s)
    COM_INTERFACE_ENTRY2(IDispatch, IQorFrameGrabber7320s)
    COM_INTERFACE_ENTRY(IQorFrameGrabber7320s)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IQorComInternal)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease() { companion_.release(); }

    HRESULT get_Count(LONG* count) override;
    HRESULT get_Item(VARIANT index, IQorFrameGrabber7320** board) override;
    HRESULT get__NewEnum(IUnknown** enumerator) override;

private:
    template <class Body> HRESULT method(const OLECHAR* name, Body&& body);
    // Makes the board objects at the first use; the caller holds the lock.
    void makeBoards();

    bool made_ = false;
    ccDotNetCompanion companion_;
};

// Gives the collection its creator in the module's object map and enters it
// in the class table under its ProgIDs; idempotent.
void ccRegisterBoardClasses();
