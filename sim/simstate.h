// The simulator's shared state and the base of every object it hands out.
// Everything here is the simulator's own: no library header but the contract.
#pragma once
#include "modules/ccicomponent.h"
#include "sim/simcontrol.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace sim {

class Object;

struct StoredError {
    bool set = false;
    std::vector<uint8_t> bytes;
    int32_t mode = ccSimErrorBytes;
};

struct Failure {
    int32_t iid;
    int32_t slot;
    StoredError error;
};

// A failure injected for the next set of one property.
struct PropertyFailure {
    int32_t id;
    StoredError error;
};

struct Format {
    std::u16string name;
    uint32_t width, height, depth;
    bool hasValue;
    int32_t code;
};

// What one board of the list is (version 5).
struct BoardModel {
    std::vector<int32_t> ids{ccIid7320};
    uint32_t variant = 0;
    uint32_t cameras = 0;
    bool ownEERAM = false;
    std::vector<uint8_t> eeram;
};

struct Device {
    uint32_t board;
    int32_t kind;
    std::u16string serial, identity;
    uint32_t sortValue;
};

struct Feature {
    std::u16string name, parent;
    int32_t kind;
    std::u16string value;
    std::vector<std::u16string> choices, entries;
};

// One line of the board, whatever line object reaches it.
struct LineState {
    uint32_t enabled = 0, value = 0;
    uint32_t edges = 0; // transitions raised on an input
    struct Wake {
        ccIWakeObject* wake; // with a reference
        uint32_t code;
        const void* owner;   // the line object that added it
    };
    std::vector<Wake> wakes;
};

constexpr int32_t kIids = 128;
constexpr int32_t kSlots = 32;
constexpr uint32_t kOuts = 4;

using Values = std::array<double, kOuts>;

// What is known of one (interface id, slot).
struct Slot {
    uint32_t calls = 0;
    Values answer{};
    uint32_t answered = 0; // bit i: out value i was set
    std::vector<double> args;
    std::u16string argText;
    std::u16string text; // what a text answer gives
};

// One per process, never destroyed (the library may release objects from its
// own exit handlers); every field is guarded by mutex.
struct State {
    std::mutex mutex;
    std::condition_variable discoveryDone;
    // Any change a FIFO's worker or a waiting completion may be waiting for.
    std::condition_variable fifoEvent;

    std::vector<std::u16string> boards;
    std::vector<Format> formats;
    int32_t listId = 0;
    bool offerErrorSource = true;
    bool offerBoardList = true;
    int32_t discovery = 0; // 0 not offered, 1 finished by the test, 2 by the module itself
    bool discoveryFinished = false;
    std::vector<Failure> failures;
    uint32_t calls = 0;     // module calls since reset
    uint32_t failAt = 0;    // the call that fails by position (0: none)
    StoredError failAtError;
    uint32_t errorEpoch = 0; // every thread's last error older than this is gone
    bool lost = false;
    StoredError lostError;

    bool offered[kIids]{};
    Slot slots[kIids][kSlots];

    uint32_t inputs = 16, outputs = 20;
    int32_t ioCode = 0;
    std::map<std::pair<uint32_t, uint32_t>, LineState> lines; // by direction and number
    std::vector<std::thread> edgeThreads;                    // raising transitions
    std::vector<uint8_t> eeram;
    std::map<uint32_t, BoardModel> models; // boards not listed are 7320s

    uint32_t frameWidth = 640, frameHeight = 480;
    bool triggered = false;
    std::set<uint64_t> untriggered; // started acquisitions no trigger has released yet
    uint64_t nextAcquisition = 0;
    uint32_t overruns = 0;
    StoredError timeoutError;
    double frameRate = 0;
    uint32_t bufferCount = 0;
    bool triggerControl = false;
    uint32_t callbackThreads = 1;
    // Not reset: they count what still exists.
    uint32_t liveFrames = 0, liveFifos = 0;

    std::vector<ccSimRequest> requests;
    std::map<int32_t, std::pair<double, bool>> propertyValues;
    bool allSupported = true;
    std::set<int32_t> supported;
    std::vector<int32_t> sampleValues;
    std::vector<ccSimPropertyInfo> propertyInfos;
    std::set<int32_t> roiModes;
    std::vector<PropertyFailure> propertyFailures;

    std::vector<Device> devices;
    std::vector<Feature> features;

    ccSimAudit audit{};
    uint32_t epoch = 0;           // objects of an earlier epoch stay out of the audit
    std::vector<Object*> objects; // every object made, freed by reset once dead
};

State& state();

// The calling thread's last error; the state's lock must be held.
StoredError& lastError(State& s);

// Counts a call of (iid, slot) and records its in-arguments; when a failure
// was injected for it, stores its error and returns true.
bool enter(int32_t iid, int32_t slot, std::initializer_list<double> args = {});
// The same for a call with a text argument.
bool enterText(int32_t iid, int32_t slot, const char16_t* text, std::initializer_list<double> args = {});
// Replaces the recorded in-arguments of the last call of (iid, slot).
void record(int32_t iid, int32_t slot, std::vector<double> args);

// True when a failure was injected for the next set of property id; its
// error is then stored. The state's lock must be held.
bool propertyFails(State& s, int32_t id);

// The status of a refused call that has no error of its own to store: the
// last error is cleared, so that no older one is raised in its place.
int32_t refuse();

// The status of an injected failure, with the given out values zeroed.
template <class... P>
int32_t failed(P*... outs) {
    ((outs ? void(*outs = P{}) : void()), ...);
    return 1;
}

bool offered(int32_t iid);
// Out value number index of (iid, slot): the answer set for it, else computed.
double answerOf(int32_t iid, int32_t slot, uint32_t index, double computed = 0);
std::u16string textOf(int32_t iid, int32_t slot);

// A double as an out value of type T; out of range gives the wrapped or
// clamped value, never undefined behaviour.
template <class T>
T convert(double v) {
    if constexpr (std::is_floating_point_v<T>) {
        return static_cast<T>(v);
    } else {
        if (!(v == v)) return 0;
        if (v >= 18446744073709549568.0) return static_cast<T>(~uint64_t{0});
        if (v >= 9223372036854775807.0) return static_cast<T>(static_cast<uint64_t>(v));
        if (v <= -9223372036854775807.0) return static_cast<T>(INT64_MIN);
        return static_cast<T>(static_cast<int64_t>(v));
    }
}

// Out values of (iid, slot) from its answers, else from computed; a null
// out pointer refuses the call.
template <class... P>
int32_t give([[maybe_unused]] int32_t iid, [[maybe_unused]] int32_t slot, const Values& computed, P*... outs) {
    if (!((outs != nullptr) && ...)) return refuse();
    [[maybe_unused]] uint32_t i = 0;
    ((*outs = convert<P>(answerOf(iid, slot, i, computed[i])), ++i), ...);
    return 0;
}

// A call whose out values are all answers.
template <class... P>
int32_t answers(int32_t iid, int32_t slot, std::initializer_list<double> args, P*... outs) {
    if (enter(iid, slot, args)) return failed(outs...);
    return give(iid, slot, Values{}, outs...);
}

// A call whose out values are computed, unless answers were set for them.
template <class... P>
int32_t reports(int32_t iid, int32_t slot, std::initializer_list<double> args, const Values& computed,
                P*... outs) {
    if (enter(iid, slot, args)) return failed(outs...);
    return give(iid, slot, computed, outs...);
}

// Text into a caller's buffer of *length units: a null buffer learns the
// length; the 0 is written only when there is room for it.
int32_t writeText(const std::u16string& text, uint32_t* length, char16_t* buffer);

// What every object shares: its references, counted for each interface
// apart (a release through one interface pairs with a reference taken
// through it), and its place in the audit.
class Object {
public:
    Object(int32_t home, size_t faces) : home_(home), faces_(faces) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // References held through all its interfaces.
    uint32_t count() const { return count_.load(); }

protected:
    int32_t queryAs(ccIUnknown** out, int32_t id);
    // A reference taken or given back through interface number face.
    uint32_t add(size_t face);
    uint32_t drop(size_t face);
    // The interface asked for with a reference taken, or null.
    virtual ccIUnknown* offer(int32_t id) = 0;
    // After the last release, outside the state's lock: what the object holds
    // goes back now, although its storage stays until reset.
    virtual void ended() {}

private:
    template <class I, class T, class... A>
    friend T* make(A&&... args);
    // Made with one reference, through interface number face.
    void enrol(size_t face);

    const int32_t home_; // the id that counts this object's queries
    std::atomic<uint32_t> count_{1};
    std::vector<uint32_t> faces_; // guarded by the state's lock
    uint32_t epoch_ = 0;
};

// Interface I of the object Owner as its interface number K: its add-ref and
// release count under K.
template <class Owner, class I, size_t K>
class Face : public I {
public:
    uint32_t addRef() override { return static_cast<Owner&>(*this).add(K); }
    uint32_t release() override { return static_cast<Owner&>(*this).drop(K); }

protected:
    ~Face() = default;
};

template <class Owner, class Numbers, class... I>
class Faces;
template <class Owner, size_t... K, class... I>
class Faces<Owner, std::index_sequence<K...>, I...> : public Face<Owner, I, K>... {
protected:
    ~Faces() = default;
};

// An object answering the interfaces I..., each with a count of its own.
template <class... I>
class Impl : public Object, public Faces<Impl<I...>, std::index_sequence_for<I...>, I...> {
public:
    static constexpr size_t kFaces = sizeof...(I);

    explicit Impl(int32_t home) : Object(home, kFaces) {}
    int32_t query(ccIUnknown** out, int32_t id) override { return queryAs(out, id); }

    // The number of interface J among I...
    template <class J>
    static constexpr size_t faceOf() {
        constexpr bool same[] = {std::is_same_v<J, I>...};
        size_t k = 0;
        while (k < sizeof...(I) && !same[k]) ++k;
        return k;
    }

protected:
    // This object as its interface J, with a reference taken.
    template <class J>
    ccIUnknown* self() {
        static_assert(faceOf<J>() < kFaces, "not an interface of the object");
        add(faceOf<J>());
        return static_cast<J*>(this);
    }
    // This object as its interface of id, with ids naming I... in order.
    ccIUnknown* selfAs(int32_t id, std::initializer_list<int32_t> ids) {
        ccIUnknown* const faces[] = {static_cast<I*>(this)...};
        size_t k = 0;
        for (auto it = ids.begin(); it != ids.end() && k < sizeof...(I); ++it, ++k)
            if (*it == id) {
                add(k);
                return faces[k];
            }
        return nullptr;
    }

private:
    template <class, class, size_t>
    friend class Face;
};

// A new object with one reference, taken through its interface I, entered
// in the audit.
template <class I, class T, class... A>
T* make(A&&... args) {
    static_assert(T::template faceOf<I>() < T::kFaces, "not an interface of the object");
    T* object = new T(std::forward<A>(args)...);
    object->enrol(T::template faceOf<I>());
    return object;
}

// The interface I of a new object, as handed out through an out pointer.
template <class I, class T, class... A>
ccIUnknown* hand(A&&... args) {
    return static_cast<I*>(make<I, T>(std::forward<A>(args)...));
}

// Objects made in one file and handed out by another.
ccIUnknown* newBoard(uint32_t index);
ccIUnknown* newCore(std::u16string serial);
ccIUnknown* newGrabberFeatures();
ccIUnknown* newDevice(uint32_t board); // null for a board that is no device
ccIUnknown* newFifo(int32_t code); // null for a code without frames

} // namespace sim
