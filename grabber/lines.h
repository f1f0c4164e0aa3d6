// The board's input and output lines as COM objects, their collections, and
// the process-wide lists of those collections that the module's end releases.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "comframe/classids.h"
#include "comframe/componentbase.h"
#include "comframe/dotnet.h"
#include "comframe/eventthread.h"
#include "grabber/itf_board.h"
#include "modules/parallel_io.h"

class cc7320;

extern const CLSID CLSID_QorInputLine7320, CLSID_QorOutputLine7320, CLSID_QorInputLines7320,
    CLSID_QorOutputLines7320;

// What the release at the module's end asks of lines and their collections:
// let go of every library line, so that none outlives the library.
class ccReleasableLines {
public:
    virtual void releaseLines() noexcept = 0;

protected:
    ~ccReleasableLines() = default;
};

class CQorInputLine;

// The base of the board's input and output line objects.
template <class T, class Itf, const IID* ItfIid, const CLSID* Clsid>
using ccQorIOLineQMB = ccStdChangeImpl<T, Itf, ItfIid, Clsid, &LIBID_Qorx7320>;

// The input line's event point: the line's library callbacks are registered
// exactly while it has sinks.
class ccInputLineEventsPoint : public ccConnectionPointImpl<CQorInputLine, &DIID_IQorInputLineEvents> {
public:
    using ccConnectionPointImpl::ccConnectionPointImpl;
    HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override;
};

class CQorInputLine
    : public ccQorIOLineQMB<CQorInputLine, IQorInputLine, &IID_IQorInputLine, &CLSID_QorInputLine7320>,
      public ccEventThreadImpl,
      public ccReleasableLines {
public:
    CC_EVENT_SOURCE_COUNTING(companion_)
    BEGIN_COM_MAP(CQorInputLine)
    COM_INTERFACE_ENTRY2(IUnknown, IQorInputLine)
    COM_INTERFACE_ENTRY2(IDispatch, IQorInputLine)
    COM_INTERFACE_ENTRY(IQorInputLine)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IQorChangeEventConfiguration)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IQorComInternal)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    CQorInputLine() : events_(this) {}
    HRESULT FinalConstruct();
    // The callbacks go first: none may reach the object while it goes.
    void FinalRelease();
    void attach(const ccInputLine& line);

    // The object's ccInputLine, which lives as long as the object; another
    // one replaces it (its copy), with the sinks' watch moved to it.
    HRESULT GetImpl(void** impl) override;
    HRESULT SetImpl(const std::type_info& kind, void* impl) override;

    // The change point, then the line's own events.
    IConnectionPoint* connectionPointAt(size_t i);

    HRESULT get_Value(VARIANT_BOOL* value) override;
    HRESULT get_LineNumber(LONG* number) override;
    HRESULT get_Enabled(VARIANT_BOOL* enabled) override;
    HRESULT put_Enabled(VARIANT_BOOL enabled) override;

    HRESULT fire(DISPID eventId, int32_t count, VARIANT* args, uint32_t extra) override;
    void releaseLines() noexcept override;

private:
    friend class ccInputLineEventsPoint;
    friend class ccInputLineCallback;
    // The copies of the line the callbacks are registered through (one edge
    // kind per copy) and their registrations, which stay with the copies
    // that made them.
    struct Watch {
        explicit Watch(const ccInputLine& line) : lines{line, line} {}
        // Each release waits for its dispatcher thread to end.
        void stop() noexcept
        {
            for (ccInputLine::CallbackHandle& handle : handles) handle = ccInputLine::CallbackHandle();
        }
        ccInputLine lines[2];
        ccInputLine::CallbackHandle handles[2];
    };

    template <class Body> HRESULT method(const OLECHAR* name, Body&& body);
    // Both edge kinds through watch. The caller holds lock_.
    HRESULT startWatching(Watch& watch);
    void stopWatching() noexcept;
    // On the line's dispatcher thread: kind 1 is a rise, 0 a fall.
    void transition(uint32_t kind) noexcept;

    // Recursive: a sink's Advise may pump this thread's calls while it waits.
    std::recursive_mutex lock_;
    ccInputLine line_;
    std::unique_ptr<Watch> watch_; // null: no line to watch
    ccInputLineEventsPoint events_;
    ccDotNetCompanion companion_;
};

class CQorOutputLine
    : public ccQorIOLineQMB<CQorOutputLine, IQorOutputLine, &IID_IQorOutputLine, &CLSID_QorOutputLine7320>,
      public ccReleasableLines {
public:
    CC_COM_COMPANION_COUNTING(companion_)
    BEGIN_COM_MAP(CQorOutputLine)
    COM_INTERFACE_ENTRY2(IUnknown, IQorOutputLine)
    COM_INTERFACE_ENTRY2(IDispatch, IQorOutputLine)
    COM_INTERFACE_ENTRY(IQorOutputLine)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IQorChangeEventConfiguration)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IQorComInternal)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease() { companion_.release(); }
    void attach(const ccOutputLine& line);
    // The object's ccOutputLine, which lives as long as the object; another
    // one replaces it (its copy).
    HRESULT GetImpl(void** impl) override;
    HRESULT SetImpl(const std::type_info& kind, void* impl) override;

    HRESULT get_Value(VARIANT_BOOL* value) override;
    HRESULT put_Value(VARIANT_BOOL value) override;
    HRESULT get_LineNumber(LONG* number) override;
    HRESULT get_Enabled(VARIANT_BOOL* enabled) override;
    HRESULT put_Enabled(VARIANT_BOOL enabled) override;
    HRESULT Pulse(VARIANT_BOOL level, double milliseconds) override;

    void releaseLines() noexcept override;

private:
    template <class Body> HRESULT method(const OLECHAR* name, Body&& body);

    std::mutex lock_;
    ccOutputLine line_;
    ccDotNetCompanion companion_;
};

// The collection of the lines board's I/O configuration permits (inputs or
// outputs), with one reference for the caller: made at the first request for
// the board and direction and kept in the process's list of line
// collections, later requests get the same one.
IDispatch* ccNewLineCollection(cc7320& board, bool input);

// Tells every line collection made so far to let go of its lines, and lets
// go of it; the module's end calls it. Clients' references to line objects
// stay valid, but their calls fail from then on.
void ccReleaseLineCollections();
