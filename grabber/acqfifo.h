// The acquisition FIFO object "Qoralt.QorAcqFifo7320": a library FIFO behind
// COM, with its property interfaces, acquisition events, persistence and
// .NET sinks. Every call on the library FIFO runs under the object's owner
// lock, except the waits of blocking acquires and what the acquisition
// points install; the library's callbacks take only the callback lock.
#pragma once
#include <atomic>
#include <bitset>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "acq/acqfifo.h"
#include "acq/hyper/prop/propquery.h"
#include "comframe/acqevents.h"
#include "comframe/classids.h"
#include "comframe/componentbase.h"
#include "comframe/dotnet.h"
#include "comframe/eventthread.h"
#include "grabber/itf_fifo.h"
#include "grabber/itf_props_a.h"
#include "grabber/props_b.h"

// A new FIFO object over a new library FIFO of the named video format for
// board boardIndex of the 7320 board table and its camera port. Failures
// come with error information: a bad board index, an unknown format, a
// port the board does not have for the format.
HRESULT ccCreateAcqFifoObject(int32_t boardIndex, const std::wstring& format, int32_t cameraPort, IDispatch** fifo);

// Makes the class creatable: its creator in the module's object map, its
// class and ProgIDs in the class table, its error texts in the catalogue.
// Idempotent.
void ccRegisterAcqFifoClass();

// The FIFO's own result codes.
namespace cc_acqfifo {
constexpr HRESULT kNoLibraryFifo = hresultOf(0x8004E600u);
// Failure flag bit n (1 to 8, value 1 << (n - 1)) gives kFailureFlag + n - 1.
constexpr HRESULT kFailureFlag = hresultOf(0x8004E601u);
constexpr HRESULT kStartNotAllowed = hresultOf(0x8004E609u);
constexpr HRESULT kNothingToComplete = hresultOf(0x8004E60Au);
constexpr HRESULT kAcquireTimedOut = hresultOf(0x8004E60Bu);
constexpr HRESULT kListenersConnected = hresultOf(0x8004E60Cu);
constexpr HRESULT kNoFifoInArchive = hresultOf(0x8004E60Du);
constexpr uint32_t kFailureMask = 0xFFu;
// The top bit marks the tickets of the blocking acquire.
constexpr uint32_t kAcquireTicket = 0x80000000u;
// The extra word of a "changed" event on the event thread.
constexpr uint32_t kEventChanged = 3;
constexpr DISPID kChangedEventId = 1;

// The code of the lowest failure flag set among bits 1 to 8; S_OK for none.
HRESULT failureCode(uint32_t flags);
// A new image holding a copy of the frame: grey frames stay grey, colour
// ones become three planes. Throws.
IQorImage* imageFrom(const ccAcqImage& frame);
} // namespace cc_acqfifo

// X(Interface) for each property interface the FIFO composes, in the order
// of kQorAcqFifoPropertyIids; Interface##Impl<T> is its mixin.
#define CC_ACQ_FIFO_PROPERTY_INTERFACES(X)                                                                     \
    X(IQorAcqBrightness)                                                                                       \
    X(IQorAcqContrast)                                                                                         \
    X(IQorAcqBrightnessMultiChannel)                                                                           \
    X(IQorAcqContrastMultiChannel)                                                                             \
    X(IQorAcqSync)                                                                                             \
    X(IQorAcqLight)                                                                                            \
    X(IQorAcqTrigger)                                                                                          \
    X(IQorAcqHorizontalAdjustment)                                                                             \
    X(IQorAcqChargeTransferInterval)                                                                           \
    X(IQorAcqExposure)                                                                                         \
    X(IQorAcqLookupTable)                                                                                      \
    X(IQorAcqStrobe)                                                                                           \
    X(IQorAcqSettlingTime)                                                                                     \
    X(IQorAcqDigitalCameraGain)                                                                                \
    X(IQorAcqMasterClockFrequency)                                                                             \
    X(IQorAcqROI)                                                                                              \
    X(IQorAcqSimultaneous)                                                                                     \
    X(IQorAcqOffsetClamp)                                                                                      \
    X(IQorAcqSample)                                                                                           \
    X(IQorAcqReadoutDirection)                                                                                 \
    X(IQorAcqTriggerFilter)                                                                                    \
    X(IQorAcqStrobeDelay)                                                                                      \
    X(IQorAcqCameraCalibration)                                                                                \
    X(IQorAcqLineScan)                                                                                         \
    X(IQorAcqStrobePulseDuration)                                                                              \
    X(IQorAcq1394DCAM)                                                                                         \
    X(IQorAcqSettingInfo)                                                                                      \
    X(IQorAcqCustomProperties)

class CQorAcqFifo7320;

// The FIFO's IDispatch merges its own interface and the property interfaces.
extern const IID kAcqFifoDispatchIids[30];

#define CC_ACQ_FIFO_MIXIN(Itf) , Itf##Impl<CQorAcqFifo7320>
using CQorAcqFifo7320Base = CQorAcqFifoBase<CQorAcqFifo7320, IQorAcqFifo7320, &IID_IQorAcqFifo7320,
    &CLSID_QorAcqFifo7320, &LIBID_Qorx7320, &DIID_IQorAcqFifoEvents,
    kAcqFifoDispatchIids CC_ACQ_FIFO_PROPERTY_INTERFACES(CC_ACQ_FIFO_MIXIN)>;
#undef CC_ACQ_FIFO_MIXIN

namespace cc_acqfifo {
// The event source's view of the object's library FIFO, kept apart so that
// the object's own libraryFifo() can give the reference its mixins use.
class EventSource : public ccAcqEventSource {
public:
    ccAcqFifo* libraryFifo() final { return heldFifo(); }

protected:
    ~EventSource() = default;
    virtual ccAcqFifo* heldFifo() = 0;
};
} // namespace cc_acqfifo

class CQorAcqFifo7320 : public CQorAcqFifo7320Base, public ccEventThreadImpl, public cc_acqfifo::EventSource {
    template <const IID* DIID> using Point = ccFGConnectionPointImpl<CQorAcqFifo7320, DIID>;

    template <class I> static HRESULT queryProperty(void* self, REFIID iid, void** ppv)
    {
        auto* object = static_cast<CQorAcqFifo7320*>(self);
        if (!object->answers(iid)) return E_NOINTERFACE;
        I* itf = object;
        itf->AddRef();
        *ppv = itf;
        return S_OK;
    }

public:
    CC_EVENT_SOURCE_COUNTING(companion_)

#define CC_ACQ_FIFO_QUERY_ENTRY(Itf) {&IID_##Itf, nullptr, &CQorAcqFifo7320::queryProperty<Itf>},
    BEGIN_COM_MAP(CQorAcqFifo7320)
    COM_INTERFACE_ENTRY2(IUnknown, IQorAcqFifo7320)
    COM_INTERFACE_ENTRY2(IDispatch, IQorAcqFifo7320)
    COM_INTERFACE_ENTRY(IQorAcqFifo7320)
    COM_INTERFACE_ENTRY(IQorObject)
    COM_INTERFACE_ENTRY(ISupportErrorInfo)
    COM_INTERFACE_ENTRY(IProvideClassInfo2)
    COM_INTERFACE_ENTRY2(IProvideClassInfo, IProvideClassInfo2)
    COM_INTERFACE_ENTRY(IConnectionPointContainer)
    COM_INTERFACE_ENTRY(IQorChangeEventConfiguration)
    COM_INTERFACE_ENTRY(IPersistStream)
    COM_INTERFACE_ENTRY2(IPersist, IPersistStream)
    COM_INTERFACE_ENTRY(IQorPersistArchive)
    COM_INTERFACE_ENTRY(IQorComInternal)
    CC_COM_INTERFACE_ENTRY_FREE_THREADED_MARSHALER()
    CC_ACQ_FIFO_PROPERTY_INTERFACES(CC_ACQ_FIFO_QUERY_ENTRY)
    END_COM_MAP()
#undef CC_ACQ_FIFO_QUERY_ENTRY

    CQorAcqFifo7320();
    ~CQorAcqFifo7320() override;
    HRESULT FinalConstruct();
    void FinalRelease();

    static const CLSID* classId() { return &CLSID_QorAcqFifo7320; }

    // Takes a new library FIFO for the board, format and camera port, and
    // caches which property interfaces it answers. Throws.
    void attachLibraryFifo(int32_t boardIndex, const std::wstring& format, int32_t cameraPort);

    // What the property mixins use.
    template <class F> HRESULT propertyCall(const IID& itf, const OLECHAR* method, F&& body)
    {
        return ccComMethod({&CLSID_QorAcqFifo7320, &itf, method}, nullptr, [&]() -> HRESULT {
            ccThreadOwnerLockGuard guard(&this->ownerLock());
            return body(query());
        });
    }
    // Marks the object changed and posts the "changed" event; a lost event
    // goes to the event log.
    void propertyChanged(DISPID memberId) noexcept;

    // IDispatch over the interfaces the object answers now.
    HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT Invoke(DISPID memid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
        EXCEPINFO* excepInfo, UINT* argErr) override;

    // IQorAcqFifo7320.
    HRESULT Start(LONG* ticket) override;
    HRESULT Complete(LONG ticket, LONG* triggerNumber, IQorImage** image) override;
    // Starts an acquisition and waits for its result without the owner
    // lock, so that other calls go on meanwhile: a Flush, or the object's
    // last release on another thread, ends the wait with kNothingToComplete
    // (what a completion of a flushed acquisition gets), and a load or a
    // replacement of the library FIFO is refused meanwhile. The result comes
    // through the complete or the overrun callback (the latter installed
    // whatever the module says of the overrun-callback property), or through
    // another caller's completion; it reaches this acquire by its ticket.
    HRESULT Acquire(LONG* triggerNumber, IQorImage** image) override;
    HRESULT Flush() override;
    HRESULT get_PendingAcquisitions(LONG* count) override;
    HRESULT get_CompletedAcquisitions(LONG* count) override;
    HRESULT get_Timeout(double* seconds) override;
    HRESULT put_Timeout(double seconds) override;
    HRESULT get_VideoFormat(BSTR* name) override;
    HRESULT get_CameraPort(LONG* port) override;
    HRESULT get_BoardIndex(LONG* index) override;
    HRESULT AddDotNetMovePartSink() override;
    HRESULT AddDotNetCompleteSink() override;
    HRESULT AddDotNetOverrunSink() override;
    HRESULT RemoveDotNetMovePartSink() override;
    HRESULT RemoveDotNetCompleteSink() override;
    HRESULT RemoveDotNetOverrunSink() override;

    // Persistence: the Tag, the FIFO's keys, then each answered property
    // interface's values. A load makes a new library FIFO and takes it only
    // when everything was read.
    HRESULT Persist(IQorArchive* archive, LONG flags) override;
    HRESULT CloneCopied(VARIANT_BOOL) override { return S_OK; }
    HRESULT CloneReserved() override { return S_OK; }
    HRESULT CloneFinished(LONG) override { return S_OK; }

    // The library FIFO, for C++ clients that hold the object: one given out
    // lives as long as the object, also when a load replaces it.
    HRESULT GetImpl(void** impl) override;
    // Takes a reference on a ccAcqFifo of a board of the 7320 table in place
    // of the FIFO held, as a load does: refused while listeners are
    // connected or a blocking acquire waits (kListenersConnected).
    HRESULT SetImpl(const std::type_info& kind, void* impl) override;

    // The points in their container's order: general, move part, complete, overrun.
    IConnectionPoint* connectionPointAt(size_t i);

    // The library FIFO, for the mixins inside a propertyCall body.
    ccAcqFifo& libraryFifo() const;

    // ccAcqEventSource.
    ccAcqFifo* heldFifo() override { return fifo_.rawPointer(); }
    HRESULT startEventThread() override { return ccEventThreadImpl::Start(true); }
    void acquisitionEvent(uint32_t kind, const ccAcquireInfo& info) override;
    bool keepsCallback(uint32_t kind) override;

    // ccEventThreadImpl: calls the sinks of the event's kind.
    HRESULT fire(DISPID eventId, int32_t count, VARIANT* args, uint32_t extra) override;

private:
    static constexpr size_t kPropertyCount = 28;

    // Whether QueryInterface gives the property interface iid; without the
    // owner lock, which a blocking acquire holds while it waits.
    bool answers(REFIID iid);
    // The answered interfaces, and drops the merged type information; the
    // caller holds the owner lock.
    void setSupported(const std::bitset<kPropertyCount>& supported);
    // The library FIFO's property query; kNoLibraryFifo without a FIFO.
    ccAcqPropertyQuery& query();
    ccAcqFifo& fifo() const;
    // Puts fifo, of board, format and port, in place of the FIFO held, with
    // what the object keeps of it; the caller holds the owner lock.
    void takeLibraryFifo(const ccPtrHandle<ccAcqFifo>& fifo, int32_t board, const std::wstring& format, int32_t port,
        const std::bitset<kPropertyCount>& supported);
    // kListenersConnected while a sink or a .NET listener would lose its
    // callback to a new FIFO or a blocking acquire waits for the one held;
    // the caller holds the owner lock.
    void refuseWhileInUse();
    // takeLibraryFifo after refuseWhileInUse, with no listener coming or
    // going meanwhile; the caller holds the owner lock.
    void replaceLibraryFifo(const ccPtrHandle<ccAcqFifo>& fifo, int32_t board, const std::wstring& format, int32_t port,
        const std::bitset<kPropertyCount>& supported);
    // The points' complete and overrun callbacks after acquiring_ changed.
    void refreshCallbacks();
    // Ends every waiting blocking acquire with code.
    void endWaiters(HRESULT code);
    // Marks the waiting acquire of ticket as having its result; false when
    // none waits. The caller holds callbackLock_.
    bool arrived(uint32_t ticket);
    static std::bitset<kPropertyCount> supportedBy(ccAcqPropertyQuery& query);
    // The merged type information for the interfaces answered now, made on first use.
    std::shared_ptr<ccMergedTypeInfo> mergedTypeInfo();
    // The result of ticket (bit 31 included; ~0u: the oldest not of a
    // blocking acquire), from those set aside or the library's; others
    // completed meanwhile are set aside, those of waiting blocking acquires
    // kept for them, those of abandoned ones dropped. A completion for
    // another ticket does not wait for the acquisitions of blocking acquires.
    ccAcqResult completeTicket(uint32_t ticket);
    // A failed result as its code with error information, else the image.
    static IQorImage* imageOf(const ccAcqResult& result);
    uint32_t nextTicket();
    void changeDotNetSink(uint32_t kind, bool add);
    // A FIFO property read: *out = value(library FIFO) under the owner lock.
    template <class T, class Value> HRESULT read(const OLECHAR* method, T* out, Value&& value);
    ccCOMErrorContext context(const OLECHAR* method) const
    {
        return {&CLSID_QorAcqFifo7320, &IID_IQorAcqFifo7320, method};
    }

    ccDotNetCompanion companion_;
    ccPtrHandle<ccAcqFifo> fifo_;
    bool fifoGivenOut_ = false; // by GetImpl
    std::vector<ccPtrHandle<ccAcqFifo>> replaced_; // those given out before a load
    int32_t boardIndex_ = -1;
    std::wstring format_;
    int32_t cameraPort_ = -1;
    std::atomic<uint32_t> answered_{0}; // the answered property interfaces, by propertyIndex
    std::mutex dispatchLock_; // dispatch_'s own, so that IDispatch does not wait for an acquire
    std::shared_ptr<ccMergedTypeInfo> dispatch_;
    std::bitset<3> dotNet_; // the .NET listeners, by event kind
    uint32_t ticket_ = 0;
    std::deque<ccAcqResult> setAside_;
    std::deque<ccAcqResult> acquired_; // kept for waiting blocking acquires
    // Blocking acquires under way, changed under the owner lock; read by the
    // points (keepsCallback).
    std::atomic<uint32_t> acquiring_{0};
    uint32_t acquiresInLibrary_ = 0; // their acquisitions the library FIFO holds

    // The waiting blocking acquires, under callbackLock_.
    struct Waiter;
    std::mutex callbackLock_;
    std::condition_variable waitersChanged_;
    std::vector<Waiter*> waiters_;
    bool closing_ = false; // the last release came: no acquire waits any more

    Point<&DIID_IQorAcqMovePartEvent> move_{this};
    Point<&DIID_IQorAcqCompleteEvent> complete_{this};
    Point<&DIID_IQorAcqOverrunEvent> overrun_{this};
};
