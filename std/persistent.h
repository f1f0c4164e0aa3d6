// Virtual base of every archivable class.
//
// Each class names itself by the type name it is stored under (the reading
// form, such as "class ccArchive::Eof"); that name, never the C++ run-time
// name, is what archives and messages use.
#pragma once

class ccArchive;

class ccPersistent {
public:
    ccPersistent() = default;
    // A copy has never been entered in an archive's object table.
    ccPersistent(const ccPersistent&) {}
    ccPersistent& operator=(const ccPersistent&) { return *this; }
    virtual ~ccPersistent() = default;

    // One routine archives the class level in both directions.
    virtual void archive(ccArchive&) {}
    // Called before an existing object is loaded in place, when asked.
    virtual void beforeLoad() {}
    // True skips the record of an embedded object while loading.
    virtual bool skipsEmbeddedRecord() const { return false; }

    virtual const char* storedTypeName() const { return "class ccPersistent"; }

protected:
    // Set while the object is listed in an archive's object table.
    bool archivedFlag_ = false;
};
