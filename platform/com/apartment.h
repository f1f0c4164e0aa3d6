// Apartments: a thread joins the multithreaded apartment or makes its own
// single-threaded one (STA) with CoInitializeEx, as often as it likes in the
// same mode, and leaves with as many CoUninitialize calls. A thread that has
// not joined counts as in the multithreaded apartment. An STA's objects are
// called only on its thread, through its queue (see README.md); it ends at
// its last CoUninitialize or when its thread ends.
#pragma once
#include <memory>

#include "platform/com/base.h"
#include "platform/sync.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// S_OK for the thread's first call, S_FALSE for a later one in the same
// mode, RPC_E_CHANGED_MODE (and nothing counted) for the other mode.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);
// One call less; the last one leaves the apartment. Extra calls do nothing.
void CoUninitialize();

// Flags of CoWaitForMultipleHandles: wait for every handle, not for one.
constexpr DWORD COWAIT_WAITALL = 0x1;

// Waits for one of the handles: S_OK with its index (WAIT_ABANDONED_0 plus
// the index for an abandoned mutex), RPC_S_CALLPENDING when the time-out
// passes, E_INVALIDARG for no handles, a null handle or index. With
// COWAIT_WAITALL it waits until all are signalled and takes them together
// (S_OK with index 0; the same handle twice is E_INVALIDARG). In an STA the
// thread's messages are dispatched meanwhile; the time-out counts from the
// call, whatever was dispatched.
HRESULT CoWaitForMultipleHandles(DWORD flags, DWORD milliseconds, ULONG count, const plat::Handle* handles,
                                 DWORD* index);

namespace plat::com {

namespace detail {
class Apartment;
}

// The single-threaded apartment a reference was taken in, so that whoever
// lets the reference go later, on whatever thread, lets it go there: an
// apartment-bound object is counted only on its own thread.
class ApartmentHome {
public:
    ApartmentHome() = default; // none: the multithreaded apartment

    // The calling thread's STA; none in the multithreaded apartment.
    static ApartmentHome current();
    bool empty() const { return !apartment_; }
    bool operator==(const ApartmentHome& other) const { return apartment_ == other.apartment_; }

    // Releases object on the home thread: at once when called there, else
    // queued for it, to run when it dispatches its messages or when its
    // apartment ends, whichever comes first. Without a home, or once the
    // apartment has ended, on the calling thread.
    void release(IUnknown* object) const;

private:
    std::shared_ptr<detail::Apartment> apartment_;
};

} // namespace plat::com
