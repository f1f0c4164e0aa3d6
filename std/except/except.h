// The library's exception hierarchy.
//
// Every error class is nested in the class or area that raises it, answers a
// code of the form 0x1000xxxx, prints its message to a wide stream and names
// itself by its stored type name. Error classes are declared with
// cmDeclareException (or cmExceptionBody for classes with fields of their
// own), which supplies the code, the stored name, raise() and the factory
// that the persistent-type registry uses to re-create archived errors.
#pragma once
#include <cstdint>
#include <new>
#include <ostream>
#include <string>

#include "std/persistent.h"

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

protected:
    std::wstring message_;
};

// Members every concrete error class has. Use inside the class body.
#define cmExceptionBody(Name, Code, StoredName)                                                  \
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

// A concrete error class with no fields of its own.
#define cmDeclareException(Name, Base, Code, StoredName) \
    class Name : public Base {                           \
    public:                                              \
        using Base::Base;                                \
        Name() = default;                                \
        cmExceptionBody(Name, Code, StoredName)          \
    }

// The root of an area's errors: catching it catches every error of the area.
#define cmDeclareErrorFamily(Name, Base, StoredName)                           \
    class Name : public Base {                                                  \
    public:                                                                     \
        using Base::Base;                                                       \
        Name() = default;                                                       \
        const char* storedTypeName() const override { return StoredName; }      \
    }

cmDeclareException(ccInvariantFailure, ccException, 0x10000001u, "class ccInvariantFailure");
cmDeclareException(ccBadPointer, ccException, 0x10000008u, "class ccBadPointer");
cmDeclareException(ccUnsupportedHW, ccException, 0x1000000Au, "class ccUnsupportedHW");

// A status that no registered thrower recognised.
class ccUnknownError : public ccExceptionWithString {
public:
    ccUnknownError() = default;
    explicit ccUnknownError(int32_t status);
    cmExceptionBody(ccUnknownError, 0x10000004u, "class ccUnknownError")
};

// Decimal text of a signed 32-bit value, zero-padded after the sign to width.
std::wstring ccFormatDecimal(int32_t value, int width);
// "0x" and upper-case hex digits, zero-padded after the prefix to width.
std::wstring ccFormatHex(uint64_t value, int width);

// Reading form ("class ccPelRoot<wchar_t>") to writing form ("ccPelRoot<unsigned short>").
std::string ccCanonicalTypeName(const std::string& compilerName);
// Writing form back to reading form.
std::string ccCompilerTypeName(const std::string& canonicalName);
