// The library's exception hierarchy.
//
// Every error class is nested in the class or area that raises it, answers a
// code of the form 0x1000xxxx, prints its message to a wide stream and names
// itself by its stored type name. Error classes are declared with
// cmDeclareException (or cmExceptionBody inside a class written out), which
// supplies the code, the stored name, raise(), the factory that the
// persistent-type registry uses to re-create archived errors, and the
// class's archive level: each concrete class and each family root archives
// one version byte and then its parent's level.
#pragma once
#include <cstdint>
#include <new>
#include <ostream>
#include <string>
#include <typeinfo>

#include "std/except/persistent.h"

class ccException : public virtual ccPersistent {
public:
    ccException() = default;
    ccException(const ccException&) = default;
    ccException& operator=(const ccException&) = default;
    ~ccException() override = default;

    virtual uint32_t code() const = 0;

    // Throws a copy by value and deletes this object first: for errors that
    // exist only on the heap (re-created from an archive). Never call it on
    // an object that was not made with new.
    [[noreturn]] virtual void raise() = 0;

    virtual void printOn(std::wostream& os) const;

    // The message, optionally preceded by the class's canonical name and ": ".
    void message(std::wstring& out, bool withType) const;
    std::wstring message(bool withType = false) const;

    const char* storedTypeName() const override { return "class ccException"; }

    // Version byte, then the ccPersistent level.
    void archive(ccArchive& ar) override;
};

std::wostream& operator<<(std::wostream& os, const ccException& e);

class ccExceptionWithString : public ccException {
public:
    ccExceptionWithString() = default;
    explicit ccExceptionWithString(const std::wstring& message) : message_(message) {}
    explicit ccExceptionWithString(const wchar_t* message) : message_(message ? message : L"") {}
    ccExceptionWithString(const ccExceptionWithString&) = default;
    ccExceptionWithString& operator=(const ccExceptionWithString&) = default;

    void printOn(std::wostream& os) const override;
    const std::wstring& text() const { return message_; }
    const char* storedTypeName() const override { return "class ccExceptionWithString"; }

    // Version byte, the ccException level, then the message.
    void archive(ccArchive& ar) override;

protected:
    std::wstring message_;
};

// The name an error class level gives ccArchive::UnknownVersion: its stored
// name without the leading "class ".
constexpr const char* ccExceptionLevelName(const char* storedName)
{
    const char* p = storedName;
    const char* prefix = "class ";
    while (*prefix && *p == *prefix) {
        ++p;
        ++prefix;
    }
    return *prefix ? storedName : p;
}

// One class level of an error's archive routine: its version byte (0; a newer
// one names the level, line 0), then Parent's level.
#define cmExceptionArchiveLevel(Name, Parent, StoredName)                                        \
    void archive(ccArchive& ar) override                                                         \
    {                                                                                            \
        if (ccArchiveVisit::begin(this, typeid(Name)))                                           \
            return;                                                                              \
        ccArchiveVersion(ar, 0, ccExceptionLevelName(StoredName), 0);                            \
        Parent::archive(ar);                                                                     \
        ccArchiveVisit::end(this, typeid(Name));                                                 \
    }

// Code, stored name, raise() and factory of a concrete error class. A class
// with fields of its own uses this and writes its archive routine itself.
#define cmExceptionMembers(Name, Code, StoredName)                                               \
public:                                                                                          \
    static constexpr uint32_t kCode = (Code);                                                    \
    static constexpr const char* kStoredName = StoredName;                                       \
    uint32_t code() const override { return kCode; }                                             \
    const char* storedTypeName() const override { return kStoredName; }                          \
    [[noreturn]] void raise() override                                                           \
    {                                                                                            \
        Name copy(*this);                                                                        \
        delete this;                                                                             \
        throw copy;                                                                              \
    }                                                                                            \
    static ccPersistent* cmCreate() { return new (std::nothrow) Name; }

// Members every concrete error class without fields of its own has, its
// archive level included; Parent is the level archived after its version
// byte. Use inside the class body.
#define cmExceptionBody(Name, Parent, Code, StoredName) \
    cmExceptionMembers(Name, Code, StoredName)          \
    cmExceptionArchiveLevel(Name, Parent, StoredName)

// A concrete error class with no fields of its own.
#define cmDeclareException(Name, Base, Code, StoredName) \
    class Name : public Base {                           \
    public:                                              \
        using Base::Base;                                \
        Name() = default;                                \
        cmExceptionBody(Name, Base, Code, StoredName)    \
    }

// The root of an area's errors: catching it catches every error of the area.
// It has no code, but an archive level of its own.
#define cmDeclareErrorFamily(Name, Base, StoredName)                           \
    class Name : public Base {                                                  \
    public:                                                                     \
        using Base::Base;                                                       \
        Name() = default;                                                       \
        const char* storedTypeName() const override { return StoredName; }      \
        cmExceptionArchiveLevel(Name, Base, StoredName)                         \
    }

cmDeclareException(ccInvariantFailure, ccException, 0x10000001u, "class ccInvariantFailure");
cmDeclareException(ccBadPointer, ccException, 0x10000008u, "class ccBadPointer");
cmDeclareException(ccUnsupportedHW, ccException, 0x1000000Au, "class ccUnsupportedHW");

// A status that no registered thrower recognised.
class ccUnknownError : public ccExceptionWithString {
public:
    ccUnknownError() = default;
    explicit ccUnknownError(int32_t status);
    // The message is not archived: the level archives ccException directly,
    // and a loaded error has an empty message.
    cmExceptionBody(ccUnknownError, ccException, 0x10000004u, "class ccUnknownError")
};

// Decimal text of a signed 32-bit value, zero-padded after the sign to width.
std::wstring ccFormatDecimal(int32_t value, int width);
// "0x" and upper-case hex digits, zero-padded after the prefix to width.
std::wstring ccFormatHex(uint64_t value, int width);
