#include "sim/simstate.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace sim {
namespace {

// Out values that are not 0 until a test says otherwise.
struct Default {
    int32_t iid, slot;
    double value;
};
constexpr Default kDefaults[] = {
    {ccIidGrabberCore, 4, 1}, {ccIidFifoCreator, 4, 1}, {ccIidGrabberCore, 6, 1}, {ccIidFifoCamera, 7, 1},
    {ccIidFifoCamera, 4, 1},  {ccIidFifoCore, 3, 1},    {ccIidLineIO, 6, 1},      {ccIidLineIO, 10, 1},
    // What a board knows of its camera interface and encoders.
    {ccIidFifoCamera, 6, 256}, {ccIidFifoCamera, 8, 1.0}, {ccIidFifoCamera, 9, 1.0}, {ccIidFifoEncoder, 5, 2},
    // A camera takes every format, and a FIFO any camera.
    {ccIidLinkCamera, 6, 1}, {ccIidFifoCameraLocation, 3, 1},
};

// A board's own answers to the library's property questions.
const ccSimPropertyInfo kBoardInfos[] = {
    {1000, 1e-6, 10.0, 2e-5, 0}, // exposure, seconds
    {1004, 0, 1, 0, 0},          // strobe enable
    {1005, 0, 0.01, 2e-5, 0},    // strobe pulse duration
    {1007, 0, 0.01, 0, 0},       // strobe delay
    {1019, 0, 1, 0.5, 0},        // contrast
    {1020, 0, 1, 0.5, 0},        // brightness
    {6002, 0, 0.01, 0, 0},       // trigger delay
    {9011, 1, 4, 1, 0},          // sample x
    {9012, 1, 4, 1, 0},          // sample y
};
const std::pair<int32_t, double> kBoardValues[] = {{1000, 2e-5}, {1019, 0.5}, {1020, 0.5}, {9013, 0.0}};
const int32_t kBoardSampleValues[] = {1, 2, 4};

// Everything reset restores, but the audit and the objects.
void applyDefaults(State& s) {
    s.boards.clear();
    s.formats.clear();
    s.listId = 0;
    s.offerErrorSource = s.offerBoardList = true;
    s.discovery = 0;
    s.discoveryFinished = false;
    s.failures.clear();
    s.calls = s.failAt = 0;
    s.failAtError = StoredError{};
    ++s.errorEpoch;
    s.lost = false;
    s.lostError = StoredError{};
    std::fill(std::begin(s.offered), std::end(s.offered), true);
    s.offered[ccIidLinesFrom8] = s.offered[ccIidFifoPelPool] = false;
    for (auto& row : s.slots)
        for (Slot& slot : row) slot = Slot{};
    for (const Default& d : kDefaults) {
        s.slots[d.iid][d.slot].answer[0] = d.value;
        s.slots[d.iid][d.slot].answered = 1;
    }
    s.inputs = 16;
    s.outputs = 20;
    s.ioCode = 0;
    for (auto& line : s.lines) { // a wake object still added stays with its line object
        line.second.enabled = line.second.value = line.second.edges = 0;
    }
    s.eeram.assign(256, 0);
    s.models.clear();
    s.frameWidth = 640;
    s.frameHeight = 480;
    s.triggered = false;
    s.overruns = 0;
    s.timeoutError = StoredError{};
    s.frameRate = 0;
    s.bufferCount = 0;
    s.triggerControl = false;
    s.callbackThreads = 1;
    s.requests.clear();
    s.propertyValues.clear();
    for (const auto& [id, value] : kBoardValues) s.propertyValues[id] = {value, true};
    s.allSupported = true;
    s.supported.clear();
    s.sampleValues.assign(std::begin(kBoardSampleValues), std::end(kBoardSampleValues));
    s.propertyInfos.assign(std::begin(kBoardInfos), std::end(kBoardInfos));
    s.roiModes = {0};
    s.propertyFailures.clear();
    s.devices.clear();
    s.features.clear();
}

} // namespace

State& state() {
    // Never destroyed: objects may be released after this file's statics are
    // gone. The object is linked with -z nodelete, so it also stays reachable.
    static State* const instance = [] {
        State* s = new State;
        applyDefaults(*s);
        // Until a test sets its boards up, a process (the acquisition tests,
        // the examples) sees one board, or the count its environment names.
        const char* n = std::getenv("QORXSIM_BOARDS");
        for (unsigned long i = 0, count = n ? std::min(std::strtoul(n, nullptr, 10), 64ul) : 1ul; i < count; ++i) {
                const std::string digits = std::to_string(i);
                s->boards.push_back(u"sim7320-" + std::u16string(digits.begin(), digits.end()));
            }
        return s;
    }();
    return *instance;
}

StoredError& lastError(State& s) {
    // Each thread's own, as a driver keeps it; one stored before the last
    // reset is gone.
    thread_local struct {
        uint32_t epoch = 0;
        StoredError error;
    } mine;
    if (mine.epoch != s.errorEpoch) {
        mine.epoch = s.errorEpoch;
        mine.error = StoredError{};
    }
    return mine.error;
}

namespace {

bool inTable(int32_t iid, int32_t slot) { return iid >= 0 && iid < kIids && slot >= 0 && slot < kSlots; }

std::u16string copyText(const char16_t* text, size_t limit) {
    std::u16string out;
    if (!text) return out;
    size_t n = 0;
    while (text[n] && n < limit) ++n;
    out.assign(text, n);
    // A cut must not leave half a surrogate pair behind.
    if (text[n] && n > 0 && (out.back() & 0xFC00) == 0xD800) out.pop_back();
    return out;
}

StoredError makeError(const uint8_t* bytes, uint32_t count, int32_t mode) {
    StoredError e;
    e.set = true;
    if (bytes) e.bytes.assign(bytes, bytes + count);
    e.mode = mode == ccSimErrorNoData || mode == ccSimErrorNoObject || mode == ccSimErrorKept ? mode : ccSimErrorBytes;
    return e;
}

// Counts the call under the held lock; true when it fails: the device is
// lost (the error source and its errors still answer), or a failure was
// injected.
bool countCall(State& s, int32_t iid, int32_t slot) {
    if (++s.calls == s.failAt) {
        s.failAt = 0;
        if (s.failAtError.mode != ccSimErrorKept) lastError(s) = std::move(s.failAtError);
        return true;
    }
    if (s.lost && iid != ccIidErrorSource && iid != ccIidErrorData) {
        lastError(s) = s.lostError;
        return true;
    }
    auto it = std::find_if(s.failures.begin(), s.failures.end(),
                           [&](const Failure& f) { return f.iid == iid && f.slot == slot; });
    if (it == s.failures.end()) return false;
    if (it->error.mode != ccSimErrorKept) lastError(s) = std::move(it->error);
    s.failures.erase(it);
    return true;
}

} // namespace

bool propertyFails(State& s, int32_t id) {
    auto it = std::find_if(s.propertyFailures.begin(), s.propertyFailures.end(),
                           [&](const PropertyFailure& f) { return f.id == id; });
    if (it == s.propertyFailures.end()) return false;
    if (it->error.mode != ccSimErrorKept) lastError(s) = std::move(it->error);
    s.propertyFailures.erase(it);
    return true;
}

bool enter(int32_t iid, int32_t slot, std::initializer_list<double> args) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (inTable(iid, slot)) {
        ++s.slots[iid][slot].calls;
        s.slots[iid][slot].args.assign(args);
    }
    return countCall(s, iid, slot);
}

bool enterText(int32_t iid, int32_t slot, const char16_t* text, std::initializer_list<double> args) {
    std::u16string copy = copyText(text, SIZE_MAX);
    const bool fail = enter(iid, slot, args);
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (inTable(iid, slot)) s.slots[iid][slot].argText = std::move(copy);
    return fail;
}

void record(int32_t iid, int32_t slot, std::vector<double> args) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (inTable(iid, slot)) s.slots[iid][slot].args = std::move(args);
}

int32_t refuse() {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    lastError(s) = StoredError{};
    return 1;
}

bool offered(int32_t iid) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return iid >= 0 && iid < kIids && s.offered[iid];
}

double answerOf(int32_t iid, int32_t slot, uint32_t index, double computed) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!inTable(iid, slot) || index >= kOuts) return computed;
    const Slot& it = s.slots[iid][slot];
    return it.answered >> index & 1 ? it.answer[index] : computed;
}

std::u16string textOf(int32_t iid, int32_t slot) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return inTable(iid, slot) ? s.slots[iid][slot].text : std::u16string();
}

int32_t writeText(const std::u16string& text, uint32_t* length, char16_t* buffer) {
    if (!buffer) {
        *length = static_cast<uint32_t>(text.size());
        return 0;
    }
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(text.size(), *length));
    std::copy(text.begin(), text.begin() + n, buffer);
    if (n < *length) buffer[n] = 0;
    *length = n;
    return 0;
}

void Object::enrol(size_t face) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    epoch_ = s.epoch;
    faces_.at(face) = 1;
    s.objects.push_back(this);
    ++s.audit.created;
    ++s.audit.live;
    ++s.audit.references;
}

int32_t Object::queryAs(ccIUnknown** out, int32_t id) {
    if (enter(home_, 0, {static_cast<double>(id)}) || !out) return failed(out);
    *out = offered(id) ? offer(id) : nullptr;
    return *out ? 0 : 1;
}

uint32_t Object::add(size_t face) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    // A dead object stays dead: the release that pairs with this reference
    // is then counted as one too many.
    if (count_.load() == 0) return 0;
    if (epoch_ == s.epoch) ++s.audit.references;
    ++faces_[face];
    return ++count_;
}

uint32_t Object::drop(size_t face) {
    uint32_t left;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        // The storage of a dead object is kept until reset, so that a release
        // too many is counted instead of touching freed memory. One through
        // an interface that holds no reference is one too many as well,
        // whatever the others hold.
        if (faces_[face] == 0) {
            ++s.audit.overReleases;
            return count_.load();
        }
        --faces_[face];
        left = --count_;
        if (epoch_ == s.epoch) {
            --s.audit.references;
            if (left == 0) --s.audit.live;
        }
    }
    if (left == 0) ended();
    return left;
}

namespace {

template <class F>
auto locked(F&& f) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return f(s);
}

void waitEdges() {
    std::vector<std::thread> threads;
    locked([&](State& s) { threads.swap(s.edgeThreads); });
    for (std::thread& t : threads) t.join();
}

void reset() {
    waitEdges();
    locked([](State& s) {
        applyDefaults(s);
        s.audit = ccSimAudit{};
        ++s.epoch;
        auto dead = std::stable_partition(s.objects.begin(), s.objects.end(),
                                          [](const Object* o) { return o->count() != 0; });
        for (auto it = dead; it != s.objects.end(); ++it) delete *it;
        s.objects.erase(dead, s.objects.end());
    });
    state().fifoEvent.notify_all();
}

void setBoards(const char16_t* const* names, uint32_t count) {
    std::vector<std::u16string> boards;
    for (uint32_t i = 0; names && i < count; ++i) boards.push_back(copyText(names[i], SIZE_MAX));
    locked([&](State& s) { s.boards = std::move(boards); });
}

void setFormats(const ccSimFormat* formats, uint32_t count, int32_t listId) {
    std::vector<Format> list;
    for (uint32_t i = 0; formats && i < count; ++i) {
        const ccSimFormat& f = formats[i];
        list.push_back({copyText(f.name, 255), f.width, f.height, f.depth, f.hasValue != 0, f.defaultCode});
    }
    locked([&](State& s) {
        s.formats = std::move(list);
        s.listId = listId == ccIidFormatList || listId == ccIidFormatListOld ? listId : 0;
    });
}

void setRootOffers(int32_t errorSource, int32_t boardList) {
    locked([&](State& s) { std::tie(s.offerErrorSource, s.offerBoardList) = std::make_pair(errorSource, boardList); });
}

void setDiscovery(int32_t offered) { locked([&](State& s) { s.discovery = offered == 2 ? 2 : offered != 0; }); }

void finishDiscovery() {
    locked([](State& s) { s.discoveryFinished = true; });
    state().discoveryDone.notify_all();
}

void failNext(int32_t iid, int32_t slot, const uint8_t* bytes, uint32_t count, int32_t mode) {
    Failure f{iid, slot, makeError(bytes, count, mode)};
    locked([&](State& s) { s.failures.push_back(std::move(f)); });
}

void failCall(uint32_t n, const uint8_t* bytes, uint32_t count, int32_t mode) {
    StoredError e = makeError(bytes, count, mode);
    locked([&](State& s) {
        s.failAt = n == 0 ? 0 : s.calls + n;
        s.failAtError = std::move(e);
    });
}

uint32_t calls() { return locked([](State& s) { return s.calls; }); }

void setLastError(const uint8_t* bytes, uint32_t count, int32_t mode) {
    StoredError e = makeError(bytes, count, mode == ccSimErrorKept ? ccSimErrorBytes : mode);
    locked([&](State& s) { lastError(s) = std::move(e); });
}

void audit(ccSimAudit* out) {
    if (out) *out = locked([](State& s) { return s.audit; });
}

uint32_t callCount(int32_t iid, int32_t slot) {
    return locked([&](State& s) { return inTable(iid, slot) ? s.slots[iid][slot].calls : 0u; });
}

void setOffered(int32_t iid, int32_t on) {
    locked([&](State& s) {
        if (iid >= 0 && iid < kIids) s.offered[iid] = on != 0;
    });
}

void setAnswer(int32_t iid, int32_t slot, uint32_t index, double value) {
    locked([&](State& s) {
        if (!inTable(iid, slot) || index >= kOuts) return;
        s.slots[iid][slot].answer[index] = value;
        s.slots[iid][slot].answered |= 1u << index;
    });
}

void setText(int32_t iid, int32_t slot, const char16_t* text) {
    std::u16string copy = copyText(text, SIZE_MAX);
    locked([&](State& s) {
        if (inTable(iid, slot)) s.slots[iid][slot].text = std::move(copy);
    });
}

// Copies at most capacity items; returns how many there are.
template <class T>
uint32_t copyOut(const T* items, size_t count, T* out, uint32_t capacity) {
    if (out) std::copy(items, items + std::min<size_t>(count, capacity), out);
    return static_cast<uint32_t>(count);
}

uint32_t lastArgs(int32_t iid, int32_t slot, double* out, uint32_t capacity) {
    return locked([&](State& s) {
        if (!inTable(iid, slot)) return 0u;
        const std::vector<double>& args = s.slots[iid][slot].args;
        return copyOut(args.data(), args.size(), out, capacity);
    });
}

uint32_t lastText(int32_t iid, int32_t slot, char16_t* out, uint32_t capacity) {
    return locked([&](State& s) {
        if (!inTable(iid, slot)) return 0u;
        const std::u16string& text = s.slots[iid][slot].argText;
        if (out && text.size() < capacity) out[text.size()] = 0;
        return copyOut(text.data(), text.size(), out, capacity);
    });
}

void setFrameSize(uint32_t width, uint32_t height) {
    locked([&](State& s) { std::tie(s.frameWidth, s.frameHeight) = std::make_pair(width, height); });
}

// Both may let a worker deliver.
void setTriggered(int32_t on) {
    locked([&](State& s) { s.triggered = on != 0; });
    state().fifoEvent.notify_all();
}

void softwareTrigger() {
    locked([](State& s) {
        if (!s.untriggered.empty()) s.untriggered.erase(s.untriggered.begin());
    });
    state().fifoEvent.notify_all();
}

void injectOverruns(uint32_t n) { locked([&](State& s) { s.overruns = n; }); }

void setTimeoutError(const uint8_t* bytes, uint32_t count) {
    StoredError e = makeError(bytes, count, ccSimErrorBytes);
    locked([&](State& s) { s.timeoutError = std::move(e); });
}

uint32_t liveFrames() { return locked([](State& s) { return s.liveFrames; }); }
uint32_t liveFifos() { return locked([](State& s) { return s.liveFifos; }); }

uint32_t requests(ccSimRequest* out, uint32_t capacity) {
    return locked([&](State& s) { return copyOut(s.requests.data(), s.requests.size(), out, capacity); });
}

void clearRequests() { locked([](State& s) { s.requests.clear(); }); }

void setPropertyValue(int32_t id, double value, int32_t valid) {
    locked([&](State& s) { s.propertyValues[id] = {value, valid != 0}; });
}

void setSupported(const int32_t* numbers, int32_t count) {
    locked([&](State& s) {
        s.allSupported = count < 0;
        s.supported.clear();
        for (int32_t i = 0; numbers && i < count; ++i) s.supported.insert(numbers[i]);
    });
}

void setSampleValues(const int32_t* values, uint32_t count) {
    locked([&](State& s) { s.sampleValues.assign(values, values ? values + count : values); });
}

void setPropertyInfos(const ccSimPropertyInfo* records, uint32_t count) {
    locked([&](State& s) { s.propertyInfos.assign(records, records ? records + count : records); });
}

void setLineCounts(uint32_t inputs, uint32_t outputs) {
    locked([&](State& s) { std::tie(s.inputs, s.outputs) = std::make_pair(inputs, outputs); });
}

int32_t ioCode() { return locked([](State& s) { return s.ioCode; }); }

// Null bytes: count bytes of 0.
void setEERAM(const uint8_t* bytes, uint32_t count) {
    std::vector<uint8_t> copy(count);
    if (bytes) copy.assign(bytes, bytes + count);
    locked([&](State& s) { s.eeram = std::move(copy); });
}

void setFrameRate(double perSecond) {
    locked([&](State& s) { s.frameRate = perSecond > 0 && perSecond < 1e9 ? perSecond : 0; });
    state().fifoEvent.notify_all();
}

void setBufferCount(uint32_t count) { locked([&](State& s) { s.bufferCount = count; }); }

void setTriggerControl(int32_t on) {
    locked([&](State& s) { s.triggerControl = on != 0; });
    state().fifoEvent.notify_all();
}

void setDeviceLost(int32_t lost, const uint8_t* bytes, uint32_t count) {
    StoredError e = makeError(bytes, count, ccSimErrorBytes);
    locked([&](State& s) {
        s.lost = lost != 0;
        s.lostError = s.lost ? std::move(e) : StoredError{};
    });
    state().fifoEvent.notify_all();
}

void setCallbackThreads(uint32_t count) { locked([&](State& s) { s.callbackThreads = count >= 2 ? 2 : 1; }); }

void setRoiModes(const int32_t* modes, uint32_t count) {
    locked([&](State& s) { s.roiModes = std::set<int32_t>(modes, modes ? modes + count : modes); });
}

void failProperty(int32_t id, const uint8_t* bytes, uint32_t count, int32_t mode) {
    PropertyFailure f{id, makeError(bytes, count, mode)};
    locked([&](State& s) { s.propertyFailures.push_back(std::move(f)); });
}

void setBoardModel(uint32_t index, const ccSimBoardModel* model) {
    locked([&](State& s) {
        if (!model) {
            s.models.erase(index);
            return;
        }
        BoardModel m;
        m.ids.clear();
        for (int32_t id : model->ids)
            if (id > 0 && id < kIids) m.ids.push_back(id);
            else break;
        m.variant = model->variant;
        m.cameras = model->cameras;
        if (model->serial) {
            m.ownEERAM = true;
            m.eeram = s.eeram;
            for (uint32_t i = 0; model->serial[i] && i < ccEERAMSerialLength; ++i)
                if (ccEERAMSerialOffset + i < m.eeram.size())
                    m.eeram[ccEERAMSerialOffset + i] = static_cast<uint8_t>(model->serial[i]);
        }
        s.models[index] = std::move(m);
    });
}

std::vector<std::u16string> copyList(const char16_t* const* texts, uint32_t count) {
    std::vector<std::u16string> list;
    for (uint32_t i = 0; texts && i < count; ++i) list.push_back(copyText(texts[i], SIZE_MAX));
    return list;
}

void setDevices(const ccSimDevice* devices, uint32_t count) {
    std::vector<Device> list;
    for (uint32_t i = 0; devices && i < count; ++i) {
        const ccSimDevice& d = devices[i];
        list.push_back({d.board, d.kind, copyText(d.serial, SIZE_MAX), copyText(d.identity, SIZE_MAX), d.sortValue});
    }
    locked([&](State& s) { s.devices = std::move(list); });
}

void setFeatures(const ccSimFeature* features, uint32_t count) {
    std::vector<Feature> list;
    for (uint32_t i = 0; features && i < count; ++i) {
        const ccSimFeature& f = features[i];
        list.push_back({copyText(f.name, SIZE_MAX), copyText(f.parent, SIZE_MAX), f.kind, copyText(f.value, SIZE_MAX),
                        copyList(f.choices, f.choiceCount), copyList(f.entries, f.entryCount)});
    }
    locked([&](State& s) { s.features = std::move(list); });
}

// As a driver: on a thread of its own, each transition sets the input's
// level and releases the wake objects added for its edge code.
void raiseEdges(uint32_t line, uint32_t code, uint32_t count) {
    std::thread raising([line, code, count] {
        for (uint32_t i = 0; i < count; ++i) {
            std::vector<ccIWakeObject*> woken;
            locked([&](State& s) {
                LineState& l = s.lines[{1, line}];
                l.value = code == 1 ? 0 : code == 2 ? 1 : l.value;
                ++l.edges;
                // The reference keeps each alive past the lock: its removal may come meanwhile.
                for (const LineState::Wake& w : l.wakes)
                    if (w.code == code) woken.push_back((w.wake->addRef(), w.wake));
            });
            for (ccIWakeObject* w : woken) {
                (void)w->signal(1);
                w->release();
            }
        }
    });
    locked([&](State& s) { s.edgeThreads.push_back(std::move(raising)); });
}

uint32_t edges(uint32_t line) {
    return locked([&](State& s) {
        const auto it = s.lines.find({1, line});
        return it == s.lines.end() ? 0u : it->second.edges;
    });
}

uint32_t wakeObjects(uint32_t line) {
    return locked([&](State& s) {
        const auto it = s.lines.find({1, line});
        return it == s.lines.end() ? 0u : static_cast<uint32_t>(it->second.wakes.size());
    });
}

constexpr ccSimControl kControl = {
    7,           reset,          setBoards,       setFormats,    setRootOffers,    setDiscovery,  finishDiscovery,
    failNext,    setLastError,   audit,           callCount,     setOffered,       setAnswer,     setText,
    lastArgs,    lastText,       setFrameSize,    setTriggered,  softwareTrigger,  injectOverruns, setTimeoutError,
    liveFrames,  liveFifos,      requests,        clearRequests, setPropertyValue, setSupported,  setSampleValues,
    setPropertyInfos, setLineCounts, ioCode,      setEERAM,        setFrameRate,  setBufferCount, setTriggerControl,
    setDeviceLost, setCallbackThreads, setRoiModes, failProperty,
    setBoardModel, setDevices, setFeatures,
    raiseEdges,  waitEdges,      edges,           wakeObjects,
    failCall,    calls};

} // namespace
} // namespace sim

extern "C" __attribute__((visibility("default"))) const ccSimControl* SimControl() { return &sim::kControl; }
