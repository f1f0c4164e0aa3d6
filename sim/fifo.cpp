// A module FIFO: its acquisitions, delivered in order by a worker thread of
// its own, and the many small interfaces of its core.
#include "sim/frame.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>
#include <tuple>

namespace sim {
namespace {

// One record of the property-information list.
class PropertyInfo final : public Impl<ccIAcqFifo_PropertyInfo> {
public:
    explicit PropertyInfo(const ccSimPropertyInfo& r) : Impl(ccIidFifoPropertyInfo), r_(r) {}

    int32_t identifier(uint32_t* id) override { return put(3, {double(r_.id)}, id); }
    int32_t minimum(double* value) override { return put(4, {r_.minimum}, value); }
    int32_t maximum(double* value) override { return put(5, {r_.maximum}, value); }
    int32_t defaultValue(double* value) override { return put(6, {r_.defaultValue}, value); }
    int32_t word(uint32_t* value) override { return put(7, {double(r_.word)}, value); }

private:
    template <class P>
    static int32_t put(int32_t slot, const Values& v, P* out) {
        return reports(ccIidFifoPropertyInfo, slot, {}, v, out);
    }
    ccIUnknown* offer(int32_t id) override {
        return id == ccIidFifoPropertyInfo ? self<ccIAcqFifo_PropertyInfo>() : nullptr;
    }

    const ccSimPropertyInfo r_;
};

class Fifo final
    : public Impl<ccIAcqFifo_Core, ccIAcqFifo_Callbacks, ccIAcqFifo_InfoCallbacks, ccIAcqFifo_Properties,
                  ccIAcqFifo_PropertyRecord, ccIAcqFifo_Camera, ccIAcqFifo_PropertySupport, ccIAcqFifo_Extension,
                  ccIAcqFifo_PelPool, ccIAcqFifo_Encoder, ccIAcqFifo_Hooks, ccIAcqFifo_RoiModes,
                  ccIAcqFifo_SampleValues, ccIAcqFifo_Prepare, ccIAcqFifo_PrepareBasic, ccIAcqFifo_Reconfigure,
                  ccIAcqFifo_Master, ccIAcqFifo_CameraLocation, ccIAcqFifo_CustomProps,
                  ccIAcqFifo_PropertyInfoList> {
public:
    explicit Fifo(int32_t code) : Impl(ccIidFifoCore), code_(code) {}

    // The worker (and, with two callback threads, the notifier) starts once
    // the object is enrolled; false when it cannot.
    bool begin() {
        State& s = state();
        bool notifier;
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            notifier = twoThreads_ = s.callbackThreads > 1;
            nextTick_ = Clock::now();
            running_ = notifier ? 2 : 1;
        }
        try {
            worker_ = std::thread([this] { run(); });
        } catch (...) {
            return false;
        }
        if (notifier) {
            try {
                notifier_ = std::thread([this] { notify(); });
            } catch (...) {
                locked([&] {
                    --running_;
                    twoThreads_ = false;
                });
            }
        }
        std::lock_guard<std::mutex> lock(s.mutex);
        ++s.liveFifos;
        return true;
    }

    // 24
    int32_t start(uint32_t ticket, uint32_t* accepted) override {
        if (enter(ccIidFifoCore, 3, {double(ticket)})) return failed(accepted);
        if (give(ccIidFifoCore, 3, {}, accepted) != 0) return 1;
        State& s = state();
        {
            std::lock_guard<std::mutex> lock(s.mutex);
            if (s.triggerControl && freeRun_) *accepted = 0; // free run takes no software start
            if (!*accepted) return 0;
            const uint64_t id = ++s.nextAcquisition;
            queue_.emplace_back();
            queue_.back().ticket = ticket;
            queue_.back().id = id;
            queue_.back().started = Clock::now();
            s.untriggered.insert(id);
        }
        s.fifoEvent.notify_all();
        return 0;
    }
    int32_t complete(ccITemp_CompleteArgs_v0* args, ccIUnknown** result) override;
    int32_t triggerEnable(uint32_t flag) override {
        if (enter(ccIidFifoCore, 5, {double(flag)})) return 1;
        locked([&] { triggerEnabled_ = flag; });
        state().fifoEvent.notify_all();
        return 0;
    }
    int32_t triggerEnabled(uint32_t* flag) override {
        uint32_t value = 0;
        locked([&] { value = triggerEnabled_; });
        return reports(ccIidFifoCore, 6, {}, {double(value)}, flag);
    }
    int32_t triggerIndex(uint32_t index) override {
        if (enter(ccIidFifoCore, 7, {double(index)})) return 1;
        // Manual (0) acquires at the start; the others wait for a trigger.
        locked([&] { std::tie(needsTrigger_, freeRun_) = std::make_pair(index >= 1 && index <= 3, false); });
        state().fifoEvent.notify_all();
        return 0;
    }
    int32_t triggerCustom(ccITemp_TrigCustom_v2* model) override {
        if (enter(ccIidFifoCore, 8, {double(model != nullptr)})) return 1;
        if (!model) return refuse();
        using Flag = int32_t (ccITemp_TrigCustom_v2::*)(uint32_t*);
        static constexpr Flag kFlags[] = {
            &ccITemp_TrigCustom_v2::flag0, &ccITemp_TrigCustom_v2::flag1,  &ccITemp_TrigCustom_v2::flag2,
            &ccITemp_TrigCustom_v2::flag3, &ccITemp_TrigCustom_v2::flag4,  &ccITemp_TrigCustom_v2::flag5,
            &ccITemp_TrigCustom_v2::flag6, &ccITemp_TrigCustom_v2::flag7,  &ccITemp_TrigCustom_v2::flag8,
            &ccITemp_TrigCustom_v2::flag9, &ccITemp_TrigCustom_v2::flag10, &ccITemp_TrigCustom_v2::flag11,
            &ccITemp_TrigCustom_v2::flag12};
        std::vector<double> flags;
        for (Flag f : kFlags) {
            uint32_t value = 0;
            (model->*f)(&value); // status ignored: the value stays 0
            flags.push_back(value);
        }
        // Bytes 0 (hardware trigger) and 3 (slave) wait for a trigger, byte
        // 6 (software start) acquires at the start; with none of them the
        // board runs free.
        const bool trigger = flags[0] != 0 || flags[3] != 0, free = !trigger && flags[6] == 0;
        record(ccIidFifoCore, 8, std::move(flags));
        locked([&] { std::tie(needsTrigger_, freeRun_) = std::make_pair(trigger, free); });
        state().fifoEvent.notify_all();
        return 0;
    }
    int32_t flush() override {
        if (enter(ccIidFifoCore, 9)) return 1;
        std::deque<Acquisition> dropped;
        locked([&] {
            dropped.swap(queue_);
            for (const Acquisition& a : dropped) state().untriggered.erase(a.id);
        });
        state().fifoEvent.notify_all();
        return 0; // the frames go here, outside the lock
    }
    int32_t stateD(uint32_t* flag) override { return answers(ccIidFifoCore, 10, {}, flag); }
    int32_t stateA(uint32_t* flag) override { return answers(ccIidFifoCore, 11, {}, flag); }
    int32_t stateB(uint32_t* flag) override { return answers(ccIidFifoCore, 12, {}, flag); }
    int32_t isBusy(uint32_t* flag) override {
        return reports(ccIidFifoCore, 13, {}, {double(counts().first > 0)}, flag);
    }
    int32_t stateC(uint32_t* flag) override { return answers(ccIidFifoCore, 14, {}, flag); }
    int32_t stateE(uint32_t* flag) override { return answers(ccIidFifoCore, 15, {}, flag); }
    int32_t pending(uint32_t* count) override { return reports(ccIidFifoCore, 16, {}, {counts().first}, count); }
    int32_t completed(uint32_t* count) override { return reports(ccIidFifoCore, 17, {}, {counts().second}, count); }
    int32_t countC(uint32_t* count) override { return answers(ccIidFifoCore, 18, {}, count); }

    // 30 and 31
    int32_t complete(ccICallbackFn* fn) override { return keep(ccIidFifoCallbacks, 3, plain_[0], fn); }
    int32_t movePart(ccICallbackFn* fn) override { return keep(ccIidFifoCallbacks, 4, plain_[1], fn); }
    int32_t overrun(ccICallbackFn* fn) override { return keep(ccIidFifoCallbacks, 5, plain_[2], fn); }
    int32_t complete(ccICallbackInfoFn* fn) override { return keep(ccIidFifoInfoCallbacks, 3, info_[0], fn); }
    int32_t movePart(ccICallbackInfoFn* fn) override { return keep(ccIidFifoInfoCallbacks, 4, info_[1], fn); }
    int32_t overrun(ccICallbackInfoFn* fn) override { return keep(ccIidFifoInfoCallbacks, 5, info_[2], fn); }

    // 38 and 92
    int32_t reserved3() override { return enter(ccIidFifoProperties, 3) ? 1 : 0; }
    int32_t set(ccModPropertyRecord* record) override { return request(ccIidFifoProperties, 4, record); }
    int32_t get(ccModPropertyRecord* record) override { return request(ccIidFifoProperties, 5, record); }
    int32_t read(ccModPropertyRecord* record) override { return request(ccIidFifoPropertyRecord, 3, record); }

    // 40
    int32_t roi(int32_t x, int32_t y, int32_t width, int32_t height) override {
        if (enter(ccIidFifoCamera, 3, {double(x), double(y), double(width), double(height)})) return 1;
        bool fits = false;
        locked([&] {
            const State& s = state();
            // 64 bits: an edge near the 32-bit limit must not wrap into the frame.
            fits = x >= 0 && y >= 0 && width >= 0 && height >= 0 && int64_t{x} + width <= s.frameWidth &&
                   int64_t{y} + height <= s.frameHeight;
            if (fits) region_ = {x, y, width, height};
        });
        return fits ? 0 : refuse();
    }
    int32_t numChannels(uint32_t* count) override { return answers(ccIidFifoCamera, 4, {}, count); }
    int32_t inputLut(const uint8_t* table, uint32_t size, int32_t channel) override {
        return enter(ccIidFifoCamera, 5, {double(table != nullptr), double(size), double(channel)}) ? 1 : 0;
    }
    int32_t numInputLuts(uint32_t* count) override { return answers(ccIidFifoCamera, 6, {}, count); }
    int32_t numCameraPorts(uint32_t* count) override { return answers(ccIidFifoCamera, 7, {}, count); }
    int32_t ctiLimit(double* value) override { return answers(ccIidFifoCamera, 8, {}, value); }
    int32_t horizAdjustLimit(double* value) override { return answers(ccIidFifoCamera, 9, {}, value); }
    int32_t roiLimits(int32_t* x, int32_t* y, int32_t* width, int32_t* height) override {
        Values frame{};
        locked([&] { frame = {0, 0, double(state().frameWidth), double(state().frameHeight)}; });
        return reports(ccIidFifoCamera, 10, {}, frame, x, y, width, height);
    }
    int32_t actualSync(int32_t* index) override { return answers(ccIidFifoCamera, 11, {}, index); }
    int32_t defaultSync(int32_t* index) override { return answers(ccIidFifoCamera, 12, {}, index); }

    // 43
    int32_t isSupported(int32_t number, uint32_t* supported) override {
        bool yes = false;
        locked([&] { yes = state().allSupported || state().supported.count(number); });
        return reports(ccIidFifoPropertySupport, 3, {double(number)}, {double(yes)}, supported);
    }

    // 45: no status; an injected failure gives 0.
    uint32_t queryA() override {
        uint32_t value = 0;
        return answers(ccIidFifoExtension, 3, {}, &value) ? 0 : value;
    }
    uint32_t queryB(uint32_t v) override {
        uint32_t value = 0;
        return answers(ccIidFifoExtension, 4, {double(v)}, &value) ? 0 : value;
    }

    // 61
    int32_t flag(uint32_t* flag) override { return answers(ccIidFifoPelPool, 3, {}, flag); }
    int32_t words(uint32_t* first, uint32_t* second) override {
        return answers(ccIidFifoPelPool, 4, {}, first, second);
    }
    int32_t setPool(ccIUnknown* pool) override { return keep(ccIidFifoPelPool, 5, pool_, pool); }

    // 75
    int32_t triggerFromEncoder(uint32_t first, uint32_t second) override {
        return enter(ccIidFifoEncoder, 3, {double(first), double(second)}) ? 1 : 0;
    }
    int32_t stepsPerLine(uint32_t steps, uint32_t sixteenths) override {
        return enter(ccIidFifoEncoder, 4, {double(steps), double(sixteenths)}) ? 1 : 0;
    }
    int32_t numPorts(uint32_t* count) override { return answers(ccIidFifoEncoder, 5, {}, count); }
    int32_t queryA(uint32_t* value) override { return answers(ccIidFifoEncoder, 6, {}, value); }
    int32_t count(uint32_t* value) override { return answers(ccIidFifoEncoder, 7, {}, value); }
    int32_t resetCounter() override { return enter(ccIidFifoEncoder, 8) ? 1 : 0; }

    // 93
    int32_t zeroB(uint32_t* value) override { return answers(ccIidFifoHooks, 3, {}, value); }
    int32_t noOpC() override { return enter(ccIidFifoHooks, 4) ? 1 : 0; }
    int32_t zeroA(uint32_t* value) override { return answers(ccIidFifoHooks, 5, {}, value); }

    // 120
    int32_t isSupported(uint32_t mode, uint32_t* flag) override {
        bool yes = false;
        locked([&] { yes = state().roiModes.count(static_cast<int32_t>(mode)) != 0; });
        return reports(ccIidFifoRoiModes, 3, {double(mode)}, {double(yes)}, flag);
    }

    // 83
    int32_t value(int32_t* value, uint32_t index) override {
        double v = 0;
        locked([&] {
            if (index < state().sampleValues.size()) v = state().sampleValues[index];
        });
        return reports(ccIidFifoSampleValues, 3, {double(index)}, {v}, value);
    }

    // 118 and 28
    int32_t prepare(double seconds, uint32_t* ready, char16_t* message) override {
        if (enter(ccIidFifoPrepare, 3, {seconds})) return failed(ready);
        if (!message) return refuse();
        uint32_t length = 255;
        writeText(textOf(ccIidFifoPrepare, 3), &length, message);
        message[length] = 0;
        return give(ccIidFifoPrepare, 3, {}, ready);
    }
    int32_t prepare(double seconds, uint32_t* ready) override {
        return answers(ccIidFifoPrepareBasic, 3, {seconds}, ready);
    }

    // 29, 65, 76, 111
    int32_t reconfigure(const void* object, uint32_t* result) override {
        return answers(ccIidFifoReconfigure, 3, {double(object != nullptr)}, result);
    }
    int32_t isValid(ccIUnknown* masterCore, uint32_t* flag) override {
        return answers(ccIidFifoMaster, 3, {double(masterCore != nullptr)}, flag);
    }
    int32_t setMaster(ccIUnknown* masterCore) override {
        return enter(ccIidFifoMaster, 4, {double(masterCore != nullptr)}) ? 1 : 0;
    }
    int32_t isValid(uint32_t location, uint32_t* flag) override {
        return answers(ccIidFifoCameraLocation, 3, {double(location)}, flag);
    }
    int32_t set(uint32_t location) override { return enter(ccIidFifoCameraLocation, 4, {double(location)}) ? 1 : 0; }
    int32_t set(const char16_t* text) override {
        if (enterText(ccIidFifoCustomProps, 3, text)) return 1;
        return text ? 0 : refuse();
    }

    // 46
    int32_t item(ccIUnknown** item, uint32_t index) override {
        if (enter(ccIidFifoPropertyInfoList, 3, {double(index)})) return failed(item);
        if (!item) return refuse();
        *item = nullptr;
        ccSimPropertyInfo record{};
        bool found = false;
        locked([&] {
            found = index < state().propertyInfos.size();
            if (found) record = state().propertyInfos[index];
        });
        if (found) *item = hand<ccIAcqFifo_PropertyInfo, PropertyInfo>(record);
        return 0;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr int32_t kTimeoutProperty = 1003;
    enum Kind { kComplete, kMovePart, kOverrun }; // the order of the wraps

    struct Acquisition {
        uint32_t ticket = 0;
        uint64_t id = 0;
        bool delivered = false;
        uint32_t failure = 0; // ccSimFailure
        uint32_t number = 0;
        Clock::time_point started;
        std::unique_ptr<Frame> frame;
    };
    // A complete or overrun callback the notifier is to call.
    struct Note {
        Kind kind;
        uint32_t failure, ticket, number;
    };

    template <class F>
    static int32_t locked(F&& f) {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        f();
        return 0;
    }
    // Not yet delivered, delivered and not yet completed.
    std::pair<double, double> counts() {
        std::pair<double, double> n{};
        locked([&] {
            for (const Acquisition& a : queue_) ++(a.delivered ? n.second : n.first);
        });
        return n;
    }

    // Keeps a library object in place of the one held. One a module thread
    // may be calling goes back once no thread holds copies.
    template <class T>
    int32_t keep(int32_t iid, int32_t slot, T*& place, T* object) {
        if (enter(iid, slot, {double(object != nullptr)})) return 1;
        if (object) object->addRef();
        T* old = nullptr;
        locked([&] {
            old = place;
            place = object;
            if (holders_ > 0 && old) {
                retired_.push_back(old);
                old = nullptr;
            }
        });
        if (old) old->release();
        return 0;
    }

    int32_t request(int32_t iid, int32_t slot, ccModPropertyRecord* r) {
        if (enter(iid, slot, {double(r != nullptr)})) return 1;
        if (!r) return refuse();
        bool failed = false;
        locked([&] {
            State& s = state();
            failed = iid == ccIidFifoProperties && slot == 4 && propertyFails(s, r->id);
            if (failed) return;
            s.requests.push_back({slot, r->id, r->channel, r->value, r->valid, r->reserved});
            if (slot == 4 && r->id == kTimeoutProperty)
                timeout_ = r->value > 0 && r->value < 1e9 ? r->value : 0; // 0: no limit
            if (slot == 4) return;
            auto it = s.propertyValues.find(r->id);
            r->valid = 0;
            if (it == s.propertyValues.end()) return;
            r->value = it->second.first;
            r->valid = it->second.second ? 1 : 0;
        });
        if (failed) return 1;
        state().fifoEvent.notify_all(); // a new time-out
        return 0;
    }

    // What the worker is to do next, with the lock held.
    enum class Step { kWait, kDeliver, kTimeOut, kFreeRun };
    Step plan(State& s, Clock::time_point now, Clock::time_point& wake, Acquisition*& next);
    Acquisition* find(uint64_t id) {
        auto it = std::find_if(queue_.begin(), queue_.end(), [&](const Acquisition& a) { return a.id == id; });
        return it == queue_.end() ? nullptr : &*it;
    }

    void run();
    void notify();
    // Each is entered and left with the lock held and calls the library
    // without it.
    void deliver(std::unique_lock<std::mutex>& lock, Acquisition& next);
    void freeRun(std::unique_lock<std::mutex>& lock);
    void timeOut(std::unique_lock<std::mutex>& lock, Acquisition& late);
    // The frame of ticket, counted in this FIFO's buffers; null when every
    // buffer is held or none could be made (an overrun).
    std::unique_ptr<Frame> acquire(std::unique_lock<std::mutex>& lock, uint32_t ticket);
    // The callbacks of kind, called on this thread (without the lock).
    void call(Kind kind, uint32_t failure, uint32_t ticket, uint32_t number);
    // The complete or overrun callbacks: on this thread, or the notifier's.
    void announce(std::unique_lock<std::mutex>& lock, Kind kind, uint32_t failure, uint32_t ticket,
                  uint32_t number);
    // One of this FIFO's threads ends; the last one after a release from
    // within a callback cleans up.
    void leave(std::unique_lock<std::mutex>& lock);
    void ended() override;
    void cleanup();

    ccIUnknown* offer(int32_t id) override {
        return selfAs(id, {ccIidFifoCore, ccIidFifoCallbacks, ccIidFifoInfoCallbacks, ccIidFifoProperties,
                           ccIidFifoPropertyRecord, ccIidFifoCamera, ccIidFifoPropertySupport, ccIidFifoExtension,
                           ccIidFifoPelPool, ccIidFifoEncoder, ccIidFifoHooks, ccIidFifoRoiModes,
                           ccIidFifoSampleValues, ccIidFifoPrepare, ccIidFifoPrepareBasic, ccIidFifoReconfigure,
                           ccIidFifoMaster, ccIidFifoCameraLocation, ccIidFifoCustomProps,
                           ccIidFifoPropertyInfoList});
    }

    const int32_t code_;
    // Guarded by the state's lock.
    std::deque<Acquisition> queue_; // in start order, the delivered ones first
    ccICallbackFn* plain_[3]{};     // complete, move part, overrun
    ccICallbackInfoFn* info_[3]{};
    ccIUnknown* pool_ = nullptr;
    std::vector<ccIUnknown*> retired_; // replaced while a module thread held them
    uint32_t holders_ = 0;             // module threads holding copies of the above
    uint32_t triggerEnabled_ = 0;
    bool needsTrigger_ = false, freeRun_ = false; // by the trigger model
    double timeout_ = 0;                          // seconds; 0: no limit
    std::array<int32_t, 4> region_{};             // x, y, width, height; no size: the whole frame
    Clock::time_point nextTick_;                  // the next frame period, with a frame rate
    uint32_t freeRunTicket_ = 0;
    uint32_t deliveries_ = 0;
    std::deque<Note> notes_; // for the notifier
    uint32_t running_ = 0;   // threads not yet ended
    bool twoThreads_ = false; // the notifier calls the complete and overrun callbacks
    bool detached_ = false;  // the last release came from one of them
    std::atomic<bool> stop_{false};
    const std::shared_ptr<std::atomic<uint32_t>> buffers_ = std::make_shared<std::atomic<uint32_t>>(0);
    std::thread worker_, notifier_;
};

int32_t Fifo::complete(ccITemp_CompleteArgs_v0* args, ccIUnknown** result) {
    if (enter(ccIidFifoCore, 4, {double(args != nullptr)})) return failed(result);
    if (!args || !result) return refuse();
    *result = nullptr;
    double timeout = 0;
    if (args->timeout(&timeout) != 0) timeout = 0;
    State& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    auto done = [&] {
        return std::find_if(queue_.begin(), queue_.end(), [](const Acquisition& a) { return a.delivered; });
    };
    auto ready = [&] { return done() != queue_.end(); };
    // As a board's release does, the FIFO's end ends a completion waiting.
    auto over = [&] { return stop_ || ready(); };
    if (timeout >= 1e9) // HUGE_VAL among them: no limit
        s.fifoEvent.wait(lock, over);
    else if (timeout > 0)
        s.fifoEvent.wait_for(lock, std::chrono::duration<double>(timeout), over);
    if (stop_ || !ready()) {
        sim::lastError(s) = s.timeoutError;
        return 1;
    }
    auto it = done();
    Acquisition a = std::move(*it);
    queue_.erase(it);
    lock.unlock();
    args->setStatus(a.failure ? 1 : 0); // their statuses change nothing here
    ccIUnknown* info = newInfo(a.failure, a.ticket, a.number);
    args->readInfo(info);
    info->release();
    *result = newResult(code_, std::move(a.frame));
    return 0;
}

Fifo::Step Fifo::plan(State& s, Clock::time_point now, Clock::time_point& wake, Acquisition*& next) {
    wake = Clock::time_point::max();
    next = nullptr;
    if (s.lost) return Step::kWait; // the device is gone: nothing more is acquired
    auto soonest = [&](Clock::time_point t) { wake = std::min(wake, t); };
    if (timeout_ > 0) {
        const auto limit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout_));
        for (Acquisition& a : queue_) {
            if (a.delivered) continue;
            if (now >= a.started + limit) {
                next = &a;
                return Step::kTimeOut;
            }
            soonest(a.started + limit);
        }
    }
    const bool enabled = !s.triggerControl || triggerEnabled_;
    const bool paced = s.frameRate > 0;
    if (paced && now < nextTick_) soonest(nextTick_);
    if (s.triggerControl && freeRun_) {
        if (!enabled || !paced) return Step::kWait;
        return now >= nextTick_ ? Step::kFreeRun : Step::kWait;
    }
    auto it = std::find_if(queue_.begin(), queue_.end(), [](const Acquisition& a) { return !a.delivered; });
    if (it == queue_.end() || !enabled) return Step::kWait;
    const bool trigger = s.triggered || (s.triggerControl && needsTrigger_);
    if (trigger && s.untriggered.count(it->id)) return Step::kWait;
    if (paced && now < nextTick_) return Step::kWait;
    next = &*it;
    return Step::kDeliver;
}

void Fifo::run() {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    while (!stop_) {
        const Clock::time_point now = Clock::now();
        Clock::time_point wake;
        Acquisition* next = nullptr;
        const Step step = plan(s, now, wake, next);
        if (step != Step::kWait && s.frameRate > 0 && step != Step::kTimeOut) {
            // One frame per period; a worker held up by its callbacks does
            // not catch up with a burst.
            const auto period = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(1.0 / s.frameRate));
            nextTick_ = std::max(nextTick_ + period, now);
        }
        switch (step) {
        case Step::kDeliver: deliver(lock, *next); break;
        case Step::kTimeOut: timeOut(lock, *next); break;
        case Step::kFreeRun: freeRun(lock); break;
        case Step::kWait:
            if (wake == Clock::time_point::max())
                s.fifoEvent.wait(lock);
            else
                s.fifoEvent.wait_until(lock, wake);
            break;
        }
    }
    leave(lock);
}

// The notifier: complete and overrun callbacks in the order of delivery.
void Fifo::notify() {
    State& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.fifoEvent.wait(lock, [&] { return stop_ || !notes_.empty(); });
        if (stop_) break;
        const Note n = notes_.front();
        notes_.pop_front();
        lock.unlock();
        call(n.kind, n.failure, n.ticket, n.number);
        lock.lock();
    }
    notes_.clear();
    leave(lock);
}

void Fifo::leave(std::unique_lock<std::mutex>& lock) {
    const bool last = --running_ == 0 && detached_;
    lock.unlock();
    if (last) cleanup();
}

std::unique_ptr<Frame> Fifo::acquire(std::unique_lock<std::mutex>& lock, uint32_t ticket) {
    State& s = state();
    bool overrun = s.overruns > 0;
    if (overrun) --s.overruns;
    if (s.bufferCount > 0 && buffers_->load() >= s.bufferCount) overrun = true; // the client is behind
    uint32_t x = 0, y = 0, width = s.frameWidth, height = s.frameHeight;
    const auto [rx, ry, rw, rh] = region_; // checked when set, but the frame size may have changed since
    if (rw > 0 && rh > 0 && uint64_t(rx) + uint32_t(rw) <= width && uint64_t(ry) + uint32_t(rh) <= height)
        std::tie(x, y, width, height) = std::make_tuple(uint32_t(rx), uint32_t(ry), uint32_t(rw), uint32_t(rh));
    ccIUnknown* pool = pool_;
    ++holders_; // the pool, until the frame is made
    lock.unlock();
    std::unique_ptr<Frame> frame;
    if (!overrun) frame = makeFrame(code_, x, y, width, height, ticket, pool);
    if (frame) {
        frame->buffers = buffers_;
        ++*buffers_;
    }
    lock.lock();
    --holders_;
    return frame;
}

void Fifo::call(Kind kind, uint32_t failure, uint32_t ticket, uint32_t number) {
    State& s = state();
    ccICallbackFn* plain;
    ccICallbackInfoFn* info;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        plain = plain_[kind];
        info = info_[kind];
        ++holders_;
    }
    if (plain && !stop_) plain->call();
    if (info && !stop_) {
        ccIUnknown* infoObject = newInfo(failure, ticket, number);
        info->call(infoObject);
        infoObject->release();
    }
    std::vector<ccIUnknown*> retired;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (--holders_ == 0) retired.swap(retired_);
    }
    for (ccIUnknown* r : retired) r->release();
}

void Fifo::announce(std::unique_lock<std::mutex>& lock, Kind kind, uint32_t failure, uint32_t ticket,
                    uint32_t number) {
    if (twoThreads_) {
        notes_.push_back({kind, failure, ticket, number});
        state().fifoEvent.notify_all();
        return;
    }
    lock.unlock();
    call(kind, failure, ticket, number);
    lock.lock();
}

// The acquisition is made completable between its move-part callbacks and
// its complete (or overrun) callbacks, so that a client may complete it
// from the latter.
void Fifo::deliver(std::unique_lock<std::mutex>& lock, Acquisition& next) {
    State& s = state();
    const uint64_t id = next.id;
    const uint32_t ticket = next.ticket;
    s.untriggered.erase(id);
    const uint32_t number = ++deliveries_;
    std::unique_ptr<Frame> frame = acquire(lock, ticket);
    const uint32_t failure = frame ? 0u : uint32_t{ccSimFailedOverrun};
    if (frame) { // nothing moves without a buffer
        lock.unlock();
        call(kMovePart, failure, ticket, number);
        lock.lock();
    }
    if (Acquisition* a = find(id)) { // not flushed meanwhile
        a->delivered = true;
        a->failure = failure;
        a->frame = std::move(frame);
        a->number = number;
    }
    s.fifoEvent.notify_all();
    if (frame) { // flushed: the frame goes, outside the lock
        lock.unlock();
        frame.reset();
        lock.lock();
    }
    announce(lock, failure ? kOverrun : kComplete, failure, ticket, number);
}

// A frame of free run: no start asked for it; without a buffer it is lost.
void Fifo::freeRun(std::unique_lock<std::mutex>& lock) {
    State& s = state();
    const uint32_t ticket = freeRunTicket_++;
    const uint32_t number = ++deliveries_;
    std::unique_ptr<Frame> frame = acquire(lock, ticket);
    if (!frame) {
        announce(lock, kOverrun, ccSimFailedOverrun, ticket, number);
        return;
    }
    lock.unlock();
    call(kMovePart, 0, ticket, number);
    lock.lock();
    queue_.emplace_back();
    Acquisition& a = queue_.back();
    a.ticket = ticket;
    a.id = ++s.nextAcquisition;
    a.delivered = true;
    a.number = number;
    a.frame = std::move(frame);
    s.fifoEvent.notify_all();
    announce(lock, kComplete, 0, ticket, number);
}

// Nothing acquired within the time-out: the acquisition ends failed.
void Fifo::timeOut(std::unique_lock<std::mutex>& lock, Acquisition& late) {
    State& s = state();
    s.untriggered.erase(late.id);
    late.delivered = true;
    late.failure = ccSimFailedTimeout;
    const uint32_t ticket = late.ticket;
    s.fifoEvent.notify_all();
    announce(lock, kComplete, ccSimFailedTimeout, ticket, 0);
}

void Fifo::ended() {
    if (!worker_.joinable()) return; // it never started
    const std::thread::id self = std::this_thread::get_id();
    const bool own = worker_.get_id() == self || notifier_.get_id() == self;
    locked([&] {
        stop_ = true;
        detached_ = own;
    });
    state().fifoEvent.notify_all();
    if (own) {
        // Released from within a callback: the last of the FIFO's threads
        // cleans up once this one has returned.
        worker_.detach();
        if (notifier_.joinable()) notifier_.detach();
        return;
    }
    worker_.join();
    if (notifier_.joinable()) notifier_.join();
    cleanup();
}

// After the FIFO's threads: every library object goes back, and the frames.
void Fifo::cleanup() {
    std::vector<ccIUnknown*> held;
    std::deque<Acquisition> dropped;
    locked([&] {
        held = std::move(retired_);
        held.insert(held.end(), plain_, plain_ + 3);
        held.insert(held.end(), info_, info_ + 3);
        held.push_back(pool_);
        std::fill(plain_, plain_ + 3, nullptr);
        std::fill(info_, info_ + 3, nullptr);
        pool_ = nullptr;
        dropped.swap(queue_);
        for (const Acquisition& a : dropped) state().untriggered.erase(a.id);
        --state().liveFifos;
    });
    for (ccIUnknown* h : held)
        if (h) h->release();
}

} // namespace

ccIUnknown* newFifo(int32_t code) {
    if (!knownCode(code)) return nullptr;
    Fifo* fifo = make<ccIAcqFifo_Core, Fifo>(code);
    if (fifo->begin()) return static_cast<ccIAcqFifo_Core*>(fifo);
    static_cast<ccIAcqFifo_Core*>(fifo)->release();
    return nullptr;
}

} // namespace sim
