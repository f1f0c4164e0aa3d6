// Virtual base of every archivable class.
//
// Each class names itself by the type name it is stored under (the reading
// form, such as "class ccArchive::Eof"); that name, never the C++ run-time
// name, is what archives and messages use.
//
// A class level archives itself in one routine for both directions:
//
//     void ccThing::archive(ccArchive& ar)
//     {
//         if (ccArchiveVisit::begin(this, typeid(ccThing)))
//             return;
//         ccArchiveVersion(ar, 0, "ccThing", 0);
//         ccBase::archive(ar);            // each direct base
//         ar.archive(field1_).archive(field2_);
//         ccArchiveVisit::end(this, typeid(ccThing));
//     }
//
// and is archived as a whole through ccArchiveObject (std/except/persist.h).
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <typeinfo>

class ccArchive;
class ccPersistent;

namespace cc_detail {
class ccObjectTable;
}

// The visited set of the current whole-object operation, keyed by the object
// and its class level. Raises ccInvariantFailure when the calling thread is
// not inside ccArchiveObject.
class ccArchiveVisit {
public:
    // True when this level of the object is already archived: return at once.
    static bool begin(const ccPersistent* object, const std::type_info& level);
    // The level is archived.
    static void end(const ccPersistent* object, const std::type_info& level);
};

// A class level's version byte: stores current; on load returns the stored
// version, raising ccArchive::UnknownVersion (name, line) for one newer than
// current.
uint8_t ccArchiveVersion(ccArchive& ar, uint8_t current, const char* name, uint32_t line);

class ccPersistent {
public:
    ccPersistent() = default;
    // A copy has never been entered in an archive's object table.
    ccPersistent(const ccPersistent&) {}
    // An assigned object has new contents: a later store must write it again.
    ccPersistent& operator=(const ccPersistent& other)
    {
        if (this != &other && isArchived())
            forgetArchived();
        return *this;
    }
    // An object still listed in an archive's object table leaves it, so that
    // the table never hands out a dead object and a new object at the same
    // address is stored as a new one.
    virtual ~ccPersistent()
    {
        if (archivedFlag_.load(std::memory_order_acquire))
            forgetArchived();
    }

    // The class level's archive routine. This level archives its version
    // byte only, once per whole-object operation however many paths of a
    // class graph reach it.
    virtual void archive(ccArchive& ar);
    // Called before an existing object is loaded in place, when asked.
    virtual void beforeLoad() {}
    // True skips the record of an embedded object while loading.
    virtual bool skipsEmbeddedRecord() const { return false; }

    virtual const char* storedTypeName() const { return "class ccPersistent"; }

    // Removes the object from every live archive object table (std/except/archutil.h)
    // and clears its flag. Called by anything that changes an object after it
    // was archived, so that a later store writes it again.
    void forgetArchived() noexcept;
    // Whether the object is listed in a live archive object table.
    bool isArchived() const { return archivedFlag_.load(std::memory_order_acquire); }

protected:
    // Set while the object is listed in an archive's object table; changed
    // only under the archive-table lock, read without it by the destructor.
    // Mutable: storing a const object lists it without changing it.
    mutable std::atomic<bool> archivedFlag_{false};

private:
    friend class cc_detail::ccObjectTable;
};

// Reading form ("class ccPelRoot<wchar_t>") to writing form ("ccPelRoot<unsigned short>").
std::string ccCanonicalTypeName(const std::string& compilerName);
// Writing form back to reading form.
std::string ccCompilerTypeName(const std::string& canonicalName);
