// Interface pointers and VARIANT values kept by one thread and used on any
// other. A free-threaded interface (the suite's own objects, .NET objects,
// objects that aggregate the free-threaded marshaler) is held as it is; any
// other goes into the Global Interface Table, and each thread that uses it
// gets its own pointer from there once and keeps it until the thread ends.
// A pointer bound to a single-threaded apartment is released on that
// apartment's thread, whichever thread lets the holder go.
//
// Any number of threads may read a holder at once (get, copyTo); whoever
// owns it keeps assignments and clearing apart from those reads.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/com/apartment.h"
#include "platform/com/safearray.h"
#include "platform/com/variant.h"

namespace cc_agile {
struct ThreadMark; // one per thread that got a pointer
}

// Answered by the suite's own free-threaded objects.
extern const IID IID_IQorAgileMarker;
// Answered by every object of the .NET runtime.
extern const IID IID_DotNetObject;

class ccAgileInterfacePtr {
public:
    static constexpr DWORD kDirect = 0xFFFFFFFF; // the cookie of a directly held interface

    ccAgileInterfacePtr() = default;
    explicit ccAgileInterfacePtr(IUnknown* p);
    ~ccAgileInterfacePtr();
    ccAgileInterfacePtr(const ccAgileInterfacePtr&) = delete;
    ccAgileInterfacePtr& operator=(const ccAgileInterfacePtr&) = delete;

    // Replaces what is held with p, registered as iid. A registration the
    // table refuses leaves p usable on the calling thread only.
    void assign(IUnknown* p, REFIID iid = IID_IUnknown);
    // iid for the calling thread, one reference added; null and S_OK for an
    // empty holder. E_POINTER for a null out.
    HRESULT getForCurrentThread(REFIID iid, void** out);
    // IUnknown for the calling thread.
    HRESULT get(IUnknown** out) { return getForCurrentThread(IID_IUnknown, reinterpret_cast<void**>(out)); }
    // Empties the holder.
    void release();

    bool empty() const { return !held_ && direct_ == nullptr; }
    DWORD cookie() const { return cookie_; }

private:
    struct Entry {
        std::shared_ptr<cc_agile::ThreadMark> thread; // the thread it was got for
        IID iid;
        IUnknown* pointer; // one reference
        plat::com::ApartmentHome home; // where that reference goes back
    };
    friend size_t ccAgileThreadEntries(ccAgileInterfacePtr& holder);

    static std::shared_ptr<cc_agile::ThreadMark> currentThread();
    static void releaseEntries(std::vector<Entry>& entries);

    DWORD cookie_ = 0;
    IUnknown* direct_ = nullptr; // when cookie_ is kDirect
    bool held_ = false; // through the table (or the storing thread alone)
    plat::com::ApartmentHome home_; // the storing thread's apartment
    std::mutex entriesLock_; // taken only to find, add or take out entries
    std::vector<Entry> entries_; // the storing thread's first
};

class ccAgileSafeArray;

// A VARIANT whose interfaces, and the interfaces inside its arrays of
// interfaces or VARIANTs, are held agile. It is not a VARIANT itself: values
// go in and out through assign and copyTo.
class ccAgileVariant {
public:
    ccAgileVariant() = default;
    // Throws std::bad_alloc, or std::invalid_argument for a value that
    // cannot be copied.
    explicit ccAgileVariant(const VARIANT& v);
    ~ccAgileVariant();
    ccAgileVariant(const ccAgileVariant&) = delete;
    ccAgileVariant& operator=(const ccAgileVariant&) = delete;
    ccAgileVariant& operator=(const VARIANT& v);

    // The same as the assignment, with the failure as a result (then
    // empty); only std::bad_alloc is thrown.
    [[nodiscard]] HRESULT assign(const VARIANT& v);
    void clear();
    VARTYPE vt() const { return vt_; }

    // A plain VARIANT for the calling thread in dst, whose old value is
    // cleared. Fails with the table's error when a held interface cannot be
    // had on this thread (dst is then empty); std::bad_alloc when an array
    // cannot be made.
    HRESULT copyTo(VARIANT* dst) const;
    // The same into an uninitialised dst.
    HRESULT copyToNew(VARIANT* dst) const;
    // The held interface as IUnknown; E_POINTER for a null out or a value
    // that is no interface.
    HRESULT getInterface(IUnknown** out) const;

private:
    VARTYPE vt_ = VT_EMPTY;
    VARIANT plain_ = {}; // any other type
    std::unique_ptr<ccAgileInterfacePtr> interface_; // VT_UNKNOWN, VT_DISPATCH; null for a null interface
    std::unique_ptr<ccAgileSafeArray> array_; // arrays of the three kinds above; null for a null array
};

// The deep copy of an array of interfaces or VARIANTs, its bounds in the
// order SafeArrayCreate takes them.
class ccAgileSafeArray {
public:
    // vt with VT_ARRAY; throws std::bad_alloc, std::invalid_argument for an
    // array that is not of vt.
    ccAgileSafeArray(VARTYPE vt, SAFEARRAY* source);
    ~ccAgileSafeArray();
    ccAgileSafeArray(const ccAgileSafeArray&) = delete;
    ccAgileSafeArray& operator=(const ccAgileSafeArray&) = delete;

    // A new array for the calling thread; std::bad_alloc when it cannot be made.
    HRESULT toSafeArray(SAFEARRAY** out) const;

private:
    VARTYPE vt_;
    uint16_t dims_ = 0;
    std::unique_ptr<SAFEARRAYBOUND[]> bounds_;
    uint32_t count_ = 0;
    std::unique_ptr<ccAgileInterfacePtr[]> interfaces_; // VT_DISPATCH, VT_UNKNOWN
    std::unique_ptr<ccAgileVariant[]> variants_; // VT_VARIANT
    SAFEARRAY* copy_ = nullptr; // any other element type
};
