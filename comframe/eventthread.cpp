#include "comframe/eventthread.h"

#include "comframe/comutil.h"
#include "comframe/eventthread_testing.h"
#include "comframe/threadlock.h"
#include "platform/com/apartment.h"
#include "platform/com/classes.h"
#include "platform/com/git.h"
#include "platform/com/message.h"
#include "platform/thread.h"

#include <atomic>
#include <list>
#include <mutex>
#include <stdexcept>

namespace {

constexpr DWORD kStartTimeout = 15000;
constexpr DWORD kCreateTimeout = 10000;
constexpr int32_t kAboveNormal = 1;
constexpr DWORD kCreateContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                                 CLSCTX_REMOTE_SERVER;

std::atomic<DWORD> createTimeout{kCreateTimeout};
std::atomic<void (*)()> createQueued{nullptr};

// One create request's own block, shared by the requester and the request,
// so that a request served after its requester gave up writes nowhere the
// requester no longer owns.
struct CreateJob {
    explicit CreateJob(const CLSID& c)
        : clsid(c)
        , done(plat::createEvent(true, false))
    {
    }
    ~CreateJob()
    {
        if (stream) {
            IUnknown* late = nullptr;
            if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(&late))))
                late->Release();
        }
        if (done) (void)plat::closeHandle(done);
    }
    CreateJob(const CreateJob&) = delete;
    CreateJob& operator=(const CreateJob&) = delete;

    // The first finish counts; a stream nobody waits for any more is given back.
    void finish(IStream* made)
    {
        {
            std::lock_guard<std::mutex> guard(lock);
            if (!finished && !abandoned) {
                stream = made;
                made = nullptr;
            }
            finished = true;
        }
        (void)plat::setEvent(done);
        if (made) {
            IUnknown* late = nullptr;
            if (SUCCEEDED(CoGetInterfaceAndReleaseStream(made, IID_IUnknown, reinterpret_cast<void**>(&late))))
                late->Release();
        }
    }

    const CLSID clsid;
    const plat::Handle done;
    std::mutex lock;
    IStream* stream = nullptr; // guarded by lock
    bool finished = false; // guarded by lock
    bool abandoned = false; // guarded by lock
};

enum class ThreadState { NotStarted, Running, Failed, Stopped };

} // namespace

struct ccEventThreadImpl::Request {
    ~Request()
    {
        // A create request dropped unserved lets its requester go at once.
        if (job) job->finish(nullptr);
    }

    uint32_t kind = kFire;
    DISPID eventId = 0;
    int32_t count = 0;
    ccAgileVariant args[kMaxFireArguments];
    uint32_t extra = 0;
    std::shared_ptr<CreateJob> job; // kCreate
};

struct ccEventThreadImpl::Shared {
    Shared()
        : startSemaphore(plat::createSemaphore(0, 0x7FFFFFFF))
        , requestSemaphore(plat::createSemaphore(0, 0x7FFFFFFF))
    {
        if (!startSemaphore || !requestSemaphore) {
            if (startSemaphore) (void)plat::closeHandle(startSemaphore);
            if (requestSemaphore) (void)plat::closeHandle(requestSemaphore);
            throw std::bad_alloc();
        }
    }
    ~Shared()
    {
        if (thread) (void)plat::closeHandle(thread);
        (void)plat::closeHandle(requestSemaphore);
        (void)plat::closeHandle(startSemaphore);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    ccThreadOwnerLock lock; // guards what follows up to the queue
    ThreadState state = ThreadState::NotStarted;
    plat::Handle thread = nullptr;
    uint32_t threadId = 0;
    ccEventThreadImpl* owner = nullptr; // null once stopped
    std::list<std::unique_ptr<Request>> queue;

    std::atomic<bool> quit{false};
    std::atomic<int32_t> firing{0};

    // The hold on a counting owner; what follows is guarded by holdLock.
    std::mutex holdLock;
    bool counted = false; // the owner counts through CC_EVENT_SOURCE_COUNTING
    bool referenced = false; // it has references of its own
    uint32_t holds = 0; // the thread's hold, taken or about to be
    const plat::Handle startSemaphore;
    const plat::Handle requestSemaphore;
};

void ccEventThreadTesting::setCreateTimeout(uint32_t milliseconds)
{
    createTimeout.store(milliseconds ? milliseconds : kCreateTimeout);
}

void ccEventThreadTesting::setCreateQueuedHook(void (*hook)())
{
    createQueued.store(hook);
}

namespace {

using Shared = ccEventThreadImpl::Shared;

// The thread's hold on a counting owner while it fires. None for an owner
// that does not count; for one whose last reference went, the event is
// dropped (going() is true): the owner is in its final release.
class Hold {
public:
    Hold(Shared& s, ccEventThreadImpl* owner) : s_(s)
    {
        {
            std::lock_guard<std::mutex> guard(s.holdLock);
            if (!s.counted) return;
            if (!s.referenced) {
                going_ = true;
                return;
            }
            ++s.holds; // a last release from now on leaves the object to us
        }
        held_ = owner->heldWhileFiring();
        held_->AddRef();
    }
    ~Hold()
    {
        if (!held_) return;
        {
            std::lock_guard<std::mutex> guard(s_.holdLock);
            --s_.holds;
        }
        // Counted under the hold's lock like any release: a last release
        // elsewhere meanwhile has left the object to this one.
        held_->Release(); // may be the last: the object goes here, Stop does not wait
    }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
    bool going() const { return going_; }

private:
    Shared& s_;
    IUnknown* held_ = nullptr;
    bool going_ = false;
};

void serveFire(Shared& s, ccEventThreadImpl* owner, const ccEventThreadImpl::Request& request)
{
    const Hold hold(s, owner);
    if (hold.going()) return;
    VARIANT copies[ccEventThreadImpl::kMaxFireArguments];
    for (VARIANT& v : copies)
        VariantInit(&v);
    s.firing.store(1);
    try {
        // A value that cannot be had on this thread reaches fire empty.
        for (int32_t i = 0; i < request.count; ++i)
            (void)request.args[i].copyTo(&copies[i]);
        (void)owner->fire(request.eventId, request.count, copies, request.extra);
    } catch (...) {
        // The owner's failures are its own; the thread goes on.
    }
    s.firing.store(0);
    for (VARIANT& v : copies)
        (void)VariantClear(&v);
}

void serveCreate(CreateJob& job)
{
    IUnknown* object = nullptr;
    IStream* stream = nullptr;
    if (SUCCEEDED(CoCreateInstance(job.clsid, nullptr, kCreateContext, IID_IUnknown,
                                   reinterpret_cast<void**>(&object))) &&
        object) {
        if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IUnknown, object, &stream))) stream = nullptr;
    }
    job.finish(stream);
    if (object) object->Release();
}

uint32_t eventThreadProc(void* argument)
{
    // Only the shared block is touched here: the object may go while a
    // request is served, when its last reference is released inside fire.
    std::unique_ptr<std::shared_ptr<Shared>> kept(static_cast<std::shared_ptr<Shared>*>(argument));
    Shared& s = **kept;
    static const ccCoWaitFunction wait = ccGetCoWaitForMultipleHandles();

    const plat::Handle self = plat::currentThreadHandle();
    if (self) {
        (void)plat::setThreadPriority(self, kAboveNormal); // self is a thread; a refusal by the system is logged
        (void)plat::closeHandle(self);
    }
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    (void)plat::releaseSemaphore(s.startSemaphore, 1, nullptr); // cannot reach the maximum
    for (;;) {
        DWORD index = 0;
        if (FAILED(wait(0, INFINITE, 1, &s.requestSemaphore, &index))) break; // only a broken handle fails
        if (s.quit.load()) break;
        std::unique_ptr<ccEventThreadImpl::Request> request;
        ccEventThreadImpl* owner = nullptr;
        {
            ccThreadOwnerLockGuard guard(&s.lock, true);
            if (s.quit.load()) break; // stopped meanwhile: nothing more is served
            if (s.queue.empty()) continue;
            request = std::move(s.queue.front());
            s.queue.pop_front();
            owner = s.owner;
        }
        if (request->kind == ccEventThreadImpl::kFire)
            serveFire(s, owner, *request);
        else if (request->job)
            serveCreate(*request->job);
    }
    if (SUCCEEDED(joined)) CoUninitialize();
    return 0;
}

} // namespace

ccEventThreadImpl::ccEventThreadImpl()
    : shared_(std::make_shared<Shared>())
{
    shared_->owner = this;
}

ccEventThreadImpl::~ccEventThreadImpl()
{
    Stop();
    holder_.release();
}

HRESULT ccEventThreadImpl::Start(bool pumpMessages)
{
    Shared& s = *shared_;
    ccThreadOwnerLockGuard guard(&s.lock, pumpMessages);
    switch (s.state) {
    case ThreadState::Running: return S_OK;
    case ThreadState::Failed:
    case ThreadState::Stopped: return E_FAIL;
    case ThreadState::NotStarted: break;
    }
    auto* argument = new std::shared_ptr<Shared>(shared_);
    uint32_t id = 0;
    const plat::Handle thread = plat::createThread(&eventThreadProc, argument, &id);
    if (!thread) {
        delete argument;
        s.state = ThreadState::Failed;
        return E_FAIL;
    }
    s.thread = thread;
    s.threadId = id;
    s.state = ThreadState::Running;
    // Under the lock: no request is queued before the thread runs. A time-out
    // leaves the thread registered; later calls find it running.
    static const ccCoWaitFunction wait = ccGetCoWaitForMultipleHandles();
    DWORD index = 0;
    return wait(0, kStartTimeout, 1, &s.startSemaphore, &index);
}

bool ccEventThreadImpl::PostFire(DISPID eventId, int32_t count, const VARIANT* args, uint32_t extra, bool coalesce,
                                 bool pumpMessages)
{
    if (count < 0 || count > kMaxFireArguments || (count > 0 && !args))
        throw std::invalid_argument("ccEventThreadImpl::PostFire: 0 to 3 arguments");
    if (FAILED(Start(pumpMessages))) return false;
    // The copies are made before the lock is taken, so that a copy that
    // throws leaves the queue as it was.
    auto request = std::make_unique<Request>();
    request->kind = kFire;
    request->eventId = eventId;
    request->count = count;
    request->extra = extra;
    for (int32_t i = 0; i < count; ++i)
        request->args[i] = args[i];

    Shared& s = *shared_;
    std::unique_ptr<Request> replaced; // released after the lock
    ccThreadOwnerLockGuard guard(&s.lock, pumpMessages);
    if (s.state != ThreadState::Running) return false;
    if (coalesce) {
        for (auto it = s.queue.rbegin(); it != s.queue.rend(); ++it) {
            Request& queued = **it;
            if (queued.kind == kFire && queued.eventId == eventId && queued.extra == extra) {
                // Same place in the queue, already counted by the semaphore.
                replaced = std::move(*it);
                *it = std::move(request);
                return false;
            }
        }
    }
    s.queue.push_back(std::move(request));
    (void)plat::releaseSemaphore(s.requestSemaphore, 1, nullptr); // never near the maximum
    return true;
}

HRESULT ccEventThreadImpl::CreateObjectOnThread(const OLECHAR* text, IUnknown** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!text) return E_INVALIDARG;
    CLSID clsid{};
    const HRESULT parsed = text[0] == u'{' ? CLSIDFromString(text, &clsid) : CLSIDFromProgID(text, &clsid);
    if (FAILED(parsed)) return parsed;
    const HRESULT started = Start(true);
    if (FAILED(started)) return started;

    auto job = std::make_shared<CreateJob>(clsid);
    if (!job->done) return E_OUTOFMEMORY;
    auto request = std::make_unique<Request>();
    request->kind = kCreate;
    request->job = job;
    Shared& s = *shared_;
    {
        ccThreadOwnerLockGuard guard(&s.lock, true);
        if (s.state != ThreadState::Running) return E_FAIL;
        s.queue.push_back(std::move(request));
        (void)plat::releaseSemaphore(s.requestSemaphore, 1, nullptr); // never near the maximum
    }
    if (void (*const queued)() = createQueued.load()) queued();
    static const ccCoWaitFunction wait = ccGetCoWaitForMultipleHandles();
    DWORD index = 0;
    const HRESULT waited = wait(0, createTimeout.load(), 1, &job->done, &index);
    IStream* stream = nullptr;
    {
        std::lock_guard<std::mutex> guard(job->lock);
        if (!job->finished) {
            job->abandoned = true; // a late object is given back by the request
            return FAILED(waited) ? waited : E_FAIL;
        }
        stream = job->stream;
        job->stream = nullptr;
    }
    if (!stream) return E_FAIL;
    return CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, reinterpret_cast<void**>(out));
}

void ccEventThreadImpl::Stop()
{
    Shared& s = *shared_;
    plat::Handle thread = nullptr;
    bool fromItself = false;
    std::list<std::unique_ptr<Request>> dropped;
    {
        ccThreadOwnerLockGuard guard(&s.lock, true);
        s.owner = nullptr;
        if (s.state != ThreadState::Running) {
            if (s.state == ThreadState::NotStarted) s.state = ThreadState::Stopped;
            return;
        }
        s.state = ThreadState::Stopped;
        s.quit.store(true);
        dropped.swap(s.queue);
        thread = s.thread;
        fromItself = s.threadId == plat::currentThreadId();
        s.thread = nullptr;
        s.threadId = 0;
        (void)plat::releaseSemaphore(s.requestSemaphore, 1, nullptr); // never near the maximum
    }
    dropped.clear(); // never fired; their values go before the wait
    // From the event thread itself (the last release inside fire) there is
    // nothing to wait for: the thread leaves once the current request ends.
    while (!fromItself) {
        // Calls marshalled to this thread run meanwhile: the event thread may
        // be waiting for one inside fire.
        MSG message;
        if (PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_REMOVE)) {
            (void)TranslateMessage(&message);
            (void)DispatchMessageW(&message);
            continue;
        }
        if (plat::waitFor(thread, 1).status != plat::WaitStatus::TimedOut) break;
    }
    (void)plat::closeHandle(thread);
}

bool ccEventThreadImpl::firing() const { return shared_->firing.load() != 0; }

ULONG ccEventThreadImpl::addRefCounted(ULONG count)
{
    if (count == 1) { // its first reference, or again one after the construction's count
        std::lock_guard<std::mutex> guard(shared_->holdLock);
        shared_->counted = true;
        shared_->referenced = true;
    }
    return count;
}

std::mutex& ccEventThreadImpl::holdLock()
{
    return shared_->holdLock;
}

ULONG ccEventThreadImpl::afterRelease(ULONG count)
{
    if (count != 0) return count;
    if (shared_->holds > 0) return 1; // the hold's release is the last
    shared_->referenced = false;
    return 0;
}
