#include "grabber/lines.h"

#include <cmath>
#include <new>
#include <optional>
#include <utility>

#include "comframe/comerror.h"
#include "grabber/boards.h"
#include "grabber/comhelpers.h"
#include "modules/unknownfg.h"

// The module's own class and interface ids.
const CLSID CLSID_QorInputLine7320 = {0x6C1E2A44, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x04}};
const CLSID CLSID_QorOutputLine7320 = {0x6C1E2A45, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x05}};
const CLSID CLSID_QorInputLines7320 = {0x6C1E2A46, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x06}};
const CLSID CLSID_QorOutputLines7320 = {0x6C1E2A47, 0x7B3D, 0x4F52, {0x9A, 0x07, 0x31, 0xD4, 0x8E, 0x20, 0x73, 0x07}};

namespace {

// The priority key the dispatcher threads of input lines are made with.
constexpr int32_t kLineCallbackKey = 6;
// The edge kinds an input line watches; the callback argument points at one.
const uint32_t kEdgeKinds[2] = {0, 1};

} // namespace

// ---- Input lines -------------------------------------------------------------

class ccInputLineCallback : public ccCallback1<const void*> {
public:
    explicit ccInputLineCallback(CQorInputLine* line) : line_(line) {}
    // The line withdraws its registrations before it goes.
    void operator()(const void* kind) override { line_->transition(*static_cast<const uint32_t*>(kind)); }

private:
    CQorInputLine* line_;
};

HRESULT ccInputLineEventsPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    if (cookie == nullptr) return E_POINTER;
    *cookie = 0;
    // The sink is asked for its interface before the line's lock, and one
    // that is let go goes after it.
    ccConnectionSinks::Held held, undone;
    try {
        const HRESULT asked = sinks().prepare(sink, &held);
        if (FAILED(asked)) return asked;
        std::lock_guard<std::recursive_mutex> guard(owner()->lock_);
        const DWORD made = sinks().connect(std::move(held));
        if (sinks().count() == 1) {
            const HRESULT hr = owner()->watch_ ? owner()->startWatching(*owner()->watch_) : CONNECT_E_CANNOTCONNECT;
            if (FAILED(hr)) {
                (void)sinks().disconnect(made, &undone); // it was just made
                return hr;
            }
        }
        *cookie = made;
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ccInputLineEventsPoint::Unadvise(DWORD cookie)
{
    ccConnectionSinks::Held gone; // let go after the lock
    std::lock_guard<std::recursive_mutex> guard(owner()->lock_);
    const HRESULT hr = sinks().disconnect(cookie, &gone);
    if (SUCCEEDED(hr) && sinks().count() == 0) owner()->stopWatching();
    return hr;
}

template <class Body> HRESULT CQorInputLine::method(const OLECHAR* name, Body&& body)
{
    return ccComMethod({&CLSID_QorInputLine7320, &IID_IQorInputLine, name}, nullptr, [&]() -> HRESULT {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        body();
        return S_OK;
    });
}

HRESULT CQorInputLine::FinalConstruct()
{
    return ccAttachCompanionResult(ccDotNetClass::inputLine, GetUnknown(), companion_);
}

void CQorInputLine::FinalRelease()
{
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        watch_.reset();
    }
    Stop();
    companion_.release();
}

void CQorInputLine::attach(const ccInputLine& line)
{
    watch_ = std::make_unique<Watch>(line);
    line_ = line;
}

HRESULT CQorInputLine::GetImpl(void** impl)
{
    if (!impl) return E_POINTER;
    *impl = &line_;
    return S_OK;
}

HRESULT CQorInputLine::SetImpl(const std::type_info& kind, void* impl)
{
    return cc_grabber::setImpl<ccInputLine>(CLSID_QorInputLine7320, kind, impl, [&](const ccInputLine& line) {
        std::unique_ptr<Watch> watch = std::make_unique<Watch>(line);
        std::lock_guard<std::recursive_mutex> guard(lock_);
        // The new line is watched before the old one is let go, so that a
        // line that cannot be watched changes nothing.
        if (events_.sinks().count() > 0) {
            const HRESULT hr = startWatching(*watch);
            if (FAILED(hr)) return hr;
        }
        line_ = line;
        watch_.swap(watch); // the old watch goes once the lock is free
        return S_OK;
    });
}

IConnectionPoint* CQorInputLine::connectionPointAt(size_t i)
{
    if (i == 1) return &events_;
    return i == 0 ? ccChangeEventImpl::connectionPointAt(0) : nullptr;
}

HRESULT CQorInputLine::get_Value(VARIANT_BOOL* value)
{
    return method(u"get_Value", [&] { setOut(value, [&] { return cc_grabber::toVariantBool(line_.value()); }); });
}

HRESULT CQorInputLine::get_LineNumber(LONG* number)
{
    return method(u"get_LineNumber", [&] { setOut(number, [&] { return static_cast<LONG>(line_.lineNumber()); }); });
}

HRESULT CQorInputLine::get_Enabled(VARIANT_BOOL* enabled)
{
    return method(u"get_Enabled",
                  [&] { setOut(enabled, [&] { return cc_grabber::toVariantBool(line_.isEnabled()); }); });
}

HRESULT CQorInputLine::put_Enabled(VARIANT_BOOL enabled)
{
    return method(u"put_Enabled", [&] { line_.enable(enabled != VARIANT_FALSE); });
}

HRESULT CQorInputLine::startWatching(Watch& watch)
{
    return ccComMethod({&CLSID_QorInputLine7320, &IID_IConnectionPoint, u"Advise"}, nullptr, [&]() -> HRESULT {
        const HRESULT started = Start(true);
        if (FAILED(started)) return started;
        try {
            const ccPtrHandle<ccCallback1<const void*>> callback(new ccInputLineCallback(this));
            for (int k = 0; k < 2; ++k)
                watch.handles[k] = watch.lines[k].registerCallback(callback, &kEdgeKinds[k], kLineCallbackKey, kEdgeKinds[k]);
        } catch (...) {
            watch.stop();
            throw;
        }
        if (watch.handles[0].empty() || watch.handles[1].empty()) {
            // A released line, or one that cannot tell both transitions.
            watch.stop();
            return CONNECT_E_CANNOTCONNECT;
        }
        return S_OK;
    });
}

void CQorInputLine::stopWatching() noexcept
{
    if (watch_) watch_->stop();
}

void CQorInputLine::transition(uint32_t kind) noexcept
{
    // The sink knows the line by the point it advised: the new value is all.
    VARIANT value;
    value.vt = VT_BOOL;
    value.boolVal = cc_grabber::toVariantBool(kind == 1);
    try {
        (void)PostFire(kInputLineChanged, 1, &value, 0, false, false);
    } catch (...) {
        // A transition that cannot be queued is lost; the dispatcher goes on.
    }
}

HRESULT CQorInputLine::fire(DISPID eventId, int32_t count, VARIANT* args, uint32_t)
{
    ccSinkList sinks;
    events_.sinks().takeSinks(sinks);
    // The event thread holds the object meanwhile: a sink that lets go of
    // it leaves the last release to that hold.
    sinks.invokeAll(eventId, count, args);
    return S_OK;
}

void CQorInputLine::releaseLines() noexcept
{
    std::lock_guard<std::recursive_mutex> guard(lock_);
    watch_.reset();
    line_ = ccInputLine();
}

// ---- Output lines ------------------------------------------------------------

template <class Body> HRESULT CQorOutputLine::method(const OLECHAR* name, Body&& body)
{
    return ccComMethod({&CLSID_QorOutputLine7320, &IID_IQorOutputLine, name}, nullptr, [&]() -> HRESULT {
        std::lock_guard<std::mutex> guard(lock_);
        body();
        return S_OK;
    });
}

HRESULT CQorOutputLine::FinalConstruct()
{
    return ccAttachCompanionResult(ccDotNetClass::outputLine, GetUnknown(), companion_);
}

void CQorOutputLine::attach(const ccOutputLine& line)
{
    line_ = line;
}

HRESULT CQorOutputLine::GetImpl(void** impl)
{
    if (!impl) return E_POINTER;
    *impl = &line_;
    return S_OK;
}

HRESULT CQorOutputLine::SetImpl(const std::type_info& kind, void* impl)
{
    return cc_grabber::setImpl<ccOutputLine>(CLSID_QorOutputLine7320, kind, impl, [&](const ccOutputLine& line) {
        std::lock_guard<std::mutex> guard(lock_);
        line_ = line;
        return S_OK;
    });
}

HRESULT CQorOutputLine::get_Value(VARIANT_BOOL* value)
{
    return method(u"get_Value", [&] { setOut(value, [&] { return cc_grabber::toVariantBool(line_.value()); }); });
}

HRESULT CQorOutputLine::put_Value(VARIANT_BOOL value)
{
    return method(u"put_Value", [&] { line_.setValue(value != VARIANT_FALSE); });
}

HRESULT CQorOutputLine::get_LineNumber(LONG* number)
{
    return method(u"get_LineNumber", [&] { setOut(number, [&] { return static_cast<LONG>(line_.lineNumber()); }); });
}

HRESULT CQorOutputLine::get_Enabled(VARIANT_BOOL* enabled)
{
    return method(u"get_Enabled",
                  [&] { setOut(enabled, [&] { return cc_grabber::toVariantBool(line_.isEnabled()); }); });
}

HRESULT CQorOutputLine::put_Enabled(VARIANT_BOOL enabled)
{
    return method(u"put_Enabled", [&] { line_.enable(enabled != VARIANT_FALSE); });
}

HRESULT CQorOutputLine::Pulse(VARIANT_BOOL level, double milliseconds)
{
    return method(u"Pulse", [&] {
        if (!std::isfinite(milliseconds) || milliseconds < 0) throw ccCOMError(E_INVALIDARG, 0);
        line_.pulse(level != VARIANT_FALSE, milliseconds / 1000.0, false);
    });
}

void CQorOutputLine::releaseLines() noexcept
{
    std::lock_guard<std::mutex> guard(lock_);
    line_ = ccOutputLine();
}

// ---- Line collections --------------------------------------------------------

namespace {

template <class Self, class Itf, const IID* ItfIid, const CLSID* Clsid, class Line, class LineItf,
    const IID* LineIid>
class ccLineCollection : public ccStdImpl<Self, Itf, ItfIid, Clsid, &LIBID_Qorx7320>, public ccReleasableLines {
public:
    ccLineCollection() = default;
    ~ccLineCollection()
    {
        for (CComObject<Line>* line : lines_) line->Release();
    }
    ccLineCollection(const ccLineCollection&) = delete;
    ccLineCollection& operator=(const ccLineCollection&) = delete;

    HRESULT get_Count(LONG* count) override
    {
        return method(u"get_Count", [&] { *checkedOut(count) = static_cast<LONG>(lines_.size()); });
    }
    HRESULT get_Item(VARIANT index, LineItf** line) override
    {
        return method(u"get_Item", [&] {
            *checkedOut(line) = nullptr;
            CComObject<Line>* item = lines_[ccCollectionPosition(index, lines_.size())];
            const HRESULT hr = item->QueryInterface(*LineIid, reinterpret_cast<void**>(line));
            if (FAILED(hr)) throw ccCOMError(hr, 0);
        });
    }

    // Takes the caller's reference, also when it throws.
    void add(CComObject<Line>* line)
    {
        std::lock_guard<std::mutex> guard(lock_);
        try {
            lines_.push_back(line);
        } catch (...) {
            line->Release();
            throw;
        }
    }
    // Empties the collection; lines that clients still hold stay, without
    // their library lines.
    void releaseLines() noexcept override
    {
        std::vector<CComObject<Line>*> lines;
        {
            std::lock_guard<std::mutex> guard(lock_);
            lines.swap(lines_);
        }
        for (CComObject<Line>* line : lines) {
            line->releaseLines();
            line->Release();
        }
    }

private:
    template <class Body> HRESULT method(const OLECHAR* name, Body&& body)
    {
        return ccComMethod({Clsid, ItfIid, name}, nullptr, [&]() -> HRESULT {
            std::lock_guard<std::mutex> guard(lock_);
            body();
            return S_OK;
        });
    }

    std::mutex lock_;
    std::vector<CComObject<Line>*> lines_;
};

#define CC_LINE_COLLECTION_MAP(cls, Itf)                                                                               \
    BEGIN_COM_MAP(cls)                                                                                                 \
    COM_INTERFACE_ENTRY2(IUnknown, Itf)                                                                                \
    COM_INTERFACE_ENTRY2(IDispatch, Itf)                                                                               \
    COM_INTERFACE_ENTRY(Itf)                                                                                           \
    COM_INTERFACE_ENTRY(IQorObject)                                                                                    \
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)                                                        \
    COM_INTERFACE_ENTRY(IProvideClassInfo2)                                                                            \
    COM_INTERFACE_ENTRY(ISupportErrorInfo)                                                                             \
    COM_INTERFACE_ENTRY(IQorComInternal)                                                                               \
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()                                                                   \
    END_COM_MAP()

class CQorInputLines : public ccLineCollection<CQorInputLines, IQorInputLines, &IID_IQorInputLines,
                           &CLSID_QorInputLines7320, CQorInputLine, IQorInputLine, &IID_IQorInputLine> {
public:
    CC_LINE_COLLECTION_MAP(CQorInputLines, IQorInputLines)
};

class CQorOutputLines : public ccLineCollection<CQorOutputLines, IQorOutputLines, &IID_IQorOutputLines,
                            &CLSID_QorOutputLines7320, CQorOutputLine, IQorOutputLine, &IID_IQorOutputLine> {
public:
    CC_LINE_COLLECTION_MAP(CQorOutputLines, IQorOutputLines)
};

// A collection made for a library board, held once by the list.
struct HeldCollection {
    cc7320* board;
    ccReleasableLines* lines;
    IUnknown* unknown;
};

// The collections made so far, one per board and direction; created on first
// use and never destroyed, so that the module's end finds them.
struct LineCollections {
    std::mutex lock;
    std::vector<HeldCollection> inputs, outputs;
};

LineCollections& lineCollections()
{
    static LineCollections* const lists = new LineCollections;
    return *lists;
}

template <class T> CComObject<T>* newObject()
{
    CComObject<T>* object = nullptr;
    const HRESULT hr = CComObject<T>::CreateInstance(&object);
    if (FAILED(hr)) throw ccCOMError(hr, 0);
    object->AddRef();
    return object;
}

ccInputLine libraryLine(cc7320& board, uint32_t n, CQorInputLine*)
{
    return board.inputLine(n);
}

ccOutputLine libraryLine(cc7320& board, uint32_t n, CQorOutputLine*)
{
    return board.outputLine(n);
}

// Fills collection with a line object for each number the board's I/O
// configuration permits and its module offers.
template <class Collection, class Line> void fill(Collection* collection, cc7320& board)
{
    // Line numbers are 8-bit.
    for (uint32_t n = 0; n < 256; ++n) {
        std::optional<decltype(libraryLine(board, n, static_cast<Line*>(nullptr)))> line;
        try {
            line.emplace(libraryLine(board, n, static_cast<Line*>(nullptr)));
        } catch (const ccParallelIO::Errors&) {
            continue; // not a line of this configuration
        }
        CComObject<Line>* object = newObject<Line>();
        try {
            object->attach(*line);
        } catch (...) {
            object->Release();
            throw;
        }
        collection->add(object);
    }
}

using LineCollectionList = std::vector<HeldCollection>;

// The board's collection of the list, made at the first request: every
// board object of a library board shares it, so that new board objects do
// not add collections that live until the module's end.
template <class Collection, class Line> IDispatch* newCollection(cc7320& board, LineCollectionList LineCollections::*list)
{
    LineCollections& lists = lineCollections();
    std::lock_guard<std::mutex> guard(lists.lock);
    IDispatch* dispatch = nullptr;
    for (const HeldCollection& held : lists.*list)
        if (held.board == &board) {
            (void)held.unknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)); // always answered
            return dispatch;
        }
    CComObject<Collection>* collection = newObject<Collection>();
    try {
        fill<Collection, Line>(collection, board);
        (lists.*list).push_back({&board, collection, collection->GetUnknown()}); // takes the reference
    } catch (...) {
        collection->Release();
        throw;
    }
    (void)collection->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)); // always answered
    return dispatch;
}

} // namespace

IDispatch* ccNewLineCollection(cc7320& board, bool input)
{
    return input ? newCollection<CQorInputLines, CQorInputLine>(board, &LineCollections::inputs)
                 : newCollection<CQorOutputLines, CQorOutputLine>(board, &LineCollections::outputs);
}

void ccReleaseLineCollections()
{
    LineCollectionList inputs, outputs;
    {
        LineCollections& lists = lineCollections();
        std::lock_guard<std::mutex> guard(lists.lock);
        inputs.swap(lists.inputs);
        outputs.swap(lists.outputs);
    }
    for (LineCollectionList* list : {&inputs, &outputs})
        for (const HeldCollection& held : *list) {
            held.lines->releaseLines();
            held.unknown->Release();
        }
}
