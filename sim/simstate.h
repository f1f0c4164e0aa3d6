// The simulator's shared state and the base of every object it hands out.
// Everything here is the simulator's own: no library header but the contract.
#pragma once
#include "modules/ccicomponent.h"
#include "sim/simcontrol.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
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

struct Format {
    std::u16string name;
    uint32_t width, height, depth;
    bool hasValue;
    int32_t code;
};

constexpr int32_t kIids = 128;
constexpr int32_t kSlots = 32;

// One per process, never destroyed (the library may release objects from its
// own exit handlers); every field is guarded by mutex.
struct State {
    std::mutex mutex;
    std::condition_variable discoveryDone;

    std::vector<std::u16string> boards;
    std::vector<Format> formats;
    int32_t listId = 0;
    bool offerErrorSource = true;
    bool offerBoardList = true;
    bool offerDiscovery = false;
    bool discoveryFinished = false;
    std::vector<Failure> failures;
    StoredError lastError;

    ccSimAudit audit{};
    uint32_t calls[kIids][kSlots]{};
    uint32_t epoch = 0;              // objects of an earlier epoch stay out of the audit
    std::vector<Object*> objects;    // every object made, freed by reset once dead
};

State& state();

// Counts a call of (iid, slot); when a failure was injected for it, stores
// its error and returns true.
bool enter(int32_t iid, int32_t slot);

// The status of a refused call that has no error of its own to store: the
// last error is cleared, so that no older one is raised in its place.
int32_t refuse();

// The status of an injected failure, with the given out values zeroed.
template <class... P>
int32_t failed(P*... outs) {
    ((outs ? void(*outs = P{}) : void()), ...);
    return 1;
}

class Object {
public:
    explicit Object(int32_t home) : home_(home) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    uint32_t count() const { return count_.load(); }

protected:
    int32_t queryAs(ccIUnknown** out, int32_t id);
    uint32_t add();
    uint32_t drop();
    // The interface asked for with a reference taken, or null.
    virtual ccIUnknown* offer(int32_t id) = 0;

private:
    template <class T, class... A>
    friend T* make(A&&... args);
    void enrol();

    const int32_t home_; // the id that counts this object's queries
    std::atomic<uint32_t> count_{1};
    uint32_t epoch_ = 0;
};

// An object answering the interfaces I...; they share its one count.
template <class... I>
class Impl : public Object, public I... {
public:
    explicit Impl(int32_t home) : Object(home) {}
    int32_t query(ccIUnknown** out, int32_t id) override { return queryAs(out, id); }
    uint32_t addRef() override { return add(); }
    uint32_t release() override { return drop(); }

protected:
    // This object as its interface J, with a reference taken.
    template <class J>
    ccIUnknown* self() {
        add();
        return static_cast<J*>(this);
    }
};

// A new object with one reference, entered in the audit.
template <class T, class... A>
T* make(A&&... args) {
    T* object = new T(std::forward<A>(args)...);
    object->enrol();
    return object;
}

// The interface I of a new object, as handed out through an out pointer.
template <class I, class T, class... A>
ccIUnknown* hand(A&&... args) {
    return static_cast<I*>(make<T>(std::forward<A>(args)...));
}

} // namespace sim
