#include "modules/acqfifoproxy.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "acq/acqfifo.h"
#include "acq/hyper/prop/cameratest.h"
#include "acq/hyper/prop/cdc_calib.h"
#include "acq/hyper/prop/custom.h"
#include "acq/hyper/prop/offsetclamp.h"
#include "acq/hyper/prop/readdir.h"
#include "acq/hyper/prop/sample.h"
#include "acq/hyper/prop/sync.h"
#include "acq/hyper/prop/triggerfilter.h"
#include "acq/propreq.h"
#include "acq/vidfmt/vidfmt.h"
#include "modules/devices.h"
#include "modules/fgproxy.h"
#include "modules/internal/counted.h"
#include "modules/internal/resultimage.h"
#include "modules/unknownfg.h"
#include "std/except/utf16.h"
#include "std/pelbuf/pelpool.h"

static_assert(std::is_trivially_copyable<ccAcqPropertyRequest>::value &&
                  sizeof(ccAcqPropertyRequest) == sizeof(ccModPropertyRecord) &&
                  offsetof(ccAcqPropertyRequest, id) == offsetof(ccModPropertyRecord, id) &&
                  offsetof(ccAcqPropertyRequest, channel) == offsetof(ccModPropertyRecord, channel) &&
                  offsetof(ccAcqPropertyRequest, value) == offsetof(ccModPropertyRecord, value) &&
                  offsetof(ccAcqPropertyRequest, valid) == offsetof(ccModPropertyRecord, valid) &&
                  offsetof(ccAcqPropertyRequest, reserved) == offsetof(ccModPropertyRecord, reserved),
              "a request crosses to the module byte for byte");

namespace {

// A faulty module must not make a list endless.
constexpr uint32_t kMaxListItems = 4096;
constexpr uint32_t kPrepareMessageUnits = 256;

// A handle a client thread replaces while module threads take copies: the
// copy is made under the lock and used outside it, so a callback replaced
// meanwhile lives until the call that copied it returns.
template <class T>
class cc_GuardedHandle {
public:
    ccPtrHandle<T> get() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return handle_;
    }
    void set(const ccPtrHandle<T>& handle)
    {
        ccPtrHandle<T> old;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            old = handle_;
            handle_ = handle;
        }
        // old goes here, outside the lock: its callback may be the last handle.
    }

private:
    mutable std::mutex mutex_;
    ccPtrHandle<T> handle_;
};

// An object that lives on the caller's stack for the length of one module
// call: the module's references change nothing.
template <class Interface>
class cc_StackObject : public Interface {
public:
    uint32_t addRef() override { return 1; }
    uint32_t release() override { return 1; }

protected:
    int32_t answer(ccIUnknown** out, bool offered)
    {
        if (out == nullptr)
            return 1;
        *out = offered ? this : nullptr;
        return offered ? 0 : 1;
    }
};

// The module pel format's acquired-image code; 0 for none.
uint32_t acquiredCode(int32_t moduleFormat)
{
    static const uint32_t codes[] = {1, 4, 12, 8, 5, 7, 9, 10, 3, 2, 0, 0, 13, 14, 16, 15, 17, 18, 19};
    if (moduleFormat < 0 || moduleFormat >= static_cast<int32_t>(sizeof(codes) / sizeof(codes[0])))
        return 0;
    return codes[moduleFormat];
}

// A 32-bit integer travels as its signed value: a port of -1 (none) reaches
// the module as -1.0, not as 4294967295.0.
double signedWord(uint32_t value) { return static_cast<int32_t>(value); }

// The callback wraps of a FIFO, in the order the module registers them.
enum : size_t { kComplete, kMovePart, kOverrun };

// The interface an operation cannot do without.
template <class T>
T& require(const cc_ModPtr<T>& held)
{
    if (!held)
        throw ccUnknownFG::MissingFunctionality();
    return *held.get();
}

// The image's buffer of the acquired code, or an unbound buffer.
template <class Buffer>
Buffer typedBuffer(const ccPtrHandle<ccAcqImage>& image, uint32_t code, Buffer (ccAcqImage::*buffer)() const)
{
    if (image.rawPointer() && image->isValid() && image->canConvertTo(code))
        return (image.rawPointer()->*buffer)();
    return {};
}

// Registers three new wraps with the module's slots 3, 4 and 5. Statuses are
// not checked: a wrap the module refused is never called.
template <class Callbacks, class Wrap>
void registerWraps(ccIUnknown* core, int32_t id, std::array<cc_ModPtr<Wrap>, 3>& wraps,
                   const std::shared_ptr<cc_ModCallbackGate>& gate)
{
    cc_ModPtr<Callbacks> callbacks = ccModQuery<Callbacks>(core, id);
    if (!callbacks)
        return;
    for (cc_ModPtr<Wrap>& wrap : wraps)
        wrap.reset(new Wrap(gate));
    (void)callbacks->complete(wraps[kComplete].get());
    (void)callbacks->movePart(wraps[kMovePart].get());
    (void)callbacks->overrun(wraps[kOverrun].get());
}

// A module without callbacks drops the handle.
template <class Wrap, class Handle>
void setCallback(const cc_ModPtr<Wrap>& wrap, const Handle& callback)
{
    if (wrap)
        wrap->set(callback);
}

// Fills dest from the module's information object; false, with dest left
// as it was, when the object does not answer 32. The module's statuses
// leave the preset values.
bool readAcquireInfo(ccAcquireInfo& dest, ccIUnknown* info)
{
    cc_ModPtr<ccIAcqInfo_Core> core = ccModQuery<ccIAcqInfo_Core>(info, ccIidInfoCore);
    if (!core)
        return false;
    uint32_t third = 0, fourth = 0, ticket = 0, triggerNumber = 0;
    (void)core->words(&third, &fourth);
    (void)core->ticket(&ticket);
    (void)core->triggerNumber(&triggerNumber);
    if (cc_ModPtr<ccIAcqInfo_Message> message = ccModQuery<ccIAcqInfo_Message>(info, ccIidInfoMessage)) {
        char16_t buffer[ccAcquireInfo::kModuleMessageUnits] = {};
        uint32_t length = ccAcquireInfo::kModuleMessageUnits;
        const int32_t status = message->message(&length, buffer);
        dest.takeModuleMessage(status, buffer, length);
    } else {
        dest.failure.message.clear();
    }
    dest.ticket = ticket;
    dest.triggerNumber = triggerNumber;
    dest.failure.flags = third;
    dest.failure.detail = fourth;
    dest.extra[0] = dest.extra[1] = 0;
    core.reset();
    if (cc_ModPtr<ccIAcqInfo_Extra> extra = ccModQuery<ccIAcqInfo_Extra>(info, ccIidInfoExtra)) {
        uint64_t value = 0;
        (void)extra->extra(&value);
        dest.extra[0] = static_cast<uint32_t>(value);
        dest.extra[1] = static_cast<uint32_t>(value >> 32);
    }
    return true;
}

// A module sync index as a model: 2 to 14 give the codes 151 to 163,
// anything else the default model.
ccSyncModel syncModelOfIndex(int32_t index) { return ccSyncModel::fromCode(ccSyncProp::syncModelIdFromCode(index)); }

// What a module FIFO core gives for a trigger model other than a custom one.
uint32_t triggerIndex(uint32_t code)
{
    switch (code) {
    case ccTriggerModel::kCodeManual: return 0;
    case ccTriggerModel::kCodeAutomatic: return 1;
    case ccTriggerModel::kCodeSemiAutomatic: return 2;
    case ccTriggerModel::kCodeSlave: return 3;
    default: return 0;
    }
}

} // namespace

// The callbacks of one FIFO in progress, shared with its wraps, which the
// module may keep past the FIFO. Once closed no callback starts, and the FIFO
// waits for those running on other threads (not for one that is destroying
// it from within).
class cc_ModCallbackGate {
public:
    // One callback on this thread, if the gate is open.
    class Inside {
    public:
        explicit Inside(cc_ModCallbackGate& gate) : gate_(gate), previous_(top_)
        {
            std::lock_guard<std::mutex> lock(gate_.mutex_);
            entered_ = !gate_.closed_;
            if (!entered_)
                return;
            ++gate_.running_;
            top_ = this;
        }
        ~Inside()
        {
            if (!entered_)
                return;
            top_ = previous_;
            std::lock_guard<std::mutex> lock(gate_.mutex_);
            --gate_.running_;
            gate_.changed_.notify_all();
        }
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;
        explicit operator bool() const { return entered_; }

    private:
        friend class cc_ModCallbackGate;
        cc_ModCallbackGate& gate_;
        const Inside* const previous_;
        bool entered_ = false;
    };

    void close()
    {
        uint32_t mine = 0; // callbacks of this gate that this thread is inside
        for (const Inside* inside = top_; inside != nullptr; inside = inside->previous_)
            mine += &inside->gate_ == this;
        std::unique_lock<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.wait(lock, [&] { return running_ == mine; });
    }

private:
    static thread_local const Inside* top_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    uint32_t running_ = 0;
};

thread_local const cc_ModCallbackGate::Inside* cc_ModCallbackGate::top_ = nullptr;

// The module calls these on its own threads; nothing thrown here may reach it.
class ccCallbackWrap final : public cc_CountedObject<ccICallbackFn> {
public:
    explicit ccCallbackWrap(std::shared_ptr<cc_ModCallbackGate> gate) : gate_(std::move(gate)) {}
    int32_t call() override
    {
        try {
            const cc_ModCallbackGate::Inside inside(*gate_);
            if (!inside)
                return 0;
            const ccPtrHandle<ccCallback> callback = callback_.get();
            if (callback.rawPointer())
                (*callback)();
            return 0;
        } catch (...) {
            return 1;
        }
    }
    void set(const ccPtrHandle<ccCallback>& callback) { callback_.set(callback); }

private:
    void destroy() override { delete this; }
    const std::shared_ptr<cc_ModCallbackGate> gate_;
    cc_GuardedHandle<ccCallback> callback_;
};

class ccCallbackInfoWrap final : public cc_CountedObject<ccICallbackInfoFn> {
public:
    explicit ccCallbackInfoWrap(std::shared_ptr<cc_ModCallbackGate> gate) : gate_(std::move(gate)) {}
    int32_t call(ccIUnknown* info) override
    {
        try {
            const cc_ModCallbackGate::Inside inside(*gate_);
            if (!inside)
                return 0;
            const ccAcqInfoCallbackHandle callback = callback_.get();
            if (callback.rawPointer()) {
                ccAcquireInfo record;
                (void)readAcquireInfo(record, info);
                (*callback)(record);
            }
            return 0;
        } catch (...) {
            return 1;
        }
    }
    void set(const ccAcqInfoCallbackHandle& callback) { callback_.set(callback); }

private:
    void destroy() override { delete this; }
    const std::shared_ptr<cc_ModCallbackGate> gate_;
    cc_GuardedHandle<ccAcqInfoCallback> callback_;
};

// The arguments of one completion, valid only during core slot 4.
class ccCompleteArgs_obj final : public cc_StackObject<ccITemp_CompleteArgs_v0> {
public:
    explicit ccCompleteArgs_obj(const ccAcqCompleteArgs& args)
        : firstFlag_(args.localCopy), timeout_(args.timeout), secondFlag_(args.secondFlag != 0)
    {
    }

    int32_t query(ccIUnknown** out, int32_t id) override { return answer(out, id == 0 || id == ccIidCompleteArgs); }
    int32_t firstFlag(uint32_t* flag) override { return put(flag, firstFlag_); }
    int32_t secondFlag(uint32_t* flag) override { return put(flag, secondFlag_); }
    int32_t timeout(double* seconds) override { return put(seconds, timeout_); }
    int32_t setStatus(uint32_t status) override
    {
        status_ = status;
        return 0;
    }
    int32_t readInfo(ccIUnknown* info) override
    {
        try {
            (void)readAcquireInfo(info_, info);
            return 0;
        } catch (...) {
            return 1;
        }
    }

    // The outputs the caller asked for.
    void deliver(const ccAcqCompleteArgs& args) const
    {
        if (args.info)
            *args.info = info_;
        if (args.outcome)
            *args.outcome = status_ == 0;
    }

private:
    template <class T>
    static int32_t put(T* out, T value)
    {
        if (out == nullptr)
            return 1;
        *out = value;
        return 0;
    }

    uint32_t firstFlag_;
    double timeout_;
    uint32_t secondFlag_;
    uint32_t status_ = 0;
    ccAcquireInfo info_;
};

namespace {

// A custom trigger model, valid only during core slot 8: each slot gives one
// flag byte of the model's record.
class ccTriggerModel_obj final : public cc_StackObject<ccITemp_TrigCustom_v2> {
public:
    explicit ccTriggerModel_obj(const ccAcqModelRecord& record) : record_(record) {}

    int32_t query(ccIUnknown** out, int32_t id) override
    {
        return answer(out, id == 0 || id == ccIidTrigCustomV0 || id == ccIidTrigCustomV2);
    }
    int32_t flag0(uint32_t* value) override { return flag(0, value); }
    int32_t flag1(uint32_t* value) override { return flag(1, value); }
    int32_t flag2(uint32_t* value) override { return flag(2, value); }
    int32_t flag3(uint32_t* value) override { return flag(3, value); }
    int32_t flag4(uint32_t* value) override { return flag(4, value); }
    int32_t flag5(uint32_t* value) override { return flag(5, value); }
    int32_t flag6(uint32_t* value) override { return flag(6, value); }
    int32_t flag7(uint32_t* value) override { return flag(7, value); }
    int32_t flag8(uint32_t* value) override { return flag(8, value); }
    int32_t flag9(uint32_t* value) override { return flag(9, value); }
    int32_t flag10(uint32_t* value) override { return flag(10, value); }
    int32_t flag11(uint32_t* value) override { return flag(11, value); }
    int32_t flag12(uint32_t* value) override { return flag(12, value); }

private:
    int32_t flag(int index, uint32_t* value) const
    {
        if (value == nullptr)
            return 1;
        *value = record_.flags[index];
        return 0;
    }

    const ccAcqModelRecord& record_;
};

} // namespace

// ---------------------------------------------------------------------------

struct cc_UnknownAcqFifo::Module {
    explicit Module(bool gone = false) : orphaned(gone) {}
    // Triggers off once the FIFO was made, then every module interface goes
    // before the callbacks do.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Whether the module FIFO has the interface a setting goes through.
    // Orphaned it raises: a setting taken as done on a FIFO whose board went
    // would be lost unseen.
    template <class I>
    bool has(const cc_ModPtr<I>& iface) const
    {
        if (!iface && orphaned)
            throw ccUnknownFG::MissingFunctionality();
        return static_cast<bool>(iface);
    }
    // Raises the module's error when status is not 0.
    void check(int32_t status) const
    {
        if (status != 0)
            module->raiseLastError();
    }

    // Keeps the module's file loaded while its FIFO lives; empty once orphaned.
    ccPtrHandle<cc_AcqModule> module;
    // The stand-in of an orphaned FIFO's module.
    const bool orphaned;
    bool made = false;
    // The callback wraps: complete, move part, overrun (empty when the module
    // takes no callbacks).
    std::array<cc_ModPtr<ccCallbackWrap>, 3> wraps;
    std::array<cc_ModPtr<ccCallbackInfoWrap>, 3> infoWraps;
    cc_ModPtr<ccIAcqFifo_Core> core;
    cc_ModPtr<ccIAcqFifo_Properties> properties;
    cc_ModPtr<ccIAcqFifo_PropertyRecord> propertyRecord;
    cc_ModPtr<ccIAcqFifo_Camera> camera;
    cc_ModPtr<ccIAcqFifo_PropertySupport> propertySupport;
    cc_ModPtr<ccIAcqFifo_Extension> extension;
    cc_ModPtr<ccIAcqFifo_PelPool> pelPool;
    cc_ModPtr<ccIAcqFifo_Encoder> encoder;
    cc_ModPtr<ccIAcqFifo_Hooks> hooks;
    cc_ModPtr<ccIAcqFifo_RoiModes> roiModes;
};

cc_UnknownAcqFifo::Module::~Module()
{
    if (made && core)
        (void)core->triggerEnable(0); // nothing to do about a failure here
    properties.reset();
    propertyRecord.reset();
    camera.reset();
    propertySupport.reset();
    extension.reset();
    hooks.reset();
    pelPool.reset();
    encoder.reset();
    roiModes.reset();
    core.reset();
    // The module calls no wrap from now on; one it still holds keeps no
    // callback alive.
    for (cc_ModPtr<ccCallbackWrap>& wrap : wraps)
        setCallback(wrap, nullptr);
    for (cc_ModPtr<ccCallbackInfoWrap>& wrap : infoWraps)
        setCallback(wrap, nullptr);
}

cc_UnknownAcqFifo::cc_UnknownAcqFifo(cc_UnknownFrameGrabber& grabber, const cc_VidFmtDesc& description,
                                     int32_t moduleCode)
    : grabber_(grabber), gate_(std::make_shared<cc_ModCallbackGate>())
{
    const std::u16string name = ccModFormatName(description);

    cc_ModPtr<ccIUnknown> fifo;
    int32_t status = 0;
    if (cc_ModPtr<ccIAcqFifo_Creator> creator = ccModQuery<ccIAcqFifo_Creator>(grabber.core(), ccIidFifoCreator)) {
        status = creator->create(fifo.put(), name.c_str(), moduleCode);
    } else if (moduleCode != 0) {
        throw ccVideoFormat::NotSupported();
    } else {
        status = grabber.core()->createFifo(fifo.put(), name.c_str());
    }
    if (status != 0) {
        fifo.reset();
        grabber.throwModuleError(status);
    }
    auto m = std::make_shared<Module>();
    m->module = grabber.module();
    m->core = ccModQuery<ccIAcqFifo_Core>(fifo.get(), ccIidFifoCore);
    fifo.reset(); // only interfaces are kept

    if (!m->core) {
        propertyQuery_.reset(new cc_UnknownAcqPropertyQuery(nullptr));
        sampleValues_.push_back(1);
        module_ = std::move(m);
        fifos_ = grabber.fifos();
        fifos_->add(*this);
        return;
    }
    ccIAcqFifo_Core* const core = m->core.get(); // m goes to module_ before the last queries
    registerWraps<ccIAcqFifo_Callbacks>(core, ccIidFifoCallbacks, m->wraps, gate_);
    registerWraps<ccIAcqFifo_InfoCallbacks>(core, ccIidFifoInfoCallbacks, m->infoWraps, gate_);
    m->properties = ccModQuery<ccIAcqFifo_Properties>(core, ccIidFifoProperties);
    m->propertyRecord = ccModQuery<ccIAcqFifo_PropertyRecord>(core, ccIidFifoPropertyRecord);
    m->camera = ccModQuery<ccIAcqFifo_Camera>(core, ccIidFifoCamera);
    m->encoder = ccModQuery<ccIAcqFifo_Encoder>(core, ccIidFifoEncoder);
    m->propertySupport = ccModQuery<ccIAcqFifo_PropertySupport>(core, ccIidFifoPropertySupport);
    m->roiModes = ccModQuery<ccIAcqFifo_RoiModes>(core, ccIidFifoRoiModes);
    propertyQuery_.reset(
        new cc_UnknownAcqPropertyQuery([this](int32_t number) { return supportsProperty(number); }));
    m->extension = ccModQuery<ccIAcqFifo_Extension>(core, ccIidFifoExtension);
    m->hooks = ccModQuery<ccIAcqFifo_Hooks>(core, ccIidFifoHooks);
    m->pelPool = ccModQuery<ccIAcqFifo_PelPool>(core, ccIidFifoPelPool);
    m->made = true;
    const bool pooled = static_cast<bool>(m->pelPool);
    module_ = std::move(m);
    if (pooled)
        pelRootPool(ccDefaultPelRootPool::instance());

    if (cc_ModPtr<ccIAcqFifo_SampleValues> samples = ccModQuery<ccIAcqFifo_SampleValues>(core, ccIidFifoSampleValues)) {
        for (uint32_t index = 0; index < kMaxListItems; ++index) {
            int32_t value = 0;
            if (samples->value(&value, index) != 0 || value == 0)
                break;
            sampleValues_.push_back(value);
        }
    } else {
        sampleValues_.push_back(1);
    }
    // Last: a FIFO whose construction fails is never listed.
    fifos_ = grabber.fifos();
    fifos_->add(*this);
}

cc_UnknownAcqFifo::~cc_UnknownAcqFifo()
{
    // First: a grabber going meanwhile has then either taken the FIFO's hold
    // already or never meets the FIFO.
    if (fifos_)
        fifos_->remove(*this);
    std::shared_ptr<Module> module;
    {
        std::lock_guard<std::mutex> lock(moduleMutex_);
        module = std::move(module_);
    }
    module.reset();
    gate_->close();
    propertyQuery_.reset();
}

std::shared_ptr<void> cc_UnknownAcqFifo::orphan() noexcept
{
    std::lock_guard<std::mutex> lock(moduleMutex_);
    return std::move(module_);
}

std::shared_ptr<cc_UnknownAcqFifo::Module> cc_UnknownAcqFifo::held() const
{
    static Module* const gone = new Module(true); // never destroyed: a late caller finds it
    std::lock_guard<std::mutex> lock(moduleMutex_);
    if (module_)
        return module_;
    return std::shared_ptr<Module>(std::shared_ptr<Module>(), gone);
}

bool cc_UnknownAcqFifo::supportsProperty(int32_t number) const
{
    const std::shared_ptr<Module> m = held();
    uint32_t flag = 0;
    if (ccIAcqFifo_PropertySupport* support = m->propertySupport.get())
        m->check(support->isSupported(number, &flag));
    return flag != 0;
}

// --- The FIFO core.

template <class I, class T>
T cc_UnknownAcqFifo::ask(cc_ModPtr<I> Module::*iface, int32_t (I::*slot)(T*), T neutral) const
{
    const std::shared_ptr<Module> m = held();
    T value = neutral;
    if (I* object = ((*m).*iface).get())
        m->check((object->*slot)(&value));
    return value;
}

template <class T>
T cc_UnknownAcqFifo::askCore(int32_t (ccIAcqFifo_Core::*slot)(T*)) const
{
    const std::shared_ptr<Module> m = held();
    T value = T();
    m->check((require(m->core).*slot)(&value));
    return value;
}

bool cc_UnknownAcqFifo::start(uint32_t ticket)
{
    const std::shared_ptr<Module> m = held();
    uint32_t accepted = 0;
    m->check(require(m->core).start(ticket, &accepted));
    return accepted != 0;
}

bool cc_UnknownAcqFifo::stateQueryA() { return askCore(&ccIAcqFifo_Core::stateA) != 0; }
bool cc_UnknownAcqFifo::stateQueryB() { return askCore(&ccIAcqFifo_Core::stateB) != 0; }
bool cc_UnknownAcqFifo::isBusy() { return askCore(&ccIAcqFifo_Core::isBusy) != 0; }
bool cc_UnknownAcqFifo::stateQueryC() { return askCore(&ccIAcqFifo_Core::stateC) != 0; }
bool cc_UnknownAcqFifo::stateQueryD() { return askCore(&ccIAcqFifo_Core::stateD) != 0; }
bool cc_UnknownAcqFifo::stateQueryE() { return askCore(&ccIAcqFifo_Core::stateE) != 0; }
uint32_t cc_UnknownAcqFifo::pendingAcqs() { return askCore(&ccIAcqFifo_Core::pending); }
uint32_t cc_UnknownAcqFifo::completedAcqs() { return askCore(&ccIAcqFifo_Core::completed); }
uint32_t cc_UnknownAcqFifo::countQueryC() { return askCore(&ccIAcqFifo_Core::countC); }
bool cc_UnknownAcqFifo::triggerEnabled() { return askCore(&ccIAcqFifo_Core::triggerEnabled) != 0; }

void cc_UnknownAcqFifo::flush()
{
    const std::shared_ptr<Module> m = held();
    m->check(require(m->core).flush());
}
void cc_UnknownAcqFifo::triggerEnable(bool enable)
{
    const std::shared_ptr<Module> m = held();
    m->check(require(m->core).triggerEnable(enable));
}

void cc_UnknownAcqFifo::triggerModel(const ccAcqModelRecord& model)
{
    const std::shared_ptr<Module> m = held();
    ccIAcqFifo_Core& core = require(m->core);
    if (model.code == ccTriggerModel::kCodeFreeRun) {
        ccTriggerModel_obj custom(model);
        m->check(core.triggerCustom(&custom));
    } else {
        m->check(core.triggerIndex(triggerIndex(model.code)));
    }
}

bool cc_UnknownAcqFifo::prepare(std::wstring* message, ccTimeout& timeout)
{
    const std::shared_ptr<Module> m = held();
    const double seconds = timeout.remaining(); // HUGE_VAL when infinite
    uint32_t ready = 0;
    if (cc_ModPtr<ccIAcqFifo_Prepare> prepare = ccModQuery<ccIAcqFifo_Prepare>(m->core.get(), ccIidFifoPrepare)) {
        // Zeroed: a failed call gives an empty text, not stale memory.
        char16_t buffer[kPrepareMessageUnits] = {};
        (void)prepare->prepare(seconds, &ready, buffer);
        prepare.reset();
        if (message) {
            const char16_t* end = std::find(buffer, buffer + kPrepareMessageUnits, u'\0');
            *message = ccFromUtf16(buffer, static_cast<size_t>(end - buffer));
        }
    } else if (cc_ModPtr<ccIAcqFifo_PrepareBasic> basic =
                   ccModQuery<ccIAcqFifo_PrepareBasic>(m->core.get(), ccIidFifoPrepareBasic)) {
        (void)basic->prepare(seconds, &ready);
        basic.reset();
        if (message)
            *message = L"no result";
    }
    return ready != 0;
}

bool cc_UnknownAcqFifo::reconfigure(const void* object)
{
    const std::shared_ptr<Module> m = held();
    cc_ModPtr<ccIAcqFifo_Reconfigure> reconfigure =
        ccModQuery<ccIAcqFifo_Reconfigure>(m->core.get(), ccIidFifoReconfigure);
    if (!reconfigure)
        return false;
    uint32_t result = 0;
    m->check(reconfigure->reconfigure(object, &result));
    return result != 0;
}

// --- Completions.

cc_ModPtr<ccIUnknown> cc_UnknownAcqFifo::completeOnCore(const Module& module, ccCompleteArgs_obj& obj)
{
    ccIAcqFifo_Core& core = require(module.core);
    cc_ModPtr<ccIUnknown> result;
    if (core.complete(&obj, result.put()) != 0) {
        result.reset();
        module.check(1);
    }
    return result;
}

ccPtrHandle<ccAcqImage> cc_UnknownAcqFifo::completeAcqImage(const ccAcqCompleteArgs& args)
{
    const std::shared_ptr<Module> m = held();
    ccCompleteArgs_obj obj(args);
    ccPtrHandle<ccAcqImage> image;
    {
        cc_ModPtr<ccIUnknown> result = completeOnCore(*m, obj);
        cc_ModPtr<ccIAcqResult_Format> format = ccModQuery<ccIAcqResult_Format>(result.get(), ccIidResultFormat);
        cc_ModPtr<ccIAcqResult_RawPels> raw = ccModQuery<ccIAcqResult_RawPels>(result.get(), ccIidResultRawPels);
        cc_ModPtr<ccIAcqResult_Image> frame = ccModQuery<ccIAcqResult_Image>(result.get(), ccIidResultImage);
        if (!format)
            throw ccAcqFifo::BadParams();
        int32_t kind = 0;
        m->check(format->kind(&kind));
        int32_t moduleFormat = -1;
        m->check(format->pelFormat(&moduleFormat));
        const uint32_t code = acquiredCode(moduleFormat);
        if (code == 0)
            throw ccAcqFifo::BadParams();
        if (!frame) {
            // no image: an empty handle
        } else if (kind == 1 && moduleFormat == 8) {
            ccPelBuffer<ccPackedRGB16Pel> packed;
            cf_packedFromResult(format.get(), frame.get(), packed);
            image = new ccAcqImage(packed);
        } else if (kind == 1 && moduleFormat == 1) {
            ccPelBuffer<ccPackedRGB32Pel> packed;
            cf_packedFromResult(format.get(), frame.get(), packed);
            image = new ccAcqImage(packed);
        } else if (kind == 1) {
            ccPelBuffer<unsigned char> bytes;
            cf_rawFromFormat(format.get(), frame.get(), bytes);
            image = new ccAcqImage(bytes, code);
        } else if (kind == 3) {
            image = cf_threePlaneFromResult(format.get(), frame.get());
        } else if (raw) {
            ccPelBuffer<unsigned char> bytes;
            cf_rawFromRawPels(raw.get(), bytes);
            image = new ccAcqImage(bytes, code);
        }
    }
    obj.deliver(args);
    return image;
}

ccPelBuffer<unsigned char> cc_UnknownAcqFifo::completeAcq8(const ccAcqCompleteArgs& args)
{
    const std::shared_ptr<Module> m = held();
    ccCompleteArgs_obj obj(args);
    ccPelBuffer<unsigned char> out;
    {
        cc_ModPtr<ccIUnknown> result = completeOnCore(*m, obj);
        if (cc_ModPtr<ccIAcqResult_Image> frame = ccModQuery<ccIAcqResult_Image>(result.get(), ccIidResultImage)) {
            uint32_t remote = 0;
            m->check(frame->isRemote(&remote));
            if (remote != 0) {
                // Without its fast transfer the caller's copy would be memory
                // no pel was ever written to.
                if (args.localCopy && !ccModQuery<ccIAcqResult_FastTransfer>(result.get(), ccIidResultFastTransfer)) {
                    obj.setStatus(1);
                    obj.deliver(args);
                    throw ccUnknownFG::MissingFunctionality();
                }
                result->addRef(); // the remote package's own
                cf_remoteFromResult(grabber_, result.get(), frame.get(), out);
            } else if (cc_ModPtr<ccIAcqResult_RawPels> raw =
                           ccModQuery<ccIAcqResult_RawPels>(result.get(), ccIidResultRawPels)) {
                cf_rawFromRawPels(raw.get(), out);
            }
        }
    }
    obj.deliver(args);
    return out;
}

ccPelBuffer<ccPackedRGB16Pel> cc_UnknownAcqFifo::completeAcqRGB16(const ccAcqCompleteArgs& args)
{
    return typedBuffer(completeAcqImage(args), 3, &ccAcqImage::rgb16Buffer);
}

ccPelBuffer<ccPackedRGB32Pel> cc_UnknownAcqFifo::completeAcqRGB32(const ccAcqCompleteArgs& args)
{
    return typedBuffer(completeAcqImage(args), 4, &ccAcqImage::rgb32Buffer);
}

cc3PlanePelBuffer cc_UnknownAcqFifo::completeAcq3Plane(const ccAcqCompleteArgs& args)
{
    return typedBuffer(completeAcqImage(args), 12, &ccAcqImage::planeBuffer);
}

// --- Property requests.

void cc_UnknownAcqFifo::setProperty(int32_t id, double value, int32_t channel)
{
    const std::shared_ptr<Module> m = held();
    if (!m->has(m->properties))
        return;
    ccModPropertyRecord record{id, channel, value, 0, 0};
    m->check(m->properties->set(&record));
}

double cc_UnknownAcqFifo::readBack(int32_t id, double fallback)
{
    const std::shared_ptr<Module> m = held();
    if (!m->properties)
        return fallback;
    ccModPropertyRecord record{id, -1, 0.0, 0, 0};
    m->check(m->properties->get(&record));
    return record.valid != 0 ? record.value : fallback;
}

void cc_UnknownAcqFifo::sendPropertyRequest(const ccAcqPropertyRequest& request)
{
    const std::shared_ptr<Module> m = held();
    if (!m->has(m->properties))
        return;
    ccModPropertyRecord record;
    std::memcpy(&record, &request, sizeof record);
    m->check(m->properties->set(&record));
}

void cc_UnknownAcqFifo::extRecordQuery(ccAcqPropertyRequest& request)
{
    const std::shared_ptr<Module> m = held();
    if (!m->propertyRecord) {
        request.valid = 0;
        return;
    }
    ccModPropertyRecord record;
    std::memcpy(&record, &request, sizeof record);
    m->check(m->propertyRecord->read(&record));
    std::memcpy(static_cast<void*>(&request), &record, sizeof record);
}

double cc_UnknownAcqFifo::contrastDefault() { return readBack(ccPropContrast, cc_AcqFifo::contrastDefault()); }
double cc_UnknownAcqFifo::brightnessDefault() { return readBack(ccPropBrightness, cc_AcqFifo::brightnessDefault()); }
double cc_UnknownAcqFifo::exposureDefault() { return readBack(ccPropExposure, cc_AcqFifo::exposureDefault()); }
bool cc_UnknownAcqFifo::cdcCalibrationDefault()
{
    return readBack(ccPropCdcCalibrationDefault, cc_AcqFifo::cdcCalibrationDefault()) != 0.0;
}

// A bool travels as 0.0 or 1.0, an integer as its value.
void cc_UnknownAcqFifo::contrast(double value, int32_t channel) { setProperty(ccPropContrast, value, channel); }
void cc_UnknownAcqFifo::brightness(double value, int32_t channel) { setProperty(ccPropBrightness, value, channel); }
void cc_UnknownAcqFifo::cameraPort(uint32_t port) { setProperty(ccPropCameraPort, signedWord(port)); }
void cc_UnknownAcqFifo::exposure(double seconds) { setProperty(ccPropExposure, seconds); }
void cc_UnknownAcqFifo::settlingTime(double value) { setProperty(ccPropSettlingTime, value); }
void cc_UnknownAcqFifo::timeout(double seconds) { setProperty(ccPropTimeout, seconds); }
void cc_UnknownAcqFifo::strobeEnable(bool enable) { setProperty(ccPropStrobeEnable, enable); }
void cc_UnknownAcqFifo::strobePulseDuration(double value) { setProperty(ccPropStrobePulseDuration, value); }
void cc_UnknownAcqFifo::strobePulsePolarityHigh(bool high) { setProperty(ccPropStrobePulsePolarityHigh, high); }
void cc_UnknownAcqFifo::strobeDelay(double value) { setProperty(ccPropStrobeDelay, value); }
void cc_UnknownAcqFifo::cameraBandwidth(double value) { setProperty(ccPropCameraBandwidth, value); }
void cc_UnknownAcqFifo::syncModel(const ccSyncModel& model) { setProperty(ccPropSyncModel, model.code()); }
void cc_UnknownAcqFifo::triggerLowToHigh(bool lowToHigh) { setProperty(ccPropTriggerLowToHigh, lowToHigh); }
void cc_UnknownAcqFifo::chargeTransferInterval(double value) { setProperty(ccPropChargeTransferInterval, value); }
void cc_UnknownAcqFifo::horizontalAdjustment(double value) { setProperty(ccPropHorizontalAdjustment, value); }
void cc_UnknownAcqFifo::roiMode(uint32_t mode) { setProperty(ccPropRoiMode, signedWord(mode)); }
void cc_UnknownAcqFifo::lightEnabled(bool enabled) { setProperty(ccPropLightEnabled, enabled); }
void cc_UnknownAcqFifo::brightFieldPowerRatio(double value) { setProperty(ccPropBrightFieldPowerRatio, value); }
void cc_UnknownAcqFifo::lightPower(double value) { setProperty(ccPropLightPower, value); }
void cc_UnknownAcqFifo::lightDelay(double value) { setProperty(ccPropLightDelay, value); }
void cc_UnknownAcqFifo::auxLightPort(uint32_t port) { setProperty(ccPropAuxLightPort, signedWord(port)); }
void cc_UnknownAcqFifo::auxBrightFieldPowerRatio(double value) { setProperty(ccPropAuxBrightFieldPowerRatio, value); }
void cc_UnknownAcqFifo::auxLightPower(double value) { setProperty(ccPropAuxLightPower, value); }
void cc_UnknownAcqFifo::clippingEnabled(uint8_t value) { setProperty(ccPropClippingEnabled, value); }
void cc_UnknownAcqFifo::clippingLowLevel(uint8_t value) { setProperty(ccPropClippingLowLevel, value); }
void cc_UnknownAcqFifo::clippingHighLevel(uint8_t value) { setProperty(ccPropClippingHighLevel, value); }
void cc_UnknownAcqFifo::alphaColorEnabled(uint8_t value) { setProperty(ccPropAlphaColorEnabled, value); }
void cc_UnknownAcqFifo::alphaColorValue(int32_t value) { setProperty(ccPropAlphaColorValue, value); }
void cc_UnknownAcqFifo::alphaColorMode(uint32_t mode) { setProperty(ccPropAlphaColorMode, static_cast<uint8_t>(mode)); }
void cc_UnknownAcqFifo::digitalHighGainSelected(bool selected) { setProperty(ccPropDigitalHighGainSelected, selected); }
void cc_UnknownAcqFifo::masterClockFrequency(double value) { setProperty(ccPropMasterClockFrequency, value); }
void cc_UnknownAcqFifo::firstPelOffset(uint8_t value) { setProperty(ccPropFirstPelOffset, value); }
void cc_UnknownAcqFifo::resetCounterOnHardwareTrigger(bool reset)
{
    setProperty(ccPropResetCounterOnHardwareTrigger, reset);
}
void cc_UnknownAcqFifo::testEncoderEnabled(bool enabled) { setProperty(ccPropTestEncoderEnabled, enabled); }
void cc_UnknownAcqFifo::testEncoderDirectionPositive(bool positive)
{
    setProperty(ccPropTestEncoderDirectionPositive, positive);
}
void cc_UnknownAcqFifo::encoderPort(uint32_t port) { setProperty(ccPropEncoderPort, signedWord(port)); }
void cc_UnknownAcqFifo::encoderOffset(int32_t offset) { setProperty(ccPropEncoderOffset, offset); }
void cc_UnknownAcqFifo::acquireDirectionPositive(bool positive)
{
    setProperty(ccPropAcquireDirectionPositive, positive);
}
void cc_UnknownAcqFifo::useSingleChannel(bool single) { setProperty(ccPropUseSingleChannel, single); }
void cc_UnknownAcqFifo::encoderResolution(uint32_t value) { setProperty(ccPropEncoderResolution, signedWord(value)); }
void cc_UnknownAcqFifo::startAcqOnEncoderCount(uint32_t count)
{
    setProperty(ccPropStartAcqOnEncoderCount, signedWord(count));
}
void cc_UnknownAcqFifo::ignoreBackwardsMotionBetweenAcquires(bool ignore)
{
    setProperty(ccPropIgnoreBackwardsMotion, ignore);
}
void cc_UnknownAcqFifo::ignoreTooFastEncoder(bool ignore) { setProperty(ccPropIgnoreTooFastEncoder, ignore); }

// --- Grouped properties: their members in ascending order of identifier.

void cc_UnknownAcqFifo::cdcCameraCalibration(const ccCdcCameraCalibrationProp& prop)
{
    setProperty(ccPropOutlierPixelCorrection, prop.outlierPixelCorrectionEnabled());
    setProperty(ccPropCdcCalibrationFirst, prop.firstCalibrationByte());
    setProperty(ccPropCdcCalibrationSecond, prop.secondCalibrationByte());
    setProperty(ccPropRowColumnCalibration, prop.rowColumnCalibrationEnabled());
}

void cc_UnknownAcqFifo::readoutDirection(const ccReadoutDirectionProp& prop)
{
    setProperty(ccPropHorizontalReadoutReversed, prop.horizontalReadoutReversed());
    setProperty(ccPropVerticalReadoutReversed, prop.verticalReadoutReversed());
}

void cc_UnknownAcqFifo::sample(const ccSampleProp& prop)
{
    setProperty(ccPropSampleX, prop.sampleX());
    setProperty(ccPropSampleY, prop.sampleY());
}

void cc_UnknownAcqFifo::cameraTest(const ccCameraTestProp& prop)
{
    setProperty(ccPropCameraTestFirst, prop.firstMember());
    setProperty(ccPropCameraTestSecond, prop.secondMember());
    setProperty(ccPropCameraTestThird, prop.thirdMember());
}

void cc_UnknownAcqFifo::offsetClamp(const ccOffsetClampProp& prop)
{
    setProperty(ccPropOffsetClamp, prop.offsetClampMode());
}

void cc_UnknownAcqFifo::triggerFilter(const ccTriggerFilterProp& prop)
{
    setProperty(ccPropMinTriggerWidth, prop.minTriggerWidth());
    setProperty(ccPropMinTriggerPeriod, prop.minTriggerPeriod());
    setProperty(ccPropTriggerDelay, prop.triggerDelay());
    setProperty(ccPropIgnoreMissedTrigger, prop.ignoreMissedTrigger());
}

void cc_UnknownAcqFifo::customProps(const ccCustomPropertyBag& bag)
{
    const std::shared_ptr<Module> m = held();
    // A bag taken as sent by a FIFO whose board went would be lost unseen.
    if (m->orphaned)
        throw ccUnknownFG::MissingFunctionality();
    cc_ModPtr<ccIAcqFifo_CustomProps> custom = ccModQuery<ccIAcqFifo_CustomProps>(m->core.get(), ccIidFifoCustomProps);
    if (!custom)
        return;
    const std::u16string text = ccToUtf16(bag.asString()); // c_str() is the zero-terminated block
    m->check(custom->set(text.c_str()));
}

// --- Callbacks and the pel-root pool.

void cc_UnknownAcqFifo::completeCallback(const ccPtrHandle<ccCallback>& callback)
{
    setCallback(held()->wraps[kComplete], callback); // held while the callback is set
}
void cc_UnknownAcqFifo::movePartCallback(const ccPtrHandle<ccCallback>& callback)
{
    setCallback(held()->wraps[kMovePart], callback); // held while the callback is set
}
void cc_UnknownAcqFifo::overrunCallback(const ccPtrHandle<ccCallback>& callback)
{
    setCallback(held()->wraps[kOverrun], callback); // held while the callback is set
}
void cc_UnknownAcqFifo::completeInfoCallback(const ccAcqInfoCallbackHandle& callback)
{
    setCallback(held()->infoWraps[kComplete], callback); // held while the callback is set
}
void cc_UnknownAcqFifo::movePartInfoCallback(const ccAcqInfoCallbackHandle& callback)
{
    setCallback(held()->infoWraps[kMovePart], callback); // held while the callback is set
}
void cc_UnknownAcqFifo::overrunInfoCallback(const ccAcqInfoCallbackHandle& callback)
{
    setCallback(held()->infoWraps[kOverrun], callback); // held while the callback is set
}

void cc_UnknownAcqFifo::pelRootPool(const ccPtrHandle<ccPelRootPool>& pool)
{
    const std::shared_ptr<Module> m = held();
    if (!m->has(m->pelPool))
        return;
    if (!pool.rawPointer()) {
        (void)m->pelPool->setPool(nullptr); // not checked: the module keeps what it can
        return;
    }
    ccIPelPool_Core_v0* object = cf_newModulePelPool(pool);
    object->addRef();
    cc_ModPtr<ccIPelPool_Core_v0> offered(object); // the module adds its own reference
    (void)m->pelPool->setPool(offered.get());
}

ccPtrHandle<ccPelRootPool> cc_UnknownAcqFifo::pelRootPoolHandle()
{
    const std::shared_ptr<Module> m = held();
    return m->pelPool ? ccDefaultPelRootPool::instance() : ccPtrHandle<ccPelRootPool>();
}

bool cc_UnknownAcqFifo::hookFalseC(std::array<uint32_t, 6>& record)
{
    const std::shared_ptr<Module> m = held();
    if (!m->pelPool)
        return false;
    record[0] = 0;
    uint32_t flag = 0;
    m->check(m->pelPool->flag(&flag));
    if (flag != 0) {
        uint32_t first = 0, second = 0;
        m->check(m->pelPool->words(&first, &second));
        if (first != 0) {
            record[0] |= 0x10;
            record[5] = 3;
        }
    }
    return flag != 0;
}

// --- Trigger masters.

void cc_UnknownAcqFifo::triggerMaster(cc_AcqFifo* master)
{
    const std::shared_ptr<Module> m = held();
    (void)m->has(m->core); // raises once orphaned
    std::shared_ptr<Module> masterModule;
    if (master) {
        auto* moduleMaster = dynamic_cast<cc_UnknownAcqFifo*>(master);
        // A master without a core would read as "no master" to the module.
        if (moduleMaster)
            masterModule = moduleMaster->held();
        if (!masterModule || !masterModule->core)
            throw ccAcqFifo::InvalidMaster();
    }
    cc_ModPtr<ccIAcqFifo_Master> masters = ccModQuery<ccIAcqFifo_Master>(m->core.get(), ccIidFifoMaster);
    if (!masters) {
        if (master)
            throw ccAcqFifo::InvalidMaster();
        return;
    }
    m->check(masters->setMaster(masterModule ? masterModule->core.get() : nullptr));
}

bool cc_UnknownAcqFifo::isValidMaster(cc_AcqFifo* candidate)
{
    const std::shared_ptr<Module> m = held();
    auto* moduleCandidate = dynamic_cast<cc_UnknownAcqFifo*>(candidate);
    const std::shared_ptr<Module> candidateModule = moduleCandidate ? moduleCandidate->held() : nullptr;
    if (!candidateModule || !candidateModule->core)
        return false;
    cc_ModPtr<ccIAcqFifo_Master> masters = ccModQuery<ccIAcqFifo_Master>(m->core.get(), ccIidFifoMaster);
    if (!masters)
        return false;
    uint32_t flag = 0;
    m->check(masters->isValid(candidateModule->core.get(), &flag));
    return flag != 0;
}

// --- Camera locations.

namespace {

const ccQorLinkCamera* linkCamera(ccCameraPort* location)
{
    return dynamic_cast<const ccQorLinkCamera*>(location);
}

} // namespace

void cc_UnknownAcqFifo::cameraLocation(ccCameraPort* location)
{
    const std::shared_ptr<Module> m = held();
    if (!m->has(m->core))
        return;
    const ccQorLinkCamera* camera = linkCamera(location);
    cc_ModPtr<ccIAcqFifo_CameraLocation> locations =
        ccModQuery<ccIAcqFifo_CameraLocation>(m->core.get(), ccIidFifoCameraLocation);
    if (!camera || !locations)
        return;
    m->check(locations->set(camera->identity()));
    std::shared_ptr<const ccQorLinkCamera> kept = camera->weak_from_this().lock();
    {
        std::lock_guard<std::mutex> lock(moduleMutex_);
        location_.swap(kept);
    }
    // The camera kept before goes here, outside the lock.
}

bool cc_UnknownAcqFifo::isCameraLocationValid(ccCameraPort* location)
{
    const std::shared_ptr<Module> m = held();
    const ccQorLinkCamera* camera = linkCamera(location);
    cc_ModPtr<ccIAcqFifo_CameraLocation> locations =
        ccModQuery<ccIAcqFifo_CameraLocation>(m->core.get(), ccIidFifoCameraLocation);
    if (!camera || !locations)
        return false;
    uint32_t flag = 0;
    m->check(locations->isValid(camera->identity(), &flag));
    return flag != 0;
}

// --- The camera interface.

void cc_UnknownAcqFifo::roi(const ccPelRect& region)
{
    const std::shared_ptr<Module> m = held();
    if (!m->has(m->camera))
        return;
    // The module takes the size in 32-bit words; a wider one would arrive negative.
    if (region.width() > INT32_MAX || region.height() > INT32_MAX)
        throw ccAcqFifo::BadParams();
    m->check(m->camera->roi(region.x0(), region.y0(), static_cast<int32_t>(region.width()),
                            static_cast<int32_t>(region.height())));
}

void cc_UnknownAcqFifo::inputLut(const uint8_t* table, uint32_t size, int32_t channel)
{
    const std::shared_ptr<Module> m = held();
    if (m->has(m->camera))
        m->check(m->camera->inputLut(table, size, channel));
}

uint32_t cc_UnknownAcqFifo::numChannels() { return ask(&Module::camera, &ccIAcqFifo_Camera::numChannels); }
uint32_t cc_UnknownAcqFifo::numInputLuts() { return ask(&Module::camera, &ccIAcqFifo_Camera::numInputLuts); }
uint32_t cc_UnknownAcqFifo::numCameraPorts() { return ask(&Module::camera, &ccIAcqFifo_Camera::numCameraPorts); }
double cc_UnknownAcqFifo::ctiLimit() { return ask(&Module::camera, &ccIAcqFifo_Camera::ctiLimit); }
double cc_UnknownAcqFifo::horizAdjustLimit() { return ask(&Module::camera, &ccIAcqFifo_Camera::horizAdjustLimit); }

void cc_UnknownAcqFifo::roiLimits(ccPelRect& limits)
{
    const std::shared_ptr<Module> m = held();
    int32_t x = 0, y = 0, width = 1, height = 1;
    if (m->camera)
        m->check(m->camera->roiLimits(&x, &y, &width, &height));
    limits = ccPelRect(x, y, width, height);
}

// The module's sync index is 1 when it gives none.
ccSyncModel cc_UnknownAcqFifo::defaultSyncModel()
{
    return syncModelOfIndex(ask(&Module::camera, &ccIAcqFifo_Camera::defaultSync, 1));
}

ccSyncModel cc_UnknownAcqFifo::actualSyncModel()
{
    return syncModelOfIndex(ask(&Module::camera, &ccIAcqFifo_Camera::actualSync, 1));
}

// --- The encoder.

void cc_UnknownAcqFifo::triggerFromEncoder(bool first, bool second)
{
    const std::shared_ptr<Module> m = held();
    if (m->has(m->encoder))
        m->check(m->encoder->triggerFromEncoder(first, second));
}

void cc_UnknownAcqFifo::stepsPerLine(uint32_t steps, uint32_t sixteenths)
{
    const std::shared_ptr<Module> m = held();
    if (m->has(m->encoder))
        m->check(m->encoder->stepsPerLine(steps, sixteenths));
}

uint32_t cc_UnknownAcqFifo::numEncoderPorts() { return ask(&Module::encoder, &ccIAcqFifo_Encoder::numPorts); }
uint32_t cc_UnknownAcqFifo::encoderQueryA() { return ask(&Module::encoder, &ccIAcqFifo_Encoder::queryA); }
uint32_t cc_UnknownAcqFifo::currentEncoderCount() { return ask(&Module::encoder, &ccIAcqFifo_Encoder::count); }

void cc_UnknownAcqFifo::resetCounter()
{
    const std::shared_ptr<Module> m = held();
    if (m->has(m->encoder))
        m->check(m->encoder->resetCounter());
}

// --- ROI modes, extension and hooks (their statuses are not checked).

bool cc_UnknownAcqFifo::isRoiModeSupported(uint32_t mode)
{
    const std::shared_ptr<Module> m = held();
    if (!m->roiModes)
        return mode == 0;
    uint32_t flag = 0;
    (void)m->roiModes->isSupported(mode, &flag);
    return flag != 0;
}

uint32_t cc_UnknownAcqFifo::extQueryA() { return require(held()->extension).queryA(); }
uint32_t cc_UnknownAcqFifo::extQueryB(uint32_t value) { return require(held()->extension).queryB(value); }
void cc_UnknownAcqFifo::noOpHookC() { (void)require(held()->hooks).noOpC(); }

uint32_t cc_UnknownAcqFifo::hookZeroB()
{
    const std::shared_ptr<Module> m = held();
    uint32_t value = 0;
    (void)require(m->hooks).zeroB(&value);
    return value;
}

uint32_t cc_UnknownAcqFifo::hookZeroA()
{
    const std::shared_ptr<Module> m = held();
    uint32_t value = 0;
    (void)require(m->hooks).zeroA(&value);
    return value;
}

bool cc_UnknownAcqFifo::hookTakesBlock(uint32_t, uint32_t, std::unique_ptr<uint8_t[]>, uint32_t, uint32_t, uint32_t,
                                       uint32_t)
{
    return true; // the block goes with the argument
}

// --- Property information, sample values and the property query.

void cc_UnknownAcqFifo::buildPropertyInfo(std::vector<ccAcqPropertyInfo>& info)
{
    const std::shared_ptr<Module> m = held();
    cc_ModPtr<ccIAcqFifo_PropertyInfoList> list =
        ccModQuery<ccIAcqFifo_PropertyInfoList>(m->core.get(), ccIidFifoPropertyInfoList);
    if (!list)
        return;
    for (uint32_t index = 0; index < kMaxListItems; ++index) {
        cc_ModPtr<ccIUnknown> item;
        if (list->item(item.put(), index) != 0 || !item)
            break;
        cc_ModPtr<ccIAcqFifo_PropertyInfo> record =
            ccModQuery<ccIAcqFifo_PropertyInfo>(item.get(), ccIidFifoPropertyInfo);
        item.reset();
        if (!record)
            continue;
        uint32_t id = 0, word = 0;
        double minimum = 0.0, maximum = 0.0, defaultValue = 0.0;
        m->check(record->identifier(&id));
        m->check(record->word(&word));
        m->check(record->minimum(&minimum));
        m->check(record->maximum(&maximum));
        m->check(record->defaultValue(&defaultValue));
        info.push_back(ccAcqPropertyInfo{id, minimum, maximum, defaultValue, word});
    }
}

const std::vector<int32_t>* cc_UnknownAcqFifo::supportedSampleValues() { return &sampleValues_; }

ccAcqPropertyQuery* cc_UnknownAcqFifo::propertyQuery() { return propertyQuery_.get(); }

void cc_UnknownAcqFifo::attachProps(ccAcqProps* props) { propertyQuery_->attach(props); }
