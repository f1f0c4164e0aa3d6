#include "grabber/acqfifo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iterator>
#include <new>
#include <vector>

#include "acq/hyper/prop/acqprops.h"
#include "acq/vidfmt/vidfmt.h"
#include "comframe/messagesource.h"
#include "comframe/objectmap.h"
#include "grabber/boards.h"
#include "grabber/comhelpers.h"
#include "modules/unknownfg.h"
#include "platform/com/bstr.h"
#include "platform/com/classes.h"
#include "platform/event_log.h"
#include "platform/text.h"

using namespace cc_acqfifo;

const IID kAcqFifoDispatchIids[30] = {IID_IQorAcqFifo7320, IID_IQorAcqBrightness, IID_IQorAcqContrast,
    IID_IQorAcqBrightnessMultiChannel, IID_IQorAcqContrastMultiChannel, IID_IQorAcqSync, IID_IQorAcqLight,
    IID_IQorAcqTrigger, IID_IQorAcqHorizontalAdjustment, IID_IQorAcqChargeTransferInterval, IID_IQorAcqExposure,
    IID_IQorAcqLookupTable, IID_IQorAcqStrobe, IID_IQorAcqSettlingTime, IID_IQorAcqDigitalCameraGain,
    IID_IQorAcqMasterClockFrequency, IID_IQorAcqROI, IID_IQorAcqSimultaneous, IID_IQorAcqOffsetClamp,
    IID_IQorAcqSample, IID_IQorAcqReadoutDirection, IID_IQorAcqTriggerFilter, IID_IQorAcqStrobeDelay,
    IID_IQorAcqCameraCalibration, IID_IQorAcqLineScan, IID_IQorAcqStrobePulseDuration, IID_IQorAcq1394DCAM,
    IID_IQorAcqSettingInfo, IID_IQorAcqCustomProperties, {}};

namespace {

using cc_grabber::check;
using cc_grabber::Key;
using cc_grabber::newBstr;

// The place of a property interface in the FIFO's order; the count for none.
size_t propertyIndex(REFIID iid)
{
    for (size_t i = 0; i < 28; ++i)
        if (IsEqualIID(iid, kQorAcqFifoPropertyIids[i])) return i;
    return 28;
}

// How much longer than the FIFO's time-out a wait for the module's report lasts.
constexpr double kReportMargin = 0.1;
// A longer wait's end overflows the clock's count of nanoseconds and comes at
// once: such a time-out is taken as none.
constexpr double kLongestWait = 1e9;

// A completion as the library gave it.
struct Completed {
    ccAcqResult result;
    bool ok = false;
};

// The library FIFO of the named format for a board of the table and its
// camera port.
ccPtrHandle<ccAcqFifo> makeLibraryFifo(int32_t boardIndex, const std::wstring& formatName, int32_t cameraPort)
{
    cc7320& board = cc7320::getBoard(boardIndex);
    ccVideoFormat& format = ccVideoFormat::getFormat(formatName);
    if (cameraPort < 0 || static_cast<uint32_t>(cameraPort) >= board.numCameraPorts(format))
        throw ccCameraPortProp::BadParams();
    ccPtrHandle<ccAcqFifo> fifo(format.newAcqFifo(board, -1));
    (void)fifo->propertyQuery(); // attaches the properties, so that the port is checked by the board too
    fifo->acqProps().cameraPort(cameraPort);
    return fifo;
}

// A start by software, refused when the trigger model does not allow one.
void checkStartAllowed(ccAcqFifo& fifo)
{
    const ccTriggerModel* model = cc_props_a::triggerModelOf(fifo.acqProps());
    if (model && !model->allowsStart())
        throw ccCOMError(kStartNotAllowed, 0);
}

HRESULT createFifo(IUnknown* outer, REFIID iid, void** ppv)
{
    return plat::com::createInstance<CQorAcqFifo7320>(outer, iid, ppv);
}

// The catalogue texts of the FIFO's own codes.
const struct {
    HRESULT hr;
    const char16_t* text;
} kMessages[] = {
    {kNoLibraryFifo, u"The acquisition FIFO has no FIFO behind it: create it through its board or load it."},
    {kFailureFlag + 0, u"The acquisition was overrun: no buffer was free for it."},
    {kFailureFlag + 1, u"Nothing was acquired within the time-out."},
    {kFailureFlag + 2, u"The acquisition failed (failure flag 3)."},
    {kFailureFlag + 3, u"The acquisition failed (failure flag 4)."},
    {kFailureFlag + 4, u"The acquisition failed (failure flag 5)."},
    {kFailureFlag + 5, u"The acquisition failed (failure flag 6)."},
    {kFailureFlag + 6, u"The acquisition failed (failure flag 7)."},
    {kFailureFlag + 7, u"The acquisition failed (failure flag 8)."},
    {kStartNotAllowed, u"The trigger model does not allow a start by software."},
    {kNothingToComplete, u"No acquisition was started that could be completed."},
    {kAcquireTimedOut, u"The acquisition's result did not arrive within the time-out."},
    {kListenersConnected, u"The FIFO cannot be replaced while event sinks are connected or an acquisition waits."},
    {kNoFifoInArchive, u"The archive does not name a board, video format and camera port."},
};

} // namespace

void ccRegisterAcqFifoClass()
{
    static const bool registered = [] {
        for (const auto& m : kMessages) ccSetCatalogueMessage(static_cast<uint32_t>(m.hr), {m.text, u""});
        (void)ccSetModuleClassCreator(CLSID_QorAcqFifo7320, &createFifo);
        // Our own class id and ProgIDs: the registration cannot be refused.
        (void)plat::com::registerClass(
            {CLSID_QorAcqFifo7320, &createFifo, L"Qoralt.QorAcqFifo7320.1", L"Qoralt.QorAcqFifo7320"});
        return true;
    }();
    (void)registered;
}

HRESULT ccCreateAcqFifoObject(int32_t boardIndex, const std::wstring& format, int32_t cameraPort, IDispatch** fifo)
{
    const ccCOMErrorContext context{&CLSID_QorAcqFifo7320, &IID_IQorAcqFifo7320, u"CreateAcqFifo"};
    return ccComMethod(context, nullptr, [&] {
        if (!fifo) throw ccCOMError(E_POINTER, 0);
        *fifo = nullptr;
        CComObject<CQorAcqFifo7320>* object = nullptr;
        check(CComObject<CQorAcqFifo7320>::CreateInstance(&object));
        object->AddRef();
        try {
            object->attachLibraryFifo(boardIndex, format, cameraPort);
        } catch (...) {
            object->Release();
            throw;
        }
        *fifo = static_cast<IQorAcqFifo7320*>(object); // the reference taken above
        return S_OK;
    });
}

CQorAcqFifo7320::CQorAcqFifo7320() = default;

CQorAcqFifo7320::~CQorAcqFifo7320()
{
    companion_.release();
}

HRESULT CQorAcqFifo7320::FinalConstruct()
{
    return ccAttachCompanionResult(ccDotNetClass::acqFifo, GetUnknown(), companion_);
}

struct CQorAcqFifo7320::Waiter {
    uint32_t ticket = 0;
    bool arrived = false;
    HRESULT ended = S_OK; // a failure: the wait was ended
};

void CQorAcqFifo7320::FinalRelease()
{
    // A blocking acquire still waiting on another thread ends, and has left
    // the object before anything of it goes.
    {
        std::lock_guard<std::mutex> hold(callbackLock_);
        closing_ = true;
    }
    endWaiters(kNothingToComplete);
    {
        std::unique_lock<std::mutex> hold(callbackLock_);
        waitersChanged_.wait(hold, [&] { return waiters_.empty(); });
    }
    // The callbacks point at this object: they go, and the library FIFO with
    // its module threads, before anything else of the object does.
    if (ccAcqFifo* fifo = fifo_.rawPointer()) {
        const ccAcqInfoCallbackHandle none;
        try {
            fifo->movePartCallback(none);
            fifo->completeCallback(none);
            fifo->overrunCallback(none);
        } catch (...) {
            // The FIFO's end below stops them all the same.
        }
    }
    fifo_ = nullptr;
    replaced_.clear();
    ccEventThreadImpl::Stop();
}

void CQorAcqFifo7320::attachLibraryFifo(int32_t boardIndex, const std::wstring& format, int32_t cameraPort)
{
    ccPtrHandle<ccAcqFifo> fifo = makeLibraryFifo(boardIndex, format, cameraPort);
    const std::bitset<kPropertyCount> supported = supportedBy(*fifo->propertyQuery());
    ccThreadOwnerLockGuard guard(&ownerLock());
    takeLibraryFifo(fifo, boardIndex, format, cameraPort, supported);
}

void CQorAcqFifo7320::takeLibraryFifo(const ccPtrHandle<ccAcqFifo>& fifo, int32_t board, const std::wstring& format,
    int32_t port, const std::bitset<kPropertyCount>& supported)
{
    if (fifoGivenOut_) replaced_.push_back(fifo_);
    fifoGivenOut_ = false;
    fifo_ = fifo;
    boardIndex_ = board;
    format_ = format;
    cameraPort_ = port;
    setSupported(supported);
    setAside_.clear();
    acquired_.clear();
    acquiresInLibrary_ = 0;
}

void CQorAcqFifo7320::replaceLibraryFifo(const ccPtrHandle<ccAcqFifo>& fifo, int32_t board, const std::wstring& format,
    int32_t port, const std::bitset<kPropertyCount>& supported)
{
    // No listener comes or goes while the FIFO its callback is on changes.
    move_.whileListenersFixed([&] {
        complete_.whileListenersFixed([&] {
            overrun_.whileListenersFixed([&] {
                refuseWhileInUse();
                takeLibraryFifo(fifo, board, format, port, supported);
            });
        });
    });
}

void CQorAcqFifo7320::refuseWhileInUse()
{
    if (move_.connectionCount() + complete_.connectionCount() + overrun_.connectionCount() > 0 || dotNet_.any()
        || acquiring_.load() > 0)
        throw ccCOMError(kListenersConnected, 0);
}

void CQorAcqFifo7320::refreshCallbacks()
{
    complete_.refreshLibraryCallback();
    overrun_.refreshLibraryCallback();
}

bool CQorAcqFifo7320::keepsCallback(uint32_t kind)
{
    return kind != kEventMovePart && acquiring_.load() > 0;
}

std::bitset<CQorAcqFifo7320::kPropertyCount> CQorAcqFifo7320::supportedBy(ccAcqPropertyQuery& query)
{
    std::bitset<kPropertyCount> supported;
#define CC_ACQ_FIFO_SUPPORTED(Itf) supported[propertyIndex(IID_##Itf)] = Itf##Impl<CQorAcqFifo7320>::isSupported(query);
    CC_ACQ_FIFO_PROPERTY_INTERFACES(CC_ACQ_FIFO_SUPPORTED)
#undef CC_ACQ_FIFO_SUPPORTED
    return supported;
}

bool CQorAcqFifo7320::answers(REFIID iid)
{
    const size_t i = propertyIndex(iid);
    return i < kPropertyCount && (answered_.load(std::memory_order_acquire) >> i & 1u) != 0;
}

void CQorAcqFifo7320::setSupported(const std::bitset<kPropertyCount>& supported)
{
    answered_.store(static_cast<uint32_t>(supported.to_ulong()), std::memory_order_release);
    std::lock_guard<std::mutex> hold(dispatchLock_);
    dispatch_.reset(); // made again for the new FIFO's interfaces
}

ccAcqFifo& CQorAcqFifo7320::libraryFifo() const
{
    return fifo();
}

ccAcqFifo& CQorAcqFifo7320::fifo() const
{
    if (!fifo_.rawPointer()) throw ccCOMError(kNoLibraryFifo, 0);
    return *fifo_;
}

ccAcqPropertyQuery& CQorAcqFifo7320::query()
{
    ccAcqPropertyQuery* query = fifo().propertyQuery();
    if (!query) throw ccCOMError(kNoLibraryFifo, 0);
    return *query;
}

void CQorAcqFifo7320::propertyChanged(DISPID memberId) noexcept
{
    // A lost "changed" event is no reason to fail the put that made it, nor
    // to let an exception out of a COM method: the event log tells of it.
    try {
        {
            ccThreadOwnerLockGuard guard(&ownerLock());
            setDirty(true);
        }
        if (eventSinks().count() == 0) return;
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = memberId;
        if (PostFire(kChangedEventId, 1, &arg, kEventChanged, false, false)) return;
    } catch (...) {
    }
    try {
        plat::reportEvent(L"qorx7320", L"The \"changed\" event of member " + std::to_wstring(memberId) +
                                           L" of an acquisition FIFO was lost");
    } catch (...) {
        // Nothing is left to tell it with.
    }
}

// IDispatch: the merged information follows the library FIFO the object holds.

std::shared_ptr<ccMergedTypeInfo> CQorAcqFifo7320::mergedTypeInfo()
{
    std::lock_guard<std::mutex> guard(dispatchLock_);
    if (!dispatch_) dispatch_ = std::make_shared<ccMergedTypeInfo>();
    return dispatch_;
}

HRESULT CQorAcqFifo7320::GetTypeInfo(UINT, LCID, ITypeInfo** info)
{
    return mergedTypeInfo()->getTypeInfo(GetUnknown(), kAcqFifoDispatchIids, LIBID_Qorx7320, 1, 0, info);
}

HRESULT CQorAcqFifo7320::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    return mergedTypeInfo()->getIDsOfNames(GetUnknown(), kAcqFifoDispatchIids, LIBID_Qorx7320, 1, 0, names, count, ids);
}

HRESULT CQorAcqFifo7320::Invoke(DISPID memid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
    EXCEPINFO* excepInfo, UINT* argErr)
{
    return mergedTypeInfo()->invoke(GetUnknown(), kAcqFifoDispatchIids, LIBID_Qorx7320, 1, 0, memid, flags, params, result,
        excepInfo, argErr);
}

// Acquisition.

uint32_t CQorAcqFifo7320::nextTicket()
{
    const uint32_t ticket = ticket_;
    ticket_ = (ticket_ + 1) & ~kAcquireTicket;
    return ticket;
}

HRESULT CQorAcqFifo7320::Start(LONG* ticket)
{
    return ccComMethod(context(u"Start"), nullptr, [&] {
        if (!ticket) throw ccCOMError(E_POINTER, 0);
        *ticket = 0;
        ccThreadOwnerLockGuard guard(&ownerLock());
        ccAcqFifo& f = fifo();
        checkStartAllowed(f);
        const uint32_t next = nextTicket();
        if (!f.start(next)) throw ccCOMError(kStartNotAllowed, 0);
        *ticket = static_cast<LONG>(next);
        return S_OK;
    });
}

static Completed completeFrom(ccAcqFifo& fifo)
{
    Completed c;
    ccAcqCompleteArgs args;
    args.localCopy = true; // an image never points into acquisition memory
    // The module ends a late acquisition at its time-out: the completion
    // waits a little longer, so as to report that rather than a time-out of its own.
    const double seconds = fifo.acqProps().timeout();
    args.timeout = std::isfinite(seconds) ? seconds + kReportMargin : seconds;
    args.info = &c.result.info;
    args.outcome = &c.ok;
    c.result.image = fifo.completeToImage(args);
    return c;
}

ccAcqResult CQorAcqFifo7320::completeTicket(uint32_t ticket)
{
    const bool any = ticket == ~0u;
    const bool acquire = !any && (ticket & kAcquireTicket) != 0;
    auto wanted = [&](const ccAcqResult& r) { return any ? (r.info.ticket & kAcquireTicket) == 0 : r.info.ticket == ticket; };
    std::deque<ccAcqResult>& kept = acquire ? acquired_ : setAside_;
    const auto found = std::find_if(kept.begin(), kept.end(), wanted);
    if (found != kept.end()) {
        ccAcqResult result = *found;
        kept.erase(found);
        return result;
    }
    ccAcqFifo& f = fifo();
    for (;;) {
        // The acquisitions of blocking acquires are theirs to wait for.
        const uint32_t theirs = acquire ? 0 : acquiresInLibrary_;
        if (f.pendingAcqs() + f.completedAcqs() <= theirs) throw ccCOMError(kNothingToComplete, 0);
        Completed c = completeFrom(f);
        const uint32_t got = c.result.info.ticket;
        if ((got & kAcquireTicket) != 0 && acquiresInLibrary_ > 0) --acquiresInLibrary_;
        if (wanted(c.result)) {
            if (!c.ok && (c.result.info.failure.flags & kFailureMask) == 0) throw ccCOMError(E_FAIL, 0);
            return c.result;
        }
        if ((got & kAcquireTicket) == 0) {
            setAside_.push_back(c.result);
            continue;
        }
        // A blocking acquire's: kept for it while it waits, else it gave up.
        std::lock_guard<std::mutex> hold(callbackLock_);
        if (arrived(got)) acquired_.push_back(c.result);
    }
}

HRESULT cc_acqfifo::failureCode(uint32_t flags)
{
    flags &= kFailureMask;
    if (flags == 0) return S_OK;
    int bit = 0;
    while ((flags & (1u << bit)) == 0) ++bit;
    return kFailureFlag + bit;
}

IQorImage* cc_acqfifo::imageFrom(const ccAcqImage& frame)
{
    if (!frame.isValid()) throw ccCOMError(E_FAIL, 0);
    std::vector<const uint8_t*> rows;
    ccPelRect window;
    auto addRows = [&](const ccPelBuffer<unsigned char>& plane) {
        window = plane.window();
        for (int32_t y = 0; y < static_cast<int32_t>(window.height()); ++y)
            rows.push_back(plane.row(static_cast<int32_t>(window.y0()) + y));
    };
    // The converted buffers hold the rows until the image has its copy.
    const bool colour = cc_AcqImage::isColorFormat(frame.format());
    const cc3PlanePelBuffer planes = colour ? frame.planeBuffer() : cc3PlanePelBuffer();
    const ccPelBuffer<unsigned char> grey = colour ? ccPelBuffer<unsigned char>() : frame.grey8Buffer();
    if (colour)
        for (int i = 0; i < 3; ++i) addRows(planes.plane(i));
    else
        addRows(grey);
    const int32_t format = colour ? qorImagePlanar3 : qorImageGrey8;
    IQorImage* image = nullptr;
    check(plat::com::createImage(static_cast<int32_t>(window.width()), static_cast<int32_t>(window.height()), format,
                                 rows.data(), &image));
    return image;
}

IQorImage* CQorAcqFifo7320::imageOf(const ccAcqResult& result)
{
    const HRESULT failed = failureCode(result.info.failure.flags);
    if (FAILED(failed)) throw ccCOMError(failed, 0);
    if (!result.image.rawPointer()) throw ccCOMError(E_FAIL, 0);
    return imageFrom(*result.image);
}

HRESULT CQorAcqFifo7320::Complete(LONG ticket, LONG* triggerNumber, IQorImage** image)
{
    return ccComMethod(context(u"Complete"), nullptr, [&] {
        if (!triggerNumber || !image) throw ccCOMError(E_POINTER, 0);
        *triggerNumber = 0;
        *image = nullptr;
        if (ticket < -1) throw ccCOMError(E_INVALIDARG, 0);
        ccThreadOwnerLockGuard guard(&ownerLock());
        const ccAcqResult result = completeTicket(ticket == -1 ? ~0u : static_cast<uint32_t>(ticket));
        *image = imageOf(result);
        *triggerNumber = static_cast<LONG>(result.info.triggerNumber);
        return S_OK;
    });
}

HRESULT CQorAcqFifo7320::Acquire(LONG* triggerNumber, IQorImage** image)
{
    return ccComMethod(context(u"Acquire"), nullptr, [&] {
        if (!triggerNumber || !image) throw ccCOMError(E_POINTER, 0);
        *triggerNumber = 0;
        *image = nullptr;
        Waiter waiter;
        // Registered under the owner lock with the start, and gone last: the
        // object's last release goes on once no acquire is inside it.
        struct Registered {
            CQorAcqFifo7320& self;
            Waiter& waiter;
            bool on = false;
            ~Registered()
            {
                if (!on) return;
                std::lock_guard<std::mutex> hold(self.callbackLock_);
                self.waiters_.erase(std::find(self.waiters_.begin(), self.waiters_.end(), &waiter));
                self.waitersChanged_.notify_all();
            }
        } registered{*this, waiter};
        // While acquires are under way the points keep the complete and
        // overrun callbacks installed, and the library FIFO stays.
        struct Acquiring {
            CQorAcqFifo7320& self;
            bool on = false;
            void begin()
            {
                ++self.acquiring_;
                on = true;
                self.refreshCallbacks();
            }
            void end() noexcept // under the owner lock
            {
                if (!on) return;
                on = false;
                --self.acquiring_;
                try {
                    self.refreshCallbacks();
                } catch (...) {
                    // A callback left installed only posts to the event thread.
                }
            }
            ~Acquiring()
            {
                if (!on) return;
                ccThreadOwnerLockGuard guard(&self.ownerLock());
                end();
            }
        } acquiring{*this};

        double seconds = 0;
        {
            ccThreadOwnerLockGuard guard(&ownerLock());
            ccAcqFifo& f = fifo();
            checkStartAllowed(f);
            waiter.ticket = nextTicket() | kAcquireTicket;
            {
                std::lock_guard<std::mutex> hold(callbackLock_);
                if (closing_) throw ccCOMError(kNothingToComplete, 0);
                waiters_.push_back(&waiter);
                registered.on = true;
            }
            acquiring.begin();
            if (!f.start(waiter.ticket)) throw ccCOMError(kStartNotAllowed, 0);
            ++acquiresInLibrary_;
            seconds = f.acqProps().timeout();
        }

        bool arrived = false;
        HRESULT ended = S_OK;
        {
            std::unique_lock<std::mutex> hold(callbackLock_);
            auto over = [&] { return waiter.arrived || FAILED(waiter.ended); };
            if (seconds < kLongestWait) {
                waitersChanged_.wait_for(hold, std::chrono::duration<double>(seconds + kReportMargin), over);
            } else {
                waitersChanged_.wait(hold, over);
            }
            arrived = waiter.arrived;
            ended = waiter.ended;
        }

        ccAcqResult result;
        {
            ccThreadOwnerLockGuard guard(&ownerLock());
            acquiring.end();
            if (FAILED(ended) || !arrived) {
                // Its result, should it come, is dropped by a later completion.
                acquired_.erase(std::remove_if(acquired_.begin(), acquired_.end(),
                                    [&](const ccAcqResult& r) { return r.info.ticket == waiter.ticket; }),
                    acquired_.end());
                throw ccCOMError(FAILED(ended) ? ended : kAcquireTimedOut, 0);
            }
            result = completeTicket(waiter.ticket);
        }
        *image = imageOf(result);
        *triggerNumber = static_cast<LONG>(result.info.triggerNumber);
        return S_OK;
    });
}

bool CQorAcqFifo7320::arrived(uint32_t ticket)
{
    const auto waiting = std::find_if(waiters_.begin(), waiters_.end(), [&](const Waiter* w) { return w->ticket == ticket; });
    if (waiting == waiters_.end()) return false;
    (*waiting)->arrived = true;
    waitersChanged_.notify_all();
    return true;
}

void CQorAcqFifo7320::endWaiters(HRESULT code)
{
    std::lock_guard<std::mutex> hold(callbackLock_);
    for (Waiter* waiter : waiters_)
        if (SUCCEEDED(waiter->ended)) waiter->ended = code;
    waitersChanged_.notify_all();
}

void CQorAcqFifo7320::acquisitionEvent(uint32_t kind, const ccAcquireInfo& info)
{
    if (info.ticket & kAcquireTicket) {
        std::lock_guard<std::mutex> hold(callbackLock_);
        if (kind != kEventMovePart) (void)arrived(info.ticket);
        if (kind == kEventComplete) return; // the blocking acquire's results are not events
    }
    if (kind == kEventOverrun) {
        (void)ccPostAcqEvent(*this, kind, info); // a module thread cannot report a lost event
        return;
    }
    std::lock_guard<std::mutex> hold(callbackLock_);
    (void)ccPostAcqEvent(*this, kind, info);
}

HRESULT CQorAcqFifo7320::Flush()
{
    return ccComMethod(context(u"Flush"), nullptr, [&] {
        ccThreadOwnerLockGuard guard(&ownerLock());
        fifo().flush();
        setAside_.clear();
        acquired_.clear();
        acquiresInLibrary_ = 0;
        endWaiters(kNothingToComplete); // their acquisitions are gone
        return S_OK;
    });
}

template <class T, class Value>
HRESULT CQorAcqFifo7320::read(const OLECHAR* method, T* out, Value&& value)
{
    return ccComMethod(context(method), nullptr, [&] {
        if (!out) throw ccCOMError(E_POINTER, 0);
        ccThreadOwnerLockGuard guard(&ownerLock());
        *out = value(fifo());
        return S_OK;
    });
}

HRESULT CQorAcqFifo7320::get_PendingAcquisitions(LONG* count)
{
    return read(u"get_PendingAcquisitions", count, [](ccAcqFifo& f) { return static_cast<LONG>(f.pendingAcqs()); });
}

HRESULT CQorAcqFifo7320::get_CompletedAcquisitions(LONG* count)
{
    return read(u"get_CompletedAcquisitions", count,
                [&](ccAcqFifo& f) { return static_cast<LONG>(f.completedAcqs() + setAside_.size()); });
}

HRESULT CQorAcqFifo7320::get_Timeout(double* seconds)
{
    return read(u"get_Timeout", seconds, [](ccAcqFifo& f) { return f.acqProps().timeout(); });
}

HRESULT CQorAcqFifo7320::put_Timeout(double seconds)
{
    bool changed = false;
    const HRESULT hr = ccComMethod(context(u"put_Timeout"), nullptr, [&] {
        ccThreadOwnerLockGuard guard(&ownerLock());
        ccTimeoutProp& timeout = fifo().acqProps();
        if (timeout.timeout() == seconds) return S_OK;
        timeout.timeout(seconds);
        changed = true;
        return S_OK;
    });
    if (changed) propertyChanged(ccAcqFifoTimeout);
    return hr;
}

HRESULT CQorAcqFifo7320::get_VideoFormat(BSTR* name)
{
    return ccComMethod(context(u"get_VideoFormat"), nullptr, [&] {
        if (!name) throw ccCOMError(E_POINTER, 0);
        *name = nullptr;
        ccThreadOwnerLockGuard guard(&ownerLock());
        (void)fifo();
        *name = newBstr(format_);
        return S_OK;
    });
}

HRESULT CQorAcqFifo7320::get_CameraPort(LONG* port)
{
    return read(u"get_CameraPort", port, [&](ccAcqFifo&) { return cameraPort_; });
}

HRESULT CQorAcqFifo7320::get_BoardIndex(LONG* index)
{
    return read(u"get_BoardIndex", index, [&](ccAcqFifo&) { return boardIndex_; });
}

// The .NET sinks.

void CQorAcqFifo7320::changeDotNetSink(uint32_t kind, bool add)
{
    ccThreadOwnerLockGuard guard(&ownerLock());
    (void)fifo();
    auto change = [&](auto& point) {
        dotNet_[kind] = false; // a failed change leaves the flag clear either way
        if (add)
            point.connectLibraryCallback(true);
        else
            point.disconnectLibraryCallback(true);
        dotNet_[kind] = add;
    };
    if (kind == kEventMovePart)
        change(move_);
    else if (kind == kEventComplete)
        change(complete_);
    else
        change(overrun_);
}

#define CC_ACQ_FIFO_DOTNET_SINK(Method, kind, add)                                                             \
    HRESULT CQorAcqFifo7320::Method()                                                                          \
    {                                                                                                          \
        return ccComMethod(context(u## #Method), nullptr, [&] {                                                \
            changeDotNetSink(kind, add);                                                                       \
            return S_OK;                                                                                       \
        });                                                                                                    \
    }
CC_ACQ_FIFO_DOTNET_SINK(AddDotNetMovePartSink, kEventMovePart, true)
CC_ACQ_FIFO_DOTNET_SINK(AddDotNetCompleteSink, kEventComplete, true)
CC_ACQ_FIFO_DOTNET_SINK(AddDotNetOverrunSink, kEventOverrun, true)
CC_ACQ_FIFO_DOTNET_SINK(RemoveDotNetMovePartSink, kEventMovePart, false)
CC_ACQ_FIFO_DOTNET_SINK(RemoveDotNetCompleteSink, kEventComplete, false)
CC_ACQ_FIFO_DOTNET_SINK(RemoveDotNetOverrunSink, kEventOverrun, false)
#undef CC_ACQ_FIFO_DOTNET_SINK

// Events.

IConnectionPoint* CQorAcqFifo7320::connectionPointAt(size_t i)
{
    switch (i) {
    case 0: return CQorAcqFifo7320Base::connectionPointAt(0);
    case 1: return &move_;
    case 2: return &complete_;
    case 3: return &overrun_;
    default: return nullptr;
    }
}

HRESULT CQorAcqFifo7320::fire(DISPID eventId, int32_t count, VARIANT* args, uint32_t extra)
{
    ccSinkList sinks;
    switch (extra) {
    case kEventMovePart: move_.sinks().takeSinks(sinks); break;
    case kEventComplete: complete_.sinks().takeSinks(sinks); break;
    case kEventOverrun: overrun_.sinks().takeSinks(sinks); break;
    default: eventSinks().takeSinks(sinks); break;
    }
    // The event thread holds the object meanwhile: a sink that lets go of
    // it leaves the last release to that hold.
    sinks.invokeAll(eventId, count, args);
    return S_OK;
}

// Persistence.

HRESULT CQorAcqFifo7320::Persist(IQorArchive* archive, LONG flags)
{
    return ccComMethod({&CLSID_QorAcqFifo7320, &IID_IQorObject, u"Persist"}, nullptr, [&] {
        if (!archive) throw ccCOMError(E_POINTER, 0);
        const Key boardKey(u"BoardIndex"), formatKey(u"VideoFormat"), portKey(u"CameraPort"), timeoutKey(u"Timeout");
        if (flags & kPersistSaving) {
            check(CQorAcqFifo7320Base::Persist(archive, flags)); // the Tag, before the lock
            // The library FIFO's values are read under the lock that guards them.
            ccThreadOwnerLockGuard guard(&ownerLock());
            ccAcqPropertyQuery& q = query();
            LONG board = boardIndex_, port = cameraPort_;
            Key format;
            *format.out() = newBstr(format_);
            check(archive->PersistI4(boardKey.get(), &board));
            check(archive->PersistString(formatKey.get(), format.out()));
            check(archive->PersistI4(portKey.get(), &port));
            double timeout = fifo().acqProps().timeout();
            check(archive->PersistR8(timeoutKey.get(), &timeout));
#define CC_ACQ_FIFO_SAVE(Itf)                                                                                  \
    if (answers(IID_##Itf)) Itf##Impl<CQorAcqFifo7320>::persistValues(*this, archive, flags, q);
            CC_ACQ_FIFO_PROPERTY_INTERFACES(CC_ACQ_FIFO_SAVE)
#undef CC_ACQ_FIFO_SAVE
            return S_OK;
        }

        // Everything is read into a new library FIFO first, without the
        // object's lock, as the archive is the client's; the object takes it
        // only when the whole load succeeded.
        {
            ccThreadOwnerLockGuard guard(&ownerLock());
            refuseWhileInUse(); // before anything is made; replaceLibraryFifo decides
        }
        LONG board = -1, port = -1;
        Key format;
        if (archive->PersistI4(boardKey.get(), &board) != S_OK || archive->PersistString(formatKey.get(), format.out()) != S_OK ||
            archive->PersistI4(portKey.get(), &port) != S_OK)
            throw ccCOMError(kNoFifoInArchive, 0);
        const std::wstring formatName = plat::com::wideFromBstr(format.get());
        ccPtrHandle<ccAcqFifo> fifo = makeLibraryFifo(board, formatName, port);
        double timeout = 0;
        const HRESULT timeoutRead = archive->PersistR8(timeoutKey.get(), &timeout);
        check(timeoutRead);
        if (timeoutRead == S_OK) fifo->acqProps().timeout(timeout);
        ccAcqPropertyQuery& q = *fifo->propertyQuery();
        const std::bitset<kPropertyCount> supported = supportedBy(q);
#define CC_ACQ_FIFO_LOAD(Itf)                                                                                  \
    if (supported[propertyIndex(IID_##Itf)]) Itf##Impl<CQorAcqFifo7320>::persistValues(*this, archive, flags, q);
        CC_ACQ_FIFO_PROPERTY_INTERFACES(CC_ACQ_FIFO_LOAD)
#undef CC_ACQ_FIFO_LOAD
        check(CQorAcqFifo7320Base::Persist(archive, flags));
        ccThreadOwnerLockGuard guard(&ownerLock());
        replaceLibraryFifo(fifo, board, formatName, port, supported);
        setDirty(false);
        return S_OK;
    });
}

HRESULT CQorAcqFifo7320::GetImpl(void** impl)
{
    if (!impl) return E_POINTER;
    ccThreadOwnerLockGuard guard(&ownerLock());
    *impl = fifo_.rawPointer();
    fifoGivenOut_ = *impl != nullptr;
    return *impl ? S_OK : E_FAIL;
}

HRESULT CQorAcqFifo7320::SetImpl(const std::type_info& kind, void* impl)
{
    return cc_grabber::setImpl<ccAcqFifo>(CLSID_QorAcqFifo7320, kind, impl, [&](ccAcqFifo& given) {
        const ccPtrHandle<ccAcqFifo> fifo(&given);
        // The object answers for a FIFO only with its board's index and the
        // property query its interfaces reach.
        const int32_t board = ccBoardIndexOf(fifo->frameGrabber());
        ccAcqPropertyQuery* q = board < 0 ? nullptr : fifo->propertyQuery();
        if (!q) throw ccCOMError(E_INVALIDARG, 0);
        const std::bitset<kPropertyCount> supported = supportedBy(*q);
        const char16_t* name = fifo->videoFormat().name();
        const std::wstring format = plat::wideFromUtf16(name, std::char_traits<char16_t>::length(name));
        const int32_t port = fifo->acqProps().cameraPort();
        ccThreadOwnerLockGuard guard(&ownerLock());
        replaceLibraryFifo(fifo, board, format, port, supported);
        setDirty(true); // what a save writes is the new FIFO's
        return S_OK;
    });
}
