// The folder's own: a single-threaded apartment as the marshalling code sees
// it, calls carried to its thread and the references it keeps for callers on
// other threads.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/com/base.h"
#include "platform/com/message.h"

namespace plat::com::detail {

class Apartment {
public:
    explicit Apartment(uint32_t owner, HWND target) : owner_(owner), target_(target) {}
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;

    uint32_t owner() const { return owner_; }

    // Runs work on the owner thread and returns its result, waiting (and
    // dispatching, when the caller is itself an STA) meanwhile; on the owner
    // thread it runs at once. RPC_E_DISCONNECTED once the apartment has ended.
    HRESULT call(const std::function<HRESULT()>& work);
    // The same without waiting; false (and nothing queued) once the
    // apartment has ended. Work still queued when it ends runs then, on the
    // owner thread.
    bool post(std::function<HRESULT()> work);

    // On the owner thread: keeps one reference for callers elsewhere. 0 when
    // the apartment has ended.
    uint64_t addStub(IUnknown* object);
    IUnknown* stub(uint64_t id); // owner thread; null when gone
    // From any thread; the reference is released on the owner thread.
    void releaseStub(uint64_t id);

    // On the owner thread, once: fails the waiting calls, runs the posted
    // work, releases the stubs, destroys the target.
    void end();

    // The target's procedure: runs the call whose number message 0x400 carries.
    static LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    struct Call;
    void run(uint64_t id);

    const uint32_t owner_;
    const HWND target_;
    std::mutex lock_;
    bool ended_ = false;
    uint64_t nextId_ = 1;
    std::map<uint64_t, std::shared_ptr<Call>> pending_;
    std::map<uint64_t, IUnknown*> stubs_;
};

// The calling thread's STA; null in the multithreaded apartment (joined or not).
std::shared_ptr<Apartment> currentSta();

} // namespace plat::com::detail
