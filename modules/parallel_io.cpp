#include "modules/parallel_io.h"

#include <algorithm>
#include <thread>
#include <typeinfo>
#include <utility>

#include "modules/fgproxy.h"
#include "modules/internal/counted.h"
#include "modules/unknownfg.h"
#include "std/dispatcher.h"

namespace {

// A configuration checks 8-bit numbers; no line above can ever be reached,
// so a module reporting more lines is not asked for them.
constexpr uint32_t kMaxLineNumber = 255;

} // namespace

ccParallelIO::~ccParallelIO() = default;

void ccParallelIO::setConfig(const ccIOConfig& config)
{
    std::lock_guard<std::mutex> hold(configsMutex_);
    for (const std::unique_ptr<ccIOConfig>& kept : configs_) {
        if (typeid(*kept) == typeid(config)) {
            config_.store(kept.get(), std::memory_order_release);
            return;
        }
    }
    configs_.emplace_back(config.clone());
    config_.store(configs_.back().get(), std::memory_order_release);
}

// ---- cc_IOLine ----

cc_IOLine::~cc_IOLine() = default;

void cc_IOLine::toggle()
{
    if (!isEnabled())
        throw ccParallelIO::NotEnabled();
    setValue(!value());
}

int32_t cc_IOLine::notifyArgument() { return 0; }
bool cc_IOLine::supportsEdgeKind(uint32_t) { return false; }
void cc_IOLine::stopEdgeKind(uint32_t) {}
void cc_IOLine::addWakeObject(ccIWakeObject*, uint32_t) {}
void cc_IOLine::removeWakeObject(ccIWakeObject*, uint32_t) {}

std::unique_lock<std::mutex> cc_IOLine::lockLine() { return std::unique_lock<std::mutex>(lineMutex_); }

void cc_IOLine::watchEdgeKind(uint32_t kind)
{
    if (kind < 3)
        ++watchers_[kind];
}

bool cc_IOLine::unwatchEdgeKind(uint32_t kind) { return kind < 3 && watchers_[kind] > 0 && --watchers_[kind] == 0; }

// ---- cc_UnknownIOLine ----

cc_UnknownIOLine::cc_UnknownIOLine(cc_ModPtr<ccIComponent_LineIO> line, const cc_UnknownFrameGrabber& errors)
    : line_(std::move(line)), errors_(&errors)
{
}

cc_UnknownIOLine::~cc_UnknownIOLine() = default;

void cc_UnknownIOLine::check(int32_t status) const { ccModCheck(*errors_, status); }

uint32_t cc_UnknownIOLine::edgeCode(uint32_t kind) { return kind <= 2 ? kind + 1 : 4; }

bool cc_UnknownIOLine::value()
{
    uint32_t word = 0;
    check(line_->value(&word));
    return word != 0;
}

void cc_UnknownIOLine::setValue(bool value) { check(line_->setValue(value ? 1 : 0)); }

uint32_t cc_UnknownIOLine::lineNumber()
{
    uint32_t word = 0;
    check(line_->lineNumber(&word));
    return word;
}

void cc_UnknownIOLine::enable(bool flag) { check(line_->enable(flag ? 1 : 0)); }

bool cc_UnknownIOLine::isEnabled()
{
    uint32_t word = 0;
    check(line_->isEnabled(&word));
    return word != 0;
}

bool cc_UnknownIOLine::canBeEnabled()
{
    uint32_t word = 0;
    check(line_->canBeEnabled(&word));
    return word != 0;
}

void cc_UnknownIOLine::pulse(bool level, double seconds, bool flag)
{
    check(line_->pulse(level ? 1 : 0, seconds, flag ? 1 : 0));
}

bool cc_UnknownIOLine::supportsEdgeKind(uint32_t kind)
{
    uint32_t word = 0;
    check(line_->supportsEdge(edgeCode(kind), &word));
    return word != 0;
}

void cc_UnknownIOLine::stopEdgeKind(uint32_t kind) { check(line_->stopEdge(edgeCode(kind))); }

void cc_UnknownIOLine::addWakeObject(ccIWakeObject* wake, uint32_t kind)
{
    check(line_->addWake(wake, edgeCode(kind)));
}

void cc_UnknownIOLine::removeWakeObject(ccIWakeObject* wake, uint32_t kind)
{
    check(line_->removeWake(wake, edgeCode(kind)));
}

// ---- cc_UnknownLineTable ----

cc_UnknownLineTable::cc_UnknownLineTable(cc_UnknownFrameGrabber& errors)
    : errors_(&errors), link_(std::make_shared<cc_IOLineLink>())
{
}

cc_UnknownLineTable::~cc_UnknownLineTable()
{
    // Waits for the handles using a line; later uses find the link dead.
    std::unique_lock<std::shared_mutex> hold(link_->mutex);
    link_->live = false;
    outputs_.clear();
    inputs_.clear();
}

cc_IOLine& cc_UnknownLineTable::lineOf(const std::vector<std::unique_ptr<cc_UnknownIOLine>>& lines,
                                       uint32_t number) const
{
    const uint32_t base = static_cast<uint32_t>(base_);
    if (number < base || number - base >= lines.size() || !lines[number - base])
        throw ccParallelIO::BadParams();
    return *lines[number - base];
}

cc_IOLine& cc_UnknownLineTable::outputLine(uint32_t number) const { return lineOf(outputs_, number); }
cc_IOLine& cc_UnknownLineTable::inputLine(uint32_t number) const { return lineOf(inputs_, number); }

// ---- the line handles ----

cc_IOLine& cc_LineHandle::line(bool enabling) const
{
    if (line_ != nullptr)
        return *line_;
    if (enabling)
        throw ccParallelIO::CannotEnable();
    throw ccParallelIO::NotEnabled();
}

template <class Use>
auto cc_LineHandle::with(Use use, bool enabling) const
{
    cc_IOLine& reached = line(enabling);
    if (!link_)
        return use(reached);
    std::shared_lock<std::shared_mutex> hold(link_->mutex);
    if (!link_->live)
        throw ccUnknownFG::MissingFunctionality();
    return use(reached);
}

bool cc_LineHandle::value() const { return with([](cc_IOLine& l) { return l.value(); }); }
uint32_t cc_LineHandle::lineNumber() const { return with([](cc_IOLine& l) { return l.lineNumber(); }); }
void cc_LineHandle::enable(bool flag) const { with([flag](cc_IOLine& l) { l.enable(flag); }, true); }
bool cc_LineHandle::isEnabled() const { return with([](cc_IOLine& l) { return l.isEnabled(); }); }
bool cc_LineHandle::canBeEnabled() const { return with([](cc_IOLine& l) { return l.canBeEnabled(); }, true); }
void ccOutputLine::setValue(bool value) const { with([value](cc_IOLine& l) { l.setValue(value); }); }
void ccOutputLine::pulse(bool level, double seconds, bool flag) const
{
    with([=](cc_IOLine& l) { l.pulse(level, seconds, flag); });
}

// ---- input lines and their callbacks ----

namespace {

// What the module releases on each transition it watches for a dispatcher.
// The module may keep it past its removal and signal it from any thread: once
// detached it signals nothing.
class LineWake final : public cc_CountedObject<ccIWakeObject> {
public:
    explicit LineWake(ccSemaphore& semaphore) : semaphore_(&semaphore) {}

    int32_t signal(uint32_t count) override
    {
        try {
            std::lock_guard<std::mutex> hold(mutex_);
            for (uint32_t i = 0; semaphore_ != nullptr && i < count; ++i)
                semaphore_->unlock();
            return 0;
        } catch (...) {
            return 1; // nothing may unwind into the module
        }
    }
    void detach()
    {
        std::lock_guard<std::mutex> hold(mutex_);
        semaphore_ = nullptr;
    }

private:
    ~LineWake() = default;
    void destroy() override { delete this; }

    std::mutex mutex_;
    ccSemaphore* semaphore_;
};

// The line whose callback this thread is running.
thread_local const cc_InputLineState* tlCalling = nullptr;

} // namespace

// The registrations made through one ccInputLine object, and their
// dispatcher. Lock order: the object's mutex, then the line's lock (held for
// module calls only), or the object's mutex, then the dispatcher's. Callbacks
// run under the dispatcher's lock, so their thread only tries the object's:
// what it cannot do at once (withdrawing) it marks, and sweep() does it for
// whoever holds the lock, before that one lets go.
class cc_InputLineState : public cc_LineHandle, public ccCallbackDispatcherOwner {
public:
    explicit cc_InputLineState(const cc_LineHandle& line) : cc_LineHandle(line) {}
    ~cc_InputLineState()
    {
        dispatcher_.reset();
        if (wake_ != nullptr) {
            wake_->detach();
            wake_->release();
        }
    }

    bool isLineEnabled() override { return isEnabled(); }
    bool calling() const { return tlCalling == this; }
    using cc_LineHandle::hasLine;

    // Under the lock.
    ccInputLine::CallbackHandle add(const std::shared_ptr<cc_InputLineState>& self,
                                    ccPtrHandle<ccCallback1<const void*>> callback, const void* argument, int32_t key,
                                    uint32_t kind);
    // Under the lock: drops the withdrawn registrations (all of them once
    // closed); with none left, stops watching and returns the dispatcher, to
    // be deleted after the lock (it waits for its thread).
    std::unique_ptr<ccCallbackDispatcher> sweep();

    std::mutex mutex;
    std::atomic<bool> sweepAsked{false};
    std::atomic<bool> closed{false}; // its ccInputLine is gone
    // Holders of the lock waiting for the dispatcher's.
    std::atomic<int32_t> waiting{0};

private:
    template <class Use>
    void onDispatcher(Use use)
    {
        ++waiting;
        struct Done {
            std::atomic<int32_t>& waiting;
            ~Done() { --waiting; }
        } done{waiting};
        use(*dispatcher_);
    }
    // Under the line's lock.
    void start(cc_IOLine& line, int32_t key, uint32_t kind);

    std::vector<ccPtrHandle<cc_InputRegistration>> registrations_;
    uint32_t kind_ = 3; // none
    std::unique_ptr<ccCallbackDispatcher> dispatcher_;
    LineWake* wake_ = nullptr;
};

namespace {

// A line's lock. On the line's own dispatcher thread it is only tried (a
// patient caller goes on trying while no holder waits for the dispatcher);
// held() tells. At the end it sweeps, and takes over sweeps asked for while
// it held the lock.
class LineLock {
public:
    explicit LineLock(cc_InputLineState& line, bool patient = false) : line_(line)
    {
        if (!line.calling()) {
            line.mutex.lock();
            held_ = true;
            return;
        }
        while (!(held_ = line.mutex.try_lock()) && patient && line.waiting.load() == 0)
            std::this_thread::yield();
    }
    LineLock(const LineLock&) = delete;
    LineLock& operator=(const LineLock&) = delete;
    ~LineLock()
    {
        std::vector<std::unique_ptr<ccCallbackDispatcher>> stopped;
        while (held_) {
            line_.sweepAsked.store(false);
            if (std::unique_ptr<ccCallbackDispatcher> last = line_.sweep())
                stopped.push_back(std::move(last));
            line_.mutex.unlock();
            held_ = line_.sweepAsked.load() && line_.mutex.try_lock();
        }
        // Each waits for its thread, unless it is this one.
    }
    bool held() const { return held_; }

private:
    cc_InputLineState& line_;
    bool held_ = false;
};

// Asks for a sweep and takes the lock for it; on the line's dispatcher
// thread, while another holds the lock, that one sweeps.
void withdrawLater(cc_InputLineState& line)
{
    line.sweepAsked.store(true);
    LineLock sweeping(line);
}

} // namespace

void cc_InputRegistration::operator()(const void* argument)
{
    if (withdrawn.load() || line_.closed.load())
        return;
    struct Calling {
        const cc_InputLineState* outer;
        ~Calling() { tlCalling = outer; }
    } calling{std::exchange(tlCalling, &line_)};
    (*callback_)(argument);
}

void cc_InputLineState::start(cc_IOLine& line, int32_t key, uint32_t kind)
{
    auto started = std::make_unique<ccCallbackDispatcher>(key, this);
    auto* semaphore = new LineWake(started->wakeSemaphore());
    try {
        line.addWakeObject(semaphore, kind);
    } catch (...) {
        semaphore->detach();
        semaphore->release();
        throw;
    }
    line.watchEdgeKind(kind);
    dispatcher_ = std::move(started);
    wake_ = semaphore;
}

ccInputLine::CallbackHandle cc_InputLineState::add(const std::shared_ptr<cc_InputLineState>& self,
                                                   ccPtrHandle<ccCallback1<const void*>> callback,
                                                   const void* argument, int32_t key, uint32_t kind)
{
    const bool accepted = with([&](cc_IOLine& line) {
        const std::unique_lock<std::mutex> hold = line.lockLine();
        const bool wasEnabled = line.isEnabled();
        line.enable(true);
        // Refused, the line stays enabled: its kind in force is another one's.
        if (kind_ != 3 && kind_ != kind)
            return false;
        try {
            if (!line.supportsEdgeKind(kind)) {
                line.enable(wasEnabled);
                return false;
            }
            if (!dispatcher_)
                start(line, key, kind);
        } catch (...) {
            // A module failure too leaves the line as it was.
            line.enable(wasEnabled);
            throw;
        }
        return true;
    });
    if (!accepted)
        return {};
    ccPtrHandle<cc_InputRegistration> made(new cc_InputRegistration(*this, std::move(callback), argument));
    kind_ = kind;
    onDispatcher([&](ccCallbackDispatcher& d) { d.add({made, argument}); });
    registrations_.push_back(made);
    return ccInputLine::CallbackHandle(self, made);
}

std::unique_ptr<ccCallbackDispatcher> cc_InputLineState::sweep()
{
    const bool all = closed.load();
    const auto gone = std::stable_partition(registrations_.begin(), registrations_.end(),
                                            [all](const auto& r) { return !all && !r->withdrawn.load(); });
    for (auto it = gone; it != registrations_.end(); ++it) {
        (*it)->withdrawn.store(true);
        // Waits for a pass under way: its callbacks have returned once this
        // has. A stop request breaking the wait leaves the entry withdrawn.
        try {
            onDispatcher([&](ccCallbackDispatcher& d) { d.remove({*it, (*it)->argument}); });
        } catch (...) {
        }
    }
    registrations_.erase(gone, registrations_.end());
    if (!registrations_.empty() || !dispatcher_)
        return nullptr;
    // A module that fails here keeps nothing of the line's, and a line gone
    // with its board took its wake objects along: the release goes on.
    try {
        with([this](cc_IOLine& line) {
            const std::unique_lock<std::mutex> hold = line.lockLine();
            try {
                line.removeWakeObject(wake_, kind_);
            } catch (...) {
            }
            if (line.unwatchEdgeKind(kind_))
                line.stopEdgeKind(kind_);
        });
    } catch (...) {
    }
    wake_->detach();
    wake_->release();
    wake_ = nullptr;
    kind_ = 3;
    return std::move(dispatcher_);
}

ccInputLine::CallbackHandle::CallbackHandle(std::shared_ptr<cc_InputLineState> line,
                                            const ccPtrHandle<cc_InputRegistration>& registration)
    : line_(std::move(line)), registration_(registration)
{
    ++registration_->handles;
}

ccInputLine::CallbackHandle::CallbackHandle(const CallbackHandle& other)
    : line_(other.line_), registration_(other.registration_)
{
    if (registration_)
        ++registration_->handles;
}

ccInputLine::CallbackHandle& ccInputLine::CallbackHandle::operator=(const CallbackHandle& other)
{
    CallbackHandle copy(other);
    std::swap(line_, copy.line_);
    std::swap(registration_, copy.registration_);
    return *this;
}

ccInputLine::CallbackHandle::~CallbackHandle() { release(); }

void ccInputLine::CallbackHandle::release() noexcept
{
    if (!registration_ || --registration_->handles != 0 || line_->closed.load())
        return;
    // From one of the line's own callbacks too: it is not called again.
    registration_->withdrawn.store(true);
    withdrawLater(*line_);
}

ccInputLine::ccInputLine(cc_IOLine* line, std::shared_ptr<cc_IOLineLink> link)
    : cc_LineHandle(line, std::move(link)), state_(std::make_shared<cc_InputLineState>(*this))
{
}

ccInputLine::ccInputLine(const ccInputLine& other)
    : cc_LineHandle(other), state_(std::make_shared<cc_InputLineState>(other))
{
}

ccInputLine& ccInputLine::operator=(const ccInputLine& other)
{
    if (this == &other)
        return *this;
    cc_LineHandle::operator=(other);
    // A state that no handle refers to holds no registration.
    earlier_.erase(std::remove_if(earlier_.begin(), earlier_.end(), [](const auto& s) { return s.use_count() == 1; }),
                   earlier_.end());
    if (state_.use_count() > 1)
        earlier_.push_back(state_);
    state_ = std::make_shared<cc_InputLineState>(other);
    return *this;
}

ccInputLine::~ccInputLine()
{
    const auto close = [](cc_InputLineState& state) {
        state.closed.store(true);
        withdrawLater(state);
    };
    close(*state_);
    for (const std::shared_ptr<cc_InputLineState>& state : earlier_)
        close(*state);
}

ccInputLine::CallbackHandle ccInputLine::registerCallback(ccPtrHandle<ccCallback1<const void*>> callback,
                                                          const void* argument, int32_t key, uint32_t kind)
{
    if (!callback.rawPointer())
        throw ccParallelIO::BadParams();
    cc_InputLineState& state = *state_;
    // The kind "none" watches nothing.
    if (!state.hasLine() || kind > 2)
        return {};
    LineLock lock(state, true);
    if (!lock.held())
        return {}; // a callback of this line, while the lock's holder waits for it
    return state.add(state_, std::move(callback), argument, key, kind);
}

// ---- ccUnknownPIO ----

ccUnknownPIO::~ccUnknownPIO() = default;

cc_UnknownLineTable* ccUnknownPIO::buildLineTable(ccIUnknown* board, cc_UnknownFrameGrabber& grabber)
{
    cc_ModPtr<ccIComponent_ParallelIO> io = ccModQuery<ccIComponent_ParallelIO>(board, ccIidParallelIO);
    if (!io)
        return nullptr;
    auto table = std::make_unique<cc_UnknownLineTable>(grabber);
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    ccModCheck(grabber, io->counts(&inputs, &outputs));
    if (ccModQuery<ccIUnknown>(grabber.core(), ccIidLinesFrom8))
        table->base_ = 8;

    const uint32_t base = static_cast<uint32_t>(table->base_);
    const auto build = [&](std::vector<std::unique_ptr<cc_UnknownIOLine>>& lines, uint32_t direction,
                           uint32_t count) {
        const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{base} + count, kMaxLineNumber + 1));
        for (uint32_t n = base; n < end; ++n) {
            cc_ModPtr<ccIUnknown> object;
            ccModCheck(grabber, io->line(object.put(), direction, n));
            cc_ModPtr<ccIComponent_LineIO> line = ccModQuery<ccIComponent_LineIO>(object.get(), ccIidLineIO);
            lines.push_back(line ? std::make_unique<cc_UnknownIOLine>(std::move(line), grabber) : nullptr);
        }
    };
    build(table->outputs_, 0, outputs);
    build(table->inputs_, 1, inputs);
    return table.release();
}

void ccUnknownPIO::attachLineTable(cc_UnknownLineTable* table, int32_t code)
{
    lines_.reset(table);
    const ccIOConfig* config = ioConfigForCode(code);
    if (config == nullptr)
        return;
    std::lock_guard<std::mutex> hold(changing_);
    setConfig(*config);
    // The board's set-up goes on whatever the module makes of it.
    sendCode(code, false);
}

void ccUnknownPIO::closeParallelIO() { lines_.reset(); }

void ccUnknownPIO::sendCode(int32_t code, bool checked)
{
    if (!lines_)
        return;
    cc_UnknownFrameGrabber& grabber = lines_->errorSource();
    cc_ModPtr<ccIGrabber_IOSetting> setting = ccModQuery<ccIGrabber_IOSetting>(grabber.core(), ccIidIOSetting);
    if (!setting)
        return;
    const int32_t status = setting->setCode(code);
    if (checked)
        ccModCheck(grabber, status);
}

void ccUnknownPIO::checkLine(uint32_t n, bool input)
{
    ensureReady();
    const ccIOConfig* inForce = config();
    if (!lines_ || !inForce || n > kMaxLineNumber)
        throw BadParams();
    const uint8_t line = static_cast<uint8_t>(n);
    if (input)
        inForce->checkInputLine(line);
    else
        inForce->checkOutputLine(line);
}

ccInputLine ccUnknownPIO::inputLine(uint32_t line)
{
    checkLine(line, true);
    return ccInputLine(&lines_->inputLine(line), lines_->link());
}

ccOutputLine ccUnknownPIO::outputLine(uint32_t line)
{
    checkLine(line, false);
    return ccOutputLine(&lines_->outputLine(line), lines_->link());
}

uint32_t ccUnknownPIO::numInputLines() { return ioConfig().numInputLines(); }
uint32_t ccUnknownPIO::numOutputLines() { return ioConfig().numOutputLines(); }

const ccIOConfig& ccUnknownPIO::ioConfig()
{
    ensureReady();
    const ccIOConfig* inForce = config();
    if (!inForce)
        throw BadParams();
    return *inForce;
}

void ccUnknownPIO::setIOConfig(const ccIOConfig& config)
{
    ensureReady();
    const int32_t code = ioCodeForConfig(config);
    std::lock_guard<std::mutex> hold(changing_);
    // Counts and line checks answer for the configuration the board is in.
    if (code != 0)
        sendCode(code, true);
    setConfig(config);
}
