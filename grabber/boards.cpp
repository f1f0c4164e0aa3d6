#include "grabber/boards.h"

#include <mutex>
#include <new>
#include <vector>

#include "acq/vidfmt/vidfmt.h"
#include "comframe/comerror.h"
#include "comframe/objectmap.h"
#include "grabber/acqfifo.h"
#include "grabber/comhelpers.h"
#include "grabber/lines.h"
#include "modules/ioconfig.h"
#include "modules/unknownfg.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/com/stream.h"
#include "platform/event_log.h"
#include "platform/ini.h"
#include "platform/text.h"
#include "std/searchpath.h"

// ---- The I/O option of the product file -------------------------------------

const ccIOConfig& ccBoardIOConfig(int32_t boardIndex)
{
    static const ccIOStandardOption standard;
    static const ccIOLightControlOption lightControl;
    static const ccIOExternalOption external;
    const std::wstring section = L"QorFrameGrabber7320 #" + std::to_wstring(boardIndex);
    std::wstring path = acGetSearchPath();
    std::wstring directory, value;
    plat::ProfileLookup found = plat::ProfileLookup::noFile;
    while (found == plat::ProfileLookup::noFile && !path.empty()) {
        acPopPathElement(path, directory);
        found = plat::profileString(acSystemPath(directory + L"Marlume.INI"), section, L"IOConfig", &value);
    }
    if (found != plat::ProfileLookup::found) return standard;
    const std::wstring folded = plat::foldCase(value);
    if (folded == plat::foldCase(L"Standard")) return standard;
    if (folded == plat::foldCase(L"LightControl")) return lightControl;
    if (folded == plat::foldCase(L"External")) return external;
    plat::reportEvent(L"qorx7320", L"Marlume.INI [" + section + L"] IOConfig=" + value +
                                       L" is not Standard, LightControl or External: the standard I/O option is used");
    return standard;
}

// ---- Pieces the classes share -----------------------------------------------

int32_t ccBoardIndexOf(const ccFrameGrabber& grabber)
{
    const uint32_t count = cc7320::numBoards();
    for (uint32_t i = 0; i < count; ++i)
        if (&static_cast<const ccFrameGrabber&>(cc7320::getBoard(static_cast<int>(i))) == &grabber)
            return static_cast<int32_t>(i);
    return -1;
}

size_t ccCollectionPosition(const VARIANT& index, size_t count)
{
    // A by-reference index is checked as the value it refers to. An object
    // index would call client code under the caller's lock (its value
    // property; even a copy counts it); no index is no number.
    const VARIANT* given = &index;
    if (given->vt == (VT_BYREF | VT_VARIANT)) {
        given = given->pvarVal;
        if (!given || given->vt == (VT_BYREF | VT_VARIANT)) throw ccCOMError(kArchiveBadIndexType, 0);
    }
    const VARTYPE type = given->vt & ~VT_BYREF;
    if (type == VT_DISPATCH || type == VT_UNKNOWN || type == VT_EMPTY) throw ccCOMError(kArchiveBadIndexType, 0);
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantCopyInd(&value, given)) || FAILED(VariantChangeType(&value, &value, 0, VT_I4))) {
        (void)VariantClear(&value);
        throw ccCOMError(kArchiveBadIndexType, 0);
    }
    if (value.lVal < 0 || static_cast<size_t>(value.lVal) >= count) throw ccCOMError(kArchiveBadIndex, 0);
    return static_cast<size_t>(value.lVal);
}

// ---- The board object ---------------------------------------------------------

template <class Body> HRESULT CQorFrameGrabber7320::method(const OLECHAR* name, Body&& body)
{
    return ccComMethod({&CLSID_QorFrameGrabber7320, &IID_IQorFrameGrabber7320, name}, nullptr, [&]() -> HRESULT {
        // The board as it is now: one that SetImpl replaces meanwhile stays
        // in the table all the same.
        cc7320* board = nullptr;
        int32_t index = -1;
        {
            ccThreadOwnerLockGuard guard(&ownerLock());
            board = board_;
            index = index_;
        }
        if (!board) throw ccCOMError(E_UNEXPECTED, 0);
        body(*board, index);
        return S_OK;
    });
}

HRESULT CQorFrameGrabber7320::FinalConstruct()
{
    return ccAttachCompanionResult(ccDotNetClass::frameGrabber, GetUnknown(), companion_);
}

void CQorFrameGrabber7320::attach(int32_t index)
{
    cc7320& board = cc7320::getBoard(index);
    board.setIOConfig(ccBoardIOConfig(index));
    index_ = index;
    board_ = &board;
}

HRESULT CQorFrameGrabber7320::GetImpl(void** impl)
{
    if (!impl) return E_POINTER;
    ccThreadOwnerLockGuard guard(&ownerLock());
    *impl = board_;
    return board_ ? S_OK : E_FAIL;
}

HRESULT CQorFrameGrabber7320::SetImpl(const std::type_info& kind, void* impl)
{
    return cc_grabber::setImpl<cc7320>(CLSID_QorFrameGrabber7320, kind, impl, [&](cc7320& board) {
        const int32_t index = ccBoardIndexOf(board);
        if (index < 0) throw ccCOMError(E_INVALIDARG, 0);
        IDispatch* gone[2] = {};
        {
            ccThreadOwnerLockGuard guard(&ownerLock());
            attach(index);
            gone[0] = takeInputLines(), gone[1] = takeOutputLines();
        }
        // After the lock: a last release stops the lines' threads.
        for (IDispatch* lines : gone)
            if (lines) lines->Release();
        return S_OK;
    });
}

HRESULT CQorFrameGrabber7320::get_Name(BSTR* name)
{
    return method(u"get_Name",
                  [&](cc7320& board, int32_t) { setOut(name, [&] { return cc_grabber::newBstr(board.name()); }); });
}

HRESULT CQorFrameGrabber7320::get_SerialNumber(BSTR* serial)
{
    return method(u"get_SerialNumber",
                  [&](cc7320& board, int32_t) {
                      setOut(serial, [&] { return cc_grabber::newBstr(board.serialNumber()); });
                  });
}

HRESULT CQorFrameGrabber7320::get_UniqueID(BSTR* id)
{
    return method(u"get_UniqueID",
                  [&](cc7320& board, int32_t) { setOut(id, [&] { return cc_grabber::newBstr(board.uniqueId()); }); });
}

HRESULT CQorFrameGrabber7320::get_VideoFormats(SAFEARRAY** names)
{
    return method(u"get_VideoFormats", [&](cc7320& board, int32_t) {
        checkedOut(names);
        std::vector<const char16_t*> listed;
        for (ccVideoFormat* format : cf_formatsSupportedBy(ccVideoFormat::allFormats(), board, -1))
            if (!format->isRestrictedOn(board)) listed.push_back(format->name());
        const SAFEARRAYBOUND bound{static_cast<ULONG>(listed.size()), 0};
        SAFEARRAY* array = SafeArrayCreate(VT_BSTR, 1, &bound);
        if (!array) throw std::bad_alloc();
        BSTR* elements = static_cast<BSTR*>(array->pvData);
        for (size_t i = 0; i < listed.size(); ++i) {
            elements[i] = SysAllocString(listed[i]);
            if (!elements[i]) {
                (void)SafeArrayDestroy(array);
                throw std::bad_alloc();
            }
        }
        *names = array;
    });
}

HRESULT CQorFrameGrabber7320::get_NumCameraPorts(BSTR format, LONG* count)
{
    return method(u"get_NumCameraPorts", [&](cc7320& board, int32_t) {
        checkedOut(count);
        const ccVideoFormat& found = ccVideoFormat::getFormat(plat::com::wideFromBstr(format));
        *count = static_cast<LONG>(board.numCameraPorts(found));
    });
}

HRESULT CQorFrameGrabber7320::CreateAcqFifo(BSTR format, LONG cameraPort, IDispatch** fifo)
{
    return method(u"CreateAcqFifo", [&](cc7320&, int32_t index) {
        *checkedOut(fifo) = nullptr;
        const HRESULT hr = ccCreateAcqFifoObject(index, plat::com::wideFromBstr(format), cameraPort, fifo);
        if (FAILED(hr)) ccThrowCOMError(hr);
    });
}

HRESULT CQorFrameGrabber7320::lines(const OLECHAR* name, bool input, IDispatch** out)
{
    return method(name, [&](cc7320&, int32_t) {
        *checkedOut(out) = nullptr;
        ccThreadOwnerLockGuard guard(&ownerLock()); // the collections go with the board SetImpl replaces
        IDispatch* held = input ? inputLines() : outputLines();
        if (!held) {
            IDispatch* made = ccNewLineCollection(*board_, input);
            input ? setInputLines(made) : setOutputLines(made);
            made->Release();
            held = made;
        }
        held->AddRef();
        *out = held;
    });
}

HRESULT CQorFrameGrabber7320::get_InputLines(IDispatch** lines)
{
    return this->lines(u"get_InputLines", true, lines);
}

HRESULT CQorFrameGrabber7320::get_OutputLines(IDispatch** lines)
{
    return this->lines(u"get_OutputLines", false, lines);
}

// ---- The collection -----------------------------------------------------------

template <class Body> HRESULT CQorFrameGrabber7320s::method(const OLECHAR* name, Body&& body)
{
    return ccComMethod({&CLSID_QorFrameGrabber7320s, &IID_IQorFrameGrabber7320s, name}, nullptr, [&]() -> HRESULT {
        ccThreadOwnerLockGuard guard(&ownerLock());
        makeBoards();
        body();
        return S_OK;
    });
}

HRESULT CQorFrameGrabber7320s::FinalConstruct()
{
    return ccAttachCompanionResult(ccDotNetClass::frameGrabbers, GetUnknown(), companion_);
}

void CQorFrameGrabber7320s::makeBoards()
{
    if (made_) return;
    // All or none: a board that cannot be made leaves the collection empty,
    // to be tried again at the next use.
    struct Made {
        std::vector<CComObject<CQorFrameGrabber7320>*> boards;
        ~Made()
        {
            for (auto* board : boards) board->Release();
        }
    } made;
    const uint32_t count = cc7320::numBoards();
    for (uint32_t i = 0; i < count; ++i) {
        CComObject<CQorFrameGrabber7320>* board = nullptr;
        const HRESULT hr = CComObject<CQorFrameGrabber7320>::CreateInstance(&board);
        if (FAILED(hr)) throw ccCOMError(hr, 0);
        board->AddRef();
        made.boards.push_back(board);
        board->attach(static_cast<int32_t>(i));
    }
    for (uint32_t i = 0; i < count; ++i) addItem(made.boards[i], static_cast<int32_t>(i));
    made_ = true;
}

HRESULT CQorFrameGrabber7320s::get_Count(LONG* count)
{
    return method(u"get_Count", [&] { *checkedOut(count) = static_cast<LONG>(items().size()); });
}

HRESULT CQorFrameGrabber7320s::get_Item(VARIANT index, IQorFrameGrabber7320** board)
{
    return method(u"get_Item", [&] {
        *checkedOut(board) = nullptr;
        IQorFrameGrabber7320* item = items()[ccCollectionPosition(index, items().size())].item;
        item->AddRef();
        *board = item;
    });
}

HRESULT CQorFrameGrabber7320s::get__NewEnum(IUnknown** enumerator)
{
    return method(u"get__NewEnum", [&] {
        *checkedOut(enumerator) = nullptr;
        std::vector<VARIANT> values(items().size());
        for (size_t i = 0; i < values.size(); ++i) {
            values[i].vt = VT_DISPATCH;
            values[i].pdispVal = items()[i].item; // copied with a reference by the enumerator
        }
        IEnumVARIANT* made = nullptr;
        const HRESULT hr = plat::com::createVariantEnumerator(values.data(), static_cast<ULONG>(values.size()), &made);
        if (FAILED(hr)) throw ccCOMError(hr, 0);
        *enumerator = made;
    });
}

void ccRegisterBoardClasses()
{
    static const bool registered = [] {
        const plat::com::CreatorFunction creator = &plat::com::createInstance<CQorFrameGrabber7320s>;
        (void)ccSetModuleClassCreator(CLSID_QorFrameGrabber7320s, creator);
        (void)plat::com::registerClass(
            {CLSID_QorFrameGrabber7320s, creator, L"Qoralt.QorFrameGrabber7320s.1", L"Qoralt.QorFrameGrabber7320s"});
        return true;
    }();
    (void)registered;
}
